// A real desktop for tests: Xvfb on a free display with the openbox window manager, and the X
// tools that drive and measure windows on it (xdotool, wmctrl, xwininfo, xprop). Everything
// started here ends with the object.
#pragma once
#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Process.h"

namespace kvtest {

// A window's outer frame on the screen, in pixels.
struct Frame {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Frame&) const = default;
  std::string text() const {
    return std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(width) + "x" + std::to_string(height);
  }
};

class Desktop {
 public:
  Desktop() {
    int fds[2];
    if (pipe(fds) != 0) return;
    xvfb_ = std::make_unique<Background>(
        std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
        std::vector<std::string>{}, "/dev/null", fds[1]);
    close(fds[1]);
    // Xvfb compiles its keymap before it answers: on a loaded machine that takes seconds. A
    // signal to this process interrupts the wait, which then goes on.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (char c; std::chrono::steady_clock::now() < end;) {
      const int ready = poll(&p, 1, 1000);
      if (ready < 0 && errno != EINTR) break;
      if (ready <= 0) continue;
      const ssize_t n = read(fds[0], &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n != 1 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (number.empty()) return;
    display_ = ":" + number;
    wm_ = std::make_unique<Background>(std::vector<std::string>{"openbox", "--sm-disable"}, env());
    for (int i = 0; i < 500; ++i) {  // ready once it announces itself as the window manager
      if (x({"wmctrl", "-m"}).exitCode == 0) {
        ok_ = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~Desktop() { wm_.reset(), xvfb_.reset(); }
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  bool ok() const { return ok_; }
  const std::string& display() const { return display_; }
  std::vector<std::string> env() const { return {"DISPLAY=" + display_}; }

  // An X tool run against this display.
  RunResult x(const std::vector<std::string>& argv) const {
    std::vector<std::string> path{"/usr/bin/" + argv[0]};
    path.insert(path.end(), argv.begin() + 1, argv.end());
    RunOptions o;
    o.timeoutMs = 20000;
    return run(path, env(), o);
  }

  // The first visible window whose title matches the pattern, waiting up to timeoutMs; "" if none.
  std::string waitWindow(const std::string& titlePattern, int timeoutMs = 20000) const {
    for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
      const RunResult r = x({"xdotool", "search", "--onlyvisible", "--name", titlePattern});
      if (r.exitCode == 0 && !r.out.empty()) return r.out.substr(0, r.out.find('\n'));
    }
    return {};
  }

  // The frame the window manager put around the window: its client area plus _NET_FRAME_EXTENTS.
  Frame frameOf(const std::string& window) const {
    const RunResult info = x({"xwininfo", "-id", window});
    auto field = [&info](const std::string& name) {
      const size_t at = info.out.find(name);
      return at == std::string::npos ? -1 : std::atoi(info.out.c_str() + at + name.size());
    };
    int l = 0, r = 0, t = 0, b = 0;
    const RunResult ext = x({"xprop", "-id", window, "_NET_FRAME_EXTENTS"});
    const size_t eq = ext.out.find('=');
    if (eq != std::string::npos) std::sscanf(ext.out.c_str() + eq + 1, "%d, %d, %d, %d", &l, &r, &t, &b);
    return {field("Absolute upper-left X:") - l, field("Absolute upper-left Y:") - t, field("Width:") + l + r,
            field("Height:") + t + b};
  }

 private:
  std::unique_ptr<Background> xvfb_, wm_;
  std::string display_;
  bool ok_ = false;
};

}  // namespace kvtest
