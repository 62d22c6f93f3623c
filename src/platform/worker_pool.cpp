// The system-independent half of the helper threads: one call's tasks, taken
// in turn from a shared counter by the caller and whichever helpers come.

#include "platform/worker_pool.h"

#include "platform/allocation.h"

#include <new>

namespace kolvex::platform::detail {

void TaskJob::Work() noexcept {
  for (int i; (i = next_.fetch_add(1, std::memory_order_relaxed)) < count_;) {
    task_(context_, i);
    // Release: the task's writes reach whoever sees the count complete. The
    // lock orders the notification after a waiter's last look at the count
    // (this thread's reference keeps the job alive meanwhile).
    if (done_.fetch_add(1, std::memory_order_acq_rel) + 1 == count_) {
      std::lock_guard<std::mutex> hold(lock_);
      finished_.notify_all();
    }
  }
}

void TaskJob::Release() noexcept {
  if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

void TaskJob::WaitDone() noexcept {
  if (done_.load(std::memory_order_acquire) == count_) return;
  std::unique_lock<std::mutex> hold(lock_);
  finished_.wait(hold, [this] { return done_.load(std::memory_order_acquire) == count_; });
}

void RunTasks(int count, int helpers, void (*task)(void*, int), void* context) noexcept {
  if (helpers > count - 1) helpers = count - 1;
  TaskJob* job = nullptr;
  if (helpers > 0 && !kolvex::detail::AllocationShouldFail()) {
    job = new (std::nothrow) TaskJob(count, task, context);
  }
  if (job == nullptr) {
    for (int i = 0; i < count; ++i) task(context, i);
    return;
  }
  AskHelpers(*job, helpers);
  job->Work();
  // Only tasks that helpers took are still running; none is left untaken.
  job->WaitDone();
  job->Release();
}

}  // namespace kolvex::platform::detail
