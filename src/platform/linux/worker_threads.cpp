// Helper threads of the library's own: started on first use (as many as the
// largest call has asked for), asleep on one condition variable between
// calls, with every signal blocked so that signals reach the client's
// threads. At exit, or when the library is unloaded, the static teardown wakes
// and joins them; after fork() the child forgets its parent's (they do not
// exist there) and starts its own on first use.

#include "platform/allocation.h"
#include "platform/worker_pool.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace kolvex::platform::detail {
namespace {

class Workers {
 public:
  // Asks up to `helpers` threads, starting those missing.
  int Ask(TaskJob& job, int helpers) noexcept {
    int asked = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return 0;
      while (static_cast<int>(threads_.size()) < helpers && Start()) {
      }
      const int n = std::min(helpers, static_cast<int>(threads_.size()));
      try {
        for (; asked < n; ++asked) {
          job.Hold();
          asked_.push_back(&job);
        }
      } catch (...) {
        job.Release();  // the reference of the request that could not be queued
      }
    }
    if (asked == 1) {
      wake_.notify_one();
    } else if (asked > 1) {
      wake_.notify_all();
    }
    return asked;
  }

  // Wakes every thread, lets go of the requests no thread took and joins the
  // threads (each finishes the task it runs). Later calls get no helpers.
  void Stop() noexcept {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      stopping_ = true;
      for (TaskJob* job : asked_) job->Release();
      asked_.clear();
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  Workers* parent = nullptr;  // abandoned by fork(), kept reachable

 private:
  bool Start() noexcept {
    if (kolvex::detail::AllocationShouldFail()) return false;
    // The new thread inherits the mask in force here: block everything
    // around its start, then put the caller's mask back.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    bool started = true;
    try {
      threads_.emplace_back([this] { Loop(); });
    } catch (...) {
      started = false;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
  }

  void Loop() noexcept {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || !asked_.empty(); });
      if (stopping_) return;
      TaskJob* job = asked_.front();
      asked_.pop_front();
      lock.unlock();
      job->Work();
      job->Release();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<TaskJob*> asked_;  // one entry per request, each holding a reference
  std::vector<std::thread> threads_;
  bool stopping_ = false;
};

std::atomic<Workers*> g_workers{nullptr};

// In the child only the forking thread exists: the parent's helpers, their
// lock and their queue are left as they were, never touched again.
void ForgetParentsWorkers() {
  Workers* parents = g_workers.load(std::memory_order_relaxed);
  if (parents == nullptr) return;
  static Workers* abandoned = nullptr;
  parents->parent = abandoned;
  abandoned = parents;
  g_workers.store(nullptr, std::memory_order_relaxed);
}

Workers* TheWorkers() noexcept {
  Workers* workers = g_workers.load(std::memory_order_acquire);
  if (workers != nullptr) return workers;
  static const bool registered = pthread_atfork(nullptr, nullptr, ForgetParentsWorkers) == 0;
  if (!registered) return nullptr;
  auto* made = new (std::nothrow) Workers;
  if (made == nullptr) return nullptr;
  if (!g_workers.compare_exchange_strong(workers, made, std::memory_order_acq_rel)) {
    delete made;
    return workers;
  }
  return made;
}

// The threads are joined when the process ends or the library is unloaded;
// their state is never freed, since a client thread may still be inside a
// call.
struct StopAtExit {
  ~StopAtExit() {
    if (Workers* workers = g_workers.load(std::memory_order_acquire)) workers->Stop();
  }
} g_stopAtExit;

}  // namespace

int ProcessorCount() noexcept {
  static const int count = [] {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
      return CPU_COUNT(&set);
    }
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  }();
  return count;
}

int AskHelpers(TaskJob& job, int helpers) noexcept {
  Workers* workers = TheWorkers();
  return workers != nullptr ? workers->Ask(job, helpers) : 0;
}

}  // namespace kolvex::platform::detail
