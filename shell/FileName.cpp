#include "shell/FileName.h"

#include "replacing_file.h"
#include "textcodec.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QUrl>

#include <cerrno>
#include <cstdio>
#include <memory>

namespace kv {

namespace {
// Length of the valid UTF-8 sequence at p (0 when there is none).
int Utf8Length(const unsigned char* p, qsizetype left) {
  const unsigned char c = p[0];
  int n;
  char32_t cp;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) n = 2, cp = c & 0x1F;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, cp = c & 0x0F;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, cp = c & 0x07;
  else return 0;
  if (left < n) return 0;
  for (int i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

bool Stat(const QString& path, struct stat* st) { return ::stat(PathBytes(path).constData(), st) == 0; }
}  // namespace

QString PathText(const QByteArray& bytes) {
  QString out;
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
  for (qsizetype i = 0; i < bytes.size();) {
    const int n = Utf8Length(p + i, bytes.size() - i);
    if (n == 0) {
      out.append(QChar(char16_t(0xDC00 + p[i])));
      ++i;
    } else {
      out.append(QString::fromUtf8(bytes.constData() + i, n));
      i += n;
    }
  }
  return out;
}

QByteArray PathBytes(const QString& text) {
  QByteArray out;
  out.reserve(text.size());
  qsizetype from = 0;  // start of the run of ordinary text not yet written
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t u = text[i].unicode();
    const bool pairedLow = i > 0 && QChar::isHighSurrogate(text[i - 1].unicode());
    if (u >= 0xDC80 && u <= 0xDCFF && !pairedLow) {
      out.append(QStringView(text).mid(from, i - from).toUtf8());
      out.append(char(u - 0xDC00));
      from = i + 1;
    }
  }
  out.append(QStringView(text).mid(from).toUtf8());
  return out;
}

QString DisplayName(const QString& text) {
  const auto escaped = [](QChar c) { return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF; };
  QString out;
  for (qsizetype i = 0; i < text.size();) {
    if (!escaped(text[i])) {
      out.append(text[i++]);
      continue;
    }
    // A run of such bytes, with the ASCII bytes a Shift-JIS character may end in.
    qsizetype end = i + 1;
    while (end < text.size() && (escaped(text[end]) || (escaped(text[end - 1]) && text[end] >= u'@' && text[end] <= u'~')))
      ++end;
    out.append(QString::fromStdString(text::ToUtf8(PathBytes(text.mid(i, end - i)).toStdString())));
    i = end;
  }
  return out;
}

QString Quoted(const QString& name) {
  QString out = QStringLiteral("\"");
  qsizetype backslashes = 0;
  for (QChar c : name) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    if (c == u'"') {
      out.append(QString(backslashes * 2 + 1, u'\\'));
    } else {
      out.append(QString(backslashes, u'\\'));
    }
    backslashes = 0;
    out.append(c);
  }
  out.append(QString(backslashes * 2, u'\\'));
  out.append(u'"');
  return out;
}

bool FileExists(const QString& path) {
  struct stat st {};
  return !path.isEmpty() && Stat(path, &st) && S_ISREG(st.st_mode);
}

bool FolderExists(const QString& path) {
  struct stat st {};
  return !path.isEmpty() && Stat(path, &st) && S_ISDIR(st.st_mode);
}

qint64 FileSize(const QString& path) {
  struct stat st {};
  return !path.isEmpty() && Stat(path, &st) && !S_ISDIR(st.st_mode) ? qint64(st.st_size) : -1;
}

bool RemoveFile(const QString& path) { return !path.isEmpty() && ::unlink(PathBytes(path).constData()) == 0; }

bool WriteProtected(const QString& path) {
  struct stat st {};
  return Stat(path, &st) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool RenameFile(const QString& from, const QString& to) {
  if (from.isEmpty() || to.isEmpty()) return false;
  const QByteArray a = PathBytes(from), b = PathBytes(to);
  // link + unlink never replaces a file that appeared meanwhile; rename serves file systems
  // without hard links once the target is known to be free.
  if (::link(a.constData(), b.constData()) == 0) {
    ::unlink(a.constData());
    return true;
  }
  if (errno == EEXIST) return false;
  struct stat st {};
  if (::lstat(b.constData(), &st) == 0) return false;
  return ::rename(a.constData(), b.constData()) == 0;
}

bool SetCurrentFolder(const QString& path) { return ::chdir(PathBytes(path.isEmpty() ? "/" : path).constData()) == 0; }

bool WriteFileReplacing(const QString& path, const QByteArray& bytes) {
  ReplacingFile file;
  if (!file.Create(PathBytes(path).toStdString(), ".~new")) return false;
  if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file.Stream()) != size_t(bytes.size())) return false;
  return bool(file.Commit());
}

SetAside::SetAside(const QString& path) : path_(path) {
  struct stat st {};
  if (path.isEmpty() || ::lstat(PathBytes(path).constData(), &st) != 0) return;
  for (int n = 0; n < 1000; ++n) {
    const QString candidate = path + (n ? QStringLiteral(".~kept%1").arg(n) : QStringLiteral(".~kept"));
    if (RenameFile(path, candidate)) {
      aside_ = candidate;
      return;
    }
    if (::lstat(PathBytes(candidate).constData(), &st) != 0) break;  // not a name clash: give up
  }
  ok_ = false;
}

SetAside::~SetAside() {
  if (!aside_.isEmpty()) RenameFile(aside_, path_);
}

QString CurrentFolder() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) ? PathText(QByteArray(buf)) : QString();
}

QByteArray ReadFileBytes(const QString& path, bool* ok) {
  QByteArray bytes;
  bool good = false;
  if (FileExists(path)) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(PathBytes(path).constData(), "rb"), std::fclose);
    if (f) {
      char buf[65536];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) bytes.append(buf, qsizetype(n));
      good = !std::ferror(f.get());
    }
  }
  if (ok) *ok = good;
  return good ? bytes : QByteArray();
}

QString LocalPathOf(const QUrl& url) {
  return PathText(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

QString AbsolutePath(const QString& path) {
  if (path.startsWith(u'/')) return path;
  QString cwd = CurrentFolder();
  if (cwd.isEmpty()) return path;
  if (!cwd.endsWith(u'/')) cwd += u'/';
  return cwd + path;
}

}  // namespace kv
