#include "encoders/VBWAV2WMA.h"


#include <QFileInfo>
#include <cstring>

#include "app/Globals.h"
#include "encoders/ProgressWindow.h"
#include "shell/FileName.h"

namespace kv {

namespace {
constexpr int kTextOffsets[5] = {20, 148, 276, 404, 660};
constexpr int kTextSizes[5] = {128, 128, 128, 256, 128};

QString TrimSpaces(const QString& s) {
  int b = 0, e = s.size();
  while (b < e && s[b] == u' ') ++b;
  while (e > b && s[e - 1] == u' ') --e;
  return s.mid(b, e - b);
}

void PutText(QByteArray& rec, int offset, int size, const QString& text) {
  QByteArray bytes = PathBytes(TrimSpaces(text));
  if (bytes.size() > size) {
    int n = size;
    while (n > 0 && (static_cast<unsigned char>(bytes[n]) & 0xC0) == 0x80) --n;  // not inside a character
    bytes.truncate(n);
  }
  char* field = rec.data() + offset;
  std::memset(field, ' ', size);
  std::memcpy(field, bytes.constData(), bytes.size());
  if (bytes.size() < size) field[bytes.size()] = '\0';
}

QString GetText(const QByteArray& rec, int offset, int size) {
  const char* field = rec.constData() + offset;
  const void* nul = std::memchr(field, '\0', size);
  int n = nul ? static_cast<int>(static_cast<const char*>(nul) - field) : size;
  if (!nul)
    while (n > 0 && field[n - 1] == ' ') --n;
  return QString::fromUtf8(field, n);
}

void PutInt(QByteArray& rec, int offset, int32_t v) {
  for (int i = 0; i < 4; ++i) rec[offset + i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
}

int32_t GetInt(const QByteArray& rec, int offset) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(rec[offset + i])) << (8 * i);
  return static_cast<int32_t>(v);
}
}  // namespace

QByteArray WmaSettingsToAnsi(const WmaEncodeSettings& s) {
  QByteArray rec(kWmaSettingsBytes, '\0');
  PutInt(rec, 0, s.BitRate);
  PutInt(rec, 4, s.SampleRate);
  PutInt(rec, 8, s.Channels);
  PutInt(rec, 12, s.Quality);
  PutInt(rec, 16, s.Flags);
  const QString* texts[5] = {&s.Title, &s.Author, &s.Copyright, &s.Description, &s.Rating};
  for (int i = 0; i < 5; ++i) PutText(rec, kTextOffsets[i], kTextSizes[i], *texts[i]);
  return rec;
}

WmaEncodeSettings WmaSettingsFromAnsi(const QByteArray& rec) {
  WmaEncodeSettings s;
  if (rec.size() < kWmaSettingsBytes) return s;
  s.BitRate = GetInt(rec, 0);
  s.SampleRate = GetInt(rec, 4);
  s.Channels = GetInt(rec, 8);
  s.Quality = GetInt(rec, 12);
  s.Flags = GetInt(rec, 16);
  QString* texts[5] = {&s.Title, &s.Author, &s.Copyright, &s.Description, &s.Rating};
  for (int i = 0; i < 5; ++i) *texts[i] = GetText(rec, kTextOffsets[i], kTextSizes[i]);
  return s;
}

WmaEncodeSettings DefaultWmaSettings(const QString& title) {
  WmaEncodeSettings s;
  s.Title = title;
  return s;
}

QString WmaTitleFor(const QString& waveFileName) {
  const QString name = QFileInfo(waveFileName).fileName();
  return name.left(name.size() - 4);
}

const VbwwApi* LoadVbww(const QString& appPath) {
  const SharedLibrary* lib = LoadLibraryIn(appPath, QStringLiteral("vbwav2wma.dll"));
  if (!lib) return nullptr;
  static VbwwApi api;
  const bool ok = lib->Bind(api.vbww_encodeOpen, "vbww_encodeOpen") && lib->Bind(api.vbww_encodeStart, "vbww_encodeStart") &&
                  lib->Bind(api.vbww_getEncodeState, "vbww_getEncodeState") && lib->Bind(api.vbww_debug, "vbww_debug");
  return ok ? &api : nullptr;
}

bool OpenWmaEncode(const QString& wavePath, const QString& wmaPath, int32_t openInfo[4], WmaEncodeSettings& settings) {
  settings.Title = TrimSpaces(settings.Title);
  settings.Author = TrimSpaces(settings.Author);
  settings.Copyright = TrimSpaces(settings.Copyright);
  settings.Description = TrimSpaces(settings.Description);
  settings.Rating = TrimSpaces(settings.Rating);
  const VbwwApi* api = LoadVbww(G().AppPath);
  if (!api) return false;
  QByteArray ansi = WmaSettingsToAnsi(settings);
  const int32_t r = api->vbww_encodeOpen(PathBytes(wavePath).constData(), PathBytes(wmaPath).constData(), openInfo,
                                         ansi.data());
  settings = WmaSettingsFromAnsi(ansi);
  return (r & 0xFFFF) != 0;
}

}  // namespace kv
