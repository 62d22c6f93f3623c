// Pixel filters of CRZDIB2: the brightness table and the 3 x 3 median against
// plain renderings, borders and padding, sharing, sources on this object's own
// pixels, and refusals.

#include "test_support.h"

#include <algorithm>
#include <array>
#include <numeric>

namespace {

using kt::TestDib2;
using Filters = kt::NoLeaks;

// Every byte position of a pixel takes every value somewhere in the picture.
void FillEveryValue(CRZDIB2& dib) {
  const int bpp = dib.DIBBitCount() / 8;
  for (int y = 0; y < dib.DIBHeight(); ++y) {
    BYTE* row = dib.GetBytes() + y * dib.DIBBytesPerLine();
    for (int i = 0; i < dib.DIBWidth() * bpp; ++i) row[i] = static_cast<BYTE>(i / bpp + 85 * (i % bpp) + y);
  }
}

TEST_F(Filters, BrightnessMapsColourChannelsThroughTheClampedTable) {
  // (level, offset subtracted from every colour value)
  const std::array<std::pair<int, int>, 6> levels{
      {{128, 0}, {0, -128}, {200, 72}, {255, 127}, {1000, 127}, {-50, -128}}};
  for (WORD bits : {24, 32}) {
    TestDib2 a;
    ASSERT_TRUE(a.Create(bits, 255, 3, 1));  // 24 bits: three padding bytes per row
    kt::FillRandom(a, bits);
    FillEveryValue(a);
    const std::vector<BYTE> before = kt::Pixels(a);
    for (const auto& [level, offset] : levels) {
      TestDib2 b;
      b = a;
      ASSERT_TRUE(b.AdjustBrightness(level));
      EXPECT_EQ(kt::Pixels(a), before) << "the other sharer changed";
      std::vector<BYTE> expected = before;
      for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::size_t inRow = i % static_cast<std::size_t>(a.DIBBytesPerLine());
        const bool colour = bits == 24 ? inRow < 255 * 3 : inRow % 4 != 3;
        if (colour) expected[i] = static_cast<BYTE>(std::clamp(expected[i] - offset, 0, 255));
      }
      EXPECT_EQ(kt::Pixels(b), expected) << bits << " bits, level " << level;
    }
  }
  // The documented points of the table.
  TestDib2 p;
  ASSERT_TRUE(p.Create(32, 2, 1, 1));
  const BYTE start[8] = {100, 200, 0, 77, 255, 1, 128, 77};
  std::memcpy(p.GetBytes(), start, 8);
  ASSERT_TRUE(p.AdjustBrightness(0));
  EXPECT_EQ(std::vector<BYTE>(p.GetBytes(), p.GetBytes() + 8),
            (std::vector<BYTE>{228, 255, 128, 77, 255, 129, 255, 77}));
  ASSERT_TRUE(p.AdjustBrightness(255));
  EXPECT_EQ(std::vector<BYTE>(p.GetBytes(), p.GetBytes() + 8),
            (std::vector<BYTE>{101, 128, 1, 77, 128, 2, 128, 77}));
}

TEST_F(Filters, BrightnessRefusalsAndEmptyImages) {
  TestDib2 empty;
  EXPECT_FALSE(empty.AdjustBrightness(0));

  TestDib2 grey;
  ASSERT_TRUE(grey.Create(8, 5, 5, 1));
  kt::FillRandom(grey, 1);
  TestDib2 sharer;
  sharer = grey;
  EXPECT_FALSE(sharer.AdjustBrightness(0));  // made private first, then refused
  EXPECT_NE(sharer.GetBytes(), grey.GetBytes());
  EXPECT_EQ(kt::Pixels(sharer), kt::Pixels(grey));

  TestDib2 flat;
  ASSERT_TRUE(flat.Create(24, 0, 4, 1));
  sharer = flat;
  EXPECT_TRUE(sharer.AdjustBrightness(0));
  EXPECT_EQ(sharer.Data(), flat.Data()) << "no copy for an empty image";

  // Attached memory: a negative width is refused and a top-down height changes
  // no row; the guard bytes show that nothing is written past the image.
  for (LONG w : {-3, 3}) {
    kt::GuardedImage g(24, 3, 2);
    g.header.biWidth = w;
    g.header.biHeight = w < 0 ? 2 : -2;
    const std::vector<BYTE> bytes = g.bytes;
    TestDib2 attached;
    ASSERT_TRUE(attached.Attach(&g.header, g.Bits()));
    EXPECT_EQ(attached.AdjustBrightness(0), w > 0);
    EXPECT_EQ(g.bytes, bytes);
  }
  kt::GuardedImage g(32, 7, 3);
  TestDib2 attached;
  ASSERT_TRUE(attached.Attach(&g.header, g.Bits()));
  std::fill(g.bytes.begin(), g.bytes.end() - kt::GuardedImage::kGuard, BYTE{10});
  ASSERT_TRUE(attached.AdjustBrightness(0));
  EXPECT_EQ(g.bytes[0], 138);
  EXPECT_EQ(g.bytes[3], 10) << "alpha kept";
  EXPECT_TRUE(g.GuardIntact());
}

