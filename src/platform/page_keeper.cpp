// Released page-granular regions kept for reuse: one list, oldest first, under
// one lock, above the system's VirtualAlloc, so that both systems reuse the
// same way. Sizes are compared in whole pages, reserved and committed apart.
// Huge pages are the system layer's business: the Linux stand-in aligns large
// reservations for them; Windows gives large pages only to processes holding
// the lock-pages privilege, reserved and committed at once and never paged,
// which the reserve-then-commit layout of bitmap storage cannot use.

#include "platform/page_keeper.h"

#include "base/size.h"
#include "platform/allocation.h"

#include <kolvex/platform/storage_reuse.h>
#include <kolvex/platform/win32.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>
#include <vector>

namespace {

using kolvex::platform::detail::kPageBytes;

// A few regions of one size serve the frames of a few streams at once; a few
// dozen in all keep every search short next to the page faults it saves.
constexpr std::size_t kPerSize = 4;
constexpr std::size_t kMostKept = 32;
constexpr int kDefaultLimitKB = 128 * 1024;

struct Region {
  void* base;
  std::size_t reserved;   // bytes, whole pages
  std::size_t committed;  // bytes, whole pages from base on; the rest is reserved
};

struct Keeper {
  std::mutex lock;
  std::vector<Region> kept;   // oldest first
  std::size_t keptBytes = 0;  // committed bytes of `kept`
  std::size_t limitBytes = std::size_t{kDefaultLimitKB} * 1024;

  Keeper() { kept.reserve(kMostKept + 1); }  // no allocation under the lock
};

Keeper& TheKeeper() {
  // Never destroyed: clients' static destructors may release bitmaps after
  // this library's have run (the drain below leaves it empty and off).
  static Keeper* const keeper = new Keeper();
  return *keeper;
}

// Regions to give back to the system once the lock is dropped (declare it
// before the lock): unmapping takes time that other threads need not wait for.
class Released {
 public:
  Released() = default;
  Released(const Released&) = delete;
  Released& operator=(const Released&) = delete;
  ~Released() {
    for (std::size_t i = 0; i < count_; ++i) ::VirtualFree(bases_[i], 0, MEM_RELEASE);
  }
  void Add(void* base) { bases_[count_++] = base; }

