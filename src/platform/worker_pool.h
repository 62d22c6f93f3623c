// Internal: the process-wide helper threads on which one call spreads its
// work: threads of the library's own on POSIX systems, the system's thread
// pool on Windows. Not installed.
//
// No call starts, stops or waits for them beyond its own tasks: they are made
// on first use, and a process may end or unload the library at any time (on
// POSIX systems the library's static teardown wakes and joins its idle
// threads; on Windows the system owns the threads and keeps the library
// loaded only while one of its tasks runs). A child made by fork() has no
// helpers of its parent's: its first call makes new ones.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace kolvex::platform::detail {

// The processors this process may run on (its affinity mask where the system
// keeps one), at least 1. Read once.
int ProcessorCount() noexcept;

// Runs task(context, i) once for every i in [0, count) and returns when all
// have run, with everything they wrote visible to the caller. The calling
// thread takes tasks in turn with up to `helpers` pool threads, so a task
// that no helper has taken by then runs on the caller: the call completes on
// the caller's thread alone when helpers cannot be had (threads that fail to
// start, helpers busy with other callers' work, an ending process, an
// injected allocation failure: one counted per call that asks for helpers and
// one per thread started). `task` must not throw.
void RunTasks(int count, int helpers, void (*task)(void* context, int index),
              void* context) noexcept;

// The shared state of one RunTasks call, which the caller and every helper
// asked to join hold a reference to: a helper that arrives after the last task
// was taken only lets go of it.
class TaskJob {
 public:
  TaskJob(int count, void (*task)(void*, int), void* context) noexcept
      : task_(task), context_(context), count_(count) {}

  // Takes and runs tasks until none is left.
  void Work() noexcept;
  void Hold() noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
  // Drops a reference; the last one frees the job.
  void Release() noexcept;
  // Waits until every task has run.
  void WaitDone() noexcept;

 private:
  void (*const task_)(void*, int);
  void* const context_;
  const int count_;
  std::atomic<int> next_{0};
  std::atomic<int> done_{0};
  std::atomic<int> refs_{1};  // the caller's
  // The caller sleeps on these until the last task is done. Not
  // std::atomic::wait: where the system has no futex (MinGW's libstdc++ 12)
  // its fallback can miss a notification and sleep for good.
  std::mutex lock_;
  std::condition_variable finished_;
};

// The system's half: asks up to `helpers` threads to join `job`, each with a
// reference of its own, and answers how many were asked (0 when none can be).
int AskHelpers(TaskJob& job, int helpers) noexcept;

}  // namespace kolvex::platform::detail
