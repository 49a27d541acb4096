// The encoding step of a conversion: at most one encoder runs, the chosen one of the checked
// output type, and only while it is available. And the encoder settings command.
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>

#include "app/Globals.h"
#include "app/frmMain.h"
#include "encoders/CommandLineEncoders.h"
#include "encoders/frmACM.h"
#include "encoders/frmEncoder.h"
#include "encoders/frmGoGo.h"
#include "encoders/frmVBWMA.h"
#include "engine/RecordingFormats.h"
#include "shell/FileName.h"

using kv::G;

namespace {
// Loads a progress window (which runs its encode), waits while it shows and releases it.
template <class Window>
void RunWindow(QWidget* owner) {
  Window w(owner);
  w.Form_Load();
  kv::WaitWhile([&w] { return w.isVisible(); });
}
}  // namespace

void frmMain::RunEncoder() {
  const auto& g = G();
  auto encoding = [this] { Panel("status")->setText(QStringLiteral("Encoding...")); };
  if (G().Media == QStringLiteral("mp3")) {
    if (g.EncoderAvailable[0] && g.EncoderDefault == 0) {
      encoding();
      kv::RunScmpx(this);
    } else if (g.EncoderAvailable[1] && g.EncoderDefault == 1) {
      encoding();
      RunWindow<frmGoGo>(this);
      kv::RemoveFile(g.WaveFileName);
    } else if (g.EncoderAvailable[2] && g.EncoderDefault == 2) {
      encoding();
      RunWindow<frmACM>(this);
      kv::RemoveFile(g.WaveFileName);
    }
  } else if (G().Media == QStringLiteral("wma")) {
    if (g.WmaAvailable[0] && g.WmaEncoder == 0) {
      encoding();
      kv::RunWm8eutil(this);
    } else if (g.WmaAvailable[1] && g.WmaEncoder == 1) {
      encoding();
      RunWindow<frmVBWMA>(this);  // the window deletes the WAVE after a successful encode
    }
  }
}

void frmMain::mnuSetEncoder_Click() {
  const auto& g = G();
  {
    // The dialog edits a copy; OK hands it back, the close box discards it.
    frmEncoder dlg(g, this);
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
