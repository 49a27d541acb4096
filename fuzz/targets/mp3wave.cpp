#include "fuzz_targets.h"
#include "WaveReader.h"

#include <vector>

namespace kvfuzz {

int Mp3Wave(const uint8_t* data, size_t size) {
  const std::string path = ScratchDir() + "/mp3in.wav";
  if (!WriteBytes(path, data, size)) return 0;
  kv::mp3::WaveReader r;
  if (const kv::Status opened = r.open(path); !opened) {
    if (opened.message().empty()) Fail("a refused file gives no reason");
    return 0;
  }
  const auto& info = r.info();
  if (info.channels < 1 || info.channels > 2 || info.sampleRate <= 0) Fail("accepted an unsupported layout");
  std::vector<int16_t> buf(size_t(1152) * info.channels);
  for (int blocks = 0; blocks < 4096; ++blocks) {
    const int64_t n = r.read(buf.data(), 1152);
    if (n > 1152) Fail("read more frames than asked");
    if (n <= 0) break;
  }
  r.close();
  return 0;
}

}  // namespace kvfuzz
