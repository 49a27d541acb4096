// Legacy text decoding: UTF-8, else CP932, else Latin-1.
#include "textcodec.h"

#include <gtest/gtest.h>

namespace {

using kv::text::Encoding;

TEST(TextCodec, PicksTheEncodingOfLegacyBytes) {
  struct {
    std::string bytes;
    std::string utf8;
    Encoding enc;
  } cases[] = {
      {"Piano \xE2\x99\xAA", "Piano ♪", Encoding::Utf8},
      {"\x89\xB9\x8A\x79\x83\x86\x81\x5B\x83\x55\x81\x5B", "音楽ユーザー", Encoding::Cp932},
      {"\xC3\xBD\xC4", "ﾃｽﾄ", Encoding::Cp932},  // half-width katakana
      {"Caf\xE9\n", "Café\n", Encoding::Latin1},
      {"Gr\xF6\xDF" "e", "Größe", Encoding::Latin1},  // F6 DF is CP932's user-defined area
      {"\x81", "\xC2\x81", Encoding::Latin1},
  };
  for (const auto& c : cases) {
    Encoding enc{};
    EXPECT_EQ(kv::text::ToUtf8(c.bytes, &enc), c.utf8) << c.utf8;
    EXPECT_EQ(enc, c.enc) << c.utf8;
  }
  // Overlong NUL, surrogate, beyond U+10FFFF, cut character: not taken for UTF-8.
  for (const char* bad : {"\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE9\x9F"}) {
    Encoding enc{};
    kv::text::ToUtf8(bad, &enc);
    EXPECT_NE(enc, Encoding::Utf8) << bad;
  }
}

}  // namespace
