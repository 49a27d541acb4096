// The flow through the window on the offscreen platform: adding files, output names,
// conversions in single and batch mode, the delay, Stop, refusals, the normaliser and playback.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QProcess>
#include <QUrl>
#include <QtTest>

#include "AppFixture.h"
#include "WaveFile.h"
#include "app/Globals.h"
#include "postproc/cShellX.h"
#include "shell/DialogHook.h"

using kv::G;

namespace {
const QString kCorpus = QStringLiteral(KV_SOURCE_DIR "/../shared/testdata/midi/jazz-soft-test-midi-files/");
const QString kScale = kCorpus + "test-c-major-scale.mid";     // 4.0 s, title "C Major Scale Test"
const QString kChords = kCorpus + "test-multichannel-chords-0.mid";  // 4.0 s
const QString kTwoTracks = kCorpus + "test-2-tracks-type-1.mid";     // 4.5 s

void WriteFile(const QString& path, const QByteArray& bytes, bool exec = false) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
  f.close();
  if (exec) f.setPermissions(f.permissions() | QFile::ExeOwner | QFile::ExeUser);
}

// A MIDI file whose first track carries the given title.
QByteArray MidiWithTitle(const QByteArray& title) {
  QByteArray trk;
  trk += QByteArray("\x00\xFF\x03", 3) + char(title.size()) + title;
  trk += QByteArray("\x00\x90\x3C\x40\x60\x80\x3C\x00\x00\xFF\x2F\x00", 12);
  QByteArray m("MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60", 14);
  m += "MTrk";
  const quint32 n = quint32(trk.size());
  m += char(n >> 24) + QByteArray() + char(n >> 16) + char(n >> 8) + char(n);
  return m + trk;
}

void SelectTemplate(frmMain* f, int number) {
  const int i = f->cboSample->findData(number);
  QVERIFY(i >= 0);
  f->cboSample->setCurrentIndex(i);
}
}  // namespace

class FlowTest : public QObject {
  Q_OBJECT

 private slots:
  void addFilesThroughTheDialog();
  void dropsAcceptOnlyMidiFiles();
  void outputNameRules();
  void saveFolderAndClear();
  void batchConversionWritesEveryFile();
  void delayAddsSilenceBeforeAndAfter();
  void stopEndsTheBatchAfterTheCurrentItem();
  void refusalsStartNothing();
  void normaliserRunsTheFilter();
  void failingFilterRestoresTheRecording();
  void normaliserProgramChoice();
  void commandLineNormalises();
  void playbackSingleAndBatch();
  void commandLineIsSplitAtTheFirstFindableProgram();
  void commandLineConvertGivesTheWindowsAudio();
};

void FlowTest::addFilesThroughTheDialog() {
  AppFixture fx;
  frmMain* f = fx.start();
  QString seenTitle, seenDir;
  kv::SetDialogHook([&](const QString&, const QString& title, const QString& dir) {
    seenTitle = title;
    seenDir = dir;
    return QStringList{kCorpus + "test-c-major-scale.mid", kCorpus + "test-multichannel-chords-0.mid"};
  });
  f->Toolbar1_ButtonClick(f->Button("FileOpen"));
  QCOMPARE(seenTitle, QStringLiteral("MIDIファイルの追加"));
  QCOMPARE(seenDir, fx.app);
  QCOMPARE(f->lstSource->count(), 2);
  QCOMPARE(f->lstSource->item(0)->text(), kScale);
  QCOMPARE(f->lstSource->currentRow(), 1);
  QCOMPARE(G().MidiPath + "/", kCorpus);
  QCOMPARE(f->Panel("status")->text(), QStringLiteral("Ready(00:04)"));
  QCOMPARE(f->Panel("Title")->text(), QStringLiteral("Multi-channel chords Test 0"));
  QCOMPARE(f->lblWaveFileName->text(), fx.app + "/test-multichannel-chords-0.wav");
  // A single selection; the same file twice gives two entries with one output name.
  kv::SetDialogHook([&](const QString&, const QString&, const QString&) { return QStringList{kScale}; });
  f->mnuFileOpen_Click();
  f->mnuFileOpen_Click();
  QCOMPARE(f->lstSource->count(), 4);
  QCOMPARE(f->lstSource->currentRow(), 3);
  f->lstSource->setCurrentRow(2);
  const QString name = f->lblWaveFileName->text();
  f->lstSource->setCurrentRow(3);
  QCOMPARE(f->lblWaveFileName->text(), name);
  // Cancel changes nothing.
  kv::SetDialogHook([&](const QString&, const QString&, const QString&) { return QStringList{}; });
  f->mnuFileOpen_Click();
  QCOMPARE(f->lstSource->count(), 4);
  kv::SetDialogHook({});
}

