// Standard MIDI File reader of the sequencer: formats 0, 1 and 2, RIFF RMID files, tempo map.
// Times are kept as exact "units" (ticks x microseconds per quarter, or SMPTE ticks) so that
// converting to samples at any rate never accumulates rounding error.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::media {

// 16 bytes: an hour of dense music is a few hundred thousand of these.
struct SmfEvent {
  int64_t units = 0;         // time from the start, in Song::unitsPerSecond per second
  uint32_t sysexOffset = 0;  // sysex: where its length-prefixed data starts in Song::sysex
  uint8_t status = 0;        // 0x80..0xEF channel message, 0xF0 sysex
  uint8_t data1 = 0;
  uint8_t data2 = 0;
};

static_assert(sizeof(SmfEvent) == 16, "events are kept by the hundred thousand");

struct SysexData {
  const uint8_t* data = nullptr;
  uint32_t length = 0;  // without the leading F0 and a trailing F7
};

struct Song {
  int format = 0;
  int tracks = 0;       // track chunks read
  int division = 0;     // the raw division word
  std::vector<SmfEvent> events;  // sorted by time, file order kept for equal times
  std::vector<uint8_t> sysex;    // each message: 4-byte little-endian length, then its bytes
  int64_t endUnits = 0;          // end of the last track (of the arrangement, once looped)
  int64_t unitsPerSecond = 1;
  // The loop the file marks, -1 when none: controller 111 or a loopStart marker opens it, a
  // loopEnd marker or the end of the song closes it.
  int64_t loopStartUnits = -1;
  int64_t loopEndUnits = -1;
  bool loopEndMarked = false;  // closed by a loopEnd marker rather than by the song's end
  // Set by ArrangeLoops: the mix fades out from here to endUnits; -1 without a fade.
  int64_t fadeStartUnits = -1;

  // Sample index (at `rate` Hz) of a time in units, rounded down: exact rational arithmetic.
  int64_t SampleAt(int64_t units, int64_t rate) const {
    return static_cast<int64_t>(__int128(units) * rate / unitsPerSecond);
  }
  int64_t LengthMs() const { return static_cast<int64_t>(__int128(endUnits) * 1000 / unitsPerSecond); }
  // Units of a time in milliseconds.
  int64_t UnitsAtMs(int64_t ms) const { return static_cast<int64_t>(__int128(ms) * unitsPerSecond / 1000); }
  // The bytes of a sysex event; empty for other events or damaged offsets.
  SysexData SysexOf(const SmfEvent& e) const;
  int64_t LengthSamples(int64_t rate) const { return SampleAt(endUnits, rate); }
  // First event at or after a time in milliseconds.
  size_t EventIndexAtMs(int64_t ms) const;
};

// Parses a file image. False (with a reason) when no MIDI header is found; damaged tracks are
// read up to the damage.
bool ParseSmf(const uint8_t* data, size_t size, Song& song, std::string& error);
// Reads and parses a file; false when it cannot be read or holds no MIDI data.
bool LoadSmf(const std::string& path, Song& song, std::string& error);

// Writes a song with a loop out as it plays: the intro, the loop `loops` times, then further
// passes for as long as a fade of `fadeMs` lasts; endUnits becomes the end of the fade. The jump
// back is seamless: nothing is reset, so sounding notes and controllers carry on. A song without
// a loop, or loops 0, is left as it is; so is one whose arrangement would outgrow the limits of a
// song (a day, 16 million events).
void ArrangeLoops(Song& song, int loops, int64_t fadeMs);

// The chunks of a RIFF RMID file around its MIDI data.
struct RmidParts {
  bool rmid = false;
  uint64_t bankOffset = 0;  // the embedded sound bank's RIFF chunk: where it starts in the file
  uint64_t bankSize = 0;    // its whole length with the 8-byte chunk header; 0 when there is none
  bool dls = false;         // the bank is DLS ("RIFF DLS "), which FluidSynth cannot read
  int bankShift = 1;        // LIST INFO DBNK: the bank offset of the embedded SoundFont
  std::string title;        // LIST INFO INAM, as stored (trailing NULs removed)
};
// Reads the chunk headers of a file (only the LIST INFO chunk's contents are read); rmid false
// for any other file.
RmidParts ReadRmidParts(const std::string& path);

}  // namespace kv::media
