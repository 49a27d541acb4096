// Every input the fuzzers once crashed on, every seed they start from and, for the MIDI readers,
// every file of the MIDI test corpus must go through the same entry function cleanly: no crash,
// no sanitizer report, no broken invariant.
#include <gtest/gtest.h>

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
    {"smf", kvfuzz::Smf},         {"midinfo", kvfuzz::MidiInfo}, {"waveflt", kvfuzz::Waveflt},
    {"mp3wave", kvfuzz::Mp3Wave}, {"wmawave", kvfuzz::WmaWave},  {"sf2keys", kvfuzz::Sf2Keys},
};

class FuzzReplay : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, SavedAndSeedInputsRunClean) {
  const Target t = GetParam();
  std::vector<fs::path> files;
  // The MIDI readers also take the whole test corpus of MIDI files.
  const bool midi = std::string(t.name) == "smf" || std::string(t.name) == "midinfo";
  for (const std::string kind : {"fuzz/regressions/", "fuzz/corpus/", midi ? "tests/data/midi/jazz-soft-test-midi-files" : ""}) {
    if (kind.empty()) continue;
    const fs::path dir = fs::path(KV_SOURCE_DIR) / (kind.back() == '/' ? kind + t.name : kind);
    if (fs::is_directory(dir))
      for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file() && e.path().filename().string()[0] != '.') files.push_back(e.path());
  }
  ASSERT_FALSE(files.empty()) << "no inputs for " << t.name;
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    ASSERT_TRUE(in) << f << ": cannot read";
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(t.fn(bytes.data(), bytes.size()), 0) << f;
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