void FlowTest::dropsAcceptOnlyMidiFiles() {
  AppFixture fx;
  frmMain* f = fx.start();
  QMimeData ok, mixed, text;
  ok.setUrls({QUrl::fromLocalFile("/m/a.MID"), QUrl::fromLocalFile("/m/b.Rmi")});
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
  QCOMPARE(f->lstSource->count(), 2);
  QCOMPARE(f->lstSource->item(1)->text(), QStringLiteral("/m/b.Rmi"));
  QCOMPARE(f->lstSource->currentRow(), 1);
  QCOMPARE(G().MidiPath, midiPathBefore);
}

void FlowTest::outputNameRules() {
  AppFixture fx;
  frmMain* f = fx.start();
  const QString dir = fx.root->path();
  const QString song = dir + "/song.mid";
  WriteFile(song, MidiWithTitle("Song A"));
  G().WavePath = dir;
  f->chkTitleToFilename->setChecked(true);
  f->AddSourceFiles({song});
  QCOMPARE(f->lblWaveFileName->text(), dir + "/Song A.wav");
  QCOMPARE(f->lblWaveFileName->toolTip(), dir + "/Song A.wav");
  // Any of the seven characters gives the file's own name; "?", "<" and ">" do not.
  for (const char* t : {"A:B", "A*B", "A\"B", "A'B", "A/B", "A\\B", "A|B"})
    QCOMPARE(frmMain::OutputNameFor(song, t, true, dir), dir + "/song.wav");
  QCOMPARE(frmMain::OutputNameFor(song, "A?<>", true, dir), dir + "/A?<>.wav");
  // 125 characters of folder, "/" and title use the title; 126 fall back.
  const QString base = "/o";
  QCOMPARE(frmMain::OutputNameFor(song, QString(122, 'x'), true, base), base + "/" + QString(122, 'x') + ".wav");
  QCOMPARE(frmMain::OutputNameFor(song, QString(123, 'x'), true, base), base + "/song.wav");
  // The check box cleared: always the file's own name, as the directory lists it.
  f->chkTitleToFilename->click();
  QCOMPARE(f->lblWaveFileName->text(), dir + "/song.wav");
  // A file without a title gives its own name either way.
  const QString untitled = dir + "/Untitled.MID";
  WriteFile(untitled, QByteArray("MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60MTrk\x00\x00\x00\x04\x00\xFF\x2F\x00", 26));
  f->chkTitleToFilename->setChecked(true);
  f->AddSourceFiles({untitled});
  QCOMPARE(f->Panel("Title")->text(), QStringLiteral("Untitled"));
  QCOMPARE(f->lblWaveFileName->text(), dir + "/Untitled.wav");
}

