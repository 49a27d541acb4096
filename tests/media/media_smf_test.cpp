// The sequencer's MIDI file reader: the test corpus, the tempo map, damaged files.
#include <map>

#include "media_test_util.h"
#include "smf_reader.h"

using kv::media::Song;

namespace {

bool Parse(const std::string& bytes, Song& s) {
  std::string err;
  return kv::media::ParseSmf(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), s, err);
}
Song Parsed(const std::string& bytes) {
  Song s;
  EXPECT_TRUE(Parse(bytes, s));
  return s;
}

std::vector<int> NotesOn(const Song& s) {
  std::vector<int> notes;
  for (auto& e : s.events)
    if ((e.status & 0xF0) == 0x90 && e.data2) notes.push_back(e.data1);
  return notes;
}

}  // namespace

TEST(MediaSmfReader, WholeCorpusGivesDefinedResults) {
  int parsed = 0, files = 0, scales = 0;
  std::map<std::string, Song> songs;
  for (auto& entry : kvtest::fs::directory_iterator(kvtest::CorpusFile(""))) {
    if (entry.path().extension() != ".mid") continue;
    ++files;
    Song s;
    std::string err, name = entry.path().filename().string();
    const bool ok = kv::media::LoadSmf(entry.path().string(), s, err);
    if (name == "test-not-a-midi-file.mid" || name == "test-empty-file.mid") {
      EXPECT_FALSE(ok) << name;
      continue;
    }
    ASSERT_TRUE(ok) << name << ": " << err;
    ++parsed;
    EXPECT_LT(s.LengthMs(), 3600 * 1000) << name;
    // Files that play a C major scale through running status, illegal bytes, damaged ends,
    // long delta times or a foreign chunk must give exactly its eight notes.
    for (const char* prefix : {"test-c-major", "test-running-status", "test-illegal-message", "test-corrupt",
                               "test-vlq", "test-non-midi-track", "test-smpte-offset"})
      if (name.rfind(prefix, 0) == 0) {
        EXPECT_EQ(NotesOn(s), (std::vector<int>{60, 62, 64, 65, 67, 69, 71, 72})) << name;
        ++scales;
      }
    songs[name] = s;
  }
  EXPECT_GT(files, 60);
  EXPECT_EQ(parsed, files - 2);
  EXPECT_GE(scales, 20);
  // Format 0 and 1 hold the same notes played together; format 2 plays its tracks in turn.
  const Song &t0 = songs["test-2-tracks-type-0.mid"], &t1 = songs["test-2-tracks-type-1.mid"], &t2 = songs["test-2-tracks-type-2.mid"];
  EXPECT_EQ(std::vector<int>({t0.format, t1.format, t2.format}), std::vector<int>({0, 1, 2}));
  EXPECT_EQ(NotesOn(t0).size(), NotesOn(t1).size());
  EXPECT_EQ(t0.LengthMs(), t1.LengthMs());
  EXPECT_GT(t2.LengthMs(), t1.LengthMs());
  EXPECT_EQ(songs["test-c-major-scale.mid"].LengthMs(), 4000);  // eight quarter notes at 120 bpm
}

TEST(MediaSmfReader, TempoMapAndSmpteGiveExactSampleTimes) {
  smf::Track t;
  t.Tempo(0, 500000);
  t.Event(0, {0x90, 60, 100});
  t.Tempo(960, 333333);  // after two quarters at 120 bpm
  t.Event(960, {0x90, 62, 100});
  t.Event(960 + 480 * 7200, {0x80, 62, 0});  // about 40 minutes later at 180 bpm
  t.End(960 + 480 * 7200);
  Song s = Parsed(smf::File(0, 480, {t}));
  ASSERT_EQ(s.events.size(), 3u);
  EXPECT_EQ(s.SampleAt(s.events[1].units, 44100), 44100);  // exactly 1 s
  // 7200 quarters of 333333 us after the first second, rounded down.
  EXPECT_EQ(s.SampleAt(s.events[2].units, 44100), 44100 + (int64_t(7200) * 333333 * 44100) / 1000000);
  EXPECT_EQ(s.LengthMs(), 1000 + (int64_t(7200) * 333333) / 1000);
  // An .rmi wrapping with a time code division: -25 fps, 40 ticks per frame.
  smf::Track smpte;
  smpte.Event(0, {0x90, 60, 100});
  smpte.Event(25 * 40, {0x80, 60, 0});
  smpte.End(25 * 40);
  s = Parsed(smf::Rmid(smf::File(0, 0xE728, {smpte})));
  ASSERT_EQ(s.events.size(), 2u);
  EXPECT_EQ(s.LengthMs(), 1000);
  EXPECT_EQ(s.SampleAt(s.events[1].units, 48000), 48000);
}

