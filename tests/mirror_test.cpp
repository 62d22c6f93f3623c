// Mirroring: every direction at 24, 32 and 64 bits against a plain rendering,
// refusals, sharing, and a source that lies on this object's own pixels.

#include "test_support.h"

#include <array>

namespace {

using kt::TestDib;

std::vector<BYTE> ExpectedMirror(const CRZDIBBase2& src, bool h, bool v) {
  const int bpp = src.DIBBitCount() / 8;
  const int w = src.DIBWidth();
  const int rows = src.DIBHeight();
  const int stride = kt::Stride(src.DIBBitCount(), w);
  std::vector<BYTE> out;
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < w; ++x) {
      const BYTE* p = src.GetBytes() + (v ? rows - 1 - y : y) * stride + (h ? w - 1 - x : x) * bpp;
      out.insert(out.end(), p, p + bpp);
    }
  }
  return out;
}

TEST(Mirror, MatchesTheRenderingOnRandomImages) {
  kt::RandomSizes random(23);
  for (int i = 0; i < 200; ++i) {
    const WORD bits = std::array<WORD, 3>{24, 32, 64}[random.Between(0, 2)];
    const int w = random.Between(1, 21);
    const int h = random.Between(1, 21);
    // Any non-zero value requests the flip.
    const int horizontal = std::array{0, 1, -1, 7}[random.Between(0, 3)];
    const int vertical = std::array{0, 1, -5, 2}[random.Between(0, 3)];
    TestDib src;
    ASSERT_TRUE(kt::CreateRandom(src, bits, w, h, 1, random.Seed()));
    const auto before = kt::Pixels(src);
    TestDib dst;
    ASSERT_TRUE(dst.Create(bits, w, h, 0));
    if (i % 4 == 0) dst = src;  // a destination sharing the source's block gets one of its own
    ASSERT_TRUE(dst.Mirror(horizontal, vertical, src));
    EXPECT_EQ(kt::RowBytes(dst), ExpectedMirror(src, horizontal != 0, vertical != 0))
        << bits << " bits " << w << "x" << h << " " << horizontal << "," << vertical;
    EXPECT_EQ(kt::Pixels(src), before);
    EXPECT_EQ(src.Refs(), 1);
  }
}

TEST(Mirror, RefusesOtherDepthsMismatchesAndEmptySides) {
  // (source bits, height; this object's bits, height), all 6 wide: refused, pixels unchanged.
  for (auto [sb, sh, db, dh] : {std::tuple{8, 3, 8, 3}, std::tuple{16, 3, 16, 3},
                                std::tuple{24, 3, 24, 4}, std::tuple{24, 3, 32, 3}}) {
    TestDib src;
    TestDib dst;
    ASSERT_TRUE(src.Create(static_cast<WORD>(sb), 6, sh, 1));
    ASSERT_TRUE(kt::CreateRandom(dst, static_cast<WORD>(db), 6, dh, 1, 2));
    const auto before = kt::Pixels(dst);
    EXPECT_FALSE(dst.Mirror(1, 1, src)) << sb << " bits into " << db;
    EXPECT_FALSE(dst.Mirror(1, 0, TestDib()));
    EXPECT_EQ(kt::Pixels(dst), before);
  }
}

TEST(Mirror, SourceOnTheSamePixelsIsReadBeforeItIsOverwritten) {
  TestDib dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 32, 7, 5, 1, 4));
  TestDib original;
  original.AssignCopy(dib);
  ASSERT_TRUE(dib.Mirror(1, 1, dib));
  EXPECT_EQ(kt::RowBytes(dib), ExpectedMirror(original, true, true));

  // Two objects attached to one caller's buffer, which has no slack after
  // it; width 5 at 24 bits leaves padding at the end of each row.
  kt::GuardedImage image(24, 5, 6);
  TestDib a(&image.header, image.Bits());
  TestDib b(&image.header, image.Bits());
  kt::FillRandom(a, 6);
  TestDib before;
  before.AssignCopy(b);
  ASSERT_TRUE(a.Mirror(0, 1, b));
  EXPECT_EQ(kt::RowBytes(a), ExpectedMirror(before, false, true));
  EXPECT_TRUE(image.GuardIntact());
}

}  // namespace
