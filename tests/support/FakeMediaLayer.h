// A media layer that records every command and answers from a table, so the command texts,
// their order and the buffers passed can be checked without sound hardware.
#pragma once
#include <QList>
#include <QMap>
#include <QString>
#include <cstring>

#include "engine/MediaCommands.h"

struct SentCommand {
  QString text;
  bool buffer;          // a reply buffer was passed
  unsigned replyLength;
  bool operator==(const SentCommand&) const = default;
};

class FakeMediaLayer {
 public:
  QList<SentCommand> sent;
  QMap<QString, QByteArray> replies;  // command -> reply bytes (written as given, NULs included)
  QStringList devices;                // names of devices 0..n-1
  KvRecordTap tap = nullptr;          // the recorder's tap, as the engine set it
  void* tapContext = nullptr;

  FakeMediaLayer() {
    SetMediaLayer(MediaLayer{
        [this](LPCSTR cmd, LPSTR reply, UINT len, HWND) -> MCIERROR {
          const QString text = QString::fromUtf8(cmd);
          sent.append({text, reply != nullptr, len});
          if (reply && replies.contains(text)) {
            const QByteArray r = replies.value(text);
            std::memcpy(reply, r.constData(), std::min<size_t>(size_t(r.size()), len));
            if (size_t(r.size()) < len) reply[r.size()] = '\0';
            return 0;
          }
          return MCIERR_UNRECOGNIZED_COMMAND;
        },
        [this]() -> UINT { return UINT(devices.size()); },
        [this](UINT_PTR id, LPMIDIOUTCAPSA caps, UINT size) -> MMRESULT {
          if (size != sizeof(MIDIOUTCAPSA)) return MMSYSERR_INVALPARAM;
          const QString name = id == UINT_PTR(-1) ? QStringLiteral("Microsoft MIDI Mapper")
                               : id < UINT_PTR(devices.size()) ? devices[int(id)]
                                                               : QString();
          const QByteArray n = name.toUtf8().left(MAXPNAMELEN - 1);
          std::memcpy(caps->szPname, n.constData(), size_t(n.size()));
          caps->szPname[n.size()] = '\0';
          return MMSYSERR_NOERROR;
        },
        {},
        [this](LPCSTR, KvRecordTap t, void* context) -> BOOL {
          tap = t;
          tapContext = context;
          return TRUE;
        }});
  }
  ~FakeMediaLayer() { SetMediaLayer(MediaLayer{}); }
  QStringList texts() const {
    QStringList t;
    for (const SentCommand& c : sent) t << c.text;
    return t;
  }
};
