#include "exclusive_keys.h"
#include "fuzz_targets.h"

namespace kvfuzz {

// A SoundFont as a song brings it (beside the song or inside an RMID), read from a file and,
// and the same bytes taken as a hydra (the preset chunks alone).
int Sf2Keys(const uint8_t* data, size_t size) {
  auto check = [](const kv::media::KeyGroups& g) {
    if (!g.known) {
      for (uint8_t f : g.first)
        if (f != 0) Fail("an unread SoundFont with key groups");
      return;
    }
    for (int k = 0; k < 128; ++k) {
      const int f = g.first[size_t(k)];
      if (f > k) Fail("a group's first key above one of its keys");
      if (g.first[size_t(f)] != f) Fail("a group's first key in another group");
    }
  };
  const std::string path = ScratchDir() + "/font.sf2";
  if (!WriteBytes(path, data, size)) Fail("scratch file not written");
  const kv::media::KeyGroups fromFile = kv::media::ExclusiveKeyGroups(path);
  check(fromFile);
  const kv::media::KeyGroups fromBytes = kv::media::ExclusiveKeyGroups(data, size);
  check(fromBytes);
  check(kv::media::Join(fromFile, fromBytes));
  return 0;
}

}  // namespace kvfuzz
