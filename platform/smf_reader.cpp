#include "smf_reader.h"

#include "byte_order.h"
#include "owned.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace kv::media {
namespace {

constexpr int kDefaultTempo = 500000;  // microseconds per quarter note (120 bpm)
constexpr int64_t kMaxSongSeconds = 24 * 3600;  // a damaged delta time must not make a day-long song
// No song holds an hour without a single event: such a gap is a damaged delta time, and the
// song ends before it rather than turning into hours of silence to record.
constexpr int64_t kMaxSilenceSeconds = 3600;

struct TempoChange {
  int64_t tick;
  int tempo;
};

// Loop marks of all tracks, in ticks (-1: not seen); the earliest of each kind counts.
struct LoopTicks {
  int64_t controller = -1;  // controller 111
  int64_t start = -1;       // a "loopStart" marker or text
  int64_t end = -1;         // a "loopEnd" marker or text
  static void Keep(int64_t& at, int64_t tick) {
    if (at < 0 || tick < at) at = tick;
  }
};

// Marker and text events name the loop's ends in any letter case, spaces around ignored.
bool NamesMark(const uint8_t* p, uint32_t len, const char* name) {
  while (len > 0 && p[0] == ' ') ++p, --len;
  while (len > 0 && p[len - 1] == ' ') --len;
  if (len != std::strlen(name)) return false;
  for (uint32_t i = 0; i < len; ++i)
    if (std::tolower(p[i]) != std::tolower(static_cast<unsigned char>(name[i]))) return false;
  return true;
}

// Variable-length quantity of at most four bytes; false when damaged or cut off.
bool ReadVlq(const uint8_t*& p, const uint8_t* end, uint32_t& value) {
  value = 0;
  for (int i = 0; i < 4; ++i) {
    if (p >= end) return false;
    uint8_t b = *p++;
    value = (value << 7) | (b & 0x7F);
    if (!(b & 0x80)) return true;
  }
  return false;
}

int DataBytesOf(uint8_t status) {
  switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
      return 1;
    default:
      return 2;
  }
}

// Reads one track chunk body into `out` with the tick in `units`; returns the tick at which
// the track ends.
int64_t ReadTrack(const uint8_t* p, const uint8_t* end, int64_t offset, std::vector<SmfEvent>& out,
                  std::vector<TempoChange>& tempi, std::vector<uint8_t>& sysex, LoopTicks& loop) {
  int64_t tick = offset;
  uint8_t running = 0;
  while (p < end) {
    uint32_t delta;
    if (!ReadVlq(p, end, delta)) break;
    tick += delta;
    if (p >= end) break;
    uint8_t status = *p;
    if (status < 0x80) {
      if (!running) {  // data without any status: skip the stray byte
        ++p;
        continue;
      }
      status = running;
    } else {
      ++p;
    }
    if (status < 0xF0) {
      running = status;
      int n = DataBytesOf(status);
      if (end - p < n) break;
      if (p[0] >= 0x80 || (n == 2 && p[1] >= 0x80)) break;  // damaged message: the track ends here
      SmfEvent e;
      e.units = tick;
      e.status = status;
      e.data1 = p[0];
      e.data2 = n == 2 ? p[1] : 0;
      p += n;
      if ((status & 0xF0) == 0xB0 && e.data1 == 111) LoopTicks::Keep(loop.controller, tick);
      out.push_back(e);
    } else if (status == 0xF0 || status == 0xF7) {
      uint32_t len;
      if (!ReadVlq(p, end, len)) break;
      len = uint32_t(std::min<int64_t>(len, end - p));
      if (status == 0xF0) {
        uint32_t body = len;
        if (body > 0 && p[body - 1] == 0xF7) --body;
        SmfEvent e;
        e.units = tick;
        e.status = 0xF0;
        const uint8_t prefix[4] = {uint8_t(body), uint8_t(body >> 8), uint8_t(body >> 16), uint8_t(body >> 24)};
        sysex.insert(sysex.end(), prefix, prefix + 4);
        e.sysexOffset = uint32_t(sysex.size());
        sysex.insert(sysex.end(), p, p + body);
        out.push_back(e);
      }
      // F7 escape packets carry continuation or real-time bytes; the synth does not need them.
      p += len;
    } else if (status == 0xFF) {
      if (p >= end) break;
      uint8_t type = *p++;
      uint32_t len;
      if (!ReadVlq(p, end, len)) break;
      len = uint32_t(std::min<int64_t>(len, end - p));
      if (type == 0x51 && len >= 3) {
        int tempo = (p[0] << 16) | (p[1] << 8) | p[2];
        tempi.push_back({tick, std::max(tempo, 1)});
      } else if (type == 0x01 || type == 0x06) {
        if (NamesMark(p, len, "loopStart")) LoopTicks::Keep(loop.start, tick);
        if (NamesMark(p, len, "loopEnd")) LoopTicks::Keep(loop.end, tick);
      }
      p += len;
      if (type == 0x2F) return tick;
    } else {
      // System common / real-time bytes do not belong in a file; skip them with their data.
      running = 0;
      int n = (status == 0xF2) ? 2 : (status == 0xF1 || status == 0xF3) ? 1 : 0;
      p += std::min<int64_t>(n, end - p);
    }
  }
  return tick;
}

}  // namespace

