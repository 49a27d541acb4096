// A private PulseAudio sound server for tests, as on a desktop: a null sink is the speakers
// (its monitor hears what was played), a sine source is the line input, and ALSA's "default"
// device reaches it through the ALSA pulse plugin. The test starts and stops it; its socket,
// cookie and log live in a temporary folder that goes with it. Start it before this process
// first touches ALSA: ALSA decides what "default" is when it first reads its configuration.
#pragma once
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Environment.h"
#include "Process.h"
#include "ScratchFolder.h"

namespace kvtest {

class SoundServer {
 public:
  static constexpr int kRate = 44100;
  static constexpr int kSineHz = 440;

  SoundServer() {
    // No space in this folder's name: the server address is a space-separated list.
    const char* base = std::getenv("TMPDIR");
    dir_ = std::string(base && *base ? base : "/tmp") + "/kv-sound-XXXXXX";
    if (!mkdtemp(dir_.data())) return;
    const std::string script = dir_ + "/server.pa", socket = dir_ + "/native";
    writeText(script, "load-module module-null-sink sink_name=speakers rate=" + std::to_string(kRate) +
                          " channels=2\n"
                          "load-module module-sine-source source_name=linein rate=" + std::to_string(kRate) +
                          " frequency=" + std::to_string(kSineHz) + "\n"
                          "load-module module-native-protocol-unix auth-anonymous=1 socket=" + socket + "\n"
                          "set-default-sink speakers\nset-default-source linein\n");
    // Clients find the server, its cookie and a runtime folder here, and leave nothing in HOME.
    env_ = {"PULSE_SERVER=unix:" + socket, "PULSE_COOKIE=" + dir_ + "/cookie", "XDG_RUNTIME_DIR=" + dir_};
    // -n: no default script; the server stays in the foreground and never exits when idle.
    // As root it only warns; HOME and XDG_RUNTIME_DIR keep it inside its folder.
    server_ = std::make_unique<Background>(
        std::vector<std::string>{"/usr/bin/pulseaudio", "-n", "-F", script, "--daemonize=no", "--exit-idle-time=-1",
                                 "--use-pid-file=no", "--system=false", "--realtime=no", "--high-priority=no",
                                 "--log-target=stderr"},
        std::vector<std::string>{"HOME=" + dir_, "XDG_RUNTIME_DIR=" + dir_,
                                 "XDG_CONFIG_HOME=" + dir_},
        dir_ + "/server.log");
    for (int i = 0; i < 100 && !ok_; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      ok_ = std::filesystem::exists(socket) && run({"/usr/bin/pactl", "info"}, env_).exitCode == 0;
    }
    // A null sink left alone wakes every 2 s, so a new stream could wait that long to be
    // heard; speakers (a sound card, with a level meter watching) answer at once. A listener
    // on the monitor keeps the sink at a sound card's pace.
    if (ok_) {
      listener_ = std::make_unique<Background>(
          std::vector<std::string>{"/usr/bin/parec", "--raw", "--device=speakers.monitor", "--latency-msec=20"}, env_,
          "/dev/null");
      std::this_thread::sleep_for(std::chrono::milliseconds(2100));  // the sink's next wake-up
    }
    for (const std::string& kv : env_)  // this process's own ALSA clients reach it too
      guards_.push_back(std::make_unique<EnvGuard>(kv.substr(0, kv.find('=')), kv.c_str() + kv.find('=') + 1));
  }
  ~SoundServer() {
    listener_.reset();
    server_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  bool ok() const { return ok_; }
  std::string log() const { return readBytes(dir_ + "/server.log"); }
  // "NAME=value" entries that lead a program started by the test to this server.
  const std::vector<std::string>& env() const { return env_; }
  const std::string& folder() const { return dir_; }
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  // Records what reaches the speakers (the sink's monitor) as raw 16-bit mono at kRate from
  // its construction until stop(); samples() reads it.
  class MonitorRecording {
   public:
    explicit MonitorRecording(const SoundServer& s) : file_(s.folder() + "/monitor.raw") {
      parec_ = std::make_unique<Background>(
          std::vector<std::string>{"/usr/bin/parec", "--raw", "--device=speakers.monitor", "--format=s16le",
                                   "--channels=1", "--rate=" + std::to_string(kRate), "--latency-msec=20"},
          s.env(), file_);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // connected and streaming
    }
    void stop() { parec_.reset(); }
    std::vector<float> samples() const {
      const std::string bytes = readBytes(file_);
      std::vector<float> out(bytes.size() / 2);
      for (size_t i = 0; i < out.size(); ++i)
        out[i] = float(int16_t(uint16_t(uint8_t(bytes[2 * i])) | uint16_t(uint8_t(bytes[2 * i + 1])) << 8)) / 32768.0f;
      return out;
    }

   private:
    std::string file_;
    std::unique_ptr<Background> parec_;
  };

 private:
  std::string dir_;
  std::unique_ptr<Background> server_, listener_;
  std::vector<std::string> env_;
  std::vector<std::unique_ptr<EnvGuard>> guards_;
  bool ok_ = false;
};

}  // namespace kvtest
