// Folders, paths, disk space, version and directory search.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "kernel32.h"
#include "owned.h"
#include "path_list.h"

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameNameNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// Copies `s` with Win32 buffer rules: the length on success, the size needed
// (with the NUL) when the buffer is too small.
DWORD CopyOut(const std::string& s, LPSTR buf, DWORD size) {
  if (!buf || size <= s.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return static_cast<DWORD>(s.size() + 1);
  }
  memcpy(buf, s.c_str(), s.size() + 1);
  return static_cast<DWORD>(s.size());
}

std::string DropTrailingSlashes(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string ExeFolderOrEmpty() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string exe(buf, static_cast<size_t>(n));
  size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : exe.substr(0, slash);
}

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string SpecialFolder(const char* envName, const char* sub) {
  const char* env = getenv(envName);
  if (env && *env) return DropTrailingSlashes(env);
  std::string exe = ExeFolderOrEmpty();
  if (exe.empty()) return {};
  return Join(exe, sub);
}

bool IsDir(const std::string& p) {
  struct stat st{};
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFileNotDir(const std::string& p) {
  struct stat st{};
  return stat(p.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// A name in `dir` equal to `name` without regard to letter case, or empty.
std::string FindNoCase(const std::string& dir, const std::string& name) {
  kv::UniqueDir d(opendir(dir.empty() ? "." : dir.c_str()));
  if (!d) return {};
  while (dirent* e = readdir(d.get()))
    if (SameNameNoCase(e->d_name, name)) return e->d_name;
  return {};
}

// Exact name first, then a name that differs only in letter case; directories do not count.
std::string FindInFolder(const std::string& dir, const std::string& name) {
  std::string p = Join(dir, name);
  if (IsFileNotDir(p)) return p;
  std::string other = FindNoCase(dir, name);
  if (!other.empty() && IsFileNotDir(Join(dir, other))) return Join(dir, other);
  return {};
}

std::string Absolute(const std::string& p) {
  if (!p.empty() && p.front() == '/') return p;
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd)) return p;
  std::string rel = p;
  while (rel.compare(0, 2, "./") == 0) rel.erase(0, 2);
  return Join(cwd, rel);
}

// Windows wildcards: '*' any run, '?' one character, letter case ignored.
bool WildMatch(const char* pat, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*pat == '*') {
      star = pat++;
      resume = name;
    } else if (*pat == '?' || (*pat && Lower(*pat) == Lower(*name))) {
      ++pat;
      ++name;
    } else if (star) {
      pat = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pat == '*') ++pat;
  return *pat == '\0';
}

bool PatternMatches(const std::string& pat, const std::string& name) {
  if (WildMatch(pat.c_str(), name.c_str())) return true;
  bool hasDot = name.find('.') != std::string::npos && name != "." && name != "..";
  // "name.*" also matches "name"; "name." matches "name" (names without extension).
  if (pat.size() >= 2 && pat.compare(pat.size() - 2, 2, ".*") == 0 && !hasDot)
    return WildMatch(pat.substr(0, pat.size() - 2).c_str(), name.c_str());
  if (!pat.empty() && pat.back() == '.' && !hasDot) {
    std::string p = pat;
    while (!p.empty() && p.back() == '.') p.pop_back();
    return WildMatch(p.c_str(), name.c_str());
  }
  return false;
}

void TimeToFileTime(const timespec& ts, FILETIME* ft) {
  // 100-nanosecond steps since 1601-01-01.
  uint64_t v = (static_cast<uint64_t>(ts.tv_sec) + 11644473600ULL) * 10000000ULL + ts.tv_nsec / 100;
  ft->dwLowDateTime = static_cast<DWORD>(v);
  ft->dwHighDateTime = static_cast<DWORD>(v >> 32);
}

bool FillFindData(const std::string& path, const std::string& name, WIN32_FIND_DATAA* fd) {
  struct stat st{};
  if (stat(path.c_str(), &st) != 0 && lstat(path.c_str(), &st) != 0) return false;
  memset(fd, 0, sizeof *fd);
  DWORD attr = 0;
  if (S_ISDIR(st.st_mode)) attr |= FILE_ATTRIBUTE_DIRECTORY;
  if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) attr |= FILE_ATTRIBUTE_READONLY;
  if (name.size() > 1 && name[0] == '.' && name != "..") attr |= FILE_ATTRIBUTE_HIDDEN;
  fd->dwFileAttributes = attr ? attr : FILE_ATTRIBUTE_NORMAL;
  TimeToFileTime(st.st_mtim, &fd->ftCreationTime);
  TimeToFileTime(st.st_atim, &fd->ftLastAccessTime);
  TimeToFileTime(st.st_mtim, &fd->ftLastWriteTime);
  if (!S_ISDIR(st.st_mode)) {
    uint64_t size = static_cast<uint64_t>(st.st_size);
    fd->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    fd->nFileSizeLow = static_cast<DWORD>(size);
  }
  size_t n = std::min(name.size(), sizeof fd->cFileName - 1);
  memcpy(fd->cFileName, name.data(), n);
  return true;
}

struct FindState {
  std::vector<WIN32_FIND_DATAA> found;
  size_t next = 0;
};

std::mutex g_findMutex;
std::set<FindState*> g_finds;

}  // namespace

KV_API UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  std::string dir = SpecialFolder("KORVESSA_WINDOWS_DIR", "windows");
  if (dir.empty()) return 0;
  return CopyOut(dir, lpBuffer, uSize);
}

KV_API UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  std::string dir = SpecialFolder("KORVESSA_SYSTEM_DIR", "system");
  if (dir.empty()) return 0;
  return CopyOut(dir, lpBuffer, uSize);
}

