#include "engine/MediaCommands.h"

#include <QList>
#include <cstring>

#include "midi/MIDInfo.h"
#include "shell/FileName.h"

thread_local QString MciReply;

namespace {

MediaLayer RealLayer() {
  return MediaLayer{mciSendStringA, midiOutGetNumDevs, midiOutGetDevCapsA, kvMediaDeviceError,
                    [](LPCSTR alias, KvRecordTap tap, void* context) { return kvMediaSetRecordTap(nullptr, alias, tap, context); }};
}

MediaLayer& ProcessLayer() {
  static MediaLayer layer = RealLayer();
  return layer;
}

thread_local const MediaLayer* t_layer = nullptr;  // this thread's own session, if any

const MediaLayer& Layer() { return t_layer ? *t_layer : ProcessLayer(); }

// Sends cmd with a buffer of replyLength characters (plus a guard NUL); null buffer when 0.
QString Send(const QString& cmd, unsigned replyLength) {
  const QByteArray line = kv::PathBytes(cmd);
  QByteArray buf(int(replyLength) + 1, '\0');
  const MediaLayer& l = Layer();
  if (l.sendString)
    l.sendString(line.constData(), replyLength ? buf.data() : nullptr, replyLength, nullptr);
  if (!replyLength) return QString();
  return kv::PathText(QByteArray(buf.constData(), qsizetype(strnlen(buf.constData(), replyLength))));
}

}  // namespace

void SetMediaLayer(MediaLayer layer) {
  if (!layer.sendString && !layer.midiOutNumDevs && !layer.midiOutCaps && !layer.deviceError)
    layer = RealLayer();
  ProcessLayer() = std::move(layer);
}

const MediaLayer& CurrentMediaLayer() { return Layer(); }

QString MciSend(const QString& cmd, bool reply) {
  if (!reply) {
    Send(cmd, 0);
    return QString();
  }
  // Cleared before each command: a failing query reads as empty, never as the previous reply.
  MciReply = Send(cmd, 255);
  return MciReply;
}

QString MciSendLocal(const QString& cmd, unsigned replyLength) { return Send(cmd, replyLength); }

long ReplyNumber(const QString& reply) {
  long v = 0;
  for (QChar c : reply) {
    if (c < u'0' || c > u'9') break;
    if (v > (0x7fffffffL - 9) / 10) return 0x7fffffffL;  // stays within 32 bits
    v = v * 10 + (c.unicode() - u'0');
  }
  return v;
}

bool StartRecording(const QString& f, int delayMs, KvRecordTap tap, void* context) {
  MciSend(QStringLiteral("open ") + kv::Quoted(f) + QStringLiteral(" alias RecMedia"));
  MciSend(QStringLiteral("set RecMedia delay ") + QString::number(delayMs), false);
  const MediaLayer& l = Layer();
  const bool tapped = tap && l.recordTap && l.recordTap("RecMedia", tap, context);
  MciSend(QStringLiteral("record RecMedia overwrite"));
  return tapped;
}

bool RecordingIsFast() { return MciSend(QStringLiteral("status RecMedia fast")) == QLatin1String("true"); }

void StopRecording() {
  MciSend(QStringLiteral("stop RecMedia"));
  MciSend(QStringLiteral("seek RecMedia to start"));
  MciSend(QStringLiteral("save RecMedia"));
  MciSend(QStringLiteral("close RecMedia"));
}

void StartPlayback(const QString& f, int port) {
  MciSend(QStringLiteral("open ") + kv::Quoted(f) + QStringLiteral(" alias PlayMedia"));
  MciSend(QStringLiteral("set PlayMedia port ") + QString::number(port), false);
  MciSend(QStringLiteral("set PlayMedia time format milliseconds"), false);
  MciSend(QStringLiteral("play PlayMedia"));
}

void StopPlayback() {
  MciSend(QStringLiteral("stop PlayMedia"));
  MciSend(QStringLiteral("close PlayMedia"));
}

void StopCommand() { MciSend(QStringLiteral("stop PlayMedia")); }

QString StatusMode() { return MciSend(QStringLiteral("status PlayMedia mode")); }

QString StatusPosition() {
  return MciSend(QStringLiteral("status PlayMedia position")).left(254);
}

long StatusLength() { return ReplyNumber(MciSendLocal(QStringLiteral("status PlayMedia length"), 255)); }

QString DeviceError(const QString& alias) {
  const MediaLayer& l = Layer();
  return l.deviceError ? kv::PathText(QByteArray(l.deviceError(alias.toUtf8().constData()))) : QString();
}

ThreadMediaSession::ThreadMediaSession() : m_session(kvMediaSessionOpen()), m_previous(t_layer) {
  const MediaLayer& base = Layer();
  m_layer = base;
  HKVMEDIA s = m_session;
  m_layer.sendString = [s](LPCSTR cmd, LPSTR reply, UINT length, HWND) { return kvMediaSendString(s, cmd, reply, length); };
  m_layer.deviceError = [s](LPCSTR alias) { return kvMediaSessionDeviceError(s, alias); };
  m_layer.recordTap = [s](LPCSTR alias, KvRecordTap tap, void* context) { return kvMediaSetRecordTap(s, alias, tap, context); };
  if (m_session) t_layer = &m_layer;
}

ThreadMediaSession::~ThreadMediaSession() {
  t_layer = m_previous;
  kvMediaSessionClose(m_session);
}
