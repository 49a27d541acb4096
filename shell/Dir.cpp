#include "shell/Dir.h"

#include "kernel32.h"
#include "shell/FileName.h"

namespace kv {

QStringList DirAll(const QString& pattern, int attributes) {
  QStringList names;
  if (pattern.isEmpty()) return names;
  WIN32_FIND_DATAA fd{};
  HANDLE h = FindFirstFileA(PathBytes(pattern).constData(), &fd);
  if (h == INVALID_HANDLE_VALUE || h == nullptr) return names;
  do {
    const bool isDir = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!isDir || (attributes & kWithDirectories)) names << PathText(QByteArray(fd.cFileName));
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  return names;
}

QString Dir(const QString& pattern, int attributes) {
  const QStringList all = DirAll(pattern, attributes);
  return all.isEmpty() ? QString() : all.first();
}

bool FileNamed(const QString& path, const QString& expectedLower) {
  if (path.isEmpty() || path == QStringLiteral("(なし)")) return false;
  return Dir(path).toLower() == expectedLower;
}

}  // namespace kv