void FlowTest::saveFolderAndClear() {
  AppFixture fx;
  frmMain* f = fx.start();
  QString start;
  kv::SetDialogHook([&](const QString& kind, const QString& title, const QString& dir) {
    start = dir;
    return kind == "folder" && title == QStringLiteral("保存先フォルダ") ? QStringList{"/"} : QStringList{};
  });
  f->AddSourceFiles({kScale});
  f->Toolbar1_ButtonClick(f->Button("SaveFolder"));
  QCOMPARE(start, fx.app);  // the browser opens on the program's folder
  QCOMPARE(G().WavePath, QString());  // the root is kept without its separator
  QCOMPARE(f->lblWaveFileName->text(), QStringLiteral("/test-c-major-scale.wav"));
  QCOMPARE(QDir::currentPath(), QStringLiteral("/"));
  // Cancel keeps the folder, makes it current and refreshes the label.
  G().WavePath = fx.root->path();
  kv::SetDialogHook([&](const QString&, const QString&, const QString&) { return QStringList{}; });
  f->mnuFileSave_Click();
  QCOMPARE(G().WavePath, fx.root->path());
  QCOMPARE(QDir::currentPath(), fx.root->path());
  QCOMPARE(f->lblWaveFileName->text(), fx.root->path() + "/test-c-major-scale.wav");
  kv::SetDialogHook({});
  f->Toolbar1_ButtonClick(f->Button("Clear"));
  QCOMPARE(f->lstSource->count(), 0);
  QCOMPARE(f->lblWaveFileName->text(), fx.root->path() + "/");
}

void FlowTest::batchConversionWritesEveryFile() {
  AppFixture fx;
  fx.writeIni("[Option]\nWait=0\n");
  frmMain* f = fx.start();
  const QString out = fx.root->path() + "/out folder";
  QDir().mkpath(out);
  G().WavePath = out;
  SelectTemplate(f, 107);  // 22050 Hz 16-bit mono
  f->AddSourceFiles({kScale, kChords, kTwoTracks});
  f->lstSource->setCurrentRow(0);
  f->mnuSetPlay_Click(1);
  f->Toolbar1_ButtonClick(f->Button("Rec"));
  QVERIFY(f->mnuExecStop->isEnabled() || QFile::exists(out + "/test-c-major-scale.wav"));
  QVERIFY(fx.waitIdle());
  QCOMPARE(fx.messages.size(), size_t(0));
  const double lengths[] = {4.0, 4.0, 4.5};
  const QString names[] = {"test-c-major-scale.wav", "test-multichannel-chords-0.wav", "test-2-tracks-type-1.wav"};
  for (int i = 0; i < 3; ++i) {
    const WaveFile w = ReadWave(out + "/" + names[i]);
    QVERIFY2(w.ok, qPrintable(names[i]));
    QCOMPARE(w.rate, 22050);
    QCOMPARE(w.bits, 16);
    QCOMPARE(w.channels, 1);
    QVERIFY2(w.seconds() >= lengths[i] && w.seconds() < lengths[i] + 0.3, qPrintable(QString::number(w.seconds())));
    QVERIFY(w.peak() > 0.01);
  }
  QCOMPARE(f->lstSource->currentRow(), 2);
  QVERIFY(f->Button("Rec")->isEnabled());
  QVERIFY(!f->Button("Stop")->isEnabled());
  QVERIFY(f->cboSample->isEnabled());
}

void FlowTest::delayAddsSilenceBeforeAndAfter() {
  AppFixture fx;
  fx.writeIni("[Wait]\nCount=5\n[Option]\nWait=1\n");
  frmMain* f = fx.start();
  QCOMPARE(f->WaitCount, short(5));
  SelectTemplate(f, 119);  // 44100 Hz 16-bit mono
  G().WavePath = fx.root->path();
  f->AddSourceFiles({kScale});
  f->Toolbar1_ButtonClick(f->Button("Rec"));
  QVERIFY(fx.waitIdle());
  const WaveFile w = ReadWave(fx.root->path() + "/test-c-major-scale.wav");
  QVERIFY(w.ok);
  // 0.6 s before the first note; the song (4 s) then 0.6 s more.
  QVERIFY2(std::fabs(w.firstSound() - 0.6) < 0.05, qPrintable(QString::number(w.firstSound())));
  QVERIFY2(w.seconds() > 0.6 + 4.0 + 0.6 - 0.05 && w.seconds() < 0.6 + 4.0 + 0.6 + 0.3,
           qPrintable(QString::number(w.seconds())));
}

