// The conversion sequence: record the selected MIDI file into its WAVE file, then filter and
// encode it; in batch mode go on with the next entry.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QToolBar>

#include <sys/stat.h>

#include "app/Globals.h"
#include "app/SourceListView.h"
#include "app/frmMain.h"
#include "engine/MediaCommands.h"
#include "engine/RecordingFormats.h"
#include "midi/MIDInfo.h"
#include "midi/SourceList.h"
#include "postproc/cShellX.h"
#include "shell/Dir.h"
#include "shell/FileName.h"
#include "shell/MsgBox.h"
#include "wave_file.h"
#include "winmm.h"

using kv::G;

namespace {
bool WriteProtected(const QString& path) {
  struct stat st {};
  if (stat(kv::PathBytes(path).constData(), &st) != 0) return false;
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}
// True when the saved recording holds no sample although the song lasts: the recorder never
// got the song (a song without notes and without length legitimately records nothing).
bool RecordedNothing(const QString& wave, const QString& midi) {
  kv::media::WaveFormat fmt;
  if (!kv::media::ReadWaveHeader(kv::PathBytes(wave).toStdString(), fmt) || fmt.dataBytes > 0) return false;
  return ReadMidiInfo(midi).Length > 0;
}
}  // namespace

void frmMain::Delay() {
  if (!G().WaitOn) return;
  tmrWait->start();
  while (tmrWait->isActive()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void frmMain::tmrWait_Timer() {
  if (WaitTicks >= G().WaitCount) {
    WaitTicks = 0;
    tmrWait->stop();
  } else {
    ++WaitTicks;
  }
}

void frmMain::LockWindow(bool conversion) {
  for (QAction* b : ToolbarButtons()) {
    if (b->isSeparator()) continue;
    const QString key = b->objectName();
    const bool pressed = b->isCheckable() && b->isChecked();
    if (!pressed || (conversion && (key == "headcut" || key == "waveflt"))) b->setEnabled(false);
  }
  Button("Stop")->setEnabled(true);
  chkTitleToFilename->setEnabled(false);
  cboSample->setEnabled(false);
  cboDevice->setEnabled(false);
  for (QMenu* m : {mnuFile, mnuSet, mnuHelp, mnuRun}) m->menuAction()->setEnabled(false);
  mnuExecPlay->setEnabled(false);
  mnuExecDecode->setEnabled(false);
  mnuExecStop->setEnabled(true);
}

void frmMain::UnlockWindow() {
  for (QAction* b : ToolbarButtons())
    if (!b->isSeparator()) b->setEnabled(true);
  Button("Stop")->setEnabled(false);
  if (G().EncoderDefault == -1) Button("mp3")->setEnabled(false);
  if (G().WmaEncoder == -1) Button("wma")->setEnabled(false);
  chkTitleToFilename->setEnabled(true);
  cboSample->setEnabled(true);
  cboDevice->setEnabled(true);
  for (QMenu* m : {mnuFile, mnuSet, mnuHelp, mnuRun}) m->menuAction()->setEnabled(true);
  mnuExecPlay->setEnabled(true);
  mnuExecDecode->setEnabled(true);
  mnuExecStop->setEnabled(false);
}

void frmMain::StartConversion() {
  auto& g = G();
  if (lstSource->currentRow() < 0) return;
  const bool normaliser = G().NormaliserOn;
  if ((g.SampleRate == 16000 || g.SampleRate == 24000) && normaliser) {
    kv::MsgBox(QStringLiteral("ノーマライズ機能は、16000Hz/24000Hzには対応していません。"), kv::vbInformation,
               kv::AppTitle(), this);
    return;
  }
  if ((g.SampleRate == 24000 || g.SampleBits == 8) && g.Media == QStringLiteral("wma") && g.WmaEncoder == 0) {
    kv::MsgBox(QStringLiteral("wm8eutilは、24000Hzおよび8ビットには対応していません。"), kv::vbInformation,
               kv::AppTitle(), this);
    return;
  }
  MidiFile = Sources->Entry(lstSource->currentRow());
  g.WaveFileName = lblWaveFileName->text();

  // The output folder must exist and become the current folder.
  const QString folder = g.WavePath.isEmpty() ? QStringLiteral("/") : g.WavePath;
  if (!kv::FolderExists(folder) || !kv::SetCurrentFolder(folder)) {
    kv::MsgBox(QStringLiteral("保存先フォルダ ") + folder + QStringLiteral(" が見つかりません。"), kv::vbExclamation,
               kv::AppTitle(), this);
    return;
  }
  // Delete an older output; one that cannot be deleted stops the start.
  const QString own = g.WaveFileName.mid(g.WavePath.size() + 1);
  if (!own.isEmpty() && kv::Dir(g.WaveFileName) == own) {
    if (WriteProtected(g.WaveFileName) || !kv::RemoveFile(g.WaveFileName)) {
      if (WriteProtected(g.WaveFileName) || kv::FileExists(g.WaveFileName)) {
        kv::MsgBox(g.WaveFileName + QStringLiteral("が他のソフトで開かれています。"), kv::vbInformation, kv::AppTitle(),
                   this);
      }
      return;
    }
  }
  // A recording left by a run that was killed is ours and goes.
  kv::RemoveFile(g.WaveFileName + QStringLiteral(".~rec"));
  if (!WriteWaveTemplate(cboSample)) {
    // A folder that takes no file (read-only, full) would fail every item: nothing starts.
    kv::MsgBox(QStringLiteral("保存先フォルダ ") + folder + QStringLiteral(" に書き込めません。"), kv::vbExclamation,
               kv::AppTitle(), this);
    return;
  }
  StartRecording(g.WaveFileName);
  Delay();
  StartPlayback(MidiFile, cboDevice->currentIndex() - 1);
  LockWindow(true);
  tmr1->start();
}

bool frmMain::PollSequencer(const QString& prefix) {
  if (!StatusMode().startsWith(QStringLiteral("playing"))) return false;
  const long pos = ReplyNumber(StatusPosition());
  const long len = StatusLength();
  Panel("status")->setText(prefix + TimeText(pos) + "/" + TimeText(len));
  return true;
}

void frmMain::NextEntry(const QString& command) {
  if (G().Play == QStringLiteral("all") && lstSource->currentRow() < lstSource->count() - 1) {
    lstSource->setCurrentRow(lstSource->currentRow() + 1);
    Toolbar1_ButtonClick(Button(command));
  } else {
    lstSource_Click();
  }
}

void frmMain::tmr1_Timer() {
  if (PollSequencer(QStringLiteral("REC. "))) return;
  tmr1->stop();
  StopPlayback();
  Delay();
  StopRecording();
  auto& g = G();
  // Only this item's own devices count: a file the selection display could not open meanwhile
  // has nothing to do with this recording.
  QString mediaError = DeviceError(QStringLiteral("RecMedia"));
  if (mediaError.isEmpty()) mediaError = DeviceError(QStringLiteral("PlayMedia"));
  if (!mediaError.isEmpty()) {
    // The song could not be played or recorded: the recording holds no music and goes. A
    // file that cannot be read ends only its own item; anything else (no SoundFont, no
    // recording device) would fail every item, so the batch ends.
    kv::RemoveFile(g.WaveFileName);
    kv::MsgBox(QFileInfo(MidiFile).fileName() + QStringLiteral(" を変換できませんでした。\r\n") + mediaError,
               kv::vbExclamation, kv::AppTitle(), this);
    if (!mediaError.contains(MidiFile)) lstSource->setCurrentRow(lstSource->count() - 1);
  } else if (kv::FileSize(g.WaveFileName) < 58) {
    kv::MsgBox(QStringLiteral("標準の録音デバイスでは、正常に録音できません。\r\n録音デバイスを変更してください。"),
               kv::vbExclamation, kv::AppTitle(), this);
    lstSource->setCurrentRow(lstSource->count() - 1);
  } else if (RecordedNothing(g.WaveFileName, MidiFile)) {
    // A header without the song is no result: it must not stand as a converted file.
    kv::RemoveFile(g.WaveFileName);
    kv::MsgBox(QFileInfo(MidiFile).fileName() + QStringLiteral(" を録音できませんでした。"), kv::vbExclamation,
               kv::AppTitle(), this);
  } else {
    if (G().NormaliserOn) RunWaveFilter();
    RunEncoder();
  }
  QCoreApplication::processEvents();
  UnlockWindow();
  NextEntry(QStringLiteral("Rec"));
}

QString frmMain::WaveFilterCommandLine() const {
  const auto& g = G();
  const QString options = G().Headcut ? QStringLiteral(" -autoofs -headcut 1 -normal 0.9 ")
                                                      : QStringLiteral(" -normal 0.9 ");
  return g.WavefltPath + options + kv::Quoted(g.WavePath + "/normal.wav") + " " + kv::Quoted(g.WaveFileName);
}

void frmMain::RunWaveFilter() {
  const auto& g = G();
  const QString normal = g.WavePath + "/normal.wav";
  // A "normal.wav" already there may be the user's own: it waits under another name meanwhile.
  const kv::SetAside standing(normal);
  if (!standing.ok() || !kv::RenameFile(g.WaveFileName, normal)) {
    kv::MsgBox(QStringLiteral("ノーマライズでエラーが発生しました。"), kv::vbInformation, kv::AppTitle(), this);
    return;
  }
  cShellX runner;
  const bool started = runner.ShellX(WaveFilterCommandLine(), 1, nullptr, true);
  if (kv::FileExists(g.WaveFileName) && started) {
    kv::RemoveFile(normal);
  } else {
    kv::RemoveFile(g.WaveFileName);
    kv::RenameFile(normal, g.WaveFileName);
    kv::MsgBox(QStringLiteral("ノーマライズでエラーが発生しました。"), kv::vbInformation, kv::AppTitle(), this);
  }
}

void frmMain::StopRun() {
  lstSource->setCurrentRow(lstSource->count() - 1);
  StopCommand();
}