size_t Song::EventIndexAtMs(int64_t ms) const {
  const int64_t u = UnitsAtMs(ms);
  auto it = std::lower_bound(events.begin(), events.end(), u,
                             [](const SmfEvent& e, int64_t v) { return e.units < v; });
  return size_t(it - events.begin());
}

SysexData Song::SysexOf(const SmfEvent& e) const {
  if (e.status != 0xF0 || e.sysexOffset < 4 || e.sysexOffset > sysex.size()) return {};
  const uint8_t* p = sysex.data() + e.sysexOffset;
  const uint32_t len = Le32(p - 4);
  if (len > sysex.size() - e.sysexOffset) return {};
  return {p, len};
}

bool ParseSmf(const uint8_t* data, size_t size, Song& song, std::string& error) {
  song = Song{};
  const uint8_t* begin = data;
  const uint8_t* end = data + size;
  // RIFF RMID: the MIDI file is the "data" chunk.
  if (size >= 12 && !std::memcmp(data, "RIFF", 4) && !std::memcmp(data + 8, "RMID", 4)) {
    const uint8_t* p = data + 12;
    while (end - p >= 8) {
      uint32_t len = Le32(p + 4);
      if (!std::memcmp(p, "data", 4)) {
        begin = p + 8;
        end = begin + std::min<int64_t>(len, end - begin);
        break;
      }
      int64_t step = 8 + int64_t(len) + (len & 1);
      if (step > end - p) break;
      p += step;
    }
  }
  const uint8_t* h = nullptr;
  for (const uint8_t* p = begin; end - p >= 4; ++p) {
    if (!std::memcmp(p, "MThd", 4)) {
      h = p;
      break;
    }
  }
  if (!h) {
    error = "no MIDI header (MThd)";
    return false;
  }
  if (end - h < 14) {
    error = "MIDI header cut off";
    return false;
  }
  uint32_t hlen = Be32(h + 4);
  song.format = Be16(h + 8);
  int declaredTracks = Be16(h + 10);
  song.division = Be16(h + 12);

  // Events go straight into the song, ticks in `units` until the tempo map is applied. Every
  // event takes at least two bytes of a track, which bounds the count: the reserve costs
  // address space only (pages are touched as events arrive), so the list is never copied.
  auto& events = song.events;
  events.reserve(size_t(std::min<int64_t>((end - h) / 2 + 1, int64_t(1) << 22)));
  std::vector<TempoChange> tempi;
  LoopTicks loop;
  int64_t songEnd = 0;
  int64_t offset = 0;
  const uint8_t* p = h + 8 + std::min<int64_t>(std::max<uint32_t>(hlen, 6), end - h - 8);
  while (end - p >= 8 && song.tracks < std::max(declaredTracks, 1) * 4 + 16) {
    uint32_t len = Be32(p + 4);
    const uint8_t* body = p + 8;
    const uint8_t* bodyEnd = body + std::min<int64_t>(len, end - body);
    if (!std::memcmp(p, "MTrk", 4)) {
      if (song.format == 2 && song.tracks > 0) tempi.push_back({offset, kDefaultTempo});
      int64_t trackEnd = ReadTrack(body, bodyEnd, song.format == 2 ? offset : 0, events, tempi, song.sysex, loop);
      songEnd = std::max(songEnd, trackEnd);
      if (song.format == 2) offset = trackEnd;  // format 2: the tracks play one after another
      ++song.tracks;
    }
    p = bodyEnd;
  }

  // Tracks are each in time order; merging them keeps file order for equal times.
  auto byTick = [](const SmfEvent& a, const SmfEvent& b) { return a.units < b.units; };
  if (!std::is_sorted(events.begin(), events.end(), byTick)) std::stable_sort(events.begin(), events.end(), byTick);
  std::stable_sort(tempi.begin(), tempi.end(),
                   [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });

  // Units per tick: PPQ files count microseconds x ticks-per-quarter; SMPTE files count frames.
  bool smpte = (song.division & 0x8000) != 0;
  int64_t unitsPerTick = 1;
  if (smpte) {
    int fps = -int(int8_t(song.division >> 8));
    int tpf = std::max(song.division & 0xFF, 1);
    if (fps == 29) {  // 30 drop-frame runs at 29.97 frames per second
      unitsPerTick = 1001;
      song.unitsPerSecond = int64_t(30000) * tpf;
    } else {
      unitsPerTick = 1000;
      song.unitsPerSecond = int64_t(std::max(fps, 1)) * 1000 * tpf;
    }
  } else {
    int ppq = song.division ? song.division : 96;
    song.unitsPerSecond = int64_t(1000000) * ppq;
  }

  // Walk the tempo map once, converting every tick to units.
  struct Walker {
    const std::vector<TempoChange>& tempi;
    bool smpte;
    int64_t unitsPerTick;
    size_t ti = 0;
    int64_t segTick = 0;
    __int128 segUnits = 0;
    int tempo = kDefaultTempo;
    __int128 operator()(int64_t tick) {  // ticks must not decrease from call to call
      if (smpte) return __int128(tick) * unitsPerTick;
      while (ti < tempi.size() && tempi[ti].tick <= tick) {
        segUnits += __int128(tempi[ti].tick - segTick) * tempo;
        segTick = tempi[ti].tick;
        tempo = tempi[ti].tempo;
        ++ti;
      }
      return segUnits + __int128(tick - segTick) * tempo;
    }
  };
  Walker unitsAt{tempi, smpte, unitsPerTick};
  const int64_t maxUnits = kMaxSongSeconds * song.unitsPerSecond;
  const int64_t lastTick = std::max(songEnd, events.empty() ? int64_t(0) : events.back().units);
  size_t kept = 0;
  for (; kept < events.size(); ++kept) {
    const __int128 u = unitsAt(events[kept].units);
    if (u > maxUnits) break;
    events[kept].units = int64_t(u);
  }
  const int64_t maxGap = kMaxSilenceSeconds * song.unitsPerSecond;
  int64_t previous = 0;
  for (size_t i = 0; i < kept; ++i) {
    if (events[i].units - previous > maxGap) {
      kept = i;
      break;
    }
    previous = events[i].units;
  }
  events.resize(kept);
  song.endUnits = int64_t(std::min<__int128>(unitsAt(lastTick), maxUnits));
  if (song.endUnits - previous > maxGap) song.endUnits = previous;

  // The loop: a loopStart marker, else controller 111, up to a later loopEnd marker or the end.
  const int64_t startTick = loop.start >= 0 ? loop.start : loop.controller;
  if (startTick >= 0) {
    Walker marks{tempi, smpte, unitsPerTick};
    const int64_t start = int64_t(std::min<__int128>(marks(startTick), maxUnits));
    int64_t end = song.endUnits;
    if (loop.end > startTick) {
      end = int64_t(std::min<__int128>(marks(loop.end), song.endUnits));
      song.loopEndMarked = end < song.endUnits;
    }
    if (start < end) {
      song.loopStartUnits = start;
      song.loopEndUnits = end;
    } else {
      song.loopEndMarked = false;
    }
  }
  return true;
}

