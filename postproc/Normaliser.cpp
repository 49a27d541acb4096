// Normaliser settings: where waveflt.exe is, whether it runs, whether it cuts leading silence.
#include <QAction>
#include <QMenu>

#include "app/Globals.h"
#include "app/frmMain.h"
#include "engine/StoredSetup.h"
#include "shell/Dir.h"
#include "shell/OpenDlg.h"
#include "shell/mShare.h"

using kv::G;

void frmMain::NormaliserSetup() {
  kv::ReadWavefltPath(Settings());
  const bool known = !G().WavefltPath.isEmpty();
  Button("waveflt")->setVisible(known);
  for (int i = 0; i < 3; ++i) mnuNormalEnable[i]->setVisible(known);
  // The stored value is the index of the item to check: 1 on, anything else off.
  const short enable = Settings().ReadInt("Normalize", "Enable", 2);
  mnuNormalEnable[1]->setChecked(enable == 1);
  mnuNormalEnable[2]->setChecked(enable != 1);
  if (enable == 1) {
    mnuSetCut->menuAction()->setEnabled(true);
    SetButtonPressed("waveflt", true);
    Button("headcut")->setVisible(true);
  } else {
    SetButtonPressed("waveflt", false);
    Button("headcut")->setVisible(false);
    mnuSetCut->menuAction()->setEnabled(false);
  }
}

void frmMain::mnuNormal_Click() {
  QString initial;
  if (!G().WavefltPath.isEmpty()) initial = RemoveFileSpec(G().WavefltPath);
  else initial = G().AppPath;
  if (initial.size() > 1 && initial.endsWith('/')) initial.chop(1);
  const QString filter = QStringLiteral("ノーマライザ (waveflt.exe)") + QChar(0) + QStringLiteral("waveflt.exe");
  const QString r = OpenFileDialog(this, initial, filter, 0x81204, QStringLiteral("wavefltの指定"));
  if (r.isEmpty()) return;
  if (kv::FileNamed(r, "waveflt.exe")) G().WavefltPath = r;
  if (G().WavefltPath.endsWith('/')) G().WavefltPath.chop(1);
  Button("waveflt")->setVisible(true);
  Button("headcut")->setVisible(ButtonPressed("waveflt"));
  for (int i = 0; i < 3; ++i) mnuNormalEnable[i]->setVisible(true);
}

void frmMain::mnuNormalEnable_Click(int Index) {
  if (Index != 1 && Index != 2) return;
  mnuNormalEnable[Index]->setChecked(true);
  mnuNormalEnable[3 - Index]->setChecked(false);
  SetButtonPressed("waveflt", Index == 1);
  mnuSetCut->menuAction()->setEnabled(Index == 1);
  Button("headcut")->setVisible(Index == 1 && ButtonPressed("waveflt"));
}

void frmMain::mnuSetCutOK_Click(int Index) {
  if (Index != 0 && Index != 1) return;
  mnuSetCutOK[Index]->setChecked(true);
  mnuSetCutOK[1 - Index]->setChecked(false);
  SetButtonPressed("headcut", Index == 0);
}
