// Media commands: the exact command lines, their order, the buffers passed and the replies.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>

#include "app/Globals.h"
#include "tests/engine/FakeMediaLayer.h"
#include "tests/engine/WidgetApp.h"
#include "engine/RecordingFormats.h"
#include "settings/inifile_IO.h"

namespace {

const SentCommand Reply(const QString& text) { return {text, true, 255}; }
const SentCommand NoReply(const QString& text) { return {text, false, 0}; }

class MediaCommands : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureWidgetApp(); }
  FakeMediaLayer media;
};

TEST_F(MediaCommands, RecordingSequences) {
  const QString f = QStringLiteral("/home/user/my songs/夜明け.wav");
  StartRecording(f);
  StopRecording();
  EXPECT_EQ(media.sent, (QList<SentCommand>{
                            Reply(QStringLiteral("open \"") + f + QStringLiteral("\" alias RecMedia")),
                            Reply(QStringLiteral("record RecMedia overwrite")),
                            Reply(QStringLiteral("stop RecMedia")),
                            Reply(QStringLiteral("seek RecMedia to start")),
                            Reply(QStringLiteral("save RecMedia")),
                            Reply(QStringLiteral("close RecMedia")),
                        }));
}

TEST_F(MediaCommands, PlaybackSequences) {
  const QString f = QStringLiteral("/music/a b/曲.mid");
  StartPlayback(f, -1);
  StopCommand();
  StopPlayback();
  StartPlayback(f, 2);
  EXPECT_EQ(media.sent, (QList<SentCommand>{
                            Reply(QStringLiteral("open \"") + f + QStringLiteral("\" alias PlayMedia")),
                            NoReply(QStringLiteral("set PlayMedia port -1")),
                            NoReply(QStringLiteral("set PlayMedia time format milliseconds")),
                            Reply(QStringLiteral("play PlayMedia")),
                            Reply(QStringLiteral("stop PlayMedia")),
                            Reply(QStringLiteral("stop PlayMedia")),
                            Reply(QStringLiteral("close PlayMedia")),
                            Reply(QStringLiteral("open \"") + f + QStringLiteral("\" alias PlayMedia")),
                            NoReply(QStringLiteral("set PlayMedia port 2")),
                            NoReply(QStringLiteral("set PlayMedia time format milliseconds")),
                            Reply(QStringLiteral("play PlayMedia")),
                        }));
}

TEST_F(MediaCommands, StatusQueries) {
  media.replies.insert(QStringLiteral("status PlayMedia mode"), "playing");
  media.replies.insert(QStringLiteral("status PlayMedia position"), QByteArray("12345\0" "999", 9));
  media.replies.insert(QStringLiteral("status PlayMedia length"), "240000");
  EXPECT_EQ(StatusMode(), u"playing");
  EXPECT_EQ(MciReply, u"playing");
  EXPECT_EQ(StatusPosition(), u"12345");
  EXPECT_EQ(StatusLength(), 240000);
  EXPECT_EQ(media.sent.last(), Reply(QStringLiteral("status PlayMedia length")));

  // A reply starting with NUL is an empty position; a query that fails leaves no old reply.
  media.replies.insert(QStringLiteral("status PlayMedia position"), QByteArray("\0" "77", 3));
  EXPECT_EQ(StatusPosition(), u"");
  media.replies.remove(QStringLiteral("status PlayMedia mode"));
  EXPECT_EQ(StatusMode(), u"");
  media.replies.insert(QStringLiteral("status PlayMedia mode"), "paused");
  EXPECT_NE(StatusMode().left(7), u"playing");
  // A reply filling the whole buffer is cut to 254 characters for the position.
  media.replies.insert(QStringLiteral("status PlayMedia position"), QByteArray(300, '7'));
  EXPECT_EQ(StatusPosition(), QString(254, u'7'));
  media.replies.insert(QStringLiteral("status PlayMedia length"), "n/a");
  EXPECT_EQ(StatusLength(), 0);
  media.replies.insert(QStringLiteral("status PlayMedia length"), "99999999999999");
  EXPECT_EQ(StatusLength(), 0x7fffffffL);  // stays a 32-bit number
}

