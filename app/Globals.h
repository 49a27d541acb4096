// Program-wide state: the settings (read at start-up, written at shut-down) and what the
// conversion and the encoders share while they run.
#pragma once
#include <QString>

#include "settings/Settings.h"

namespace kv {

struct Globals : Settings {
  QString AppPath;        // executable's folder, no trailing "/"
  QString Quote = QStringLiteral("\"");
  int SampleRate = 48000; // recording format of the selected cboSample entry
  short SampleBits = 16;
};

// The one instance.
Globals& G();

}  // namespace kv
