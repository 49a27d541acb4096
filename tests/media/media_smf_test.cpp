// The sequencer's MIDI file reader: the test corpus, the tempo map, damaged files.
#include <gtest/gtest.h>

#include "media_test_util.h"
#include "smf_reader.h"

using kv::media::Song;

namespace {

Song Parse(const std::string& bytes, bool expectOk = true) {
  Song s;
  std::string err;
  EXPECT_EQ(kv::media::ParseSmf(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), s, err), expectOk) << err;
  return s;
}

Song Load(const std::string& name) {
  Song s;
  std::string err;
  EXPECT_TRUE(kv::media::LoadSmf(kvtest::CorpusFile(name), s, err)) << name << ": " << err;
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
  for (auto& entry : kvtest::fs::directory_iterator(kvtest::CorpusFile(""))) {
    if (entry.path().extension() != ".mid") continue;
    ++files;
    Song s;
    std::string err, name = entry.path().filename().string();
    bool ok = kv::media::LoadSmf(entry.path().string(), s, err);
    if (name == "test-not-a-midi-file.mid" || name == "test-empty-file.mid") {
      EXPECT_FALSE(ok) << name;
      continue;
    }
    ASSERT_TRUE(ok) << name << ": " << err;
    ++parsed;
    EXPECT_GE(s.LengthMs(), 0) << name;
    EXPECT_LT(s.LengthMs(), 3600 * 1000) << name;
    for (size_t i = 1; i < s.events.size(); ++i) ASSERT_LE(s.events[i - 1].units, s.events[i].units) << name;
    if (!s.events.empty()) EXPECT_LE(s.events.back().units, s.endUnits) << name;
    // Files that play a C major scale through running status, illegal bytes, damaged ends,
    // long delta times or a foreign chunk must give exactly its eight notes.
    for (const char* prefix : {"test-c-major", "test-running-status", "test-illegal-message", "test-corrupt",
                               "test-vlq", "test-non-midi-track", "test-smpte-offset"}) {
      if (name.rfind(prefix, 0) != 0) continue;
      EXPECT_EQ(NotesOn(s), (std::vector<int>{60, 62, 64, 65, 67, 69, 71, 72})) << name;
      ++scales;
      break;
    }
  }
  EXPECT_GT(files, 60);
  EXPECT_EQ(parsed, files - 2);
  EXPECT_GE(scales, 20);
}

TEST(MediaSmfReader, CorpusFormatsAndKnownLengths) {
  Song t0 = Load("test-2-tracks-type-0.mid"), t1 = Load("test-2-tracks-type-1.mid"), t2 = Load("test-2-tracks-type-2.mid");
  EXPECT_EQ(t0.format, 0);
  EXPECT_EQ(t1.format, 1);
  EXPECT_EQ(t2.format, 2);
  // Format 0 and 1 hold the same notes played together; format 2 plays its tracks in turn.
  EXPECT_EQ(NotesOn(t0).size(), NotesOn(t1).size());
  EXPECT_EQ(t0.LengthMs(), t1.LengthMs());
  EXPECT_GT(t2.LengthMs(), t1.LengthMs());
  EXPECT_EQ(Load("test-c-major-scale.mid").LengthMs(), 4000);  // eight quarter notes at 120 bpm
}

TEST(MediaSmfReader, TempoMapGivesExactSampleTimes) {
  smf::Track t;
  t.Tempo(0, 500000);
  t.Event(0, {0x90, 60, 100});
  t.Tempo(960, 333333);  // after two quarters at 120 bpm
  t.Event(960, {0x90, 62, 100});
  t.Event(960 + 480 * 7200, {0x80, 62, 0});  // about 40 minutes later at 180 bpm
  t.End(960 + 480 * 7200);
  Song s = Parse(smf::File(0, 480, {t}));
  ASSERT_EQ(s.events.size(), 3u);
  EXPECT_EQ(s.SampleAt(s.events[1].units, 44100), 44100);  // exactly 1 s
  // 7200 quarters of 333333 us: 2399.9976 s after the first second, rounded down.
  EXPECT_EQ(s.SampleAt(s.events[2].units, 44100), 44100 + (int64_t(7200) * 333333 * 44100) / 1000000);
  EXPECT_EQ(s.LengthMs(), 1000 + (int64_t(7200) * 333333) / 1000);
}

