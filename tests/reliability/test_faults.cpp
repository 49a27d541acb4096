// Failing folders, disks, SoundFonts and settings files: what the user is told and what stays on
// disk. Conversions run through "korvessa convert"; the settings file through a window started
// and closed in a child process (some cases as the unprivileged user 65534, since tests run as root).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QTimer>
#include <filesystem>
#include <random>

#include "MidiFiles.h"
#include "Mutants.h"
#include "Process.h"
#include "ScratchFolder.h"
#include "WaveFiles.h"
#include "app/EndSignals.h"
#include "app/Globals.h"
#include "app/frmMain.h"
#include "kernel32.h"
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

// Waits for the child's temporary recording `rec`, sends it `sig` (0: none) and waits for its
// end; false, with the child killed, when either wait took over 30 s.
bool EndWhileRecording(pid_t pid, const std::string& rec, int sig, int& status) {
  int i = 0;
  while (i < 3000 && !kvtest::exists(rec)) ++i, usleep(10000);
  if (sig && i < 3000) kill(pid, sig);
  for (i = 0; waitpid(pid, &status, WNOHANG) == 0; ++i) {
    if (i == 3000) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return false;
    }
    usleep(10000);
  }
  return true;
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

TEST_F(Faults, ReadOnlyOutputFolderIsRefusedBeforeAnythingStarts) {
  chmod(out.c_str(), 0555);
  const auto r = Convert({scale, chords}, {}, true);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(Said(r), (std::vector<std::string>{"保存先フォルダ " + out + " に書き込めません。", scale + ": not converted",
                                               chords + ": not converted"}));
  EXPECT_TRUE(OutNames().empty());
}

TEST_F(Faults, OlderOutputThatCannotBeDeletedIsKeptAndNamed) {
  // Folder not writable for the user: the old file cannot go.
  kvtest::writeText(out + "/test-c-major-scale.wav", "older recording");
  chmod(out.c_str(), 0555);
  auto r = Convert({scale}, {}, true);
  EXPECT_EQ(Said(r), (std::vector<std::string>{out + "/test-c-major-scale.wavが他のソフトで開かれています。",
                                               scale + ": not converted"}));
  EXPECT_EQ(kvtest::readBytes(out + "/test-c-major-scale.wav"), "older recording");
  // A write-protected old file in a writable folder: that item is refused, the others convert.
  chmod(out.c_str(), 0755);
  chmod((out + "/test-c-major-scale.wav").c_str(), 0444);
  r = Convert({chords, scale});
  EXPECT_EQ(Said(r), (std::vector<std::string>{out + "/test-c-major-scale.wavが他のソフトで開かれています。",
                                               scale + ": not converted"}));
  EXPECT_EQ(kvtest::readBytes(out + "/test-c-major-scale.wav"), "older recording");
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"test-c-major-scale.wav", "test-multichannel-chords-0.wav"}));
  EXPECT_GE(kvtest::readWave(out + "/test-multichannel-chords-0.wav").seconds(), 4.0);
}

TEST_F(Faults, MidiFileTheUserCannotReadIsNamedAndTheBatchGoesOn) {
  const std::string locked = dir.file("locked.mid");
  kvtest::writeText(locked, kvtest::readBytes(scale));
  chmod(locked.c_str(), 0);
  chmod(out.c_str(), 0777);
  const auto r = Convert({locked, chords}, {}, true);
  EXPECT_EQ(Said(r), (std::vector<std::string>{"locked.mid を変換できませんでした。 Cannot read the file (Permission denied): " +
                                                   locked,
                                               locked + ": not converted"}));
  EXPECT_EQ(OutNames(), std::vector<std::string>{"test-multichannel-chords-0.wav"});
  chmod(locked.c_str(), 0644);
  EXPECT_EQ(kvtest::readBytes(locked), kvtest::readBytes(scale));
}

