// What the per-operation benchmark programs share: frame geometry taken from a
// benchmark's arguments (width, height, bits), noise-filled frames, and the
// memcpy baseline of a frame's bytes.
#pragma once

#include <kolvex/kolvex.h>

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace kolvex_bench {

struct Frame {
  int width;
  int height;
  WORD bits;

  // Stride (rows padded to whole 32-bit words) times height.
  std::size_t Bytes() const {
    return static_cast<std::size_t>(kolvex::RowStride(bits, width)) *
           static_cast<std::size_t>(height);
  }
};

inline Frame FrameOf(const benchmark::State& state) {
  return {static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
          static_cast<WORD>(state.range(2))};
}

// Makes `dib` a frame of noise (the same noise on every call); false when it
// cannot be created.
inline bool MakeNoise(CRZDIB2& dib, const Frame& f, DWORD interlaced) {
  if (!dib.Create(f.bits, f.width, f.height, interlaced)) return false;
  std::mt19937 rng(1);
  BYTE* p = dib.GetBytes();
  const int size = dib.DIBSize();
  for (int i = 0; i < size; ++i) p[i] = static_cast<BYTE>(rng());
  return true;
}

// The baseline: a memcpy of one frame's bytes between two buffers.
inline void MemcpyBaseline(benchmark::State& state) {
  const std::size_t bytes = FrameOf(state).Bytes();
  std::vector<BYTE> from(bytes, 1);
  std::vector<BYTE> to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

}  // namespace kolvex_bench
