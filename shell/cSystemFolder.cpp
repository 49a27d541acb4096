#include "shell/cSystemFolder.h"

#include <cstring>
#include <vector>

#include "kernel32.h"
#include "shell32.h"

namespace {

QString UpToNul(const std::vector<char>& buf) {
  return QString::fromUtf8(buf.data(), static_cast<qsizetype>(strnlen(buf.data(), buf.size())));
}

// Directory queries use a 250-byte buffer; a result that does not fit leaves it empty.
QString DirectoryQuery(UINT(WINAPI* query)(LPSTR, UINT)) {
  std::vector<char> buf(250, '\0');
  if (query(buf.data(), static_cast<UINT>(buf.size())) == 0) return {};
  QString s = UpToNul(buf);
  while (s.size() > 1 && s.endsWith(QLatin1Char('/'))) s.chop(1);
  return s;
}

}  // namespace

QString cSystemFolder::Windows() const { return DirectoryQuery(&GetWindowsDirectoryA); }
QString cSystemFolder::System() const { return DirectoryQuery(&GetSystemDirectoryA); }
QString cSystemFolder::Recent() const { return GetSpecialFold(CSIDL_RECENT); }
QString cSystemFolder::Startup() const { return GetSpecialFold(CSIDL_STARTUP); }
QString cSystemFolder::Program() const { return GetSpecialFold(CSIDL_PROGRAMS); }
QString cSystemFolder::Desktop() const { return GetSpecialFold(CSIDL_DESKTOP); }

QString cSystemFolder::GetSpecialFold(long lngFolderType) const {
  LPITEMIDLIST pidl = nullptr;
  if (SHGetSpecialFolderLocation(GetDesktopWindow(), static_cast<int>(lngFolderType), &pidl) != S_OK || !pidl)
    return {};
  // The path is read into 256 bytes; the call may write up to MAX_PATH, so the buffer has room for that.
  std::vector<char> buf(MAX_PATH, '\0');
  const BOOL ok = SHGetPathFromIDListA(pidl, buf.data());
  CoTaskMemFree(pidl);
  if (!ok) return {};
  const QString s = UpToNul(buf);
  return s.toUtf8().size() < 256 ? s : QString();
}