TEST(MediaSmfReader, RunningStatusSysexAndMetaEvents) {
  smf::Track t;
  t.Event(0, {0x90, 60, 100});
  t.Event(10, {62, 100});  // running status
  t.Event(20, {0xF0, 5, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
  t.Meta(20, 0x01, "abc");  // text: not an event for the synth
  t.Event(30, {64, 100});   // running status survives meta and sysex events in this reader
  t.End(40);
  Song s = Parse(smf::File(0, 96, {t}));
  ASSERT_EQ(s.events.size(), 4u);
  EXPECT_EQ(s.events[1].status, 0x90);
  EXPECT_EQ(s.events[1].data1, 62);
  EXPECT_EQ(s.events[2].status, 0xF0);
  const kv::media::SysexData x = s.SysexOf(s.events[2]);
  ASSERT_EQ(x.length, 4u);
  EXPECT_EQ(x.data[0], 0x7E);
  EXPECT_EQ(x.data[3], 0x01);
  EXPECT_EQ(s.SysexOf(s.events[1]).length, 0u);  // not a sysex event
  EXPECT_EQ(s.events[3].data1, 64);
}

TEST(MediaSmfReader, RiffRmidAndSmpteDivision) {
  smf::Track t;
  t.Event(0, {0x90, 60, 100});
  t.Event(25 * 40, {0x80, 60, 0});  // 25 fps x 40 ticks per frame: one second
  t.End(25 * 40);
  Song s = Parse(smf::Rmid(smf::File(0, 0xE728, {t})));  // -25 fps, 40 ticks per frame
  ASSERT_EQ(s.events.size(), 2u);
  EXPECT_EQ(s.LengthMs(), 1000);
  EXPECT_EQ(s.SampleAt(s.events[1].units, 48000), 48000);
}

TEST(MediaSmfReader, DamagedFilesAreReadUpToTheDamage) {
  smf::Track good, vlq, ill, far;
  good.Event(0, {0x90, 60, 100});
  good.Event(96, {0x80, 60, 0});
  good.End(96);
  std::string file = smf::File(0, 96, {good}), huge = file;
  // Cut off in the middle of the track (the chunk length claims more than there is).
  EXPECT_EQ(Parse(file.substr(0, file.size() - 5)).events.size(), 1u);
  // A track length far beyond the file.
  huge[18] = char(0x7F);
  EXPECT_EQ(Parse(huge).events.size(), 2u);

  // A delta time of five continuation bytes is damage: the track ends there.
  vlq.Event(0, {0x90, 60, 100});
  vlq.bytes += std::string("\xFF\xFF\xFF\xFF\x7F\x80\x3C\x00", 8);
  EXPECT_EQ(Parse(smf::File(0, 96, {vlq})).events.size(), 1u);

  // Illegal system bytes in the stream are skipped with their data bytes.
  ill.Event(0, {0xF2, 1, 2});
  ill.Event(0, {0xF4});
  ill.Event(0, {0x90, 60, 100});
  ill.End(10);
  Song skipped = Parse(smf::File(0, 96, {ill}));
  ASSERT_EQ(skipped.events.size(), 1u);
  EXPECT_EQ(skipped.events[0].status, 0x90);

  // No header at all, and a header cut short.
  Parse("just text, no MIDI here", false);
  Parse(std::string("MThd\0\0\0\6\0", 9), false);

  // An hour without any event is damage: the song ends before the gap. A 50-minute note is music.
  far.Event(0, {0x90, 60, 100});
  far.Event(96 * 2 * 60 * 50, {0x80, 60, 0});  // 120 bpm, 96 ticks a beat: 50 minutes
  far.Event(far.last + 96 * 2 * 60 * 61, {0x90, 62, 100});
  far.End(far.last + 96);
  Song cut = Parse(smf::File(0, 96, {far}));
  ASSERT_EQ(cut.events.size(), 2u);
  EXPECT_EQ(cut.LengthMs(), 50 * 60 * 1000);
  smf::Track late;
  late.Event(0x0FFFFFFF, {0x90, 60, 100});  // the largest delta time, before the first note
  late.End(late.last + 10);
  Song empty = Parse(smf::File(0, 1, {late}));
  EXPECT_TRUE(empty.events.empty());
  EXPECT_EQ(empty.LengthMs(), 0);
}