void FlowTest::stopEndsTheBatchAfterTheCurrentItem() {
  AppFixture fx;
  fx.setSystem(false);  // real time, so that Stop lands while the first song plays
  fx.writeIni("[Option]\nWait=0\n");
  frmMain* f = fx.start();
  SelectTemplate(f, 107);
  G().WavePath = fx.root->path();
  f->AddSourceFiles({kTwoTracks, kChords, kScale});
  f->lstSource->setCurrentRow(0);
  f->mnuSetPlay_Click(1);
  f->Toolbar1_ButtonClick(f->Button("Rec"));
  QTRY_VERIFY_WITH_TIMEOUT(f->tmr1->isActive(), 5000);
  QTest::qWait(1000);
  int key = 27, shift = 0;  // Esc issues Stop while a conversion runs
  f->Form_KeyDown(key, shift);
  QCOMPARE(key, 0);
  QVERIFY(fx.waitIdle());
  const WaveFile w = ReadWave(fx.root->path() + "/test-2-tracks-type-1.wav");
  QVERIFY(w.ok);
  QVERIFY2(w.seconds() > 0.5 && w.seconds() < 3.0, qPrintable(QString::number(w.seconds())));
  QVERIFY(!QFile::exists(fx.root->path() + "/test-multichannel-chords-0.wav"));
  QVERIFY(!QFile::exists(fx.root->path() + "/test-c-major-scale.wav"));
  QCOMPARE(f->lstSource->currentRow(), 2);
}

void FlowTest::refusalsStartNothing() {
  AppFixture fx;
  frmMain* f = fx.start();
  G().WavePath = fx.root->path();
  f->AddSourceFiles({kScale});
  // An output that cannot be deleted.
  const QString held = fx.root->path() + "/test-c-major-scale.wav";
  WriteFile(held, "old recording");
  QFile::setPermissions(held, QFile::ReadOwner | QFile::ReadGroup);
  f->Toolbar1_ButtonClick(f->Button("Rec"));
  QCOMPARE(fx.messages.size(), size_t(1));
  QCOMPARE(fx.messages[0].text, held + QStringLiteral("が他のソフトで開かれています。"));
  QVERIFY(!f->tmr1->isActive());
  QVERIFY(f->mnuExecDecode->isEnabled());
  QFile old(held);
  QVERIFY(old.open(QIODevice::ReadOnly));
  QCOMPARE(old.readAll(), QByteArray("old recording"));
  // 16000 Hz with the normaliser on.
  f->mnuNormalEnable_Click(1);
  SelectTemplate(f, 103);
  f->Toolbar1_ButtonClick(f->Button("Rec"));
  QCOMPARE(fx.messages.back().text, QStringLiteral("ノーマライズ機能は、16000Hz/24000Hzには対応していません。"));
  // 24000 Hz with WMA through wm8eutil.
  f->mnuNormalEnable_Click(2);
  SelectTemplate(f, 111);
  G().WmaEncoder = 0;
  f->mnuSetType_Click(2);
  f->Toolbar1_ButtonClick(f->Button("Rec"));
  QCOMPARE(fx.messages.back().text, QStringLiteral("wm8eutilは、24000Hzおよび8ビットには対応していません。"));
  QCOMPARE(fx.messages.size(), size_t(3));
  QVERIFY(!f->tmr1->isActive());
  // No selection: silently nothing.
  f->lstSource->setCurrentRow(-1);
  f->StartConversion();
  QCOMPARE(fx.messages.size(), size_t(3));
}