void ArrangeLoops(Song& song, int loops, int64_t fadeMs) {
  const int64_t start = song.loopStartUnits, end = song.loopEndUnits, length = end - start;
  if (loops <= 0 || start < 0 || length <= 0) return;
  const __int128 fadeStart = __int128(end) + __int128(loops - 1) * length;
  const __int128 fadeEnd = fadeStart + __int128(std::max<int64_t>(fadeMs, 0)) * song.unitsPerSecond / 1000;
  if (fadeEnd > __int128(kMaxSongSeconds) * song.unitsPerSecond) return;
  // A pass plays the events before the loop's end; at the end itself only those that close
  // notes, unless the loop ends with the song, where everything before the jump belongs to it.
  auto inPass = [&](const SmfEvent& e) {
    if (e.units != end) return e.units < end;
    const bool noteOff = (e.status & 0xF0) == 0x80 || ((e.status & 0xF0) == 0x90 && e.data2 == 0);
    return !song.loopEndMarked || noteOff;
  };
  std::vector<SmfEvent> body;  // the loop's events, in order
  size_t firstPass = 0;        // events of the intro and the first pass
  for (const SmfEvent& e : song.events) {
    if (e.units > end) break;
    if (!inPass(e)) continue;
    ++firstPass;
    if (e.units >= start) body.push_back(e);
  }
  // Each later pass plays the body shifted by whole loop lengths, up to the end of the fade
  // (the events that close the last pass at that very moment included).
  auto plays = [&](const SmfEvent& e, int64_t shift) {
    const __int128 at = __int128(e.units) + shift;
    return at < fadeEnd || (at == fadeEnd && e.units == end);
  };
  size_t total = firstPass;
  int64_t passes = 1;
  for (;; ++passes) {
    const int64_t shift = passes * length;
    if (body.empty() || __int128(start) + shift > fadeEnd) break;
    size_t n = 0;
    while (n < body.size() && plays(body[n], shift)) ++n;
    if (n == 0) break;
    total += n;
    if (total > (size_t(1) << 24)) return;
  }
  std::vector<SmfEvent> out;
  out.reserve(total);
  for (const SmfEvent& e : song.events) {
    if (e.units > end) break;
    if (inPass(e)) out.push_back(e);
  }
  for (int64_t k = 1; k < passes; ++k) {
    for (SmfEvent e : body) {
      if (!plays(e, k * length)) break;
      e.units += k * length;
      out.push_back(e);
    }
  }
  song.events = std::move(out);
  song.fadeStartUnits = fadeEnd > fadeStart ? int64_t(fadeStart) : -1;
  song.endUnits = int64_t(fadeEnd);
}

