// Private profiles (INI files): GetPrivateProfileStringA / WritePrivateProfileStringA.
//
// The file is read on every call. Lines are kept as found (comments, unknown lines, blank
// lines, line endings); only the line of a changed key, the lines of a deleted section or
// key and newly added lines differ after a write. A write goes to a temporary file in the
// same folder which then replaces the original, so a failed write leaves the old file whole.
// Text is UTF-8; a legacy file is decoded (CP932, else Latin-1) and written back as UTF-8.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "kernel32.h"
#include "owned.h"
#include "replacing_file.h"
#include "textcodec.h"

namespace {

// Larger files are not settings files; reading them would only waste memory.
constexpr off_t kMaxProfileBytes = 64L * 1024 * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

enum class Kind { Other, Section, Key };

struct Line {
  std::string_view raw;      // the whole line with its terminator
  std::string_view content;  // without terminator (and without a BOM on the first line)
  Kind kind = Kind::Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
  size_t valueOffset = 0;  // where the value text starts within `raw`
};

struct Profile {
  bool exists = false;
  bool usable = true;  // false for files that are not text (NUL bytes, huge)
  bool converted = false;  // decoded from a legacy code page
  std::string text;        // UTF-8
  std::vector<Line> lines;
  std::string eol = "\n";
};

void Parse(Profile& p) {
  std::string_view all(p.text);
  bool eolChosen = false;
  size_t pos = 0;
  while (pos < all.size()) {
    size_t nl = all.find('\n', pos);
    size_t end = nl == std::string_view::npos ? all.size() : nl + 1;
    Line ln;
    ln.raw = all.substr(pos, end - pos);
    std::string_view c = ln.raw;
    if (!c.empty() && c.back() == '\n') {
      c.remove_suffix(1);
      bool crlf = !c.empty() && c.back() == '\r';
      if (crlf) c.remove_suffix(1);
      if (!eolChosen) {
        p.eol = crlf ? "\r\n" : "\n";
        eolChosen = true;
      }
    }
    size_t skip = 0;
    if (pos == 0 && c.substr(0, 3) == "\xEF\xBB\xBF") skip = 3;
    c.remove_prefix(skip);
    ln.content = c;
    std::string_view t = Trim(c);
    if (!t.empty() && t.front() == '[') {
      size_t close = t.rfind(']');
      if (close != std::string_view::npos && close > 0) {
        ln.kind = Kind::Section;
        ln.name = Trim(t.substr(1, close - 1));
      }
    } else if (!t.empty() && t.front() != ';' && t.front() != '#') {
      size_t eq = t.find('=');
      if (eq != std::string_view::npos) {
        ln.kind = Kind::Key;
        ln.name = Trim(t.substr(0, eq));
        std::string_view rest = t.substr(eq + 1);
        while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
        ln.value = Trim(rest);
        ln.valueOffset = static_cast<size_t>(rest.data() - ln.raw.data());
      }
    }
    p.lines.push_back(ln);
    pos = end;
  }
}

// Windows looks a bare file name up in the Windows folder.
std::string ResolveName(LPCSTR fileName) {
  std::string name = fileName ? fileName : "win.ini";
  if (name.find('/') == std::string::npos) {
    char dir[PATH_MAX];
    UINT n = GetWindowsDirectoryA(dir, sizeof dir);
    if (n > 0 && n < sizeof dir) name = std::string(dir) + "/" + name;
  }
  return name;
}

// The last large file read, kept while it is unchanged on disk (same file, size and time stamp):
// the program reads its settings key by key, and a large file would be parsed again for each
// key. Small files are always read afresh, so even an edit within one time-stamp tick is seen.
constexpr off_t kCachedProfileBytes = 256 * 1024;
struct Cached {
  std::string path;
  struct stat st {};
  std::shared_ptr<const Profile> profile;
};
std::mutex g_cacheMutex;
Cached g_cache;

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

std::shared_ptr<const Profile> Load(const std::string& path) {
  auto p = std::make_shared<Profile>();
  kv::UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  const int fd = file.get();
  if (fd < 0) {
    // A file that exists but cannot be read must not be replaced by a write.
    if (errno != ENOENT && errno != ENOTDIR) {
      p->exists = true;
      p->usable = false;
    }
    return p;
  }
  struct stat st{};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    p->exists = true;
    p->usable = false;
    return p;
  }
  {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    if (g_cache.profile && g_cache.path == path && SameFile(g_cache.st, st)) {
      return g_cache.profile;
    }
  }
  p->exists = true;
  if (st.st_size > kMaxProfileBytes) {
    p->usable = false;
    return p;
  }
  std::string bytes;
  bytes.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t r = read(fd, bytes.data() + got, bytes.size() - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  file.reset();
  bytes.resize(got);
  if (bytes.find('\0') != std::string::npos) {
    p->usable = false;
    return p;
  }
  kv::text::Encoding enc;
  p->text = kv::text::ToUtf8(bytes, &enc);
  p->converted = enc != kv::text::Encoding::Utf8;
  Parse(*p);
  if (got == static_cast<size_t>(st.st_size) && st.st_size >= kCachedProfileBytes) {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    g_cache = Cached{path, st, p};
  }
  return p;
}

// First line index of the first section called `name`, or -1; `end` = one past its last line.
long FindSection(const Profile& p, std::string_view name, size_t* end) {
  for (size_t i = 0; i < p.lines.size(); ++i) {
    if (p.lines[i].kind != Kind::Section || !SameName(p.lines[i].name, name)) continue;
    size_t j = i + 1;
    while (j < p.lines.size() && p.lines[j].kind != Kind::Section) ++j;
    *end = j;
    return static_cast<long>(i);
  }
  return -1;
}

// Copies a NUL-terminated value, cut at a character boundary to fit.
DWORD CopyValue(std::string_view v, LPSTR out, DWORD size) {
  size_t n = kv::text::Utf8PrefixLength(v, size - 1);
  memcpy(out, v.data(), n);
  out[n] = '\0';
  SetLastError(n < v.size() ? ERROR_MORE_DATA : ERROR_SUCCESS);
  return static_cast<DWORD>(n);
}

// Copies a list of names, each NUL-terminated, with a second NUL at the end. When it does
// not fit, the list is cut, ends with two NULs and the result is size - 2.
DWORD CopyList(const std::vector<std::string_view>& names, LPSTR out, DWORD size) {
  std::string list;
  for (auto n : names) {
    list.append(n);
    list.push_back('\0');
  }
  if (list.size() + 1 <= size) {
    memcpy(out, list.data(), list.size());
    out[list.size()] = '\0';
    if (list.empty() && size > 1) out[1] = '\0';
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(list.size());
  }
  memset(out, 0, size);
  if (size <= 2) {
    SetLastError(ERROR_MORE_DATA);
    return 0;
  }
  size_t keep = kv::text::Utf8PrefixLength(list, size - 2);
  memcpy(out, list.data(), keep);
  SetLastError(ERROR_MORE_DATA);
  return size - 2;
}

std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

// Writes `data` to a temporary file beside `path` and renames it over `path`.
kv::Status ReplaceFile(const std::string& path, const std::string& data) {
  kv::ReplacingFile file;
  if (kv::Status st = file.Create(path); !st) return st;
  if (std::fwrite(data.data(), 1, data.size(), file.Stream()) != data.size())
    return kv::Status::Error("cannot write " + path, errno);
  return file.Commit();
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

KV_API DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                             LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
  if (!lpReturnedString || nSize == 0) return 0;
  static const Profile kEmpty;
  const std::shared_ptr<const Profile> loaded = Load(ResolveName(lpFileName));
  const Profile& p = loaded->usable ? *loaded : kEmpty;

  if (!lpAppName) {
    std::vector<std::string_view> names;
    for (const Line& l : p.lines)
      if (l.kind == Kind::Section) names.push_back(l.name);
    return CopyList(names, lpReturnedString, nSize);
  }
  std::string_view section = Trim(lpAppName);
  size_t end = 0;
  long start = FindSection(p, section, &end);
  if (!lpKeyName) {
    std::vector<std::string_view> names;
    if (start >= 0)
      for (size_t i = start + 1; i < end; ++i)
        if (p.lines[i].kind == Kind::Key) names.push_back(p.lines[i].name);
    return CopyList(names, lpReturnedString, nSize);
  }
  std::string_view key = Trim(lpKeyName);
  if (start >= 0) {
    for (size_t i = start + 1; i < end; ++i)
      if (p.lines[i].kind == Kind::Key && SameName(p.lines[i].name, key))
        return CopyValue(Unquote(p.lines[i].value), lpReturnedString, nSize);
  }
  std::string_view def = lpDefault ? lpDefault : "";
  while (!def.empty() && IsBlank(def.back())) def.remove_suffix(1);
  DWORD n = CopyValue(def, lpReturnedString, nSize);
  if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_FILE_NOT_FOUND);
  return n;
}

