// shell32 subset: programs are executed, documents and web addresses go to xdg-open,
// special folders are the XDG folders.
#include "shell32.h"
#include "path_list.h"

#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <string>

#include "kernel32.h"

namespace {

constexpr int kShellOk = 42;  // any value above 32 means success
constexpr DWORD kErrorNoAssociation = 1155;

// A program is what Linux can run: an ELF file or a "#!" script (the execute bit of a
// document copied from a FAT stick does not make it one).
bool IsExecutableFile(const std::string& path) {
  struct stat st{};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::ifstream f(path, std::ios::binary);
  char head[4] = {};
  f.read(head, 4);
  return (f.gcount() >= 2 && head[0] == '#' && head[1] == '!') ||
         (f.gcount() == 4 && memcmp(head, "\x7F" "ELF", 4) == 0);
}

bool IsElfWithoutExecuteBit(const std::string& path) {
  if (access(path.c_str(), X_OK) == 0) return false;
  std::ifstream f(path, std::ios::binary);
  char head[4] = {};
  f.read(head, 4);
  return f.gcount() == 4 && memcmp(head, "\x7F" "ELF", 4) == 0;
}

// "http:", "mailto:" ...: a scheme of two or more letters (so "C:" is no address).
bool IsAddress(const std::string& s) {
  size_t colon = s.find(':');
  if (colon == std::string::npos || colon < 2) return false;
  for (size_t i = 0; i < colon; ++i) {
    char c = s[i];
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
              (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
    if (!ok) return false;
  }
  return true;
}

bool Exists(const std::string& p) {
  struct stat st{};
  return stat(p.c_str(), &st) == 0;
}

std::string Join(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string ExeFolder() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string exe(buf, static_cast<size_t>(n));
  return exe.substr(0, exe.rfind('/'));
}

// Where a file named in a shell call is: as given, in the working folder, beside the
// program, or (for a bare name) on PATH. Empty when it is nowhere.
std::string Locate(const std::string& file, const std::string& dir) {
  if (file.front() == '/') return Exists(file) ? file : std::string();
  if (!dir.empty() && Exists(Join(dir, file))) return Join(dir, file);
  if (Exists(file)) return file;
  if (file.find('/') != std::string::npos) return {};
  std::string exe = ExeFolder();
  if (!exe.empty() && Exists(Join(exe, file))) return Join(exe, file);
  for (const std::string& d : kv::platform::PathDirs())
    if (IsExecutableFile(Join(d, file))) return Join(d, file);
  return {};
}

std::string FindOnPath(const char* name) {
  for (const std::string& d : kv::platform::PathDirs())
    if (access(Join(d, name).c_str(), X_OK) == 0) return Join(d, name);
  return {};
}

// One argument quoted so that the Windows command-line split gives it back unchanged.
std::string QuoteArg(const std::string& arg) {
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
    } else {
      if (c == '"') out.append(backslashes + 1, '\\');
      backslashes = 0;
    }
    out.push_back(c);
  }
  out.append(backslashes, '\\');
  out.push_back('"');
  return out;
}

// Hands a document, folder or address to the desktop. Without a desktop session or
// without xdg-open there is nobody to open it.
int OpenWithDesktop(const std::string& target) {
  const char* x = getenv("DISPLAY");
  const char* w = getenv("WAYLAND_DISPLAY");
  if ((!x || !*x) && (!w || !*w)) return SE_ERR_NOASSOC;
  std::string opener = FindOnPath("xdg-open");
  if (opener.empty()) return SE_ERR_NOASSOC;
  // Through the shell only to silence whatever xdg-open prints.
  std::string params = QuoteArg("-c") + " " + QuoteArg("exec \"$0\" \"$1\" >/dev/null 2>&1") + " " +
                       QuoteArg(opener) + " " + QuoteArg(target);
  return kvSpawnProgram("/bin/sh", params.c_str(), nullptr) ? kShellOk : SE_ERR_NOASSOC;
}

// The common part of ShellExecuteA and ShellExecuteExA; *pid receives a started program.
int Execute(LPCSTR verb, LPCSTR file, LPCSTR params, LPCSTR directory, DWORD* pid) {
  *pid = 0;
  if (verb && *verb && strcasecmp(verb, "open") != 0 && strcasecmp(verb, "explore") != 0) return SE_ERR_NOASSOC;
  if (!file || !*file) return SE_ERR_FNF;
  std::string target = file;
  if (IsAddress(target)) return OpenWithDesktop(target);
  std::string dir = directory ? directory : "";
  if (!dir.empty() && !Exists(dir)) return SE_ERR_PNF;
  std::string found = Locate(target, dir);
  if (found.empty()) return SE_ERR_FNF;
  if (IsExecutableFile(found)) {
    if (found.front() != '/') {
      char cwd[PATH_MAX];
      if (getcwd(cwd, sizeof cwd)) found = Join(cwd, found);
    }
    if (IsElfWithoutExecuteBit(found)) return SE_ERR_ACCESSDENIED;
    *pid = kvSpawnProgram(found.c_str(), params, dir.empty() ? nullptr : dir.c_str());
    return *pid ? kShellOk : SE_ERR_ACCESSDENIED;
  }
  return OpenWithDesktop(found);
}

