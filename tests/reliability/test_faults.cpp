// Failing folders, disks, SoundFonts and settings files: what the user is told and what stays on
// disk. Conversions run through "korvessa convert"; the settings file through a window started
// and closed in a child process (some cases as the unprivileged user 65534, since tests run as root).
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <filesystem>
#include <functional>
#include <random>

#include "MidiFiles.h"
#include "Process.h"
#include "ScratchFolder.h"
#include "WaveFiles.h"
#include "app/EndSignals.h"
#include "app/Globals.h"
#include "app/frmMain.h"
#include "shell/MsgBox.h"

namespace {

const std::string kCorpus = KV_SOURCE_DIR "/tests/data/midi/jazz-soft-test-midi-files/";
constexpr int kBoundMs = 60000;

// A note held for 50 minutes: the song is still recording whenever the test acts.
std::string LongSong() {
  smf::Track t;
  t.Event(0, {0x90, 60, 100});
  t.Event(96 * 2 * 60 * 50, {0x80, 60, 0});  // 96 ticks a beat at 120 bpm
  t.End(96 * 2 * 60 * 50);
  return smf::File(0, 96, {t});
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    // The unprivileged user must reach the folders and the system setup.
    chmod(dir.path().c_str(), 0755);
    systemIni(kTimGM);
    std::filesystem::create_directories(out);
    // Copies the unprivileged user can read wherever the checkout is.
    for (const auto* song : {&scale, &chords})
      std::filesystem::copy_file(kCorpus + std::filesystem::path(*song).filename().string(), *song);
  }
  void systemIni(const std::string& soundFont) const {
    kvtest::writeText(dir.file("system.ini"), "[Setup]\nSoundFont=" + soundFont + "\nSource=synth\nFast=1\n");
  }
  kvtest::RunResult Convert(std::vector<std::string> args, std::vector<std::string> env = {}, bool nobody = false) {
    args.insert(args.begin(), {KV_BIN_DIR "/korvessa", "convert", "--delay", "0", "--out", out});
    env.push_back("KORVESSA_SYSTEM_INI=" + dir.file("system.ini"));
    kvtest::RunOptions opt;
    opt.timeoutMs = kBoundMs;
    opt.asNobody = nobody;
    auto r = kvtest::run(args, env, opt);
    EXPECT_FALSE(r.timedOut);
    EXPECT_LT(r.exitCode, 128) << "ended by a signal";
    return r;
  }
  // The message lines of the run, without Qt's own notes.
  static std::vector<std::string> Said(const kvtest::RunResult& r) {
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t end; (end = r.err.find('\n', at)) != std::string::npos; at = end + 1)
      if (r.err.compare(at, 10, "korvessa: ") == 0) lines.push_back(r.err.substr(at + 10, end - at - 10));
    return lines;
  }
  std::vector<std::string> OutNames() const { return dir.list("out"); }

  static constexpr const char* kTimGM = "/usr/share/sounds/sf2/TimGM6mb.sf2";
  kvtest::TempDir dir;
  const std::string out = dir.file("out");
  const std::string scale = dir.file("test-c-major-scale.mid");
  const std::string chords = dir.file("test-multichannel-chords-0.mid");
};

