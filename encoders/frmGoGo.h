// The GoGo window: encodes G().WaveFileName into an MP3 beside it with gogo.dll, frame by frame,
// showing the progress. Loading it runs the whole encode; it is hidden when the run is over.
#pragma once
#include "encoders/ProgressWindow.h"

class QProgressBar;

class frmGoGo : public kv::ProgressWindow {
  Q_OBJECT
 public:
  explicit frmGoGo(QWidget* owner = nullptr);
  void Form_Load();
  QProgressBar* pbr1 = nullptr;
  bool StopRequested() const { return blnStop; }

 protected:
  // A close request does not close: it stops the encode after the frame in progress.
  void closeEvent(QCloseEvent* e) override;

 private:
  void Run();
  bool blnStop = false;
};
