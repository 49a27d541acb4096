// Conversions side by side in one process: worker threads, each with its own event loop and
// its own media session (its own synthesizer, sharing the loaded SoundFont with the others).
#pragma once
#include <functional>

namespace kv {

// Calls work(item, worker) for every item in [0, count) on `threads` worker threads (worker is
// the thread's number, from 0). The items come
// from one shared queue in order, so a thread that finishes early takes the next one; work
// runs on the worker's thread and may run an event loop there. When work returns false, no
// thread takes another item. Returns when every worker has finished.
void RunOnWorkers(int threads, int count, const std::function<bool(int item, int worker)>& work);

}  // namespace kv
