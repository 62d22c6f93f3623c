// Nearest-neighbour scaling: the centre walk against floor((2i + 1) S / 2D),
// whole images against a plain sampler, row modes, the in-place resize, and
// the tables' lifetime on every path.

#include "test_support.h"

#include <algorithm>
#include <cstdint>
#include <tuple>

namespace {

using kt::CountingDib;
using kt::TestDib;

// Source cell holding the centre of destination cell i of d over s cells.
int Centre(int i, int d, int s) {
  return static_cast<int>((2 * std::int64_t{i} + 1) * s / (2 * std::int64_t{d}));
}

// Source row of destination row y, one field only when rowMode >= 0.
int SourceRow(int y, int d, int s, int rowMode) {
  const int j = Centre(y, d, s);
  if (rowMode < 0) return j;
  return rowMode == 0 ? std::min((j / 2) * 2 + 1, s - 1) : (j / 2) * 2;
}

std::vector<LONG> Table(const LONG* p, int n) { return std::vector<LONG>(p, p + n); }

// Builds tables through the protected step and frees them again.
struct Tables {
  std::vector<LONG> columns;
  std::vector<LONG> rows;
};
Tables Walk(int dw, int dh, int sw, int sh, int rowMode) {
  TestDib dib;
  EXPECT_TRUE(dib._InitScaling(dw, dh, sw, sh, rowMode));
  Tables t{Table(dib.ColumnMap(), dw), Table(dib.RowMap(), dh)};
  dib._DeleteScaling();
  EXPECT_EQ(dib.ColumnMap(), nullptr);
  EXPECT_EQ(dib.RowMap(), nullptr);
  return t;
}

std::vector<BYTE> ExpectedScaled(const CRZDIBBase2& src, int w, int h, int rowMode) {
  const int bpp = src.DIBBitCount() / 8;
  const int stride = kt::Stride(src.DIBBitCount(), src.DIBWidth());
  std::vector<BYTE> out;
  for (int y = 0; y < h; ++y) {
    const int r = SourceRow(y, h, src.DIBHeight(), rowMode);
    for (int x = 0; x < w; ++x) {
      const BYTE* p = src.GetBytes() + r * stride + Centre(x, w, src.DIBWidth()) * bpp;
      out.insert(out.end(), p, p + bpp);
    }
  }
  return out;
}

TEST(Scale, CentreWalkIsTheCentreFormula) {
  for (int d = 1; d <= 48; ++d) {
    for (int s = 1; s <= 48; ++s) {
      for (int mode : {-1, 0, 1}) {
        const Tables t = Walk(s, d, d, s, mode);  // columns d -> s, rows s -> d
        for (int i = 0; i < s; ++i) ASSERT_EQ(t.columns[i], Centre(i, s, d)) << d << " " << s;
        for (int i = 0; i < d; ++i) ASSERT_EQ(t.rows[i], SourceRow(i, d, s, mode)) << d << " " << s;
      }
    }
  }
  kt::RandomSizes random(3);
  for (int k = 0; k < 50; ++k) {
    const int d = random.Between(1, 5000);
    const int s = random.Between(1, 5000);
    const Tables t = Walk(d, 1, s, 1, -1);
    for (int i = 0; i < d; ++i) ASSERT_EQ(t.columns[i], Centre(i, d, s)) << d << " " << s;
  }
}

TEST(Scale, CentreWalkExamplesAndTies) {
  EXPECT_EQ(Walk(4, 0, 3, 0, -1).columns, (std::vector<LONG>{0, 1, 1, 2}));
  EXPECT_EQ(Walk(3, 0, 4, 0, -1).columns, (std::vector<LONG>{0, 2, 3}));
  // Centres exactly on a boundary take the later source cell.
  EXPECT_EQ(Walk(1, 0, 2, 0, -1).columns, (std::vector<LONG>{1}));
  EXPECT_EQ(Walk(3, 0, 2, 0, -1).columns, (std::vector<LONG>{0, 1, 1}));
  EXPECT_EQ(Walk(2, 0, 4, 0, -1).columns, (std::vector<LONG>{1, 3}));
  EXPECT_EQ(Walk(0, 3, 0, 5, 0).rows, (std::vector<LONG>{1, 3, 4}));
  EXPECT_EQ(Walk(0, 3, 0, 5, 1).rows, (std::vector<LONG>{0, 2, 4}));
}

TEST(Scale, MatchesTheSamplerOnRandomImages) {
  kt::RandomSizes random(17);
  for (int i = 0; i < 300; ++i) {
    const WORD bits = random.Between(0, 1) ? 32 : 24;
    const int sw = random.Between(1, 29);
    const int sh = random.Between(1, 29);
    const int w = random.Between(1, 41);
    const int h = random.Between(1, 41);
    const DWORD srcFlag = random.Between(0, 1);
    const DWORD dstFlag = random.Between(0, 1);
    TestDib src;
    ASSERT_TRUE(src.Create(bits, sw, sh, srcFlag));
    kt::FillRandom(src, random.Seed());
    SCOPED_TRACE(testing::Message() << bits << " bits " << sw << "x" << sh << " -> " << w << "x"
                                    << h << " flags " << srcFlag << dstFlag);

    TestDib dst;
    ASSERT_TRUE(dst.CreateScaled(src, w, h, dstFlag));
    EXPECT_EQ(dst.GetInterlacedFlag(), dstFlag);
    const bool sameSize = sw == w && sh == h;
    const int mode = (dstFlag & 1) && !(srcFlag & 1) && !sameSize ? 0 : -1;
    EXPECT_EQ(kt::RowBytes(dst), ExpectedScaled(src, w, h, mode));
    EXPECT_EQ(dst.ColumnMap(), nullptr);

    TestDib inPlace;
    inPlace.AssignCopy(src);
    ASSERT_TRUE(inPlace.Scale(w, h));
    EXPECT_EQ(kt::RowBytes(inPlace), ExpectedScaled(src, w, h, -1));
  }
}

// Stored rows a scaled 1-pixel-wide image took, when source row r holds r.
std::vector<int> RowsTaken(const CRZDIBBase2& dib) {
  std::vector<int> rows;
  for (int y = 0; y < dib.DIBHeight(); ++y) rows.push_back(dib.GetBytes()[y * 4]);
  return rows;
}

TEST(Scale, InterlacedSourceIntoProgressiveUsesField1) {
  for (int sh : {5, 4}) {
    TestDib src;
    ASSERT_TRUE(src.Create(24, 1, sh, 0));
    for (int r = 0; r < sh; ++r) src.GetBytes()[r * 4] = static_cast<BYTE>(r);
    const int h = sh == 5 ? 3 : 6;
    TestDib one;
    TestDib all;
    ASSERT_TRUE(one.CreateScaled(src, 1, h, 1));
    ASSERT_TRUE(all.CreateScaled(src, 1, h));
    if (sh == 5) {
      EXPECT_EQ(RowsTaken(one), (std::vector<int>{1, 3, 4}));
      EXPECT_EQ(RowsTaken(all), (std::vector<int>{0, 2, 4}));
    } else {
      EXPECT_EQ(RowsTaken(one), (std::vector<int>{1, 1, 1, 3, 3, 3}));
      EXPECT_EQ(RowsTaken(all), (std::vector<int>{0, 1, 1, 2, 3, 3}));
    }
  }
}

TEST(Scale, SameSizeCopiesAnyDepthOtherSizesOnly24And32) {
  for (WORD bits : {1, 8, 16, 24, 32, 64}) {
    TestDib src;
    ASSERT_TRUE(src.Create(bits, 7, 3, 1));
    kt::FillRandom(src, bits);
    TestDib dst;
    ASSERT_TRUE(dst.CreateScaled(src, 7, 3));
    EXPECT_EQ(kt::Pixels(dst), kt::Pixels(src)) << bits;  // padding included

    const bool resizable = bits == 24 || bits == 32;
    EXPECT_EQ(dst.CreateScaled(src, 5, 4), resizable) << bits;
    EXPECT_EQ(dst.IsValidDIB(), resizable) << bits;  // a failure empties it

    TestDib inPlace(src);
    CRzDibBaseData2* block = inPlace.Data();
    EXPECT_EQ(inPlace.Scale(5, 4), resizable) << bits;
    if (!resizable) {
      EXPECT_EQ(inPlace.Data(), block);
      EXPECT_EQ(inPlace.Refs(), 2);
      EXPECT_EQ(inPlace.DIBWidth(), 7);
    }
  }
}

TEST(Scale, ZeroSizes) {
  TestDib src;
  ASSERT_TRUE(src.Create(24, 4, 4, 1));
  TestDib dst;
  EXPECT_TRUE(dst.CreateScaled(src, 0, 5));
  EXPECT_EQ(dst.DIBWidth(), 0);
  EXPECT_TRUE(dst.CreateScaled(src, 6, 0));
  EXPECT_EQ(dst.DIBHeight(), 0);

  TestDib empty;
  ASSERT_TRUE(empty.Create(24, 0, 4, 1));
  EXPECT_FALSE(dst.CreateScaled(empty, 3, 3));
  EXPECT_FALSE(dst.IsValidDIB());
  ASSERT_TRUE(empty.Create(32, 4, 0, 1));
  EXPECT_FALSE(dst.CreateScaled(empty, 3, 3));
  EXPECT_FALSE(dst.CreateScaled(TestDib(), 3, 3));
}

TEST(Scale, ScaleIntoChecksTheTargetGeometry) {
  TestDib src;
  ASSERT_TRUE(src.Create(24, 9, 9, 1));
  kt::FillRandom(src, 2);
  for (auto [bits, w, h] : {std::tuple{24, 4, 5}, std::tuple{32, 4, 4}}) {
    TestDib dst;
    ASSERT_TRUE(dst.Create(static_cast<WORD>(bits), w, h, 1));
    kt::FillRandom(dst, 3);
    const auto before = kt::Pixels(dst);
    EXPECT_FALSE(dst.Scale(src, 4, 4));
    EXPECT_EQ(kt::Pixels(dst), before);
  }
}

TEST(Scale, InPlaceKeepsTheBlockWhenTheSizeIsTheSame) {
  TestDib a;
  ASSERT_TRUE(a.Create(32, 6, 6, 1));
  TestDib b(a);
  EXPECT_TRUE(a.Scale(6, 6));
  EXPECT_EQ(a.Data(), b.Data());
  EXPECT_EQ(a.Refs(), 2);
}

TEST(Scale, InPlaceLeavesSharersAloneAndUsesItsOwnHooks) {
  CountingDib::liveBlocks = 0;
  CountingDib::liveBuffers = 0;
  {
    CountingDib a;
    ASSERT_TRUE(a.Create(24, 10, 7, 1));
    kt::FillRandom(a, 4);
    CountingDib b(a);
    const auto before = kt::Pixels(a);
    ASSERT_TRUE(a.Scale(4, 13));
    EXPECT_EQ(kt::Pixels(b), before);
    EXPECT_EQ(kt::RowBytes(a), ExpectedScaled(b, 4, 13, -1));
    EXPECT_EQ(a.Refs(), 1);
    EXPECT_EQ(b.Refs(), 1);
    EXPECT_EQ(CountingDib::liveBlocks, 2);  // the new block came through a's hooks
    ASSERT_TRUE(b.Scale(3, 3));             // sole owner: its old block is released
    EXPECT_EQ(CountingDib::liveBlocks, 2);
    EXPECT_EQ(CountingDib::liveBuffers, 2);
  }
  EXPECT_EQ(CountingDib::liveBlocks, 0);
  EXPECT_EQ(CountingDib::liveBuffers, 0);
}

TEST(Scale, InPlaceFailureLeavesTheObjectUnchanged) {
  CountingDib::liveBlocks = 0;
  CountingDib::liveBuffers = 0;
  {
    CountingDib dib;
    ASSERT_TRUE(dib.Create(32, 8, 8, 1));
    kt::FillRandom(dib, 6);
    const auto before = kt::Pixels(dib);
    CRzDibBaseData2* block = dib.Data();
    int failures = 0;
    for (int k = 0;; ++k) {
      bool ok = false;
      {
        kt::FailAllocations fail(k);
        ok = dib.Scale(5, 3);
      }
      EXPECT_EQ(dib.ColumnMap(), nullptr);
      EXPECT_EQ(dib.RowMap(), nullptr);
      if (ok) break;
      ++failures;
      EXPECT_EQ(dib.Data(), block);
      EXPECT_EQ(kt::Pixels(dib), before);
      EXPECT_EQ(CountingDib::liveBlocks, 1);
      ASSERT_LT(k, 10);
    }
    EXPECT_EQ(failures, 4);  // block, buffer, column table, row table
    EXPECT_EQ(dib.DIBWidth(), 5);
    EXPECT_EQ(CountingDib::liveBlocks, 1);
  }
  EXPECT_EQ(CountingDib::liveBlocks, 0);
}

TEST(Scale, TablesExistOnlyDuringTheCopy) {
  struct Watching : TestDib {
    int calls = 0;
    bool _DoScaling(const CRZDIBBase2& src) override {
      ++calls;
      EXPECT_NE(ColumnMap(), nullptr);
      EXPECT_NE(RowMap(), nullptr);
      return TestDib::_DoScaling(src);
    }
  };
  TestDib src;
  ASSERT_TRUE(src.Create(24, 8, 8, 1));
  Watching dst;
  ASSERT_TRUE(dst.CreateScaled(src, 3, 5));
  EXPECT_EQ(dst.calls, 1);
  EXPECT_EQ(dst.ColumnMap(), nullptr);
  ASSERT_TRUE(dst.Scale(src, 3, 5));
  EXPECT_EQ(dst.calls, 2);
  EXPECT_EQ(dst.RowMap(), nullptr);
}

TEST(Scale, RowOutsideTheSourceStopsTheCopy) {
  TestDib src;
  ASSERT_TRUE(src.Create(32, 1, 2, 1));
  src.ClearDIB(0x11111111u);
  TestDib dst;
  ASSERT_TRUE(dst.Create(32, 1, 3, 1));
  dst.ClearDIB(0u);
  ASSERT_TRUE(dst._InitScaling(1, 3, 1, 5, -1));  // rows 0, 2, 4 of a 2-row source
  EXPECT_FALSE(dst._DoScaling(src));
  dst._DeleteScaling();
  EXPECT_EQ(kt::Pixels(dst), (std::vector<BYTE>{0x11, 0x11, 0x11, 0x11, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(Scale, AttachedTargetIsWrittenOnlyWithinItsImage) {
  TestDib src;
  ASSERT_TRUE(src.Create(24, 11, 6, 1));
  kt::FillRandom(src, 9);
  kt::GuardedImage target(24, 5, 3);  // stride 16: the last row ends in padding
  TestDib dst(&target.header, target.Bits());
  ASSERT_TRUE(dst.Scale(src, 5, 3));
  EXPECT_EQ(kt::RowBytes(dst), ExpectedScaled(src, 5, 3, -1));
  EXPECT_TRUE(target.GuardIntact());
}

}  // namespace
