// mci_render OUT.wav FILE.mid: records FILE.mid played on the MIDI mapper into OUT.wav through
// the media control string interface alone, exactly as a conversion does (44.1 kHz 16-bit
// stereo). Used by render.sh to compare the recorder with other renderers.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "winmm.h"

namespace {

std::string Send(const std::string& cmd, bool reply = true) {
  char buf[256] = {0};
  const MCIERROR err = mciSendStringA(cmd.c_str(), reply ? buf : nullptr, reply ? 255 : 0, nullptr);
  if (err != 0) {
    char text[256] = {0};
    mciGetErrorStringA(err, text, sizeof text);
    std::fprintf(stderr, "mci_render: \"%s\": %s\n", cmd.c_str(), text);
  }
  return buf;
}

// The 60-byte header-only WAVE file the recorder takes its format from.
bool WriteTemplate(const char* path) {
  static const unsigned char kTemplate[60] = {
      'R', 'I', 'F', 'F', 50, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 18, 0, 0, 0,
      1, 0, 2, 0, 0x44, 0xac, 0, 0, 0x10, 0xb1, 0x02, 0, 4, 0, 16, 0, 0, 0,
      'f', 'a', 'c', 't', 4, 0, 0, 0, 0, 0, 0, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0, 0, 0};
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  const bool ok = std::fwrite(kTemplate, 1, sizeof kTemplate, f) == sizeof kTemplate;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: mci_render OUT.wav FILE.mid\n");
    return 2;
  }
  const std::string out = argv[1], mid = argv[2];
  if (!WriteTemplate(out.c_str())) {
    std::fprintf(stderr, "mci_render: cannot write %s: %s\n", out.c_str(), std::strerror(errno));
    return 1;
  }
  Send("open \"" + out + "\" alias RecMedia");
  Send("record RecMedia overwrite");
  Send("open \"" + mid + "\" alias PlayMedia");
  Send("set PlayMedia port -1", false);
  Send("set PlayMedia time format milliseconds", false);
  Send("play PlayMedia");
  while (Send("status PlayMedia mode").compare(0, 7, "playing") == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  Send("stop PlayMedia");
  Send("close PlayMedia");
  Send("stop RecMedia");
  Send("seek RecMedia to start");
  Send("save RecMedia");
  Send("close RecMedia");
  for (const char* alias : {"RecMedia", "PlayMedia"})
    if (const char* why = kvMediaDeviceError(alias); *why) std::fprintf(stderr, "mci_render: %s\n", why);
  return 0;
}