void FlowTest::normaliserRunsTheFilter() {
  const QString tool = QStringLiteral(KV_BIN_DIR "/tools/waveflt.exe");
  QVERIFY(QFile::exists(tool));
  AppFixture fx;
  fx.writeIni(("[Folder]\nWaveflt=" + tool + "\n[Normalize]\nEnable=1\nheadcut=OK\n[Option]\nWait=0\n").toUtf8());
  frmMain* f = fx.start();
  QVERIFY(f->mnuNormalEnable[1]->isChecked());
  const QString out = fx.root->path() + "/with space";
  QDir().mkpath(out);
  G().WavePath = out;
  SelectTemplate(f, 120);  // 44100 Hz 16-bit stereo
  f->AddSourceFiles({kScale});
  f->Toolbar1_ButtonClick(f->Button("Rec"));
  QVERIFY(fx.waitIdle());
  QCOMPARE(fx.messages.size(), size_t(0));
  QVERIFY(!QFile::exists(out + "/normal.wav"));
  const WaveFile w = ReadWave(out + "/test-c-major-scale.wav");
  QVERIFY(w.ok);
  QCOMPARE(w.channels, 2);
  QVERIFY2(std::fabs(w.peak() - 0.9) < 0.02, qPrintable(QString::number(w.peak())));
  QVERIFY2(w.firstSound(0.01) < 0.02, qPrintable(QString::number(w.firstSound(0.01))));
  QCOMPARE(f->WaveFilterCommandLine(), tool + " -autoofs -headcut 1 -normal 0.9 \"" + out + "/normal.wav\" \"" + out +
                                           "/test-c-major-scale.wav\"");
}

void FlowTest::failingFilterRestoresTheRecording() {
  AppFixture fx;
  const QString tool = fx.root->path() + "/waveflt.exe";  // ends without writing its output
  WriteFile(tool, "#!/bin/sh\nexit 0\n", true);
  fx.writeIni(("[Folder]\nWaveflt=" + tool + "\n[Normalize]\nEnable=1\n[Option]\nWait=0\n").toUtf8());
  frmMain* f = fx.start();
  G().WavePath = fx.root->path();
  SelectTemplate(f, 107);
  f->AddSourceFiles({kScale});
  f->Toolbar1_ButtonClick(f->Button("Rec"));
  QVERIFY(fx.waitIdle());
  QCOMPARE(fx.messages.size(), size_t(1));
  QCOMPARE(fx.messages[0].text, QStringLiteral("ノーマライズでエラーが発生しました。"));
  QVERIFY(!QFile::exists(fx.root->path() + "/normal.wav"));
  const WaveFile w = ReadWave(fx.root->path() + "/test-c-major-scale.wav");
  QVERIFY(w.ok);
  QVERIFY(w.seconds() >= 4.0);
}

void FlowTest::normaliserProgramChoice() {
  AppFixture fx;
  const QString gone = fx.root->path() + "/old/waveflt.exe";
  fx.writeIni(("[Folder]\nWaveflt=" + gone + "\n[Normalize]\nEnable=2\n").toUtf8());
  frmMain* f = fx.start();
  // A stored program that no longer exists is dropped and written back empty.
  QCOMPARE(G().WavefltPath, QString());
  QVERIFY(!f->Button("waveflt")->isVisible());
  QString title, dir;
  kv::SetDialogHook([&](const QString&, const QString& t, const QString& d) {
    title = t;
    dir = d;
    return QStringList{};
  });
  f->mnuNormal_Click();  // cancelled: nothing changes
  QCOMPARE(title, QStringLiteral("wavefltの指定"));
  QCOMPARE(dir, fx.app);
  QVERIFY(!f->Button("waveflt")->isVisible());
  // A file of another name is not taken, but the normaliser items are shown.
  const QString other = fx.root->path() + "/normalize.exe";
  WriteFile(other, "#!/bin/sh\n", true);
  kv::SetDialogHook([&](const QString&, const QString&, const QString&) { return QStringList{other}; });
  f->mnuNormal_Click();
  QCOMPARE(G().WavefltPath, QString());
  QVERIFY(f->Button("waveflt")->isVisible());
  QVERIFY(f->mnuNormalEnable[1]->isVisible());
  // The real tool is taken; the next dialog opens on its folder.
  const QString tool = fx.root->path() + "/tools/WAVEFLT.EXE";
  QDir().mkpath(fx.root->path() + "/tools");
  WriteFile(tool, "#!/bin/sh\n", true);
  kv::SetDialogHook([&](const QString&, const QString&, const QString& d) {
    dir = d;
    return QStringList{tool};
  });
  f->mnuNormal_Click();
  QCOMPARE(G().WavefltPath, tool);
  f->mnuNormal_Click();
  QCOMPARE(dir, fx.root->path() + "/tools");
  kv::SetDialogHook({});
  fx.close();
  QVERIFY(fx.readIni().contains("Waveflt=" + tool.toUtf8()));
}

