#include "shell/mShare.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <cstring>
#include <vector>

#include "kernel32.h"
#include "shell32.h"
#include "shlwapi.h"

namespace kv {

bool IsNTFor(const QStringList& args, const std::function<unsigned()>& platformId) {
  if (args.join(QLatin1Char(' ')) == QLatin1String("/NT")) return true;
  return platformId && platformId() == VER_PLATFORM_WIN32_NT;
}

namespace {
// Text up to the first NUL of a buffer.
QString UpToNul(const std::vector<char>& buf) {
  return QString::fromUtf8(buf.data(), static_cast<qsizetype>(strnlen(buf.data(), buf.size())));
}
}  // namespace

}  // namespace kv

bool IsNT() {
  QStringList args;
  if (QCoreApplication::instance()) args = QCoreApplication::arguments().mid(1);
  return kv::IsNTFor(args, [] {
    OSVERSIONINFOA vi;
    std::memset(&vi, 0, sizeof vi);
    vi.dwOSVersionInfoSize = 148;
    GetVersionExA(&vi);  // a failed call leaves dwPlatformId 0
    return static_cast<unsigned>(vi.dwPlatformId);
  });
}

long ShellOpen(const QString& target) {
  const QByteArray file = target.toUtf8();
  const QByteArray dir = QDir::currentPath().toUtf8();
  HINSTANCE h = ShellExecuteA(nullptr, "open", file.constData(), nullptr, dir.constData(), SW_SHOWNORMAL);
  const auto r = static_cast<long>(reinterpret_cast<intptr_t>(h));
  return r > 32 ? r : 0;
}

QString RemoveFileSpec(const QString& path) {
  const QByteArray utf8 = path.toUtf8();
  std::vector<char> buf(static_cast<size_t>(utf8.size()) + 1, '\0');
  std::memcpy(buf.data(), utf8.constData(), static_cast<size_t>(utf8.size()));
  if (!PathRemoveFileSpecA(buf.data())) return {};
  return kv::UpToNul(buf);
}

QString GetShortPath(const QString& path) {
  const QByteArray utf8 = path.toUtf8();
  std::vector<char> buf(300, '\0');
  // A longer short form reports its size without filling the buffer: the result stays empty.
  if (GetShortPathNameA(utf8.constData(), buf.data(), static_cast<DWORD>(buf.size())) == 0) return {};
  return kv::UpToNul(buf);
}
