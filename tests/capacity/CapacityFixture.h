// A main window on a temporary program folder and output folder, with messages captured, and
// writers for the files the capacity window measures.
#pragma once
#include <QAction>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <memory>
#include <vector>

#include "app/Globals.h"
#include "app/frmMain.h"
#include "shell/MsgBox.h"

struct Message {
  QString text;
  int style;
  QString title;
};

class CapacityFixture {
 public:
  CapacityFixture() {
    root = std::make_unique<QTemporaryDir>();
    app = root->path() + "/app";
    out = root->path() + "/out";
    QDir().mkpath(app);
    QDir().mkpath(out);
    QFile ini(root->path() + "/system.ini");
    ini.open(QIODevice::WriteOnly);
    ini.write("[Setup]\nSoundFont=/usr/share/sounds/sf2/TimGM6mb.sf2\n");
    ini.close();
    qputenv("KORVESSA_SYSTEM_INI", ini.fileName().toUtf8());
    kv::SetMsgBoxHook([this](const QString& t, int s, const QString& title) {
      messages.push_back({t, s, title});
      return kv::vbOK;
    });
    form = std::make_unique<frmMain>(app, "Dorvanti");
    form->mnuSetWait->setChecked(false);
    kv::G().AppPath = app;
    kv::G().WavePath = out;
  }
  ~CapacityFixture() {
    form.reset();
    kv::SetMsgBoxHook({});
  }

  // VBMP3.dll beside the program, as the build places it.
  bool installVbmp3() const { return QFile::copy(KV_BIN_DIR "/VBMP3.dll", app + "/VBMP3.dll"); }

  // A format-0 file holding one note from 0 to `seconds` at the default 120 bpm.
  QString writeMidi(const QString& name, int seconds) const {
    auto vlq = [](quint32 v) {
      QByteArray b(1, char(v & 0x7f));
      while (v >>= 7) b.prepend(char(0x80 | (v & 0x7f)));
      return b;
    };
    QByteArray track;
    track += QByteArray::fromHex("00903C64");
    track += vlq(quint32(seconds) * 960);  // 480 ticks per quarter, two quarters a second
    track += QByteArray::fromHex("803C00");
    track += QByteArray::fromHex("00FF2F00");
    QByteArray smf = QByteArray::fromHex("4D546864000000060000000101E0");
    smf += "MTrk";
    smf += be32(quint32(track.size()));
    smf += track;
    const QString path = root->path() + "/" + name;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(smf);
    return path;
  }

  // A PCM WAVE file with the plain 44-byte header; the samples are left as a hole in the file,
  // so long recordings take no room.
  QString writeWave(const QString& name, qint64 dataBytes, int rate = 8000, int bits = 8, int channels = 1,
                    const QString& folder = QString()) const {
    const int align = channels * bits / 8;
    QByteArray h = "RIFF" + le32(quint32(36 + dataBytes)) + "WAVEfmt " + le32(16) + le16(1) + le16(quint16(channels)) +
                   le32(quint32(rate)) + le32(quint32(rate * align)) + le16(quint16(align)) + le16(quint16(bits)) +
                   "data" + le32(quint32(dataBytes));
    const QString path = (folder.isEmpty() ? out : folder) + "/" + name;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(h);
    f.resize(44 + dataBytes);
    return path;
  }
  // Seconds of 8 kHz 8-bit mono.
  QString writeWaveSeconds(const QString& name, qint64 seconds) const { return writeWave(name, seconds * 8000); }

  // An MP3 file made by scmpx.exe from `seconds` of 16-bit stereo silence at 44.1 kHz.
  QString encodeMp3(const QString& name, int seconds) const {
    const QString wav = writeWave("mp3src.wav", qint64(seconds) * 44100 * 4, 44100, 16, 2, root->path());
    const QString mp3 = out + "/" + name;
    QProcess p;
    p.start(KV_BIN_DIR "/tools/scmpx.exe", {"-e", "-b3", "-f", wav, mp3});
    p.waitForFinished(60000);
    QFile::remove(wav);
    return p.exitCode() == 0 && QFile::exists(mp3) ? mp3 : QString();
  }

  void addToList(const QStringList& paths) {
    for (const QString& p : paths) form->lstSource->addItem(p);
  }

  std::unique_ptr<QTemporaryDir> root;
  QString app, out;
  std::unique_ptr<frmMain> form;
  std::vector<Message> messages;

 private:
  static QByteArray le32(quint32 v) {
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
  }
  static QByteArray le16(quint16 v) {
    QByteArray b(2, '\0');
    qToLittleEndian(v, b.data());
    return b;
  }
  static QByteArray be32(quint32 v) {
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b;
  }
};
