// sndvol32.exe's window: the volume control (output volume of the built-in synth) or, with
// "/R", the recording control (recording source, fast recording, SoundFont, how songs with a
// marked loop play: loop count and fade-out). Every change is
// written to the system setup at once, touching only the value that changed.
#pragma once
#include <QString>
#include <QWidget>
#include <functional>

#include "syssetup.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;

namespace kv::sndvol {

enum class Mode { Volume, Recording };

// True when the arguments ask for the recording control ("/R", letter case ignored).
bool WantsRecordingControl(const QStringList& args);

class ControlWindow : public QWidget {
  Q_OBJECT
 public:
  explicit ControlWindow(Mode mode, QWidget* parent = nullptr);

  Mode mode() const { return mode_; }
  // Takes a SoundFont path as if chosen with 参照... (also used by the file dialog).
  void setSoundFontPath(const QString& path);
  // The last save failure ("" while every save worked).
  QString saveError() const { return saveError_; }

 private:
  void buildVolume(const SystemSetup& s);
  void buildRecording(const SystemSetup& s);
  void saveChange(const std::function<void(SystemSetup&)>& change);
  void browseSoundFont();
  void refreshSoundFontNote();

  Mode mode_;
  QString saveError_;
  QSlider* volume_ = nullptr;
  QLabel* volumeValue_ = nullptr;
  QComboBox* source_ = nullptr;
  QCheckBox* fast_ = nullptr;
  QDoubleSpinBox* tail_ = nullptr;
  QLineEdit* soundFont_ = nullptr;
  QLabel* soundFontNote_ = nullptr;
  QSpinBox* loops_ = nullptr;
  QDoubleSpinBox* fade_ = nullptr;
  QSpinBox* lanes_ = nullptr;
  QLabel* status_ = nullptr;
};

}  // namespace kv::sndvol
