// "korvessa convert" over song collections: folder trees mirrored under the output folder, the
// manifest, resuming after kill -9, shards under GNU parallel, and the refusals before a run.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "MidiFiles.h"
#include "Process.h"
#include "ScratchFolder.h"
#include "WaveFiles.h"

namespace {

namespace fs = std::filesystem;
const std::string kKorvessa = KV_BIN_DIR "/korvessa";
const std::string kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// Every path under root, relative, folders and hidden entries included.
std::set<std::string> Tree(const std::string& root) {
  std::set<std::string> names;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator(); it.increment(ec))
    names.insert(it->path().lexically_relative(root).string());  // no look at the disk: the tree may be changing
  return names;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The manifest's rows by input.
std::map<std::string, QJsonObject> Rows(const std::string& manifest) {
  std::map<std::string, QJsonObject> rows;
  for (const auto& line : Lines(kvtest::readBytes(manifest))) {
    const QJsonObject row = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    EXPECT_FALSE(row.isEmpty()) << line;
    rows[row["input"].toString().toStdString()] = row;
  }
  return rows;
}

class Corpus : public ::testing::Test {
 protected:
  void SetUp() override {
    chmod(dir.path().c_str(), 0755);  // the unprivileged user runs some cases
    kvtest::writeText(dir.file("system.ini"), "[Setup]\nSoundFont=" + kSoundFont + "\nSource=synth\nFast=1\n");
  }
  // Writes a song under in/ and returns its path.
  std::string Put(const std::string& rel, int beats = 1) {
    const std::string path = dir.file("in/" + rel);
    fs::create_directories(fs::path(path).parent_path());
    kvtest::writeText(path, rel.ends_with(".rmi") ? smf::Rmid(smf::Notes(beats)) : smf::Notes(beats));
    return path;
  }
  std::vector<std::string> Command(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{kKorvessa, "convert", "--delay", "0"};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  std::vector<std::string> Env() const { return {"KORVESSA_SYSTEM_INI=" + dir.file("system.ini")}; }
  kvtest::RunResult Convert(const std::vector<std::string>& args, bool nobody = false) const {
    kvtest::RunOptions opt;
    opt.timeoutMs = 60000;
    opt.asNobody = nobody;
    return kvtest::run(Command(args), Env(), opt);
  }

  kvtest::TempDir dir;
  const std::string in = dir.file("in"), out = dir.file("out");
};

TEST_F(Corpus, FolderTreeIsMirroredUnderAnOutputFolderItMakes) {
  for (const char* song : {"a.mid", "B.MID", "sub/c.rmi", "sub/deep/d.mid"}) Put(song);
  kvtest::writeText(dir.file("in/notes.txt"), "not a song");
  kvtest::writeText(dir.file("in/sub/take.wav"), "not a song either");
  const std::string made = out + "/new/deeper";
  const auto r = Convert({"--out", made, in});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  // One line per finished file, in the order of the paths' bytes.
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{made + "/B.wav", made + "/a.wav", made + "/sub/c.wav",
                                                     made + "/sub/deep/d.wav"}));
  EXPECT_EQ(Tree(made), (std::set<std::string>{"B.wav", "a.wav", "sub", "sub/c.wav", "sub/deep", "sub/deep/d.wav"}));
}

