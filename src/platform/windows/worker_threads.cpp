// Helpers from the system's thread pool. Its threads are the system's: the
// library starts none and has none to stop, and the callback environment
// names this library, so the system keeps it loaded while one of its tasks
// runs and lets it unload otherwise.

#include "platform/allocation.h"
#include "platform/worker_pool.h"

#include <windows.h>

#include <algorithm>
#include <thread>

namespace kolvex::platform::detail {
namespace {

VOID CALLBACK Help(PTP_CALLBACK_INSTANCE, PVOID context) {
  auto* job = static_cast<TaskJob*>(context);
  job->Work();
  job->Release();
}

// The default pool, with this library as the callbacks' module.
struct Environment {
  TP_CALLBACK_ENVIRON environment;
  Environment() {
    InitializeThreadpoolEnvironment(&environment);
    HMODULE self = nullptr;
    if (GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&Help), &self)) {
      SetThreadpoolCallbackLibrary(&environment, self);
    }
  }
};

}  // namespace

int ProcessorCount() noexcept {
  static const int count = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  return count;
}

int AskHelpers(TaskJob& job, int helpers) noexcept {
  static Environment environment;
  int asked = 0;
  for (; asked < helpers; ++asked) {
    if (kolvex::detail::AllocationShouldFail()) break;
    job.Hold();
    if (!TrySubmitThreadpoolCallback(Help, &job, &environment.environment)) {
      job.Release();
      break;
    }
  }
  return asked;
}

}  // namespace kolvex::platform::detail
