// The encoders' progress windows (frmGoGo, frmACM, frmVBWMA): views of a running encoder with
// a bar, a percentage label and a caption naming the file. The close box asks the encoder to
// stop; the window hides when the encoder has finished.
#pragma once
#include <QWidget>

class QLabel;
class QProgressBar;

namespace kv {

class EncoderBackend;

class ProgressWindow : public QWidget {
  Q_OBJECT
 public:
  // The view of encoder (which has a ViewCaption) on waveFileName, shown at once.
  ProgressWindow(EncoderBackend* encoder, const QString& waveFileName, QWidget* owner);
  QProgressBar* bar() const { return m_bar; }
  QLabel* lblPer = nullptr;

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  EncoderBackend* m_encoder;
  QProgressBar* m_bar = nullptr;
};

}  // namespace kv
