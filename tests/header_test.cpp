// Header accessors, pixel geometry and flag setters.

#include "test_support.h"

namespace {

using kt::TestDib;

TEST(Header, CreatedBitmapReportsGeometryAndDefaults) {
  TestDib dib;
  ASSERT_TRUE(dib.Create(24, 5, 3, 0));
  EXPECT_EQ(dib.GetRzBmiSize(), 144u);
  EXPECT_EQ(dib.DIBBitCount(), 24);
  EXPECT_EQ(dib.DIBWidth(), 5);
  EXPECT_EQ(dib.DIBHeight(), 3);
  EXPECT_EQ(dib.DIBBytesPerLine(), 16);
  EXPECT_EQ(dib.DIBSize(), 48);
  EXPECT_EQ(dib.DIBBytesPerPixel(), 3);
  EXPECT_TRUE(dib.IsInterlaced());
  EXPECT_FALSE(dib.IsNonInterlaced());
  EXPECT_EQ(dib.GetAlphaFlag(), 0u);
  EXPECT_FALSE(dib.IsAlphaInvalid());
  EXPECT_FALSE(dib.IsAlphaPremultiplied());
  EXPECT_TRUE(dib.IsValidDIB());
  EXPECT_FALSE(dib.IsDIBEmpty());
  EXPECT_EQ(reinterpret_cast<BYTE*>(dib.GetRzBmiHeader()) + 144, dib.GetBytes());
  EXPECT_EQ(static_cast<void*>(dib.GetBitmapInfoHeader()), static_cast<void*>(dib.GetRzBmiHeader()));
}

TEST(Header, InterlacedFlagWordIsKeptWhole) {
  TestDib dib;
  ASSERT_TRUE(dib.Create(24, 5, 3, 1));
  EXPECT_TRUE(dib.IsNonInterlaced());
  EXPECT_FALSE(dib.IsInterlaced());
  EXPECT_EQ(dib.GetInterlacedFlag(), 1u);
  ASSERT_TRUE(dib.Create(24, 5, 3, 3));
  EXPECT_TRUE(dib.IsNonInterlaced());
  EXPECT_EQ(dib.GetInterlacedFlag(), 3u);
  ASSERT_TRUE(dib.Create(24, 5, 3, 2));  // bit 0 clear: interlaced, whatever else is set
  EXPECT_TRUE(dib.IsInterlaced());
}

TEST(Header, EmptyBitmapAnswersSafely) {
  TestDib dib;
  EXPECT_FALSE(dib.IsValidDIB());
  EXPECT_TRUE(dib.IsDIBEmpty());
  EXPECT_TRUE(dib.IsInterlaced());
  EXPECT_FALSE(dib.IsNonInterlaced());
  EXPECT_FALSE(dib.IsAlphaInvalid());
  EXPECT_FALSE(dib.IsAlphaPremultiplied());
  EXPECT_EQ(dib.GetRzBmiSize(), 0u);
  EXPECT_EQ(dib.GetInterlacedFlag(), 0u);
  EXPECT_EQ(dib.GetAlphaFlag(), 0u);
  EXPECT_EQ(dib.GetRzBmiHeader(), nullptr);
  EXPECT_EQ(dib.GetBitmapInfoHeader(), nullptr);
  EXPECT_EQ(dib.GetBytes(), nullptr);
  EXPECT_FALSE(dib.IsCreated());
  EXPECT_FALSE(dib.IsAttached());

  tagRZBMINFOHEADER out;
  std::memset(&out, 0xAB, sizeof out);
  dib.GetRzBmiHeader(out);
  const tagRZBMINFOHEADER zero{};
  EXPECT_EQ(std::memcmp(&out, &zero, sizeof out), 0);

  BITMAPINFOHEADER bih;
  std::memset(&bih, 0xAB, sizeof bih);
  dib.GetBitmapInfoHeader(bih);
  const BITMAPINFOHEADER zeroBih{};
  EXPECT_EQ(std::memcmp(&bih, &zeroBih, sizeof bih), 0);

  // Setters do nothing without a header (and must not write the empty block).
  dib.SetInterlacedFlag(1);
  dib.ncbwSetAlphaFlag(3);
  dib.SetAlphaValid(false);
  dib.SetAlphaPremultiplied(true);
  EXPECT_TRUE(dib.IsNilBlock());
  EXPECT_EQ(dib.GetAlphaFlag(), 0u);
}

TEST(Header, ZeroSizedBitmapHasStorageButIsEmpty) {
  for (auto [w, h] : {std::pair{0, 10}, std::pair{10, 0}}) {
    TestDib dib;
    ASSERT_TRUE(dib.Create(8, w, h, 1));
    EXPECT_TRUE(dib.IsValidDIB());
    EXPECT_TRUE(dib.IsDIBEmpty());
    EXPECT_EQ(dib.DIBSize(), 0);
    EXPECT_NE(dib.GetBytes(), nullptr);
  }
}

TEST(Header, CopiesOutUseTheRightSizes) {
  TestDib dib;
  ASSERT_TRUE(dib.Create(32, 7, 2, 5));
  dib.ncbwSetAlphaFlag(2);
  tagRZBMINFOHEADER out{};
  dib.GetRzBmiHeader(out);
  EXPECT_EQ(std::memcmp(&out, dib.GetRzBmiHeader(), sizeof out), 0);

  BITMAPINFOHEADER bih{};
  dib.GetBitmapInfoHeader(bih);
  EXPECT_EQ(bih.biSize, 40u);
  EXPECT_EQ(bih.biWidth, 7);
  EXPECT_EQ(bih.biBitCount, 32);
  EXPECT_EQ(dib.GetRzBmiSize(), 144u);  // the bitmap keeps its own size field
}

struct StrideCase {
  WORD bits;
  int width;
  int stride;
  int bytesPerPixel;
};

void PrintTo(const StrideCase& c, std::ostream* os) { *os << c.bits << " bits, width " << c.width; }

class StrideTest : public ::testing::TestWithParam<StrideCase> {};

TEST_P(StrideTest, RowsArePaddedToWholeWords) {
  const StrideCase c = GetParam();
  TestDib dib;
  ASSERT_TRUE(dib.Create(c.bits, c.width, 3, 1));
  EXPECT_EQ(dib.DIBBytesPerLine(), c.stride);
  EXPECT_EQ(dib.DIBSize(), c.stride * 3);
  EXPECT_EQ(dib.DIBBytesPerPixel(), c.bytesPerPixel);
  EXPECT_EQ(dib.AllocSize(), 144u + static_cast<UINT>(c.stride) * 3);
}

INSTANTIATE_TEST_SUITE_P(Depths, StrideTest,
                         ::testing::Values(StrideCase{1, 33, 8, 0}, StrideCase{1, 32, 4, 0},
                                           StrideCase{4, 9, 8, 0}, StrideCase{8, 3, 4, 1},
                                           StrideCase{8, 4, 4, 1}, StrideCase{8, 5, 8, 1},
                                           StrideCase{16, 3, 8, 2}, StrideCase{24, 5, 16, 3},
                                           StrideCase{24, 4, 12, 3}, StrideCase{32, 3, 12, 4},
                                           StrideCase{64, 3, 24, 8}),
                         [](const auto& info) {
                           return "bits" + std::to_string(info.param.bits) + "_w" +
                                  std::to_string(info.param.width);
                         });

TEST(Header, AlphaFlagSetters) {
  TestDib dib;
  ASSERT_TRUE(dib.Create(32, 2, 2, 1));
  dib.ncbwSetAlphaFlag(1);
  dib.SetAlphaPremultiplied(true);
  EXPECT_EQ(dib.GetAlphaFlag(), 2u);
  dib.ncbwSetAlphaFlag(3);
  dib.SetAlphaPremultiplied(false);
  EXPECT_EQ(dib.GetAlphaFlag(), 1u);
  dib.ncbwSetAlphaFlag(2);
  dib.SetAlphaValid(false);
  EXPECT_EQ(dib.GetAlphaFlag(), 3u);
  EXPECT_TRUE(dib.IsAlphaInvalid());
  EXPECT_TRUE(dib.IsAlphaPremultiplied());
  dib.SetAlphaValid(true);
  EXPECT_EQ(dib.GetAlphaFlag(), 2u);
  // Bits beyond the two defined ones travel unchanged.
  dib.ncbwSetAlphaFlag(0xF0);
  dib.SetAlphaValid(false);
  EXPECT_EQ(dib.GetAlphaFlag(), 0xF1u);
}

TEST(Header, InPlaceSettersReachEverySharer) {
  TestDib a;
  ASSERT_TRUE(a.Create(32, 2, 2, 1));
  TestDib b(a);
  ASSERT_EQ(a.Data(), b.Data());

  b.SetAlphaValid(true);
  b.ncbwSetAlphaFlag(2);
  EXPECT_EQ(a.GetAlphaFlag(), 2u);
  b.SetAlphaPremultiplied(true);
  EXPECT_EQ(a.Data(), b.Data());
  EXPECT_EQ(a.Refs(), 2);
}

TEST(Header, CopyingSettersGiveTheWriterItsOwnBlock) {
  using Setter = void (*)(TestDib&);
  const Setter setters[] = {
      [](TestDib& d) { d.SetAlphaValid(false); },
      [](TestDib& d) { d.SetAlphaPremultiplied(false); },
      [](TestDib& d) { d.SetInterlacedFlag(0); },
  };
  for (Setter set : setters) {
    TestDib a;
    ASSERT_TRUE(a.Create(32, 2, 2, 1));
    a.ncbwSetAlphaFlag(2);
    TestDib b(a);
    set(b);
    EXPECT_NE(a.Data(), b.Data());
    EXPECT_EQ(a.GetAlphaFlag(), 2u);
    EXPECT_EQ(a.GetInterlacedFlag(), 1u);
    EXPECT_EQ(a.Refs(), 1);
    EXPECT_EQ(b.Refs(), 1);
  }
}

TEST(Header, DIBsEqualComparesOnlyGeometry) {
  TestDib a, b, c;
  ASSERT_TRUE(a.Create(24, 5, 3, 0));
  ASSERT_TRUE(b.Create(24, 5, 3, 1));
  b.ncbwSetAlphaFlag(3);
  EXPECT_TRUE(a.DIBsEqual(b));
  ASSERT_TRUE(c.Create(32, 5, 3, 0));
  EXPECT_FALSE(a.DIBsEqual(c));
  ASSERT_TRUE(c.Create(24, 5, 4, 0));
  EXPECT_FALSE(a.DIBsEqual(c));
}

}  // namespace
