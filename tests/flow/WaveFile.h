// Reads a PCM WAVE file for the checks of the tests: format and samples as floats.
#pragma once
#include <QFile>
#include <QString>
#include <QtEndian>
#include <cmath>
#include <vector>

struct WaveFile {
  int rate = 0, channels = 0, bits = 0;
  std::vector<float> mono;  // channels mixed down, -1..1
  bool ok = false;
  double seconds() const { return rate ? double(mono.size()) / rate : 0; }
  double peak() const {
    float p = 0;
    for (float v : mono) p = std::max(p, std::fabs(v));
    return p;
  }
  // First / last sample whose magnitude exceeds the threshold, in seconds (-1 when none).
  double firstSound(float threshold = 0.002f) const {
    for (size_t i = 0; i < mono.size(); ++i)
      if (std::fabs(mono[i]) > threshold) return double(i) / rate;
    return -1;
  }
  double lastSound(float threshold = 0.002f) const {
    for (size_t i = mono.size(); i-- > 0;)
      if (std::fabs(mono[i]) > threshold) return double(i) / rate;
    return -1;
  }
};

inline WaveFile ReadWave(const QString& path) {
  WaveFile w;
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return w;
  const QByteArray b = f.readAll();
  if (b.size() < 12 || !b.startsWith("RIFF") || b.mid(8, 4) != "WAVE") return w;
  qsizetype p = 12;
  QByteArray data;
  while (p + 8 <= b.size()) {
    const QByteArray id = b.mid(p, 4);
    const quint32 len = qFromLittleEndian<quint32>(b.constData() + p + 4);
    const qsizetype body = p + 8;
    if (id == "fmt ") {
      w.channels = qFromLittleEndian<quint16>(b.constData() + body + 2);
      w.rate = int(qFromLittleEndian<quint32>(b.constData() + body + 4));
      w.bits = qFromLittleEndian<quint16>(b.constData() + body + 14);
    } else if (id == "data") {
      data = b.mid(body, len);
    }
    p = body + len + (len & 1);
  }
  if (!w.rate || !w.channels || (w.bits != 8 && w.bits != 16)) return w;
  const int bytes = w.bits / 8, frame = bytes * w.channels;
  const qsizetype frames = data.size() / frame;
  w.mono.resize(size_t(frames));
  for (qsizetype i = 0; i < frames; ++i) {
    float sum = 0;
    for (int c = 0; c < w.channels; ++c) {
      const char* s = data.constData() + i * frame + c * bytes;
      sum += w.bits == 8 ? (float(uint8_t(*s)) - 128.0f) / 128.0f : float(qFromLittleEndian<qint16>(s)) / 32768.0f;
    }
    w.mono[size_t(i)] = sum / w.channels;
  }
  w.ok = true;
  return w;
}
