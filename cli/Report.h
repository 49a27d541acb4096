// What a "korvessa convert" run tells: one JSON Lines row per item in the manifest, the
// finished output paths on stdout (or one updating progress line on a terminal), and the
// failures on stderr.
#pragma once
#include <QList>
#include <QString>
#include <QVector>

#include "cli/ItemRunner.h"
#include "owned.h"
#include "syssetup.h"

namespace kvcli {

// A JSON string of text. Names are bytes: a byte that is not part of valid UTF-8 (carried as
// U+DC80..U+DCFF) is written as the escape \udcXX, so Python's os.fsencode() of the parsed
// string gives the bytes back.
QByteArray JsonString(const QString& text);

class Manifest {
 public:
  bool Open(const QString& path, QString* error);  // appends to the file, made when missing
  bool IsOpen() const { return bool(fd_); }
  // One row, written whole at the end of the file as the item finishes.
  void Append(const Item& item, const Outcome& o, const QString& soundFont, const QString& format);

 private:
  kv::UniqueFd fd_;
};

class Report : public ItemListener {
 public:
  // Each song's SoundFont is chosen from `setup` as its conversion chooses it.
  Report(const QList<Item>& items, Manifest& manifest, const kv::SystemSetup& setup, const QString& format);
  void Started(int index) override;
  void Finished(int index, const Outcome& o) override;
  void Said(const QString& text) override;
  // Ends the progress line and names the items that never finished.
  void End();
  bool AllDone() const { return failed_ == 0 && finished_ == items_.size(); }

 private:
  void Draw();
  // The SoundFont of an item, told once (with what stands in the way of the song's own).
  QString SoundFontOf(int index);

  const QList<Item>& items_;
  Manifest& manifest_;
  const kv::SystemSetup setup_;
  QVector<QString> fonts_;
  QString format_;
  const bool terminal_;
  QVector<bool> over_;
  int finished_ = 0, failed_ = 0, converted_ = 0;
  double music_ = 0, converting_ = 0;  // seconds of music converted, wall seconds it took
};

}  // namespace kvcli
