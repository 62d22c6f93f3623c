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

enum class Guard { After, Before };

// A bitmap (a TestDib, or a TestDib2 for the filters) attached to pixel bytes
// that end where a mapped page ends (Guard::After) or begin where one begins,
// or `shift` bytes later, at an address that is not a multiple of 4
// (Guard::Before).
template <class Dib>
struct PageGuardedImage {
  PageGuardedImage(WORD bitCount, LONG width, LONG height, Guard guard, std::size_t shift = 0)
      : header(kt::MakeHeader(bitCount, width, height)),
        size(static_cast<std::size_t>(kt::Stride(bitCount, width)) * static_cast<std::size_t>(height)),
        guard(guard),
        shift(shift) {
    const std::size_t page = kt::PageSize();
    mapped = ((size + shift + page - 1) / page + 1) * page;
    base = kt::MapPages(mapped);
    BYTE* fence = guard == Guard::After ? base + mapped - page : base;
    kt::ProtectPage(fence);
    data = guard == Guard::After ? fence - size : base + page + shift;
    dib.Attach(&header, data);
  }
  ~PageGuardedImage() {
    dib.Detach();
    kt::UnmapPages(base, mapped);
  }
  PageGuardedImage(const PageGuardedImage&) = delete;
  PageGuardedImage& operator=(const PageGuardedImage&) = delete;

  std::vector<BYTE> Contents() const { return {data, data + size}; }
  void Fill(std::uint32_t seed) { kt::FillNoise(data, size, seed); }

  tagRZBMINFOHEADER header;
  std::size_t size;
  Guard guard;
  std::size_t shift;
  std::size_t mapped = 0;
  BYTE* base = nullptr;
  BYTE* data = nullptr;
  Dib dib;
};

using PageGuardedDib = PageGuardedImage<kt::TestDib>;
using PageGuardedDib2 = PageGuardedImage<kt::TestDib2>;

// 1..67 meets every tail length of every vector width at every pixel size;
// the wider ones run several whole vector steps before their tail.
std::vector<int> Widths() {
  std::vector<int> widths;
  for (int w = 1; w <= 67; ++w) widths.push_back(w);
  for (int w : {96, 131, 257}) widths.push_back(w);
  return widths;
}

// Runs `op(dst, src)` into a destination (an Image, like the source) of the
// given geometry, refilled with the same noise before each level (the input
// of an operation in place), and expects every level's bytes to equal the
// plain level's.
template <class Image, class Op>
void ExpectSameAtEveryLevel(Image& src, WORD bits, LONG width, LONG height, const Op& op,
                            const std::string& what) {
  if (width <= 0 || height <= 0) return;
  Image dst(bits, width, height, src.guard, src.shift);
  std::vector<BYTE> plain;
  for (int level = 0; level <= static_cast<int>(kolvex::testing::BestKernelLevel()); ++level) {
    EXPECT_TRUE(kolvex::testing::SetKernelLevel(static_cast<KernelLevel>(level)));
    dst.Fill(99);
    EXPECT_TRUE(op(dst.dib, src.dib)) << what << " at level " << level;
    if (level == 0) plain = dst.Contents();
    EXPECT_TRUE(dst.Contents() == plain) << what << " at level " << level;
  }
  kolvex::testing::SetKernelLevel(kolvex::testing::BestKernelLevel());
}

// Calls `family(src, label)` for every bit count, width, height and guard
// (with the given shifts of the start of the pixels when the guard is before
// them), with a source Image of random bytes.
template <class Image, class Family>
void ForEachSource(std::initializer_list<WORD> bitCounts, std::initializer_list<std::size_t> shifts,
                   Family family) {
  std::uint32_t seed = 1;
  for (WORD bits : bitCounts) {
    for (int width : Widths()) {
      for (int height : {1, 2, 3, 5, 8, 13}) {
        Image after(bits, width, height, Guard::After);
        after.Fill(seed++);
        family(after, std::to_string(bits) + " bits " + std::to_string(width) + "x" + std::to_string(height));
        for (std::size_t shift : shifts) {
          Image before(bits, width, height, Guard::Before, shift);
          before.Fill(seed++);
          family(before, std::to_string(bits) + " bits " + std::to_string(width) + "x" + std::to_string(height) +
                             " guard before, shift " + std::to_string(shift));
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
  ForEachSource<PageGuardedDib>({24, 32, 64}, {0}, Transforms<PageGuardedDib>);
}

// Rows that start at addresses of every remainder modulo 4 (attached memory
// may lie anywhere): vector kernels that align their steps to the rows meet
// rows that need no first partial step at 8 and 24 bits only this way.
TEST(Kernels, FiltersMatchThePlainLevel) {
  ForEachSource<PageGuardedDib2>({8, 24, 32}, {0, 1, 2, 3}, Filters<PageGuardedDib2>);
}

// Unpadded frames are filled as one run, and runs of a megabyte or more take
// the streaming path. With the guard page after them, these sizes start at
// offsets 0, 4, 16, 24, 32 and 48 of a cache line.
TEST(Kernels, FillsOfLongRunsMatchThePlainLevel) {
  for (WORD bits : {24, 32}) {
    for (LONG width : {1024, 1032, 1036}) {
      PageGuardedDib after(bits, width, 361, Guard::After);
      Fills(after, std::to_string(bits) + " bits " + std::to_string(width) + "x361 guard after");
      PageGuardedDib before(bits, width, 361, Guard::Before);
      Fills(before, std::to_string(bits) + " bits " + std::to_string(width) + "x361 guard before");
    }
  }
}

}  // namespace
