#include "app/Globals.h"
#include "app/frmMain.h"
#include "capacity/Volume.h"
#include "capacity/frmSize.h"
#include "shell/MsgBox.h"

// The capacity check: refused for a network folder, whose free space and files would be slow
// or misleading to measure; otherwise a fresh window, so every opening measures anew.
void frmMain::mnuFileSpace_Click() {
  if (kv::IsNetworkPath(kv::G().WavePath)) {
    kv::MsgBox(QStringLiteral("ネットワークパスの容量は確認できません。"), kv::vbExclamation, kv::AppTitle(), this);
    return;
  }
  frmSize form(this);
  form.Form_Load();
  form.exec();
}
