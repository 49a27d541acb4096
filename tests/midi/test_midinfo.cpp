// MIDI file inspection: header values, title rules, playing time query, mm:ss texts.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "FakeMediaLayer.h"
#include "WidgetApp.h"
#include "MidiFiles.h"
#include "midi/MIDInfo.h"
#include "midi/SourceList.h"

namespace {

const QString kCorpus = QStringLiteral(KV_SOURCE_DIR "/tests/data/midi/jazz-soft-test-midi-files");

QByteArray Q(const std::string& s) { return QByteArray::fromStdString(s); }

// Meta event at delta 0: FF type len text.
QByteArray Meta(int type, const QByteArray& text) {
  return QByteArray("\x00\xff", 2) + char(type) + Q(smf::Vlq(quint32(text.size()))) + text;
}

// A track of the given events, one note and the end.
QByteArray Track(const QByteArray& events) {
  return Q(smf::Chunk("MTrk", (events + QByteArray("\x00\x90\x3c\x40\x60\x80\x3c\x00\x00\xff\x2f\x00", 12)).toStdString()));
}

QByteArray Smf(int format, int division, const QList<QByteArray>& tracks) {
  QByteArray b = Q(smf::Chunk("MThd", smf::Be(format, 2) + smf::Be(quint32(tracks.size()), 2) + smf::Be(division, 2)));
  for (const QByteArray& t : tracks) b += t;
  return b;
}

// Format, tracks, division, length and title of a record, for one-line comparisons.
std::string Summary(const MidiInfo& i) {
  return QStringLiteral("%1 %2 %3 %4 %5").arg(i.Format).arg(i.Track).arg(i.TCount).arg(i.Length).arg(i.Title).toStdString();
}

class MidInfoTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  FakeMediaLayer media;

  QString Write(const QString& name, const QByteArray& bytes) {
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    return f.fileName();
  }
  QString TitleOf(const QByteArray& bytes, const QString& name = QStringLiteral("song.mid")) {
    return ReadMidiInfo(Write(name, bytes)).Title;
  }
};

TEST(TimeText, MinutesAndSeconds) {
  for (auto [ms, text] : {std::pair{0, "00:00"}, {999, "00:00"}, {61500, "01:01"}, {599999, "09:59"},
                          {6000000, "100:00"}, {-5000, "00:00"}})
    EXPECT_EQ(TimeText(ms), QString(text)) << ms;
}

TEST_F(MidInfoTest, CorpusHeadersAndTitles) {
  for (auto [file, summary] : {std::pair{"test-2-tracks-type-1.mid", "1 2 96 0 Standard MIDI file type 1"},
                               {"test-karaoke-kar.mid", "1 3 100 0 Karaoke .KAR Test"},
                               {"test-empty.mid", "0 1 96 0 test-empty"}})  // no title event: the file name
    EXPECT_EQ(Summary(ReadMidiInfo(kCorpus + u'/' + QLatin1String(file))), summary);
  // The RIFF wrapping of an .rmi file gives the same values as the bare file.
  QFile kar(kCorpus + QStringLiteral("/test-karaoke-kar.mid"));
  ASSERT_TRUE(kar.open(QIODevice::ReadOnly));
  const QByteArray whole = kar.readAll();
  EXPECT_EQ(Summary(ReadMidiInfo(Write("kar.rmi", Q(smf::Rmid(whole.toStdString()))))), "1 3 100 0 Karaoke .KAR Test");
}

TEST_F(MidInfoTest, LengthComesFromTheSequencerOnlyForMidiFiles) {
  for (const QString& path : {dir.filePath("absent.mid"), Write("text.mid", "just some text"), dir.path()})
    EXPECT_EQ(Summary(ReadMidiInfo(path)), "0 0 0 0 ") << path.toStdString();
  EXPECT_TRUE(media.sent.isEmpty());  // no header, no commands
  const QString path = Write("my song.mid", Smf(0, 96, {Track(Meta(3, "Song"))}));
  media.replies.insert(QStringLiteral("status Midi length"), "183456");
  EXPECT_EQ(ReadMidiInfo(path).Length, 183456);
  // No number in the reply (a file the sequencer cannot open) gives 0.
  media.replies.clear();
  EXPECT_EQ(ReadMidiInfo(path).Length, 0);
}

