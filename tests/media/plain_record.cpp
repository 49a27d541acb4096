// A plain C++ program on the media layer alone (no Qt): records a MIDI file into a WAVE file
// through the media control strings and checks the file it saved.
// Usage: media_plain_record <song.mid> <out.wav> [template 101..124]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "winmm.h"

static std::string Send(const std::string& cmd) {
  char reply[256] = {};
  MCIERROR e = mciSendStringA(cmd.c_str(), reply, 255, nullptr);
  if (e) {
    char text[256];
    mciGetErrorStringA(e, text, sizeof text);
    std::fprintf(stderr, "%s -> %u %s %s\n", cmd.c_str(), unsigned(e), text, kvMediaLastError());
  }
  return reply;
}

static unsigned Le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (unsigned(p[3]) << 24); }

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s song.mid out.wav [template]\n", argv[0]);
    return 2;
  }
  std::string midi = argv[1], wav = argv[2];
  int number = argc > 3 ? std::atoi(argv[3]) : 120;
  static const int rates[] = {16000, 22050, 24000, 32000, 44100, 48000};
  int n = number - 101, rate = rates[n / 4], bits = (n % 4) < 2 ? 8 : 16, ch = (n % 2) ? 2 : 1;
  unsigned char t[60] = {'R', 'I', 'F', 'F', 50, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 18, 0, 0, 0, 1, 0};
  t[22] = (unsigned char)ch;
  for (int i = 0; i < 4; ++i) t[24 + i] = (unsigned char)((rate >> (8 * i)) & 0xFF);
  unsigned bps = unsigned(rate * ch * bits / 8);
  for (int i = 0; i < 4; ++i) t[28 + i] = (unsigned char)((bps >> (8 * i)) & 0xFF);
  t[32] = (unsigned char)(ch * bits / 8);
  t[34] = (unsigned char)bits;
  std::memcpy(t + 38, "fact\4\0\0\0\0\0\0\0data\0\0\0\0", 20);
  std::ofstream(wav, std::ios::binary).write(reinterpret_cast<char*>(t), 60);

  auto t0 = std::chrono::steady_clock::now();
  const std::string q = "\"";
  Send("open " + q + wav + q + " alias RecMedia");
  Send("record RecMedia overwrite");
  Send("open " + q + midi + q + " alias PlayMedia");
  Send("set PlayMedia port -1");
  Send("set PlayMedia time format milliseconds");
  long length = std::atol(Send("status PlayMedia length").c_str());
  Send("play PlayMedia");
  while (Send("status PlayMedia mode").compare(0, 7, "playing") == 0) {
    Send("status PlayMedia position");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Send("stop PlayMedia");
  Send("close PlayMedia");
  Send("stop RecMedia");
  Send("seek RecMedia to start");
  Send("save RecMedia");
  Send("close RecMedia");
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

  // Read back in pieces: the file may be far larger than memory needs to be.
  std::ifstream in(wav, std::ios::binary | std::ios::ate);
  size_t fileSize = size_t(in.tellg());
  in.seekg(0);
  unsigned char h[58];
  if (fileSize < 58 || !in.read(reinterpret_cast<char*>(h), 58) || std::memcmp(h, "RIFF", 4) ||
      std::memcmp(h + 50, "data", 4)) {
    std::fprintf(stderr, "not a recording: %zu bytes\n", fileSize);
    return 1;
  }
  unsigned data = Le32(&h[54]);
  bool sizesOk = Le32(&h[4]) + 8 == fileSize && 58 + data + (data & 1) == fileSize;
  bool sound = false;
  std::vector<unsigned char> f(1 << 16);
  while (!sound) {
    in.read(reinterpret_cast<char*>(f.data()), std::streamsize(f.size()));
    size_t got = size_t(in.gcount());
    if (got == 0) break;
    for (size_t i = 0; bits == 8 && i < got && !sound; ++i) sound = f[i] < 118 || f[i] > 138;
    for (size_t i = 0; bits == 16 && i + 1 < got && !sound; i += 2) {
      int s = int16_t(f[i] | (f[i + 1] << 8));
      sound = s > 1000 || s < -1000;
    }
  }
  double seconds = double(data) / bps;
  std::printf("song %.2f s recorded as %.2f s in %.2f s (%.0fx real time)\n", length / 1000.0, seconds, took,
              seconds / took);
  return (sizesOk && sound && seconds >= length / 1000.0 - 0.02) ? 0 : 1;
}
