// The VBWAV2WMA window: encodes G().WaveFileName into a WMA beside it (64 kbit/s, 44100 Hz,
// stereo, the file's name as title), polling the library every 300 ms, then deletes the WAVE.
// Loading it runs the whole encode; it is hidden when the run is over.
#pragma once
#include "encoders/ProgressWindow.h"

class QProgressBar;
class QTimer;

class frmVBWMA : public kv::ProgressWindow {
  Q_OBJECT
 public:
  explicit frmVBWMA(QWidget* owner = nullptr);
  void Form_Load();
  void Timer1_Timer();
  QProgressBar* ProgressBar1 = nullptr;
  QTimer* Timer1 = nullptr;

 protected:
  // The library cannot be stopped: a close request waits for the encode to end.
  void closeEvent(QCloseEvent* e) override;

 private:
  void Run();
  int32_t lngTotal = 0;
};
