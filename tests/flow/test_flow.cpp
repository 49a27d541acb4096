// The flow through the window on the offscreen platform: adding files, output names,
// conversions in single and batch mode, the delay, Stop, the normaliser and playback.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMimeData>
#include <QStyledItemDelegate>
#include <QUrl>
#include <QtTest>

#include "AppFixture.h"
#include "MidiFiles.h"
#include "Process.h"
#include "WaveFiles.h"
#include "app/Globals.h"
#include "postproc/cShellX.h"
#include "shell/FileName.h"
#include "shell/DialogHook.h"

using kv::G;

namespace {
const QString kCorpus = QStringLiteral(KV_SOURCE_DIR "/tests/data/midi/jazz-soft-test-midi-files/");
const QString kScale = kCorpus + "test-c-major-scale.mid";           // 4.0 s, title "C Major Scale Test"
const QString kChords = kCorpus + "test-multichannel-chords-0.mid";  // 4.0 s
const QString kTwoTracks = kCorpus + "test-2-tracks-type-1.mid";     // 4.5 s

void WriteFile(const QString& path, const std::string& bytes, bool exec = false) {
  kvtest::writeText(path.toStdString(), bytes);
  if (exec) QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser);
}

// A one-note MIDI file whose track carries the given title; without one, an empty track.
std::string MidiWithTitle(const std::string& title) {
  smf::Track t;
  if (!title.empty()) {
    t.Meta(0, 0x03, title);
    t.Event(0, {0x90, 0x3C, 0x40});
    t.Event(96, {0x80, 0x3C, 0});
  }
  t.End(t.last);
  return smf::File(0, 96, {t});
}

kvtest::WaveData Read(const QString& path) { return kvtest::readWave(path.toStdString()); }
QString Num(double v) { return QString::number(v); }

// Largest difference between two recordings once their leading silence is aligned, over the
// length they share (at least 3 s, or 2 as the answer), at most `seconds` when given; `exact`
// compares the samples as stored.
double Difference(const kvtest::WaveData& x, const kvtest::WaveData& y, bool exact = false, double seconds = 0) {
  const int64_t a = int64_t(x.firstSound() * x.rate), b = int64_t(y.firstSound() * y.rate);
  int64_t n = std::min(x.frames() - a, y.frames() - b);
  if (seconds > 0) n = std::min(n, int64_t(seconds * x.rate));
  if (x.rate != y.rate || x.channels != y.channels || a < 0 || b < 0 || n <= 3 * x.rate) return 2;
  double diff = 0;
  for (int64_t i = 0; i < n * (exact ? x.channels : 1); ++i)
    diff = std::max(diff, exact ? std::abs(x.samples[size_t(a * x.channels + i)] - y.samples[size_t(b * y.channels + i)])
                                : double(std::fabs(x.mono(a + i) - y.mono(b + i))));
  return diff;
}

// Runs "korvessa convert" with these arguments and the fixture's system setup, without a
// display, a platform plugin choice or a runtime folder (a bare name unsets the variable).
kvtest::RunResult Convert(const AppFixture& fx, const QStringList& args) {
  std::vector<std::string> argv{KV_BIN_DIR "/korvessa", "convert"};
  for (const QString& a : args) argv.push_back(a.toStdString());
  return kvtest::run(argv, {"KORVESSA_SYSTEM_INI=" + fx.root->filePath("system.ini").toStdString(), "DISPLAY",
                            "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"});
}

// Dialogs answer `files`; the title and starting folder of the last one are kept.
void Answer(const QStringList& files, QString* title = nullptr, QString* dir = nullptr) {
  kv::SetDialogHook([=](const QString&, const QString& t, const QString& d) {
    if (title) *title = t;
    if (dir) *dir = d;
    return files;
  });
}

void SelectTemplate(frmMain* f, int number) {
  const int i = f->cboSample->findData(number);
  QVERIFY(i >= 0);
  f->cboSample->setCurrentIndex(i);
}

