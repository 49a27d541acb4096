// The encode-settings record and the shared encoder's cancel.
#include "components/vbwav2wma/vbwav2wma.h"
#include "components/wmacore/WmaEncode.h"
#include "wma_fixture.h"

using namespace wmatest;

// A title is trimmed, and cut to its field at a character boundary.
TEST(WmaSettingsRecord, TitlesTrimmedAndCutToTheField) {
  VbwwEncodeSettings s;
  kv::FillWmaSettings(s, "  song  ");
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

// A cancel leaves the older output and no temporary file. (Encodes that finish: the WmaComponents
// tests, through the library and the tool.)
TEST_F(WmaEncoderCore, CancelKeepsTheOlderOutput) {
  WriteRecording(dir / "b.wav", {44100, 2, 16}, 1.0);
  kvtest::writeText(dir / "b.wma", "older result");
  int calls = 0;
  const kv::Status cancelled = kv::wma::EncodeWaveToWma(dir / "b.wav", dir / "b.wma", {}, [&](int64_t, int64_t) { return ++calls < 3; });
  EXPECT_EQ(cancelled.message(), "cancelled");
  EXPECT_EQ(kvtest::readBytes(dir / "b.wma"), "older result");
  EXPECT_EQ(tmp.list(), (Names{"b.wav", "b.wma"}));
}
