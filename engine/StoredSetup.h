// What a run needs from the settings file, read without any window: the encoders, the folders
// and the wave filter. The results go into the program-wide state (Globals).
#pragma once
#include <QString>

class inifile_IO;

namespace kv {

// The encoder choice, paths and options, and which encoders are installed (the program's
// folder, then the system folder, then the Windows folder for GoGo).
void DetectEncoders(const inifile_IO& settings, const QString& systemDir, const QString& windowsDir);
// The output and MIDI folders; an unusable one falls back to the program's folder.
void ReadFolders(const inifile_IO& settings);
// The wave filter: empty when none is set or the file set is not waveflt.exe.
void ReadWavefltPath(const inifile_IO& settings);

// An answer to the delay prompt: its seconds (not a number: 0; negative: the amount; at most
// 3276.7) and the count of tenths the delay waits.
struct DelayAnswer {
  float seconds = 0;
  short tenths = 0;
};
DelayAnswer ParseDelayAnswer(const QString& answer);
// The stored MIDI output device's position in a list of count devices (0, the mapper, when
// the stored one is out of range).
int StoredDeviceIndex(const inifile_IO& settings, int count);

}  // namespace kv