// Converts the given files from the first into `out` with a recording template and waits for the end.
void Record(AppFixture& fx, const QString& out, int sample, const QStringList& files) {
  SelectTemplate(fx.form.get(), sample);
  G().WavePath = out;
  fx.form->AddSourceFiles(files);
  fx.form->lstSource->setCurrentRow(0);
  fx.form->Toolbar1_ButtonClick(fx.form->Button("Rec"));
  QVERIFY(fx.form->mnuExecStop->isEnabled() || QFile::exists(fx.form->lblWaveFileName->text()));  // it started
  QVERIFY(fx.waitIdle());
}
}  // namespace

class FlowTest : public QObject {
  Q_OBJECT

 private slots:
  void addFilesThroughTheDialog() {
    AppFixture fx;
    frmMain* f = fx.start();
    QString title, dir;
    Answer({kScale, kChords}, &title, &dir);
    f->Toolbar1_ButtonClick(f->Button("FileOpen"));
    QCOMPARE(title + "|" + dir, QStringLiteral("MIDIファイルの追加|") + fx.app);
    QCOMPARE(f->lstSource->count(), 2);
    QCOMPARE(f->Sources->Entry(0), kScale);
    QCOMPARE(f->lstSource->currentRow(), 1);
    QCOMPARE(G().MidiPath + "/", kCorpus);
    QCOMPARE(f->Panel("status")->text(), QStringLiteral("Ready(00:04)"));
    QCOMPARE(f->Panel("Title")->text(), QStringLiteral("Multi-channel chords Test 0"));
    QCOMPARE(f->lblWaveFileName->text(), fx.app + "/test-multichannel-chords-0.wav");
    // A single selection adds one entry and selects it; cancel changes nothing.
    Answer({kScale});
    f->mnuFileOpen_Click();
    f->mnuFileOpen_Click();  // the same file twice: two entries
    QCOMPARE(f->Sources->Entries().mid(2), QStringList({kScale, kScale}));
    QCOMPARE(f->lstSource->currentRow(), 3);
    Answer({});
    f->mnuFileOpen_Click();
    QCOMPARE(f->lstSource->count(), 4);
    kv::SetDialogHook({});
  }

  void dropsAcceptOnlyMidiFiles() {
    AppFixture fx;
    frmMain* f = fx.start();
    QMimeData ok, mixed, text;
    // The last one is a Shift-JIS name, which is not UTF-8: its bytes must reach the list.
    ok.setUrls({QUrl::fromLocalFile("/m/a.MID"), QUrl::fromLocalFile("/m/b.Rmi"), QUrl::fromEncoded("file:///m/%8B%C8A.mid")});
    mixed.setUrls({QUrl::fromLocalFile("/m/a.mid"), QUrl::fromLocalFile("/m/b.txt")});
    text.setText("/m/a.mid");
    int effect = 1;
    f->lstSource_OLEDragOver(&mixed, effect);
    QCOMPARE(effect, 0);
    f->lstSource_OLEDragDrop(&mixed, effect);
    QCOMPARE(f->lstSource->count(), 0);
    effect = 1;
    f->lstSource_OLEDragOver(&text, effect);
    QCOMPARE(effect, 0);
    f->lstSource_OLEDragOver(&ok, effect);
    QCOMPARE(effect, 1);
    const QString midiPathBefore = G().MidiPath;
    f->lstSource_OLEDragDrop(&ok, effect);
    QCOMPARE(f->lstSource->count(), 3);
    QCOMPARE(f->Sources->Entry(1), QStringLiteral("/m/b.Rmi"));
    QCOMPARE(kv::PathBytes(f->Sources->Entry(2)), QByteArray("/m/\x8b\xc8\x41.mid"));
    const auto* shown = static_cast<QStyledItemDelegate*>(f->lstSource->itemDelegate());
    QCOMPARE(shown->displayText(f->Sources->Entry(2), QLocale()), QStringLiteral("/m/曲A.mid"));
    QCOMPARE(f->lstSource->currentRow(), 2);
    QCOMPARE(G().MidiPath, midiPathBefore);
  }

