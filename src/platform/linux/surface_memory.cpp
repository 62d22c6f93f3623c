// Memory of GDI surfaces: the heap, or shared memory that the display fills
// and reads without a copy on this side (whole rows of the screen grabbed into
// a top-down 32-bit DIB section or a copy of the screen).

#include "platform/linux/real_screen.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdlib>

namespace kolvex::platform::detail {
namespace {

// Below this a copy costs less than a segment of its own.
constexpr std::size_t kSharedBytes = 1024 * 1024;

}  // namespace

SurfaceBytes NewSegment(std::size_t n) {
  const int id = shmget(IPC_PRIVATE, n, IPC_CREAT | 0600);
  if (id < 0) return {};
  void* bytes = shmat(id, nullptr, 0);
  // Marked for removal at once: the segment goes with its last attachment,
  // whatever happens to this process or the display.
  shmctl(id, IPC_RMID, nullptr);
  if (bytes == reinterpret_cast<void*>(-1)) return {};
  SurfaceBytes b;
  b.bytes = static_cast<BYTE*>(bytes);
  b.shm = id;
  b.size = n;
  return b;
}

void FreeSegment(const SurfaceBytes& b) { shmdt(b.bytes); }

SurfaceBytes AllocateSurfaceBytes(std::size_t n, SurfaceUse use) {
  RealScreen* screen = use != SurfaceUse::Plain && n >= kSharedBytes ? ChosenScreen() : nullptr;
  if (screen != nullptr && !screen->Lost() && screen->SharesMemory()) {
    SurfaceBytes b = screen->Segment(n, use == SurfaceUse::ScreenCopy);
    if (b.bytes != nullptr) return b;
  }
  SurfaceBytes b;
  b.bytes = static_cast<BYTE*>(std::calloc(n, 1));
  b.size = n;
  return b;
}

void FreeSurfaceBytes(const SurfaceBytes& b) {
  if (b.shm < 0) return std::free(b.bytes);
  if (RealScreen* screen = ChosenScreen()) return screen->Release(b);
  FreeSegment(b);
}

}  // namespace kolvex::platform::detail
