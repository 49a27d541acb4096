#include "cli/Report.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/Verbs.h"
#include "shell/FileName.h"
#include "song_soundfont.h"

namespace kvcli {

QByteArray JsonString(const QString& text) {
  QByteArray out = "\"";
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c == u'"' || c == u'\\') {
      out += '\\';
      out += char(c.unicode());
    } else if (c == u'\n') {
      out += "\\n";
    } else if (c == u'\t') {
      out += "\\t";
    } else if (c.unicode() < 0x20 || (c.isSurrogate() && !(c.isHighSurrogate() && i + 1 < text.size() &&
                                                            text[i + 1].isLowSurrogate()))) {
      out += QByteArray("\\u") + QByteArray::number(c.unicode(), 16).rightJustified(4, '0');
    } else if (c.isHighSurrogate()) {
      out += QString(text.mid(i++, 2)).toUtf8();  // a pair: one character beyond the first plane
    } else {
      out += QString(c).toUtf8();
    }
  }
  return out + '"';
}

bool Manifest::Open(const QString& path, QString* error) {
  fd_.reset(open(kv::PathBytes(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!fd_) *error = QStringLiteral("%1: cannot open the manifest (%2)").arg(path, strerror(errno));
  return bool(fd_);
}

// The stems field: the stems' paths, when the run writes stems.
QByteArray Stems(const Outcome& o) {
  if (o.stems.isEmpty()) return {};
  QByteArray list;
  for (const QString& path : o.stems) list += (list.isEmpty() ? "" : ",") + JsonString(path);
  return ",\"stems\":[" + list + "]";
}

void Manifest::Append(const Item& item, const Outcome& o, const QString& soundFont, const QString& format) {
  if (!fd_) return;
  static const char* const kStatus[] = {"converted", "skipped", "failed"};
  const auto orNull = [](const QString& s) { return s.isEmpty() ? QByteArray("null") : JsonString(s); };
  const QByteArray row = "{\"input\":" + JsonString(item.input) + ",\"output\":" + orNull(item.output) +
                         ",\"status\":\"" + kStatus[int(o.status)] + "\",\"seconds\":" +
                         (o.seconds < 0 ? QByteArray("null") : QByteArray::number(o.seconds, 'f', 3)) +
                         ",\"elapsed\":" + QByteArray::number(o.elapsed, 'f', 3) + ",\"error\":" + orNull(o.error) +
                         ",\"soundfont\":" + orNull(soundFont) + ",\"format\":" + orNull(format) + Stems(o) + "}\n";
  // One write: rows of runs appending to the same file at once do not mix.
  const ssize_t ignored = write(fd_.get(), row.constData(), size_t(row.size()));
  (void)ignored;
}

Report::Report(const QList<Item>& items, Manifest& manifest, const kv::SystemSetup& setup, const QString& format)
    : items_(items),
      manifest_(manifest),
      setup_(setup),
      fonts_(items.size()),
      format_(format),
      terminal_(isatty(fileno(stdout))),
      over_(items.size(), false) {}

QString Report::SoundFontOf(int index) {
  if (fonts_[index].isNull()) {
    const Item& item = items_[index];
    if (!item.error.isEmpty()) {
      fonts_[index] = QString::fromStdString(kv::ResolveSoundFont(setup_));
    } else {
      const kv::SongSoundFont sf = kv::ChooseSoundFont(kv::PathBytes(item.input).toStdString(), setup_);
      if (!sf.notice.empty()) Said(QString::fromStdString(sf.notice));
      fonts_[index] = QString::fromStdString(sf.Name());
    }
  }
  return fonts_[index];
}

void Report::Started(int index) {
  SoundFontOf(index);
  Draw();
}

void Report::Finished(int index, const Outcome& o) {
  const Item& item = items_[index];
  over_[index] = true;
  ++finished_;
  manifest_.Append(item, o, SoundFontOf(index), format_);
  if (o.status == Status::Converted) {
    ++converted_;
    music_ += std::max(0.0, o.seconds);
    converting_ += o.elapsed;
    if (!terminal_) KvOut(item.output + "\n");
  } else if (o.status == Status::Failed) {
    ++failed_;
    Said(item.input + ": " + (item.error.isEmpty() ? QStringLiteral("not converted") : item.error));
  }
  Draw();
  std::fflush(stdout);
}

void Report::Said(const QString& text) {
  if (terminal_) std::fputs("\r\033[K", stdout), std::fflush(stdout);
  KvErr(QStringLiteral("korvessa: ") + text + "\n");
  Draw();
}

// "[done/total] music s, speed x real time, ETA h:mm:ss", the time left from the pace of the
// conversions so far.
void Report::Draw() {
  if (!terminal_) return;
  QString eta = QStringLiteral("--:--");
  if (converted_ > 0) {
    const qint64 left = qint64(converting_ / converted_ * (items_.size() - finished_) + 0.5);
    eta = QStringLiteral("%1:%2:%3").arg(left / 3600).arg(left / 60 % 60, 2, 10, QChar(u'0')).arg(left % 60, 2, 10, QChar(u'0'));
  }
  const double speed = converting_ > 0 ? music_ / converting_ : 0;
  KvOut(QStringLiteral("\r[%1/%2] %3 s of music, %4x real time, ETA %5\033[K")
            .arg(finished_)
            .arg(items_.size())
            .arg(music_, 0, 'f', 1)
            .arg(speed, 0, 'f', 1)
            .arg(eta));
  std::fflush(stdout);
}

void Report::End() {
  if (terminal_) KvOut(QStringLiteral("\n"));
  // A run of thousands stopped early names the first few it did not reach.
  constexpr int kNamed = 10;
  int left = 0;
  for (int i = 0; i < items_.size(); ++i)
    if (!over_[i] && ++left <= kNamed) KvErr(QStringLiteral("korvessa: %1: not converted\n").arg(items_[i].input));
  if (left > kNamed) KvErr(QStringLiteral("korvessa: %1 more inputs not converted\n").arg(left - kNamed));
}

}  // namespace kvcli
