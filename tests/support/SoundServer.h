// A private PulseAudio sound server for tests, as on a desktop: a null sink is the speakers
// (its monitor hears what was played), a sine source is the line input, and ALSA's "default"
// device reaches it through the ALSA pulse plugin. The test starts and stops it; its socket,
// cookie and log live in a temporary folder that goes with it. Start it before this process
// first touches ALSA: ALSA decides what "default" is when it first reads its configuration.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Process.h"
#include "ScratchFolder.h"

namespace kvtest {

// A program running in the background with its standard output in a file; stopped by SIGTERM.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    const std::string& outputFile) {
    pid_ = fork();
    if (pid_ == 0) {
      const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (out < 0) _exit(126);
      dup2(out, 1);
      dup2(out, 2);
      close(out);
      execWith(argv, env);
    }
  }
  ~BackgroundProcess() { stop(); }
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

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
    server_ = std::make_unique<BackgroundProcess>(
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
      listener_ = std::make_unique<BackgroundProcess>(
          std::vector<std::string>{"/usr/bin/parec", "--raw", "--device=speakers.monitor", "--latency-msec=20"}, env_,
          "/dev/null");
      std::this_thread::sleep_for(std::chrono::milliseconds(2100));  // the sink's next wake-up
    }
    for (const std::string& kv : env_) {  // this process's own ALSA clients reach it too
      const size_t eq = kv.find('=');
      saved_.push_back(getenv(kv.substr(0, eq).c_str()) ? getenv(kv.substr(0, eq).c_str()) : "\x01");
      setenv(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), 1);
    }
  }
  ~SoundServer() {
    listener_.reset();
    server_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    for (size_t i = 0; i < env_.size(); ++i) {
      const std::string name = env_[i].substr(0, env_[i].find('='));
      saved_[i] == "\x01" ? unsetenv(name.c_str()) : setenv(name.c_str(), saved_[i].c_str(), 1);
    }
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
      parec_ = std::make_unique<BackgroundProcess>(
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
    std::unique_ptr<BackgroundProcess> parec_;
  };

 private:
  std::string dir_;
  std::unique_ptr<BackgroundProcess> server_, listener_;
  std::vector<std::string> env_, saved_;
  bool ok_ = false;
};

}  // namespace kvtest
