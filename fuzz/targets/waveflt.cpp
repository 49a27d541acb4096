#include "fuzz_targets.h"

#include <sys/stat.h>
#include <unistd.h>

// The wave filter's own main(), built under another name (see fuzz/build.sh and
// tests/fuzz_regressions/CMakeLists.txt).
int WavefltMain(int argc, char** argv);

namespace kvfuzz {

int Waveflt(const uint8_t* data, size_t size) {
  const std::string in = ScratchDir() + "/fltin.wav";
  const std::string out = ScratchDir() + "/fltout.wav";
  if (!WriteBytes(in, data, size)) return 0;
  unlink(out.c_str());
  std::string a0 = "waveflt.exe", a1 = "-autoofs", a2 = "-headcut", a3 = "1", a4 = "-normal", a5 = "0.9";
  std::string a6 = in, a7 = out;
  char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), a4.data(), a5.data(), a6.data(), a7.data(), nullptr};
  const int rc = WavefltMain(8, argv);
  struct stat st;
  const bool exists = stat(out.c_str(), &st) == 0;
  if (rc == 0 && !exists) Fail("success without an output file");
  if (rc != 0 && exists) Fail("failure left an output file");
  return 0;
}

}  // namespace kvfuzz