TEST_F(Corpus, ManifestHasARowPerInputAsItFinishes) {
  const std::string good = Put("good.mid", 2), locked = Put("locked.mid"), shut = dir.file("in/shut");
  Put("\x8b\xc8\x41.mid");  // Shift-JIS
  kvtest::writeText(dir.file("in/broken.mid"), "not a MIDI file");
  Put("shut/hidden.mid");
  chmod(locked.c_str(), 0);
  chmod(shut.c_str(), 0);
  fs::create_directories(out);
  chmod(out.c_str(), 0777);
  const std::string manifest = out + "/run.jsonl";
  auto r = Convert({"--out", out, "--manifest", manifest, in, dir.file("gone.mid")}, true);
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("korvessa: " + shut + ": cannot read the folder (Permission denied)\n"), std::string::npos) << r.err;
  // Names that are not UTF-8 keep their bytes as \udcXX escapes.
  EXPECT_NE(kvtest::readBytes(manifest).find("/in/\\udc8b\\udcc8A.mid\",\"output\":"), std::string::npos);

  struct Expect {
    std::string input, output, status, error;  // error: the start of the text, "" for null
  };
  const Expect table[] = {
      {good, out + "/good.wav", "converted", ""},
      {dir.file("in/broken.mid"), out + "/broken.wav", "failed", "broken.mid を変換できませんでした。 Not a MIDI file"},
      {locked, out + "/locked.wav", "failed", "locked.mid を変換できませんでした。 Cannot read the file (Permission denied)"},
      {shut, "", "failed", "cannot read the folder (Permission denied)"},
      {dir.file("gone.mid"), "", "failed", "no such file"},
  };
  const auto rows = Rows(manifest);
  EXPECT_EQ(rows.size(), 6u);  // with the Shift-JIS song's
  for (const Expect& e : table) {
    SCOPED_TRACE(e.input);
    ASSERT_TRUE(rows.count(e.input));
    const QJsonObject row = rows.at(e.input);
    EXPECT_EQ(row["output"].toString().toStdString(), e.output);
    EXPECT_EQ(row["status"].toString().toStdString(), e.status);
    EXPECT_EQ(row["error"].isNull(), e.error.empty());
    EXPECT_EQ(row["error"].toString().toStdString().substr(0, e.error.size()), e.error);
    EXPECT_EQ(row["soundfont"].toString().toStdString(), kSoundFont);
    EXPECT_EQ(row["format"].toString(), "48000 Hz 16-bit stereo");
    EXPECT_GE(row["elapsed"].toDouble(-1), 0.0);
  }
  EXPECT_DOUBLE_EQ(rows.at(good)["seconds"].toDouble(), 1.0);
  EXPECT_TRUE(rows.at(shut)["seconds"].isNull());
  r = Convert({"--out", out, "--manifest", manifest, "--skip-existing", good}, true);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");  // nothing converted
  // The rerun skipped the finished song: its row comes last.
  const auto lines = Lines(kvtest::readBytes(manifest));
  EXPECT_NE(lines.back().find("\"status\":\"skipped\",\"seconds\":1.000,"), std::string::npos) << lines.back();
  chmod(shut.c_str(), 0755);
  EXPECT_EQ(Tree(out), (std::set<std::string>{"good.wav", "run.jsonl", "\x8b\xc8\x41.wav"}));
}

