// What a "korvessa convert" run works on: the songs its arguments name (a folder stands for
// every .mid/.rmi file under it) and the output path of each, mirroring the folder's tree.
#pragma once
#include <QList>
#include <QString>
#include <QStringList>

namespace kvcli {

// One input of a run: a song and where its result goes, or an argument that cannot be read.
struct Item {
  QString input;   // absolute path of the song (or of the file or folder that failed)
  QString output;  // the final output path; empty when error is set
  QString error;   // why the input cannot be converted, found before anything starts
};

struct Naming {
  QString outRoot;        // the output folder (no trailing "/")
  QString extension;      // of the output type: "wav", "mp3", ...
  bool titleToName = false;
};

// The items of the arguments in their order, a folder's songs in byte order of their paths.
// A folder without any song is named in `problems` (and gives no item).
QList<Item> CollectItems(const QStringList& args, const Naming& naming, QStringList* problems);

// Pairs of inputs that would write the same output, as "A and B both make OUT" texts.
QStringList OutputClashes(const QList<Item>& items);

// The k-th (1-based) of n interleaved slices of the items sorted by input path bytes, so
// every host computes the same slices whatever order its shell listed the files in.
QList<Item> Shard(QList<Item> items, int k, int n);

// "K/N" with 1 <= K <= N; false for anything else.
bool ParseShard(const QString& text, int* k, int* n);

}  // namespace kvcli
