#include "encoders/CommandLineEncoders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/Globals.h"
#include "postproc/cShellX.h"
#include "shell/Dir.h"
#include "shell/FileName.h"
#include "shell/MsgBox.h"
#include "shell/mShare.h"

namespace kv {

namespace {
const QString kTmpWav = QStringLiteral("tmp.wav");
const QString kTmpWma = QStringLiteral("tmp.wma");

void ReportFailure(QWidget* owner) {
  MsgBox(QStringLiteral("エンコードに失敗しました。"), vbInformation, AppTitle(), owner);
}

// The name a directory lookup lists for name in the current folder (letter case ignored).
QString Listed(const QString& name) { return Dir(CurrentFolder() + "/" + name); }
}  // namespace

QString WithLastThree(const QString& path, const QString& ext) { return path.left(path.size() - 3) + ext; }

QString ScmpxOptions(int bitrate, bool fast) {
  static const int kRates[] = {48, 56, 64, 80, 96, 112, 128, 160, 192};
  QString options;
  for (int i = 0; i < 9; ++i)
    if (kRates[i] == bitrate) options = QStringLiteral(" -b%1 ").arg(i + 3);
  if (fast) options += QStringLiteral("-f ");
  return options;
}

QString ScmpxCommandLine(const QString& scmpxPath, int bitrate, bool fast, const QString& waveFileName) {
  return scmpxPath + QStringLiteral(" -e") + ScmpxOptions(bitrate, fast) + Quoted(waveFileName) + " " +
         Quoted(WithLastThree(waveFileName, QStringLiteral("mp3")));
}

QString Wm8eutilProgram(const QString& wm8eutilPath, const QString& wavePath) {
  if (RemoveFileSpec(wm8eutilPath).compare(wavePath, Qt::CaseInsensitive) == 0) return QStringLiteral("wm8eutil");
  return GetShortPath(wm8eutilPath);
}

QString Wm8eutilCommandLine(const QString& program, const QString& title) {
  return program + QStringLiteral(" -input ") + kTmpWav + QStringLiteral(" -output ") + kTmpWma +
         QStringLiteral(" -title ") + Quoted(title);
}

bool RunScmpx(QWidget* owner) {
  const auto& g = G();
  cShellX runner;
  const QString line = ScmpxCommandLine(g.ScmpxPath, g.Bitrate, g.FastEncode, g.WaveFileName);
  if (runner.ShellX(line, 1, owner, true)) {
    RemoveFile(g.WaveFileName);
    return true;
  }
  ReportFailure(owner);
  return false;
}

bool RunWm8eutil(QWidget* owner) {
  const auto& g = G();
  const QString listed = Dir(g.WaveFileName);
  const QString title = listed.left(listed.size() - 4);
  const QString wma = g.WaveFileName.left(g.WaveFileName.size() - 4) + QStringLiteral(".wma");
  // The temporary names are relative to the output folder.
  if (!SetCurrentFolder(g.WavePath)) {
    ReportFailure(owner);
    return false;
  }
  // Files already named tmp.wav or tmp.wma (any letter case) may be the user's own: they wait
  // under other names while the encoder runs.
  const SetAside standingWav(Listed(kTmpWav)), standingWma(Listed(kTmpWma));
  if (!standingWav.ok() || !standingWma.ok() || !RenameFile(g.WaveFileName, kTmpWav)) {
    ReportFailure(owner);
    return false;
  }
  cShellX runner;
  const bool started = runner.ShellX(Wm8eutilCommandLine(Wm8eutilProgram(g.Wm8eutilPath, g.WavePath), title),
                                     1, owner, true);
  const QString made = Listed(kTmpWma);
  if (started && !made.isEmpty()) {
    if (FileExists(wma)) RemoveFile(wma);
    if (RenameFile(made, wma)) {
      RemoveFile(kTmpWav);
      return true;
    }
  }
  ReportFailure(owner);
  RenameFile(kTmpWav, g.WaveFileName);
  return false;
}

}  // namespace kv
