// Building Standard MIDI Files (and their RIFF .rmi wrapping) for generated test songs.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace smf {

// Integers as bytes: big-endian in MIDI files, little-endian in RIFF.
inline std::string Be(uint32_t v, int bytes) {
  std::string s;
  for (int i = bytes - 1; i >= 0; --i) s.push_back(char((v >> (8 * i)) & 0xFF));
  return s;
}
inline std::string Le(uint32_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s.push_back(char((v >> (8 * i)) & 0xFF));
  return s;
}

inline std::string Vlq(uint32_t v) {
  std::string b(1, char(v & 0x7F));
  while (v >>= 7) b.insert(b.begin(), char(0x80 | (v & 0x7F)));
  return b;
}

// One track's events; ticks are absolute and must not decrease.
struct Track {
  std::string bytes;
  uint32_t last = 0;
  void Event(uint32_t tick, std::initializer_list<int> b) {
    bytes += Vlq(tick - last);
    last = tick;
    for (int x : b) bytes.push_back(char(x));
  }
  void Tempo(uint32_t tick, int us) { Event(tick, {0xFF, 0x51, 3, (us >> 16) & 0xFF, (us >> 8) & 0xFF, us & 0xFF}); }
  // A meta event with text: 1 text, 3 track name, 6 marker.
  void Meta(uint32_t tick, int type, const std::string& text) {
    Event(tick, {0xFF, type});
    bytes += Vlq(uint32_t(text.size())) + text;
  }
  void End(uint32_t tick) { Event(tick, {0xFF, 0x2F, 0}); }
};

inline std::string Chunk(const char* id, const std::string& body) {
  return std::string(id, 4) + Be(uint32_t(body.size()), 4) + body;
}

inline std::string File(int format, int division, const std::vector<Track>& tracks) {
  std::string s = Chunk("MThd", Be(format, 2) + Be(uint32_t(tracks.size()), 2) + Be(division, 2));
  for (auto& t : tracks) s += Chunk("MTrk", t.bytes);
  return s;
}

// A song of `beats` half-second notes (division 96 at the default 120 bpm).
inline std::string Notes(int beats) {
  Track t;
  for (int b = 0; b < beats; ++b) {
    t.Event(uint32_t(b * 96), {0x90, 60 + b % 12, 100});
    t.Event(uint32_t(b * 96 + 90), {0x80, 60 + b % 12, 0});
  }
  t.End(uint32_t(beats * 96));
  return File(0, 96, {t});
}

// A RIFF chunk; a body of odd length is followed by a pad byte.
inline std::string RiffChunk(const char* id, const std::string& body) {
  return std::string(id, 4) + Le(uint32_t(body.size()), 4) + body + (body.size() % 2 ? std::string(1, '\0') : "");
}

// The RIFF wrapper of an .rmi file around bare MIDI data, with the chunks `after` it (a LIST
// INFO chunk, an embedded sound bank).
inline std::string Rmid(const std::string& file, const std::string& after = "") {
  const std::string data = RiffChunk("data", file) + after;
  return "RIFF" + Le(uint32_t(4 + data.size()), 4) + "RMID" + data;
}

}  // namespace smf