RmidParts ReadRmidParts(const std::string& path) {
  RmidParts parts;
  kv::UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) return parts;
  FILE* f = file.get();
  uint8_t head[12];
  if (std::fread(head, 1, 12, f) != 12 || std::memcmp(head, "RIFF", 4) || std::memcmp(head + 8, "RMID", 4))
    return parts;
  parts.rmid = true;
  // Chunks follow one another to the end of the file (the RIFF size of such files is often
  // wrong, so the file's own end counts); a chunk of odd size is followed by a pad byte.
  uint64_t at = 12;
  uint8_t h[12];
  while (std::fseek(f, long(at), SEEK_SET) == 0 && std::fread(h, 1, 8, f) == 8) {
    const uint32_t len = Le32(h + 4);
    if (!std::memcmp(h, "RIFF", 4) && std::fread(h + 8, 1, 4, f) == 4 && !parts.bankSize && !parts.dls) {
      if (!std::memcmp(h + 8, "sfbk", 4)) {
        parts.bankOffset = at;
        parts.bankSize = 8 + uint64_t(len);
      } else if (!std::memcmp(h + 8, "DLS ", 4)) {
        parts.dls = true;
      }
    } else if (!std::memcmp(h, "LIST", 4) && len >= 4 && len <= (1u << 20)) {
      std::vector<uint8_t> list(len);
      if (std::fread(list.data(), 1, len, f) == len && !std::memcmp(list.data(), "INFO", 4)) {
        for (size_t p = 4; p + 8 <= list.size();) {
          const uint32_t n = Le32(&list[p + 4]);
          if (n > list.size() - p - 8) break;
          const uint8_t* d = &list[p + 8];
          if (!std::memcmp(&list[p], "INAM", 4)) {
            uint32_t k = n;
            while (k > 0 && d[k - 1] == 0) --k;
            parts.title.assign(reinterpret_cast<const char*>(d), k);
          } else if (!std::memcmp(&list[p], "DBNK", 4) && n >= 2) {
            const int shift = d[0] | (d[1] << 8);
            if (shift <= 127) parts.bankShift = shift;
          }
          p += 8 + n + (n & 1);
        }
      }
    }
    at += 8 + uint64_t(len) + (len & 1);
  }
  return parts;
}

bool LoadSmf(const std::string& path, Song& song, std::string& error) {
  kv::UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  FILE* f = file.get();
  std::vector<uint8_t> bytes;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    bytes.insert(bytes.end(), buf, buf + n);
    if (bytes.size() > (size_t(256) << 20)) break;  // no MIDI file is this large
  }
  return ParseSmf(bytes.data(), bytes.size(), song, error);
}

}  // namespace kv::media
