#include "textcodec.h"

#include <iconv.h>

#include "owned.h"

#include <cerrno>

namespace kv::text {

bool IsUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size(), i = 0;
  while (i < n) {
    unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return false;
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;
    i += len;
  }
  return true;
}

namespace {

// Runs iconv over the whole input; false on any invalid or incomplete sequence.
bool Convert(const char* to, const char* from, std::string_view in, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  const kv::Owned<void, iconv_close> owner(cd);
  out.clear();
  out.resize(in.size() * 2 + 16);  // grows on demand
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = out.data();
  size_t dstLeft = out.size();
  bool ok = true;
  while (srcLeft > 0) {
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      size_t used = dst - out.data();
      out.resize(out.size() * 2);
      dst = out.data() + used;
      dstLeft = out.size() - used;
      continue;
    }
    ok = false;
    break;
  }
  if (!ok) return false;
  out.resize(dst - out.data());
  return true;
}

// Byte structure of CP932 without the user-defined lead bytes F0..F9; cheap, so that
// binary or Latin-1 input is turned away before any conversion work.
bool LooksLikeCp932(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (size_t i = 0, n = s.size(); i < n; ++i) {
    unsigned char c = p[i];
    if (c < 0x80 || (c >= 0xA1 && c <= 0xDF)) continue;
    bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEF) || (c >= 0xFA && c <= 0xFC);
    if (!lead || i + 1 >= n) return false;
    unsigned char t = p[++i];
    if (t < 0x40 || t == 0x7F || t > 0xFC) return false;
  }
  return true;
}

}  // namespace

bool Cp932ToUtf8(std::string_view bytes, std::string& out) {
  if (!LooksLikeCp932(bytes)) return false;
  if (!Convert("UTF-8", "CP932", bytes, out)) return false;
  // Reject the user-defined area (U+E000..U+F8FF: EE 80 80 .. EF A3 BF) and C1 controls.
  const auto* p = reinterpret_cast<const unsigned char*>(out.data());
  for (size_t i = 0; i + 1 < out.size(); ++i) {
    if (p[i] == 0xC2 && p[i + 1] >= 0x80 && p[i + 1] <= 0x9F) return false;
    if (p[i] == 0xEE && i + 2 < out.size()) return false;
    if (p[i] == 0xEF && i + 2 < out.size() && p[i + 1] <= 0xA3) return false;
  }
  return true;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out(bytes.size() * 2, '\0');
  char* d = out.data();
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      *d++ = static_cast<char>(c);
    } else {
      *d++ = static_cast<char>(0xC0 | (c >> 6));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  out.resize(d - out.data());
  return out;
}

std::string ToUtf8(std::string_view bytes, Encoding* found) {
  if (IsUtf8(bytes)) {
    if (found) *found = Encoding::Utf8;
    return std::string(bytes);
  }
  std::string out;
  if (Cp932ToUtf8(bytes, out)) {
    if (found) *found = Encoding::Cp932;
    return out;
  }
  if (found) *found = Encoding::Latin1;
  return Latin1ToUtf8(bytes);
}

bool Utf8ToCp932(std::string_view utf8, std::string& out) { return Convert("CP932", "UTF-8", utf8, out); }

size_t Utf8PrefixLength(std::string_view s, size_t maxBytes) {
  if (s.size() <= maxBytes) return s.size();
  size_t n = maxBytes;
  // Step back over continuation bytes to the start of the character that was cut.
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace kv::text
