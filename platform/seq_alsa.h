// ALSA sequencer output ports (hardware synths, running soft synths) as MIDI output devices
// 1..n, and a real-time player that sends a song's events to one of them.
#pragma once
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "alsa_handles.h"
#include "smf_reader.h"

namespace kv::media {

struct AlsaPort {
  int client = 0;
  int port = 0;
  std::string name;  // at most 31 bytes
};

// Writable ports of other clients; empty (and silent) when there is no ALSA sequencer.
std::vector<AlsaPort> ListAlsaOutputPorts();

class AlsaSeqPlayer {
 public:
  ~AlsaSeqPlayer();
  bool Start(std::shared_ptr<const Song> song, const AlsaPort& port, int64_t fromMs, std::string& error);
  void Stop();
  int64_t PositionMs();
  bool Ended() const { return ended_; }

 private:
  void Run();
  std::shared_ptr<const Song> song_;
  std::thread thread_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool quit_ = false;
  std::atomic<bool> ended_{false};
  SeqHandle seq_;
  int ownPort_ = -1;
  AlsaPort dest_;
  int64_t fromMs_ = 0;
  std::atomic<int64_t> positionMs_{0};
};

}  // namespace kv::media