TEST_F(Faults, FullDiskWhileRecordingOrEncodingLeavesNoHalfFile) {
  auto r = Convert({scale, chords}, {"KORVESSA_FAULT_WRITE_LIMIT=100000", "KORVESSA_FAULT_WRITE_MATCH=.~rec"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(Said(r), (std::vector<std::string>{
                         "test-c-major-scale.mid を変換できませんでした。 The recording could not be saved to " + out +
                             "/test-c-major-scale.wav",
                         scale + ": not converted", chords + ": not converted"}));
  EXPECT_TRUE(OutNames().empty());

  // The MP3 encoder's output runs out of room: its error, and neither a partial MP3 nor its temporary file.
  r = Convert({"--format", "mp3", "--encoder", "gogo", scale},
              {"KORVESSA_FAULT_WRITE_LIMIT=20000", "KORVESSA_FAULT_WRITE_MATCH=.mp3"});
  EXPECT_EQ(Said(r), (std::vector<std::string>{"エラーが発生しました errcode = 16", scale + ": not converted"}));
  EXPECT_TRUE(OutNames().empty());

  // The wave filter's output runs out of room: the recording comes back unfiltered under its name.
  r = Convert({"--normalize", scale},
              {"KORVESSA_FAULT_WRITE_LIMIT=10000", "KORVESSA_FAULT_WRITE_MATCH=/.test-c-major-scale.wav."});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(Said(r), std::vector<std::string>{"ノーマライズでエラーが発生しました。"});
  EXPECT_EQ(OutNames(), std::vector<std::string>{"test-c-major-scale.wav"});
  EXPECT_GE(kvtest::readWave(out + "/test-c-major-scale.wav").seconds(), 4.0);
}

TEST_F(Faults, SoundFontThatIsNotOneEndsTheBatchWithItsName) {
  kvtest::writeText(dir.file("broken.sf2"), std::string(4096, 'x'));
  systemIni(dir.file("broken.sf2"));
  const auto r = Convert({scale, chords});
  EXPECT_EQ(r.exitCode, 1);
  const auto said = Said(r);
  ASSERT_EQ(said.size(), 3u) << r.err;
  EXPECT_EQ(said[0], "test-c-major-scale.mid を変換できませんでした。 The file " + dir.file("broken.sf2") +
                         " is not a SoundFont.");
  EXPECT_TRUE(OutNames().empty());
  EXPECT_EQ(kvtest::readBytes(dir.file("broken.sf2")), std::string(4096, 'x'));
}

TEST_F(Faults, MissingSoundFontIsNamedAndAnInstalledOneIsUsed) {
  systemIni(dir.file("gone.sf2"));
  const auto r = Convert({scale});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("korvessa: SoundFont " + dir.file("gone.sf2") + " not found; using /usr/share/sounds/sf2/"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(OutNames(), std::vector<std::string>{"test-c-major-scale.wav"});
}

TEST_F(Faults, InterruptedConvertRemovesThePartialItemAndStops) {
  const std::string day = dir.file("day.mid");
  kvtest::writeText(day, LongSong());
  const std::string err = dir.file("stderr");
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    setenv("KORVESSA_SYSTEM_INI", dir.file("system.ini").c_str(), 1);
    execl(KV_BIN_DIR "/korvessa", "korvessa", "convert", "--delay", "0", "--out", out.c_str(), scale.c_str(),
          day.c_str(), chords.c_str(), nullptr);
    _exit(127);
  }
  // It records in its staging folder inside the output folder.
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  int status = 0;
  ASSERT_TRUE(EndWhileRecording(pid, out + "/.korvessa-" + host + "-" + std::to_string(pid) + "/day.wav.~rec", SIGTERM, status));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
  const std::string said = kvtest::readBytes(err);
  EXPECT_NE(said.find("korvessa: interrupted\n"), std::string::npos) << said;
  EXPECT_NE(said.find("korvessa: " + day + ": not converted\n"), std::string::npos) << said;
  EXPECT_NE(said.find("korvessa: " + chords + ": not converted\n"), std::string::npos) << said;
  // The song finished before stays; of the stopped one nothing is left, not even its recording.
  EXPECT_EQ(OutNames(), std::vector<std::string>{"test-c-major-scale.wav"});
}

// The window program ended while it records: closed, or by a signal, it removes the temporary
// recording it never saves; killed outright it cannot, and the next conversion of the item does.
TEST_F(Faults, WindowEndedWhileRecordingLeavesNoTemporaryRecording) {
  for (const char* sub : {"app", "system", "windows"}) std::filesystem::create_directories(dir.file(sub));
  const std::string day = dir.file("day.mid");
  const std::string rec = out + "/day.wav.~rec";
  for (const auto& [how, sig] : {std::pair{"closed", 0}, {"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP},
                                 {"SIGKILL", SIGKILL}}) {
    SCOPED_TRACE(how);
    kvtest::writeText(day, LongSong());
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("KORVESSA_SYSTEM_DIR", dir.file("system").c_str(), 1);
      setenv("KORVESSA_WINDOWS_DIR", dir.file("windows").c_str(), 1);
      setenv("KORVESSA_SYSTEM_INI", dir.file("system.ini").c_str(), 1);
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      int argc = 1;
      char name[] = "Dorvanti";
      char* argv[] = {name, nullptr};
      QApplication app(argc, argv);
      kv::SetMsgBoxHook([](const QString&, int, const QString&) { return kv::vbOK; });
      // As the program's main() sets the window up.
      frmMain form(QString::fromStdString(dir.file("app")), "Dorvanti");
      form.setOpenHelpOnFirstRun(false);
      form.Form_Load();
      form.show();
      kv::CloseOnEndSignals(&form);
      kv::G().WavePath = QString::fromStdString(out);
      form.AddSourceFiles({QString::fromStdString(day)});
      QTimer closer;
      if (sig == 0) {
        QObject::connect(&closer, &QTimer::timeout, [&] {
          if (kvtest::exists(rec)) form.close();
        });
        closer.start(10);
      }
      form.Toolbar1_ButtonClick(form.Button("Rec"));
      app.exec();
      _exit(5);  // shut-down ends the process itself
    }
    int status = 0;
    ASSERT_TRUE(EndWhileRecording(pid, rec, sig, status));
    if (sig == SIGKILL) {
      EXPECT_TRUE(kvtest::exists(rec));
      // The next conversion of the item (a short song under the same name now) takes it away.
      kvtest::writeText(day, kvtest::readBytes(scale));
      const auto r = Convert({day});
      EXPECT_EQ(r.exitCode, 0) << r.err;
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_FALSE(kvtest::exists(rec));
  }
}

// Starts the window on `app`/Dorvanti.ini in a child process and closes it again; returns the
// messages it showed (one per line) and whether "use the title as file name" came up checked.
struct WindowRun {
  bool ended = false;
  std::string messages;
  bool titleToName = false;
};
WindowRun StartAndClose(const std::string& root, bool nobody, const std::vector<std::string>& env = {}) {
  int p[2];
  if (pipe(p) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(p[0]);
    if (nobody && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    setenv("KORVESSA_SYSTEM_DIR", (root + "/system").c_str(), 1);
    setenv("KORVESSA_WINDOWS_DIR", (root + "/windows").c_str(), 1);
    setenv("KORVESSA_SYSTEM_INI", (root + "/system.ini").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "faults";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    std::string said;
    kv::SetMsgBoxHook([&said](const QString& text, int, const QString&) {
      said += text.toStdString() + "\n";
      return kv::vbOK;
    });
    {
      frmMain form(QString::fromStdString(root + "/app"), "Dorvanti");
      form.setEndProcess([] {});
      form.setOpenHelpOnFirstRun(false);
      form.Form_Load();
      said = std::string(form.chkTitleToFilename->isChecked() ? "1" : "0") + "\n" + said;
      form.Form_Unload();
    }
    if (write(p[1], said.data(), said.size()) < 0) _exit(4);
    _exit(0);
  }
  close(p[1]);
  WindowRun r;
  char buf[4096];
  std::string all;
  for (ssize_t n; (n = read(p[0], buf, sizeof buf)) > 0;) all.append(buf, size_t(n));
  close(p[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.ended = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  r.titleToName = all.rfind("1\n", 0) == 0;
  r.messages = all.size() > 2 ? all.substr(2) : "";
  return r;
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
  std::string refused() const { return ini() + " に設定を保存できませんでした。\n"; }
  kvtest::TempDir dir;
};

TEST_F(SettingsFile, UnreadableGarbageOrFullDiskKeepTheFileAndSaySo) {
  const std::string text = "[Option]\nTitleToName=1\n; the user's own notes\n";
  kvtest::writeText(ini(), text);
  chown(ini().c_str(), 65534, 65534);
  chmod(ini().c_str(), 0);
  auto r = StartAndClose(dir.path(), true);
  ASSERT_TRUE(r.ended);
  EXPECT_FALSE(r.titleToName);  // not readable: the defaults
  EXPECT_EQ(r.messages, refused());
  struct stat st {};
  ASSERT_EQ(stat(ini().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0u);
  chmod(ini().c_str(), 0644);
  EXPECT_EQ(kvtest::readBytes(ini()), text);

  std::string garbage(8192, '\0');
  std::mt19937 rng(7);
  for (char& c : garbage) c = char(rng());
  kvtest::writeText(ini(), garbage);
  r = StartAndClose(dir.path(), false);
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.messages, refused());
  EXPECT_EQ(kvtest::readBytes(ini()), garbage);

  kvtest::writeText(ini(), text);
  r = StartAndClose(dir.path(), false, {"KORVESSA_FAULT_WRITE_LIMIT=0", "KORVESSA_FAULT_WRITE_MATCH=Dorvanti.ini"});
  ASSERT_TRUE(r.ended);
  EXPECT_TRUE(r.titleToName);
  EXPECT_EQ(r.messages, refused());
  EXPECT_EQ(kvtest::readBytes(ini()), text);
  EXPECT_EQ(dir.list("app"), std::vector<std::string>{"Dorvanti.ini"});
}

TEST_F(SettingsFile, TenMegabyteFileIsReadAndWrittenKeepingItsLines) {
  std::string padding;
  while (padding.size() < 10u << 20) padding += "; a long note kept by the user, line " + std::to_string(padding.size()) + "\n";
  kvtest::writeText(ini(), padding + "[Option]\nTitleToName=1\n");
  const auto r = StartAndClose(dir.path(), false);
  ASSERT_TRUE(r.ended);
  EXPECT_TRUE(r.titleToName);
  EXPECT_EQ(r.messages, "");
  const std::string after = kvtest::readBytes(ini());
  EXPECT_EQ(after.compare(0, padding.size(), padding), 0);
  EXPECT_NE(after.find("[Folder]\n"), std::string::npos);
  EXPECT_EQ(dir.list("app"), std::vector<std::string>{"Dorvanti.ini"});
}

}  // namespace

namespace {
// Reads are served from the last parsed file only while it is the same on disk.
TEST(SettingsReads, SeeEveryChangeMadeBetweenThem) {
  kvtest::TempDir dir;
  const std::string ini = dir.file("s.ini");
  char buf[64];
  const std::string notes(300 * 1024, ';');  // large enough to be kept between reads
  kvtest::writeText(ini, notes + "\n[a]\nk=one\n");
  GetPrivateProfileStringA("a", "k", "", buf, sizeof buf, ini.c_str());
  EXPECT_STREQ(buf, "one");
  {
    std::ofstream same(ini, std::ios::in | std::ios::out | std::ios::binary);  // same file, same size
    same << notes << "\n[a]\nk=two\n";
  }
  GetPrivateProfileStringA("a", "k", "", buf, sizeof buf, ini.c_str());
  EXPECT_STREQ(buf, "two");
  ASSERT_TRUE(WritePrivateProfileStringA("a", "k", "three", ini.c_str()));
  GetPrivateProfileStringA("a", "k", "", buf, sizeof buf, ini.c_str());
  EXPECT_STREQ(buf, "three");
  std::filesystem::remove(ini);
  GetPrivateProfileStringA("a", "k", "gone", buf, sizeof buf, ini.c_str());
  EXPECT_STREQ(buf, "gone");
}
}  // namespace
