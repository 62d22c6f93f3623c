// Pixel filters of CRZDIB2 against plain renderings: borders and padding,
// sharing, sources on this object's own pixels, refusals.

#include "test_support.h"

#include <array>
#include <climits>
#include <tuple>

namespace {

using kt::TestDib2;
using Filters = kt::NoLeaks;

TEST_F(Filters, BrightnessMapsColourChannelsThroughTheClampedTable) {
  for (int level : {128, 0, 200, 255, 1000, -50, 256, -1, INT_MAX, INT_MIN, INT_MIN + 127}) {
    const int offset = std::clamp(level, 0, 255) - 128;  // subtracted from every colour value
    for (WORD bits : {24, 32}) {
      TestDib2 a;
      ASSERT_TRUE(a.Create(bits, 255, 2, 1));  // 24 bits: three padding bytes per row
      kt::FillRandom(a, bits);
      const int bpp = bits / 8;
      for (int i = 0; i < 255 * bpp; ++i) a.GetBytes()[i] = static_cast<BYTE>(i / bpp + 85 * (i % bpp));
      const std::vector<BYTE> before = kt::Pixels(a);
      std::vector<BYTE> expected = before;
      for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::size_t inRow = i % static_cast<std::size_t>(a.DIBBytesPerLine());
        if (bits == 24 ? inRow < 255 * 3 : inRow % 4 != 3) {  // padding and alpha stay
          expected[i] = static_cast<BYTE>(std::clamp(expected[i] - offset, 0, 255));
        }
      }
      TestDib2 b;
      b = a;
      ASSERT_TRUE(b.AdjustBrightness(level));
      EXPECT_EQ(kt::Pixels(b), expected) << bits << " bits, level " << level;
      EXPECT_EQ(kt::Pixels(a), before) << "the other sharer changed";
    }
  }
}

// The median as a sort of the nine values. The first and last rows come whole
// from src; the padding of the other rows stays as dst had it.
std::vector<BYTE> ExpectedMedian(const CRZDIB2& src, const CRZDIB2& dstBefore) {
  std::vector<BYTE> out = kt::Pixels(dstBefore);
  const BYTE* s = src.GetBytes();
  const int bpp = src.DIBBitCount() / 8;
  const int w = src.DIBWidth();
  const int h = src.DIBHeight();
  const int stride = src.DIBBytesPerLine();
  for (int y = 0; y < h; ++y) {
    const bool border = y == 0 || y == h - 1;
    for (int i = 0; i < (border ? stride : w * bpp); ++i) {
      std::array<BYTE, 9> n{};
      for (int k = 0; k < 9; ++k) n[k] = s[y * stride + i];
      if (!border && i >= bpp && i < (w - 1) * bpp) {
        for (int k = 0; k < 9; ++k) n[k] = s[(y + k / 3 - 1) * stride + i + (k % 3 - 1) * bpp];
      }
      std::sort(n.begin(), n.end());
      out[static_cast<std::size_t>(y * stride + i)] = n[4];
    }
  }
  return out;
}

TEST_F(Filters, MedianMatchesASortOfTheNineValues) {
  kt::RandomSizes random(6);
  for (int i = 0; i < 160; ++i) {
    const WORD bits = std::array<WORD, 3>{8, 24, 32}[i % 3];
    // Every width and height from 1 to 3 first, then random odd sizes.
    const int w = i < 27 ? 1 + i / 3 % 3 : random.Between(1, 35) | 1;
    const int h = i < 27 ? 1 + i / 9 : random.Between(1, 35) | 1;
    TestDib2 src;
    TestDib2 dst;
    ASSERT_TRUE(src.Create(bits, w, h, 1));
    ASSERT_TRUE(dst.Create(bits, w, h, 0));
    kt::FillRandom(src, random.Seed());
    kt::FillRandom(dst, random.Seed());
    if (i % 2 == 0) {  // two values only: ties everywhere
      for (int b = 0; b < src.DIBSize(); ++b) src.GetBytes()[b] &= 1;
    }
    if (i % 5 == 0) dst = src;  // sharing the source's block: the source stays
    TestDib2& target = i % 5 == 1 ? src : dst;  // or the source itself, read before it is written
    const std::vector<BYTE> before = kt::Pixels(src);
    const std::vector<BYTE> expected = ExpectedMedian(src, target);
    ASSERT_TRUE(target.Median3x3(src));
    EXPECT_EQ(kt::Pixels(target), expected) << bits << " bits " << w << "x" << h;
    if (&target == &dst) {
      EXPECT_EQ(kt::Pixels(src), before);
    }
  }
}