KV_API DWORD WINAPI GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
  if (!lpszLongPath || !*lpszLongPath) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  struct stat st{};
  if (stat(lpszLongPath, &st) != 0) {
    SetLastError(errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
    return 0;
  }
  return CopyOut(lpszLongPath, lpszShortPath, cchBuffer);
}

KV_API BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  // OSVERSIONINFOA (148 bytes) or OSVERSIONINFOEXA (156 bytes).
  if (!info || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) && info->dwOSVersionInfoSize != 156)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  DWORD size = info->dwOSVersionInfoSize;
  memset(reinterpret_cast<char*>(info) + sizeof(DWORD), 0, size - sizeof(DWORD));
  utsname u{};
  unsigned major = 0, minor = 0, build = 0;
  if (uname(&u) == 0) sscanf(u.release, "%u.%u.%u", &major, &minor, &build);
  info->dwMajorVersion = major;
  info->dwMinorVersion = minor;
  info->dwBuildNumber = build;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  return TRUE;
}

KV_API BOOL WINAPI GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                                       PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes) {
  const char* path = (lpDirectoryName && *lpDirectoryName) ? lpDirectoryName : ".";
  struct statvfs vfs{};
  if (statvfs(path, &vfs) != 0) {
    SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
    return FALSE;
  }
  uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
  if (lpFreeBytesAvailableToCaller) lpFreeBytesAvailableToCaller->QuadPart = uint64_t(vfs.f_bavail) * unit;
  if (lpTotalNumberOfBytes) lpTotalNumberOfBytes->QuadPart = uint64_t(vfs.f_blocks) * unit;
  if (lpTotalNumberOfFreeBytes) lpTotalNumberOfFreeBytes->QuadPart = uint64_t(vfs.f_bfree) * unit;
  return TRUE;
}

KV_API DWORD WINAPI SearchPathA(LPCSTR lpPath, LPCSTR lpFileName, LPCSTR lpExtension, DWORD nBufferLength,
                                LPSTR lpBuffer, LPSTR* lpFilePart) {
  if (!lpFileName || !*lpFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string name = lpFileName;
  size_t lastSlash = name.rfind('/');
  std::string last = lastSlash == std::string::npos ? name : name.substr(lastSlash + 1);
  if (lpExtension && *lpExtension && last.find('.') == std::string::npos) name += lpExtension;

  std::string found;
  if (lastSlash != std::string::npos) {
    // A path is taken as given (relative to the current folder).
    std::string dir = name.substr(0, lastSlash == 0 ? 1 : lastSlash);
    found = FindInFolder(dir, name.substr(lastSlash + 1));
  } else {
    std::vector<std::string> dirs;
    if (lpPath) {
      dirs = kv::platform::SplitPathList(lpPath, ":;");
    } else {
      // The standard order: the program's folder, the current folder, then PATH.
      std::string exe = ExeFolderOrEmpty();
      if (!exe.empty()) dirs.push_back(exe);
      dirs.push_back(".");
      for (std::string& d : kv::platform::PathDirs()) dirs.push_back(std::move(d));
    }
    for (const auto& d : dirs) {
      found = FindInFolder(d, name);
      if (!found.empty()) break;
    }
  }
  if (found.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  found = Absolute(found);
  DWORD r = CopyOut(found, lpBuffer, nBufferLength);
  if (r == found.size() && lpFilePart) *lpFilePart = lpBuffer + found.rfind('/') + 1;
  return r;
}

KV_API HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (!lpFileName || !lpFindFileData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string pattern = lpFileName;
  // "" and "/" have no entry of their own; a trailing "/" names no file either.
  if (pattern.empty() || pattern.back() == '/') {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  size_t slash = pattern.rfind('/');
  std::string dir = slash == std::string::npos ? "" : pattern.substr(0, slash == 0 ? 1 : slash);
  std::string last = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  if (!dir.empty() && !IsDir(dir)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }

  auto* state = new FindState;
  WIN32_FIND_DATAA fd;
  if (last.find_first_of("*?") == std::string::npos) {
    std::string path = Join(dir, last);
    struct stat st{};
    std::string name = last;
    if (lstat(path.c_str(), &st) != 0) name = FindNoCase(dir, last);
    if (!name.empty() && FillFindData(Join(dir, name), name, &fd)) state->found.push_back(fd);
  } else {
    if (kv::UniqueDir d{opendir(dir.empty() ? "." : dir.c_str())}) {
      while (dirent* e = readdir(d.get())) {
        std::string name = e->d_name;
        if (PatternMatches(last, name) && FillFindData(Join(dir, name), name, &fd)) state->found.push_back(fd);
      }
    }
    std::sort(state->found.begin(), state->found.end(), [](const WIN32_FIND_DATAA& a, const WIN32_FIND_DATAA& b) {
      return strcasecmp(a.cFileName, b.cFileName) < 0;
    });
  }
  if (state->found.empty()) {
    delete state;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *lpFindFileData = state->found[0];
  state->next = 1;
  std::lock_guard<std::mutex> lock(g_findMutex);
  g_finds.insert(state);
  return state;
}

KV_API BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  std::lock_guard<std::mutex> lock(g_findMutex);
  auto* state = static_cast<FindState*>(hFindFile);
  if (!g_finds.count(state) || !lpFindFileData) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (state->next >= state->found.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *lpFindFileData = state->found[state->next++];
  return TRUE;
}

KV_API BOOL WINAPI FindClose(HANDLE hFindFile) {
  std::lock_guard<std::mutex> lock(g_findMutex);
  auto* state = static_cast<FindState*>(hFindFile);
  if (!g_finds.erase(state)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete state;
  return TRUE;
}
