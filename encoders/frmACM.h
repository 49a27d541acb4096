// The ACM window: encodes G().WaveFileName into an MP3 beside it through VBMP3.dll, polling the
// library every 500 ms. Loading it runs the whole encode; it is hidden when the run is over.
#pragma once
#include "encoders/ProgressWindow.h"

class QProgressBar;
class QTimer;

class frmACM : public kv::ProgressWindow {
  Q_OBJECT
 public:
  explicit frmACM(QWidget* owner = nullptr);
  void Form_Load();
  void tmr1_Timer();
  QProgressBar* pbr1 = nullptr;
  QTimer* tmr1 = nullptr;

 protected:
  // A close request ends the wait at once; the library is released whether or not it finished.
  void closeEvent(QCloseEvent* e) override;

 private:
  void Run();
  int32_t lngTotal = 0;
};
