// The encode-settings record and the shared encoder's cancel.
#include <cstring>

#include "components/vbwav2wma/vbwav2wma.h"
#include "components/wmacore/WmaEncode.h"
#include "wma_fixture.h"

using namespace wmatest;

TEST(WmaSettingsRecord, NumbersAndTrimmedPaddedTextsAtTheirOffsets) {
  VbwwEncodeSettings s;
  std::memset(&s, 'x', sizeof s);
  kv::FillWmaSettings(s, "  song  ");
  std::string raw(reinterpret_cast<const char*>(&s), sizeof s);
  std::string numbers;
  for (uint32_t v : {64u, 44100u, 2u, 1u, 0u}) kvtest::putLE(numbers, v, 4);
  EXPECT_EQ(raw.substr(0, 20), numbers);
  EXPECT_EQ(raw.substr(20, 128), std::string("song") + '\0' + std::string(123, ' '));
  for (auto [offset, size] : {std::pair{148, 128}, {276, 128}, {404, 256}, {660, 128}})
    EXPECT_EQ(raw.substr(offset, size), '\0' + std::string(size - 1, ' ')) << offset;
  EXPECT_EQ(kv::WmaSettingsText(s.title, sizeof s.title), "song");

  kv::FillWmaSettings(s, std::string(200, 'a'));  // cut at the field, no NUL, next field intact
  EXPECT_EQ(kv::WmaSettingsText(s.title, sizeof s.title), std::string(128, 'a'));
  EXPECT_EQ(s.author[0], '\0');
  std::string kana;
  for (int i = 0; i < 43; ++i) kana += "あ";  // 129 bytes: cut before the 43rd character
  kv::FillWmaSettings(s, kana);
  EXPECT_EQ(kv::WmaSettingsText(s.title, sizeof s.title), kana.substr(0, 126));
}

using WmaEncoderCore = ScratchDir;

// A cancel, or an encoder never run, leaves the older output and no temporary file. (Encodes that
// finish: the WmaComponents tests, through the library and the tool.)
TEST_F(WmaEncoderCore, CancelKeepsTheOlderOutput) {
  WriteRecording(dir / "b.wav", {44100, 2, 16}, 1.0);
  kvtest::writeText(dir / "b.wma", "older result");
  int calls = 0;
  const kv::Status cancelled = kv::wma::EncodeWaveToWma(dir / "b.wav", dir / "b.wma", {}, [&](int64_t, int64_t) { return ++calls < 3; });
  EXPECT_EQ(cancelled.message(), "cancelled");
  {
    kv::wma::Encoder opened;  // opened but never run
    ASSERT_TRUE(opened.Open(dir / "b.wav", dir / "b.wma", {}));
    EXPECT_EQ(opened.Source().frames, 44100);
  }
  EXPECT_EQ(kvtest::readBytes(dir / "b.wma"), "older result");
  EXPECT_EQ(tmp.list(), (Names{"b.wav", "b.wma"}));
}
