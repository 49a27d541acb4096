// wm8eutil.exe: command-line WAVE -> WMA encoder.
//   wm8eutil.exe -input IN.wav -output OUT.wma [-title "TITLE"] [-bitrate KBPS]
// Options in any order, names without regard to case. Writes WMA v2, 64 kbit/s, 44100 Hz,
// stereo. Exit 0 on success; otherwise one line on stderr, exit 1 (encode) or 2 (usage),
// and OUT.wma is left as it was.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <strings.h>

#include "components/wmacore/WmaEncode.h"

namespace {

int Usage(const std::string& why) {
  std::fprintf(stderr, "wm8eutil: %s (usage: wm8eutil -input IN.wav -output OUT.wma -title \"TITLE\")\n",
               why.c_str());
  return 2;
}

bool Is(const char* arg, const char* name) { return strcasecmp(arg, name) == 0; }

}  // namespace

int main(int argc, char** argv) {
  std::string input, output;
  kv::wma::Settings settings;
  bool haveInput = false, haveOutput = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    bool known = Is(a, "-input") || Is(a, "-output") || Is(a, "-title") || Is(a, "-bitrate");
    if (!known) return Usage(std::string("unknown argument \"") + a + "\"");
    if (i + 1 >= argc) return Usage(std::string(a) + " needs a value");
    const char* v = argv[++i];
    if (Is(a, "-input")) {
      input = v;
      haveInput = true;
    } else if (Is(a, "-output")) {
      output = v;
      haveOutput = true;
    } else if (Is(a, "-title")) {
      settings.tags.title = v;
    } else {
      char* end = nullptr;
      long kbps = std::strtol(v, &end, 10);
      if (!end || *end || kbps <= 0 || kbps > 320) return Usage(std::string("bad bit rate \"") + v + "\"");
      settings.bitRateKbps = int(kbps);
    }
  }
  if (!haveInput || input.empty()) return Usage("no -input file");
  if (!haveOutput || output.empty()) return Usage("no -output file");

  if (const kv::Status st = kv::wma::EncodeWaveToWma(input, output, settings); !st) {
    std::fprintf(stderr, "wm8eutil: %s\n", st.message().c_str());
    return 1;
  }
  return 0;
}
