#include "fuzz_targets.h"
#include "smf_reader.h"

namespace kvfuzz {

int Smf(const uint8_t* data, size_t size) {
  kv::media::Song song;
  std::string error;
  if (!kv::media::ParseSmf(data, size, song, error)) {
    if (error.empty()) Fail("a refused file gives no reason");
    return 0;
  }
  if (song.unitsPerSecond <= 0) Fail("units per second not positive");
  // Played as a song with loop marks plays: its checks below hold for the arrangement too.
  kv::media::ArrangeLoops(song, 2, 10000);
  if (song.fadeStartUnits > song.endUnits) Fail("fade starting after the song's end");
  for (size_t i = 0; i < song.events.size(); ++i) {
    const auto& e = song.events[i];
    if (i > 0 && e.units < song.events[i - 1].units) Fail("events out of time order");
    if (e.units < 0 || e.units > song.endUnits) Fail("event outside the song");
    if (e.status < 0x80) Fail("event without a status byte");
    if (e.status == 0xF0) {
      const kv::media::SysexData x = song.SysexOf(e);
      if (!x.data || x.data + x.length > song.sysex.data() + song.sysex.size()) Fail("sysex data outside the sysex buffer");
    }
  }
  // The time conversions the sequencer and recorder use.
  const int64_t ms = song.LengthMs();
  (void)song.LengthSamples(44100);
  (void)song.LengthSamples(11025);
  const size_t at = song.EventIndexAtMs(ms / 2);
  if (at > song.events.size()) Fail("event index past the end");
  if (song.EventIndexAtMs(0) != 0) Fail("time 0 does not start at the first event");
  return 0;
}

}  // namespace kvfuzz
