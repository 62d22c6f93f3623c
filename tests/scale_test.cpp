// Nearest-neighbour scaling: whole images against a plain sampler of the
// centre walk floor((2i + 1) S / 2D), row modes, the in-place resize, and the
// tables' lifetime on every path.

#include "io_support.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

using kt::CountingDib;
using kt::TestDib;

// Source cell holding the centre of destination cell i of d over s cells, and
// the source row of destination row y when only one field may be used.
int Centre(int i, int d, int s) {
  return static_cast<int>((2 * std::int64_t{i} + 1) * s / (2 * std::int64_t{d}));
}
int SourceRow(int y, int d, int s, int rowMode) {
  const int j = Centre(y, d, s);
  if (rowMode < 0) return j;
  return rowMode == 0 ? std::min(j / 2 * 2 + 1, s - 1) : j / 2 * 2;
}

std::vector<BYTE> ExpectedScaled(const CRZDIBBase2& src, int w, int h, int rowMode) {
  const int bpp = src.DIBBitCount() / 8;
  std::vector<BYTE> out;
  for (int y = 0; y < h; ++y) {
    const BYTE* row = src.GetBytes() + SourceRow(y, h, src.DIBHeight(), rowMode) *
                                           kt::Stride(src.DIBBitCount(), src.DIBWidth());
    for (int x = 0; x < w; ++x) {
      const BYTE* p = row + Centre(x, w, src.DIBWidth()) * bpp;
      out.insert(out.end(), p, p + bpp);
    }
  }
  return out;
}

TEST(Scale, MatchesTheSamplerOnRandomImages) {
  kt::RandomSizes random(17);
  for (int i = 0; i < 300; ++i) {
    const WORD bits = random.Between(0, 1) ? 32 : 24;
    // The first round walks one long row: an error that builds up along it shows.
    const int sw = i == 0 ? 1281 : random.Between(1, 29);
    const int sh = random.Between(1, 29);
    const int w = i == 0 ? 1920 : random.Between(1, 41);
    const int h = random.Between(1, 41);
    const DWORD srcFlag = random.Between(0, 1);
    const DWORD dstFlag = random.Between(0, 1);
    TestDib src;
    ASSERT_TRUE(kt::CreateRandom(src, bits, sw, sh, srcFlag, random.Seed()));
    SCOPED_TRACE(testing::Message() << bits << " bits " << sw << "x" << sh << " -> " << w << "x"
                                    << h << " flags " << srcFlag << dstFlag);
    // An interlaced source into a progressive result uses field 1 only; the
    // same size is a plain copy.
    const int mode = dstFlag && !srcFlag && !(sw == w && sh == h) ? 0 : -1;
    TestDib dst;
    ASSERT_TRUE(dst.CreateScaled(src, w, h, dstFlag));
    EXPECT_EQ(dst.GetInterlacedFlag(), dstFlag);
    EXPECT_EQ(kt::RowBytes(dst), ExpectedScaled(src, w, h, mode));
    EXPECT_TRUE(dst.ColumnMap() == nullptr && dst.RowMap() == nullptr);

    const auto before = kt::Pixels(src);
    TestDib inPlace(src);  // takes the source's own flag (every row) and leaves its sharer alone
    ASSERT_TRUE(inPlace.Scale(w, h));
    EXPECT_EQ(kt::RowBytes(inPlace), ExpectedScaled(src, w, h, -1));
    EXPECT_EQ(kt::Pixels(src), before);
  }
}

TEST(Scale, SameSizeCopiesAnyDepthOtherSizesOnly24And32) {
  for (WORD bits : {1, 8, 16, 24, 32, 64}) {
    TestDib src;
    ASSERT_TRUE(kt::CreateRandom(src, bits, 7, 3, 1, bits));
    TestDib dst;
    ASSERT_TRUE(dst.CreateScaled(src, 7, 3));
    EXPECT_EQ(kt::Pixels(dst), kt::Pixels(src)) << bits;  // padding included
    const bool resizable = bits == 24 || bits == 32;
    EXPECT_EQ(dst.CreateScaled(src, 5, 4), resizable) << bits;
    EXPECT_EQ(dst.IsValidDIB(), resizable) << bits;  // a failure empties it
    TestDib inPlace(src);
    EXPECT_TRUE(inPlace.Scale(7, 3));  // the current size: the shared block stays
    EXPECT_EQ(inPlace.Data(), src.Data());
    EXPECT_EQ(inPlace.Scale(5, 4), resizable) << bits;
    EXPECT_EQ(inPlace.Data() == src.Data(), !resizable);  // unchanged on failure
  }
  TestDib src;
  TestDib dst;
  ASSERT_TRUE(src.Create(24, 9, 9, 1));
  EXPECT_TRUE(dst.CreateScaled(src, 0, 5));
  ASSERT_TRUE(kt::CreateRandom(dst, 24, 4, 5, 1, 3));
  const auto before = kt::Pixels(dst);
  EXPECT_FALSE(dst.Scale(src, 4, 4));  // this object is not 4 x 4
  EXPECT_EQ(kt::Pixels(dst), before);
  ASSERT_TRUE(src.Create(24, 0, 4, 1));  // nothing to sample from
  EXPECT_FALSE(dst.CreateScaled(src, 3, 3));
  EXPECT_FALSE(dst.IsValidDIB());
}

TEST(Scale, EveryAllocationFailureLeavesTheObjectUnchanged) {
  CountingDib dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 32, 8, 8, 1, 6));
  const auto before = kt::Pixels(dib);
  CRzDibBaseData2* block = dib.Data();
  const int blocks = CountingDib::liveBlocks;
  kt::FailEachAllocationInTurn([&] { return dib.Scale(5, 3); }, [&](int n, bool ok) {
    EXPECT_TRUE(dib.ColumnMap() == nullptr && dib.RowMap() == nullptr) << n;
    if (ok) return;
    EXPECT_EQ(dib.Data(), block) << n;
    EXPECT_EQ(kt::Pixels(dib), before) << n;
    EXPECT_EQ(CountingDib::liveBlocks, blocks) << n;
  });
  EXPECT_EQ(dib.DIBWidth(), 5);
  EXPECT_EQ(CountingDib::liveBlocks, blocks);  // the new block came through dib's own hooks
}

}  // namespace
