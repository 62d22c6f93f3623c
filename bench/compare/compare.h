// What every part of bench/compare shares: the frame geometry, an operation
// (our call beside the peers' calls on the same bitmaps, the bytes it reads
// and writes) and the families that declare them, one file per family.
//
// Each operation appears in up to two sections. The kernel section times the
// pixel work into destinations made beforehand (the reductions and frames
// through their workers), as the peers do. The section "as called" times the
// public call as a client writes it in a frame loop: the result object reused
// from frame to frame, its storage made by the call, beside the peer's call
// into a buffer made once. Both run ours and OpenCV on one thread; the calls
// "as called" run a second time with the default threads of both (ours: one
// per processor; OpenCV's own default), timed on the wall clock, as users
// call both.
#pragma once

#include "bench_dib.h"

#include <cstddef>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace compare {

struct Geometry {
  int width;
  int height;
  int bits;

  std::size_t Stride() const { return static_cast<std::size_t>(kolvex::RowStride(bits, width)); }
  std::size_t RowBytes() const { return static_cast<std::size_t>(width) * bits / 8; }
  std::size_t Bytes() const { return Stride() * static_cast<std::size_t>(height); }
  std::string Name() const {
    return std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(bits);
  }
  bool operator<(const Geometry& o) const {
    return std::tie(width, height, bits) < std::tie(o.width, o.height, o.bits);
  }
  bool operator==(const Geometry& o) const = default;
};

// One way to compute an operation: ours or a peer's. Writes dst from src; an
// operation in place changes dst and ignores src.
using Run = std::function<bool(CRZDIB2& dst, const CRZDIB2& src)>;

struct Peer {
  std::string name;
  Run run;
  bool exact;  // documented to compute exactly our bytes
};

enum class Section { Kernel, AsCalled };

// An operation reads `readBytes` of a source frame and writes `writeBytes` of
// a target of geometry `target`. The agreement check leaves out `border`
// pixels at each edge (a filter whose peers treat the border their own way).
struct Operation {
  std::string name;
  Geometry source;
  Geometry target;
  double readBytes = 0;
  double writeBytes = 0;
  Run ours;
  std::vector<Peer> peers;
  int border = 0;
  bool inPlace = false;  // changes the target alone (as called: the frame itself)
  Section section = Section::Kernel;
  DWORD sourceFlag = 1;   // interlaced flag word of the source frames (1: progressive)
  bool threaded = false;  // as called with the default threads
  std::string kernel{};   // as called: the kernel operation behind the call, if any
  std::size_t plan = 0;   // its pools (pools.h)
};

using Operations = std::vector<Operation>;

// `kernel` as a client calls it: `call` with the result object reused across
// frames (or, for an operation in place, on each frame of the pool), the same
// peers into a buffer made once.
inline Operation AsCalled(const Operation& kernel, std::string name, Run call,
                          DWORD sourceFlag = 1) {
  Operation op = kernel;
  op.name = std::move(name);
  op.ours = std::move(call);
  op.section = Section::AsCalled;
  op.sourceFlag = sourceFlag;
  op.kernel = kernel.name;
  return op;
}

// The families, one file each. Each adds its operations on frames of
// geometry `g` (24 or 32 bits; the filters also take 8).
void AddReductions(Operations& ops, const Geometry& g);
void AddScaling(Operations& ops, const Geometry& g);
void AddMirroring(Operations& ops, const Geometry& g);
void AddFields(Operations& ops, const Geometry& g);
void AddFills(Operations& ops, const Geometry& g);
void AddFilters(Operations& ops, const Geometry& g);

}  // namespace compare
