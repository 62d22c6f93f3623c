// Quarter and eighth reductions: rounded block and field means against a plain
// rendering of the formula, geometry of the result, refusals, and bytes that
// must stay untouched.

#include "test_support.h"

#include <algorithm>

namespace {

using kt::TestDib;

// Rounded mean (sum + n/2) / n of each output byte over the source pixels it
// covers: `factor` x `factor` blocks, or within one field only the odd stored
// rows (field 1) or the even ones (field 2), one row per quarter output row
// and two (r, r + 2) per eighth output row.
std::vector<BYTE> ExpectedReduction(const CRZDIBBase2& src, int factor, int field) {
  const int bpp = src.DIBBitCount() / 8;
  const int stride = kt::Stride(src.DIBBitCount(), src.DIBWidth());
  const int w = src.DIBWidth() / factor;
  const int h = src.DIBHeight() / factor;
  std::vector<BYTE> out;
  for (int y = 0; y < h; ++y) {
    std::vector<int> rows;
    if (field == 0) {
      for (int i = 0; i < factor; ++i) rows.push_back(factor * y + i);
    } else {
      const int first = factor * y + (field == 1 ? 1 : 0);
      rows.push_back(first);
      if (factor == 4) rows.push_back(first + 2);
    }
    for (int x = 0; x < w; ++x) {
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
    const DWORD interlaced = random.Between(0, 3);  // 1 and 3: progressive
    TestDib src;
    ASSERT_TRUE(src.Create(bits, w, h, interlaced));
    kt::FillRandom(src, random.Seed());
    const int field = (interlaced & 1) ? 0 : 1;
    SCOPED_TRACE(testing::Message() << bits << " bits " << w << "x" << h << " flag " << interlaced);

    TestDib quarter;
    ASSERT_TRUE(quarter.CreateQuarter(src));
    EXPECT_EQ(quarter.DIBWidth(), w / 2);
    EXPECT_EQ(quarter.DIBHeight(), h / 2);
    EXPECT_EQ(kt::RowBytes(quarter), ExpectedReduction(src, 2, field));

    TestDib eighth;
    ASSERT_TRUE(eighth.CreateEighth(src));
    EXPECT_EQ(eighth.DIBWidth(), w / 4);
    EXPECT_EQ(eighth.DIBHeight(), h / 4);
    EXPECT_EQ(kt::RowBytes(eighth), ExpectedReduction(src, 4, field));
  }
}

TEST(Reduce, FieldSelectorsAboveOneUseField0) {
  TestDib src;
  ASSERT_TRUE(src.Create(24, 13, 11, 1));
  kt::FillRandom(src, 5);
  for (int nField : {2, 9}) {
    TestDib quarter;
    ASSERT_TRUE(quarter.Create(24, 6, 5, 1));
    ASSERT_TRUE(quarter._GetQuarterDIB(src, nField));
    EXPECT_EQ(kt::RowBytes(quarter), ExpectedReduction(src, 2, 2));
    TestDib eighth;
    ASSERT_TRUE(eighth.Create(24, 3, 2, 1));
    ASSERT_TRUE(eighth._GetEighthDIB(src, nField));
    EXPECT_EQ(kt::RowBytes(eighth), ExpectedReduction(src, 4, 2));
  }
  TestDib box;  // and negative selectors average whole blocks
  ASSERT_TRUE(box.Create(24, 6, 5, 1));
  ASSERT_TRUE(box._GetQuarterDIB(src, -3));
  EXPECT_EQ(kt::RowBytes(box), ExpectedReduction(src, 2, 0));
}

TEST(Reduce, HalvesRoundUpInEveryByteOfThePixel) {
  // Byte 0 and byte 3 (alpha) of the four pixels of a progressive 2 x 2 block.
  const struct {
    BYTE v[4];
    BYTE mean;
  } cases[] = {{{0, 1, 1, 1}, 1}, {{0, 0, 0, 1}, 0}, {{0, 0, 1, 1}, 1}, {{255, 255, 255, 254}, 255}};
  for (const auto& c : cases) {
    TestDib src;
    ASSERT_TRUE(src.Create(32, 2, 2, 1));
    src.ClearDIB(0);
    for (int p = 0; p < 4; ++p) {
      src.GetBytes()[4 * p] = c.v[p];
      src.GetBytes()[4 * p + 3] = c.v[p];
    }
    TestDib dst;
    ASSERT_TRUE(dst.CreateQuarter(src));
    EXPECT_EQ(dst.GetBytes()[0], c.mean);
    EXPECT_EQ(dst.GetBytes()[3], c.mean);
  }
}

TEST(Reduce, InterlacedSourceStaysWithinField1) {
  // Each stored row r holds the value 10 r; interlaced means use rows 1, 3
  // (and 5, 7), progressive ones the whole 4 x 4 block.
  TestDib src;
  ASSERT_TRUE(src.Create(24, 8, 8, 0));
  for (int r = 0; r < 8; ++r) std::memset(src.GetBytes() + r * 24, 10 * r, 24);
  TestDib eighth;
  ASSERT_TRUE(eighth.CreateEighth(src));
  EXPECT_EQ(eighth.GetBytes()[0], 20);
  EXPECT_EQ(eighth.GetBytes()[8], 60);  // output row 1, stride 8
  TestDib quarter;
  ASSERT_TRUE(quarter.CreateQuarter(src));
  EXPECT_EQ(quarter.GetBytes()[0], 10);  // row 1 only; row 0 has no influence

  src.SetInterlacedFlag(1);
  ASSERT_TRUE(eighth.CreateEighth(src));
  EXPECT_EQ(eighth.GetBytes()[0], 15);
  EXPECT_EQ(eighth.GetBytes()[8], 55);
}

TEST(Reduce, ResultIsAFreshProgressiveHeader) {
  TestDib src;
  ASSERT_TRUE(src.Create(32, 6, 6, 0));
  kt::FillRandom(src, 8);
  src.ncbwSetAlphaFlag(3);
  src.GetRzBmiHeader()->biXPelsPerMeter = 2835;
  TestDib dst;
  ASSERT_TRUE(dst.CreateQuarter(src));
  const tagRZBMINFOHEADER expected = kt::MakeHeader(32, 3, 3, 1);
  EXPECT_EQ(std::memcmp(dst.GetRzBmiHeader(), &expected, sizeof expected), 0);
  EXPECT_TRUE(dst.IsNonInterlaced());
}

TEST(Reduce, ZeroSizesSucceedWithoutWork) {
  TestDib src;
  TestDib dst;
  ASSERT_TRUE(src.Create(24, 1, 1, 1));
  EXPECT_TRUE(dst.CreateQuarter(src));
  EXPECT_EQ(dst.DIBWidth(), 0);
  ASSERT_TRUE(src.Create(32, 3, 3, 1));
  EXPECT_TRUE(dst.CreateEighth(src));
  EXPECT_EQ(dst.DIBHeight(), 0);
  ASSERT_TRUE(src.Create(24, 1, 10, 1));
  EXPECT_TRUE(dst.CreateQuarter(src));
  EXPECT_EQ(dst.DIBHeight(), 5);
  EXPECT_TRUE(dst.CreateEighth(src));
  EXPECT_EQ(dst.DIBHeight(), 2);
}

TEST(Reduce, RefusesWhatItCannotReduce) {
  TestDib src;
  TestDib dst;
  ASSERT_TRUE(dst.Create(24, 4, 4, 1));
  EXPECT_FALSE(dst.CreateQuarter(src));  // empty source empties the destination
  EXPECT_FALSE(dst.IsValidDIB());

  ASSERT_TRUE(src.Create(8, 6, 6, 1));
  EXPECT_FALSE(dst.CreateQuarter(src));  // keeps the reduced 8-bit geometry
  EXPECT_EQ(dst.DIBBitCount(), 8);
  EXPECT_EQ(dst.DIBWidth(), 3);

  ASSERT_TRUE(src.Create(24, 6, 6, 1));
  ASSERT_TRUE(dst.Create(24, 3, 2, 1));  // wrong height, then wrong depth
  EXPECT_FALSE(dst._GetQuarterDIB(src, 0));
  ASSERT_TRUE(dst.Create(32, 3, 3, 1));
  EXPECT_FALSE(dst._GetQuarterDIB(src, 0));
}

TEST(Reduce, NegativeWidthsAreRefusedBeforeAnyWrite) {
  kt::GuardedImage src(24, 8, 4);
  kt::GuardedImage dst(24, 4, 2);
  TestDib in(&src.header, src.Bits());
  TestDib out(&dst.header, dst.Bits());
  src.header.biWidth = -8;
  dst.header.biWidth = -4;
  EXPECT_FALSE(out._GetQuarterDIB(in, 0));
  dst.header.biWidth = 4;
  EXPECT_FALSE(out._GetQuarterDIB(in, 0));
  EXPECT_TRUE(std::all_of(dst.bytes.begin(), dst.bytes.end(),
                          [](BYTE b) { return b == kt::GuardedImage::kGuardByte; }));
  src.header.biWidth = -1;  // halves to width 0, still refused
  TestDib fresh;
  EXPECT_FALSE(fresh.CreateQuarter(in));
}

TEST(Reduce, WritesNeitherPaddingNorPastTheImage) {
  // Width 5 at 24 bits: one padding byte per row. The source is an exact
  // buffer, so a read past its last byte is caught by the address sanitizer.
  for (int factor : {2, 4}) {
    TestDib src;
    ASSERT_TRUE(src.Create(24, 5 * factor + factor - 1, 3 * factor + 1, 1));
    kt::FillRandom(src, 40 + factor);
    std::vector<BYTE> exact = kt::Pixels(src);
    tagRZBMINFOHEADER srcHeader = *src.GetRzBmiHeader();
    TestDib in(&srcHeader, exact.data());

    kt::GuardedImage dst(24, 5, 3);
    TestDib out(&dst.header, dst.Bits());
    ASSERT_TRUE(factor == 2 ? out._GetQuarterDIB(in, 0) : out._GetEighthDIB(in, 0));
    EXPECT_EQ(kt::RowBytes(out), ExpectedReduction(in, factor, 0));
    for (int r = 0; r < 3; ++r) EXPECT_EQ(dst.bytes[r * 16 + 15], kt::GuardedImage::kGuardByte);
    EXPECT_TRUE(dst.GuardIntact());
  }
}

TEST(Reduce, FromItselfReadsItsFormerPixels) {
  kt::CountingDib::liveBlocks = 0;
  {
    kt::CountingDib dib;
    ASSERT_TRUE(dib.Create(32, 9, 7, 1));
    kt::FillRandom(dib, 12);
    TestDib copy;
    copy.AssignCopy(dib);
    ASSERT_TRUE(dib.CreateQuarter(dib));
    EXPECT_EQ(kt::RowBytes(dib), ExpectedReduction(copy, 2, 0));
    EXPECT_EQ(kt::CountingDib::liveBlocks, 1);  // the old block is gone
  }
  EXPECT_EQ(kt::CountingDib::liveBlocks, 0);
}

}  // namespace
