#include "fuzz_targets.h"
#include "kernel32.h"

#include <cstring>
#include <vector>

namespace kvfuzz {

namespace {

// Input layout: file bytes, NUL, section, NUL, key, NUL, value. Missing parts are absent names.
std::vector<std::string> SplitAtNul(const uint8_t* data, size_t size, size_t parts) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i <= size && out.size() + 1 < parts; ++i)
    if (i == size || data[i] == 0) {
      out.emplace_back(reinterpret_cast<const char*>(data) + start, i - start);
      start = i + 1;
      if (i == size) return out;
    }
  if (start <= size) out.emplace_back(reinterpret_cast<const char*>(data) + start, size - start);
  return out;
}

// Reads into a buffer of exactly n bytes so any write past it is caught.
void ReadInto(const char* section, const char* key, DWORD n, const std::string& file) {
  std::vector<char> buf(n ? n : 1);
  const DWORD got = GetPrivateProfileStringA(section, key, "default value", n ? buf.data() : nullptr, n,
                                             file.c_str());
  if (n == 0) return;
  if (got >= n) Fail("returned length not below the buffer size");
  // Name lists end with two NULs; a single value ends with one.
  if (buf[got] != '\0') Fail("result not terminated");
}

}  // namespace

int Profile(const uint8_t* data, size_t size) {
  const auto parts = SplitAtNul(data, size, 4);
  const std::string file = ScratchDir() + "/settings.ini";
  if (!WriteBytes(file, reinterpret_cast<const uint8_t*>(parts[0].data()), parts[0].size())) return 0;
  const char* section = parts.size() > 1 ? parts[1].c_str() : "Main";
  const char* key = parts.size() > 2 ? parts[2].c_str() : "Key";
  const char* value = parts.size() > 3 ? parts[3].c_str() : nullptr;
  const DWORD small = size ? DWORD(data[size - 1] % 40) : 0;

  for (DWORD n : {small, DWORD(4096)}) {
    ReadInto(nullptr, nullptr, n, file);  // section names
    ReadInto(section, nullptr, n, file);  // key names
    ReadInto(section, key, n, file);
  }
  // Write, delete a key, delete a section: each leaves a file the reader still understands.
  if (WritePrivateProfileStringA(section, key, value ? value : "new value", file.c_str()) && !value) {
    char buf[64];
    GetPrivateProfileStringA(section, key, "", buf, sizeof buf, file.c_str());
    // A plain value written under plain names reads back unchanged.
    auto plain = [](const char* s) {
      const size_t n = std::strlen(s);
      if (n == 0 || s[0] == ' ' || s[n - 1] == ' ' || s[0] == ';') return false;
      for (size_t i = 0; i < n; ++i)
        if (s[i] < 0x20 || s[i] > 0x7e || std::strchr("[]=\"", s[i])) return false;
      return true;
    };
    const bool plainNames = plain(section) && plain(key);
    if (plainNames && std::strcmp(buf, "new value") != 0) Fail("written value does not read back");
  }
  ReadInto(section, key, 4096, file);
  WritePrivateProfileStringA(section, key, nullptr, file.c_str());
  ReadInto(section, nullptr, small, file);
  WritePrivateProfileStringA(section, nullptr, nullptr, file.c_str());
  ReadInto(nullptr, nullptr, 4096, file);
  return 0;
}

}  // namespace kvfuzz
