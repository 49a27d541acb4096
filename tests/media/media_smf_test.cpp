// The sequencer's MIDI file reader: the test corpus, the tempo map, damaged files.
#include <gtest/gtest.h>

#include "media_test_util.h"
#include "smf_reader.h"

using kv::media::ParseSmf;
using kv::media::Song;
using kvtest::SmfWriter;

namespace {

Song Parse(const std::string& bytes, bool expectOk = true) {
  Song s;
  std::string err;
  bool ok = ParseSmf(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), s, err);
  EXPECT_EQ(ok, expectOk) << err;
  return s;
}

int Count(const Song& s, int statusHigh) {
  int n = 0;
  for (auto& e : s.events) n += (e.status & 0xF0) == statusHigh;
  return n;
}

}  // namespace

TEST(MediaSmfReader, WholeCorpusGivesDefinedResults) {
  int parsed = 0, files = 0, scales = 0;
  for (auto& entry : kvtest::fs::directory_iterator(kvtest::CorpusFile(""))) {
    if (entry.path().extension() != ".mid") continue;
    ++files;
    Song s;
    std::string err;
    bool ok = kv::media::LoadSmf(entry.path().string(), s, err);
    std::string name = entry.path().filename().string();
    if (name == "test-not-a-midi-file.mid" || name == "test-empty-file.mid") {
      EXPECT_FALSE(ok) << name;
      continue;
    }
    ASSERT_TRUE(ok) << name << ": " << err;
    ++parsed;
    EXPECT_GE(s.LengthMs(), 0) << name;
    EXPECT_LT(s.LengthMs(), 3600 * 1000) << name;
    for (size_t i = 1; i < s.events.size(); ++i) ASSERT_LE(s.events[i - 1].units, s.events[i].units) << name;
    // Files that play a C major scale through running status, illegal bytes, damaged ends,
    // long delta times or a foreign chunk must give exactly its eight notes.
    bool scaleFile = false;
    for (const char* prefix : {"test-c-major", "test-running-status", "test-illegal-message", "test-corrupt",
                               "test-vlq", "test-non-midi-track", "test-smpte-offset"})
      scaleFile = scaleFile || name.rfind(prefix, 0) == 0;
    if (scaleFile) {
      std::vector<int> notes;
      for (auto& e : s.events)
        if ((e.status & 0xF0) == 0x90 && e.data2) notes.push_back(e.data1);
      EXPECT_EQ(notes, (std::vector<int>{60, 62, 64, 65, 67, 69, 71, 72})) << name;
      ++scales;
    }
    if (!s.events.empty()) EXPECT_LE(s.events.back().units, s.endUnits) << name;
  }
  EXPECT_GT(files, 60);
  EXPECT_EQ(parsed, files - 2);
  EXPECT_GE(scales, 20);
}

TEST(MediaSmfReader, CorpusFormatsAndKnownLengths) {
  Song t0, t1, t2;
  std::string err;
  ASSERT_TRUE(kv::media::LoadSmf(kvtest::CorpusFile("test-2-tracks-type-0.mid"), t0, err));
  ASSERT_TRUE(kv::media::LoadSmf(kvtest::CorpusFile("test-2-tracks-type-1.mid"), t1, err));
  ASSERT_TRUE(kv::media::LoadSmf(kvtest::CorpusFile("test-2-tracks-type-2.mid"), t2, err));
  EXPECT_EQ(t0.format, 0);
  EXPECT_EQ(t1.format, 1);
  EXPECT_EQ(t2.format, 2);
  // Format 0 and 1 hold the same notes played together; format 2 plays its tracks in turn.
  EXPECT_EQ(Count(t0, 0x90), Count(t1, 0x90));
  EXPECT_EQ(t0.LengthMs(), t1.LengthMs());
  EXPECT_GT(t2.LengthMs(), t1.LengthMs());
  Song scale;
  ASSERT_TRUE(kv::media::LoadSmf(kvtest::CorpusFile("test-c-major-scale.mid"), scale, err));
  EXPECT_EQ(scale.LengthMs(), 4000);  // eight quarter notes at 120 bpm
}