TEST_F(MidInfoTest, TitleEventRules) {
  // Whichever of track name and text comes first; only the first track counts; spaces around the
  // title go and a title of spaces only, like a copyright, falls back to the file name ("song");
  // the byte pair is found anywhere in the first track, even inside other data.
  using Case = std::tuple<QByteArray, QByteArray, const char*>;  // first track, second track, title
  for (auto [first, second, title] : {Case{Meta(3, "Name") + Meta(1, "Text"), "", "Name"},
                                      {Meta(1, "Text") + Meta(3, "Name"), "", "Text"},
                                      {"", Meta(3, "Piano"), "song"},
                                      {Meta(3, "  Song A  "), "", "Song A"},
                                      {Meta(3, "     "), "", "song"},
                                      {Meta(2, "(c) 2001"), "", "song"},
                                      {QByteArray("\x00\xf0\x04\x7e\xff\x03\x02", 7) + "AB\xf7", "", "AB"}})
    EXPECT_EQ(TitleOf(Smf(1, 480, {Track(first), Track(second)})), QString(title)) << title;
  EXPECT_EQ(TitleOf(Smf(0, 96, {Track(Meta(3, "     "))}), QStringLiteral("quiet.rmi")), u"quiet");
  // An RMID's LIST INFO INAM names the song for tags; the window keeps the MIDI data's title.
  const std::string inam = smf::RiffChunk("LIST", "INFO" + smf::RiffChunk("INAM", std::string("Tag Title\0", 10)));
  const QString named = Write("named.rmi", Q(smf::Rmid(Smf(0, 96, {Track(Meta(3, "Name"))}).toStdString(), inam)));
  EXPECT_EQ(ReadMidiInfo(named).Title, u"Name");
  EXPECT_EQ(SongTitle(named), u"Tag Title");
}

// Titles are read whole, their length in one or two bytes.
TEST_F(MidInfoTest, LongTitlesAndEncodings) {
  QByteArray t200;  // its length takes two bytes
  for (int i = 0; i < 200; ++i) t200 += char('A' + i % 26);
  for (auto [bytes, title] : {std::pair{QByteArray(127, 'a'), QString(127, 'a')}, {t200, QString::fromLatin1(t200)}})
    EXPECT_EQ(TitleOf(Smf(0, 96, {Track(Meta(3, bytes))})), title);
}

TEST_F(MidInfoTest, OddHeadersAndCutFiles) {
  // SMPTE division: the word's signed value (-25 frames, 40 ticks); a header cut inside its 14
  // bytes: no numbers, the file name as title; data before the header (as in a RIFF wrapper) is skipped.
  for (auto [name, bytes, summary] : {std::tuple{"smpte.mid", Smf(0, 0xe728, {Track("")}), "0 1 -6360 0 smpte"},
                                      {"cut.mid", QByteArray("MThd\0\0\0\6\0\1", 10), "0 0 0 0 cut"},
                                      {"junk.mid", "garbage" + Smf(2, 192, {Track(Meta(3, "X"))}), "2 1 192 0 X"}})
    EXPECT_EQ(Summary(ReadMidiInfo(Write(name, bytes))), summary);
  // A title cut by the end of the file keeps the bytes that are there; a cut length gives none.
  const QByteArray head = Smf(0, 96, {}) + "MTrk" + Q(smf::Be(40, 4));
  EXPECT_EQ(TitleOf(head + QByteArray("\x00\xff\x03\x20Half", 8)), u"Half");
  EXPECT_EQ(TitleOf(head + QByteArray("\x00\xff\x03\x81", 4), QStringLiteral("len.mid")), u"len");
}

// The output-name rule: the title when asked for, else the file's name on disk with "wav".
TEST_F(MidInfoTest, OutputNames) {
  const QString song = Write("song.mid", Smf(0, 96, {Track(Meta(3, "Song A"))}));
  const QString untitled = Write("Untitled.MID", Smf(0, 96, {Track({})}));
  const QString d = dir.path();
  struct Row {
    const char* name;
    QString path, title;  // an empty title: the file's own, as inspection reports it
    bool titleToName;
    QString wavePath, expected;
  } rows[] = {
      {"the title", song, {}, true, d, d + "/Song A.wav"},
      {"box cleared: the file's name", song, {}, false, d, d + "/song.wav"},
      {"no title: the file's name on disk", untitled, {}, true, d, d + "/Untitled.wav"},
      {"\"?<>\" are allowed", song, "A?<>", true, d, d + "/A?<>.wav"},
      {"125 characters", song, QString(122, 'x'), true, "/o", "/o/" + QString(122, 'x') + ".wav"},
      {"126 characters", song, QString(123, 'x'), true, "/o", "/o/song.wav"},
  };
  for (const Row& r : rows) {
    const QString got = r.title.isEmpty() ? kv::SourceList::OutputName(r.path, r.titleToName, r.wavePath, nullptr)
                                          : kv::SourceList::OutputNameFor(r.path, r.title, r.titleToName, r.wavePath);
    EXPECT_EQ(got, r.expected) << r.name;
  }
  for (const char* t : {"A:B", "A*B", "A\"B", "A'B", "A/B", "A\\B", "A|B"})
    EXPECT_EQ(kv::SourceList::OutputNameFor(song, t, true, d), d + "/song.wav") << t;
}

}  // namespace
