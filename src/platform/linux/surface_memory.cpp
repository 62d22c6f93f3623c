// Memory of GDI surfaces: the heap, or shared memory that the display can fill
// without a copy on this side (whole rows of the screen grabbed into a
// top-down 32-bit DIB section).

#include "platform/linux/real_screen.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdlib>

namespace kolvex::platform::detail {
namespace {

// Below this a copy costs less than a segment of its own.
constexpr std::size_t kSharedBytes = 1024 * 1024;

}  // namespace

SurfaceBytes AllocateSurfaceBytes(std::size_t n, bool section) {
  const RealScreen* screen = section && n >= kSharedBytes ? ChosenScreen() : nullptr;
  if (screen != nullptr && !screen->Lost() && screen->SharesMemory()) {
    const int id = shmget(IPC_PRIVATE, n, IPC_CREAT | 0600);
    void* bytes = id < 0 ? reinterpret_cast<void*>(-1) : shmat(id, nullptr, 0);
    // Marked for removal at once: the segment goes with its last attachment,
    // whatever happens to this process or the display.
    if (id >= 0) shmctl(id, IPC_RMID, nullptr);
    if (bytes != reinterpret_cast<void*>(-1)) return {static_cast<BYTE*>(bytes), id};
  }
  return {static_cast<BYTE*>(std::calloc(n, 1)), -1};
}

void FreeSurfaceBytes(const SurfaceBytes& b) {
  if (b.shm < 0) return std::free(b.bytes);
  if (RealScreen* screen = ChosenScreen()) screen->Forget(b.shm);
  shmdt(b.bytes);
}

}  // namespace kolvex::platform::detail