  void outputNameFollowsTheTitleBox() {
    AppFixture fx;
    frmMain* f = fx.start();
    const QString dir = fx.root->path(), song = dir + "/song.mid";
    WriteFile(song, MidiWithTitle("Song A"));
    G().WavePath = dir;
    f->chkTitleToFilename->setChecked(true);
    f->AddSourceFiles({song});
    QCOMPARE(f->lblWaveFileName->text(), dir + "/Song A.wav");
    QCOMPARE(f->lblWaveFileName->toolTip(), dir + "/Song A.wav");
    // The check box cleared: the file's own name.
    f->chkTitleToFilename->click();
    QCOMPARE(f->lblWaveFileName->text(), dir + "/song.wav");
  }

  void saveFolderAndClear() {
    AppFixture fx;
    frmMain* f = fx.start();
    QString start;
    kv::SetDialogHook([&](const QString& kind, const QString& title, const QString& dir) {
      start = dir;
      return kind == "folder" && title == QStringLiteral("保存先フォルダ") ? QStringList{"/"} : QStringList{};
    });
    f->AddSourceFiles({kScale});
    f->Toolbar1_ButtonClick(f->Button("SaveFolder"));
    QCOMPARE(start, fx.app);            // the browser opens on the program's folder
    QCOMPARE(G().WavePath, QString());  // the root is kept without its separator
    QCOMPARE(f->lblWaveFileName->text(), QStringLiteral("/test-c-major-scale.wav"));
    QCOMPARE(QDir::currentPath(), QStringLiteral("/"));
    // Cancel keeps the folder, makes it current and refreshes the label.
    G().WavePath = fx.root->path();
    Answer({});
    f->mnuFileSave_Click();
    QCOMPARE(G().WavePath, fx.root->path());
    QCOMPARE(QDir::currentPath(), fx.root->path());
    QCOMPARE(f->lblWaveFileName->text(), fx.root->path() + "/test-c-major-scale.wav");
    kv::SetDialogHook({});
    f->Toolbar1_ButtonClick(f->Button("Clear"));
    QCOMPARE(f->lstSource->count(), 0);
    QCOMPARE(f->lblWaveFileName->text(), fx.root->path() + "/");
  }

  void batchConversionWritesEveryFile() {
    AppFixture fx;
    fx.writeIni("[Option]\nWait=0\n");
    frmMain* f = fx.start();
    const QString out = fx.root->path() + "/out folder";
    QDir().mkpath(out);
    f->mnuSetPlay_Click(1);
    Record(fx, out, 107, {kScale, kChords, kTwoTracks});  // 22050 Hz 16-bit mono, from the first entry
    QCOMPARE(fx.messages.size(), size_t(0));
    for (auto [name, length] : {std::pair{"test-c-major-scale.wav", 4.0}, {"test-multichannel-chords-0.wav", 4.0},
                                {"test-2-tracks-type-1.wav", 4.5}}) {
      const kvtest::WaveData w = Read(out + "/" + name);
      QVERIFY2(w.ok, name);
      QCOMPARE(QList<int>({w.rate, w.bits, w.channels}), QList<int>({22050, 16, 1}));
      QVERIFY2(w.seconds() >= length && w.seconds() < length + 0.6, qPrintable(Num(w.seconds())));
      QVERIFY(w.peak() > 0.01);
    }
    QCOMPARE(f->lstSource->currentRow(), 2);
    QVERIFY(f->Button("Rec")->isEnabled() && !f->Button("Stop")->isEnabled() && f->cboSample->isEnabled());
  }