// Stems beside the output, one per channel that sounds, named by the channel and the preset of
// its first note, of the output's length and adding up to it within 2 LSB (each 16-bit file is
// rounded on its own; the two stems and the output: (2 + 1) / 2 steps). A song lacking one of
// its stems is not done: --skip-existing converts it again.
TEST_F(Corpus, StemsAddUpToTheirOutput) {
  smf::Track t;
  t.Event(0, {0xC0, 0});
  t.Event(0, {0xC1, 40});
  t.Event(0, {0xB2, 7, 100});  // a channel that only has a controller does not sound
  for (uint32_t b = 0; b < 4; ++b) {
    t.Event(b * 96, {0x90, 60, 100});
    t.Event(b * 96, {0x99, b % 2 ? 38 : 36, 110});
    t.Event(b * 96 + 80, {0x80, 60, 0});
    t.Event(b * 96 + 80, {0x89, b % 2 ? 38 : 36, 0});
  }
  t.Event(192, {0xC1, 48});  // the name is the first note's preset: there is none on channel 2
  t.End(384);
  const std::string song = dir.file("in/song.mid"), manifest = dir.file("run.jsonl");
  fs::create_directories(in);
  kvtest::writeText(song, smf::File(0, 96, {t}));
  const std::string piano = out + "/song.stems/01 Piano 1.wav", drums = out + "/song.stems/10 Standard.wav";
  auto r = Convert({"--out", out, "--stems", "--manifest", manifest, song});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Tree(out), (std::set<std::string>{"song.wav", "song.stems", "song.stems/01 Piano 1.wav", "song.stems/10 Standard.wav"}));
  const QJsonObject row = Rows(manifest).at(song);
  EXPECT_EQ(row["stems"].toVariant().toStringList(), (QStringList{QString::fromStdString(piano), QString::fromStdString(drums)}));
  const kvtest::WaveData mix = kvtest::readWave(out + "/song.wav"), a = kvtest::readWave(piano), b = kvtest::readWave(drums);
  ASSERT_EQ(a.samples.size(), mix.samples.size());
  ASSERT_EQ(b.samples.size(), mix.samples.size());
  EXPECT_GT(kvtest::Peak(a.mixed()), 0.01);
  EXPECT_GT(kvtest::Peak(b.mixed()), 0.01);
  int worst = 0;
  for (size_t i = 0; i < mix.samples.size(); ++i) worst = std::max(worst, std::abs(a.samples[i] + b.samples[i] - mix.samples[i]));
  EXPECT_LE(worst, 1);
  fs::remove(drums);
  for (const char* status : {"converted", "skipped"}) {
    r = Convert({"--out", out, "--stems", "--skip-existing", "--manifest", manifest, song});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(Lines(kvtest::readBytes(manifest)).back().find(std::string("\"status\":\"") + status + "\""), std::string::npos) << status;
  }
  EXPECT_TRUE(fs::exists(drums));

  // The wave filter's gain and cut are the output's, for its stems too: they still add up,
  // within the rounding above times the gain, and start where the output starts.
  const double peak = kvtest::Peak(mix.mixed());
  for (const std::vector<std::string>& filter : std::vector<std::vector<std::string>>{
           {"--normalize"}, {"--headcut", "--delay", "0.5"}, {"--loudness", "-30"}}) {
    const std::string o2 = dir.file("filtered");
    fs::remove_all(o2);
    std::vector<std::string> args{"--out", o2, "--stems"};
    args.insert(args.end(), filter.begin(), filter.end());
    args.push_back(song);
    r = Convert(args);
    ASSERT_EQ(r.exitCode, 0) << filter[0] << r.err;
    const kvtest::WaveData m = kvtest::readWave(o2 + "/song.wav"), p = kvtest::readWave(o2 + "/song.stems/01 Piano 1.wav"),
                           d = kvtest::readWave(o2 + "/song.stems/10 Standard.wav");
    ASSERT_EQ(p.samples.size(), m.samples.size()) << filter[0];
    ASSERT_EQ(d.samples.size(), m.samples.size()) << filter[0];
    const double gain = kvtest::Peak(m.mixed()) / peak;
    // The delay's 0.6 s of silence before the song is cut, the 0.6 s after it stays.
    if (filter[0] == "--headcut") EXPECT_LT(m.samples.size(), mix.samples.size() + 26460 * 2 * size_t(mix.channels));
    else EXPECT_GT(std::fabs(gain - 1), 0.1) << filter[0];
    int off = 0;
    for (size_t i = 0; i < m.samples.size(); ++i) off = std::max(off, std::abs(p.samples[i] + d.samples[i] - m.samples[i]));
    EXPECT_LE(off, int(std::ceil(1.5 * gain + 1.5))) << filter[0] << " gain " << gain;
  }

  // Two songs side by side (-j 2), each worker with its own stem cache: the same files, byte for
  // byte, as one after the other, and no cache left behind.
  smf::Track u;
  u.Event(0, {0xC0, 0});
  for (uint32_t b = 0; b < 4; ++b) {
    u.Event(b * 96, {0x90, 64, 100});
    u.Event(b * 96, {0x99, 42, 90});
    u.Event(b * 96 + 80, {0x80, 64, 0});
    u.Event(b * 96 + 80, {0x89, 42, 0});
  }
  u.End(384);
  kvtest::writeText(dir.file("in/other.mid"), smf::File(0, 96, {u}));
  std::map<std::string, std::string> bytes[2];
  for (const char* jobs : {"1", "2"}) {
    const std::string o3 = dir.file(std::string("j") + jobs);
    ASSERT_EQ(Convert({"--out", o3, "--stems", "-j", jobs, in}).exitCode, 0) << jobs;
    for (const std::string& name : Tree(o3))
      if (!fs::is_directory(o3 + "/" + name)) bytes[jobs[0] - '1'][name] = kvtest::readBytes(o3 + "/" + name);
  }
  EXPECT_EQ(bytes[0].size(), 6u);  // two outputs with two stems each
  EXPECT_TRUE(bytes[0] == bytes[1]);
}

