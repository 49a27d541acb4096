// Media commands: the exact command lines, their order, the buffers passed and the replies.
#include <gtest/gtest.h>

#include <QComboBox>

#include "FakeMediaLayer.h"
#include "WidgetApp.h"
#include "app/FormatLists.h"
#include "engine/RecordingFormats.h"

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
  EXPECT_EQ(media.sent, (QList<SentCommand>{Reply("open \"" + f + "\" alias RecMedia"), Reply("record RecMedia overwrite"),
                                             Reply("stop RecMedia"), Reply("seek RecMedia to start"),
                                             Reply("save RecMedia"), Reply("close RecMedia")}));
}

TEST_F(MediaCommands, PlaybackSequences) {
  const QString f = QStringLiteral("/music/a b/曲.mid");
  StartPlayback(f, -1);
  StopCommand();
  StopPlayback();
  StartPlayback(f, 2);
  const QString open = "open \"" + f + "\" alias PlayMedia";
  const SentCommand msec = NoReply("set PlayMedia time format milliseconds"), play = Reply("play PlayMedia");
  EXPECT_EQ(media.sent, (QList<SentCommand>{Reply(open), NoReply("set PlayMedia port -1"), msec, play,
                                             Reply("stop PlayMedia"), Reply("stop PlayMedia"), Reply("close PlayMedia"),
                                             Reply(open), NoReply("set PlayMedia port 2"), msec, play}));
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
  QComboBox cbo;

  // No MIDI output at all: the mapper alone.
  FillDeviceList(&cbo, 0);
  ASSERT_EQ(cbo.count(), 1);
  EXPECT_EQ(cbo.itemText(0), u"Microsoft MIDI Mapper");
  EXPECT_EQ(cbo.currentIndex(), 0);  // only the mapper's number (-1) gives this name

  // Names are cut at 31 bytes, as the device record holds them.
  media.devices = {QStringLiteral("Korvessa Synth"), QString(31, u'x') + QStringLiteral("overflow")};
  // A stored position past the end, or below 0, selects the mapper.
  for (auto [stored, selected] : {std::pair{2, 2}, {3, 0}, {-4, 0}}) {
    FillDeviceList(&cbo, short(stored));
    ASSERT_EQ(cbo.count(), 3);
    EXPECT_EQ(cbo.itemText(1), u"Korvessa Synth");
    EXPECT_EQ(cbo.itemText(2), QString(31, u'x'));
    EXPECT_EQ(cbo.currentIndex(), selected) << stored;
  }
}

}  // namespace
