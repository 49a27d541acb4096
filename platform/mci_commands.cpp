// The media control string interface: mciSendStringA parses one command line and drives a
// waveaudio recorder or a MIDI sequencer opened under an alias.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cmdline.h"
#include "media_internal.h"
#include "owned.h"
#include "seq_alsa.h"
#include "smf_reader.h"
#include "song_soundfont.h"
#include "synth_bus.h"
#include "syssetup.h"
#include "wave_recorder.h"
#include "winmm.h"

namespace kv::media {
namespace {

std::string Lower(std::string s) {
  for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool ParseInt(const std::string& s, int64_t& v) {
  if (s.empty()) return false;
  char* end = nullptr;
  long long x = std::strtoll(s.c_str(), &end, 10);
  if (*end) return false;
  v = x;
  return true;
}

// ---------------------------------------------------------------- sequencer device

class Sequencer {
 public:
  explicit Sequencer(SynthBus& bus) : bus_(bus) {}
  ~Sequencer() { Stop(); }

  MCIERROR Open(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      ReportFailure("File not found: " + path);
      return MCIERR_FILE_NOT_FOUND;
    }
    if (!kv::UniqueFile(std::fopen(path.c_str(), "rb"))) {
      ReportFailure("Cannot read the file (" + std::string(std::strerror(errno)) + "): " + path);
      return MCIERR_FILE_READ;
    }
    auto song = std::make_shared<Song>();
    std::string error;
    if (!LoadSmf(path, *song, error)) {
      ReportFailure("Not a MIDI file (" + error + "): " + path);
      return MCIERR_INVALID_FILE;
    }
    // A song with a marked loop plays as the system setup says; its length is the looped one.
    const SystemSetup setup = LoadSystemSetup();
    ArrangeLoops(*song, setup.loops, setup.fadeMs);
    song_ = song;
    path_ = path;
    return 0;
  }

  MCIERROR SetPort(int64_t port) {
    if (port != -1 && port != 0) {
      auto ports = ListAlsaOutputPorts();
      if (port < 0 || port > int64_t(ports.size())) return MCIERR_SEQ_PORT_NONEXISTENT;
      alsaPort_ = ports[size_t(port - 1)];
    }
    Stop();
    port_ = int(port);
    return 0;
  }

  MCIERROR Play(int64_t fromMs) {
    if (!song_) return MCIERR_DEVICE_NOT_READY;
    if (fromMs < 0) {
      if (Playing()) return 0;
      fromMs = PositionMs();
      if (fromMs >= song_->LengthMs()) fromMs = 0;  // at the end: play again from the start
    }
    Stop();
    std::string error;
    if (port_ <= 0) {
      token_ = bus_.PlaySong(song_, ChooseSoundFont(path_, LoadSystemSetup()), fromMs, error);
      if (!token_) {
        ReportFailure(error);
        return MCIERR_SEQ_NOMIDIPRESENT;
      }
    } else {
      alsa_ = std::make_unique<AlsaSeqPlayer>();
      if (!alsa_->Start(song_, alsaPort_, fromMs, error)) {
        alsa_.reset();
        ReportFailure(error);
        return MCIERR_SEQ_PORT_MISCERROR;
      }
    }
    paused_ = false;
    position_ = fromMs;
    return 0;
  }

  MCIERROR Stop() {
    position_ = PositionMs();
    if (token_) bus_.StopSong(token_);
    token_ = 0;
    if (alsa_) alsa_->Stop();
    alsa_.reset();
    paused_ = false;
    return 0;
  }

  MCIERROR Pause() {
    if (!Playing()) return 0;
    Stop();
    paused_ = true;
    return 0;
  }

  MCIERROR Resume() {
    if (!paused_) return 0;
    return Play(position_);
  }

  MCIERROR Seek(int64_t ms) {
    Stop();
    position_ = std::clamp<int64_t>(ms, 0, LengthMs());
    return 0;
  }

  bool Playing() {
    int64_t pos;
    bool ended;
    if (token_) return bus_.SongState(token_, pos, ended) && !ended;
    if (alsa_) return !alsa_->Ended();
    return false;
  }

  int64_t PositionMs() {
    int64_t pos;
    bool ended;
    if (token_ && bus_.SongState(token_, pos, ended)) return pos;
    if (alsa_) return alsa_->PositionMs();
    return position_;
  }

  std::string Mode() {
    if (!song_) return "not ready";
    if (Playing()) return "playing";
    return paused_ ? "paused" : "stopped";
  }

  int64_t LengthMs() const { return song_ ? song_->LengthMs() : 0; }
  int Port() const { return port_; }
  bool Ready() const { return song_ != nullptr; }

 private:
  SynthBus& bus_;  // the built-in synth of the device's session
  std::shared_ptr<const Song> song_;
  std::string path_;
  int port_ = -1;
  AlsaPort alsaPort_;
  int token_ = 0;
  std::unique_ptr<AlsaSeqPlayer> alsa_;
  int64_t position_ = 0;
  bool paused_ = false;
};

// ---------------------------------------------------------------- device table

enum class TimeFormat { Milliseconds, Samples, Bytes };

struct Device {
  int id = 0;
  std::string alias;  // as given; looked up without regard to letter case
  std::string element;
  bool wave = false;
  std::unique_ptr<WaveRecorder> recorder;
  std::unique_ptr<Sequencer> sequencer;
  TimeFormat timeFormat = TimeFormat::Milliseconds;
};

}  // namespace
}  // namespace kv::media

