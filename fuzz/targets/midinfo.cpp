#include "fuzz_targets.h"
#include "midi/MIDInfo.h"

#include <cstring>

namespace kvfuzz {

int MidiInfo(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  const ::MidiInfo info = ParseMidiBytes(bytes, QStringLiteral("/music/Song title.mid"));
  const bool hasHeader = bytes.contains("MThd");
  if (hasHeader && info.Title.isEmpty()) Fail("a file with MThd has no title");
  if (!hasHeader && (!info.Title.isEmpty() || info.Format || info.Track || info.TCount))
    Fail("a file without MThd gives a non-empty record");
  // Decoded text never holds more characters than the bytes it came from.
  const QString text = DecodeLegacyText(bytes);
  if (text.size() > qsizetype(size)) Fail("decoded text longer than its bytes");
  if (size >= 4) {
    int32_t ms;
    std::memcpy(&ms, data, 4);
    if (TimeText(ms).size() < 5) Fail("time text shorter than mm:ss");
  }
  (void)FileTitleOf(QString::fromUtf8(bytes));
  return 0;
}

}  // namespace kvfuzz
