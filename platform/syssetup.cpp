// The system setup file (SoundFont, recording source, fast recording, volume).
// A tiny INI reader/writer of its own: the file has one section and four keys.
#include "syssetup.h"

#include <alsa/asoundlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "media_internal.h"

namespace kv {
namespace {

bool FileExists(const std::string& p) {
  struct stat st;
  return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

std::string Lower(std::string s) {
  for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
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

SystemSetup LoadSystemSetup() {
  SystemSetup s;
  std::ifstream in(SystemSetupPath());
  if (!in) return s;
  std::string line;
  bool inSetup = false;
  bool first = true;
  while (std::getline(in, line)) {
    if (first && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // a byte order mark from an editor
    first = false;
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      inSetup = Lower(line) == "[setup]";
      continue;
    }
    if (!inSetup) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = Lower(Trim(line.substr(0, eq)));
    std::string value = Trim(line.substr(eq + 1));
    if (key == "soundfont") {
      s.soundFont = value;
    } else if (key == "source") {
      s.source = value.empty() ? "synth" : value;
    } else if (key == "fast") {
      s.fast = value != "0";
    } else if (key == "volume") {
      s.volume = std::clamp(std::atoi(value.c_str()), 0, 100);
    }
  }
  return s;
}

bool SaveSystemSetup(const SystemSetup& setup) {
  std::string path = SystemSetupPath();
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && !MakeDirs(path.substr(0, slash))) return false;
  std::string tmp = path + ".~tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    if (!out) return false;
    out << "[Setup]\n"
        << "SoundFont=" << setup.soundFont << "\n"
        << "Source=" << (setup.source.empty() ? "synth" : setup.source) << "\n"
        << "Fast=" << (setup.fast ? 1 : 0) << "\n"
        << "Volume=" << std::clamp(setup.volume, 0, 100) << "\n";
    out.flush();
    if (!out) {
      out.close();
      std::remove(tmp.c_str());
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
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
  int card = -1;
  while (snd_card_next(&card) == 0 && card >= 0) {
    char hw[32];
    std::snprintf(hw, sizeof hw, "hw:%d", card);
    snd_ctl_t* ctl = nullptr;
    if (snd_ctl_open(&ctl, hw, 0) < 0) continue;
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
    snd_ctl_close(ctl);
  }
  return out;
}

}  // namespace kv