// A media session: its own devices under their aliases, their failures and its own built-in
// synth, so the commands of one session never reach another's devices.
struct KvMediaSession {
  kv::media::SynthBus bus;  // declared first: it outlives the devices that use it
  std::mutex mu;
  std::map<std::string, std::shared_ptr<kv::media::Device>> devices;  // key: lower-case alias
  // Why each device's last failing command failed, by lower-case alias; kept after "close" so
  // the caller can still ask, forgotten when the alias is opened again.
  std::map<std::string, std::string> failures;
  int nextId = 1;
  ~KvMediaSession();
};

namespace kv::media {
namespace {

using Session = KvMediaSession;

std::shared_ptr<Device> Find(Session& s, const std::string& name) {
  auto it = s.devices.find(Lower(name));
  return it == s.devices.end() ? nullptr : it->second;
}

void CloseDevice(Device& d) {
  if (d.recorder) d.recorder->Close();
  if (d.sequencer) d.sequencer->Stop();
}

// Unsaved recordings leave no temporary files.
void CloseAll(Session& s) {
  for (auto& [k, d] : s.devices) CloseDevice(*d);
  s.devices.clear();
}

// The session of the plain Win32 calls; never destroyed (its synth thread may outlive statics),
// its devices closed at exit.
Session& DefaultSession() {
  static Session* session = [] {
    std::atexit([] {
      Session& s = DefaultSession();
      std::lock_guard<std::mutex> lock(s.mu);
      CloseAll(s);
    });
    return new Session;
  }();
  return *session;
}

// ---------------------------------------------------------------- parsing

// File names in commands follow the same quoting as program command lines (kv::Quoted of the
// program writes them), so any name a file can have comes back whole.
MCIERROR Tokenize(const char* s, std::vector<std::string>& out) {
  return kv::SplitArguments(s, out) ? 0 : MCIERR_NO_CLOSING_QUOTE;
}

// Converts between the device's time format and milliseconds / frames.
int64_t ToUnits(const Device& d, int64_t frames, int rate, int blockAlign) {
  switch (d.timeFormat) {
    case TimeFormat::Samples: return frames;
    case TimeFormat::Bytes: return frames * blockAlign;
    default: return rate > 0 ? frames * 1000 / rate : 0;
  }
}
int64_t FromUnits(const Device& d, int64_t v, int rate, int blockAlign) {
  switch (d.timeFormat) {
    case TimeFormat::Samples: return v;
    case TimeFormat::Bytes: return blockAlign > 0 ? v / blockAlign : 0;
    default: return v * rate / 1000;
  }
}

std::string DeviceTypeOf(const std::string& element) {
  std::string e = Lower(element);
  auto ends = [&](const char* ext) {
    size_t n = std::strlen(ext);
    return e.size() >= n && e.compare(e.size() - n, n, ext) == 0;
  };
  if (ends(".wav")) return "waveaudio";
  if (ends(".mid") || ends(".rmi") || ends(".midi") || ends(".kar")) return "sequencer";
  return "";
}

// Removes the flags every command accepts; true when "wait" was among them.
bool StripFlags(std::vector<std::string>& args) {
  bool wait = false;
  std::vector<std::string> kept;
  for (auto& a : args) {
    std::string l = Lower(a);
    if (l == "wait") wait = true;
    else if (l != "notify" && l != "test") kept.push_back(a);
  }
  args.swap(kept);
  return wait;
}

MCIERROR CmdOpen(Session& s, std::vector<std::string> args, std::string& reply, std::string& aliasOut) {
  StripFlags(args);
  if (args.empty()) return MCIERR_MISSING_DEVICE_NAME;
  std::string element = args[0];
  std::string type, alias;
  for (size_t i = 1; i < args.size(); ++i) {
    std::string k = Lower(args[i]);
    if ((k == "type" || k == "alias") && i + 1 >= args.size()) return MCIERR_MISSING_STRING_ARGUMENT;
    if (k == "type") type = Lower(args[++i]);
    else if (k == "alias") alias = args[++i];
    else if (k == "shareable") continue;
    else if (k == "buffer" && i + 1 < args.size()) ++i;
    else return MCIERR_UNRECOGNIZED_KEYWORD;
  }
  // "sequencer!song.mid" names the type in front of the file.
  if (size_t bang = element.find('!'); type.empty() && bang != std::string::npos && bang > 0) {
    std::string t = Lower(element.substr(0, bang));
    if (t == "waveaudio" || t == "sequencer") {
      type = t;
      element = element.substr(bang + 1);
    }
  }
  std::string lowerElement = Lower(element);
  bool isNew = lowerElement == "new";
  bool bareDevice = lowerElement == "waveaudio" || lowerElement == "sequencer";
  if (bareDevice) {
    type = lowerElement;
  } else if (type.empty()) {
    if (isNew) return MCIERR_DEVICE_TYPE_REQUIRED;
    type = DeviceTypeOf(element);
    if (type.empty()) return MCIERR_EXTENSION_NOT_FOUND;
  }
  if (type != "waveaudio" && type != "sequencer") return MCIERR_INVALID_DEVICE_NAME;
  if (isNew && alias.empty()) return MCIERR_NEW_REQUIRES_ALIAS;
  if (alias.empty()) alias = element;
  if (Lower(alias) == "all") return MCIERR_CANNOT_USE_ALL;
  if (Find(s, alias)) return MCIERR_DUPLICATE_ALIAS;
  aliasOut = alias;
  s.failures.erase(Lower(alias));  // a new life of this device

  auto d = std::make_shared<Device>();
  d->alias = alias;
  d->element = (isNew || bareDevice) ? "" : element;
  d->wave = type == "waveaudio";
  MCIERROR err = 0;
  if (d->wave) {
    d->recorder = std::make_unique<WaveRecorder>(s.bus);
    err = d->recorder->Open(d->element);
  } else {
    d->sequencer = std::make_unique<Sequencer>(s.bus);
    if (!d->element.empty()) err = d->sequencer->Open(d->element);
  }
  if (err) return err;
  d->id = s.nextId++;
  s.devices[Lower(alias)] = d;
  reply = std::to_string(d->id);
  return 0;
}

MCIERROR CmdStatus(Device& d, std::vector<std::string> args, std::string& reply) {
  StripFlags(args);
  if (args.empty()) return MCIERR_MISSING_PARAMETER;
  std::string item = Lower(args[0]);
  for (size_t i = 1; i < args.size(); ++i) item += " " + Lower(args[i]);
  // "length track 1" and "position track 1" answer like the whole file.
  if (item.rfind("length", 0) == 0) item = "length";
  if (item.rfind("position", 0) == 0 && item != "position") item = "position";
  if (d.wave) {
    auto& r = *d.recorder;
    const auto& f = r.Format();
    if (item == "mode") {
      auto s = r.GetState();
      reply = s == WaveRecorder::State::Recording ? "recording" : s == WaveRecorder::State::Paused ? "paused" : "stopped";
    } else if (item == "length") {
      reply = std::to_string(ToUnits(d, r.LengthFrames(), f.rate, f.blockAlign));
    } else if (item == "position") {
      reply = std::to_string(ToUnits(d, r.PositionFrames(), f.rate, f.blockAlign));
    } else if (item == "ready" || item == "media present") {
      reply = "true";
    } else if (item == "samplespersec") {
      reply = std::to_string(f.rate);
    } else if (item == "bitspersample") {
      reply = std::to_string(f.bits);
    } else if (item == "channels") {
      reply = std::to_string(f.channels);
    } else if (item == "bytespersec") {
      reply = std::to_string(f.bytesPerSecond);
    } else if (item == "alignment") {
      reply = std::to_string(f.blockAlign);
    } else if (item == "format tag") {
      reply = f.formatTag == 1 ? "pcm" : std::to_string(f.formatTag);
    } else if (item == "level") {
      reply = "0";
    } else if (item == "fast") {
      reply = r.FastTake() ? "true" : "false";
    } else if (item == "time format") {
      reply = d.timeFormat == TimeFormat::Samples ? "samples" : d.timeFormat == TimeFormat::Bytes ? "bytes" : "milliseconds";
    } else if (item == "number of tracks") {
      reply = "1";
    } else if (item == "current track") {
      reply = "1";
    } else {
      return MCIERR_UNRECOGNIZED_KEYWORD;
    }
    return 0;
  }
  auto& s = *d.sequencer;
  if (item == "mode") reply = s.Mode();
  else if (item == "length") reply = std::to_string(s.LengthMs());
  else if (item == "position") reply = std::to_string(s.PositionMs());
  else if (item == "ready") reply = s.Ready() ? "true" : "false";
  else if (item == "media present") reply = s.Ready() ? "true" : "false";
  else if (item == "time format") reply = "milliseconds";
  else if (item == "number of tracks" || item == "current track") reply = "1";
  else if (item == "port") reply = s.Port() < 0 ? "mapper" : std::to_string(s.Port());
  else return MCIERR_UNRECOGNIZED_KEYWORD;
  return 0;
}

MCIERROR CmdSet(Device& d, std::vector<std::string> args) {
  StripFlags(args);
  if (args.empty()) return MCIERR_MISSING_PARAMETER;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string k = Lower(args[i]);
    auto value = [&](std::string& v) -> bool {
      if (i + 1 >= args.size()) return false;
      v = Lower(args[++i]);
      return true;
    };
    std::string v;
    if (k == "time") {
      if (i + 1 >= args.size() || Lower(args[i + 1]) != "format") return MCIERR_UNRECOGNIZED_KEYWORD;
      ++i;
      if (!value(v)) return MCIERR_MISSING_PARAMETER;
      if (v == "milliseconds" || v == "ms") d.timeFormat = TimeFormat::Milliseconds;
      else if (d.wave && v == "samples") d.timeFormat = TimeFormat::Samples;
      else if (d.wave && v == "bytes") d.timeFormat = TimeFormat::Bytes;
      else return MCIERR_BAD_TIME_FORMAT;
    } else if (k == "port" && !d.wave) {
      if (!value(v)) return MCIERR_MISSING_PARAMETER;
      int64_t n;
      if (v == "mapper") n = -1;
      else if (!ParseInt(v, n)) return MCIERR_BAD_INTEGER;
      if (MCIERROR e = d.sequencer->SetPort(n)) return e;
    } else if (d.wave && (k == "samplespersec" || k == "bitspersample" || k == "channels" || k == "bytespersec" ||
                          k == "alignment")) {
      int64_t n;
      if (!value(v)) return MCIERR_MISSING_PARAMETER;
      if (!ParseInt(v, n) || n <= 0) return MCIERR_BAD_INTEGER;
      MCIERROR e = 0;
      if (k == "samplespersec") e = d.recorder->SetFormat(int(n), 0, 0);
      else if (k == "bitspersample") e = d.recorder->SetFormat(0, int(n), 0);
      else if (k == "channels") e = d.recorder->SetFormat(0, 0, int(n));
      if (e) return e;
    } else if (d.wave && k == "delay") {
      int64_t n;
      if (!value(v)) return MCIERR_MISSING_PARAMETER;
      if (!ParseInt(v, n) || n < 0 || n > 3600000) return MCIERR_BAD_INTEGER;
      d.recorder->SetDelayMs(n);
    } else if (d.wave && k == "format") {
      if (i + 2 >= args.size() || Lower(args[i + 1]) != "tag") return MCIERR_UNRECOGNIZED_KEYWORD;
      i += 2;
      if (Lower(args[i]) != "pcm" && args[i] != "1") return MCIERR_OUTOFRANGE;
    } else if (k == "audio") {
      // "audio all on|off", "audio left off": accepted, the mix is not muted per channel
      while (i + 1 < args.size()) ++i;
    } else {
      return MCIERR_UNRECOGNIZED_KEYWORD;
    }
  }
  return 0;
}

// Reads "from n" / "to n" / "to start|end" options into frames or ms.
MCIERROR ParseFromTo(std::vector<std::string>& args, int64_t& from, bool& haveFrom, int64_t& to, bool& haveTo) {
  haveFrom = haveTo = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string k = Lower(args[i]);
    if (k != "from" && k != "to") return MCIERR_UNRECOGNIZED_KEYWORD;
    if (i + 1 >= args.size()) return MCIERR_MISSING_PARAMETER;
    std::string v = Lower(args[++i]);
    int64_t n;
    if (v == "start") n = 0;
    else if (v == "end") n = INT64_MAX;
    else if (!ParseInt(v, n) || n < 0) return MCIERR_BAD_INTEGER;
    if (k == "from") {
      from = n;
      haveFrom = true;
    } else {
      to = n;
      haveTo = true;
    }
  }
  return 0;
}

