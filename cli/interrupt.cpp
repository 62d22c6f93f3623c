#include "interrupt.h"

#include "os.h"

#include <array>
#include <atomic>

namespace kolvex::cli {

namespace {

std::atomic<int> gSignal{0};

// Names the handler may remove: pointers into live PendingFile objects.
std::array<std::atomic<const char*>, kPendingSlots> gPending{};

void OnSignal(int signal) {
  int none = 0;
  if (gSignal.compare_exchange_strong(none, signal)) {
    os::WakeWaiters();
    return;
  }
  for (auto& slot : gPending) {
    if (const char* path = slot.load()) os::RemoveFileNow(path);
  }
  os::ExitNow(128 + gSignal.load());
}

}  // namespace

void CatchInterrupts() { os::OnInterrupt(OnSignal); }

int Interruption() { return gSignal.load(); }

int InterruptedStatus() { return 128 + gSignal.load(); }

void StopIfInterrupted() {
  if (Interruption() != 0) throw Interrupted();
}

PendingFile::PendingFile(std::string path) : path_(std::move(path)), slot_(-1) {
  for (std::size_t i = 0; i < gPending.size(); ++i) {
    const char* empty = nullptr;
    if (gPending[i].compare_exchange_strong(empty, path_.c_str())) {
      slot_ = static_cast<int>(i);
      break;
    }
  }
}

PendingFile::~PendingFile() {
  if (slot_ >= 0) gPending[static_cast<std::size_t>(slot_)].store(nullptr);
}

}  // namespace kolvex::cli
