#include "fuzz_targets.h"
#include "components/wmacore/WmaEncode.h"

#include <sys/stat.h>

namespace kvfuzz {

int WmaWave(const uint8_t* data, size_t size) {
  const std::string in = ScratchDir() + "/wmain.wav";
  const std::string out = ScratchDir() + "/out.wma";
  if (!WriteBytes(in, data, size)) return 0;
  kv::wma::Settings s;
  s.bitRateKbps = 32;
  s.sampleRate = 22050;
  s.channels = size % 2 ? 1 : 2;
  s.tags.title = "fuzz";
  kv::wma::Encoder enc;
  if (const kv::Status opened = enc.Open(in, out, s); !opened) {
    if (opened.message().empty()) Fail("a refused file gives no reason");
    return 0;
  }
  // Encoding is slow: only short inputs run through the whole encode.
  if (enc.Source().frames > 20000 || enc.Source().frames < 0) {
    enc.Close();
    return 0;
  }
  struct stat st;
  if (const kv::Status ran = enc.Run()) {
    if (stat(out.c_str(), &st) != 0 || st.st_size == 0) Fail("a finished encode left no output");
  } else if (ran.message().empty()) {
    Fail("a failed encode gives no reason");
  }
  return 0;
}

}  // namespace kvfuzz
