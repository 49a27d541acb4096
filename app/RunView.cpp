// The window's side of a conversion or playback run: it builds the job from what the user has
// set, hands commands to the engine and shows what the engine reports (status, selection,
// lock state, messages, encoder progress windows).
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QToolBar>

#include "app/Globals.h"
#include "app/SourceListView.h"
#include "app/frmMain.h"
#include "encoders/ProgressWindow.h"
#include "encoders/frmEncoder.h"
#include "shell/FileName.h"
#include "shell/cSystemFolder.h"
#include "engine/ConversionController.h"
#include "app/FormatLists.h"
#include "engine/RecordingFormats.h"
#include "midi/SourceList.h"
#include "shell/MsgBox.h"
#include "reasons_ja.h"
#include "song_soundfont.h"
#include "syssetup.h"

using kv::G;

void frmMain::ConnectEngine() {
  m_engine = new kv::ConversionController(this);
  connect(m_engine, &kv::ConversionController::status, this, [this](const QString& t) { Panel("status")->setText(t); });
  connect(m_engine, &kv::ConversionController::entrySelected, this, [this](int row) {
    if (lstSource->currentRow() == row) lstSource_Click();
    else lstSource->setCurrentRow(row);
  });
  // A song whose own bank cannot be used (a DLS bank in an RMID) plays with another SoundFont:
  // the user is told once the song is under way.
  connect(m_engine, &kv::ConversionController::itemStarted, this, [this](int, const QString& midi, const QString&) {
    const std::string notice = kv::ChooseSoundFont(kv::PathBytes(midi).toStdString(), kv::LoadSystemSetup()).notice;
    if (notice.empty()) return;
    const QString text = QString::fromStdString(kv::JapaneseReasons(notice));
    QMetaObject::invokeMethod(
        this, [this, text] { kv::MsgBox(text, kv::vbInformation, kv::AppTitle(), this); }, Qt::QueuedConnection);
  });
  connect(m_engine, &kv::ConversionController::locked, this, &frmMain::LockWindow);
  connect(m_engine, &kv::ConversionController::unlocked, this, &frmMain::UnlockWindow);
  connect(m_engine, &kv::ConversionController::message, this,
          [this](const QString& text, int style) { kv::MsgBox(text, style, kv::AppTitle(), this); });
  connect(m_engine, &kv::ConversionController::encoderStarted, this, [this](kv::EncoderBackend* e, const QString& wave) {
    if (e->ViewCaption().isEmpty()) return;
    auto* view = new kv::ProgressWindow(e, wave, this);
    connect(e, &kv::EncoderBackend::finished, view, &QObject::deleteLater);
  });
  // A selection the user makes during a run is where a batch goes on.
  connect(lstSource, &SourceListView::currentRowChanged, this, [this](int row) {
    if (m_engine->Busy()) m_engine->SelectEntry(row);
  });
}

kv::ConversionJob frmMain::BuildJob() const {
  const auto& g = G();
  kv::ConversionJob j;
  j.sources = Sources->Entries();
  j.entry = lstSource->currentRow();
  j.batch = g.Play == QStringLiteral("all");
  j.titleToName = g.TitleToName;
  j.outputFolder = g.WavePath;
  j.sampleTemplate = cboSample->currentIndex() >= 0 ? cboSample->currentData().toInt() : 0;
  j.sampleRate = g.SampleRate;
  j.sampleBits = g.SampleBits;
  const cSystemFolder folders;
  const int type = g.Media == QStringLiteral("mp3") ? 1 : g.Media == QStringLiteral("wma") ? 2 : 0;
  j.encoder = kv::ChooseEncoder(g, type, g.AppPath, folders.System(), folders.Windows());
  j.encoder.inputRate = g.SampleRate;
  j.normalise = g.NormaliserOn;
  j.waveFilter = g.WavefltPath;
  j.headCut = g.Headcut;
  j.delay = g.WaitOn;
  j.delayTenths = g.WaitCount;
  j.port = cboDevice->currentIndex() - 1;
  return j;
}

void frmMain::StartConversion() {
  // The window works in its output folder, as it always has; the engine itself names every
  // file by its full path.
  kv::SetCurrentFolder(G().WavePath);
  m_engine->StartConversion(BuildJob());
}

void frmMain::PlayCommand() { m_engine->PlayCommand(BuildJob()); }

void frmMain::StopRun() {
  lstSource->setCurrentRow(lstSource->count() - 1);
  m_engine->StopRun();
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

void frmMain::mnuSetEncoder_Click() {
  const auto& g = G();
  {
    // The dialog edits a copy; OK hands it back, the close box discards it.
    frmEncoder dlg(g, g.AppPath, this);
    dlg.Fill();
    if (dlg.exec() == QDialog::Accepted && dlg.Accepted()) static_cast<kv::Settings&>(G()) = dlg.Result();
  }
  // Whether closed by OK or by the close box.
  mnuRunSoft[2]->setVisible(g.EncoderAvailable[0]);
  mnuRunSoft[3]->setVisible(g.EncoderAvailable[0]);
  mnuSetType[1]->setEnabled(g.EncoderDefault != -1);
  Button("mp3")->setEnabled(g.EncoderDefault != -1);
  mnuSetType[2]->setEnabled(g.WmaEncoder != -1);
  Button("wma")->setEnabled(g.WmaEncoder != -1);
  FillSampleList(cboSample, G().DefSample);
}
