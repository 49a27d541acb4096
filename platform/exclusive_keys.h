// Keys that must sound on one synthesizer. A note of an exclusive class (a closed hi-hat)
// silences the voices of its channel in the same class (the open hi-hat still ringing), so a
// channel played by several synthesizers split by key keeps each class on one of them. Read
// from the SoundFont's own zones (generator exclusiveClass, 57), over all its presets: a
// class number joins its keys in every preset, since a channel may change presets mid-song.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kv::media {

// For each key 0..127 the lowest key of its group: keys of a class share one, every other key
// is a group of its own. Null when the SoundFont cannot be read: then no key may be split off.
struct KeyGroups {
  bool known = false;
  std::array<uint8_t, 128> first{};
};

// The SoundFont (SF2 or SF3) at `offset` of `path` (a RIFF sfbk chunk; 0 = the file itself).
KeyGroups ExclusiveKeyGroups(const std::string& path, uint64_t offset = 0);
// The same from the bytes of a pdta list's chunks (after its "pdta" type).
KeyGroups ExclusiveKeyGroups(const unsigned char* hydra, size_t size);
// Keys of both: what either keeps together stays together.
KeyGroups Join(const KeyGroups& a, const KeyGroups& b);

}  // namespace kv::media
