// Running programs for tests: a process with extra environment and captured output, one in the
// background, and ffprobe/ffmpeg views of audio files.
#pragma once
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace kvtest {

#ifdef KV_BIN_DIR
// The unprivileged user may not reach the build folder (a checkout in root's 0700 home): programs
// run as that user start from a copy of bin/ and the shared libraries of lib/ that anyone can read,
// made once per test process and removed at its end; the copied libraries are found through
// LD_LIBRARY_PATH, which the loader reads before the build's own run path.
inline std::string reachableProgram(const std::string& path, std::vector<std::string>& env) {
  namespace fs = std::filesystem;
  static const std::string bin = KV_BIN_DIR;
  if (path.rfind(bin + "/", 0) != 0) return path;
  struct Copy {
    fs::path root;
    Copy() {
      char tmpl[] = "/tmp/kv-bin-XXXXXX";
      if (!mkdtemp(tmpl)) return;
      root = tmpl;
      fs::permissions(root, fs::perms(0755));
      fs::copy(bin, root / "bin", fs::copy_options::recursive);
      fs::create_directory(root / "lib");
      for (const auto& e : fs::directory_iterator(fs::path(bin).parent_path() / "lib"))
        if (e.path().extension() == ".so") fs::copy(e.path(), root / "lib" / e.path().filename());
    }
    ~Copy() {
      std::error_code ec;
      if (!root.empty()) fs::remove_all(root, ec);
    }
  };
  static const Copy copy;
  if (copy.root.empty()) return path;
  env.push_back("LD_LIBRARY_PATH=" + (copy.root / "lib").string());
  return (copy.root / "bin").string() + path.substr(bin.size());
}
#endif

struct RunResult {
  int exitCode = -1;  // 128 + signal number when a signal ended it
  std::string out, err;
  bool timedOut = false;  // killed after the time limit
  double seconds = 0;     // wall-clock time it ran
};

struct RunOptions {
  int timeoutMs = -1;       // kill (SIGKILL) the process when it runs longer
  bool asNobody = false;    // run as user and group 65534 (when started as root)
};

// In a forked child: adds the env entries "NAME=value" (a bare "NAME" removes it) and becomes argv[0] with exactly these
// arguments (no shell; a name without "/" is looked up in PATH); exit code 127 when it cannot.
[[noreturn]] inline void execWith(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  for (const auto& kv : env) putenv(const_cast<char*>(kv.c_str()));
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

// A program running in the background until it ends or the object goes (SIGTERM, then SIGKILL
// after 3 s): its output in `output`, its errors in `errors` (empty: with the output). keepFd
// stays open in it (Xvfb's -displayfd); asNobody: run as user and group 65534 when started as root.
class Background {
 public:
  Background(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& output = "/dev/null", int keepFd = -1, const std::string& errors = "",
             bool asNobody = false) {
    std::vector<std::string> program = argv, environment = env;
#ifdef KV_BIN_DIR
    if (asNobody && geteuid() == 0 && !program.empty()) program[0] = reachableProgram(program[0], environment);
#endif
    pid_ = fork();
    if (pid_ != 0) return;
    const int in = open("/dev/null", O_RDONLY), out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
              err = errors.empty() ? out : open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0), dup2(out, 1), dup2(err, 2);
    for (int fd = 3; fd < 1024; ++fd)
      if (fd != keepFd) close(fd);
    if (asNobody && geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
      _exit(126);
    execWith(program, environment);
  }
  // `body` run in a forked child that ends after it.
  explicit Background(const std::function<void()>& body) {
    pid_ = fork();
    if (pid_ == 0) body(), _exit(0);
  }
  ~Background() { stop(); }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  // The exit code once it has ended (128 + signal), -1 when it still runs after timeoutMs (< 0: no limit).
  int wait(int timeoutMs) {
    for (int waited = 0; pid_ > 0; waited += 5) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (timeoutMs >= 0 && waited > timeoutMs) return -1;
      usleep(5000);
    }
    return -1;
  }
  pid_t pid() const { return pid_; }
  void signal(int sig) const {
    if (pid_ > 0) kill(pid_, sig);
  }
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (wait(3000) == -1 && pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
};

// Runs argv[0] with exactly these arguments (no shell), env entries "NAME=value" added; killed
// (SIGKILL) when it runs longer than opt.timeoutMs.
inline RunResult run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const RunOptions& opt) {
  RunResult r;
  char dir[] = "/tmp/kv-run-XXXXXX";
  if (!mkdtemp(dir)) return r;
  const std::string out = std::string(dir) + "/out", err = std::string(dir) + "/err";
  const auto t0 = std::chrono::steady_clock::now();
  {
    Background p(argv, env, out, -1, err, opt.asNobody);
    r.exitCode = p.wait(opt.timeoutMs);
    if (r.exitCode == -1) {
      r.timedOut = true;
      p.signal(SIGKILL);
      r.exitCode = p.wait(-1);
    }
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  for (auto [file, text] : {std::pair{&out, &r.out}, {&err, &r.err}}) {
    std::ifstream in(*file, std::ios::binary);
    text->assign(std::istreambuf_iterator<char>(in), {});
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return r;
}
inline RunResult run(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
  return run(argv, env, RunOptions{});
}

inline std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// ffprobe's codec_name, bit_rate, sample_rate, channels (first stream), duration and title (of the
// file or of its stream, as "title" whatever its letter case).
inline std::map<std::string, std::string> probe(const std::string& path) {
  std::map<std::string, std::string> m;
  const auto r = run({"/usr/bin/ffprobe", "-v", "error", "-show_entries",
                      "stream=codec_name,bit_rate,sample_rate,channels:format=duration:format_tags=title:stream_tags=title", "-of",
                      "default=nw=1", path});
  size_t at = 0;
  for (size_t end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = r.out.substr(at, end - at);
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    if (key.rfind("TAG:", 0) == 0) key = "title";
    m.emplace(key, line.substr(eq + 1));
  }
  return m;
}

// The loudest sample of a file in dB (0 full scale; -91 or less is digital silence); -200 when it
// cannot be decoded.
inline double maxVolumeDb(const std::string& path) {
  const auto r = run({"/usr/bin/ffmpeg", "-v", "info", "-nostats", "-i", path, "-af", "volumedetect", "-f", "null", "-"});
  const size_t at = r.err.find("max_volume: ");
  return r.exitCode == 0 && at != std::string::npos ? std::atof(r.err.c_str() + at + 12) : -200;
}

// Integrated loudness (LUFS) and true peak (dBTP) as FFmpeg's ebur128 filter measures them.
struct Loudness {
  double lufs = 0, truePeak = 0;
};
inline Loudness ebur128(const std::string& path) {
  const auto r = run({"/usr/bin/ffmpeg", "-nostats", "-i", path, "-af", "ebur128=peak=true", "-f", "null", "-"});
  const size_t summary = r.err.find("Summary:");
  const size_t i = r.err.find("I:", summary), peak = r.err.find("Peak:", summary);
  if (summary == std::string::npos || i == std::string::npos || peak == std::string::npos) return {999, 999};
  return {std::atof(r.err.c_str() + i + 2), std::atof(r.err.c_str() + peak + 5)};
}

// Mono 16-bit frames a file decodes to (ffmpeg honours an MP3's encoder delay and padding); -1 on failure.
inline int64_t decodedFrames(const std::string& path) {
  const auto r = run({"/usr/bin/ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-ac", "1", "-"});
  return r.exitCode == 0 ? int64_t(r.out.size() / 2) : -1;
}

// How far an MP3's container duration may exceed its WAVE's: LAME's 576-sample delay and
// 288-sample end padding, rounded up to whole frames (60 ms at the least).
inline double mp3DurationTolerance(int rate) {
  return std::max(0.06, (576.0 + 288.0 + (rate >= 32000 ? 1152 : 576)) / rate);
}

}  // namespace kvtest