  void delayAddsSilenceBeforeAndAfter() {
    AppFixture fx;
    fx.writeIni("[Wait]\nCount=5\n[Option]\nWait=1\n");
    frmMain* f = fx.start();
    QCOMPARE(G().WaitCount, short(5));
    Record(fx, fx.root->path(), 119, {kScale});  // 44100 Hz 16-bit mono
    const kvtest::WaveData w = Read(fx.root->path() + "/test-c-major-scale.wav");
    QVERIFY(w.ok);
    // 0.6 s before the first note; the song (4 s) then 0.6 s more. The waits are wall-clock
    // timer ticks: a busy machine can only make them longer.
    QVERIFY2(w.firstSound() > 0.6 - 0.02 && w.firstSound() < 0.6 + 0.25, qPrintable(Num(w.firstSound())));
    QVERIFY2(w.seconds() > 0.6 + 4.0 + 0.6 - 0.03 && w.seconds() < 0.6 + 4.0 + 0.6 + 0.5, qPrintable(Num(w.seconds())));
  }

  void normaliserRunsTheFilter() {
    const QString tool = QStringLiteral(KV_BIN_DIR "/tools/waveflt.exe");
    QVERIFY(QFile::exists(tool));
    AppFixture fx;
    fx.writeIni(("[Folder]\nWaveflt=" + tool + "\n[Normalize]\nEnable=1\nheadcut=OK\n[Option]\nWait=0\n").toUtf8());
    frmMain* f = fx.start();
    QVERIFY(f->mnuNormalEnable[1]->isChecked());
    const QString out = fx.root->path() + "/with space";
    QDir().mkpath(out);
    Record(fx, out, 120, {kScale});  // 44100 Hz 16-bit stereo
    QCOMPARE(fx.messages.size(), size_t(0));
    QVERIFY(!QFile::exists(out + "/normal.wav"));
    const kvtest::WaveData w = Read(out + "/test-c-major-scale.wav");
    QVERIFY(w.ok);
    QCOMPARE(w.channels, 2);
    QVERIFY2(std::fabs(w.peak() - 0.9) < 0.02, qPrintable(Num(w.peak())));
    QVERIFY2(w.firstSound(0.01) < 0.02, qPrintable(Num(w.firstSound(0.01))));
    QCOMPARE(f->Engine()->WaveFilterCommandLine(),
             tool + " -autoofs -headcut 1 -normal 0.9 \"" + out + "/normal.wav\" \"" + out + "/test-c-major-scale.wav\"");
  }

  void normaliserProgramChoice() {
    AppFixture fx;
    frmMain* f = fx.start();
    QVERIFY(!f->Button("waveflt")->isVisible());
    QString title, dir;
    Answer({}, &title, &dir);
    f->mnuNormal_Click();  // cancelled: nothing changes
    QCOMPARE(title + "|" + dir, QStringLiteral("wavefltの指定|") + fx.app);
    QVERIFY(!f->Button("waveflt")->isVisible());
    // A file of another name is not taken, but the normaliser items are shown.
    const QString other = fx.root->path() + "/normalize.exe";
    WriteFile(other, "#!/bin/sh\n", true);
    Answer({other});
    f->mnuNormal_Click();
    QCOMPARE(G().WavefltPath, QString());
    QVERIFY(f->Button("waveflt")->isVisible() && f->mnuNormalEnable[1]->isVisible());
    // The real tool is taken; the next dialog opens on its folder.
    const QString tool = fx.root->path() + "/tools/WAVEFLT.EXE";
    QDir().mkpath(fx.root->path() + "/tools");
    WriteFile(tool, "#!/bin/sh\n", true);
    Answer({tool}, nullptr, &dir);
    f->mnuNormal_Click();
    QCOMPARE(G().WavefltPath, tool);
    f->mnuNormal_Click();
    QCOMPARE(dir, fx.root->path() + "/tools");
    kv::SetDialogHook({});
  }

