// The encode-settings record and the shared encoder's progress and cancel.
#include <cstring>

#include "components/vbwav2wma/vbwav2wma.h"
#include "components/wmacore/WmaEncode.h"
#include "wma_fixture.h"

using namespace wmatest;

TEST(WmaSettingsRecord, FillsNumbersAndTrimmedPaddedTexts) {
  VbwwEncodeSettings s;
  std::memset(&s, 'x', sizeof s);
  kv::FillWmaSettings(s, "  song  ");
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&s);
  const int32_t expected[] = {64, 44100, 2, 1, 0};
  for (int i = 0; i < 5; ++i) {
    int32_t v = b[4 * i] | b[4 * i + 1] << 8 | b[4 * i + 2] << 16 | b[4 * i + 3] << 24;  // little-endian
    EXPECT_EQ(v, expected[i]) << "number " << i;
  }
  std::string title(reinterpret_cast<const char*>(b + 20), 128);
  EXPECT_EQ(title, std::string("song") + '\0' + std::string(123, ' '));
  for (auto [offset, size] : {std::pair{148, 128}, {276, 128}, {404, 256}, {660, 128}})
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + offset), size), '\0' + std::string(size - 1, ' '))
        << "field at " << offset;
  EXPECT_EQ(kv::WmaSettingsText(s.title, sizeof s.title), "song");
  EXPECT_EQ(kv::WmaSettingsText(s.author, sizeof s.author), "");
}

TEST(WmaSettingsRecord, LongTextsAreCutAtTheFieldWithoutSplittingCharacters) {
  VbwwEncodeSettings s;
  kv::FillWmaSettings(s, std::string(200, 'a'));
  EXPECT_EQ(std::memchr(s.title, '\0', sizeof s.title), nullptr);
  EXPECT_EQ(kv::WmaSettingsText(s.title, sizeof s.title), std::string(128, 'a'));
  EXPECT_EQ(s.author[0], '\0');  // the next field is untouched by the overflow

  // 43 three-byte characters = 129 bytes: the cut falls back to 42 whole characters.
  std::string kana;
  for (int i = 0; i < 43; ++i) kana += "あ";
  kv::FillWmaSettings(s, kana);
  std::string back = kv::WmaSettingsText(s.title, sizeof s.title);
  EXPECT_EQ(back, kana.substr(0, 126));
  EXPECT_EQ(s.title[126], '\0');
  EXPECT_EQ(s.title[127], ' ');
}

class WmaEncoderCore : public ScratchDir {};

TEST_F(WmaEncoderCore, ReportsProgressUpToTheInputTotal) {
  int64_t frames = WriteRecording(dir / "a.wav", {32000, 1, 16}, 1.2);
  std::vector<int64_t> seen;
  int64_t total = -1;
  kv::wma::Settings st;
  st.tags.title = "a";
  std::string err;
  ASSERT_TRUE(kv::wma::EncodeWaveToWma((dir / "a.wav").string(), (dir / "a.wma").string(), st,
                                       [&](int64_t done, int64_t all) {
                                         seen.push_back(done);
                                         total = all;
                                         return true;
                                       }, &err)) << err;
  EXPECT_EQ(total, frames);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), frames);
  ExpectWma(dir / "a.wma", "a", 1.2);
}

TEST_F(WmaEncoderCore, CancelLeavesTheOlderOutputAndNoTemporaryFile) {
  WriteRecording(dir / "a.wav", {44100, 2, 16}, 1.0);
  WriteText(dir / "a.wma", "older result");
  int calls = 0;
  std::string err;
  EXPECT_FALSE(kv::wma::EncodeWaveToWma((dir / "a.wav").string(), (dir / "a.wma").string(), {},
                                        [&](int64_t, int64_t) { return ++calls < 3; }, &err));
  EXPECT_EQ(err, "cancelled");
  EXPECT_EQ(ReadAll(dir / "a.wma"), "older result");
  EXPECT_EQ(Names(dir), (std::set<std::string>{"a.wav", "a.wma"}));
}

TEST_F(WmaEncoderCore, OpenedButNotRunLeavesNothing) {
  WriteRecording(dir / "a.wav", {16000, 1, 8}, 0.5);
  {
    kv::wma::Encoder enc;
    ASSERT_TRUE(enc.Open((dir / "a.wav").string(), (dir / "a.wma").string(), {}));
    EXPECT_EQ(enc.Source().sampleRate, 16000);
    EXPECT_EQ(enc.Source().bitsPerSample, 8);
    EXPECT_EQ(enc.Source().frames, 8000);
  }
  EXPECT_EQ(Names(dir), (std::set<std::string>{"a.wav"}));
}