void SetErrorFrom(int code) {
  switch (code) {
    case SE_ERR_FNF: SetLastError(ERROR_FILE_NOT_FOUND); break;
    case SE_ERR_PNF: SetLastError(ERROR_PATH_NOT_FOUND); break;
    case SE_ERR_ACCESSDENIED: SetLastError(ERROR_ACCESS_DENIED); break;
    case SE_ERR_NOASSOC: SetLastError(kErrorNoAssociation); break;
    default: break;
  }
}

std::string Home() {
  const char* h = getenv("HOME");
  if (h && *h) return h;
  if (passwd* pw = getpwuid(getuid())) return pw->pw_dir;
  return "/";
}

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = getenv(name);
  return (v && *v) ? std::string(v) : fallback;
}

// The desktop folder as xdg-user-dir would answer: user-dirs.dirs, else ~/Desktop, else ~.
std::string DesktopFolder() {
  const char* env = getenv("XDG_DESKTOP_DIR");
  if (env && *env) return env;
  std::string home = Home();
  std::ifstream f(Join(EnvOr("XDG_CONFIG_HOME", Join(home, ".config")), "user-dirs.dirs"));
  std::string line;
  while (std::getline(f, line)) {
    if (line.compare(0, 16, "XDG_DESKTOP_DIR=") != 0) continue;
    std::string v = line.substr(16);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (v.compare(0, 5, "$HOME") == 0) v = home + v.substr(5);
    if (!v.empty() && v.front() == '/' && Exists(v)) return v;
  }
  if (Exists(Join(home, "Desktop"))) return Join(home, "Desktop");
  return home;
}

constexpr uint32_t kIdListMagic = 0x4B564944;  // "KVID"

struct IdList {
  uint32_t magic;
  char path[1];
};

std::string StripSlashes(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace

KV_API HINSTANCE WINAPI ShellExecuteA(HWND, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                                      LPCSTR lpDirectory, INT) {
  DWORD pid = 0;
  int code = Execute(lpOperation, lpFile, lpParameters, lpDirectory, &pid);
  SetErrorFrom(code);
  return reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(code));
}

KV_API BOOL WINAPI ShellExecuteExA(LPSHELLEXECUTEINFOA p) {
  // 60 is the record's size on 32-bit Windows, which callers may still pass.
  if (!p || (p->cbSize != sizeof(SHELLEXECUTEINFOA) && p->cbSize != 60)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD pid = 0;
  int code = Execute(p->lpVerb, p->lpFile, p->lpParameters, p->lpDirectory, &pid);
  p->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(code));
  p->hProcess = nullptr;
  if (code <= 32) {
    SetErrorFrom(code);
    return FALSE;
  }
  if (pid && (p->fMask & SEE_MASK_NOCLOSEPROCESS)) p->hProcess = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
  return TRUE;
}

KV_API HRESULT WINAPI SHGetSpecialFolderLocation(HWND, int csidl, LPITEMIDLIST* ppidl) {
  if (!ppidl) return E_FAIL;
  *ppidl = nullptr;
  std::string home = Home();
  std::string path;
  switch (csidl) {
    case CSIDL_DESKTOP: path = DesktopFolder(); break;
    case CSIDL_PROGRAMS: path = Join(EnvOr("XDG_DATA_HOME", Join(home, ".local/share")), "applications"); break;
    case CSIDL_STARTUP: path = Join(EnvOr("XDG_CONFIG_HOME", Join(home, ".config")), "autostart"); break;
    case CSIDL_RECENT: path = EnvOr("XDG_DATA_HOME", Join(home, ".local/share")); break;
    default: return static_cast<HRESULT>(0x80070057L);  // E_INVALIDARG
  }
  path = StripSlashes(path);
  auto* id = static_cast<IdList*>(malloc(sizeof(IdList) + path.size()));
  if (!id) return static_cast<HRESULT>(0x8007000EL);  // E_OUTOFMEMORY
  id->magic = kIdListMagic;
  memcpy(id->path, path.c_str(), path.size() + 1);
  *ppidl = reinterpret_cast<LPITEMIDLIST>(id);
  return S_OK;
}

KV_API BOOL WINAPI SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath) {
  if (!pszPath) return FALSE;
  pszPath[0] = '\0';
  auto* id = reinterpret_cast<const IdList*>(pidl);
  if (!id || id->magic != kIdListMagic) return FALSE;
  size_t n = strlen(id->path);
  if (n >= MAX_PATH) return FALSE;
  memcpy(pszPath, id->path, n + 1);
  return TRUE;
}

KV_API void WINAPI CoTaskMemFree(LPVOID pv) { free(pv); }

KV_API HWND WINAPI GetDesktopWindow(void) { return reinterpret_cast<HWND>(static_cast<intptr_t>(0x10010)); }
