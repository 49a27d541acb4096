// Which SoundFont a song plays with: its own when it brings one, the configured one otherwise.
// The window, korvessa convert and korvessa info all ask this one function, so they agree.
#pragma once
#include <cstdint>
#include <string>

#include "syssetup.h"

namespace kv {

struct SongSoundFont {
  enum class Kind { Configured, Embedded, Beside, Folder };
  Kind kind = Kind::Configured;
  // The SoundFont file; for Embedded the RMID file that carries it. Empty when the song has no
  // own SoundFont and none is configured or installed.
  std::string path;
  std::string configured;  // the configured SoundFont: the fallback under the song's own
  uint64_t offset = 0;     // Embedded: the SoundFont's RIFF chunk inside the file
  uint64_t size = 0;
  int bankShift = 0;       // Embedded: the bank offset of LIST INFO DBNK (default 1)
  std::string notice;      // an own bank of the song's that cannot be used, and why

  bool Own() const { return kind != Kind::Configured; }
  // What korvessa info and the manifest name: the file, or the RMID with "(embedded)".
  std::string Name() const;
};

// In this order: the SoundFont inside an RMID file (RIFF sfbk after the MIDI data); song.sf2 or
// song.sf3 beside song.mid; <folder>.sf2 or .sf3 in the song's folder <folder>; the configured
// SoundFont (ResolveSoundFont). Names are matched without regard to letter case; a file that is
// not a SoundFont is passed over with a notice, as is an embedded DLS bank.
SongSoundFont ChooseSoundFont(const std::string& songPath, const SystemSetup& setup);

}  // namespace kv