 private:
  // Every kept region, and the one being released.
  std::array<void*, kMostKept + 1> bases_{};
  std::size_t count_ = 0;
};

void Evict(Keeper& k, std::vector<Region>::iterator it, Released& out) {
  out.Add(it->base);
  k.keptBytes -= it->committed;
  k.kept.erase(it);
}

// Drops the least recently kept regions until the rest fits the limits.
void Trim(Keeper& k, Released& out) {
  while (!k.kept.empty() && (k.keptBytes > k.limitBytes || k.kept.size() > kMostKept)) {
    Evict(k, k.kept.begin(), out);
  }
}

void Keep(const Region& region) {
  Released released;
  Keeper& k = TheKeeper();
  std::lock_guard<std::mutex> guard(k.lock);
  if (region.committed > k.limitBytes) {
    released.Add(region.base);
    return;
  }
  const auto sameSize = [&](const Region& r) {
    return r.reserved == region.reserved && r.committed == region.committed;
  };
  if (static_cast<std::size_t>(std::count_if(k.kept.begin(), k.kept.end(), sameSize)) >= kPerSize) {
    Evict(k, std::find_if(k.kept.begin(), k.kept.end(), sameSize), released);
  }
  k.kept.push_back(region);
  k.keptBytes += region.committed;
  Trim(k, released);
}

// The newest kept region of exactly these extents, taken out of the keeper.
std::optional<Region> TakeKept(std::size_t reserved, std::size_t committed) {
  Keeper& k = TheKeeper();
  std::lock_guard<std::mutex> guard(k.lock);
  for (auto it = k.kept.rbegin(); it != k.kept.rend(); ++it) {
    if (it->reserved == reserved && it->committed == committed) {
      const Region found = *it;
      k.keptBytes -= found.committed;
      k.kept.erase(std::next(it).base());
      return found;
    }
  }
  return std::nullopt;
}

// Gives everything kept back to the system; false when nothing was kept.
bool ReleaseAllKept() {
  Released released;
  Keeper& k = TheKeeper();
  std::lock_guard<std::mutex> guard(k.lock);
  const bool any = !k.kept.empty();
  while (!k.kept.empty()) Evict(k, k.kept.begin(), released);
  return any;
}

// The reservation that starts at base as VirtualQuery describes it, when it
// is one committed read-write run followed by at most one reserved run: the
// only shape that can be handed out again as AllocatePages makes it.
std::optional<Region> ShapeOf(void* base) {
  MEMORY_BASIC_INFORMATION info{};
  const auto ours = [&](const void* at) {
    return ::VirtualQuery(at, &info, sizeof info) == sizeof info && info.AllocationBase == base;
  };
  auto* start = static_cast<const char*>(base);
  if (!ours(start) || info.State != MEM_COMMIT || info.Protect != PAGE_READWRITE) {
    return std::nullopt;
  }
  Region region{base, info.RegionSize, info.RegionSize};
  if (ours(start + region.reserved)) {
    if (info.State != MEM_RESERVE) return std::nullopt;
    region.reserved += info.RegionSize;
    if (ours(start + region.reserved)) return std::nullopt;  // committed again further on
  }
  return region;
}

void* FreshPages(std::size_t reserveBytes, std::size_t commitBytes) {
  void* base = ::VirtualAlloc(nullptr, reserveBytes, MEM_RESERVE, PAGE_NOACCESS);
  if (base == nullptr) return nullptr;
  if (::VirtualAlloc(base, commitBytes, MEM_COMMIT, PAGE_READWRITE) == nullptr) {
    ::VirtualFree(base, 0, MEM_RELEASE);
    return nullptr;
  }
  return base;
}

std::optional<std::size_t> WholePages(std::size_t bytes) {
  const auto rounded = kolvex::detail::CheckedAdd(bytes, kPageBytes - 1);
  if (!rounded) return std::nullopt;
  return *rounded / kPageBytes * kPageBytes;
}

// Gives everything kept back when the process ends, and keeps nothing that a
// later static destructor releases.
struct DrainAtExit {
  ~DrainAtExit() { kolvex::platform::SetStorageReuseLimitKB(0); }
} const g_drainAtExit;

}  // namespace

namespace kolvex::platform::detail {

Pages AllocatePages(std::size_t reserveBytes, std::size_t commitBytes) {
  const auto reserved = WholePages(reserveBytes);
  const auto committed = WholePages(commitBytes);
  if (!reserved || !committed || *committed > *reserved || *committed == 0) return {};
  if (const auto region = TakeKept(*reserved, *committed)) {
    // Counted as the reservation and the commitment it stands for.
    if (kolvex::detail::AllocationShouldFail() || kolvex::detail::AllocationShouldFail()) {
      Keep(*region);
      return {};
    }
    return {region->base, true};
  }
  if (void* base = FreshPages(reserveBytes, commitBytes)) return {base, false};
  // The system refused: what is kept goes back to it first.
  if (!ReleaseAllKept()) return {};
  return {FreshPages(reserveBytes, commitBytes), false};
}

void FreePages(void* base) {
  if (base == nullptr) return;
  if (const auto region = ShapeOf(base)) {
    Keep(*region);
  } else {
    ::VirtualFree(base, 0, MEM_RELEASE);  // refuses what starts no reservation
  }
}

}  // namespace kolvex::platform::detail

namespace kolvex::platform {

void SetStorageReuseLimitKB(int limitKB) {
  Released released;
  Keeper& k = TheKeeper();
  std::lock_guard<std::mutex> guard(k.lock);
  k.limitBytes = static_cast<std::size_t>(std::max(limitKB, 0)) * 1024;
  Trim(k, released);
}

int GetStorageReuseLimitKB() {
  Keeper& k = TheKeeper();
  std::lock_guard<std::mutex> guard(k.lock);
  return static_cast<int>(k.limitBytes / 1024);
}

int GetStorageReuseKeptKB() {
  Keeper& k = TheKeeper();
  std::lock_guard<std::mutex> guard(k.lock);
  return static_cast<int>(k.keptBytes / 1024);  // at most the limit, an int
}

}  // namespace kolvex::platform
