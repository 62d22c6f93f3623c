// Helpers of every suite: open and counting bitmap classes, fault injection,
// image builders, GDI read-backs and a fixture that fails on leaks.
#pragma once

#include "portable.h"

#include <kolvex/kolvex.h>
#include <kolvex/testing.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <thread>
#include <vector>

namespace kt {

// The smallest client class of the abstract base, its protected members opened.
class TestDib : public CRZDIBBase2 {
 public:
  TestDib() = default;
  TestDib(const TestDib& other) : CRZDIBBase2(other) {}
  explicit TestDib(tagRZBMINFOHEADER* pHeader) : CRZDIBBase2(pHeader) {}
  TestDib(tagRZBMINFOHEADER* pHeader, BYTE* pBits) : CRZDIBBase2(pHeader, pBits) {}
  ~TestDib() { Delete(); }
  TestDib& operator=(const TestDib& other) {
    CRZDIBBase2::operator=(other);
    return *this;
  }
  using CRZDIBBase2::operator=;

  CRzDibBaseData2* Data() const { return _IGetData(); }
  LONG Refs() const { return _IGetData()->nRefs; }
  UINT AllocSize() const { return _IGetData()->nAllocSize; }
  bool IsNilBlock() const { return _IsNil(_IGetData()); }
  const LONG* ColumnMap() const { return pColumnMap; }
  const LONG* RowMap() const { return pRowMap; }
};

// Makes allocations fail for the guard's lifetime, and always stops again.
class FailAllocations {
 public:
  explicit FailAllocations(long long after) { kolvex::testing::FailAllocationsAfter(after); }
  ~FailAllocations() { kolvex::testing::StopFailingAllocations(); }
  FailAllocations(const FailAllocations&) = delete;
  FailAllocations& operator=(const FailAllocations&) = delete;
};

// The library's row stride as an int, for image arithmetic in tests (the rule
// itself is checked against values of its own by Create.GeometryByDepthAndRefusals).
inline int Stride(int bitCount, int width) {
  return static_cast<int>(kolvex::RowStride(bitCount, width));
}

// Bytes of the extended header, before the pixels of every created buffer.
inline constexpr std::size_t kHeaderBytes = sizeof(tagRZBMINFOHEADER);

// Reproducible noise in n bytes.
inline void FillNoise(BYTE* p, std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<BYTE>(rng());
}

// Fills every image byte (padding included) with reproducible noise.
inline void FillRandom(CRZDIBBase2& dib, std::uint32_t seed) {
  FillNoise(dib.GetBytes(), static_cast<std::size_t>(dib.DIBSize()), seed);
}

// Create(bitCount, width, height, interlaced), then FillRandom(seed).
inline bool CreateRandom(CRZDIBBase2& dib, WORD bitCount, int width, int height, DWORD interlaced,
                         std::uint32_t seed) {
  if (!dib.Create(bitCount, width, height, interlaced)) return false;
  FillRandom(dib, seed);
  return true;
}

inline std::vector<BYTE> Pixels(const CRZDIBBase2& dib) {
  return std::vector<BYTE>(dib.GetBytes(), dib.GetBytes() + dib.DIBSize());
}

// The pixel bytes of every row without padding, which transforms leave undefined.
inline std::vector<BYTE> RowBytes(const CRZDIBBase2& dib) {
  std::vector<BYTE> out;
  const auto used = static_cast<std::size_t>(dib.DIBWidth() * dib.DIBBitCount() / 8);
  for (int r = 0; r < dib.DIBHeight(); ++r) {
    const BYTE* row = dib.GetBytes() + static_cast<std::ptrdiff_t>(r) * dib.DIBBytesPerLine();
    out.insert(out.end(), row, row + used);
  }
  return out;
}

// A full extended header as callers build them for Attach() and Create().
inline tagRZBMINFOHEADER MakeHeader(WORD bitCount, LONG width, LONG height, DWORD interlaced = 1) {
  tagRZBMINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = bitCount;
  h.dwInterlacedFlag = interlaced;
  return h;
}

// A caller's header and pixels for Attach(), with guard bytes right after the image.
struct GuardedImage {
  static constexpr int kGuard = 64;
  static constexpr BYTE kGuardByte = 0xA5;

