#include "encoders/CommandLineEncoders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "shell/Dir.h"
#include "shell/FileName.h"
#include "shell/mShare.h"

namespace kv {

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
  return program + QStringLiteral(" -input tmp.wav -output tmp.wma") +
         QStringLiteral(" -title ") + Quoted(title);
}

}  // namespace kv
