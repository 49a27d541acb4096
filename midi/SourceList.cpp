// The source list: adding, dropping and clearing MIDI files, the selection display and the
// output-name rule.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QSignalBlocker>
#include <QUrl>

#include "app/Globals.h"
#include "app/frmMain.h"
#include "midi/MIDInfo.h"
#include "shell/BFolder.h"
#include "shell/FileName.h"
#include "shell/Dir.h"
#include "shell/OpenDlg.h"
#include "shell/modCmPOpen.h"
#include "shell/mShare.h"

using kv::G;

namespace {
bool IsMidiName(const QString& path) {
  const QString ext = path.right(4).toLower();
  return ext == ".mid" || ext == ".rmi";
}
}  // namespace

void frmMain::AddSourceFiles(const QStringList& paths) {
  if (paths.isEmpty()) return;
  lstSource->setEnabled(false);
  {
    // No selection events while the entries go in; only the final selection counts.
    QSignalBlocker block(lstSource);
    for (const QString& p : paths) lstSource->addItem(p);
  }
  lstSource->setEnabled(true);
  lstSource->setCurrentRow(lstSource->count() - 1);
  lstSource->currentItem()->setSelected(true);
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
    if (!u.isLocalFile() || !IsMidiName(kv::LocalPathOf(u))) {
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
  lstSource->clear();
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
  const QString P = lstSource->currentItem()->text();
  const MidiInfo I = ReadMidiInfo(P);
  const bool unreadable = I.Format == 0 && I.Track == 0 && I.TCount == 0 && I.Title.isEmpty();
  Panel("status")->setText(unreadable ? QStringLiteral("MIDIファイルを読み込めません")
                                      : QStringLiteral("Ready(") + TimeText(I.Length) + ")");
  Panel("Format")->setText(QString::number(I.Format));
  Panel("Track")->setText(QString::number(I.Track));
  Panel("TCount")->setText(QString::number(I.TCount));
  Panel("Title")->setText(kv::DisplayName(I.Title));
  const QString out = OutputNameFor(P, I.Title.isEmpty() ? FileTitleOf(P) : I.Title,
                                    chkTitleToFilename->isChecked(), G().WavePath);
  lblWaveFileName->setText(out);
  lblWaveFileName->setToolTip(out);
}
