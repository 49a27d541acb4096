// The system setup: what the OS audio control panel holds on Windows. One small INI file,
// $KORVESSA_SYSTEM_INI, else $XDG_CONFIG_HOME/korvessa/system.ini (~/.config/... by default):
//   [Setup]
//   SoundFont=/usr/share/sounds/sf2/default-GM.sf2   (empty: the first default that exists)
//   Source=synth          ("synth" = the built-in synth's own mix; "alsa:<pcm>" = an ALSA capture device)
//   Fast=1                (render as fast as the CPU allows while the recorder takes the synth's mix)
//   Volume=100            (output volume of the built-in synth, percent 0..100)
//   Threads=0             (cores the built-in synth's voices may use for one song; 0 = all)
//   Lanes=1               (synthesizers one song is spread over, each playing a group of its
//                          channels, a heavy channel split by key, on a thread of its own;
//                          1 = one synthesizer, its voices on the Threads cores. The lanes, not
//                          the cores, decide the samples)
//   Tail=auto             (after a song's end: "auto" = until its sound has decayed, at most 30 s;
//                          a number = that many seconds, 0 = none)
//   Loops=2               (times a song's marked loop plays before it fades out; 0 = straight through)
//   Fade=10               (seconds of the fade-out that ends a looped song)
// $KORVESSA_THREADS, when set, overrides Threads (korvessa convert -j sets it for its workers).
// The media layer reads it when a recording or playback starts; sndvol32.exe edits it.
#pragma once
#include <string>
#include <vector>

namespace kv {

constexpr double kTailAuto = -1;
constexpr double kTailMaxSeconds = 60;

// "auto" or seconds from 0 to kTailMaxSeconds; false for anything else.
bool ParseTail(const std::string& text, double& seconds);
std::string TailText(double seconds);

struct SystemSetup {
  std::string soundFont;          // empty = first of the default SoundFonts that exists
  std::string source = "synth";   // "synth" or "alsa:<pcm name>"
  bool fast = true;
  int volume = 100;
  int threads = 0;  // 0 = automatic
  int lanes = 1;    // synthesizers a song is spread over by channel (1..kMaxLanes)
  // Stems: -1 = the plain mix; 0 = the mix as the sum of its channels' shares (each channel with
  // its own reverb and chorus); 1..16 = that channel's share alone ($KORVESSA_STEM: "mix" or N).
  int stem = -1;
  // Stems: a folder where a fast take of the mix leaves every channel's share (CC.f32, raw
  // float stereo, with "complete" once the take has ended), and from which a stem take of the
  // same song then plays its channel instead of rendering the song again.
  std::string stemCache;
  double tailSeconds = kTailAuto;  // kTailAuto, or a fixed tail of 0..kTailMaxSeconds
  int loops = 2;
  int fadeMs = 10000;
};

constexpr int kMaxLanes = 16;
constexpr int kMaxLoops = 99;
constexpr int kMaxFadeMs = 600 * 1000;

std::string SystemSetupPath();
SystemSetup LoadSystemSetup();
// The stem the synthesizers started by this thread render (see SystemSetup::stem), over
// $KORVESSA_STEM: workers of one process record different stems side by side. -2 = none set.
void SetThreadStem(int stem);
// The stem cache of the synthesizers started by this thread (see SystemSetup::stemCache).
void SetThreadStemCache(const std::string& folder);
// Writes through a temporary file and a rename; false when the file cannot be written.
bool SaveSystemSetup(const SystemSetup& setup);

// The SoundFont to use: setup.soundFont when it exists, else default-GM.sf2, FluidR3_GM.sf2,
// TimGM6mb.sf2 in /usr/share/sounds/sf2; empty when none exists.
std::string ResolveSoundFont(const SystemSetup& setup);
// Message for a missing SoundFont, naming the Debian package that provides one.
std::string MissingSoundFontMessage();

struct CaptureDevice {
  std::string pcm;          // ALSA PCM name, e.g. "hw:1,0"
  std::string description;  // card and device name for the user
};
// Capture devices present now: ALSA's "default" (the desktop's sound server) when it can
// record, then every hardware capture device; empty without either. Prints nothing.
std::vector<CaptureDevice> ListCaptureDevices();

}  // namespace kv
