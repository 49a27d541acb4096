#include "engine/RecordingFormats.h"

#include <QFile>
#include "shell/FileName.h"
#include <QSaveFile>


// Resources of a static library are registered on first use.
static void InitWaveResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(wave);
    return true;
  }();
  (void)done;
}

int TemplateRate(int number) {
  static const int kRates[5] = {16000, 22050, 24000, 32000, 44100};
  const int rateIndex = (number - 101) / 4;
  return rateIndex >= 0 && rateIndex < 5 ? kRates[rateIndex] : 48000;
}

int TemplateBits(int number) {
  const int m = number % 4;
  return (m == 1 || m == 2) ? 8 : 16;
}

QByteArray WaveTemplate(int number) {
  InitWaveResources();
  QFile f(QStringLiteral(":/wave/%1.wav").arg(number));
  if (!f.open(QIODevice::ReadOnly)) return QByteArray();
  return f.readAll();
}

bool WriteWaveTemplate(int number, const QString& path) {
  const QByteArray bytes = WaveTemplate(qBound(101, number, 124));
  // Written through a temporary name: a failure leaves no half-written file behind.
  return bytes.size() == 60 && kv::WriteFileReplacing(path, bytes);
}