  GuardedImage(WORD bitCount, LONG width, LONG height, DWORD interlaced = 1)
      : header(MakeHeader(bitCount, width, height, interlaced)),
        bytes(static_cast<std::size_t>(Stride(bitCount, width) * height + kGuard), kGuardByte) {}

  BYTE* Bits() { return bytes.data(); }
  bool GuardIntact() const {
    return std::all_of(bytes.end() - kGuard, bytes.end(), [](BYTE b) { return b == kGuardByte; });
  }

  tagRZBMINFOHEADER header;
  std::vector<BYTE> bytes;
};

// Runs body(t) on threads t = 0 .. count - 1 at once and waits for them all.
template <class F>
void RunThreads(int count, F body) {
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) threads.emplace_back(body, t);
  for (std::thread& th : threads) th.join();
}

// Calls `done` until it answers true, for about five seconds at most.
inline bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 250; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    if (done()) return true;
  }
  return false;
}

// Reproducible sizes and seeds for property tests over random images.
class RandomSizes {
 public:
  explicit RandomSizes(std::uint32_t seed) : rng_(seed) {}
  int Between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  std::uint32_t Seed() { return static_cast<std::uint32_t>(rng_()); }

 private:
  std::mt19937 rng_;
};

// ---- Windows bitmap ----

// CRZDIB2 with its protected interface (the transforms' workers too) opened up.
class TestDib2 : public CRZDIB2 {
 public:
  using CRZDIB2::CRZDIB2;
  TestDib2() = default;

  CRzDibData2* Data() const { return _IGetData(); }
  LONG Refs() const { return _IGetData()->nRefs; }
  bool IsNilBlock() const { return _IsNil(CRZDIBBase2::_IGetData()); }
  using CRZDIBBase2::_GetQuarterDIB;
  using CRZDIBBase2::_GetEighthDIB;
  using CRZDIBBase2::_GetOddFrame;
  using CRZDIBBase2::_GetEvenFrame;
};

// Counts the live blocks and buffers made through Base's storage hooks (atomic:
// threaded suites release from many threads).
template <class Base>
class Counting final : public Base {
 public:
  Counting() = default;
  Counting(const Counting& other) : Base() { Base::operator=(other); }
  ~Counting() { this->Delete(); }  // while the counting hooks are still in force
  Counting& operator=(const Counting& other) {
    Base::operator=(other);
    return *this;
  }
  using Base::operator=;

  static inline std::atomic<int> liveBlocks{0};
  static inline std::atomic<int> liveBuffers{0};

 protected:
  void _IAllocData() override {
    Base::_IAllocData();
    ++liveBlocks;
  }
  void _IFreeData() override {
    if (!this->IsNilBlock()) --liveBlocks;
    Base::_IFreeData();
  }
  void _IAllocDibData(UINT nSize) override {
    Base::_IAllocDibData(nSize);
    ++liveBuffers;
  }
  void _IFreeDibData() override {
    if (this->_IGetData()->pBmiHeader != nullptr) --liveBuffers;
    Base::_IFreeDibData();
  }
};

using CountingDib = Counting<TestDib>;
using CountingDib2 = Counting<TestDib2>;

// A set cache record under `key` (frameMode 1: matched whatever the frame).
inline CDIBCacheInfo CacheKey(DWORD key, int frameMode = 0, UINT frame = 0) {
  CDIBCacheInfo info{};
  info.bInfoValid = 1;
  info.dwKey1 = key;
  info.nFrameMode = frameMode;
  info.nFrame = frame;
  return info;
}

// Whether every image byte (padding included) is `value`.
inline bool AllBytes(const CRZDIBBase2& dib, BYTE value) {
  return std::all_of(dib.GetBytes(), dib.GetBytes() + dib.DIBSize(),
                     [value](BYTE b) { return b == value; });
}

