// Damaged MIDI files made deterministically from good ones: each kind of damage a file picks up
// on the way (cut off, bit rot, wrong chunk sizes, ...) in every kind of place.
#pragma once
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "MidiFiles.h"

namespace kvtest {

struct Mutant {
  std::string name;  // "m007-huge-delta.mid": number, kind, extension
  std::string kind;
  std::string bytes;
};

inline const std::vector<std::string>& MutationKinds() {
  static const std::vector<std::string> kinds = {
      "truncated",      "bit-flipped",   "length-ffffffff", "length-7fffffff", "length-beyond",
      "huge-delta",     "running-status", "empty-tracks",   "rmid-bad-size",   "header-values",
      "endless-number", "huge-sysex",     "huge-title",     "garbage"};
  return kinds;
}

namespace mutants_detail {

inline void Put32Be(std::string& s, size_t at, uint32_t v) { s.replace(at, 4, smf::Be(v, 4)); }
inline void Put32Le(std::string& s, size_t at, uint32_t v) { s.replace(at, 4, smf::Le(v, 4)); }
inline uint32_t Get32Be(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | uint8_t(s[at + i]);
  return v;
}
// Offsets of every "MTrk" chunk id.
inline std::vector<size_t> Tracks(const std::string& s) {
  std::vector<size_t> at;
  for (size_t p = s.find("MTrk"); p != std::string::npos; p = s.find("MTrk", p + 4)) at.push_back(p);
  return at;
}
// One of the chunk length fields: the header's or a track's.
inline size_t SomeLengthField(const std::string& s, std::mt19937& rng) {
  std::vector<size_t> fields{s.find("MThd") + 4};
  for (size_t t : Tracks(s)) fields.push_back(t + 4);
  return fields[rng() % fields.size()];
}
// Inserts bytes at the start of a track's events and fixes its length field.
inline std::string IntoTrack(std::string s, size_t track, const std::string& bytes) {
  s.insert(track + 8, bytes);
  Put32Be(s, track + 4, Get32Be(s, track + 4) + uint32_t(bytes.size()));
  return s;
}

}  // namespace mutants_detail

// Damage `kind` (an index into MutationKinds()) applied to the bare MIDI file `good`; `seed`
// picks where. The same arguments always give the same bytes.
inline std::string Mutate(const std::string& good, size_t kind, uint32_t seed) {
  using namespace mutants_detail;
  std::mt19937 rng(seed);
  std::string s = good;
  const std::vector<size_t> tracks = Tracks(s);
  const size_t track = tracks.empty() ? 0 : tracks[rng() % tracks.size()];
  switch (kind) {
    case 0:  // cut off anywhere, from inside the header to the last byte
      s.resize(rng() % s.size());
      break;
    case 1:  // a few flipped bits
      for (int n = 1 + int(rng() % 8); n > 0; --n) s[rng() % s.size()] ^= char(1 << (rng() % 8));
      break;
    case 2:
      Put32Be(s, SomeLengthField(s, rng), 0xFFFFFFFFu);
      break;
    case 3:
      Put32Be(s, SomeLengthField(s, rng), 0x7FFFFFFFu);
      break;
    case 4: {  // a track length reaching past the end of the file
      const size_t at = track + 4;
      Put32Be(s, at, uint32_t(s.size() - at + 1 + rng() % 4096));
      break;
    }
    case 5:  // the largest delta-time a file can hold before the first event
      s = IntoTrack(s, track, "\xFF\xFF\xFF\x7F\x90\x3C\x40");
      break;
    case 6:  // data bytes with no status byte before them
      s = IntoTrack(s, track, std::string("\x00\x3C\x40\x00\x3C\x00", 6));
      break;
    case 7: {  // every track emptied; the header may promise many
      std::string e = s.substr(0, tracks.empty() ? s.size() : tracks.front());
      for (size_t i = 0; i < tracks.size(); ++i) e += std::string("MTrk\0\0\0\0", 8);
      if (rng() % 2) e[e.find("MThd") + 10] = char(0xFF), e[e.find("MThd") + 11] = char(0xFF);
      s = e;
      break;
    }
    case 8: {  // RIFF wrapper with sizes that do not fit
      s = smf::Rmid(s);
      const uint32_t sizes[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0u, 3u, uint32_t(s.size() * 2)};
      Put32Le(s, rng() % 2 ? 4 : 16, sizes[rng() % 5]);
      break;
    }
    case 9: {  // header values nobody plays: division 0, format 0xFFFF, no tracks, SMPTE -128
      const size_t h = s.find("MThd");
      const size_t field = h + 8 + 2 * (rng() % 3);
      const uint16_t values[] = {0, 0xFFFF, 0x8000, 0xE200, 0x7FFF};
      const uint16_t v = values[rng() % 5];
      s[field] = char(v >> 8), s[field + 1] = char(v & 0xFF);
      break;
    }
    case 10: {  // a delta-time whose continuation bit never ends, to the end of the track
      std::string run(16 + rng() % 64, char(0x80 | (rng() % 0x80)));
      s = IntoTrack(s, track, run);
      break;
    }
    case 11:  // a system-exclusive message that claims 256 MB
      s = IntoTrack(s, track, std::string("\x00\xF0\xFF\xFF\xFF\x7F\x7E\x7F", 8));
      break;
    case 12:  // a title event that claims 256 MB
      s = IntoTrack(s, track, std::string("\x00\xFF\x03\xFF\xFF\xFF\x7F" "Title", 12));
      break;
    default: {  // random bytes around the header id
      std::string g(64 + rng() % 512, '\0');
      for (char& c : g) c = char(rng());
      g.replace(rng() % (g.size() - 4), 4, "MThd");
      s = g;
      break;
    }
  }
  return s;
}

// `count` damaged files, going round the kinds and the good files in turn.
inline std::vector<Mutant> MakeMutants(const std::vector<std::string>& goods, size_t count) {
  std::vector<Mutant> out;
  const auto& kinds = MutationKinds();
  for (size_t i = 0; i < count; ++i) {
    const size_t kind = i % kinds.size();
    const std::string& good = goods[(i / kinds.size() + i) % goods.size()];
    Mutant m;
    m.kind = kinds[kind];
    m.bytes = Mutate(good, kind, uint32_t(0x4B56 + 7919 * i));
    char num[8];
    std::snprintf(num, sizeof num, "m%03zu-", i);
    m.name = num + m.kind + (kind == 8 ? ".rmi" : ".mid");
    out.push_back(std::move(m));
  }
  return out;
}

}  // namespace kvtest
