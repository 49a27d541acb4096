// The WAVE templates of the recording formats.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include "engine/RecordingFormats.h"

namespace {

quint32 Le32(const QByteArray& b, int at) { return qFromLittleEndian<quint32>(b.constData() + at); }
quint16 Le16(const QByteArray& b, int at) { return qFromLittleEndian<quint16>(b.constData() + at); }

TEST(RecordingFormats, TemplatesAreConsistentWaveHeaders) {
  const quint32 rates[6] = {16000, 22050, 24000, 32000, 44100, 48000};
  for (int number = 101; number <= 124; ++number) {
    const QByteArray t = WaveTemplate(number);
    ASSERT_EQ(t.size(), 60) << number;
    const int n = number - 101;
    const quint16 channels = quint16(n % 2 + 1), bits = n % 4 < 2 ? 8 : 16;
    // RIFF size 50, an 18-byte PCM format chunk, an empty fact and data chunk, two spare zeros.
    EXPECT_EQ(t.left(22), QByteArray("RIFF\x32\0\0\0WAVEfmt \x12\0\0\0\x01\0", 22));
    EXPECT_EQ(t.mid(36), QByteArray("\0\0fact\x04\0\0\0\0\0\0\0data\0\0\0\0\0\0", 24));
    EXPECT_EQ(Le16(t, 22), channels) << number;
    EXPECT_EQ(Le32(t, 24), rates[n / 4]) << number;
    EXPECT_EQ(Le32(t, 28), rates[n / 4] * channels * bits / 8) << number;
    EXPECT_EQ(Le16(t, 32), channels * bits / 8) << number;
    EXPECT_EQ(Le16(t, 34), bits) << number;
  }
  EXPECT_TRUE(WaveTemplate(125).isEmpty());
}

TEST(RecordingFormats, WriteWaveTemplateWritesExactlyTheTemplate) {
  QTemporaryDir dir;
  const QString wave = dir.filePath(QStringLiteral("曲 1.wav"));
  EXPECT_TRUE(WriteWaveTemplate(117, wave));
  QFile f(wave);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), WaveTemplate(117));
  EXPECT_FALSE(WriteWaveTemplate(117, dir.filePath(QStringLiteral("missing/out.wav"))));
}

}  // namespace