TEST(MediaSmfReader, DamagedFilesAreReadUpToTheDamage) {
  smf::Track good, vlq, ill, far, late;
  good.Event(0, {0x90, 60, 100});
  good.Event(96, {0x80, 60, 0});
  good.End(96);
  const std::string file = smf::File(0, 96, {good});
  std::string huge = file;
  huge[18] = char(0x7F);
  vlq.Event(0, {0x90, 60, 100});
  vlq.bytes += std::string("\xFF\xFF\xFF\xFF\x7F\x80\x3C\x00", 8);
  ill.Event(0, {0xF2, 1, 2});
  ill.Event(0, {0xF4});
  ill.Event(0, {0x90, 60, 100});
  ill.End(10);
  far.Event(0, {0x90, 60, 100});
  far.Event(96 * 2 * 60 * 50, {0x80, 60, 0});  // 120 bpm, 96 ticks a beat: 50 minutes
  far.Event(far.last + 96 * 2 * 60 * 61, {0x90, 62, 100});
  far.End(far.last + 96);
  late.Event(0x0FFFFFFF, {0x90, 60, 100});  // the largest delta time, before the first note
  late.End(late.last + 10);
  const struct {
    const char* name;
    std::string bytes;
    bool ok;
    size_t events;
    int64_t lengthMs;  // -1: not checked
  } rows[] = {
      {"cut inside the track", file.substr(0, file.size() - 5), true, 1, -1},
      {"track length far beyond the file", huge, true, 2, -1},
      {"delta time of five continuation bytes ends the track", smf::File(0, 96, {vlq}), true, 1, -1},
      {"illegal system bytes are skipped with their data", smf::File(0, 96, {ill}), true, 1, -1},
      {"an hour without events ends the song; a 50-minute note is music", smf::File(0, 96, {far}), true, 2, 50 * 60 * 1000},
      {"the largest delta time before the first note", smf::File(0, 1, {late}), true, 0, 0},
      {"a header cut short", std::string("MThd\0\0\0\6\0", 9), false, 0, -1},
  };
  for (const auto& r : rows) {
    Song s;
    EXPECT_EQ(Parse(r.bytes, s), r.ok) << r.name;
    EXPECT_EQ(s.events.size(), r.events) << r.name;
    if (r.lengthMs >= 0) EXPECT_EQ(s.LengthMs(), r.lengthMs) << r.name;
  }
}

// Loop marks and the looped arrangement; 96 ticks are half a second. Controller 111 opens a loop
// that ends with the song; loopStart/loopEnd markers or texts (any letter case) mark both ends,
// and a note that starts right at loopEnd belongs after the loop.
TEST(MediaSmfReader, LoopMarksGiveTheLoopedArrangement) {
  smf::Track melody, marks;
  melody.Event(0, {0x90, 60, 100});
  melody.Event(90, {0x80, 60, 0});
  marks.Event(96, {0xB0, 111, 0});
  marks.Event(96, {0x91, 62, 100});
  marks.Event(186, {0x81, 62, 0});
  marks.Event(192, {0x91, 64, 100});
  marks.Event(288, {0x81, 64, 0});
  marks.End(288);
  melody.End(90);
  const std::string cc111 = smf::File(1, 96, {melody, marks});  // intro 0.5 s, loop 1 s

  smf::Track named;
  named.Event(0, {0x90, 60, 100});
  named.Event(90, {0x80, 60, 0});
  named.Meta(96, 6, "LOOPSTART");
  named.Event(96, {0x90, 62, 100});
  named.Event(192, {0x80, 62, 0});
  named.Meta(192, 1, " loopend ");
  named.Event(192, {0x90, 64, 100});
  named.Event(288, {0x80, 64, 0});
  named.End(288);
  const std::string markers = smf::File(0, 96, {named});  // intro 0.5 s, loop 0.5 s, outro 0.5 s

  smf::Track late;
  late.Event(0, {0x90, 60, 100});
  late.Event(192, {0x80, 60, 0});
  late.Event(192, {0xB0, 111, 0});
  late.End(192);
  const struct {
    const char* name;
    std::string bytes;
    int loops, fadeMs;
    std::vector<int> notes;
    size_t events;
    int64_t lengthMs, fadeStartMs;  // -1: no fade
  } rows[] = {
      {"controller 111: intro, 2 loops, 1 s of a third pass", cc111, 2, 1000, {60, 62, 64, 62, 64, 62, 64}, 17, 3500, 2500},
      {"no fade: the last pass ends with its closing note-off", cc111, 2, 0, {60, 62, 64, 62, 64}, 12, 2500, -1},
      {"a 1 ms fade lets in the next pass's first instant", cc111, 2, 1, {60, 62, 64, 62, 64, 62}, 14, 2501, 2500},
      {"loops 0 plays straight through", cc111, 0, 10000, {60, 62, 64}, 7, 1500, -1},
      {"markers: the loop, then the passes of the fade", markers, 2, 600, {60, 62, 62, 62, 62}, 9, 2100, 1500},
      {"a mark at the very end is no loop", smf::File(0, 96, {late}), 2, 10000, {60}, 3, 1000, -1},
      {"a song without marks is unchanged", smf::Notes(3), 2, 10000, {60, 61, 62}, 6, 1500, -1},
  };
  for (const auto& r : rows) {
    Song s = Parsed(r.bytes);
    kv::media::ArrangeLoops(s, r.loops, r.fadeMs);
    EXPECT_EQ(NotesOn(s), r.notes) << r.name;
    EXPECT_EQ(s.events.size(), r.events) << r.name;
    EXPECT_EQ(s.LengthMs(), r.lengthMs) << r.name;
    EXPECT_EQ(s.fadeStartUnits < 0 ? -1 : s.fadeStartUnits * 1000 / s.unitsPerSecond, r.fadeStartMs) << r.name;
    EXPECT_TRUE(std::is_sorted(s.events.begin(), s.events.end(),
                               [](const auto& a, const auto& b) { return a.units < b.units; })) << r.name;
  }
}