MCIERROR Dispatch(Session& s, const std::string& cmd, std::shared_ptr<Device> d, std::vector<std::string> args,
                  std::string& reply, std::unique_lock<std::mutex>& lock) {
  bool wait = StripFlags(args);
  if (cmd == "status") return CmdStatus(*d, args, reply);
  if (cmd == "set") return CmdSet(*d, args);
  if (cmd == "info") {
    std::string k = args.empty() ? "" : Lower(args[0]);
    if (k == "file") reply = d->wave ? d->recorder->Path() : d->element;
    else if (k == "product") reply = d->wave ? "Korvessa WAVE recorder" : "Korvessa sequencer";
    else return args.empty() ? MCIERR_MISSING_PARAMETER : MCIERR_UNRECOGNIZED_KEYWORD;
    return 0;
  }
  if (cmd == "play") {
    int64_t from = -1, to = 0;
    bool hf, ht;
    if (MCIERROR e = ParseFromTo(args, from, hf, to, ht)) return e;
    if (d->wave) return MCIERR_UNSUPPORTED_FUNCTION;  // the recorder does not play back
    MCIERROR e = d->sequencer->Play(hf ? from : -1);
    if (e || !wait) return e;
    // "play ... wait": return when the song has finished or was stopped from elsewhere.
    lock.unlock();
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::lock_guard<std::mutex> relock(s.mu);
      if (!Find(s, d->alias) || !d->sequencer->Playing()) break;
    }
    lock.lock();
    return 0;
  }
  if (cmd == "record") {
    if (!d->wave) return MCIERR_UNSUPPORTED_FUNCTION;
    bool overwrite = false;
    std::vector<std::string> rest;
    for (auto& a : args) {
      std::string l = Lower(a);
      if (l == "overwrite") overwrite = true;
      else if (l != "insert") rest.push_back(a);
    }
    int64_t from = 0, to = 0;
    bool hf, ht;
    if (MCIERROR e = ParseFromTo(rest, from, hf, to, ht)) return e;
    if (hf && from == 0) overwrite = true;
    return d->recorder->Record(overwrite);
  }
  if (!args.empty() && cmd != "seek" && cmd != "save") return MCIERR_UNRECOGNIZED_KEYWORD;
  if (cmd == "stop") return d->wave ? d->recorder->Stop() : d->sequencer->Stop();
  if (cmd == "pause") return d->wave ? d->recorder->Pause() : d->sequencer->Pause();
  if (cmd == "resume") return d->wave ? d->recorder->Resume() : d->sequencer->Resume();
  if (cmd == "seek") {
    if (args.size() != 2 || Lower(args[0]) != "to") return args.empty() ? MCIERR_MISSING_PARAMETER : MCIERR_UNRECOGNIZED_KEYWORD;
    std::string v = Lower(args[1]);
    int64_t n;
    if (v == "start") n = 0;
    else if (v == "end") n = INT64_MAX / 2;
    else if (!ParseInt(v, n) || n < 0) return MCIERR_BAD_INTEGER;
    if (d->wave) {
      const auto& f = d->recorder->Format();
      return d->recorder->SeekFrames(v == "end" ? d->recorder->LengthFrames() : FromUnits(*d, n, f.rate, f.blockAlign));
    }
    return d->sequencer->Seek(n);
  }
  if (cmd == "save") {
    if (!d->wave) return MCIERR_UNSUPPORTED_FUNCTION;
    if (args.size() > 1) return MCIERR_EXTRA_CHARACTERS;
    return d->recorder->Save(args.empty() ? std::string() : args[0]);
  }
  return MCIERR_UNRECOGNIZED_COMMAND;
}

