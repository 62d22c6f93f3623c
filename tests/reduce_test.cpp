// Quarter and eighth reductions: rounded block and field means against a plain
// rendering of the formula, the result's geometry, refusals, untouched bytes.

#include "test_support.h"

#include <algorithm>
#include <utility>

namespace {

using kt::TestDib;

// Rounded mean (sum + n/2) / n of each output byte over the source pixels it
// covers: factor x factor blocks (field 0), or only the odd stored rows (field
// 1) or the even ones (field 2): one row per quarter row, rows r and r + 2 per
// eighth row.
std::vector<BYTE> ExpectedReduction(const CRZDIBBase2& src, int factor, int field) {
  const int bpp = src.DIBBitCount() / 8;
  const int stride = kt::Stride(src.DIBBitCount(), src.DIBWidth());
  std::vector<BYTE> out;
  for (int y = 0; y < src.DIBHeight() / factor; ++y) {
    std::vector<int> rows;
    for (int i = 0; i < factor; ++i) rows.push_back(factor * y + i);
    if (field != 0) rows = {factor * y + (field == 1), factor * y + (field == 1) + 2};
    if (field != 0 && factor == 2) rows.pop_back();
    for (int x = 0; x < src.DIBWidth() / factor; ++x) {
      for (int c = 0; c < bpp; ++c) {
        int sum = 0;
        for (int r : rows) {
          for (int j = 0; j < factor; ++j) sum += src.GetBytes()[r * stride + (factor * x + j) * bpp + c];
        }
        const int n = static_cast<int>(rows.size()) * factor;
        out.push_back(static_cast<BYTE>((sum + n / 2) / n));
      }
    }
  }
  return out;
}

TEST(Reduce, MatchesTheRoundedMeansOnRandomImages) {
  kt::RandomSizes random(31);
  for (int i = 0; i < 300; ++i) {
    const WORD bits = random.Between(0, 1) ? 32 : 24;
    const int w = random.Between(0, 27);
    const int h = random.Between(0, 27);
    const DWORD flag = random.Between(0, 3);  // bit 0 clear: interlaced, field 1 only
    TestDib src;
    ASSERT_TRUE(kt::CreateRandom(src, bits, w, h, flag, random.Seed()));
    SCOPED_TRACE(testing::Message() << bits << " bits " << w << "x" << h << " flag " << flag);
    const int field = (flag & 1) ? 0 : 1;
    TestDib quarter;
    TestDib eighth;
    ASSERT_TRUE(quarter.CreateQuarter(src));
    ASSERT_TRUE(eighth.CreateEighth(src));
    EXPECT_EQ(quarter.DIBWidth(), w / 2);
    EXPECT_EQ(eighth.DIBHeight(), h / 4);
    EXPECT_EQ(kt::RowBytes(quarter), ExpectedReduction(src, 2, field));
    EXPECT_EQ(kt::RowBytes(eighth), ExpectedReduction(src, 4, field));
    // Selectors of 2 and more take field 0.
    ASSERT_TRUE(quarter._GetQuarterDIB(src, 2 + i % 3));
    ASSERT_TRUE(eighth._GetEighthDIB(src, 2 + i % 3));
    EXPECT_EQ(kt::RowBytes(quarter), ExpectedReduction(src, 2, 2));
    EXPECT_EQ(kt::RowBytes(eighth), ExpectedReduction(src, 4, 2));
  }
}

TEST(Reduce, ResultGeometryAndRefusals) {
  TestDib src;
  TestDib dst;
  ASSERT_TRUE(src.Create(32, 6, 6, 0));
  src.ncbwSetAlphaFlag(3);
  src.GetRzBmiHeader()->biXPelsPerMeter = 2835;
  ASSERT_TRUE(dst.CreateQuarter(src));  // a fresh progressive header, nothing carried over
  const tagRZBMINFOHEADER expected = kt::MakeHeader(32, 3, 3, 1);
  EXPECT_EQ(std::memcmp(dst.GetRzBmiHeader(), &expected, sizeof expected), 0);

  ASSERT_TRUE(src.Create(8, 6, 6, 1));
  EXPECT_FALSE(dst.CreateQuarter(src));  // keeps the reduced 8-bit geometry
  EXPECT_EQ(dst.DIBBitCount(), 8);
  EXPECT_FALSE(dst.CreateEighth(TestDib()));  // an empty source empties this object
  EXPECT_FALSE(dst.IsValidDIB());

  ASSERT_TRUE(src.Create(24, 6, 6, 1));
  ASSERT_TRUE(dst.Create(24, 3, 2, 1));  // a worker checks the reduced geometry
  EXPECT_FALSE(dst._GetQuarterDIB(src, 0));
}

TEST(Reduce, AttachedTargetsGetNoPaddingWrittenAndNegativeWidthsNothing) {
  // Width 5 at 24 bits: one padding byte per row. (The guard-page kernel tests
  // catch reads and writes beyond the image.)
  for (int factor : {2, 4}) {
    TestDib src;
    ASSERT_TRUE(kt::CreateRandom(src, 24, 6 * factor - 1, 3 * factor + 1, 1, 40 + factor));
    kt::GuardedImage dst(24, 5, 3);
    TestDib out(&dst.header, dst.Bits());
    ASSERT_TRUE(factor == 2 ? out._GetQuarterDIB(src, 0) : out._GetEighthDIB(src, 0));
    EXPECT_EQ(kt::RowBytes(out), ExpectedReduction(src, factor, 0));
    for (int r = 0; r < 3; ++r) EXPECT_EQ(dst.bytes[r * 16 + 15], kt::GuardedImage::kGuardByte);
    EXPECT_TRUE(dst.GuardIntact());
  }
  kt::GuardedImage src(24, 8, 4);
  kt::GuardedImage dst(24, 4, 2);
  TestDib in(&src.header, src.Bits());
  TestDib out(&dst.header, dst.Bits());
  src.header.biWidth = -8;
  EXPECT_FALSE(out._GetQuarterDIB(in, 0));
  dst.header.biWidth = -4;
  EXPECT_FALSE(out._GetQuarterDIB(in, 0));
  EXPECT_TRUE(std::all_of(dst.bytes.begin(), dst.bytes.end(),
                          [](BYTE b) { return b == kt::GuardedImage::kGuardByte; }));
  src.header.biWidth = -1;  // halves to width 0, still refused
  TestDib fresh;
  EXPECT_FALSE(fresh.CreateQuarter(in));
}

TEST(Reduce, FromItselfReadsItsFormerPixels) {
  const int blocks = kt::CountingDib::liveBlocks;
  kt::CountingDib dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 32, 9, 7, 1, 12));
  TestDib copy;
  copy.AssignCopy(dib);
  ASSERT_TRUE(dib.CreateQuarter(dib));
  EXPECT_EQ(kt::RowBytes(dib), ExpectedReduction(copy, 2, 0));
  EXPECT_EQ(kt::CountingDib::liveBlocks, blocks + 1);  // the old block is gone
}

}  // namespace
