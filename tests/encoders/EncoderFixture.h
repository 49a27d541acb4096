// A main window on a temporary program folder with the built encoders installed beside it,
// its messages captured, and helpers to make and inspect audio files.
#pragma once
#include <QDir>
#include <QFile>

#include "AppFixture.h"
#include "Process.h"
#include "WaveFiles.h"
#include "app/Globals.h"
#include "app/frmMain.h"
#include "shell/DialogHook.h"

inline void WriteFile(const QString& path, const QByteArray& bytes) { kvtest::writeText(path.toStdString(), bytes.toStdString()); }

class EncoderFixture : public AppFixture {
 public:
  EncoderFixture() { QDir().mkpath(app + "/tools"), QDir().mkpath(out); }
  ~EncoderFixture() { kv::SetDialogHook({}); }
  // Copies a built component (KV_BIN_DIR/from) to the temporary tree (root/to).
  bool Install(const QString& from, const QString& to) const {
    QFile::remove(root->filePath(to));
    return QFile::copy(QStringLiteral(KV_BIN_DIR) + "/" + from, root->filePath(to));
  }
  frmMain* Start() {
    form = std::make_unique<frmMain>(app, "Dorvanti");
    form->setEndProcess([] {});
    form->setOpenHelpOnFirstRun(false);
    form->Form_Load();
    form->show();
    kv::G().WavePath = out;
    return form.get();
  }
  // A WAVE in the output folder, with the recording format a conversion leaves set.
  QString Wave(const QString& name, double seconds, int rate = 44100) {
    const QString path = out + "/" + name;
    kvtest::writeMusicWave(path.toStdString(), rate, 16, 2, seconds);
    kv::G().SampleRate = rate;
    kv::G().SampleBits = 16;
    return path;
  }
  QStringList OutputFiles() const { return QDir(out).entryList(QDir::Files, QDir::Name); }

  QString out = root->path() + "/out put";
};
