// vbwav2wma.dll: encodes a WAVE file into a WMA file (WMA v2 in ASF) in a thread of its own.
// The program loads it with dlopen from its own folder and resolves the vbww_* functions.
//
//   int32_t info[4];  VbwwEncodeSettings s;  kv::FillWmaSettings(s, "song");
//   if (vbww_encodeOpen("/x/song.wav", "/x/song.wma", info, &s) & 0xFFFF) {
//     vbww_encodeStart();
//     int32_t done;  while (vbww_getEncodeState(&done) != 0) { /* done of info[3] */ }
//   } else vbww_debug();
//
// Progress and info[3] count input sample frames. info[0..2] = the input's rate, channels, bits.
// One encode at a time; the output appears under its name only when the encode succeeded.
#pragma once
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#include <cstring>
#include <string>
#include <string_view>
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The encode-settings record (788 bytes, little-endian). Each text field holds its text, one NUL
// and space padding; a text filling the whole field has no NUL.
typedef struct VbwwEncodeSettings {
  int32_t bitRate;       // kbit/s (64)
  int32_t sampleRate;    // Hz (44100)
  int32_t channels;      // 2
  int32_t quality;       // 1
  int32_t flags;         // 0
  char title[128];       // the title tag
  char author[128];      // the author tag when not empty
  char copyright[128];   // the copyright tag when not empty
  char description[256]; // the comment tag when not empty
  char rating[128];      // the rating tag when not empty
} VbwwEncodeSettings;

// Non-zero in the low 16 bits: opened (input readable, output folder writable). 0: failure,
// vbww_debug tells why. openInfo and settings may be null (then 64 kbit/s, 44100 Hz, stereo).
int32_t vbww_encodeOpen(const char* wavPath, const char* wmaPath, int32_t openInfo[4], void* settings);
// Starts the opened encode in the background; 1 = started, 0 = nothing was opened.
int32_t vbww_encodeStart(void);
// 0 = finished (or idle), 1 = encoding, 2 = opened and waiting for vbww_encodeStart.
// progress receives the input frames encoded so far.
int32_t vbww_getEncodeState(int32_t* progress);
// Writes the last error to stderr; returns 0 when there was none, 1 otherwise.
int32_t vbww_debug(void);
// The last error as text ("" when the last open and encode succeeded).
const char* vbww_lastError(void);

typedef int32_t (*vbww_encodeOpen_fn)(const char*, const char*, int32_t*, void*);
typedef int32_t (*vbww_encodeStart_fn)(void);
typedef int32_t (*vbww_getEncodeState_fn)(int32_t*);
typedef int32_t (*vbww_debug_fn)(void);
typedef const char* (*vbww_lastError_fn)(void);

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(VbwwEncodeSettings) == 788, "the settings record is 788 bytes");
static_assert(offsetof(VbwwEncodeSettings, title) == 20 && offsetof(VbwwEncodeSettings, author) == 148 &&
              offsetof(VbwwEncodeSettings, copyright) == 276 && offsetof(VbwwEncodeSettings, description) == 404 &&
              offsetof(VbwwEncodeSettings, rating) == 660, "field offsets of the settings record");

namespace kv {

// Stores text in a fixed field: leading and trailing spaces removed, one NUL, space padding.
// A longer text is cut at the field's size (not inside a UTF-8 character).
inline void SetWmaSettingsText(char* field, size_t size, std::string_view text) {
  size_t b = text.find_first_not_of(' ');
  text = b == std::string_view::npos ? std::string_view() : text.substr(b, text.find_last_not_of(' ') - b + 1);
  size_t n = text.size();
  if (n > size) {
    n = size;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  std::memset(field, ' ', size);
  if (n) std::memcpy(field, text.data(), n);
  if (n < size) field[n] = '\0';
}

// Reads a text field back: up to the NUL, or the whole field without trailing spaces.
inline std::string WmaSettingsText(const char* field, size_t size) {
  const void* nul = std::memchr(field, '\0', size);
  size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : size;
  if (!nul)
    while (n > 0 && field[n - 1] == ' ') --n;
  return std::string(field, n);
}

// Fills the record as the program sends it: 64 kbit/s, 44100 Hz, stereo, the title and four
// empty texts.
inline void FillWmaSettings(VbwwEncodeSettings& s, std::string_view title, int32_t bitRate = 64,
                            int32_t sampleRate = 44100, int32_t channels = 2) {
  s.bitRate = bitRate;
  s.sampleRate = sampleRate;
  s.channels = channels;
  s.quality = 1;
  s.flags = 0;
  SetWmaSettingsText(s.title, sizeof s.title, title);
  SetWmaSettingsText(s.author, sizeof s.author, {});
  SetWmaSettingsText(s.copyright, sizeof s.copyright, {});
  SetWmaSettingsText(s.description, sizeof s.description, {});
  SetWmaSettingsText(s.rating, sizeof s.rating, {});
}

}  // namespace kv
#endif
