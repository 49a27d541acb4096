// Recording formats: the cboSample list, the derived format values and the WAVE templates.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include "app/Globals.h"
#include "app/FormatLists.h"
#include "engine/RecordingFormats.h"
#include "WidgetApp.h"

namespace {

quint32 Le32(const QByteArray& b, int at) { return qFromLittleEndian<quint32>(b.constData() + at); }
quint16 Le16(const QByteArray& b, int at) { return qFromLittleEndian<quint16>(b.constData() + at); }

class RecordingFormats : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureWidgetApp(); }
  void SetUp() override { kv::G().SelSample = 0; }
  void TearDown() override { kv::G().SelSample = 0; }
  QList<int> Templates() const {
    QList<int> t;
    for (int i = 0; i < cbo.count(); ++i) t << cbo.itemData(i).toInt();
    return t;
  }

  QTemporaryDir dir;
  QComboBox cbo;
};

TEST_F(RecordingFormats, FullListTextsAndOrder) {
  EXPECT_EQ(FillSampleList(&cbo, -1), 24);
  ASSERT_EQ(cbo.count(), 24);
  EXPECT_EQ(Templates(), (QList<int>{101, 105, 109, 113, 117, 121, 103, 111, 107, 115, 119, 123,
                                     102, 106, 110, 114, 118, 122, 104, 112, 108, 116, 120, 124}));
  // Texts as they stand: ideographic spaces, the comma of entry 7, the small kB of entry 15.
  EXPECT_EQ(cbo.itemText(0), QString::fromUtf8("16.000kHz\u3000 8ビット\u3000Mono  \u3000：\u300016KB/sec"));
  EXPECT_EQ(cbo.itemText(6), QString::fromUtf8("16,000kHz\u300016ビット\u3000Mono  \u3000：\u300031KB/sec"));
  EXPECT_EQ(cbo.itemText(14), QString::fromUtf8("24.000kHz\u3000 8ビット\u3000Stereo\u3000：\u300047kB/sec"));
  EXPECT_EQ(cbo.itemText(21), QString::fromUtf8("32.000kHz\u300016ビット\u3000Stereo\u3000： 125kB/sec"));
  EXPECT_EQ(cbo.itemText(23), QString::fromUtf8("48.000kHz\u300016ビット\u3000Stereo\u3000： 188kB/sec"));
  // First run: the last entry, 48 kHz 16-bit stereo.
  EXPECT_EQ(cbo.currentIndex(), 23);
  EXPECT_EQ(kv::G().SampleRate, 48000);
  EXPECT_EQ(kv::G().SampleBits, 16);
}

TEST_F(RecordingFormats, CommonRatesOnlyAndStoredPosition) {
  kv::G().SelSample = 1;
  EXPECT_EQ(FillSampleList(&cbo, 12), 8);
  EXPECT_EQ(Templates(), (QList<int>{107, 115, 119, 123, 108, 116, 120, 124}));
  EXPECT_EQ(cbo.currentIndex(), 7);  // past the short list: the last entry
  EXPECT_EQ(kv::G().SampleRate, 48000);
  EXPECT_EQ(kv::G().SampleBits, 16);

  // The stored position is a position, not a format.
  for (auto [sel, selected] : {std::pair{1, 119}, {0, 109}}) {
    kv::G().SelSample = sel;
    FillSampleList(&cbo, 2);
    EXPECT_EQ(cbo.currentData().toInt(), selected);
  }
  EXPECT_EQ(kv::G().SampleRate, 24000);
  EXPECT_EQ(kv::G().SampleBits, 8);

  FillSampleList(&cbo, -1);
  EXPECT_EQ(cbo.currentIndex(), 23);
}

TEST_F(RecordingFormats, SelectionSetsRateAndBitsOfItsTemplate) {
  FillSampleList(&cbo, -1);
  cbo.setCurrentIndex(cbo.findData(110));
  cboSample_Click(&cbo);
  EXPECT_EQ(kv::G().SampleRate, 24000);
  EXPECT_EQ(kv::G().SampleBits, 8);
  // Every entry agrees with the header of its own template.
  for (int i = 0; i < cbo.count(); ++i) {
    cbo.setCurrentIndex(i);
    cboSample_Click(&cbo);
    const QByteArray t = WaveTemplate(cbo.itemData(i).toInt());
    ASSERT_EQ(t.size(), 60);
    EXPECT_EQ(quint32(kv::G().SampleRate), Le32(t, 24)) << i;
    EXPECT_EQ(quint16(kv::G().SampleBits), Le16(t, 34)) << i;
  }
}

TEST_F(RecordingFormats, TemplatesAreConsistentWaveHeaders) {
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
  EXPECT_TRUE(WaveTemplate(100).isEmpty());
  EXPECT_TRUE(WaveTemplate(125).isEmpty());
}

TEST_F(RecordingFormats, WriteWaveTemplateWritesExactlyTheTemplate) {
  const QString wave = dir.filePath(QStringLiteral("曲 1.wav"));
  auto written = [&wave] {
    QFile f(wave);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
  };
  EXPECT_TRUE(WriteWaveTemplate(117, wave));
  EXPECT_EQ(written(), WaveTemplate(117));
  // A number without a template (an entry without one) uses the first template.
  EXPECT_TRUE(WriteWaveTemplate(0, wave));
  EXPECT_EQ(written(), WaveTemplate(101));

  // A folder that does not exist: nothing written, no crash, and no stray files.
  EXPECT_FALSE(WriteWaveTemplate(117, dir.filePath(QStringLiteral("missing/out.wav"))));
  EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("missing/out.wav"))));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot),
            (QStringList{QStringLiteral("曲 1.wav")}));
}

}  // namespace