  void commandLineNormalises() {
    AppFixture fx;
    const QString out = fx.root->path() + "/out";
    QDir().mkpath(out);
    // A file of the user's named like the filter's input neither stops the filter nor is lost.
    WriteFile(out + "/normal.wav", "the user's own normal.wav");
    auto r = Convert(fx, {"--out", out, "--sample", "123", "--delay", "0.5", "--normalize", "--headcut", kScale});
    QVERIFY2(r.exitCode == 0, r.err.c_str());
    QCOMPARE(QDir(out).entryList(QDir::Files), QStringList({"normal.wav", "test-c-major-scale.wav"}));
    QCOMPARE(kvtest::readBytes((out + "/normal.wav").toStdString()), std::string("the user's own normal.wav"));
    const kvtest::WaveData w = Read(out + "/test-c-major-scale.wav");
    QVERIFY(w.ok);
    QCOMPARE(w.rate, 48000);
    QVERIFY2(std::fabs(w.peak() - 0.9) < 0.02, qPrintable(Num(w.peak())));
    QVERIFY2(w.firstSound(0.01) < 0.02, qPrintable(Num(w.firstSound(0.01))));  // the 0.6 s of leading silence is cut
    // Bad usage: exit code 2 with the usage text. A file that is not MIDI: exit code 1 and a message naming it.
    r = Convert(fx, {"--sample", "99", kScale});
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.err.find("usage") != std::string::npos);
    WriteFile(fx.root->path() + "/bad.mid", "not a midi file");
    r = Convert(fx, {"--out", out, fx.root->path() + "/bad.mid"});
    QCOMPARE(r.exitCode, 1);
    QVERIFY(r.err.find("bad.mid") != std::string::npos);
    // A relative file name is found although --out names another folder.
    const QString here = QDir::currentPath();
    QDir::setCurrent(kCorpus);
    r = Convert(fx, {"--out", out, "--delay", "0", "test-multichannel-chords-0.mid"});
    QDir::setCurrent(here);
    QVERIFY2(r.exitCode == 0, r.err.c_str());
    QVERIFY(QFile::exists(out + "/test-multichannel-chords-0.wav"));
  }

  void playbackSingleAndBatch() {
    AppFixture fx;
    fx.setSystem(false);
    frmMain* f = fx.start();
    // Nothing selected: nothing changes.
    f->Toolbar1_ButtonClick(f->Button("Play"));
    QVERIFY(f->Button("Rec")->isEnabled() && !f->Engine()->Busy());
    f->AddSourceFiles({kScale, fx.root->path() + "/gone.mid", kChords});
    f->lstSource->setCurrentRow(0);
    f->mnuSetPlay_Click(1);
    f->Toolbar1_ButtonClick(f->Button("Play"));
    QVERIFY(f->Engine()->CurrentStep() == kv::ConversionController::Step::Playing);
    QVERIFY(f->ButtonPressed("all") && f->Button("all")->isEnabled());  // pressed buttons stay enabled
    QVERIFY(!f->Button("Rec")->isEnabled() && f->Button("Stop")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(f->Panel("status")->text().startsWith("Play 00:0"), 3000);
    // Stop during the first entry: playback ends with the last entry selected.
    f->Toolbar1_ButtonClick(f->Button("Stop"));
    QVERIFY(fx.waitIdle(5000));
    QCOMPARE(f->lstSource->currentRow(), 2);
    QVERIFY(!f->Button("Stop")->isEnabled() && f->mnuExecPlay->isEnabled());
    // Batch from the deleted second entry: it ends at once and the third plays.
    f->lstSource->setCurrentRow(1);
    f->Toolbar1_ButtonClick(f->Button("Play"));
    QTRY_COMPARE_WITH_TIMEOUT(f->lstSource->currentRow(), 2, 3000);
    QVERIFY(f->Engine()->CurrentStep() == kv::ConversionController::Step::Playing);
    f->Toolbar1_ButtonClick(f->Button("Stop"));
    QVERIFY(fx.waitIdle(5000));
  }

  void commandLineIsSplitAtTheFirstFindableProgram() {
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const QString prog = dir.path() + "/My Tools/run me.sh";
    QDir().mkpath(dir.path() + "/My Tools");
    WriteFile(prog, "#!/bin/sh\nexit 0\n", true);
    cShellX runner;
    for (auto [line, program, parameters] : {std::tuple{prog + " -a \"x y\"", prog, QStringLiteral("-a \"x y\"")},
                                             {QStringLiteral("noblanks"), QStringLiteral("noblanks"), QString()},
                                             {QStringLiteral(" leading blank"), QStringLiteral(" leading blank"), QString()}}) {
      const auto s = runner.SplitCommandLine(line);
      QCOMPARE(s.program, program);
      QCOMPARE(s.parameters, parameters);
    }
    // A program that cannot be started by either method: false, at once.
    kv::ProgramRun run;
    QVERIFY(!run.Start("/nonexistent/program -x", [] {}));
    // A program that ends at once is seen ended at the first look, about 100 ms on; never
    // from inside Start.
    QElapsedTimer t;
    t.start();
    bool ended = false;
    QVERIFY(run.Start(prog + " arg", [&ended] { ended = true; }));
    QVERIFY(!ended);
    QTRY_VERIFY_WITH_TIMEOUT(ended, 5000);
    QVERIFY(t.elapsed() >= 100);
  }

  void commandLineConvertGivesTheWindowsAudio() {
    AppFixture fx;
    fx.writeIni("[Option]\nWait=0\n");
    fx.start();
    Record(fx, fx.root->path(), 120, {kChords});
    const kvtest::WaveData win = Read(fx.root->path() + "/test-multichannel-chords-0.wav");
    QVERIFY(win.ok);
    const QString out = fx.root->path() + "/cli";
    QDir().mkpath(out);
    const auto r = Convert(fx, {"--out", out, "--sample", "120", "--delay", "0", kChords});
    QVERIFY2(r.exitCode == 0 && r.err.empty(), r.err.c_str());  // nothing but its own lines
    const auto libs = kvtest::run({"/usr/bin/ldd", KV_BIN_DIR "/korvessa"});
    QVERIFY2(libs.out.find("libQt6Core") != std::string::npos && libs.out.find("libQt6Gui") == std::string::npos &&
                 libs.out.find("libQt6Widgets") == std::string::npos,
             libs.out.c_str());
    QCOMPARE(QString::fromStdString(r.out).trimmed(), out + "/test-multichannel-chords-0.wav");
    const kvtest::WaveData cli = Read(out + "/test-multichannel-chords-0.wav");
    QVERIFY(cli.ok);
    const double diff = Difference(win, cli);
    QVERIFY2(diff < 1e-4, qPrintable(Num(diff)));  // the same samples once the leading silence is aligned
  }

  // Worker threads (-j 2) record each song exactly as one worker does: no song reaches another
  // worker's synthesizer or recording. Compared up to the song's end: the notes still sounding
  // then are released when the end has been noticed, a moment that follows the clock.
  void commandLineWorkersRecordAsOneDoes() {
    AppFixture fx;
    const std::pair<QString, double> songs[] = {{kScale, 4.0}, {kChords, 4.0}, {kTwoTracks, 4.5},
                                                {kCorpus + "test-all-gm-percussion.mid", 137.25},
                                                {kCorpus + "test-multichannel-chords-3.mid", 4.0}};
    for (const char* jobs : {"1", "2"}) {
      const QString out = fx.root->path() + "/j" + jobs;
      QDir().mkpath(out);
      QStringList args{"--out", out, "--sample", "120", "--delay", "0", "-j", jobs};
      for (const auto& song : songs) args << song.first;
      const auto r = Convert(fx, args);
      QVERIFY2(r.exitCode == 0, r.err.c_str());
    }
    for (const auto& [song, seconds] : songs) {
      const QString name = "/" + QFileInfo(song).completeBaseName() + ".wav";
      const kvtest::WaveData one = Read(fx.root->path() + "/j1" + name), two = Read(fx.root->path() + "/j2" + name);
      QVERIFY2(one.ok && two.ok && one.peak() > 0.05, qPrintable(name));
      const double diff = Difference(one, two, true, seconds - 0.1);
      QVERIFY2(diff == 0, qPrintable(name + ": " + Num(diff)));
    }
  }
};

QTEST_MAIN(FlowTest)
#include "test_flow.moc"
