// Reductions, scaling, field copies and frames, and mirroring, each against a
// plain loop over random images (sources on the target's own pixels among
// them); then what each refuses.

#include "io_support.h"

#include <array>
#include <tuple>

namespace {

using kt::TestDib;
using Rows = std::vector<std::vector<BYTE>>;

// Whole stored rows, padding included.
Rows StoredRows(const CRZDIBBase2& dib) {
  Rows rows;
  const int stride = kt::Stride(dib.DIBBitCount(), dib.DIBWidth());
  for (int r = 0; r < dib.DIBHeight(); ++r) {
    rows.emplace_back(dib.GetBytes() + r * stride, dib.GetBytes() + (r + 1) * stride);
  }
  return rows;
}

// The bytes of pixel (x, y) of stored row y.
const BYTE* PixelAt(const CRZDIBBase2& dib, int x, int y) {
  return dib.GetBytes() + y * kt::Stride(dib.DIBBitCount(), dib.DIBWidth()) + x * dib.DIBBitCount() / 8;
}

// Rounded mean (sum + n/2) / n of each output byte over the source pixels it
// covers: factor x factor blocks (field 0), or only the odd stored rows (field
// 1) or the even ones (field 2): one row per quarter row, rows r and r + 2 per
// eighth row.
std::vector<BYTE> ExpectedReduction(const CRZDIBBase2& src, int factor, int field) {
  const int bpp = src.DIBBitCount() / 8;
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
          for (int j = 0; j < factor; ++j) sum += PixelAt(src, factor * x + j, r)[c];
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
    const std::vector<BYTE> fromItself = ExpectedReduction(src, 2, field);
    ASSERT_TRUE(src.CreateQuarter(src));
    EXPECT_EQ(kt::RowBytes(src), fromItself);
  }
}

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
  std::vector<BYTE> out;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const BYTE* p = PixelAt(src, Centre(x, w, src.DIBWidth()), SourceRow(y, h, src.DIBHeight(), rowMode));
      out.insert(out.end(), p, p + src.DIBBitCount() / 8);
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

// Only 24 and 32 bits are resized; any depth is copied at its own size.
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
}

TEST(Scale, EveryAllocationFailureLeavesTheObjectUnchanged) {
  kt::CountingDib dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 32, 8, 8, 1, 6));
  const auto before = kt::Pixels(dib);
  CRzDibBaseData2* block = dib.Data();
  const int blocks = kt::CountingDib::liveBlocks;
  kt::FailEachAllocationInTurn([&] { return dib.Scale(5, 3); }, [&](int n, bool ok) {
    EXPECT_TRUE(dib.ColumnMap() == nullptr && dib.RowMap() == nullptr) << n;
    if (ok) return;
    EXPECT_EQ(dib.Data(), block) << n;
    EXPECT_EQ(kt::Pixels(dib), before) << n;
    EXPECT_EQ(kt::CountingDib::liveBlocks, blocks) << n;
  });
  EXPECT_EQ(dib.DIBWidth(), 5);
  EXPECT_EQ(kt::CountingDib::liveBlocks, blocks);  // the new block came through dib's own hooks
}

// Row r of a frame rebuilt from stored field `field` (0: rows 0, 2...; 1:
// rows 1, 3...): source rows to copy (one) or to average (two), written out
// case by case.
std::vector<int> FrameSources(int r, int h, int field, bool interpolate) {
  const bool last = r == h - 1;
  if (!interpolate) {
    if (field == 0) return {r - r % 2};
    return {(h % 2 == 1 && last) ? r : r | 1};
  }
  if (r % 2 == field) return {r};
  if (field == 1 && r == 0) return {h == 1 ? 0 : 1};
  if (last) return {r - 1};
  return {r - 1, r + 1};
}