// Killed outright in the middle of a song, while it records, is filtered or is encoded: the
// rerun converts exactly what was not finished and nothing else stays behind (no staging
// folder, no temporary recording, no template, no working file of the filter or the encoder).
TEST_F(Corpus, KillThenSkipExistingRedoesExactlyTheUnfinishedSongs) {
  std::set<std::string> songs;
  for (int i = 0; i < 8; ++i) songs.insert(fs::path(Put("s" + std::to_string(i) + ".mid", 40)).stem().string());
  const struct {
    std::string name;
    std::vector<std::string> options;
    std::string ext, working;  // the output's extension; a file that exists only at that moment
  } table[] = {
      {"recording", {}, ".wav", ".wav.~rec"},
      {"normalising", {"--normalize"}, ".wav", "normal.wav"},
      {"encoding", {"--format", "wma", "--encoder", "wm8eutil"}, ".wma", "tmp.wav"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.name);
    const std::string to = out + "/" + row.name;
    std::vector<std::string> args = row.options;
    args.insert(args.end(), {"--out", to, in});
    kvtest::Background run(Command(args), Env());
    auto finished = [&] {
      std::set<std::string> done;
      for (const auto& n : dir.list("out/" + row.name))
        if (n.ends_with(row.ext)) done.insert(fs::path(n).stem().string());
      return done;
    };
    // Waits for that moment of a song after at least two finished ones.
    bool caught = false;
    for (int i = 0; i < 20000 && !caught; ++i) {
      usleep(1000);
      if (finished().size() < 2) continue;
      for (const auto& n : Tree(to)) caught = caught || n.ends_with(row.working);
    }
    run.signal(SIGKILL);
    run.wait(10000);
    ASSERT_TRUE(caught) << "the moment never came";
    const std::set<std::string> before = finished();
    ASSERT_LT(before.size(), songs.size());

    args.insert(args.begin(), {"--skip-existing", "--manifest", to + ".jsonl"});
    const auto r = Convert(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::set<std::string> skipped, converted, outputs;
    for (const auto& [input, rowOf] : Rows(to + ".jsonl"))
      (rowOf["status"] == "skipped" ? skipped : converted).insert(fs::path(input).stem().string());
    EXPECT_EQ(skipped, before);
    EXPECT_EQ(skipped.size() + converted.size(), songs.size());
    for (const auto& s : songs) {
      outputs.insert(s + row.ext);
      const double seconds = std::atof(kvtest::probe(to + "/" + s + row.ext)["duration"].c_str());
      EXPECT_GE(seconds, 20.0) << s;  // whole
    }
    EXPECT_EQ(Tree(to), outputs);
  }
}

// The recipe of the README: GNU parallel runs three shards into one tree at once.
TEST_F(Corpus, ParallelShardsConvertEachSongOnce) {
  std::set<std::string> songs;
  for (int i = 0; i < 7; ++i) songs.insert(Put("d" + std::to_string(i % 3) + "/s" + std::to_string(i) + ".mid"));
  std::vector<std::string> argv{"parallel", "--will-cite", "-q"};
  for (const auto& a : Command({"--out", out, "--shard", "{}/3", "--manifest", dir.file("shard-{}.jsonl"), in}))
    argv.push_back(a);
  for (const char* k : {":::", "1", "2", "3"}) argv.push_back(k);
  const auto r = kvtest::run(argv, Env());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::multiset<std::string> converted;
  std::set<std::string> wavs;
  for (const char* k : {"1", "2", "3"}) {
    const auto rows = Rows(dir.file(std::string("shard-") + k + ".jsonl"));
    EXPECT_GE(rows.size(), 2u) << "shard " << k;
    for (const auto& [input, row] : rows) {
      EXPECT_EQ(row["status"], "converted") << input;
      converted.insert(input);
    }
  }
  EXPECT_EQ(converted, std::multiset<std::string>(songs.begin(), songs.end()));
  for (const auto& s : songs) {
    const std::string rel = fs::relative(s, in).replace_extension(".wav").string();
    wavs.insert(rel);
    wavs.insert(fs::path(rel).parent_path().string());
  }
  EXPECT_EQ(Tree(out), wavs);
}

// Each song's SoundFont, as korvessa info, the conversion and the manifest name it: embedded in
// an RMID, named after the song's folder, or the configured one when an RMID carries a DLS bank
// (said, and the song still converts). A loop marked with controller 111 plays --loops times
// and fades out over --fade seconds; info gives the system setup's 2 loops and 10 s.
TEST_F(Corpus, SongsChooseTheirSoundFontAndLoop) {
  smf::Track t;
  t.Event(0, {0x90, 60, 100});
  t.Event(96, {0xB0, 111, 0});
  t.Event(96, {0x90, 62, 100});
  t.Event(186, {0x80, 62, 0});
  t.Event(192, {0x80, 60, 0});
  t.End(288);  // intro 0.5 s, loop 1 s
  const std::string loop = dir.file("in/loop.mid"), embedded = dir.file("in/own.rmi"), dls = dir.file("in/dls.rmi");
  fs::create_directories(dir.file("in/album"));
  kvtest::writeText(loop, smf::File(0, 96, {t}));
  kvtest::writeText(embedded, smf::Rmid(smf::Notes(2), kvtest::readBytes(kSoundFont)));
  kvtest::writeText(dls, smf::Rmid(smf::Notes(2), smf::RiffChunk("RIFF", "DLS " + std::string(64, '\0'))));
  const std::string track = Put("album/track.mid", 2), albumFont = dir.file("in/album/Album.sf3");
  fs::create_symlink(kSoundFont, albumFont);

  const struct {
    std::string song, soundFont;
    double seconds, infoMs;
  } table[] = {
      {loop, kSoundFont, 0.5 + 3 * 1 + 1.5, 0.5 + 2 + 10},
      {embedded, embedded + " (embedded)", 1, 1},
      {track, albumFont, 1, 1},
      {dls, kSoundFont, 1, 1},
  };
  const std::string manifest = dir.file("run.jsonl");
  const auto r = Convert({"--out", out, "--loops", "3", "--fade", "1.5", "--manifest", manifest, in});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "korvessa: " + dls + " carries a DLS bank, which FluidSynth cannot read; it plays with another SoundFont.\n");
  const auto rows = Rows(manifest);
  for (const auto& e : table) {
    SCOPED_TRACE(e.song);
    ASSERT_TRUE(rows.count(e.song));
    EXPECT_EQ(rows.at(e.song)["status"].toString(), "converted");
    EXPECT_EQ(rows.at(e.song)["soundfont"].toString().toStdString(), e.soundFont);
    EXPECT_DOUBLE_EQ(rows.at(e.song)["seconds"].toDouble(), e.seconds);
    const auto info = kvtest::run({kKorvessa, "info", e.song}, Env());
    const QStringList fields = QString::fromStdString(info.out).trimmed().split(u'\t');
    ASSERT_EQ(fields.size(), 7) << info.out;
    EXPECT_EQ(fields[4].toDouble(), e.infoMs * 1000);
    EXPECT_EQ(fields[6].toStdString(), e.soundFont);
  }
}

