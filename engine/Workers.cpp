#include "engine/Workers.h"

#include <QThread>
#include <atomic>
#include <memory>
#include <vector>

#include "engine/MediaCommands.h"

namespace kv {

void RunOnWorkers(int threads, int count, const std::function<bool(int item, int worker)>& work) {
  std::atomic<int> next{0};
  std::atomic<bool> halt{false};
  std::vector<std::unique_ptr<QThread>> workers;
  for (int t = 0; t < threads; ++t) {
    // A QThread, not a bare std::thread: it brings the event dispatcher the engine's timers need.
    workers.emplace_back(QThread::create([&, t] {
      ThreadMediaSession session;
      if (!session.ok()) {
        halt = true;
        return;
      }
      for (int item; !halt && (item = next++) < count;)
        if (!work(item, t)) halt = true;
    }));
    workers.back()->start();
  }
  for (auto& w : workers) w->wait();
}

}  // namespace kv
