// Decoding of legacy text (settings files, MIDI titles) into UTF-8, without Qt.
// Bytes that are valid UTF-8 are taken as they are; otherwise they are read as CP932
// (Shift-JIS, the code page of Japanese Windows) when they are valid as such, else as Latin-1.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#define KV_TEXT_API __attribute__((visibility("default")))

namespace kv::text {

enum class Encoding { Utf8, Cp932, Latin1 };

// True when the bytes form well-formed UTF-8 (no overlongs, no surrogates, <= U+10FFFF).
KV_TEXT_API bool IsUtf8(std::string_view bytes);

// Strict CP932 decoding; false when a byte sequence is not CP932 or decodes into the
// user-defined area (which real Japanese text does not use, but Latin-1 bytes often hit).
KV_TEXT_API bool Cp932ToUtf8(std::string_view bytes, std::string& out);

// Every byte is one code point.
KV_TEXT_API std::string Latin1ToUtf8(std::string_view bytes);

// UTF-8 when valid, else CP932, else Latin-1. `found` receives the encoding used.
KV_TEXT_API std::string ToUtf8(std::string_view bytes, Encoding* found = nullptr);

// UTF-8 to CP932 (for tests and for writing files meant for Windows); false when a
// character has no CP932 form.
KV_TEXT_API bool Utf8ToCp932(std::string_view utf8, std::string& out);

// Length of the longest prefix of `utf8` not longer than `maxBytes` that does not end
// inside a multi-byte character.
KV_TEXT_API size_t Utf8PrefixLength(std::string_view utf8, size_t maxBytes);

}  // namespace kv::text