// Commands other than "open", for the device `name`.
MCIERROR ExecuteOn(Session& s, const std::string& cmd, const std::string& name, std::vector<std::string> args,
                   std::string& reply, std::unique_lock<std::mutex>& lock) {
  if (cmd == "close") {
    StripFlags(args);
    if (!args.empty()) return MCIERR_EXTRA_CHARACTERS;
    if (Lower(name) == "all") {
      CloseAll(s);
      return 0;
    }
    auto d = Find(s, name);
    if (!d) return MCIERR_INVALID_DEVICE_NAME;
    CloseDevice(*d);
    s.devices.erase(Lower(name));
    return 0;
  }
  if (Lower(name) == "all") return MCIERR_CANNOT_USE_ALL;
  auto d = Find(s, name);
  if (!d) return MCIERR_INVALID_DEVICE_NAME;
  return Dispatch(s, cmd, d, args, reply, lock);
}

const char* const kCommands[] = {"open", "close", "status", "set", "play", "record", "stop", "pause",
                                 "resume", "seek", "save", "info"};

MCIERROR Execute(Session& s, const char* line, std::string& reply) {
  std::vector<std::string> toks;
  if (MCIERROR e = Tokenize(line, toks)) return e;
  if (toks.empty()) return MCIERR_MISSING_COMMAND_STRING;
  std::string cmd = Lower(toks[0]);
  if (std::find(std::begin(kCommands), std::end(kCommands), cmd) == std::end(kCommands))
    return MCIERR_UNRECOGNIZED_COMMAND;
  std::unique_lock<std::mutex> lock(s.mu);
  std::vector<std::string> args(toks.begin() + 1, toks.end());
  std::string name;  // the device the command is for
  TakeFailure();
  MCIERROR err;
  if (cmd == "open") {
    err = CmdOpen(s, args, reply, name);
  } else {
    if (args.empty()) return MCIERR_MISSING_DEVICE_NAME;
    name = args[0];
    args.erase(args.begin());
    err = ExecuteOn(s, cmd, name, args, reply, lock);
  }
  if (std::string why = TakeFailure(); !why.empty() && !name.empty()) s.failures[Lower(name)] = why;
  return err;
}

