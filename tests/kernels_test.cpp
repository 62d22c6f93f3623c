// Every kernel level against the plain kernels: each operation, run at every
// level the processor offers on the same random images, must give the same
// bytes as at the plain level, padding and untouched bytes included. Source
// and destination are attached to bytes pressed against an inaccessible page
// (after the image, then before it), so a kernel that reads or writes a
// single byte outside the image faults.

#include "test_support.h"

#include <string>

namespace {

using kolvex::testing::KernelLevel;

// `size` bytes against an inaccessible page: ending where a mapped page ends
// (Guard::After) or beginning where one begins, or `shift` bytes later for
// pixels at an address that is not a multiple of 4 (Guard::Before).
class PageGuardedBytes {
 public:
  enum class Guard { After, Before };

  PageGuardedBytes(std::size_t size, Guard guard, std::size_t shift = 0) {
    const std::size_t page = kt::PageSize();
    if (guard == Guard::Before) size += shift;
    mapped_ = ((size + page - 1) / page + 1) * page;
    base_ = kt::MapPages(mapped_);
    BYTE* fence = guard == Guard::After ? base_ + mapped_ - page : base_;
    kt::ProtectPage(fence);
    data_ = guard == Guard::After ? fence - size : base_ + page + shift;
  }
  ~PageGuardedBytes() { kt::UnmapPages(base_, mapped_); }
  PageGuardedBytes(const PageGuardedBytes&) = delete;
  PageGuardedBytes& operator=(const PageGuardedBytes&) = delete;

  BYTE* data() const { return data_; }

 private:
  BYTE* base_ = nullptr;
  BYTE* data_ = nullptr;
  std::size_t mapped_ = 0;
};

// A bitmap (a TestDib, or a TestDib2 for the filters) attached to page-guarded
// pixel bytes, its header kept alongside.
template <class Dib>
struct PageGuardedImage {
  PageGuardedImage(WORD bitCount, LONG width, LONG height, PageGuardedBytes::Guard guard,
                   DWORD interlaced = 1, std::size_t shift = 0)
      : header(kt::MakeHeader(bitCount, width, height, interlaced)),
        size(static_cast<std::size_t>(kt::Stride(bitCount, width)) * static_cast<std::size_t>(height)),
        guard(guard),
        bytes(size, guard, shift) {
    dib.Attach(&header, bytes.data());
  }

  std::vector<BYTE> Contents() const { return {bytes.data(), bytes.data() + size}; }
  void Fill(std::uint32_t seed) { kt::FillNoise(bytes.data(), size, seed); }

