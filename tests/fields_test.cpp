// Field copies and frames rebuilt from one field: the rows each method takes
// for every height parity, the rounded row average, selectors and refusals.

#include "test_support.h"

#include <array>
#include <utility>

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

// The stored field (0: rows 0, 2...; 1: rows 1, 3...) holding the picture's
// odd or even field: the top row is stored last, so this turns on the parity.
int StoredField(int height, bool odd) { return (height % 2 == 0) == odd ? 0 : 1; }

// Row r of a frame rebuilt from `field`: source rows to copy (one) or to
// average (two), written out case by case.
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
    TestDib src;
    ASSERT_TRUE(kt::CreateRandom(src, bits, w, h, 0, random.Seed()));
    SCOPED_TRACE(testing::Message() << bits << " bits " << w << "x" << h << " odd " << bOdd
                                    << " method " << method);
    const int field = StoredField(h, bOdd != 0);
    TestDib dst;
    ASSERT_TRUE(dst.CreateInterpolatedFrame(src, bOdd, method));
    EXPECT_EQ(StoredRows(dst), ExpectedFrame(StoredRows(src), field, method == 1));
    EXPECT_EQ(dst.GetInterlacedFlag(), 1u);

    kt::FillRandom(dst, random.Seed());  // CopyField replaces that field's rows only
    Rows expected = StoredRows(dst);
    const Rows shared = expected;
    const TestDib sharer(dst);  // and writes a block of its own
    for (int r = field; r < h; r += 2) expected[r] = StoredRows(src)[r];
    ASSERT_TRUE(dst.CopyField(src, bOdd));
    EXPECT_EQ(StoredRows(dst), expected);
    EXPECT_EQ(StoredRows(sharer), shared);
  }
}

// An 8-bit image 4 pixels wide (stride 4) whose stored row r is all values[r].
void MakeRows(TestDib& dib, const std::vector<BYTE>& values, DWORD interlaced = 0) {
  ASSERT_TRUE(dib.Create(8, 4, static_cast<int>(values.size()), interlaced));
  for (std::size_t r = 0; r < values.size(); ++r) std::memset(dib.GetBytes() + 4 * r, values[r], 4);
}
std::vector<BYTE> FirstBytes(const CRZDIBBase2& dib) {
  std::vector<BYTE> out;
  for (int r = 0; r < dib.DIBHeight(); ++r) out.push_back(dib.GetBytes()[4 * r]);
  return out;
}

TEST(Fields, SwapBit0PicksTheOtherField) {
  TestDib src;
  MakeRows(src, {1, 2, 3, 4});
  for (int nSwap : {0, 1, 2, 3}) {
    TestDib dst;
    MakeRows(dst, {0, 0, 0, 0});
    ASSERT_TRUE(dst._OddFieldToOddField(src, nSwap));
    EXPECT_EQ(FirstBytes(dst), nSwap % 2 == 0 ? (std::vector<BYTE>{1, 0, 3, 0})
                                              : (std::vector<BYTE>{0, 2, 0, 4}));
    ASSERT_TRUE(dst._GetEvenFrame(src, nSwap, 0));
    EXPECT_EQ(FirstBytes(dst), nSwap % 2 == 0 ? (std::vector<BYTE>{2, 2, 4, 4})
                                              : (std::vector<BYTE>{1, 1, 3, 3}));
  }
}

TEST(Fields, RefusalsAndEmptyImages) {
  TestDib src;
  TestDib dst;
  MakeRows(src, {1, 2, 3});
  EXPECT_FALSE(dst.CopyField(src, 0));  // this object empty
  MakeRows(dst, {0, 0});  // mismatched height, or an empty source: no row written
  EXPECT_FALSE(dst.CopyField(src, 1));
  EXPECT_FALSE(dst._GetOddFrame(src, 0, 1));
  EXPECT_FALSE(dst.CopyField(TestDib(), 1));
  EXPECT_EQ(FirstBytes(dst), (std::vector<BYTE>{0, 0}));
  ASSERT_TRUE(src.Create(24, 0, 3, 0));
  ASSERT_TRUE(dst.Create(24, 0, 3, 0));
  EXPECT_TRUE(dst.CopyField(src, 1));
  EXPECT_TRUE(dst.CreateInterpolatedFrame(src, 0, 1));
}

TEST(Fields, AFrameFromItselfReadsItsFormerRows) {
  TestDib src;
  MakeRows(src, {5, 6, 7, 8});
  ASSERT_TRUE(src.CreateInterpolatedFrame(src, 0, 1));
  EXPECT_EQ(FirstBytes(src), (std::vector<BYTE>{6, 6, 7, 8}));
  EXPECT_TRUE(src.IsNonInterlaced());
}

}  // namespace
