// Every input the fuzzers once crashed on, and every seed they start from, must go through the
// same entry function cleanly: no crash, no sanitizer report, no broken invariant.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "targets/fuzz_targets.h"

namespace fs = std::filesystem;

namespace {

struct Target {
  const char* name;
  int (*fn)(const uint8_t*, size_t);
};

const Target kTargets[] = {
    {"smf", kvfuzz::Smf},         {"midinfo", kvfuzz::MidiInfo}, {"profile", kvfuzz::Profile},
    {"mci", kvfuzz::Mci},         {"waveflt", kvfuzz::Waveflt},  {"mp3wave", kvfuzz::Mp3Wave},
    {"wmawave", kvfuzz::WmaWave},
};

std::vector<fs::path> FilesUnder(const fs::path& dir) {
  std::vector<fs::path> out;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_regular_file() && e.path().filename().string()[0] != '.') out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

class FuzzReplay : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, SavedAndSeedInputsRunClean) {
  const Target t = GetParam();
  const fs::path root = fs::path(KV_SOURCE_DIR) / "fuzz";
  std::vector<fs::path> files = FilesUnder(root / "regressions" / t.name);
  const size_t regressions = files.size();
  for (const auto& f : FilesUnder(root / "corpus" / t.name)) files.push_back(f);
  ASSERT_FALSE(files.empty()) << "no inputs for " << t.name;
  for (const auto& f : files) {
    SCOPED_TRACE(f.string());
    std::ifstream in(f, std::ios::binary);
    ASSERT_TRUE(in) << "cannot read";
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(t.fn(bytes.data(), bytes.size()), 0);
  }
  RecordProperty("regressions", int(regressions));
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