KV_API BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                              LPCSTR lpFileName) {
  if (!lpAppName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string_view section = Trim(lpAppName);
  std::string_view key = lpKeyName ? Trim(lpKeyName) : std::string_view();
  std::string_view value = lpString ? std::string_view(lpString) : std::string_view();
  // Names and values that could not be read back as written are refused.
  if (section.empty() || HasLineBreak(section) || (lpKeyName && (key.empty() || HasLineBreak(key))) ||
      key.find('=') != std::string_view::npos || (!key.empty() && (key.front() == ';' || key.front() == '#' || key.front() == '[')) ||
      HasLineBreak(value)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string path = ResolveName(lpFileName);
  const std::shared_ptr<const Profile> loaded = Load(path);
  const Profile& p = *loaded;
  if (!p.usable) {
    SetLastError(p.exists ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
    return FALSE;
  }

  // Build the new text from the old lines: `drop` removes lines, `replace` rewrites one,
  // `insertAfter` adds text after a line (SIZE_MAX: at the very end).
  std::vector<bool> drop(p.lines.size(), false);
  long replaceAt = -1;
  std::string replacement;
  long insertAfter = -2;  // -2: nothing to insert
  std::string insertion;

  size_t end = 0;
  long start = FindSection(p, section, &end);
  if (!lpKeyName) {
    // Delete every section of that name with all its lines.
    for (size_t i = 0; i < p.lines.size(); ++i) {
      if (p.lines[i].kind != Kind::Section || !SameName(p.lines[i].name, section)) continue;
      size_t j = i;
      do drop[j++] = true;
      while (j < p.lines.size() && p.lines[j].kind != Kind::Section);
      i = j - 1;
    }
  } else if (!lpString) {
    if (start >= 0)
      for (size_t i = start + 1; i < end; ++i)
        if (p.lines[i].kind == Kind::Key && SameName(p.lines[i].name, key)) drop[i] = true;
  } else if (start >= 0) {
    long found = -1, lastKey = start;
    for (size_t i = start + 1; i < end; ++i) {
      if (p.lines[i].kind != Kind::Key) continue;
      lastKey = static_cast<long>(i);
      if (found < 0 && SameName(p.lines[i].name, key)) found = static_cast<long>(i);
    }
    if (found >= 0) {
      const Line& l = p.lines[found];
      std::string_view term = l.raw.substr(l.content.size() + (l.content.data() - l.raw.data()));
      replaceAt = found;
      replacement.assign(l.raw.substr(0, l.valueOffset));
      replacement.append(value);
      replacement.append(term);
    } else {
      insertAfter = lastKey;
      insertion.assign(key).append("=").append(value).append(p.eol);
    }
  } else {
    insertAfter = static_cast<long>(p.lines.size()) - 1;
    insertion.assign("[").append(section).append("]").append(p.eol);
    insertion.append(key).append("=").append(value).append(p.eol);
  }

  std::string out;
  out.reserve(p.text.size() + insertion.size() + replacement.size());
  if (insertAfter == -1) out.append(insertion);
  for (size_t i = 0; i < p.lines.size(); ++i) {
    if (drop[i]) continue;
    if (static_cast<long>(i) == replaceAt) {
      out.append(replacement);
    } else {
      out.append(p.lines[i].raw);
    }
    if (static_cast<long>(i) == insertAfter) {
      if (!out.empty() && out.back() != '\n') out.append(p.eol);
      out.append(insertion);
    }
  }
  if (out == p.text && p.exists) return TRUE;
  if (!p.exists && insertion.empty() && replacement.empty()) return TRUE;  // nothing to delete
  if (const kv::Status st = ReplaceFile(path, out); !st) {
    SetLastError(st.code() == ENOENT || st.code() == ENOTDIR ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
    return FALSE;
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
