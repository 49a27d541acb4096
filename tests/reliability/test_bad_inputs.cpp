// Damaged and foreign files through the command-line driver: every file of the test corpus and
// 200 damaged ones through "korvessa info", and one of each kind of damage through a
// "korvessa convert" batch that ends with a good file. Nothing may crash or hang, unreadable
// files are named with the reason, and the batch goes on.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "Mutants.h"
#include "Process.h"
#include "ScratchFolder.h"
#include "WaveFiles.h"

namespace {

const std::string kCorpus = KV_SOURCE_DIR "/tests/data/midi/jazz-soft-test-midi-files/";
const std::string kKorvessa = KV_BIN_DIR "/korvessa";
constexpr int kFileBoundMs = 15000;  // no single file may take longer than this
constexpr size_t kMutantCount = 200;

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(kCorpus))
    if (e.path().extension() == ".mid") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// Short songs (4 to 10 s) that the damaged files are made from.
std::vector<std::string> ShortSongs() {
  std::vector<std::string> songs;
  for (const char* name : {"test-c-major-scale.mid", "test-multichannel-chords-0.mid", "test-2-tracks-type-1.mid",
                           "test-2-tracks-type-0.mid", "test-karaoke-kar.mid"})
    songs.push_back(kvtest::readBytes(kCorpus + name));
  return songs;
}

class BadInputs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new kvtest::TempDir;
    std::filesystem::create_directories(dir_->file("in"));
    kvtest::writeText(dir_->file("system.ini"),
                      "[Setup]\nSoundFont=/usr/share/sounds/sf2/TimGM6mb.sf2\nSource=synth\nFast=1\nVolume=100\n");
    for (const auto& m : kvtest::MakeMutants(ShortSongs(), kMutantCount)) {
      kvtest::writeText(dir_->file("in/" + m.name), m.bytes);
      mutants_->push_back(dir_->file("in/" + m.name));
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static kvtest::RunResult Korvessa(std::vector<std::string> args, int timeoutMs) {
    args.insert(args.begin(), kKorvessa);
    kvtest::RunOptions opt;
    opt.timeoutMs = timeoutMs;
    return kvtest::run(args, {"KORVESSA_SYSTEM_INI=" + dir_->file("system.ini")}, opt);
  }

  static kvtest::TempDir* dir_;
  static std::vector<std::string>* mutants_;
};
kvtest::TempDir* BadInputs::dir_ = nullptr;
std::vector<std::string>* BadInputs::mutants_ = new std::vector<std::string>;

// One process per file, so each is held to the time bound on its own.
TEST_F(BadInputs, InfoNamesEveryUnreadableFileAndNeverCrashesOrHangs) {
  std::vector<std::string> files = CorpusFiles();
  files.insert(files.end(), mutants_->begin(), mutants_->end());
  files.push_back(dir_->file("cut.mid"));  // a header cut off inside its 14 bytes
  kvtest::writeText(files.back(), std::string("MThd\0\0\0\6\0\1", 10));
  ASSERT_GE(files.size(), kMutantCount + 40);
  for (const auto& f : files) {
    const auto r = Korvessa({"info", f}, kFileBoundMs);
    ASSERT_FALSE(r.timedOut) << f;
    ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 1) << f << " ended with " << r.exitCode << "\n" << r.err;
    EXPECT_EQ(r.out.rfind(f + "\t", 0), 0u) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    const std::string bytes = kvtest::readBytes(f);
    const size_t header = bytes.find("MThd");
    if (header == std::string::npos) EXPECT_EQ(r.err, "korvessa: " + f + ": not a MIDI file (no MThd header)\n");
    else if (bytes.size() < header + 14 && bytes.rfind("RIFF", 0) != 0)
      EXPECT_EQ(r.err, "korvessa: " + f + ": Not a MIDI file (MIDI header cut off)\n");
    if (r.exitCode == 1) {
      EXPECT_EQ(r.err.rfind("korvessa: " + f + ": ", 0), 0u) << r.err;
      EXPECT_GT(r.err.size(), ("korvessa: " + f + ": \n").size()) << "no reason given for " << f;
    } else {
      EXPECT_EQ(r.err, "") << f;
    }
  }
}