TEST_F(Corpus, RefusalsBeforeAnythingStartsAndHelp) {
  Put("a.mid");
  Put("clash/x.mid");
  Put("clash/x.rmi");
  fs::create_directories(dir.file("empty/sub"));
  const std::string version =
      "korvessa " + std::to_string(KV_VERSION_MAJOR) + "." + std::to_string(KV_VERSION_MINOR) + "." + std::to_string(KV_VERSION_PATCH) + "\n";
  struct Row {
    const char* name;
    std::vector<std::string> argv;
    int exitCode;
    std::string out, err;  // a part of each (empty: anything)
  } table[] = {
      {"help", {kKorvessa, "--help"}, 0, "korvessa convert [--out DIR]", ""},
      {"version", {kKorvessa, "--version"}, 0, version, ""},
      {"convert help", Command({"--help"}), 0, "--shard K/N", ""},
      {"shard 0/3", Command({"--out", out, "--shard", "0/3", in}), 2, "", "--shard takes K/N"},
      {"shard 4/3", Command({"--out", out, "--shard", "4/3", in}), 2, "", "--shard takes K/N"},
      {"shard x", Command({"--out", out, "--shard", "x", in}), 2, "", "--shard takes K/N"},
      {"loudness above 0", Command({"--out", out, "--loudness", "5", in}), 2, "", "--loudness takes a level in LUFS from -70 to 0"},
      {"loudness not a number", Command({"--out", out, "--loudness", "loud", in}), 2, "", "korvessa: --loudness takes a level in LUFS from -70 to 0\n"},
      {"unknown recording format", Command({"--out", out, "--sample", "99", in}), 2, "", "usage"},
      {"loops above 99", Command({"--out", out, "--loops", "100", in}), 2, "", "korvessa: --loops takes a count from 0 to 99\n"},
      {"tail above 60 s", Command({"--out", out, "--tail", "60.01", in}), 2, "", "korvessa: --tail takes auto or seconds from 0 to 60\n"},
      {"loops below 0", Command({"--out", out, "--loops", "-1", in}), 2, "", "--loops takes a count from 0 to 99"},
      {"fade over 600 s", Command({"--out", out, "--fade", "600.01", in}), 2, "", "korvessa: --fade takes seconds from 0 to 600\n"},
      {"loudness and normalise", Command({"--out", out, "--loudness", "-16", "--normalize", in}), 2, "",
       "korvessa: --normalize and --loudness exclude each other\n"},
      {"no songs", Command({"--out", out, dir.file("empty")}), 1, "", dir.file("empty") + ": no .mid or .rmi files in this folder\n"},
      {"one output for two songs", Command({"--out", out, in}), 1, "",
       in + "/clash/x.mid and " + in + "/clash/x.rmi both make " + out + "/clash/x.wav\n"},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(row.name);
    const auto r = kvtest::run(row.argv, Env());
    EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
    EXPECT_NE(r.out.find(row.out), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
    EXPECT_FALSE(kvtest::exists(out));  // nothing started
  }
}

}  // namespace
