// sndvol32.exe: volume control; "sndvol32.exe /R" opens the recording control.
#include <QApplication>

#include "ControlWindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("sndvol32"));
  using kv::sndvol::Mode;
  Mode mode = kv::sndvol::WantsRecordingControl(app.arguments().mid(1)) ? Mode::Recording : Mode::Volume;
  kv::sndvol::ControlWindow w(mode);
  w.show();
  return app.exec();
}
