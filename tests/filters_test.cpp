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
  // (level, offset subtracted from every colour value)
  for (auto [level, offset] : std::array<std::pair<int, int>, 11>{
           {{128, 0}, {0, -128}, {200, 72}, {255, 127}, {1000, 127}, {-50, -128}, {256, 127},
            {-1, -128}, {INT_MAX, 127}, {INT_MIN, -128}, {INT_MIN + 127, -128}}}) {
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

TEST_F(Filters, RefusalsAndEmptyImages) {
  TestDib2 empty;
  EXPECT_FALSE(empty.AdjustBrightness(0));
  EXPECT_FALSE(empty.Median3x3(empty));
  // (bits, width, height, brightness result, median result): a sharer's
  // pixels stay as they were after a refusal or on an empty image.
  for (auto [bits, w, h, brightness, median] : {std::tuple<WORD, int, int, bool, bool>{16, 5, 5, false, false},
                                                {24, 0, 4, true, true}, {32, 4, 0, true, true}}) {
    TestDib2 pic;
    ASSERT_TRUE(kt::CreateRandom(pic, bits, w, h, 1, bits));
    TestDib2 sharer;
    sharer = pic;
    const std::vector<BYTE> before = kt::Pixels(pic);
    EXPECT_EQ(sharer.AdjustBrightness(0), brightness) << bits;
    EXPECT_EQ(sharer.Median3x3(pic), median) << bits;
    EXPECT_EQ(kt::Pixels(sharer), before);
  }
  TestDib2 src;
  ASSERT_TRUE(src.Create(24, 5, 5, 1));
  for (auto [bits, w, h] : {std::tuple<WORD, int, int>{32, 5, 5}, {24, 4, 5}, {24, 5, 6}}) {
    TestDib2 dst;
    ASSERT_TRUE(dst.Create(bits, w, h, 1));
    EXPECT_FALSE(dst.Median3x3(src));
  }
  // Attached with a negative width: refused before any copy, which could not hold such an image.
  kt::GuardedImage in(24, 4, 3);
  in.header.biWidth = -4;
  TestDib2 s(&in.header, in.Bits());
  const std::vector<BYTE> before = in.bytes;
  TestDib2 sharer(s);
  EXPECT_FALSE(sharer.AdjustBrightness(0));
  EXPECT_FALSE(sharer.Median3x3(s));
  EXPECT_EQ(in.bytes, before);
  // Attached top-down: brightness changes no row, the median takes over the first stored row only.
  kt::GuardedImage down(24, 4, 3);
  kt::GuardedImage out(24, 4, 3);
  down.header.biHeight = out.header.biHeight = -3;
  kt::FillNoise(down.Bits(), 36, 7);
  TestDib2 from(&down.header, down.Bits());
  TestDib2 to(&out.header, out.Bits());
  std::vector<BYTE> expected = out.bytes;
  EXPECT_TRUE(to.AdjustBrightness(0));
  EXPECT_EQ(out.bytes, expected);
  std::copy_n(down.bytes.begin(), 12, expected.begin());
  EXPECT_TRUE(to.Median3x3(from));
  EXPECT_EQ(out.bytes, expected);
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
    const std::vector<BYTE> before = kt::Pixels(src);
    const std::vector<BYTE> expected = ExpectedMedian(src, dst);
    ASSERT_TRUE(dst.Median3x3(src));
    EXPECT_EQ(kt::Pixels(dst), expected) << bits << " bits " << w << "x" << h;
    EXPECT_EQ(kt::Pixels(src), before);
  }
}

TEST_F(Filters, MedianFromASourceOnTheSamePixels) {
  TestDib2 a;
  ASSERT_TRUE(kt::CreateRandom(a, 24, 9, 7, 1, 4));
  const std::vector<BYTE> expected = ExpectedMedian(a, a);
  ASSERT_TRUE(a.Median3x3(a));
  EXPECT_EQ(kt::Pixels(a), expected);

  // Two objects on one caller's buffer.
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

}  // namespace
