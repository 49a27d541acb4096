// The system setup file (SoundFont, recording source, fast recording, volume).
#include "syssetup.h"

#include <alsa/asoundlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "kernel32.h"
#include "alsa_handles.h"
#include "media_internal.h"
#include "owned.h"

namespace kv {
namespace {

bool FileExists(const std::string& p) {
  struct stat st;
  return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool MakeDirs(const std::string& dir) {
  if (dir.empty()) return true;
  std::string cur;
  std::stringstream ss(dir);
  std::string part;
  if (dir[0] == '/') cur = "/";
  while (std::getline(ss, part, '/')) {
    if (part.empty()) continue;
    cur += part;
    ::mkdir(cur.c_str(), 0755);
    cur += "/";
  }
  struct stat st;
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

const char* const kSoundFontDir = "/usr/share/sounds/sf2/";

}  // namespace

std::string SystemSetupPath() {
  if (const char* p = std::getenv("KORVESSA_SYSTEM_INI"); p && *p) return p;
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    base = std::string(h) + "/.config";
  } else {
    base = "/tmp";
  }
  return base + "/korvessa/system.ini";
}

namespace {
thread_local int g_threadStem = -2;
thread_local std::string g_threadStemCache;
}  // namespace

void SetThreadStem(int stem) { g_threadStem = stem; }
void SetThreadStemCache(const std::string& folder) { g_threadStemCache = folder; }

SystemSetup LoadSystemSetup() {
  SystemSetup s;
  const std::string path = SystemSetupPath();
  auto read = [&path](const char* key, const std::string& def) {
    char buf[4096] = {};
    GetPrivateProfileStringA("Setup", key, def.c_str(), buf, sizeof buf, path.c_str());
    return std::string(buf);
  };
  s.soundFont = read("SoundFont", "");
  s.source = read("Source", "synth");
  if (s.source.empty()) s.source = "synth";
  s.fast = read("Fast", "1") != "0";
  s.volume = std::clamp(std::atoi(read("Volume", "100").c_str()), 0, 100);
  const char* env = std::getenv("KORVESSA_THREADS");
  s.threads = std::clamp(std::atoi(env && *env ? env : read("Threads", "0").c_str()), 0, 64);
  s.lanes = std::clamp(std::atoi(read("Lanes", "1").c_str()), 1, kMaxLanes);
  const char* stem = std::getenv("KORVESSA_STEM");
  if (stem && std::string(stem) == "mix") s.stem = 0;
  else if (stem && *stem) s.stem = std::clamp(std::atoi(stem), 1, 16);
  if (g_threadStem >= -1) s.stem = std::min(g_threadStem, 16);
  s.stemCache = g_threadStemCache;
  if (!ParseTail(read("Tail", "auto"), s.tailSeconds)) s.tailSeconds = kTailAuto;
  s.loops = std::clamp(std::atoi(read("Loops", "2").c_str()), 0, kMaxLoops);
  const double fade = std::atof(read("Fade", "10").c_str());
  s.fadeMs = fade > 0 ? int(std::min<double>(fade * 1000 + 0.5, kMaxFadeMs)) : 0;
  return s;
}

bool SaveSystemSetup(const SystemSetup& setup) {
  const std::string path = SystemSetupPath();
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && !MakeDirs(path.substr(0, slash))) return false;
  const std::string source = setup.source.empty() ? "synth" : setup.source;
  const std::string fast = setup.fast ? "1" : "0";
  const std::string volume = std::to_string(std::clamp(setup.volume, 0, 100));
  const std::string tail = TailText(setup.tailSeconds);
  const std::string loops = std::to_string(std::clamp(setup.loops, 0, kMaxLoops));
  const std::string lanes = std::to_string(std::clamp(setup.lanes, 1, kMaxLanes));
  const int fadeMs = std::clamp(setup.fadeMs, 0, kMaxFadeMs);
  // Seconds, with as many decimals as the milliseconds need.
  char fade[32];
  std::snprintf(fade, sizeof fade, "%d.%03d", fadeMs / 1000, fadeMs % 1000);
  std::string fadeText = fade;
  while (fadeText.back() == '0') fadeText.pop_back();
  if (fadeText.back() == '.') fadeText.pop_back();
  bool ok = true;
  for (auto [key, value] : {std::pair{"SoundFont", &setup.soundFont}, {"Source", &source}, {"Fast", &fast},
                            {"Volume", &volume}, {"Tail", &tail}, {"Loops", &loops}, {"Fade", &fadeText},
                            {"Lanes", &lanes}})
    ok = WritePrivateProfileStringA("Setup", key, value->c_str(), path.c_str()) && ok;
  return ok;
}

bool ParseTail(const std::string& text, double& seconds) {
  std::string t;
  for (char c : text)
    if (c != ' ' && c != '\t') t += char(std::tolower(static_cast<unsigned char>(c)));
  if (t == "auto") {
    seconds = kTailAuto;
    return true;
  }
  char* end = nullptr;
  const double v = std::strtod(t.c_str(), &end);
  if (t.empty() || *end || !(v >= 0 && v <= kTailMaxSeconds)) return false;
  seconds = v;
  return true;
}

std::string TailText(double seconds) {
  if (seconds < 0) return "auto";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", seconds);
  return buf;
}

std::string ResolveSoundFont(const SystemSetup& setup) {
  if (FileExists(setup.soundFont)) return setup.soundFont;
  for (const char* name : {"default-GM.sf2", "FluidR3_GM.sf2", "TimGM6mb.sf2"}) {
    std::string p = std::string(kSoundFontDir) + name;
    if (FileExists(p)) return p;
  }
  return "";
}

std::string MissingSoundFontMessage() {
  SystemSetup s = LoadSystemSetup();
  std::string wanted = s.soundFont.empty() ? std::string(kSoundFontDir) + "default-GM.sf2" : s.soundFont;
  return "SoundFont not found (" + wanted +
         "). Install the Debian package fluid-soundfont-gm (or timgm6mb-soundfont), "
         "or choose a SoundFont in sndvol32.exe /R.";
}

std::vector<CaptureDevice> ListCaptureDevices() {
  std::vector<CaptureDevice> out;
  media::SilenceAlsa();
  // The desktop's default input first: on a desktop ALSA's "default" is the sound server
  // (PulseAudio, PipeWire), which follows the input the user chose there.
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) == 0) {
    const media::PcmHandle probe(pcm);  // only whether it opens matters
    out.push_back({"default", "Default input of the desktop"});
  }
  int card = -1;
  while (snd_card_next(&card) == 0 && card >= 0) {
    char hw[32];
    std::snprintf(hw, sizeof hw, "hw:%d", card);
    snd_ctl_t* raw = nullptr;
    if (snd_ctl_open(&raw, hw, 0) < 0) continue;
    const Owned<snd_ctl_t, snd_ctl_close> owner(raw);
    snd_ctl_t* ctl = raw;
    snd_ctl_card_info_t* info;
    snd_ctl_card_info_alloca(&info);
    std::string cardName = snd_ctl_card_info(ctl, info) == 0 ? snd_ctl_card_info_get_name(info) : hw;
    int dev = -1;
    while (snd_ctl_pcm_next_device(ctl, &dev) == 0 && dev >= 0) {
      snd_pcm_info_t* pi;
      snd_pcm_info_alloca(&pi);
      snd_pcm_info_set_device(pi, unsigned(dev));
      snd_pcm_info_set_subdevice(pi, 0);
      snd_pcm_info_set_stream(pi, SND_PCM_STREAM_CAPTURE);
      if (snd_ctl_pcm_info(ctl, pi) < 0) continue;
      CaptureDevice d;
      d.pcm = "hw:" + std::to_string(card) + "," + std::to_string(dev);
      d.description = cardName + ": " + snd_pcm_info_get_name(pi);
      out.push_back(d);
    }
  }
  return out;
}

}  // namespace kv