TEST(MediaSmfReader, TempoMapGivesExactSampleTimes) {
  SmfWriter::Track t;
  t.Tempo(0, 500000);
  t.Event(0, {0x90, 60, 100});
  t.Tempo(960, 333333);          // after two quarters at 120 bpm
  t.Event(960, {0x90, 62, 100});
  t.Event(960 + 480 * 7200, {0x80, 62, 0});  // about 40 minutes later at 180 bpm
  t.End(960 + 480 * 7200);
  Song s = Parse(SmfWriter::File(0, 480, {t}));
  ASSERT_EQ(s.events.size(), 3u);
  EXPECT_EQ(s.SampleAt(s.events[1].units, 44100), 44100);  // exactly 1 s
  // 7200 quarters of 333333 us: 2399.9976 s after the first second, rounded down.
  int64_t expected = 44100 + (int64_t(7200) * 333333 * 44100) / 1000000;
  EXPECT_EQ(s.SampleAt(s.events[2].units, 44100), expected);
  EXPECT_EQ(s.LengthMs(), 1000 + (int64_t(7200) * 333333) / 1000);
}

TEST(MediaSmfReader, RunningStatusSysexAndMetaEvents) {
  SmfWriter::Track t;
  t.Event(0, {0x90, 60, 100});
  t.Event(10, {62, 100});  // running status
  t.Event(20, {0xF0, 5, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
  t.Event(20, {0xFF, 0x01, 3, 'a', 'b', 'c'});  // text: not an event for the synth
  t.Event(30, {64, 100});  // running status survives meta and sysex events in this reader
  t.End(40);
  Song s = Parse(SmfWriter::File(0, 96, {t}));
  ASSERT_EQ(s.events.size(), 4u);
  EXPECT_EQ(s.events[1].status, 0x90);
  EXPECT_EQ(s.events[1].data1, 62);
  EXPECT_EQ(s.events[2].status, 0xF0);
  ASSERT_EQ(s.events[2].sysexLength, 4u);
  EXPECT_EQ(s.sysex[s.events[2].sysexOffset], 0x7E);
  EXPECT_EQ(s.events[3].data1, 64);
}

TEST(MediaSmfReader, RiffRmidAndSmpteDivision) {
  SmfWriter::Track t;
  t.Event(0, {0x90, 60, 100});
  t.Event(25 * 40, {0x80, 60, 0});  // 25 fps x 40 ticks per frame: one second
  t.End(25 * 40);
  std::string smf = SmfWriter::File(0, 0xE728, {t});  // -25 fps, 40 ticks per frame
  std::string riff = "RIFF";
  kvtest::Put32(riff, uint32_t(4 + 8 + smf.size()));
  riff += "RMIDdata";
  kvtest::Put32(riff, uint32_t(smf.size()));
  riff += smf;
  Song s = Parse(riff);
  ASSERT_EQ(s.events.size(), 2u);
  EXPECT_EQ(s.LengthMs(), 1000);
  EXPECT_EQ(s.SampleAt(s.events[1].units, 48000), 48000);
}

TEST(MediaSmfReader, DamagedFilesAreReadUpToTheDamage) {
  SmfWriter::Track good;
  good.Event(0, {0x90, 60, 100});
  good.Event(96, {0x80, 60, 0});
  good.End(96);
  std::string file = SmfWriter::File(0, 96, {good});

  // Cut off in the middle of the track (the chunk length claims more than there is).
  Song cut = Parse(file.substr(0, file.size() - 5));
  EXPECT_EQ(cut.events.size(), 1u);

  // A track length far beyond the file.
  std::string huge = file;
  huge[18] = char(0x7F);
  Song big = Parse(huge);
  EXPECT_EQ(big.events.size(), 2u);

  // A delta time of five continuation bytes is damage: the track ends there.
  SmfWriter::Track vlq;
  vlq.Event(0, {0x90, 60, 100});
  vlq.bytes += std::string("\xFF\xFF\xFF\xFF\x7F\x80\x3C\x00", 8);
  Song bad = Parse(SmfWriter::File(0, 96, {vlq}));
  EXPECT_EQ(bad.events.size(), 1u);

  // Illegal system bytes in the stream are skipped with their data bytes.
  SmfWriter::Track ill;
  ill.Event(0, {0xF2, 1, 2});
  ill.Event(0, {0xF4});
  ill.Event(0, {0x90, 60, 100});
  ill.End(10);
  Song skipped = Parse(SmfWriter::File(0, 96, {ill}));
  ASSERT_EQ(skipped.events.size(), 1u);
  EXPECT_EQ(skipped.events[0].status, 0x90);

  // No header at all, and a header cut short.
  Parse("just text, no MIDI here", false);
  Parse(std::string("MThd\0\0\0\6\0", 9), false);

  // The largest delta times still give a bounded song.
  SmfWriter::Track far;
  for (int i = 0; i < 200; ++i) far.Event(far.last + 0x0FFFFFFF, {0x90, 60, 100});
  Song capped = Parse(SmfWriter::File(0, 1, {far}));
  EXPECT_LE(capped.LengthMs(), int64_t(24) * 3600 * 1000);
}
