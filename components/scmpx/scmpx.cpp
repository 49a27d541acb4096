// scmpx.exe -e [-bN] [-f] IN.wav OUT.mp3
//   -b3..-b11  48 56 64 80 96 112 128 160 192 kbit/s (default 128)
//   -f         faster encoding at lower quality
// Without arguments on a desktop it opens its own window; without a desktop it says how to use it.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "EncodeWindow.h"
#include "Mp3Encoder.h"

namespace {

int usage(const char* why) {
  std::fprintf(stderr, "scmpx: %s (usage: scmpx.exe -e [-b3..-b11] [-f] IN.wav OUT.mp3)\n", why);
  return 2;
}

}  // namespace

static bool OnDesktop() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

int main(int argc, char** argv) {
  if (argc == 1 && OnDesktop()) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("scmpx"));
    kv::scmpx::EncodeWindow window;
    window.show();
    window.raise();
    window.activateWindow();
    return app.exec();
  }
  static const int kRates[] = {48, 56, 64, 80, 96, 112, 128, 160, 192};
  bool encode = false, fast = false;
  int bitrate = 128;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    // Options may arrive with the caller's padding spaces around them.
    while (!a.empty() && a.back() == ' ') a.pop_back();
    while (!a.empty() && a.front() == ' ' && files.empty()) a.erase(0, 1);
    if (a.empty()) continue;
    if (files.empty() && a == "-e") {
      encode = true;
    } else if (files.empty() && a == "-f") {
      fast = true;
    } else if (files.empty() && a.size() >= 3 && a.compare(0, 2, "-b") == 0) {
      int n = 0;
      for (size_t k = 2; k < a.size(); ++k) {
        if (a[k] < '0' || a[k] > '9' || n > 100) return usage(("bad bit-rate option " + a).c_str());
        n = n * 10 + (a[k] - '0');
      }
      if (n < 3 || n > 11) return usage(("bad bit-rate option " + a).c_str());
      bitrate = kRates[n - 3];
    } else if (files.empty() && a.size() > 1 && a[0] == '-') {
      return usage(("unknown option " + a).c_str());
    } else {
      files.push_back(argv[i]);
    }
  }
  if (!encode) return usage("only encoding (-e) is supported");
  if (files.size() != 2) return usage("give one input and one output file");

  kv::mp3::EncodeOptions opt;
  opt.bitrateKbps = bitrate;
  opt.mode = kv::mp3::ChannelMode::JointStereo;
  opt.quality = fast ? 7 : 3;
  kv::mp3::Mp3Encoder enc;
  kv::Status s = enc.openInput(files[0], opt);
  if (s) s = enc.openOutput(files[1]);
  while (s && !enc.finished()) s = enc.step();
  if (!s) {
    std::fprintf(stderr, "scmpx: %s\n", s.message().c_str());
    return 1;
  }
  return 0;
}
