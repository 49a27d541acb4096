// A main window on a temporary program folder with the built encoders installed beside it,
// its messages captured, and helpers to make and inspect audio files.
#pragma once
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#include "TestSupport.h"
#include "app/Globals.h"
#include "app/frmMain.h"
#include "shell/DialogHook.h"
#include "shell/MsgBox.h"

struct Message {
  QString text;
  int style;
};

// ffprobe's view of a file: codec_name, bit_rate, sample_rate, channels, duration, title.
inline QMap<QString, QString> Probe(const QString& path) {
  QProcess p;
  p.start("ffprobe", {"-v", "error", "-show_entries",
                      "stream=codec_name,bit_rate,sample_rate,channels:format=duration:format_tags=title", "-of",
                      "default=noprint_wrappers=1", path});
  p.waitForFinished(30000);
  QMap<QString, QString> out;
  for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n')) {
    const int eq = line.indexOf('=');
    if (eq <= 0) continue;
    QString key = line.left(eq);
    if (key.startsWith("TAG:")) key = key.mid(4);
    if (!out.contains(key)) out.insert(key, line.mid(eq + 1).trimmed());
  }
  return out;
}

inline void MakeWave(const QString& path, double seconds, int rate = 44100) {
  kvtest::writeMusicWave(QFile::encodeName(path).toStdString(), rate, 16, 2, seconds);
}

class EncoderFixture {
 public:
  EncoderFixture() {
    root = std::make_unique<QTemporaryDir>();
    app = root->path() + "/app";
    out = root->path() + "/out put";
    for (const QString& d : {app, app + "/tools", out, root->path() + "/system", root->path() + "/windows"})
      QDir().mkpath(d);
    qputenv("KORVESSA_SYSTEM_DIR", (root->path() + "/system").toUtf8());
    qputenv("KORVESSA_WINDOWS_DIR", (root->path() + "/windows").toUtf8());
    qputenv("KORVESSA_SYSTEM_INI", (root->path() + "/system.ini").toUtf8());
    kv::SetMsgBoxHook([this](const QString& t, int s, const QString&) {
      messages.push_back({t, s});
      return kv::vbOK;
    });
  }
  ~EncoderFixture() {
    form.reset();
    kv::SetMsgBoxHook({});
    kv::SetDialogHook({});
  }
  // Copies a built component (KV_BIN_DIR/from) to the temporary tree (root/to).
  bool Install(const QString& from, const QString& to) const {
    const QString target = root->path() + "/" + to;
    QFile::remove(target);
    return QFile::copy(QStringLiteral(KV_BIN_DIR) + "/" + from, target);
  }
  void InstallAll() {
    QVERIFY(Install("gogo.dll", "app/gogo.dll"));
    QVERIFY(Install("VBMP3.dll", "app/VBMP3.dll"));
    QVERIFY(Install("system/L3CODECP.ACM", "system/L3CODECP.ACM"));
    QVERIFY(Install("vbwav2wma.dll", "app/vbwav2wma.dll"));
    QVERIFY(Install("tools/scmpx.exe", "app/tools/scmpx.exe"));
    QVERIFY(Install("tools/wm8eutil.exe", "app/tools/wm8eutil.exe"));
  }
  void WriteIni(const QByteArray& text) const {
    QFile f(app + "/Dorvanti.ini");
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
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
  // Points the program at a WAVE in the output folder, as a conversion does.
  QString Wave(const QString& name, double seconds, int rate = 44100) {
    const QString path = out + "/" + name;
    MakeWave(path, seconds, rate);
    kv::G().WaveFileName = path;
    kv::G().SampleRate = rate;
    kv::G().SampleBits = 16;
    return path;
  }
  QStringList OutputFiles() const { return QDir(out).entryList(QDir::Files, QDir::Name); }

  std::unique_ptr<QTemporaryDir> root;
  QString app, out;
  std::unique_ptr<frmMain> form;
  std::vector<Message> messages;
};
