#include "capacity/Volume.h"

#include <QDir>
#include <algorithm>
#include <QFile>
#include <QFileInfo>
#include <sys/vfs.h>

#include "kernel32.h"

namespace kv {

namespace {

// Mount points in mountinfo escape space, tab, newline and backslash as \ooo.
QString UnescapeMountField(const QByteArray& f) {
  QByteArray out;
  out.reserve(f.size());
  for (qsizetype i = 0; i < f.size(); ++i) {
    if (f[i] == '\\' && i + 3 < f.size()) {
      int v = 0;
      bool ok = true;
      for (int k = 1; k <= 3; ++k) {
        const char c = f[i + k];
        ok = ok && c >= '0' && c <= '7';
        v = v * 8 + (c - '0');
      }
      if (ok) {
        out.append(char(v));
        i += 3;
        continue;
      }
    }
    out.append(f[i]);
  }
  return QString::fromUtf8(out);
}

bool IsUnder(const QString& path, const QString& mount) {
  if (mount == QLatin1String("/")) return path.startsWith('/');
  return path == mount || path.startsWith(mount + '/');
}

// The path with symbolic links resolved; for a missing path, its nearest existing parent.
QString ResolvedPath(const QString& path) {
  QString p = QDir::cleanPath(QDir(path.isEmpty() ? QStringLiteral("/") : path).absolutePath());
  while (true) {
    const QString c = QFileInfo(p).canonicalFilePath();
    if (!c.isEmpty()) return c;
    if (p == QLatin1String("/")) return p;
    p = QFileInfo(p).path();
  }
}

// Magic numbers statfs reports for network file systems (sshfs shows only as generic FUSE).
bool IsNetworkMagic(long type) {
  switch (static_cast<unsigned long>(type) & 0xffffffffUL) {
    case 0x6969UL:      // NFS
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x517BUL:      // SMB
      return true;
    default:
      return false;
  }
}

}  // namespace

MountEntry MountFromMountInfo(const QByteArray& mountinfo, const QString& absPath) {
  MountEntry best{QStringLiteral("/"), QString()};
  int bestLen = -1;
  for (const QByteArray& line : mountinfo.split('\n')) {
    // id parent major:minor root mount-point options [optional...] - fstype source super-options
    const QList<QByteArray> f = line.split(' ');
    if (f.size() < 7) continue;
    const qsizetype dash = f.indexOf(QByteArray("-"), 6);
    if (dash < 0 || dash + 1 >= f.size()) continue;
    const QString mount = UnescapeMountField(f[4]);
    if (!mount.startsWith('/') || !IsUnder(absPath, mount)) continue;
    // Later lines mount over earlier ones at the same point.
    if (mount.size() >= bestLen) {
      bestLen = int(mount.size());
      best = {mount, QString::fromUtf8(f[dash + 1])};
    }
  }
  return best;
}

MountEntry MountOf(const QString& path) {
  const QString p = ResolvedPath(path);
  QFile f(QStringLiteral("/proc/self/mountinfo"));
  QByteArray text;
  if (f.open(QIODevice::ReadOnly)) text = f.readAll();  // a proc file: size unknown until read
  return MountFromMountInfo(text, p);
}

bool IsNetworkFsType(const QString& t) {
  const QString s = t.toLower();
  return s == QLatin1String("nfs") || s == QLatin1String("nfs4") || s == QLatin1String("cifs") ||
         s == QLatin1String("smb3") || s == QLatin1String("smbfs") || s == QLatin1String("smb") ||
         s == QLatin1String("fuse.sshfs") || s == QLatin1String("sshfs");
}

bool IsNetworkPath(const QString& path) {
  if (path.startsWith(QLatin1String("//"))) return true;
  const QString p = ResolvedPath(path);
  if (IsNetworkFsType(MountOf(p).fsType)) return true;
  struct statfs s{};
  return statfs(p.toUtf8().constData(), &s) == 0 && IsNetworkMagic(long(s.f_type));
}

quint64 GetFreeBytes(const QString& path) {
  ULARGE_INTEGER avail{}, total{}, free{};
  if (!GetDiskFreeSpaceExA(path.toUtf8().constData(), &avail, &total, &free)) return 0;
  // Carried as a four-decimal fixed-point value: exact up to this many bytes.
  constexpr quint64 kMax = 922337203685477ULL;
  return std::min<quint64>(free.QuadPart, kMax);
}

QString GroupedNumber(quint64 n) {
  QString digits = QString::number(n);
  for (qsizetype i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, ',');
  return digits;
}

}  // namespace kv