// The median as a plain sort of the nine values, borders and padding as the
// filter leaves them: first and last rows whole from src, interior rows'
// padding as dst had it.
std::vector<BYTE> ExpectedMedian(const CRZDIB2& src, const CRZDIB2& dstBefore) {
  std::vector<BYTE> out = kt::Pixels(dstBefore);
  const BYTE* s = src.GetBytes();
  const int bpp = src.DIBBitCount() / 8;
  const int w = src.DIBWidth();
  const int h = src.DIBHeight();
  const int stride = src.DIBBytesPerLine();
  for (int y = 0; y < h; ++y) {
    const bool border = y == 0 || y == h - 1;
    const int bytes = border ? stride : w * bpp;
    for (int i = 0; i < bytes; ++i) {
      const int x = i / bpp;
      BYTE v = s[y * stride + i];
      if (!border && x > 0 && x < w - 1) {
        std::array<BYTE, 9> n{};
        for (int k = 0; k < 9; ++k) n[k] = s[(y + k / 3 - 1) * stride + i + (k % 3 - 1) * bpp];
        std::sort(n.begin(), n.end());
        v = n[4];
      }
      out[static_cast<std::size_t>(y * stride + i)] = v;
    }
  }
  return out;
}

TEST_F(Filters, MedianMatchesASortOfTheNineValues) {
  kt::RandomSizes random(6);
  for (int i = 0; i < 160; ++i) {
    const WORD bits = std::array<WORD, 3>{8, 24, 32}[i % 3];
    const int w = i < 27 ? 1 + i / 3 % 3 : random.Between(1, 35) | 1;
    const int h = i < 27 ? 1 + i / 9 : random.Between(1, 35) | 1;
    TestDib2 src;
    TestDib2 dst;
    ASSERT_TRUE(src.Create(bits, w, h, 1));
    ASSERT_TRUE(dst.Create(bits, w, h, 0));
    kt::FillRandom(src, random.Seed());
    kt::FillRandom(dst, random.Seed());
    if (i % 2 == 0) {  // few distinct values: ties everywhere
      for (int b = 0; b < src.DIBSize(); ++b) src.GetBytes()[b] &= 1;
    }
    const std::vector<BYTE> expected = ExpectedMedian(src, dst);
    ASSERT_TRUE(dst.Median3x3(src));
    EXPECT_EQ(kt::Pixels(dst), expected) << bits << " bits " << w << "x" << h;
  }
}

TEST_F(Filters, MedianFromASourceOnTheSamePixels) {
  TestDib2 a;
  ASSERT_TRUE(a.Create(24, 9, 7, 1));
  kt::FillRandom(a, 4);
  const std::vector<BYTE> before = kt::Pixels(a);
  const std::vector<BYTE> expected = ExpectedMedian(a, a);

  TestDib2 sharer;
  sharer = a;
  ASSERT_TRUE(sharer.Median3x3(a));
  EXPECT_EQ(kt::Pixels(sharer), expected);
  EXPECT_EQ(kt::Pixels(a), before) << "the other sharer changed";

  ASSERT_TRUE(a.Median3x3(a));
  EXPECT_EQ(kt::Pixels(a), expected);

  // Two objects on one caller's buffer: each reads as the other writes.
  kt::GuardedImage g(32, 11, 6);
  TestDib2 x;
  TestDib2 y;
  ASSERT_TRUE(x.Attach(&g.header, g.Bits()));
  ASSERT_TRUE(y.Attach(&g.header, g.Bits()));
  kt::FillRandom(x, 5);
  const std::vector<BYTE> onBuffer = ExpectedMedian(y, x);
  ASSERT_TRUE(x.Median3x3(y));
  EXPECT_EQ(kt::Pixels(x), onBuffer);
  EXPECT_TRUE(g.GuardIntact());
}

TEST_F(Filters, MedianRefusalsAndOddGeometries) {
  TestDib2 src;
  TestDib2 dst;
  EXPECT_FALSE(dst.Median3x3(src));
  ASSERT_TRUE(src.Create(24, 5, 5, 1));
  EXPECT_FALSE(dst.Median3x3(src));
  for (const auto& [bits, w, h] : std::array<std::array<int, 3>, 3>{{{32, 5, 5}, {24, 4, 5}, {24, 5, 6}}}) {
    ASSERT_TRUE(dst.Create(static_cast<WORD>(bits), w, h, 1));
    EXPECT_FALSE(dst.Median3x3(src));
  }

  ASSERT_TRUE(src.Create(16, 5, 5, 1));
  kt::FillRandom(src, 2);
  dst = src;
  EXPECT_FALSE(dst.Median3x3(src));  // made private first, then refused
  EXPECT_NE(dst.GetBytes(), src.GetBytes());
  EXPECT_EQ(kt::Pixels(dst), kt::Pixels(src));

  ASSERT_TRUE(src.Create(8, 6, 0, 1));
  dst = src;
  EXPECT_TRUE(dst.Median3x3(src));
  EXPECT_EQ(dst.Data(), src.Data()) << "no copy for an empty image";

  // Attached, negative width: refused. Top-down height: the first stored row only.
  for (LONG w : {-4, 4}) {
    kt::GuardedImage in(8, 4, 3);
    kt::GuardedImage out(8, 4, 3);
    in.header.biWidth = out.header.biWidth = w;
    if (w > 0) in.header.biHeight = out.header.biHeight = -3;
    std::iota(in.bytes.begin(), in.bytes.end() - kt::GuardedImage::kGuard, BYTE{1});
    std::vector<BYTE> expected = out.bytes;
    if (w > 0) std::copy_n(in.bytes.begin(), 4, expected.begin());
    TestDib2 s;
    TestDib2 d;
    ASSERT_TRUE(s.Attach(&in.header, in.Bits()));
    ASSERT_TRUE(d.Attach(&out.header, out.Bits()));
    EXPECT_EQ(d.Median3x3(s), w > 0);
    EXPECT_EQ(out.bytes, expected);
  }
}

}  // namespace