struct ErrorText {
  MCIERROR code;
  const char* text;
};
const ErrorText kErrorTexts[] = {
    {0, "The specified command was carried out."},
    {MCIERR_INVALID_DEVICE_ID, "Invalid MCI device ID. Use the ID returned when opening the MCI device."},
    {MCIERR_UNRECOGNIZED_KEYWORD, "The driver cannot recognize the specified command parameter."},
    {MCIERR_UNRECOGNIZED_COMMAND, "The driver cannot recognize the specified command."},
    {MCIERR_HARDWARE, "There is a problem with your media device."},
    {MCIERR_INVALID_DEVICE_NAME, "The specified device is not open or is not recognized by MCI."},
    {MCIERR_OUT_OF_MEMORY, "Not enough memory available for this task."},
    {MCIERR_DEVICE_OPEN, "The device name is already being used as an alias by this application."},
    {MCIERR_CANNOT_LOAD_DRIVER, "The specified device driver could not be loaded."},
    {MCIERR_MISSING_COMMAND_STRING, "No command was specified."},
    {MCIERR_PARAM_OVERFLOW, "The output string was too large to fit in the return buffer."},
    {MCIERR_MISSING_STRING_ARGUMENT, "The specified command requires a character-string parameter."},
    {MCIERR_BAD_INTEGER, "The specified integer is invalid for this command."},
    {MCIERR_MISSING_PARAMETER, "The specified command requires a parameter."},
    {MCIERR_UNSUPPORTED_FUNCTION, "The MCI device you are using does not support the specified command."},
    {MCIERR_FILE_NOT_FOUND, "Cannot find the specified file. Make sure the path and filename are correct."},
    {MCIERR_DEVICE_NOT_READY, "The device driver is not ready."},
    {MCIERR_INTERNAL, "A problem occurred in initializing MCI."},
    {MCIERR_DRIVER, "There is a problem with the device driver."},
    {MCIERR_CANNOT_USE_ALL, "Cannot use 'all' as the device name with the specified command."},
    {MCIERR_EXTENSION_NOT_FOUND, "Cannot determine the device type from the given filename extension."},
    {MCIERR_OUTOFRANGE, "The specified parameter is out of range for the specified command."},
    {MCIERR_FILE_NOT_SAVED, "The file was not saved."},
    {MCIERR_DEVICE_TYPE_REQUIRED, "The specified device type is required."},
    {MCIERR_DUPLICATE_ALIAS, "The specified alias is already being used in this application."},
    {MCIERR_BAD_TIME_FORMAT, "The specified format is invalid for this command."},
    {MCIERR_NO_CLOSING_QUOTE, "A closing double-quotation mark is missing from the parameter value."},
    {MCIERR_INVALID_FILE, "The specified file cannot be played on the specified MCI device."},
    {MCIERR_NEW_REQUIRES_ALIAS, "An alias must be used with the 'new' device name."},
    {MCIERR_NONAPPLICABLE_FUNCTION, "The specified MCI command sequence cannot be performed in the given order."},
    {MCIERR_FILENAME_REQUIRED, "A file name is required for this command."},
    {MCIERR_EXTRA_CHARACTERS, "Cannot specify extra characters after a string enclosed in quotation marks."},
    {MCIERR_WAVE_INPUTSUNSUITABLE, "No wave device that can record files in the current format is installed."},
    {MCIERR_SEQ_PORT_NONEXISTENT, "The specified MIDI device is not installed on the system."},
    {MCIERR_SEQ_PORT_MISCERROR, "An error occurred with the specified port."},
    {MCIERR_SEQ_NOMIDIPRESENT, "No MIDI output device is available: the built-in synthesizer could not start."},
    {MCIERR_FILE_READ, "A problem occurred in reading the specified file."},
    {MCIERR_FILE_WRITE, "A problem occurred in writing to the specified file."},
};

}  // namespace
}  // namespace kv::media

