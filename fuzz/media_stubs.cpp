// The MIDI inspection fuzzer only parses bytes; it never sends a media command. These stand in
// for engine/MediaCommands.cpp, which pulls in the window toolkit and the settings.
#include "engine/MediaCommands.h"

thread_local QString MciReply;
QString MciSend(const QString&, bool) { return QString(); }
QString MciSendLocal(const QString&, unsigned) { return QString(); }
long ReplyNumber(const QString&) { return 0; }
const MediaLayer& CurrentMediaLayer() {
  static const MediaLayer none;
  return none;
}
