// Memory of bench/compare: the frames each operation cycles through and the
// buffers of the memcpy bound. Pools are sized to exceed the last-level cache,
// so that every operation pays for its memory traffic as on a stream of video
// frames, but the program's pools never exceed one ceiling (2 GiB, or a
// quarter of physical memory when that is less; some of it is kept for the
// program itself). Pools belong to a set (one family at one frame size): the
// set's frames are made when its first benchmark starts, and the frames or
// bound buffers of one set only are alive at any time.
//
// Single-threaded: the benchmarks run one after another on the main thread.
#pragma once

#include "compare.h"

#include <cstddef>
#include <map>
#include <memory>
#include <span>
#include <vector>

namespace compare {

struct MemoryLimits {
  std::size_t cacheBytes;  // last-level cache, as reported (or forced, for testing)
  bool cacheForced;
  std::size_t ceilingBytes;  // all pools together, and the program's peak, stay below
  bool hot;                  // one frame per pool: everything stays cached
};

// `forcedCacheBytes` 0 takes the processor's figure. Call once, first.
void SetMemoryLimits(std::size_t forcedCacheBytes, bool hot);
const MemoryLimits& Limits();

// Plans the pools of the set ops[first..]: how many frames (and bound bytes)
// fit under the ceiling. Sets each operation's `plan`.
void PlanPools(Operations& ops, std::size_t first);

using Pool = std::vector<std::unique_ptr<BenchDib>>;

// A frame of geometry g: noise (the same for the same geometry and seed) or
// zeros, every page mapped. Null when memory ran out.
std::unique_ptr<BenchDib> MakeFrame(const Geometry& g, bool noise, unsigned seed = 0);

struct Frames {
  Pool sources;  // noise
  // The kernels' destinations of geometry g, one per source (made on first
  // use); null when memory ran out.
  Pool* Targets(const Geometry& g);

 private:
  std::map<Geometry, Pool> targets_;
};

// The frames of op's set, made on first use (releasing every other pool);
// the sources carry op.sourceFlag. Null when memory ran out.
Frames* AcquireFrames(const Operation& op);

// The memcpy bound's buffers of op's set, made on first use (releasing every
// other pool); empty when memory ran out.
std::span<BYTE> AcquireBoundArena(const Operation& op);

void ReleasePools();

// Whether the frames op cycles through (or its bound's buffers) are smaller
// than the reported cache: its figures are then partly cached.
bool PartlyCached(const Operation& op);
bool BoundPartlyCached(const Operation& op);

// The program's peak resident memory so far.
std::size_t PeakResidentBytes();

}  // namespace compare
