// Normaliser settings: where waveflt.exe is, whether it runs, whether it cuts leading silence.
#include <QAction>
#include <QMenu>

#include "app/Globals.h"
#include "app/frmMain.h"
#include "settings/StartUpChecks.h"
#include "shell/Dir.h"
#include "shell/OpenDlg.h"
#include "shell/mShare.h"

using kv::G;

void frmMain::NormaliserSetup() {
  kv::CheckWaveflt(G());
  const bool known = !G().WavefltPath.isEmpty();
  Button("waveflt")->setVisible(known);
  for (int i = 0; i < 3; ++i) mnuNormalEnable[i]->setVisible(known);
  ShowNormaliser();
}

void frmMain::ShowNormaliser() {
  const bool on = G().NormaliserOn, cut = G().Headcut;
  mnuNormalEnable[1]->setChecked(on);
  mnuNormalEnable[2]->setChecked(!on);
  SetButtonPressed("waveflt", on);
  mnuSetCut->menuAction()->setEnabled(on);
  Button("headcut")->setVisible(on);
  mnuSetCutOK[0]->setChecked(cut);
  mnuSetCutOK[1]->setChecked(!cut);
  SetButtonPressed("headcut", cut);
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
  Button("headcut")->setVisible(G().NormaliserOn);
  for (int i = 0; i < 3; ++i) mnuNormalEnable[i]->setVisible(true);
}

void frmMain::mnuNormalEnable_Click(int Index) {
  if (Index != 1 && Index != 2) return;
  G().NormaliserOn = Index == 1;
  ShowNormaliser();
}

void frmMain::mnuSetCutOK_Click(int Index) {
  if (Index != 0 && Index != 1) return;
  G().Headcut = Index == 0;
  ShowNormaliser();
}