TEST_F(BadInputs, ConvertBatchGoesOnPastDamagedFilesToTheGoodOne) {
  // One damaged file of every kind, the corpus's foreign and damaged files, then a good song.
  std::vector<std::string> batch;
  for (size_t i = 0; i < kvtest::MutationKinds().size(); ++i) batch.push_back((*mutants_)[i]);
  for (const char* name : {"test-empty-file.mid", "test-not-a-midi-file.mid", "test-empty.mid",
                           "test-corrupt-file-missing-byte.mid", "test-illegal-message-all.mid"})
    batch.push_back(kCorpus + name);
  batch.push_back("test-c-major-scale.mid");  // 4.0 s, named relative to the current folder
  const std::string out = dir_->file("out");
  std::filesystem::create_directories(out);
  std::vector<std::string> args{"convert", "--delay", "0", "--out", out};
  args.insert(args.end(), batch.begin(), batch.end());
  const auto here = std::filesystem::current_path();
  std::filesystem::current_path(kCorpus);
  const auto r = Korvessa(args, kFileBoundMs * int(batch.size()));
  std::filesystem::current_path(here);
  ASSERT_FALSE(r.timedOut);
  ASSERT_EQ(r.exitCode, 1) << r.err;  // some files could not be converted

  std::set<std::string> expected;
  for (const auto& f : batch) {
    const std::string name = std::filesystem::path(f).filename().string();
    const std::string wav = std::filesystem::path(name).replace_extension(".wav").string();
    const bool header = kvtest::readBytes(f[0] == '/' ? f : kCorpus + f).find("MThd") != std::string::npos;
    if (!header) {
      // The window's message, then the driver's summary line.
      EXPECT_NE(r.err.find("korvessa: " + name + " を変換できませんでした。 Not a MIDI file"), std::string::npos) << name;
      EXPECT_NE(r.err.find("korvessa: " + f + ": not converted\n"), std::string::npos) << name;
      EXPECT_FALSE(kvtest::exists(out + "/" + wav)) << name;
      continue;
    }
    // Read up to the damage: a complete WAVE file whose length matches its data.
    expected.insert(wav);
    EXPECT_NE(r.out.find(out + "/" + wav + "\n"), std::string::npos) << name << "\n" << r.err;
    const std::string bytes = kvtest::readBytes(out + "/" + wav);
    const auto w = kvtest::readWave(out + "/" + wav);
    ASSERT_TRUE(w.ok) << name;
    const size_t data = bytes.find("data", 12);
    ASSERT_NE(data, std::string::npos) << name;
    const uint32_t declared = uint32_t(uint8_t(bytes[data + 4])) | uint32_t(uint8_t(bytes[data + 5])) << 8 |
                              uint32_t(uint8_t(bytes[data + 6])) << 16 | uint32_t(uint8_t(bytes[data + 7])) << 24;
    EXPECT_EQ(declared, bytes.size() - data - 8) << name;
    EXPECT_EQ(size_t(w.frames()) * w.channels * w.bits / 8, declared) << name;
  }
  // The good song after all of them: its whole length, with sound in it.
  const auto good = kvtest::readWave(out + "/test-c-major-scale.wav");
  EXPECT_GE(good.seconds(), 4.0);
  EXPECT_LT(good.seconds(), 4.6);  // the tail: polling and stopping on a busy machine
  EXPECT_GT(good.peak(), 0.05);
  // Only finished outputs stand in the folder: no temporary recordings, templates or filter files.
  std::set<std::string> names;
  for (const auto& n : dir_->list("out")) names.insert(n);
  EXPECT_EQ(names, expected);
}

}  // namespace
