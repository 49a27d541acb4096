// The source list's commands: adding, dropping and clearing MIDI files, the selection display.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QUrl>

#include "app/Globals.h"
#include "app/SourceListView.h"
#include "app/frmMain.h"
#include "midi/SourceList.h"
#include "shell/BFolder.h"
#include "shell/FileName.h"
#include "shell/Dir.h"
#include "shell/OpenDlg.h"
#include "shell/modCmPOpen.h"
#include "shell/mShare.h"

using kv::G;

void frmMain::AddSourceFiles(const QStringList& paths) {
  if (paths.isEmpty()) return;
  // Adding moves no selection; only the final one counts.
  lstSource->setEnabled(false);
  Sources->Add(paths);
  lstSource->setEnabled(true);
  lstSource->setCurrentRow(lstSource->count() - 1);
}

void frmMain::mnuFileOpen_Click() {
  QString R;
  if (IsNT()) {
    const QString filter = QStringLiteral("ＭＩＤＩファイル (*.mid;*.rmi)") + QChar(0) + QStringLiteral("*.mid;*.rmi");
    R = OpenFileDialog(this, G().MidiPath, filter, 528900, QStringLiteral("MIDIファイルの追加"));
  } else {
    const QString filter = QStringLiteral("MIDIﾌｧｲﾙ(*.MID;*.rmi)") + QChar(0) + QStringLiteral("*.mid;*.rmi") + QChar(0);
    R = OpenPreviewDialog(this, filter, G().MidiPath);
  }
  if (!R.contains(".mid", Qt::CaseInsensitive) && !R.contains(".rmi", Qt::CaseInsensitive)) return;
  if (!R.contains(QChar(0))) {
    AddSourceFiles({R});
    QString N = kv::Dir(R);
    if (N.isEmpty()) N = QFileInfo(R).fileName();
    G().MidiPath = R.left(R.size() - N.size() - 1);
    return;
  }
  QStringList parts = R.split(QChar(0));
  G().MidiPath = parts.takeFirst();
  QStringList files;
  for (const QString& name : parts) files << G().MidiPath + "/" + name;
  AddSourceFiles(files);
}

void frmMain::lstSource_OLEDragOver(const QMimeData* Data, int& Effect) {
  if (!Data || !Data->hasUrls()) {
    Effect = 0;
    return;
  }
  for (const QUrl& u : Data->urls()) {
    if (!u.isLocalFile() || !kv::IsMidiName(kv::LocalPathOf(u))) {
      Effect = 0;
      return;
    }
  }
  Effect = 1;
}

void frmMain::lstSource_OLEDragDrop(const QMimeData* Data, int& Effect) {
  if (!(Effect & 1) || !Data) return;
  QStringList files;
  for (const QUrl& u : Data->urls()) files << kv::LocalPathOf(u);
  AddSourceFiles(files);
}

void frmMain::mnuFileClear_Click() {
  Sources->Clear();
  lblWaveFileName->setText(G().WavePath + "/");
}

void frmMain::mnuFileSave_Click() {
  const QString F = BrowseForFolder(this, QStringLiteral("保存先フォルダ"), G().AppPath, 0);
  if (!F.isEmpty()) G().WavePath = F;
  if (G().WavePath.endsWith('/')) G().WavePath.chop(1);
  kv::SetCurrentFolder(G().WavePath);
  lstSource_Click();
}

void frmMain::lstSource_Click() {
  if (lstSource->currentRow() < 0) {
    lblWaveFileName->setText(G().WavePath + "/");
    return;
  }
  MidiInfo I;
  const QString out = kv::SourceList::OutputName(Sources->Entry(lstSource->currentRow()), G().TitleToName, G().WavePath, &I);
  const bool unreadable = I.Format == 0 && I.Track == 0 && I.TCount == 0 && I.Title.isEmpty();
  Panel("status")->setText(unreadable ? QStringLiteral("MIDIファイルを読み込めません")
                                      : QStringLiteral("Ready(") + TimeText(I.Length) + ")");
  Panel("Format")->setText(QString::number(I.Format));
  Panel("Track")->setText(QString::number(I.Track));
  Panel("TCount")->setText(QString::number(I.TCount));
  Panel("Title")->setText(kv::DisplayName(I.Title));
  lblWaveFileName->setText(out);
  lblWaveFileName->setToolTip(out);
}
