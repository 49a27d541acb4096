#include "encoders/VBWAV2WMA.h"


#include <QFileInfo>
#include <array>
#include <cstring>
#include <span>

#include "encoders/EncoderBackend.h"
#include "shell/FileName.h"

namespace kv {

namespace {
QString TrimSpaces(const QString& s) {
  int b = 0, e = s.size();
  while (b < e && s[b] == u' ') ++b;
  while (e > b && s[e - 1] == u' ') --e;
  return s.mid(b, e - b);
}

// The record's text fields with the program's texts, in field order.
template <class Record, class Settings>
auto Fields(Record& r, Settings& s) {
  auto field = [](auto& chars) { return std::span(chars).subspan(0); };  // one span type for every size
  return std::array{std::pair{field(r.title), &s.Title}, std::pair{field(r.author), &s.Author},
                    std::pair{field(r.copyright), &s.Copyright}, std::pair{field(r.description), &s.Description},
                    std::pair{field(r.rating), &s.Rating}};
}
}  // namespace

QByteArray WmaSettingsToAnsi(const WmaEncodeSettings& s) {
  VbwwEncodeSettings rec{};
  rec.bitRate = s.BitRate;
  rec.sampleRate = s.SampleRate;
  rec.channels = s.Channels;
  rec.quality = s.Quality;
  rec.flags = s.Flags;
  for (auto [field, text] : Fields(rec, s))
    SetWmaSettingsText(field.data(), field.size(), PathBytes(*text).toStdString());
  return QByteArray(reinterpret_cast<const char*>(&rec), sizeof rec);
}

WmaEncodeSettings WmaSettingsFromAnsi(const QByteArray& ansi) {
  WmaEncodeSettings s;
  VbwwEncodeSettings rec{};
  if (ansi.size() < kWmaSettingsBytes) return s;
  std::memcpy(&rec, ansi.constData(), sizeof rec);
  s.BitRate = rec.bitRate;
  s.SampleRate = rec.sampleRate;
  s.Channels = rec.channels;
  s.Quality = rec.quality;
  s.Flags = rec.flags;
  for (auto [field, text] : Fields(rec, s)) *text = QString::fromStdString(WmaSettingsText(field.data(), field.size()));
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

bool OpenWmaEncode(const QString& appPath, const QString& wavePath, const QString& wmaPath, int32_t openInfo[4],
                   WmaEncodeSettings& settings) {
  settings.Title = TrimSpaces(settings.Title);
  settings.Author = TrimSpaces(settings.Author);
  settings.Copyright = TrimSpaces(settings.Copyright);
  settings.Description = TrimSpaces(settings.Description);
  settings.Rating = TrimSpaces(settings.Rating);
  const VbwwApi* api = LoadVbww(appPath);
  if (!api) return false;
  QByteArray ansi = WmaSettingsToAnsi(settings);
  const int32_t r = api->vbww_encodeOpen(PathBytes(wavePath).constData(), PathBytes(wmaPath).constData(), openInfo,
                                         ansi.data());
  settings = WmaSettingsFromAnsi(ansi);
  return (r & 0xFFFF) != 0;
}

}  // namespace kv
