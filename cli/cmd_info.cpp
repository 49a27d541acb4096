// korvessa info FILE...: header values, playing time, title and SoundFont of MIDI files, one
// tab-separated line per file: path, Format, Track, TCount, Length (ms), Title, SoundFont.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "cli/Verbs.h"
#include "engine/MediaCommands.h"
#include "midi/MIDInfo.h"
#include "shell/FileName.h"
#include "song_soundfont.h"
#include "winmm.h"

namespace {

// Tabs and line breaks inside a title would break the one-line-per-file output.
QString OneLine(QString s) {
  for (QChar& c : s)
    if (c.unicode() < 0x20) c = u' ';
  return s;
}

// Why the file gives no information, or empty when it can be inspected.
QString Problem(const QString& path) {
  struct stat st {};
  if (::stat(kv::PathBytes(path).constData(), &st) != 0) return QStringLiteral("no such file");
  if (!S_ISREG(st.st_mode)) return QStringLiteral("not a file");
  bool read = false;
  const QByteArray bytes = kv::ReadFileBytes(path, &read);
  if (!read) return QStringLiteral("cannot read: ") + QString::fromLocal8Bit(std::strerror(errno));
  if (!bytes.contains("MThd")) return QStringLiteral("not a MIDI file (no MThd header)");
  return QString();
}

int Info(const QStringList& args) {
  if (args.isEmpty()) return KvUsage(QStringLiteral("info needs at least one file"));
  int rc = kExitOk;
  for (const QString& path : args) {
    QString problem = Problem(path);
    const MidiInfo i = problem.isEmpty() ? ReadMidiInfo(path) : MidiInfo();
    // A header the sequencer cannot use (cut off, damaged) is named like an unreadable file.
    if (problem.isEmpty()) {
      problem = DeviceError(QStringLiteral("Midi"));
      if (problem.endsWith(QStringLiteral(": ") + path)) problem.chop(path.size() + 2);
    }
    // The SoundFont the song will play with, as a conversion chooses it.
    QString font;
    if (problem.isEmpty()) {
      const kv::SongSoundFont sf = kv::ChooseSoundFont(kv::PathBytes(path).toStdString(), kv::LoadSystemSetup());
      font = QString::fromStdString(sf.Name());
      if (!sf.notice.empty()) KvErr(QStringLiteral("korvessa: %1\n").arg(QString::fromStdString(sf.notice)));
    }
    KvOut(QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\t%7\n")
              .arg(path)
              .arg(i.Format)
              .arg(i.Track)
              .arg(i.TCount)
              .arg(i.Length)
              .arg(OneLine(i.Title), OneLine(font)));
    if (!problem.isEmpty()) {
      KvErr(QStringLiteral("korvessa: %1: %2\n").arg(path, problem));
      rc = kExitFailed;
    }
  }
  return rc;
}

const KvVerb kInfo({"info", "info FILE...      header values, length (ms), title and SoundFont of MIDI files", Info});

}  // namespace