void FlowTest::commandLineNormalises() {
  AppFixture fx;
  const QString out = fx.root->path() + "/out";
  QDir().mkpath(out);
  // A "normal.wav" left by an interrupted run does not stop the filter.
  WriteFile(out + "/normal.wav", "stale");
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("KORVESSA_SYSTEM_INI", fx.root->path() + "/system.ini");
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(KV_BIN_DIR "/korvessa"),
          {"convert", "--out", out, "--sample", "123", "--delay", "0.5", "--normalize", "--headcut", kScale});
  QVERIFY(p.waitForFinished(60000));
  QCOMPARE(p.exitCode(), 0);
  QVERIFY(!QFile::exists(out + "/normal.wav"));
  const WaveFile w = ReadWave(out + "/test-c-major-scale.wav");
  QVERIFY(w.ok);
  QCOMPARE(w.rate, 48000);
  QVERIFY2(std::fabs(w.peak() - 0.9) < 0.02, qPrintable(QString::number(w.peak())));
  // The 0.6 s of leading silence is cut.
  QVERIFY2(w.firstSound(0.01) < 0.02, qPrintable(QString::number(w.firstSound(0.01))));
  // Bad usage: exit code 2 with the usage text.
  p.start(QStringLiteral(KV_BIN_DIR "/korvessa"), {"convert", "--sample", "99", kScale});
  QVERIFY(p.waitForFinished(30000));
  QCOMPARE(p.exitCode(), 2);
  QVERIFY(p.readAllStandardError().contains("usage"));
  // A file that is not MIDI: exit code 1 and a message naming it.
  const QString bad = fx.root->path() + "/bad.mid";
  WriteFile(bad, "not a midi file");
  p.start(QStringLiteral(KV_BIN_DIR "/korvessa"), {"convert", "--out", out, bad});
  QVERIFY(p.waitForFinished(30000));
  QCOMPARE(p.exitCode(), 1);
  QVERIFY(p.readAllStandardError().contains("bad.mid"));
}

void FlowTest::playbackSingleAndBatch() {
  AppFixture fx;
  fx.setSystem(false);
  frmMain* f = fx.start();
  // Nothing selected: nothing changes.
  f->Toolbar1_ButtonClick(f->Button("Play"));
  QVERIFY(f->Button("Rec")->isEnabled());
  QVERIFY(!f->tmrPlay->isActive());
  const QString missing = fx.root->path() + "/gone.mid";
  f->AddSourceFiles({kScale, missing, kChords});
  f->lstSource->setCurrentRow(0);
  f->mnuSetPlay_Click(1);
  f->Toolbar1_ButtonClick(f->Button("Play"));
  QVERIFY(f->tmrPlay->isActive());
  QVERIFY(f->ButtonPressed("all") && f->Button("all")->isEnabled());  // pressed buttons stay enabled
  QVERIFY(!f->Button("Rec")->isEnabled());
  QVERIFY(f->Button("Stop")->isEnabled());
  QTRY_VERIFY_WITH_TIMEOUT(f->Panel("status")->text().startsWith("Play 00:0"), 3000);
  // Stop during the first entry: playback ends with the last entry selected.
  f->Toolbar1_ButtonClick(f->Button("Stop"));
  QVERIFY(fx.waitIdle(5000));
  QCOMPARE(f->lstSource->currentRow(), 2);
  QVERIFY(!f->Button("Stop")->isEnabled());
  QVERIFY(f->mnuExecPlay->isEnabled());
  // Batch from the deleted second entry: it ends at once and the third plays.
  f->lstSource->setCurrentRow(1);
  f->Toolbar1_ButtonClick(f->Button("Play"));
  QTRY_COMPARE_WITH_TIMEOUT(f->lstSource->currentRow(), 2, 3000);
  QVERIFY(f->tmrPlay->isActive());
  f->Toolbar1_ButtonClick(f->Button("Stop"));
  QVERIFY(fx.waitIdle(5000));
}