Rows ExpectedFrame(const Rows& src, int field, bool interpolate) {
  const int h = static_cast<int>(src.size());
  Rows out;
  for (int r = 0; r < h; ++r) {
    const std::vector<int> from = FrameSources(r, h, field, interpolate);
    std::vector<BYTE> row = src[from[0]];
    if (from.size() == 2) {
      for (std::size_t i = 0; i < row.size(); ++i) row[i] = (src[from[0]][i] + src[from[1]][i] + 1) / 2;
    }
    out.push_back(row);
  }
  return out;
}

TEST(Fields, FramesAndFieldCopiesOnRandomImages) {
  kt::RandomSizes random(41);
  for (int i = 0; i < 400; ++i) {
    const WORD bits = std::array<WORD, 3>{8, 24, 32}[random.Between(0, 2)];
    const int w = random.Between(1, 13);
    const int h = random.Between(1, 11);
    const int bOdd = random.Between(0, 1) * random.Between(1, 3);
    const int method = random.Between(-1, 2);
    const int nSwap = random.Between(0, 3);  // bit 0 takes the other field
    TestDib src;
    ASSERT_TRUE(kt::CreateRandom(src, bits, w, h, 0, random.Seed()));
    SCOPED_TRACE(testing::Message() << bits << " bits " << w << "x" << h << " odd " << bOdd
                                    << " method " << method << " swap " << nSwap);
    // The top row is stored last, so which stored field holds the picture's
    // odd or even field turns on the height's parity.
    const int field = (h % 2 == 0) == (bOdd != 0) ? 0 : 1;
    TestDib dst;
    ASSERT_TRUE(dst.CreateInterpolatedFrame(src, bOdd, method));
    EXPECT_EQ(StoredRows(dst), ExpectedFrame(StoredRows(src), field, method == 1));
    EXPECT_EQ(dst.GetInterlacedFlag(), 1u);
    ASSERT_TRUE(bOdd != 0 ? dst._GetOddFrame(src, nSwap, method) : dst._GetEvenFrame(src, nSwap, method));
    EXPECT_EQ(StoredRows(dst), ExpectedFrame(StoredRows(src), field ^ (nSwap & 1), method == 1));

    kt::FillRandom(dst, random.Seed());  // CopyField replaces that field's rows only
    Rows expected = StoredRows(dst);
    const Rows shared = expected;
    const TestDib sharer(dst);  // and writes a block of its own
    for (int r = field; r < h; r += 2) expected[r] = StoredRows(src)[r];
    ASSERT_TRUE(dst.CopyField(src, bOdd));
    EXPECT_EQ(StoredRows(dst), expected);
    EXPECT_EQ(StoredRows(sharer), shared);

    expected = ExpectedFrame(StoredRows(src), field, method == 1);
    ASSERT_TRUE(src.CreateInterpolatedFrame(src, bOdd, method));  // reads its former rows
    EXPECT_EQ(StoredRows(src), expected);
  }
}

TEST(Mirror, MatchesAPlainLoopOnRandomImages) {
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
    SCOPED_TRACE(testing::Message() << bits << " bits " << w << "x" << h << " " << horizontal << "," << vertical);
    const auto before = kt::Pixels(src);
    std::vector<BYTE> expected;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const BYTE* p = PixelAt(src, horizontal != 0 ? w - 1 - x : x, vertical != 0 ? h - 1 - y : y);
        expected.insert(expected.end(), p, p + bits / 8);
      }
    }
    TestDib dst;
    ASSERT_TRUE(dst.Create(bits, w, h, 0));
    if (i % 4 == 0) dst = src;  // a destination sharing the source's block gets one of its own
    TestDib& target = i % 4 == 1 ? src : dst;  // or the source itself, read before it is written
    ASSERT_TRUE(target.Mirror(horizontal, vertical, src));
    EXPECT_EQ(kt::RowBytes(target), expected);
    if (&target == &dst) {
      EXPECT_EQ(kt::Pixels(src), before);
    }
    EXPECT_EQ(src.Refs(), 1);
  }
}