// True when f throws E* (then deleted); a CFileException's cause goes to *cause.
template <class E, class F>
bool Throws(F&& f, int* cause = nullptr) {
  try {
    f();
  } catch (E* e) {
    if constexpr (requires { e->m_cause; }) {
      if (cause != nullptr) *cause = e->m_cause;
    }
    e->Delete();
    return true;
  }
  return false;
}

// A BI_RGB description of a w x h DIB (negative h: top-down).
inline BITMAPINFO Info(LONG w, LONG h, WORD bits) {
  BITMAPINFO bmi{};
  bmi.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), w, h, 1, bits, BI_RGB, 0, 0, 0, 0, 0};
  return bmi;
}

// A screen-compatible bitmap (a memory DC's would be monochrome) in a memory DC.
struct DeviceBitmap {
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bm = nullptr;
  HGDIOBJ old = nullptr;
  DeviceBitmap(int w, int h) {
    HDC screen = GetDC(nullptr);
    bm = CreateCompatibleBitmap(screen, w, h);
    ReleaseDC(nullptr, screen);
    old = SelectObject(dc, bm);
  }
  ~DeviceBitmap() {
    SelectObject(dc, old);
    DeleteObject(bm);
    DeleteDC(dc);
  }
};

// A DIB section (BI_RGB, negative h: top-down) selected into its own memory DC.
struct DibSection {
  HDC dc = nullptr;
  HBITMAP bm = nullptr;
  HGDIOBJ old = nullptr;
  BYTE* bits = nullptr;
  DibSection(LONG w, LONG h, WORD bitCount) {
    BITMAPINFO bmi = Info(w, h, bitCount);
    bm = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr,
                          0);
    dc = CreateCompatibleDC(nullptr);
    old = SelectObject(dc, bm);
  }
  ~DibSection() {
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bm);
  }
  std::uint32_t* Words() const { return reinterpret_cast<std::uint32_t*>(bits); }
};

using Pixels32 = std::vector<std::uint32_t>;

// The whole bitmap as top-down 0xXXRRGGBB words, through GetDIBits.
inline Pixels32 ReadBack(HDC dc, HBITMAP bm, int w, int h) {
  Pixels32 out(static_cast<std::size_t>(w) * h);
  BITMAPINFO bmi = Info(w, -h, 32);
  EXPECT_EQ(GetDIBits(dc, bm, 0, h, out.data(), &bmi, DIB_RGB_COLORS), h);
  return out;
}

// The reserved and committed bytes of the reservation at base, by VirtualQuery.
struct Extents {
  SIZE_T reserved = 0;
  SIZE_T committed = 0;
};
inline Extents VirtualExtents(const void* base) {
  Extents e;
  const BYTE* p = static_cast<const BYTE*>(base);
  MEMORY_BASIC_INFORMATION info{};
  while (VirtualQuery(p, &info, sizeof info) == sizeof info && info.AllocationBase == base &&
         info.State != MEM_FREE) {
    e.reserved += info.RegionSize;
    if (info.State == MEM_COMMIT) e.committed += info.RegionSize;
    p += info.RegionSize;
  }
  return e;
}

// Fails a test that leaks a counted block or buffer or a GDI object; ends fault injection.
class NoLeaks : public ::testing::Test {
 protected:
  void SetUp() override {
    CountingDib::liveBlocks = CountingDib::liveBuffers = 0;
    CountingDib2::liveBlocks = CountingDib2::liveBuffers = 0;
    gdiStart_ = GdiObjects();
  }
  void TearDown() override {
    kolvex::testing::StopFailingAllocations();
    EXPECT_EQ(CountingDib::liveBlocks + CountingDib2::liveBlocks, 0) << "a block leaked";
    EXPECT_EQ(CountingDib::liveBuffers + CountingDib2::liveBuffers, 0) << "a buffer leaked";
    EXPECT_EQ(GdiObjects(), gdiStart_) << "a GDI object leaked";
  }
  DWORD gdiStart_ = 0;
};

}  // namespace kt