KvMediaSession::~KvMediaSession() {
  std::lock_guard<std::mutex> lock(mu);
  kv::media::CloseAll(*this);
}

KV_API HKVMEDIA kvMediaSessionOpen(void) { return new (std::nothrow) KvMediaSession; }

KV_API void kvMediaSessionClose(HKVMEDIA session) {
  if (session != &kv::media::DefaultSession()) delete session;
}

KV_API MCIERROR kvMediaSendString(HKVMEDIA session, LPCSTR lpstrCommand, LPSTR lpstrReturnString, UINT uReturnLength) {
  if (lpstrReturnString && uReturnLength > 0) lpstrReturnString[0] = '\0';
  if (!lpstrCommand) return MCIERR_MISSING_COMMAND_STRING;
  std::string reply;
  MCIERROR err;
  try {
    err = kv::media::Execute(session ? *session : kv::media::DefaultSession(), lpstrCommand, reply);
  } catch (const std::bad_alloc&) {
    err = MCIERR_OUT_OF_MEMORY;
  } catch (...) {
    err = MCIERR_INTERNAL;
  }
  if (err == 0 && lpstrReturnString && uReturnLength > 0) {
    size_t n = std::min<size_t>(reply.size(), uReturnLength - 1);
    std::memcpy(lpstrReturnString, reply.data(), n);
    lpstrReturnString[n] = '\0';
  }
  return err;
}

