#include "engine/RecordingFormats.h"

#include <QComboBox>
#include <QFile>
#include "shell/FileName.h"
#include <QSaveFile>

#include "app/Globals.h"

// Resources of a static library are registered on first use.
static void InitWaveResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(wave);
    return true;
  }();
  (void)done;
}

namespace {

struct SampleEntry {
  const char* text;  // UTF-8, shown as it stands
  int number;        // template number
  bool hiddenCommon; // hidden when only the rates common to all encoders are shown
};

// Ideographic spaces between the fields; the figures are part of the texts.
const SampleEntry kSamples[24] = {
    {"16.000kHz　 8ビット　Mono  　：　16KB/sec", 101, true},
    {"22.050kHz　 8ビット　Mono  　：　22KB/sec", 105, true},
    {"24.000kHz　 8ビット　Mono  　：　23KB/sec", 109, true},
    {"32.000kHz　 8ビット　Mono  　：　31KB/sec", 113, true},
    {"44.100kHz　 8ビット　Mono  　：　43KB/sec", 117, true},
    {"48.000kHz　 8ビット　Mono  　：　47KB/sec", 121, true},
    {"16,000kHz　16ビット　Mono  　：　31KB/sec", 103, true},
    {"24.000kHz　16ビット　Mono  　：　47KB/sec", 111, true},
    {"22.050kHz　16ビット　Mono  　：　43KB/sec", 107, false},
    {"32.000kHz　16ビット　Mono  　：　63KB/sec", 115, false},
    {"44.100kHz　16ビット　Mono  　：　86KB/sec", 119, false},
    {"48.000kHz　16ビット　Mono  　：　94KB/sec", 123, false},
    {"16.000kHz　 8ビット　Stereo　：　31KB/sec", 102, true},
    {"22.050kHz　 8ビット　Stereo　：　43KB/sec", 106, true},
    {"24.000kHz　 8ビット　Stereo　：　47kB/sec", 110, true},
    {"32.000kHz　 8ビット　Stereo　：　63KB/sec", 114, true},
    {"44.100kHz　 8ビット　Stereo　：　86KB/sec", 118, true},
    {"48.000kHz　 8ビット　Stereo　：　94KB/sec", 122, true},
    {"16.000kHz　16ビット　Stereo　：　63KB/sec", 104, true},
    {"24.000kHz　16ビット　Stereo　：　94KB/sec", 112, true},
    {"22.050kHz　16ビット　Stereo　：　86KB/sec", 108, false},
    {"32.000kHz　16ビット　Stereo　： 125kB/sec", 116, false},
    {"44.100kHz　16ビット　Stereo　： 172kB/sec", 120, false},
    {"48.000kHz　16ビット　Stereo　： 188kB/sec", 124, false},
};

}  // namespace

short FillSampleList(QComboBox* cboSample, short DefSample) {
  const bool common = kv::G().SelSample == 1;
  cboSample->blockSignals(true);
  cboSample->clear();
  for (const SampleEntry& e : kSamples) {
    if (common && e.hiddenCommon) continue;
    cboSample->addItem(QString::fromUtf8(e.text), e.number);
  }
  const int count = cboSample->count();
  const int d = DefSample;
  cboSample->setCurrentIndex(d >= 0 && d < count ? d : count - 1);
  cboSample->blockSignals(false);
  cboSample_Click(cboSample);
  return short(count);
}

void cboSample_Click(QComboBox* cboSample) {
  const int i = cboSample->currentIndex();
  if (i < 0) return;
  const int t = cboSample->itemData(i).toInt();
  const int n = t - 101;
  static const int kRates[5] = {16000, 22050, 24000, 32000, 44100};
  const int rateIndex = n / 4;
  kv::G().SampleRate = rateIndex >= 0 && rateIndex < 5 ? kRates[rateIndex] : 48000;
  const int m = t % 4;
  kv::G().SampleBits = (m == 1 || m == 2) ? 8 : 16;
}

QByteArray WaveTemplate(int number) {
  InitWaveResources();
  QFile f(QStringLiteral(":/wave/%1.wav").arg(number));
  if (!f.open(QIODevice::ReadOnly)) return QByteArray();
  return f.readAll();
}

bool WriteWaveTemplate(QComboBox* cboSample) {
  const int i = cboSample->currentIndex();
  int t = i >= 0 ? cboSample->itemData(i).toInt() : 0;
  t = qBound(101, t, 124);
  const QByteArray bytes = WaveTemplate(t);
  // Written through a temporary name: a failure leaves no half-written file behind.
  return bytes.size() == 60 && kv::WriteFileReplacing(kv::G().WaveFileName, bytes);
}
