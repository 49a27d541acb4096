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

// The list offers the 24 templates (or the 8 of the common rates) in its own order; the stored
// position is a position, not a format; past the end, the last entry. Every entry sets the
// rate and sample size of its template.
TEST_F(RecordingFormats, ListOrderStoredPositionAndSelection) {
  struct Row {
    int commonOnly, stored;
    QList<int> templates;
    int selected;
  };
  const QList<int> all = {101, 105, 109, 113, 117, 121, 103, 111, 107, 115, 119, 123,
                          102, 106, 110, 114, 118, 122, 104, 112, 108, 116, 120, 124};
  const QList<int> common = {107, 115, 119, 123, 108, 116, 120, 124};
  const Row rows[] = {{0, -1, all, 124}, {0, 2, all, 109}, {1, 12, common, 124}, {1, 2, common, 119}};
  for (const Row& r : rows) {
    kv::G().SelSample = r.commonOnly;
    const std::string row = "common " + std::to_string(r.commonOnly) + ", stored " + std::to_string(r.stored);
    EXPECT_EQ(FillSampleList(&cbo, r.stored), r.templates.size()) << row;
    EXPECT_EQ(Templates(), r.templates) << row;
    EXPECT_EQ(cbo.currentData().toInt(), r.selected) << row;
    const QByteArray t = WaveTemplate(r.selected);
    EXPECT_EQ(quint32(kv::G().SampleRate), Le32(t, 24)) << row;
    EXPECT_EQ(quint16(kv::G().SampleBits), Le16(t, 34)) << row;
  }
  // The texts keep their quirks: ideographic spaces, the comma of entry 7.
  kv::G().SelSample = 0;
  FillSampleList(&cbo, -1);
  EXPECT_EQ(cbo.itemText(6), QString::fromUtf8("16,000kHz\u300016ビット\u3000Mono  \u3000：\u300031KB/sec"));
  for (int i = 0; i < cbo.count(); ++i) {
    cbo.setCurrentIndex(i);
    cboSample_Click(&cbo);
    const QByteArray t = WaveTemplate(cbo.itemData(i).toInt());
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
