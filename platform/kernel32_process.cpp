// Processes: starting children, their exit codes, handles and Sleep.
// Children we start are kept in a registry and reaped with waitpid(WNOHANG) whenever a
// process call runs, so they never linger as zombies for long and their codes survive.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cmdline.h"
#include "kernel32.h"

extern char** environ;

namespace {

struct Child {
  bool exited = false;
  DWORD code = 0;
  int handles = 0;
};

struct ProcessHandle {
  pid_t pid;
  bool child;
};

std::mutex g_mutex;
std::map<pid_t, Child> g_children;
std::deque<pid_t> g_unclaimed;  // ended children nobody holds a handle to, oldest first
std::set<ProcessHandle*> g_handles;
constexpr size_t kMaxUnclaimed = 256;

void ReapLocked() {
  for (auto& [pid, c] : g_children) {
    if (c.exited) continue;
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      c.exited = true;
      c.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    } else if (r < 0 && errno == ECHILD) {
      c.exited = true;  // reaped elsewhere; its code is lost
    } else {
      continue;
    }
    if (c.handles == 0) g_unclaimed.push_back(pid);
  }
  while (g_unclaimed.size() > kMaxUnclaimed) {
    auto it = g_children.find(g_unclaimed.front());
    if (it != g_children.end() && it->second.handles == 0) g_children.erase(it);
    g_unclaimed.pop_front();
  }
}

std::vector<std::string> SplitCommandLine(const char* s) {
  std::vector<std::string> out;
  kv::SplitArguments(s, out);  // an open quote runs to the end of the line, as on Windows
  return out;
}

// The interpreter line of a script without the execute bit ("#!/bin/sh -e" -> {"/bin/sh", "-e"}).
std::vector<std::string> Interpreter(const std::string& path) {
  struct stat st{};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(path.c_str(), X_OK) == 0) return {};
  std::ifstream f(path, std::ios::binary);
  std::string line;
  if (!std::getline(f, line) || line.compare(0, 2, "#!") != 0) return {};
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::vector<std::string> out;
  size_t i = 2;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  size_t e = line.find_first_of(" \t", i);
  out.push_back(line.substr(i, e == std::string::npos ? std::string::npos : e - i));
  if (e != std::string::npos) {
    size_t a = line.find_first_not_of(" \t", e);
    if (a != std::string::npos) {
      std::string arg = line.substr(a);
      while (!arg.empty() && (arg.back() == ' ' || arg.back() == '\t')) arg.pop_back();
      out.push_back(arg);
    }
  }
  return out[0].empty() ? std::vector<std::string>{} : out;
}

DWORD Spawn(std::vector<std::string> args, const char* directory) {
  if (args.empty() || args[0].empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  std::vector<std::string> interp = Interpreter(args[0]);
  if (!interp.empty()) args.insert(args.begin(), interp.begin(), interp.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&fa);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (directory && *directory) posix_spawn_file_actions_addchdir_np(&fa, directory);
  // The child starts with ordinary signal handling whatever the program set up for itself.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGXFSZ}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = 0;
  int err;
  {
    // Registered under the lock so a concurrent reap cannot miss the new child.
    std::lock_guard<std::mutex> lock(g_mutex);
    ReapLocked();
    bool search = args[0].find('/') == std::string::npos;
    err = search ? posix_spawnp(&pid, argv[0], &fa, &attr, argv.data(), environ)
                 : posix_spawn(&pid, argv[0], &fa, &attr, argv.data(), environ);
    if (err == 0) g_children[pid] = Child{};
  }
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  if (err != 0) {
    SetLastError(err == ENOENT || err == ENOTDIR ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
    return 0;
  }
  return static_cast<DWORD>(pid);
}

bool Alive(pid_t pid) {
  if (kill(pid, 0) != 0 && errno != EPERM) return false;
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(f, stat);
  size_t paren = stat.rfind(')');
  return !(paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z');
}

}  // namespace

KV_API DWORD WINAPI kvStartProcess(LPCSTR commandLine) { return kvStartProcessIn(commandLine, nullptr); }

KV_API DWORD WINAPI kvStartProcessIn(LPCSTR commandLine, LPCSTR directory) {
  const std::string folder = directory && *directory ? std::string(directory) + "/" : std::string("./");
  std::vector<std::string> args = SplitCommandLine(commandLine);
  // As when Windows starts a program by name: the program's own folder and the current
  // folder come before PATH.
  if (!args.empty() && !args[0].empty() && args[0].find('/') == std::string::npos) {
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string exeDir = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string();
    exeDir = exeDir.substr(0, exeDir.rfind('/') + 1);
    // A name without an extension also finds name.exe, as CreateProcess appends ".exe".
    std::vector<std::string> names{args[0]};
    if (args[0].find('.') == std::string::npos) names.push_back(args[0] + ".exe");
    bool found = false;
    for (const std::string& dir : {exeDir, folder}) {
      for (const std::string& name : names) {
        struct stat st{};
        std::string candidate = dir + name;
        if (!dir.empty() && stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0) {
          args[0] = candidate;
          found = true;
          break;
        }
      }
      if (found) break;
    }
  }
  return Spawn(std::move(args), directory && *directory ? directory : nullptr);
}

KV_API DWORD WINAPI kvSpawnProgram(LPCSTR program, LPCSTR parameters, LPCSTR directory) {
  if (!program || !*program) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  std::vector<std::string> args{program};
  for (auto& a : SplitCommandLine(parameters)) args.push_back(a);
  return Spawn(std::move(args), directory);
}

KV_API HANDLE WINAPI OpenProcess(DWORD, BOOL, DWORD dwProcessId) {
  pid_t pid = static_cast<pid_t>(dwProcessId);
  if (pid <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  ReapLocked();
  auto it = g_children.find(pid);
  bool child = it != g_children.end();
  if (!child && !Alive(pid)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (child) ++it->second.handles;
  auto* h = new ProcessHandle{pid, child};
  g_handles.insert(h);
  return h;
}

KV_API BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto* h = static_cast<ProcessHandle*>(hProcess);
  if (!g_handles.count(h) || !lpExitCode) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ReapLocked();
  if (h->child) {
    const Child& c = g_children[h->pid];
    *lpExitCode = c.exited ? c.code : STILL_ACTIVE;
  } else {
    // Another program's process: its exit code is not ours to read.
    *lpExitCode = Alive(h->pid) ? STILL_ACTIVE : 0;
  }
  return TRUE;
}

KV_API BOOL WINAPI CloseHandle(HANDLE hObject) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto* h = static_cast<ProcessHandle*>(hObject);
  if (!g_handles.erase(h)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (h->child) {
    auto it = g_children.find(h->pid);
    if (it != g_children.end() && --it->second.handles <= 0) {
      if (it->second.exited) g_children.erase(it);
    }
  }
  delete h;
  ReapLocked();
  return TRUE;
}

KV_API void WINAPI Sleep(DWORD dwMilliseconds) {
  timespec ts{static_cast<time_t>(dwMilliseconds / 1000), static_cast<long>(dwMilliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}
