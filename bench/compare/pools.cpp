#include "pools.h"

#include <kolvex/platform/storage_reuse.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>

namespace compare {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;
// What the program needs beside its pools (code, libraries, the peers' own
// buffers), and besides that up to three frames: the agreement check's start,
// expected and actual results, or a result made as called.
constexpr std::size_t kProgramBytes = 128 * kMiB;
constexpr std::size_t kLooseFrames = 3;

MemoryLimits g_limits{};

struct Plan {
  Geometry source;
  std::size_t frames;      // sources, and destinations of each kernel geometry
  std::size_t arenaBytes;  // the bound's buffers
};
std::vector<Plan> g_plans;

// The pools alive: the frames or the bound buffers of one plan.
struct Held {
  std::size_t plan = SIZE_MAX;
  bool bound = false;
  std::unique_ptr<Frames> frames;
  std::unique_ptr<BYTE[]> arena;
  std::size_t arenaBytes = 0;
};
Held g_held;

std::size_t ReportedCacheBytes() {
  const long l3 = sysconf(_SC_LEVEL3_CACHE_SIZE);
  return l3 > 0 ? static_cast<std::size_t>(l3) : 32 * kMiB;
}

std::size_t PhysicalBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGESIZE);
  return pages > 0 && page > 0 ? static_cast<std::size_t>(pages) * static_cast<std::size_t>(page)
                               : 8192 * kMiB;
}

std::size_t CeilDiv(std::size_t a, std::size_t b) { return (a + b - 1) / b; }

// Frames of a set: as many sources as take three times the cache (each
// frame is back in the cycle long after it left the cache), at least three,
// as many as fit. An odd count, so that operations that alternate between two
// settings (brightness) give every frame both in turn.
std::size_t FrameCount(std::size_t sourceBytes, std::size_t perFrame, std::size_t budget) {
  if (g_limits.hot) return 1;
  const std::size_t wanted =
      std::max<std::size_t>(3, CeilDiv(3 * g_limits.cacheBytes, sourceBytes));
  const std::size_t count = std::max<std::size_t>(1, std::min(wanted, budget / perFrame));
  return count % 2 == 0 ? count - 1 : count;
}

void FillNoise(BYTE* p, std::size_t bytes, unsigned seed) {
  std::mt19937_64 rng(seed);
  for (std::size_t b = 0; b < bytes; b += 8) {
    const std::uint64_t r = rng();
    std::memcpy(p + b, &r, std::min<std::size_t>(8, bytes - b));
  }
}

Pool MakePool(const Geometry& g, std::size_t count, bool noise) {
  Pool pool;
  for (std::size_t i = 0; i < count; ++i) {
    auto dib = MakeFrame(g, noise, static_cast<unsigned>(i));
    if (!dib) return {};
    pool.push_back(std::move(dib));
  }
  return pool;
}

// Makes the frames or the bound buffers of `plan` the pools alive.
bool Hold(std::size_t plan, bool bound) {
  if (g_held.plan == plan && g_held.bound == bound) return true;
  ReleasePools();
  const Plan& p = g_plans.at(plan);
  if (bound) {
    g_held.arena.reset(new (std::nothrow) BYTE[p.arenaBytes]);
    if (!g_held.arena) return false;
    std::memset(g_held.arena.get(), 1, p.arenaBytes);  // maps every page before timing
    g_held.arenaBytes = p.arenaBytes;
  } else {
    g_held.frames = std::make_unique<Frames>();
    g_held.frames->sources = MakePool(p.source, p.frames, true);
    if (g_held.frames->sources.empty()) {
      ReleasePools();
      return false;
    }
  }
  g_held.plan = plan;
  g_held.bound = bound;
  return true;
}

}  // namespace

void SetMemoryLimits(std::size_t forcedCacheBytes, bool hot) {
  g_limits.cacheForced = forcedCacheBytes != 0;
  g_limits.cacheBytes = g_limits.cacheForced ? forcedCacheBytes : ReportedCacheBytes();
  g_limits.ceilingBytes = std::min(2048 * kMiB, PhysicalBytes() / 4);
  g_limits.hot = hot;
}

const MemoryLimits& Limits() { return g_limits; }

