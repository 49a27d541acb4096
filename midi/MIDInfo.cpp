#include "midi/MIDInfo.h"
#include "shell/Dir.h"
#include "shell/FileName.h"

#include "smf_reader.h"
#include "textcodec.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <cstring>

#include "engine/MediaCommands.h"

namespace {

// Big-endian 16-bit word at i as its signed value.
short Word(const QByteArray& b, qsizetype i) {
  return short(quint16((quint8(b[i]) << 8) | quint8(b[i + 1])));
}

// Title event at e: variable-length size at e+2, then the text. A size cut off by the end of
// the file gives no title; a text cut off gives the bytes that are there.
QByteArray EventText(const QByteArray& b, qsizetype e) {
  qsizetype i = e + 2;
  quint32 len = 0;
  for (int n = 0;; ++n) {
    if (i >= b.size() || n == 4) return QByteArray();
    const quint8 c = quint8(b[i++]);
    len = (len << 7) | (c & 0x7f);
    if (!(c & 0x80)) break;
  }
  return b.mid(i, qsizetype(qMin<quint32>(len, quint32(b.size() - i))));
}

QString TrimSpaces(const QString& s) {
  qsizetype a = 0, z = s.size();
  while (a < z && s[a] == u' ') ++a;
  while (z > a && s[z - 1] == u' ') --z;
  return s.mid(a, z - a);
}

}  // namespace

QString DecodeLegacyText(const QByteArray& bytes) {
  // UTF-8 when valid, else CP932, else Latin-1: the same rule as every legacy text.
  return QString::fromStdString(kv::text::ToUtf8(std::string_view(bytes.constData(), size_t(bytes.size()))));
}

MidiInfo ParseMidiBytes(const QByteArray& b, const QString& path) {
  MidiInfo info;
  const qsizetype h = b.indexOf("MThd");
  if (h < 0) return info;
  // A header cut off inside its 14 bytes keeps 0 in the numbers.
  if (b.size() >= h + 14) {
    info.Format = Word(b, h + 8);
    info.Track = Word(b, h + 10);
    info.TCount = Word(b, h + 12);
  }
  // The title is looked for in the first track only, by plain byte patterns.
  const qsizetype q = b.indexOf("MTrk");
  if (q >= 0) {
    const qsizetype r = b.indexOf("MTrk", q + 1);
    qsizetype e = -1;
    for (const char* pat : {"\xff\x01", "\xff\x03"}) {
      const qsizetype m = b.indexOf(QByteArray(pat, 2), q);
      if (m < 0 || (r >= 0 && m > r)) continue;
      if (e < 0 || m < e) e = m;
    }
    if (e >= 0) info.Title = TrimSpaces(DecodeLegacyText(EventText(b, e)));
  }
  if (info.Title.isEmpty()) info.Title = FileTitleOf(path);
  return info;
}

MidiInfo ReadMidiInfo(const QString& path) {
  bool read = false;
  const QByteArray bytes = kv::ReadFileBytes(path, &read);
  if (!read || !bytes.contains("MThd")) return MidiInfo();
  MidiInfo info = ParseMidiBytes(bytes, path);
  // Playing time as the sequencer measures it; no number in the reply gives 0.
  MciSendLocal(QStringLiteral("open ") + kv::Quoted(path) + QStringLiteral(" alias Midi"), 255);
  MciSend(QStringLiteral("set Midi time format milliseconds"), false);
  info.Length = int(ReplyNumber(MciSendLocal(QStringLiteral("status Midi length"), 16)));
  MciSendLocal(QStringLiteral("close Midi"), 255);
  return info;
}

QString SongTitle(const QString& path) {
  // An RMID file may name its song in LIST INFO INAM; that name comes first.
  const QString named =
      TrimSpaces(DecodeLegacyText(QByteArray::fromStdString(kv::media::ReadRmidParts(kv::PathBytes(path).toStdString()).title)));
  if (!named.isEmpty()) return named;
  const QString title = ParseMidiBytes(kv::ReadFileBytes(path), path).Title;
  return title.isEmpty() ? FileTitleOf(path) : title;
}

QString TimeText(int ms) {
  const int s = ms > 0 ? ms / 1000 : 0;
  const int m = s / 60;
  const int sec = s - 60 * m;
  return QStringLiteral("%1:%2").arg(m, 2, 10, QLatin1Char('0')).arg(sec, 2, 10, QLatin1Char('0'));
}

QString FileTitleOf(const QString& path) {
  QString t = path;
  t = t.mid(t.lastIndexOf(u'/') + 1);
  t = t.mid(t.lastIndexOf(QChar(u'\0')) + 1);
  t.chop(4);
  return t;
}

QString MidiOutDeviceName(int id) {
  MIDIOUTCAPSA caps;
  std::memset(&caps, 0, sizeof caps);
  const MediaLayer& l = CurrentMediaLayer();
  if (l.midiOutCaps) l.midiOutCaps(UINT_PTR(intptr_t(id)), &caps, sizeof caps);
  return QString::fromUtf8(caps.szPname, qsizetype(strnlen(caps.szPname, sizeof caps.szPname)));
}