// A refusal leaves the target's pixels as they were.
TEST(Transforms, RefuseOtherDepthsMismatchedGeometriesAndEmptySources) {
  TestDib src;
  TestDib dst;
  ASSERT_TRUE(src.Create(32, 6, 6, 0));
  src.ncbwSetAlphaFlag(3);
  src.GetRzBmiHeader()->biXPelsPerMeter = 2835;
  ASSERT_TRUE(dst.CreateQuarter(src));  // a fresh progressive header, nothing carried over
  const tagRZBMINFOHEADER fresh = kt::MakeHeader(32, 3, 3, 1);
  EXPECT_EQ(std::memcmp(dst.GetRzBmiHeader(), &fresh, sizeof fresh), 0);
  ASSERT_TRUE(src.Create(8, 6, 6, 1));
  EXPECT_FALSE(dst.CreateQuarter(src));  // keeps the reduced 8-bit geometry
  EXPECT_EQ(dst.DIBBitCount(), 8);
  EXPECT_FALSE(dst.CreateEighth(TestDib()));  // an empty source empties this object
  EXPECT_FALSE(dst.IsValidDIB());
  ASSERT_TRUE(src.Create(24, 0, 4, 1));  // nothing to sample from
  EXPECT_FALSE(dst.CreateScaled(src, 3, 3));
  EXPECT_FALSE(dst.IsValidDIB());

  // (source bits, width, height; target bits, width, height)
  for (auto [sb, sw, sh, db, dw, dh] : {std::tuple{24, 6, 6, 24, 3, 2}, std::tuple{8, 6, 3, 8, 6, 3},
                                        std::tuple{16, 6, 3, 16, 6, 3}, std::tuple{24, 6, 3, 24, 6, 4},
                                        std::tuple{24, 6, 3, 32, 6, 3}, std::tuple{24, 9, 9, 24, 4, 5}}) {
    SCOPED_TRACE(testing::Message() << sb << " bits " << sw << "x" << sh << " into " << db << " bits " << dw << "x" << dh);
    ASSERT_TRUE(src.Create(static_cast<WORD>(sb), sw, sh, 1));
    ASSERT_TRUE(kt::CreateRandom(dst, static_cast<WORD>(db), dw, dh, 1, 2));
    const auto before = kt::Pixels(dst);
    if (sw / 2 == dw) {  // a worker checks the reduced geometry
      EXPECT_FALSE(dst._GetQuarterDIB(src, 0));
    }
    if (sw == dw) {
      EXPECT_FALSE(dst.Mirror(1, 1, src));
    }
    if (sw == dw && sh != dh) {
      EXPECT_FALSE(dst._GetOddFrame(src, 0, 1) || dst.CopyField(src, 1));
    }
    if (sw > dw) {  // this object is not 4 x 4
      EXPECT_FALSE(dst.Scale(src, 4, 4));
    }
    EXPECT_FALSE(dst.Mirror(1, 0, TestDib()) || dst.CopyField(TestDib(), 1));
    EXPECT_EQ(kt::Pixels(dst), before);
  }
  ASSERT_TRUE(src.Create(24, 0, 3, 0));  // empty images are copied and framed as they are
  ASSERT_TRUE(dst.Create(24, 0, 3, 0));
  EXPECT_TRUE(dst.CopyField(src, 1));
  EXPECT_TRUE(dst.CreateInterpolatedFrame(src, 0, 1));

  // Attached with negative widths: nothing written.
  kt::GuardedImage in(24, 8, 4);
  kt::GuardedImage out(24, 4, 2);
  TestDib from(&in.header, in.Bits());
  TestDib to(&out.header, out.Bits());
  in.header.biWidth = -8;
  EXPECT_FALSE(to._GetQuarterDIB(from, 0));
  out.header.biWidth = -4;
  EXPECT_FALSE(to._GetQuarterDIB(from, 0));
  EXPECT_TRUE(std::all_of(out.bytes.begin(), out.bytes.end(), [](BYTE b) { return b == kt::GuardedImage::kGuardByte; }));
  in.header.biWidth = -1;  // halves to width 0, still refused
  EXPECT_FALSE(dst.CreateQuarter(from));
}

}  // namespace
