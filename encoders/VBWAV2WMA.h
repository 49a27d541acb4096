// VBWAV2WMA.dll: WAVE to WMA encoding on the library's own thread. The library is loaded from
// the program's folder at run time; OpenWmaEncode is the one way the program opens an encode.
#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>

#include "components/vbwav2wma/vbwav2wma.h"

namespace kv {

// The encode settings as the program holds them.
struct WmaEncodeSettings {
  int32_t BitRate = 64;        // kbit/s
  int32_t SampleRate = 44100;  // Hz
  int32_t Channels = 2;
  int32_t Quality = 1;
  int32_t Flags = 0;
  QString Title, Author, Copyright, Description, Rating;
};

// The record's ANSI form as the library takes it: the library's own record layout.
constexpr int kWmaSettingsBytes = sizeof(VbwwEncodeSettings);
// Each text is stored without leading and trailing spaces, then one NUL, padded with spaces;
// a longer text is cut at the field's size (never inside a character).
QByteArray WmaSettingsToAnsi(const WmaEncodeSettings& s);
WmaEncodeSettings WmaSettingsFromAnsi(const QByteArray& ansi);

// The settings the program sends: 64 kbit/s, 44100 Hz, stereo, the title and empty texts.
WmaEncodeSettings DefaultWmaSettings(const QString& title);
// The title tag for a WAVE path: its file name without folder and without the last four
// characters ("/x/song.wav" -> "song").
QString WmaTitleFor(const QString& waveFileName);

struct VbwwApi {
  int32_t (*vbww_encodeOpen)(const char* wavPath, const char* wmaPath, int32_t openInfo[4], void* settings) = nullptr;
  int32_t (*vbww_encodeStart)() = nullptr;
  int32_t (*vbww_getEncodeState)(int32_t* progress) = nullptr;
  int32_t (*vbww_debug)() = nullptr;
};
// The entry points of vbwav2wma.dll (letter case ignored) in appPath; nullptr when missing.
const VbwwApi* LoadVbww(const QString& appPath);

// Normalises the texts of settings, opens the encode with the library in appPath and copies the
// record back as the library left it. True when the library reports the encode opened
// (non-zero low 16 bits).
bool OpenWmaEncode(const QString& appPath, const QString& wavePath, const QString& wmaPath, int32_t openInfo[4],
                   WmaEncodeSettings& settings);

}  // namespace kv