TEST_F(MediaCommands, DeviceList) {
  QTemporaryDir dir;
  inifile_IO settings;
  settings.setFileName(dir.filePath(QStringLiteral("Dorvanti.ini")));
  QComboBox cbo;

  // No MIDI output at all: the mapper alone.
  FillDeviceList(&cbo, settings);
  ASSERT_EQ(cbo.count(), 1);
  EXPECT_EQ(cbo.itemText(0), u"Microsoft MIDI Mapper");
  EXPECT_EQ(cbo.currentIndex(), 0);
  EXPECT_EQ(media.capsIds, QList<UINT_PTR>{UINT_PTR(-1)});

  // Names are cut at 31 bytes, as the device record holds them.
  media.devices = {QStringLiteral("Korvessa Synth"), QString(31, u'x') + QStringLiteral("overflow")};
  auto store = [&](const QByteArray& ini) {
    QFile f(settings.FileName());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(ini);
  };
  store("[Option]\r\nDefDevice=2\r\n");
  FillDeviceList(&cbo, settings);
  EXPECT_EQ(cbo.count(), 3);
  EXPECT_EQ(cbo.itemText(1), u"Korvessa Synth");
  EXPECT_EQ(cbo.itemText(2), QString(31, u'x'));
  EXPECT_EQ(cbo.currentIndex(), 2);
  // A stored position past the end, or below 0, selects the mapper.
  store("[Option]\r\nDefDevice=3\r\n");
  FillDeviceList(&cbo, settings);
  EXPECT_EQ(cbo.currentIndex(), 0);
  store("[Option]\r\nDefDevice=-4\r\n");
  FillDeviceList(&cbo, settings);
  EXPECT_EQ(cbo.count(), 3);
  EXPECT_EQ(cbo.currentIndex(), 0);
}

// The whole recording sequence on the real media layer: template, recorder, sequencer, save.
TEST(MediaCommandsOnTheMediaLayer, RecordsAFileInTheTemplateFormat) {
  EnsureWidgetApp();
  QTemporaryDir dir;
  const QString ini = dir.filePath(QStringLiteral("system.ini"));
  {
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Setup]\nSoundFont=/usr/share/sounds/sf2/TimGM6mb.sf2\nSource=synth\nFast=1\nVolume=100\n");
  }
  qputenv("KORVESSA_SYSTEM_INI", ini.toUtf8());
  QComboBox cbo;
  inifile_IO settings;
  settings.setFileName(dir.filePath(QStringLiteral("Dorvanti.ini")));
  FillSampleList(&cbo, settings);
  cbo.setCurrentIndex(cbo.findData(117));  // 44.1 kHz 8-bit mono
  kv::G().WaveFileName = dir.filePath(QStringLiteral("c major.wav"));
  ASSERT_TRUE(WriteWaveTemplate(&cbo));

  StartRecording(kv::G().WaveFileName);
  StartPlayback(QStringLiteral("/work/shared/testdata/midi/jazz-soft-test-midi-files/test-c-major-scale.mid"), -1);
  long length = 0;
  QString position;
  // Bounded so that a sequencer that never stops cannot hang the suite.
  for (int tick = 0; tick < 6000 && StatusMode().left(7) == u"playing"; ++tick) {
    position = StatusPosition();
    length = StatusLength();
    QThread::msleep(10);
  }
  EXPECT_NE(StatusMode().left(7), u"playing");
  StopPlayback();
  StopRecording();
  EXPECT_EQ(length, 4000);
  EXPECT_FALSE(position.isEmpty());

  QFile f(kv::G().WaveFileName);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray wav = f.readAll();
  ASSERT_GE(wav.size(), 44);
  EXPECT_EQ(wav.left(4), "RIFF");
  EXPECT_EQ(qFromLittleEndian<quint16>(wav.constData() + 22), 1u);
  EXPECT_EQ(qFromLittleEndian<quint32>(wav.constData() + 24), 44100u);
  EXPECT_EQ(qFromLittleEndian<quint16>(wav.constData() + 34), 8u);
  // About four seconds of sound: one byte per sample.
  const qsizetype data = wav.indexOf("data");
  ASSERT_GT(data, 0);
  const quint32 bytes = qFromLittleEndian<quint32>(wav.constData() + data + 4);
  EXPECT_GE(bytes, 44100u * 3);
  EXPECT_LE(bytes, 44100u * 8);
  EXPECT_EQ(qsizetype(bytes), wav.size() - data - 8);
}

}  // namespace
