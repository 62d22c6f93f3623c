// Header accessors, pixel geometry and flag setters.

#include "test_support.h"

namespace {

using kt::TestDib;

TEST(Header, GeometryAndRowPaddingByDepth) {
  struct Case {
    WORD bits;
    int width, stride, bytesPerPixel;
  };
  for (const Case c : {Case{1, 33, 8, 0}, Case{1, 32, 4, 0}, Case{4, 9, 8, 0}, Case{8, 3, 4, 1},
                       Case{8, 4, 4, 1}, Case{8, 5, 8, 1}, Case{16, 3, 8, 2}, Case{24, 5, 16, 3},
                       Case{24, 4, 12, 3}, Case{32, 3, 12, 4}, Case{64, 3, 24, 8}}) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, width " << c.width);
    TestDib dib;
    ASSERT_TRUE(dib.Create(c.bits, c.width, 3, 1));
    dib.ncbwSetAlphaFlag(2);
    EXPECT_EQ(dib.DIBBitCount(), c.bits);
    EXPECT_EQ(dib.DIBWidth(), c.width);
    EXPECT_EQ(dib.DIBHeight(), 3);
    EXPECT_EQ(dib.DIBBytesPerLine(), c.stride);
    EXPECT_EQ(dib.DIBSize(), c.stride * 3);
    EXPECT_EQ(dib.DIBBytesPerPixel(), c.bytesPerPixel);
    EXPECT_EQ(dib.AllocSize(), 144u + static_cast<UINT>(c.stride) * 3);
    EXPECT_TRUE(dib.IsValidDIB() && !dib.IsDIBEmpty());
    EXPECT_EQ(static_cast<void*>(dib.GetBitmapInfoHeader()), static_cast<void*>(dib.GetRzBmiHeader()));
    // Copies out take 144 and 40 bytes; the bitmap keeps its own size field.
    tagRZBMINFOHEADER out{};
    dib.GetRzBmiHeader(out);
    EXPECT_EQ(std::memcmp(&out, dib.GetRzBmiHeader(), sizeof out), 0);
    BITMAPINFOHEADER bih{};
    dib.GetBitmapInfoHeader(bih);
    EXPECT_EQ(bih.biSize, 40u);
    EXPECT_EQ(std::memcmp(reinterpret_cast<BYTE*>(&bih) + 4, reinterpret_cast<BYTE*>(&out) + 4, 36), 0);
    EXPECT_EQ(dib.GetRzBmiSize(), 144u);
  }
  for (auto [w, h] : {std::pair{0, 10}, std::pair{10, 0}}) {  // storage, but empty
    TestDib dib;
    ASSERT_TRUE(dib.Create(8, w, h, 1));
    EXPECT_TRUE(dib.IsValidDIB() && dib.IsDIBEmpty());
    EXPECT_EQ(dib.DIBSize(), 0);
    EXPECT_NE(dib.GetBytes(), nullptr);
  }
}

TEST(Header, InterlacedFlagWordIsKeptWholeAndBit0Decides) {
  for (DWORD flag : {0u, 1u, 2u, 3u}) {
    TestDib dib;
    ASSERT_TRUE(dib.Create(24, 5, 3, flag));
    EXPECT_EQ(dib.GetInterlacedFlag(), flag);
    EXPECT_EQ(dib.IsNonInterlaced(), (flag & 1) != 0) << flag;
    EXPECT_EQ(dib.IsInterlaced(), (flag & 1) == 0) << flag;
    EXPECT_EQ(dib.GetAlphaFlag(), 0u);
    EXPECT_FALSE(dib.IsAlphaInvalid() || dib.IsAlphaPremultiplied());
  }
}

