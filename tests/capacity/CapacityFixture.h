// A main window on a temporary program folder and output folder, with messages captured, and
// writers for the files the capacity window measures.
#pragma once
#include <QAction>
#include <QDir>
#include <QFile>

#include "AppFixture.h"
#include "MidiFiles.h"
#include "Process.h"
#include "WaveFiles.h"
#include "app/Globals.h"
#include "app/frmMain.h"

class CapacityFixture : public AppFixture {
 public:
  CapacityFixture() {
    QDir().mkpath(out);
    form = std::make_unique<frmMain>(app, "Dorvanti");
    kv::G().WaitOn = false;
    kv::G().AppPath = app;
    kv::G().WavePath = out;
  }
  // The messages shown, as "text|style|title".
  QStringList shown() const {
    QStringList s;
    for (const Message& m : messages) s << QString("%1|%2|%3").arg(m.text).arg(m.style).arg(m.title);
    return s;
  }

  // VBMP3.dll beside the program, as the build places it.
  bool installVbmp3() const { return QFile::copy(KV_BIN_DIR "/VBMP3.dll", app + "/VBMP3.dll"); }

  // A format-0 file holding one note from 0 to `seconds` at the default 120 bpm (480 ticks a quarter).
  QString writeMidi(const QString& name, int seconds) const {
    smf::Track t;
    t.Event(0, {0x90, 0x3C, 0x64});
    t.Event(uint32_t(seconds) * 960, {0x80, 0x3C, 0});
    t.End(t.last);
    kvtest::writeText(root->filePath(name).toStdString(), smf::File(0, 480, {t}));
    return root->filePath(name);
  }

  // A PCM WAVE file with the plain 44-byte header; the samples are left as a hole in the file,
  // so long recordings take no room.
  QString writeWave(const QString& name, qint64 dataBytes, int rate = 8000, int bits = 8, int channels = 1,
                    const QString& folder = QString()) const {
    const QString path = (folder.isEmpty() ? out : folder) + "/" + name;
    kvtest::writeText(path.toStdString(), kvtest::waveHeader(rate, bits, channels, uint32_t(dataBytes)));
    QFile(path).resize(44 + dataBytes);
    return path;
  }
  // Seconds of 8 kHz 8-bit mono.
  QString writeWaveSeconds(const QString& name, qint64 seconds) const { return writeWave(name, seconds * 8000); }

  // An MP3 file made by scmpx.exe from `seconds` of 16-bit stereo silence at 44.1 kHz.
  QString encodeMp3(const QString& name, int seconds) const {
    const QString wav = writeWave("mp3src.wav", qint64(seconds) * 44100 * 4, 44100, 16, 2, root->path());
    const QString mp3 = out + "/" + name;
    const auto r = kvtest::run({KV_BIN_DIR "/tools/scmpx.exe", "-e", "-b3", "-f", wav.toStdString(), mp3.toStdString()});
    QFile::remove(wav);
    return r.exitCode == 0 && QFile::exists(mp3) ? mp3 : QString();
  }

  void addToList(const QStringList& paths) {
    for (const QString& p : paths) form->Sources->Add({p});
  }

  QString out = root->path() + "/out";
};
