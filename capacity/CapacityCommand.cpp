#include "app/frmMain.h"

void frmMain::mnuFileSpace_Click() {}
