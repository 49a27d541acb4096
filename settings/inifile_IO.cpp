#include "settings/inifile_IO.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "kernel32.h"

namespace {

// Each read asks for at most this many bytes, the terminating NUL included.
constexpr DWORD kReadBufferSize = 1024;

std::string ReadRaw(const QString& file, const QString& section, const QString& key) {
  char buf[kReadBufferSize];
  memset(buf, 0, sizeof buf);
  const QByteArray s = section.toUtf8(), k = key.toUtf8(), f = file.toUtf8();
  GetPrivateProfileStringA(s.constData(), k.constData(), "", buf, kReadBufferSize, f.constData());
  buf[kReadBufferSize - 1] = '\0';
  return std::string(buf);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The numeric test: optional sign, digits with an optional decimal point and fraction,
// optional exponent, blanks around. Returns the number text without blanks and '+'.
bool NumericText(const std::string& raw, std::string& out) {
  size_t b = 0, e = raw.size();
  while (b < e && IsBlank(raw[b])) ++b;
  while (e > b && IsBlank(raw[e - 1])) --e;
  std::string t = raw.substr(b, e - b);
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  size_t digits = 0;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t expDigits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != t.size()) return false;
  out = (t[0] == '+') ? t.substr(1) : t;
  return true;
}

}  // namespace

float inifile_IO::ReadSng(const QString& section, const QString& Key, float Def) const {
  std::string text;
  if (!NumericText(ReadRaw(m_fileName, section, Key), text)) return Def;
  // from_chars ignores the user's locale, so "1.5" is 1.5 everywhere.
  float v = 0.0f;
  auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v)) return Def;
  return v;
}

bool inifile_IO::WriteStr(const QString& section, const QString& Key, const QString& sData) const {
  const QByteArray s = section.toUtf8(), k = Key.toUtf8(), d = sData.toUtf8(), f = m_fileName.toUtf8();
  return WritePrivateProfileStringA(s.constData(), k.constData(), d.constData(), f.constData()) != 0;
}

short inifile_IO::ReadInt(const QString& section, const QString& Key, short Def) const {
  std::string text;
  if (!NumericText(ReadRaw(m_fileName, section, Key), text)) return Def;
  double v = 0.0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v)) return Def;
  // Halves go to the even neighbour (2.5 -> 2, 3.5 -> 4).
  double rounded = std::nearbyint(v);
  if (rounded < -32768.0 || rounded > 32767.0) return Def;
  return static_cast<short>(rounded);
}

QString inifile_IO::ReadStr(const QString& section, const QString& Key, const QString& Def) const {
  std::string text = ReadRaw(m_fileName, section, Key);
  if (text.empty()) return Def;
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