TEST(Header, EmptyBitmapAnswersSafely) {
  TestDib dib;
  EXPECT_FALSE(dib.IsValidDIB());
  EXPECT_TRUE(dib.IsDIBEmpty());
  EXPECT_TRUE(dib.IsInterlaced());
  EXPECT_FALSE(dib.IsNonInterlaced() || dib.IsAlphaInvalid() || dib.IsAlphaPremultiplied());
  EXPECT_FALSE(dib.IsCreated() || dib.IsAttached());
  EXPECT_EQ(dib.GetRzBmiSize() + dib.GetInterlacedFlag() + dib.GetAlphaFlag(), 0u);
  EXPECT_EQ(dib.GetRzBmiHeader(), nullptr);
  EXPECT_EQ(dib.GetBitmapInfoHeader(), nullptr);
  EXPECT_EQ(dib.GetBytes(), nullptr);

  tagRZBMINFOHEADER out;
  std::memset(&out, 0xAB, sizeof out);
  dib.GetRzBmiHeader(out);
  const tagRZBMINFOHEADER zero{};
  EXPECT_EQ(std::memcmp(&out, &zero, sizeof out), 0);
  BITMAPINFOHEADER bih;
  std::memset(&bih, 0xAB, sizeof bih);
  dib.GetBitmapInfoHeader(bih);
  EXPECT_EQ(std::memcmp(&bih, &zero, sizeof bih), 0);

  // Setters do nothing without a header (and must not write the empty block).
  dib.SetInterlacedFlag(1);
  dib.ncbwSetAlphaFlag(3);
  dib.SetAlphaValid(false);
  dib.SetAlphaPremultiplied(true);
  EXPECT_TRUE(dib.IsNilBlock());
  EXPECT_EQ(dib.GetAlphaFlag(), 0u);
}

TEST(Header, AlphaFlagSetters) {
  TestDib dib;
  ASSERT_TRUE(dib.Create(32, 2, 2, 1));
  // (flag before, setter, flag after); bits beyond the two defined ones travel unchanged.
  using Setter = void (*)(TestDib&);
  const std::tuple<DWORD, Setter, DWORD> cases[] = {
      {1, [](TestDib& d) { d.SetAlphaPremultiplied(true); }, 2},
      {3, [](TestDib& d) { d.SetAlphaPremultiplied(false); }, 1},
      {2, [](TestDib& d) { d.SetAlphaValid(false); }, 3},
      {3, [](TestDib& d) { d.SetAlphaValid(true); }, 2},
      {0xF0, [](TestDib& d) { d.SetAlphaValid(false); }, 0xF1},
  };
  for (const auto& [before, set, after] : cases) {
    dib.ncbwSetAlphaFlag(before);
    set(dib);
    EXPECT_EQ(dib.GetAlphaFlag(), after) << before;
  }
  dib.ncbwSetAlphaFlag(3);
  EXPECT_TRUE(dib.IsAlphaInvalid() && dib.IsAlphaPremultiplied());
}

TEST(Header, SettersThatSetBitsReachEverySharerTheOthersCopy) {
  TestDib a;
  ASSERT_TRUE(a.Create(32, 2, 2, 1));
  TestDib b(a);
  b.SetAlphaValid(true);
  b.ncbwSetAlphaFlag(2);
  b.SetAlphaPremultiplied(true);
  EXPECT_EQ(a.GetAlphaFlag(), 2u);
  EXPECT_EQ(a.Data(), b.Data());

  using Setter = void (*)(TestDib&);
  for (Setter set : {Setter{[](TestDib& d) { d.SetAlphaValid(false); }},
                     Setter{[](TestDib& d) { d.SetAlphaPremultiplied(false); }},
                     Setter{[](TestDib& d) { d.SetInterlacedFlag(0); }}}) {
    TestDib writer(a);
    set(writer);
    EXPECT_NE(a.Data(), writer.Data());
    EXPECT_EQ(a.GetAlphaFlag(), 2u);
    EXPECT_EQ(a.GetInterlacedFlag(), 1u);
    EXPECT_EQ(writer.Refs(), 1);
  }
  b.Delete();
  EXPECT_EQ(a.Refs(), 1);
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