  tagRZBMINFOHEADER header;
  std::size_t size;
  PageGuardedBytes::Guard guard;
  PageGuardedBytes bytes;
  Dib dib;
};

using PageGuardedDib = PageGuardedImage<kt::TestDib>;
using PageGuardedDib2 = PageGuardedImage<kt::TestDib2>;
using Guard = PageGuardedBytes::Guard;

// Sets a kernel level for the lifetime of the guard; puts the best one back.
class KernelLevelScope {
 public:
  explicit KernelLevelScope(kolvex::testing::KernelLevel level) {
    EXPECT_TRUE(kolvex::testing::SetKernelLevel(level));
  }
  ~KernelLevelScope() { kolvex::testing::SetKernelLevel(kolvex::testing::BestKernelLevel()); }
  KernelLevelScope(const KernelLevelScope&) = delete;
  KernelLevelScope& operator=(const KernelLevelScope&) = delete;
};

std::vector<KernelLevel> FastLevels() {
  std::vector<KernelLevel> levels;
  for (int l = 1; l <= static_cast<int>(kolvex::testing::BestKernelLevel()); ++l) {
    levels.push_back(static_cast<KernelLevel>(l));
  }
  return levels;
}

// 1..67 meets every tail length of every vector width at every pixel size;
// the wider ones run several whole vector steps before their tail.
std::vector<int> Widths() {
  std::vector<int> widths;
  for (int w = 1; w <= 67; ++w) widths.push_back(w);
  for (int w : {96, 131, 257}) widths.push_back(w);
  return widths;
}

constexpr int kHeights[] = {1, 2, 3, 5, 8, 13};
constexpr Guard kGuards[] = {Guard::After, Guard::Before};

// Runs `op(dst, src)` into a destination (an Image, like the source) of the
// given geometry, refilled with the same noise before each level (the input
// of an operation in place), and expects every level's bytes to equal the
// plain level's.
template <class Image, class Op>
void ExpectSameAtEveryLevel(Image& src, WORD bits, LONG width, LONG height, const Op& op,
                            const std::string& what) {
  if (width <= 0 || height <= 0) return;
  Image dst(bits, width, height, src.guard);
  dst.Fill(99);
  bool plainOk = false;
  {
    KernelLevelScope plain(KernelLevel::Plain);
    plainOk = op(dst.dib, src.dib);
  }
  ASSERT_TRUE(plainOk) << what;
  const std::vector<BYTE> expected = dst.Contents();
  for (KernelLevel level : FastLevels()) {
    dst.Fill(99);
    KernelLevelScope scope(level);
    EXPECT_TRUE(op(dst.dib, src.dib)) << what << " at level " << static_cast<int>(level);
    EXPECT_TRUE(dst.Contents() == expected) << what << " at level " << static_cast<int>(level);
  }
}

// Calls `family(src, label)` for every bit count, width, height and guard
// side, with a source Image of random bytes.
template <class Image, class Family>
void ForEachSource(std::initializer_list<WORD> bitCounts, Family family) {
  std::uint32_t seed = 1;
  for (WORD bits : bitCounts) {
    for (int width : Widths()) {
      for (int height : kHeights) {
        for (Guard guard : kGuards) {
          Image src(bits, width, height, guard);
          src.Fill(seed++);
          family(src, std::to_string(bits) + " bits " + std::to_string(width) + "x" +
                          std::to_string(height) +
                          (guard == Guard::After ? " guard after" : " guard before"));
        }
      }
    }
  }
}

// ---- The families, over any Image ----

template <class Image>
void Fills(Image& src, const std::string& label) {
  ExpectSameAtEveryLevel(
      src, src.header.biBitCount, src.header.biWidth, src.header.biHeight,
      [](auto& d, auto&) {
        d.ClearDIB(static_cast<UINT>(0x80C0FFEEu));
        return true;
      },
      "fill of " + label);
}

// Reductions (every field selector), scaling (smaller within and beyond the
// kernels' source windows, larger with repeated rows, wider but shorter),
// interpolated frames and fills at 24 and 32 bits; mirroring at every depth.
template <class Image>
void Transforms(Image& src, const std::string& label) {
  const LONG w = src.header.biWidth;
  const LONG h = src.header.biHeight;
  const WORD bits = src.header.biBitCount;
  auto same = [&](LONG tw, LONG th, const auto& op, const std::string& what) {
    ExpectSameAtEveryLevel(src, bits, tw, th, op, what + " of " + label);
  };
  for (int vertical : {0, 1}) {
    same(w, h, [vertical](auto& d, auto& s) { return d.Mirror(1, vertical, s); },
         "mirror (vertical " + std::to_string(vertical) + ")");
  }
  if (bits == 64) return;
  for (int field : {0, 1, 2}) {
    same(w / 2, h / 2, [field](auto& d, auto& s) { return d._GetQuarterDIB(s, field); },
         "quarter field " + std::to_string(field));
    same(w / 4, h / 4, [field](auto& d, auto& s) { return d._GetEighthDIB(s, field); },
         "eighth field " + std::to_string(field));
  }
  const std::pair<LONG, LONG> targets[] = {
      {std::max<LONG>(1, w * 2 / 3), std::max<LONG>(1, h * 2 / 3)},
      {std::max<LONG>(1, w / 3), h},
      {w * 3 / 2 + 1, h * 3 / 2 + 1},
      {w + 7, std::max<LONG>(1, h - 1)}};
  for (const auto& [tw, th] : targets) {
    same(tw, th, [tw = tw, th = th](auto& d, auto& s) { return d.Scale(s, tw, th); },
         "scale to " + std::to_string(tw) + "x" + std::to_string(th));
  }
  for (int odd : {0, 1}) {
    same(w, h, [odd](auto& d, auto& s) { return odd != 0 ? d._GetOddFrame(s, 0, 1) : d._GetEvenFrame(s, 0, 1); },
         "interpolated frame (odd " + std::to_string(odd) + ")");
  }
  Fills(src, label);
}

// Brightness at the levels that move values up and down by the most, the
// least and not at all (24 and 32 bits, on the bitmap itself: the source gives
// the geometry), and the median at every depth.
template <class Image>
void Filters(Image& src, const std::string& label) {
  const LONG w = src.header.biWidth;
  const LONG h = src.header.biHeight;
  const WORD bits = src.header.biBitCount;
  for (int level : {0, 1, 127, 128, 129, 200, 255}) {
    if (bits == 8) break;
    ExpectSameAtEveryLevel(src, bits, w, h, [level](auto& d, auto&) { return d.AdjustBrightness(level); },
                           "brightness " + std::to_string(level) + " of " + label);
  }
  ExpectSameAtEveryLevel(src, bits, w, h, [](auto& d, auto& s) { return d.Median3x3(s); }, "median of " + label);
}

TEST(Kernels, TransformsMatchThePlainLevel) {
  ForEachSource<PageGuardedDib>({24, 32, 64}, Transforms<PageGuardedDib>);
}

TEST(Kernels, FiltersMatchThePlainLevel) {
  ForEachSource<PageGuardedDib2>({8, 24, 32}, Filters<PageGuardedDib2>);
}

// Unpadded frames are filled as one run, and runs of a megabyte or more take
// the streaming path. With the guard page after them, these sizes start at
// offsets 0, 4, 16, 24, 32 and 48 of a cache line.
TEST(Kernels, FillsOfLongRunsMatchThePlainLevel) {
  for (WORD bits : {24, 32}) {
    for (LONG width : {1024, 1032, 1036}) {
      for (Guard guard : kGuards) {
        PageGuardedDib src(bits, width, 361, guard);
        Fills(src, std::to_string(bits) + " bits " + std::to_string(width) + "x361");
      }
    }
  }
}

// Rows that start at addresses of every remainder modulo 4 (attached memory
// may lie anywhere): vector kernels that align their steps to the rows meet
// rows that need no first partial step at 8 and 24 bits only this way.
TEST(Kernels, MediansOfRowsAtAnyAddressMatchThePlainLevel) {
  std::uint32_t seed = 1;
  for (std::size_t shift : {1, 2, 3}) {
    for (WORD bits : {8, 24, 32}) {
      for (int width : Widths()) {
        for (int height : {3, 5, 13}) {
          PageGuardedDib2 src(bits, width, height, Guard::Before, 1, shift);
          src.Fill(seed++);
          ExpectSameAtEveryLevel(src, bits, width, height, [](auto& d, auto& s) { return d.Median3x3(s); },
                                 "median of " + std::to_string(bits) + " bits " + std::to_string(width) + "x" +
                                     std::to_string(height) + " at offset " + std::to_string(shift));
        }
      }
    }
  }
}

}  // namespace
