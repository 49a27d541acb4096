// Drives the conversion engine over a list of items, as the window's batch does, with one
// difference: the engine works in a hidden staging folder inside the output tree, and each
// finished result is renamed to its output path. An output path therefore holds either a
// complete result or nothing, whenever the process ends (even by kill -9).
#pragma once
#include <QList>
#include <QString>

#include "cli/Inputs.h"
#include "engine/ConversionController.h"

namespace kvcli {

enum class Status { Converted, Skipped, Failed };

struct Outcome {
  Status status = Status::Failed;
  double seconds = -1;  // the song's length; -1 when it cannot be read
  double elapsed = 0;   // wall seconds spent on the item
  QString error;        // why it failed (empty otherwise)
  QStringList stems;    // with stems: the stems' paths, in channel order
};

class ItemListener {
 public:
  virtual ~ItemListener() = default;
  virtual void Started(int index) = 0;
  virtual void Finished(int index, const Outcome& outcome) = 0;
  virtual void Said(const QString& text) = 0;  // a message of the engine, one line
};

// A staging folder "<root>/.korvessa-<host>-<pid>" (".<worker>" added for workers after the
// first, each of which needs its own), made on first use and removed with everything in it
// when the object goes. Both ends also remove the staging folders of this host's ended runs:
// a helper program of a run killed outright (the wave filter, an encoder) may still finish
// into its folder after the next run has started.
class Staging {
 public:
  Staging(const QString& root, int worker = 0);
  ~Staging();
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;
  QString Root() const { return root_; }
  QString Folder();  // empty when it cannot be made
  void Clear();      // removes the folder with what an item left in it
  // A folder beside it for the channels' shares of a song's mix, which its stems are made from
  // (see SystemSetup::stemCache); empty when it cannot be made. ClearStemCache removes it.
  QString StemCache();
  void ClearStemCache();

 private:
  void RemoveStale() const;

  QString root_, folder_, stemCache_;
  int worker_;
};

// SIGINT, SIGTERM and SIGHUP end a run after the current item (whose result is dropped).
void CatchEndSignals();
int EndSignal();  // the signal that came, 0 when none

// Converts the items in order with one engine, `job` giving the recording format, the encoder
// and the filter steps. Items with an error fail at once; with skipExisting an item whose
// output exists is skipped. Runs the event loop of the current thread until the last item.
// Returns false when the run ended early: by a signal (items after the current one get no
// Finished call), or by a failure that would fail every item, as the window's batch ends (the
// rest fail with that reason).
// With stems, each song also gets "NAME.stems/CC PRESET.ext" beside its output NAME.ext for
// every channel CC that sounds, converted as the output is (each a take of its channel's share
// of the same mix); a song counts as existing only with all of them.
bool ConvertItems(const QList<Item>& items, kv::ConversionJob job, bool skipExisting, Staging& staging,
                  ItemListener& listener, bool stems = false);

// The stems of a song to `output` (see ConvertItems), with the channel each one is of; false and
// `error` when the song or the SoundFont cannot be read.
bool StemPaths(const QString& input, const QString& output, QList<std::pair<int, QString>>& stems, QString& error);

}  // namespace kvcli