// Two objects on one caller's buffer, which has no slack after it; width 5
// at 24 bits leaves padding at the end of each row.
TEST_F(Filters, ASourceOnTheSamePixelsIsReadBeforeItIsOverwritten) {
  kt::GuardedImage g(24, 5, 6);
  TestDib2 x(&g.header, g.Bits());
  TestDib2 y(&g.header, g.Bits());
  kt::FillRandom(x, 5);
  std::vector<BYTE> expected = ExpectedMedian(y, x);
  ASSERT_TRUE(x.Median3x3(y));
  EXPECT_EQ(kt::Pixels(x), expected);
  expected.clear();
  for (int r = 5; r >= 0; --r) expected.insert(expected.end(), g.bytes.begin() + 16 * r, g.bytes.begin() + 16 * r + 15);
  ASSERT_TRUE(x.Mirror(0, 1, y));
  EXPECT_EQ(kt::RowBytes(x), expected);
  EXPECT_TRUE(g.GuardIntact());
}

TEST_F(Filters, RefusalsAndEmptyImages) {
  TestDib2 empty;
  EXPECT_FALSE(empty.AdjustBrightness(0));
  EXPECT_FALSE(empty.Median3x3(empty));
  // (bits, width, height, result; target bits, width, height for the median):
  // a sharer's pixels stay as they were after a refusal or on an empty image.
  for (auto [bits, w, h, result, db, dw, dh] : {std::tuple<WORD, int, int, bool, WORD, int, int>{16, 5, 5, false, 16, 5, 5},
                                                {24, 0, 4, true, 24, 0, 4}, {32, 4, 0, true, 32, 4, 0},
                                                {24, 5, 5, true, 32, 5, 5}, {24, 5, 5, true, 24, 4, 5},
                                                {24, 5, 5, true, 24, 5, 6}}) {
    TestDib2 pic;
    ASSERT_TRUE(kt::CreateRandom(pic, bits, w, h, 1, bits));
    TestDib2 sharer;
    sharer = pic;
    const std::vector<BYTE> before = kt::Pixels(pic);
    EXPECT_EQ(sharer.AdjustBrightness(128), result) << bits;
    TestDib2 dst;
    ASSERT_TRUE(kt::CreateRandom(dst, db, dw, dh, 1, 9));
    EXPECT_EQ(dst.Median3x3(pic), result && db == bits && dw == w && dh == h) << bits;
    EXPECT_EQ(kt::Pixels(sharer), before);
  }
  // Attached with a negative width: refused before any copy, which could not
  // hold such an image. Attached top-down: brightness changes no row, the
  // median takes over the first stored row only.
  kt::GuardedImage in(24, 4, 3);
  kt::GuardedImage out(24, 4, 3);
  kt::FillNoise(in.Bits(), 36, 7);
  TestDib2 from(&in.header, in.Bits());
  TestDib2 to(&out.header, out.Bits());
  const std::vector<BYTE> original = in.bytes;
  in.header.biWidth = -4;
  {
    TestDib2 sharer(from);
    EXPECT_FALSE(sharer.AdjustBrightness(0));
    EXPECT_FALSE(sharer.Median3x3(from));
  }
  EXPECT_EQ(in.bytes, original);
  in.header.biWidth = 4;
  in.header.biHeight = out.header.biHeight = -3;
  std::vector<BYTE> expected = out.bytes;
  EXPECT_TRUE(to.AdjustBrightness(0));
  EXPECT_EQ(out.bytes, expected);
  std::copy_n(in.bytes.begin(), 12, expected.begin());
  EXPECT_TRUE(to.Median3x3(from));
  EXPECT_EQ(out.bytes, expected);
}

}  // namespace