// Each row prepares the scratch folder, converts, and names what the user is told (a line
// ending in "*" stands for any line starting so) and what stands in the output folder after.
TEST_F(Faults, ConversionsThatFailSayWhyAndKeepWhatWasThere) {
  const std::string held = out + "/test-c-major-scale.wavが他のソフトで開かれています。";
  const std::string locked = dir.file("locked.mid"), broken = dir.file("broken.sf2");
  using Strings = std::vector<std::string>;
  struct Row {
    const char* name;
    std::function<void()> prepare;
    Strings args, env;
    bool nobody;
    Strings said, names;
    std::function<void()> after;
  };
  const auto older = [this] { kvtest::writeText(out + "/test-c-major-scale.wav", "older recording"); };
  const auto olderKept = [this] { EXPECT_EQ(kvtest::readBytes(out + "/test-c-major-scale.wav"), "older recording"); };
  const auto whole = [this](const std::string& name) {
    return [this, name] { EXPECT_GE(kvtest::readWave(out + "/" + name).seconds(), 4.0) << name; };
  };
  const Row rows[] = {
      {"read-only folder: refused before anything starts", [this] { chmod(out.c_str(), 0555); }, {scale, chords}, {}, true,
       {"保存先フォルダ " + out + " に書き込めません。", scale + ": not converted", chords + ": not converted"}, {}, {}},
      {"older output in a read-only folder", [&] { older(), chmod(out.c_str(), 0555); }, {scale}, {}, true,
       {held, scale + ": not converted"}, {"test-c-major-scale.wav"}, olderKept},
      {"write-protected older output is kept, the others convert",
       [&] { older(), chmod((out + "/test-c-major-scale.wav").c_str(), 0444); }, {chords, scale}, {}, false,
       {held, scale + ": not converted"}, {"test-c-major-scale.wav", "test-multichannel-chords-0.wav"},
       [&] { olderKept(), whole("test-multichannel-chords-0.wav")(); }},
      {"MIDI file the user cannot read: the batch goes on",
       [&] { kvtest::writeText(locked, kvtest::readBytes(scale)), chmod(locked.c_str(), 0), chmod(out.c_str(), 0777); },
       {locked, chords}, {}, true,
       {"locked.mid を変換できませんでした。 Cannot read the file (Permission denied): " + locked, locked + ": not converted"},
       {"test-multichannel-chords-0.wav"},
       [&] {
         chmod(locked.c_str(), 0644);
         EXPECT_EQ(kvtest::readBytes(locked), kvtest::readBytes(scale));
       }},
      {"full disk while recording", {}, {scale, chords},
       {"KORVESSA_FAULT_WRITE_LIMIT=100000", "KORVESSA_FAULT_WRITE_MATCH=.~rec"}, false,
       {"test-c-major-scale.mid を変換できませんでした。 The recording could not be saved (No space left on device): " + out +
            "/test-c-major-scale.wav",
        scale + ": not converted", chords + ": not converted"},
       {}, {}},
      {"full disk under the MP3 encoder", {}, {"--format", "mp3", "--encoder", "gogo", scale},
       {"KORVESSA_FAULT_WRITE_LIMIT=20000", "KORVESSA_FAULT_WRITE_MATCH=.mp3"}, false,
       {"エラーが発生しました errcode = 16", scale + ": not converted"}, {}, {}},
      {"full disk under the wave filter: the recording comes back unfiltered", {}, {"--normalize", scale},
       {"KORVESSA_FAULT_WRITE_LIMIT=10000", "KORVESSA_FAULT_WRITE_MATCH=/.test-c-major-scale.wav."}, false,
       {"ノーマライズでエラーが発生しました。"}, {"test-c-major-scale.wav"}, whole("test-c-major-scale.wav")},
      {"a SoundFont that is not one ends the batch",
       [&] { kvtest::writeText(broken, std::string(4096, 'x')), systemIni(broken); }, {scale, chords}, {}, false,
       {"test-c-major-scale.mid を変換できませんでした。 The file " + broken + " is not a SoundFont.", scale + ": not converted",
        chords + ": not converted"},
       {}, [&] { EXPECT_EQ(kvtest::readBytes(broken), std::string(4096, 'x')); }},
      {"a missing SoundFont: an installed one", [this] { systemIni(dir.file("gone.sf2")); }, {scale}, {}, false,
       {"SoundFont " + dir.file("gone.sf2") + " not found; using /usr/share/sounds/sf2/*"}, {"test-c-major-scale.wav"}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    systemIni(kTimGM);
    if (row.prepare) row.prepare();
    const auto r = Convert(row.args, row.env, row.nobody);
    Strings said = Said(r);
    for (size_t i = 0; i < said.size() && i < row.said.size(); ++i)
      if (row.said[i].back() == '*' && said[i].rfind(row.said[i].substr(0, row.said[i].size() - 1), 0) == 0) said[i] = row.said[i];
    EXPECT_EQ(said, row.said) << r.err;
    const bool failed = !said.empty() && said.back().ends_with(": not converted");
    EXPECT_EQ(r.exitCode, failed ? 1 : 0);
    EXPECT_EQ(OutNames(), row.names);
    if (row.after) row.after();
  }
}

TEST_F(Faults, InterruptedConvertRemovesThePartialItemAndStops) {
  const std::string day = dir.file("day.mid"), err = dir.file("stderr");
  kvtest::writeText(day, LongSong());
  kvtest::Background cli({KV_BIN_DIR "/korvessa", "convert", "--delay", "0", "--out", out, scale, day, chords},
                         {"KORVESSA_SYSTEM_INI=" + dir.file("system.ini")}, err);
  // It records in its staging folder inside the output folder.
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const std::string rec = out + "/.korvessa-" + host + "-" + std::to_string(cli.pid()) + "/day.wav.~rec";
  for (int i = 0; i < 3000 && !kvtest::exists(rec); ++i) usleep(10000);
  cli.signal(SIGTERM);
  EXPECT_EQ(cli.wait(30000), 128 + SIGTERM);
  const std::string said = kvtest::readBytes(err);
  EXPECT_NE(said.find("korvessa: interrupted\n"), std::string::npos) << said;
  EXPECT_NE(said.find("korvessa: " + day + ": not converted\n"), std::string::npos) << said;
  EXPECT_NE(said.find("korvessa: " + chords + ": not converted\n"), std::string::npos) << said;
  // The song finished before stays; of the stopped one nothing is left, not even its recording.
  EXPECT_EQ(OutNames(), std::vector<std::string>{"test-c-major-scale.wav"});
}

// A window in a child process on root/app (as the unprivileged user when `nobody`), set up as
// the program's main() does; `body` drives it. What body returns, then the messages shown, come
// back through `report`.
std::unique_ptr<kvtest::Background> WindowChild(const std::string& root, bool nobody, const std::vector<std::string>& env,
                                                const std::function<std::string(frmMain&)>& body, int& report) {
  int p[2];
  if (pipe(p) != 0) return nullptr;
  auto child = std::make_unique<kvtest::Background>([&] {
    close(p[0]);
    if (nobody && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    setenv("KORVESSA_SYSTEM_DIR", (root + "/system").c_str(), 1);
    setenv("KORVESSA_WINDOWS_DIR", (root + "/windows").c_str(), 1);
    setenv("KORVESSA_SYSTEM_INI", (root + "/system.ini").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "Dorvanti";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    std::string said;
    kv::SetMsgBoxHook([&said](const QString& text, int, const QString&) { return said += text.toStdString() + "\n", kv::vbOK; });
    std::string result;
    {
      frmMain form(QString::fromStdString(root + "/app"), "Dorvanti");
      form.setOpenHelpOnFirstRun(false);
      form.Form_Load();
      result = body(form) + said;
    }
    if (write(p[1], result.data(), result.size()) < 0) _exit(4);
  });
  close(p[1]);
  report = p[0];
  return child;
}

// The window program ended by a signal while it records removes the temporary recording it
// never saves (SIGINT and SIGHUP reach the same handler as SIGTERM).
TEST_F(Faults, WindowEndedWhileRecordingLeavesNoTemporaryRecording) {
  for (const char* sub : {"app", "system", "windows"}) std::filesystem::create_directories(dir.file(sub));
  const std::string day = dir.file("day.mid");
  const std::string rec = out + "/day.wav.~rec";
  kvtest::writeText(day, LongSong());
  int report = -1;
  const auto child = WindowChild(dir.path(), false, {}, [&](frmMain& form) {
    form.show();
    kv::CloseOnEndSignals(&form);
    kv::G().WavePath = QString::fromStdString(out);
    form.AddSourceFiles({QString::fromStdString(day)});
    form.Toolbar1_ButtonClick(form.Button("Rec"));
    QApplication::exec();
    _exit(5);  // shut-down ends the process itself
    return std::string();
  }, report);
  close(report);
  for (int i = 0; i < 3000 && !kvtest::exists(rec); ++i) usleep(10000);
  ASSERT_TRUE(kvtest::exists(rec));
  child->signal(SIGTERM);
  EXPECT_EQ(child->wait(30000), 0);
  EXPECT_FALSE(kvtest::exists(rec));
}

// Starts the window on `app`/Dorvanti.ini and closes it again: whether it ended cleanly, whether
// "use the title as file name" came up checked, and the messages it showed (one per line).
struct WindowRun {
  bool ended = false;
  bool titleToName = false;
  std::string messages;
};
WindowRun StartAndClose(const std::string& root, bool nobody, const std::vector<std::string>& env = {}) {
  int report = -1;
  const auto child = WindowChild(root, nobody, env, [](frmMain& form) {
    form.setEndProcess([] {});
    const std::string checked = form.chkTitleToFilename->isChecked() ? "1\n" : "0\n";
    form.Form_Unload();
    return checked;
  }, report);
  char buf[4096];
  std::string all;
  for (ssize_t n; (n = read(report, buf, sizeof buf)) > 0;) all.append(buf, size_t(n));
  close(report);
  return {child->wait(-1) == 0, all.rfind("1\n", 0) == 0, all.size() > 2 ? all.substr(2) : ""};
}

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    chmod(dir.path().c_str(), 0755);
    for (const char* sub : {"app", "system", "windows"}) std::filesystem::create_directories(dir.file(sub));
    kvtest::writeText(dir.file("system.ini"), "[Setup]\nSoundFont=/usr/share/sounds/sf2/TimGM6mb.sf2\n");
    // The folder belongs to the user who runs the window, so the file could be replaced.
    chown(dir.file("app").c_str(), 65534, 65534);
  }
  std::string ini() const { return dir.file("app/Dorvanti.ini"); }
  kvtest::TempDir dir;
};

// Each row: the file before, how the window runs, whether "use the title as file name" comes up
// checked, whether the user is told the file was not saved. A refused file stays as it was.
TEST_F(SettingsFile, RefusedFilesAreKeptAndTheUserIsTold) {
  const std::string text = "[Option]\nTitleToName=1\n; the user's own notes\n";
  std::string garbage(8192, '\0'), padding;
  std::mt19937 rng(7);
  for (char& c : garbage) c = char(rng());
  while (padding.size() < 10u << 20) padding += "; a long note kept by the user, line " + std::to_string(padding.size()) + "\n";
  const struct {
    const char* name;
    std::string before;
    mode_t mode;
    bool nobody;
    std::vector<std::string> env;
    bool titleToName, refused;
  } rows[] = {
      {"unreadable: the defaults", text, 0, true, {}, false, true},
      {"garbage", garbage, 0644, false, {}, false, true},
      {"full disk", text, 0644, false, {"KORVESSA_FAULT_WRITE_LIMIT=0", "KORVESSA_FAULT_WRITE_MATCH=Dorvanti.ini"}, true, true},
      {"ten megabytes are read and written, keeping their lines", padding + text, 0644, false, {}, true, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    kvtest::writeText(ini(), row.before);
    chown(ini().c_str(), 65534, 65534);
    chmod(ini().c_str(), row.mode);
    const auto r = StartAndClose(dir.path(), row.nobody, row.env);
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.titleToName, row.titleToName);
    EXPECT_EQ(r.messages, row.refused ? ini() + " に設定を保存できませんでした。\n" : "");
    struct stat st {};
    ASSERT_EQ(stat(ini().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, row.mode);
    chmod(ini().c_str(), 0644);
    const std::string after = kvtest::readBytes(ini());
    if (row.refused) EXPECT_EQ(after, row.before);
    else EXPECT_TRUE(after.starts_with(padding) && after.find("[Folder]\n") != std::string::npos);
    EXPECT_EQ(dir.list("app"), std::vector<std::string>{"Dorvanti.ini"});
  }
}

}  // namespace
