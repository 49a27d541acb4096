// The encoding step of a conversion: at most one encoder runs, the chosen one of the checked
// output type, and only while it is available.
#include <QAction>

#include "app/Globals.h"
#include "app/frmMain.h"

void frmMain::RunEncoder() {
  // The encoder windows and command lines are attached here as they are built.
}

void frmMain::mnuSetEncoder_Click() {}
