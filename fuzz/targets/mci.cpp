#include "fuzz_targets.h"
#include "winmm.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace kvfuzz {

namespace {

// Short song the prepared sequencer alias plays.
const char kSong[] = KV_SOURCE_DIR "/tests/data/midi/jazz-soft-test-midi-files/test-c-major-scale.mid";

// Every command runs inside the scratch folder with the small SoundFont, so opening or saving
// a fuzzed name can only touch files there.
void SetUpOnce() {
  static bool done = false;
  if (done) return;
  done = true;
  const std::string& dir = ScratchDir();
  if (chdir(dir.c_str()) != 0) Fail("cannot enter the scratch folder");
  const std::string ini = dir + "/system.ini";
  const char setup[] = "[Setup]\nSoundFont=/usr/share/sounds/sf2/TimGM6mb.sf2\nFast=1\nVolume=0\nThreads=1\n";
  WriteBytes(ini, reinterpret_cast<const uint8_t*>(setup), sizeof setup - 1);
  setenv("KORVESSA_SYSTEM_INI", ini.c_str(), 1);
  std::error_code ec;
  std::filesystem::copy_file(kSong, dir + "/a.mid", std::filesystem::copy_options::overwrite_existing, ec);
}

// Lines that could leave the scratch folder or block the fuzzer are not sent.
bool Confined(const std::string& line) {
  std::string l = line;
  std::transform(l.begin(), l.end(), l.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return l.find('/') == std::string::npos && l.find("wait") == std::string::npos &&
         l.find('~') == std::string::npos && l.find('$') == std::string::npos;
}

MCIERROR Send(const char* cmd, UINT replyLength) {
  std::vector<char> reply(replyLength ? replyLength : 1, 'x');
  const MCIERROR err = mciSendStringA(cmd, replyLength ? reply.data() : nullptr, replyLength, nullptr);
  if (replyLength && std::memchr(reply.data(), '\0', replyLength) == nullptr) Fail("reply not terminated");
  char text[256];
  mciGetErrorStringA(err, text, sizeof text);
  return err;
}

}  // namespace

int Mci(const uint8_t* data, size_t size) {
  SetUpOnce();
  Send("open new type waveaudio alias w", 64);
  Send("open a.mid alias m", 64);
  Send("set w time format milliseconds", 0);
  // One command per line; the first byte of a line picks the reply buffer size.
  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  int lines = 0;
  while (start <= input.size() && lines < 16) {
    size_t end = input.find('\n', start);
    if (end == std::string::npos) end = input.size();
    std::string line = input.substr(start, end - start);
    start = end + 1;
    ++lines;
    line = line.substr(0, std::min(line.find('\0'), line.size()));
    if (!Confined(line)) continue;
    const UINT replyLength = line.empty() ? 0 : UINT(uint8_t(line[0]) % 24);
    Send(line.c_str(), replyLength);
  }
  Send("close all", 0);
  return 0;
}

}  // namespace kvfuzz