KV_API MCIERROR WINAPI mciSendStringA(LPCSTR lpstrCommand, LPSTR lpstrReturnString, UINT uReturnLength,
                                      HWND /*hwndCallback*/) {
  return kvMediaSendString(nullptr, lpstrCommand, lpstrReturnString, uReturnLength);
}

KV_API const char* kvMediaSessionDeviceError(HKVMEDIA session, LPCSTR alias) {
  thread_local std::string text;  // keeps the returned pointer valid for the caller
  KvMediaSession& s = session ? *session : kv::media::DefaultSession();
  std::lock_guard<std::mutex> lock(s.mu);
  auto it = alias ? s.failures.find(kv::media::Lower(alias)) : s.failures.end();
  text = it == s.failures.end() ? std::string() : it->second;
  return text.c_str();
}

KV_API const char* kvMediaDeviceError(LPCSTR alias) { return kvMediaSessionDeviceError(nullptr, alias); }

KV_API BOOL kvMediaSetRecordTap(HKVMEDIA session, LPCSTR alias, KvRecordTap tap, void* context) {
  KvMediaSession& s = session ? *session : kv::media::DefaultSession();
  std::lock_guard<std::mutex> lock(s.mu);
  const auto d = alias ? kv::media::Find(s, alias) : nullptr;
  return d && d->recorder && d->recorder->SetTap(tap, context) ? TRUE : FALSE;
}

KV_API BOOL WINAPI mciGetErrorStringA(MCIERROR mcierr, LPSTR pszText, UINT cchText) {
  if (!pszText || cchText == 0) return FALSE;
  for (const auto& e : kv::media::kErrorTexts) {
    if (e.code == mcierr) {
      size_t n = std::min<size_t>(std::strlen(e.text), cchText - 1);
      std::memcpy(pszText, e.text, n);
      pszText[n] = '\0';
      return TRUE;
    }
  }
  pszText[0] = '\0';
  return FALSE;
}