void FlowTest::commandLineIsSplitAtTheFirstFindableProgram() {
  QTemporaryDir dir;
  QDir::setCurrent(dir.path());
  const QString folder = dir.path() + "/My Tools";
  QDir().mkpath(folder);
  const QString prog = folder + "/run me.sh";
  WriteFile(prog, "#!/bin/sh\nexit 0\n", true);
  cShellX runner;
  auto s = runner.SplitCommandLine(prog + " -a \"x y\"");
  QCOMPARE(s.program, prog);
  QCOMPARE(s.parameters, QStringLiteral("-a \"x y\""));
  s = runner.SplitCommandLine("noblanks");
  QCOMPARE(s.program, QStringLiteral("noblanks"));
  QCOMPARE(s.parameters, QString());
  s = runner.SplitCommandLine(" leading blank");
  QCOMPARE(s.program, QStringLiteral(" leading blank"));
  // A program that cannot be started by either method: false, at once.
  QVERIFY(!runner.ShellX("/nonexistent/program -x", 1, nullptr, true));
  // Waiting for a program that ends at once takes one pass of about 100 ms.
  QElapsedTimer t;
  t.start();
  QVERIFY(runner.ShellX(prog + " arg", 1, nullptr, true));
  QVERIFY(t.elapsed() >= 100);
}

void FlowTest::commandLineConvertGivesTheWindowsAudio() {
  AppFixture fx;
  fx.writeIni("[Option]\nWait=0\n");
  frmMain* f = fx.start();
  SelectTemplate(f, 120);
  G().WavePath = fx.root->path();
  f->AddSourceFiles({kChords});
  f->Toolbar1_ButtonClick(f->Button("Rec"));
  QVERIFY(fx.waitIdle());
  const WaveFile win = ReadWave(fx.root->path() + "/test-multichannel-chords-0.wav");
  QVERIFY(win.ok);

  const QString out = fx.root->path() + "/cli";
  QDir().mkpath(out);
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("KORVESSA_SYSTEM_INI", fx.root->path() + "/system.ini");
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(KV_BIN_DIR "/korvessa"),
          {"convert", "--out", out, "--sample", "120", "--delay", "0", kChords});
  QVERIFY(p.waitForFinished(60000));
  QCOMPARE(p.exitCode(), 0);
  QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()).trimmed(), out + "/test-multichannel-chords-0.wav");
  const WaveFile cli = ReadWave(out + "/test-multichannel-chords-0.wav");
  QVERIFY(cli.ok);
  QCOMPARE(cli.rate, win.rate);
  // The same samples once the leading silence is aligned.
  const size_t a = size_t(win.firstSound() * win.rate), b = size_t(cli.firstSound() * cli.rate);
  const size_t n = std::min(win.mono.size() - a, cli.mono.size() - b);
  QVERIFY(n > size_t(3 * win.rate));
  double diff = 0;
  for (size_t i = 0; i < n; ++i) diff = std::max(diff, double(std::fabs(win.mono[a + i] - cli.mono[b + i])));
  QVERIFY2(diff < 1e-4, qPrintable(QString::number(diff)));
}

QTEST_MAIN(FlowTest)
#include "test_flow.moc"