void PlanPools(Operations& ops, std::size_t first) {
  Plan plan{ops.at(first).source, 1, 0};
  std::vector<Geometry> targets;
  std::size_t targetBytes = 0;  // one frame of every kernel destination geometry
  std::size_t largest = plan.source.Bytes();
  std::size_t boundBytes = 0;
  for (std::size_t i = first; i < ops.size(); ++i) {
    const Operation& op = ops[i];
    largest = std::max(largest, op.target.Bytes());
    if (op.section != Section::Kernel) continue;
    boundBytes = std::max(boundBytes, static_cast<std::size_t>(op.readBytes + op.writeBytes));
    if (std::find(targets.begin(), targets.end(), op.target) != targets.end()) continue;
    targets.push_back(op.target);
    targetBytes += op.target.Bytes();
  }
  // The library keeps released frames for reuse up to its own limit: that
  // memory is the program's too.
  const std::size_t kept =
      static_cast<std::size_t>(kolvex::platform::GetStorageReuseLimitKB()) * 1024;
  const std::size_t reserve = kProgramBytes + kept + kLooseFrames * largest;
  const std::size_t budget = g_limits.ceilingBytes > reserve ? g_limits.ceilingBytes - reserve : 0;
  plan.frames = FrameCount(plan.source.Bytes(), plan.source.Bytes() + targetBytes, budget);
  // Pairs of buffers of the largest bound, three times the cache on each side.
  const std::size_t wanted =
      g_limits.hot ? 2 * boundBytes : 6 * std::max(g_limits.cacheBytes, boundBytes);
  plan.arenaBytes = std::max(2 * boundBytes, std::min(wanted, budget));
  g_plans.push_back(plan);
  for (std::size_t i = first; i < ops.size(); ++i) ops[i].plan = g_plans.size() - 1;
}

std::unique_ptr<BenchDib> MakeFrame(const Geometry& g, bool noise, unsigned seed) {
  auto dib = std::make_unique<BenchDib>();
  if (!dib->Create(static_cast<WORD>(g.bits), g.width, g.height, 1)) return nullptr;
  if (noise) {
    const auto geometrySeed = static_cast<unsigned>(g.width * 7 + g.bits);
    FillNoise(dib->GetBytes(), g.Bytes(), seed * 7919u + geometrySeed);
  } else {
    std::memset(dib->GetBytes(), 0, g.Bytes());  // maps every page before timing
  }
  return dib;
}

Pool* Frames::Targets(const Geometry& g) {
  auto it = targets_.find(g);
  if (it == targets_.end()) it = targets_.emplace(g, MakePool(g, sources.size(), false)).first;
  return it->second.empty() ? nullptr : &it->second;
}

Frames* AcquireFrames(const Operation& op) {
  if (!Hold(op.plan, false)) return nullptr;
  for (auto& source : g_held.frames->sources) {
    // In place: the sources are not shared.
    if (source->GetInterlacedFlag() != op.sourceFlag) source->SetInterlacedFlag(op.sourceFlag);
  }
  return g_held.frames.get();
}

std::span<BYTE> AcquireBoundArena(const Operation& op) {
  if (!Hold(op.plan, true)) return {};
  return {g_held.arena.get(), g_held.arenaBytes};
}

void ReleasePools() { g_held = {}; }

bool PartlyCached(const Operation& op) {
  if (g_limits.hot) return false;
  const Plan& p = g_plans.at(op.plan);
  // Bytes visited between two visits of one frame: the sources read (or, as
  // called in place, changed) and a kernel's destinations, cycled in step. A
  // call as made by a client reuses one result, which stays cached.
  std::size_t perFrame = 0;
  if (!op.inPlace || op.section == Section::AsCalled) perFrame += op.source.Bytes();
  if (op.section == Section::Kernel) perFrame += op.target.Bytes();
  return p.frames * perFrame < g_limits.cacheBytes;
}

bool BoundPartlyCached(const Operation& op) {
  if (g_limits.hot) return false;
  const auto bytes = static_cast<std::size_t>(op.readBytes + op.writeBytes);
  const std::size_t pairs = g_plans.at(op.plan).arenaBytes / (2 * bytes);
  return pairs * 2 * bytes < g_limits.cacheBytes;
}

std::size_t PeakResidentBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<std::size_t>(usage.ru_maxrss) * 1024;  // kilobytes on Linux
}

}  // namespace compare
