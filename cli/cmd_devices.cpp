// korvessa devices: the MIDI outputs a playback can use, "id<TAB>name", from the mapper (-1).
#include "cli/Verbs.h"
#include "engine/MediaCommands.h"
#include "midi/MIDInfo.h"

namespace {

int Devices(const QStringList& args) {
  if (!args.isEmpty()) return KvUsage(QStringLiteral("devices takes no arguments"));
  const MediaLayer& l = CurrentMediaLayer();
  const int n = l.midiOutNumDevs ? int(l.midiOutNumDevs()) : 0;
  for (int id = -1; id <= n - 1; ++id)
    KvOut(QStringLiteral("%1\t%2\n").arg(id).arg(MidiOutDeviceName(id)));
  return kExitOk;
}

const KvVerb kDevices({"devices", "devices           MIDI output devices: id and name (-1 is the mapper)", Devices});

}  // namespace
