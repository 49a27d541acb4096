// MIDI file inspection: header values, title rules, playing time query, mm:ss texts.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include "FakeMediaLayer.h"
#include "WidgetApp.h"
#include "MidiFiles.h"
#include "midi/MIDInfo.h"

namespace {

const QString kCorpus = QStringLiteral("/work/shared/testdata/midi/jazz-soft-test-midi-files");

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
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
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

TEST(FileTitleOf, DropsFoldersAndExtension) {
  for (auto [path, title] : {std::pair{"/music/song.mid", "song"}, {"song.mid", "song"}, {"/a/曲名.mid", "曲名"},
                              {"/a/b.c/x.mid", "x"}, {"/a/.mi", ""}})
    EXPECT_EQ(FileTitleOf(QString::fromUtf8(path)), QString::fromUtf8(title)) << path;
  EXPECT_EQ(FileTitleOf(QString::fromUtf16(u"/a/junk\0b.mid", 13)), u"b");
}

TEST_F(MidInfoTest, CorpusHeadersAndTitles) {
  struct Known {
    const char *file, *summary;
  };
  const Known known[] = {
      {"test-2-tracks-type-1.mid", "1 2 96 0 Standard MIDI file type 1"},
      {"test-2-tracks-type-2.mid", "2 2 96 0 Standard MIDI file type 2"},
      {"test-all-gm-sounds.mid", "0 1 96 0 All GM1 Sounds"},
      {"test-karaoke-kar.mid", "1 3 100 0 Karaoke .KAR Test"},
      {"test-empty.mid", "0 1 96 0 test-empty"},  // no title event: the file name
  };
  for (const Known& k : known) EXPECT_EQ(Summary(ReadMidiInfo(kCorpus + u'/' + QLatin1String(k.file))), k.summary);
  // Every file of the corpus: a title whenever there is a header, the empty record otherwise.
  const QStringList files = QDir(kCorpus).entryList(QDir::Files);
  ASSERT_GE(files.size(), 70);
  int withHeader = 0;
  for (const QString& name : files) {
    QFile f(kCorpus + u'/' + name);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const bool header = f.readAll().contains("MThd");
    const MidiInfo i = ReadMidiInfo(f.fileName());
    if (header) {
      ++withHeader;
      EXPECT_FALSE(i.Title.isEmpty()) << name.toStdString();
    } else {
      EXPECT_TRUE(i.Title.isEmpty()) << name.toStdString();
      EXPECT_EQ(i.Format + i.Track + i.TCount + i.Length, 0) << name.toStdString();
    }
  }
  EXPECT_EQ(withHeader, files.size() - 4);  // LICENSE.md, the empty file, the text file, the .syx
}

TEST_F(MidInfoTest, LengthComesFromTheSequencer) {
  const QString path = Write(QStringLiteral("my song.mid"), Smf(0, 96, {Track(Meta(3, "Song"))}));
  media.replies.insert(QStringLiteral("status Midi length"), "183456");
  const MidiInfo i = ReadMidiInfo(path);
  EXPECT_EQ(i.Length, 183456);
  const QList<SentCommand> expected = {
      {QStringLiteral("open \"") + path + QStringLiteral("\" alias Midi"), true, 255},
      {QStringLiteral("set Midi time format milliseconds"), false, 0},
      {QStringLiteral("status Midi length"), true, 16},
      {QStringLiteral("close Midi"), true, 255},
  };
  EXPECT_EQ(media.sent, expected);

  // No number in the reply (a file the sequencer cannot open) gives 0.
  media.replies.clear();
  EXPECT_EQ(ReadMidiInfo(path).Length, 0);
  media.replies.insert(QStringLiteral("status Midi length"), QByteArray("42\0" "99", 5));
  EXPECT_EQ(ReadMidiInfo(path).Length, 42);
}

TEST_F(MidInfoTest, NoHeaderNoCommands) {
  const MidiInfo missing = ReadMidiInfo(dir.filePath(QStringLiteral("absent.mid")));
  const MidiInfo text = ReadMidiInfo(Write(QStringLiteral("text.mid"), "just some text"));
  const MidiInfo folder = ReadMidiInfo(dir.path());
  for (const MidiInfo& i : {missing, text, folder}) EXPECT_EQ(Summary(i), "0 0 0 0 ");
  EXPECT_TRUE(media.sent.isEmpty());
}

// The same values as the bare file (see the corpus table above).
TEST_F(MidInfoTest, RmiWrappingGivesTheSameValues) {
  QFile f(kCorpus + QStringLiteral("/test-karaoke-kar.mid"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray rmi = Q(smf::Rmid(f.readAll().toStdString()));
  EXPECT_EQ(Summary(ReadMidiInfo(Write(QStringLiteral("kar.rmi"), rmi))), "1 3 100 0 Karaoke .KAR Test");
}

TEST_F(MidInfoTest, TitleEventRules) {
  // Track name before a text event: the track name; and the other way round: the text.
  EXPECT_EQ(TitleOf(Smf(1, 480, {Track(Meta(3, "Name") + Meta(1, "Text")), Track("")})), u"Name");
  EXPECT_EQ(TitleOf(Smf(1, 480, {Track(Meta(1, "Text") + Meta(3, "Name")), Track("")})), u"Text");
  EXPECT_EQ(TitleOf(Smf(1, 480, {Track(Meta(1, "Only text")), Track(Meta(3, "Later"))})), u"Only text");
  // A title only in the second track is not the file's title.
  EXPECT_EQ(TitleOf(Smf(1, 480, {Track(""), Track(Meta(3, "Piano"))})), u"song");
  // Spaces around the title go; a title of spaces only falls back to the file name.
  EXPECT_EQ(TitleOf(Smf(0, 96, {Track(Meta(3, "  Song A  "))})), u"Song A");
  EXPECT_EQ(TitleOf(Smf(0, 96, {Track(Meta(3, "     "))}), QStringLiteral("quiet.rmi")), u"quiet");
  EXPECT_EQ(TitleOf(Smf(0, 96, {Track(Meta(2, "(c) 2001"))})), u"song");
  // The byte pair is found anywhere in the first track, even inside other data.
  EXPECT_EQ(TitleOf(Smf(0, 96, {Track(QByteArray("\x00\xf0\x04\x7e\xff\x03\x02", 7) + "AB\xf7")})), u"AB");
}

TEST_F(MidInfoTest, LongTitlesAreReadWhole) {
  const QByteArray t127(127, 'a');  // the longer one's length takes two bytes
  QByteArray t200;
  for (int i = 0; i < 200; ++i) t200 += char('A' + i % 26);
  EXPECT_EQ(TitleOf(Smf(0, 96, {Track(Meta(3, t127))})), QString::fromLatin1(t127));
  EXPECT_EQ(TitleOf(Smf(0, 96, {Track(Meta(3, t200))})), QString::fromLatin1(t200));
}

TEST_F(MidInfoTest, TitleEncodings) {
  const QString japanese = QStringLiteral("夜明けのスキャット");
  QStringEncoder toSjis("Shift_JIS");
  ASSERT_TRUE(toSjis.isValid());
  const QByteArray sjis = toSjis(japanese);
  ASSERT_NE(sjis, japanese.toUtf8());
  EXPECT_EQ(TitleOf(Smf(0, 96, {Track(Meta(3, sjis))})), japanese);
  EXPECT_EQ(TitleOf(Smf(0, 96, {Track(Meta(3, japanese.toUtf8()))})), japanese);
  // Neither UTF-8 nor Shift-JIS: Latin-1.
  EXPECT_EQ(TitleOf(Smf(0, 96, {Track(Meta(3, "Caf\xe9"))})), QStringLiteral("Café"));
  EXPECT_EQ(DecodeLegacyText("\x81\x40"), QString(QChar(0x3000)));
}

TEST_F(MidInfoTest, OddHeadersAndCutFiles) {
  // SMPTE division: the word's signed value (-25 frames, 40 ticks).
  EXPECT_EQ(Summary(ReadMidiInfo(Write(QStringLiteral("smpte.mid"), Smf(0, 0xe728, {Track("")})))), "0 1 -6360 0 smpte");
  // A header cut inside its 14 bytes: no numbers, the file name as title.
  EXPECT_EQ(Summary(ReadMidiInfo(Write(QStringLiteral("cut.mid"), QByteArray("MThd\0\0\0\6\0\1", 10)))), "0 0 0 0 cut");
  // A title cut by the end of the file keeps the bytes that are there; a cut length gives none.
  const QByteArray head = Smf(0, 96, {}) + "MTrk" + Q(smf::Be(40, 4));
  EXPECT_EQ(TitleOf(head + QByteArray("\x00\xff\x03\x20Half", 8)), u"Half");
  EXPECT_EQ(TitleOf(head + QByteArray("\x00\xff\x03\x81", 4), QStringLiteral("len.mid")), u"len");
  // Every cut of a real file: a title as soon as the header is there, the empty record before.
  QFile kar(kCorpus + QStringLiteral("/test-karaoke-kar.mid"));
  ASSERT_TRUE(kar.open(QIODevice::ReadOnly));
  const QByteArray whole = kar.readAll();
  for (qsizetype n = 0; n <= whole.size(); ++n) {
    const MidiInfo i = ParseMidiBytes(whole.left(n), QStringLiteral("/m/kar.mid"));
    EXPECT_EQ(i.Title.isEmpty(), n < 4) << n;
    EXPECT_EQ(i.Track, n >= 14 ? 3 : 0) << n;
  }
  // Data before the header (as in a RIFF wrapper) is skipped over.
  const QByteArray junk = "garbage" + Smf(2, 192, {Track(Meta(3, "X"))});
  EXPECT_EQ(Summary(ReadMidiInfo(Write(QStringLiteral("junk.mid"), junk))), "2 1 192 0 X");
}

}  // namespace
