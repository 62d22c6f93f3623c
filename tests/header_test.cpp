// Pixel geometry by depth, the copies of the header, and the flag setters'
// copy-before-write.

#include "test_support.h"

namespace {

using kt::TestDib;

TEST(Header, GeometryAndRowPaddingByDepth) {
  for (WORD bits : {1, 4, 8, 16, 24, 32, 64}) {
    for (int width = 1; width <= 33; width += 4) {  // every remainder of a 32-bit word
      SCOPED_TRACE(testing::Message() << bits << " bits, width " << width);
      const int stride = kt::Stride(bits, width);
      TestDib dib;
      ASSERT_TRUE(dib.Create(bits, width, 3, 1));
      EXPECT_EQ(dib.DIBBytesPerLine(), stride);
      EXPECT_EQ(dib.DIBSize(), stride * 3);
      EXPECT_EQ(dib.AllocSize(), 144u + static_cast<UINT>(stride) * 3);
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
  }
  TestDib empty;  // copies out of the empty bitmap are all zero
  tagRZBMINFOHEADER out;
  std::memset(&out, 0xAB, sizeof out);
  empty.GetRzBmiHeader(out);
  const tagRZBMINFOHEADER zero{};
  EXPECT_EQ(std::memcmp(&out, &zero, sizeof out), 0);
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
  TestDib empty;  // without a header the setters write nothing (the empty block is read-only)
  empty.SetInterlacedFlag(1);
  empty.SetAlphaValid(false);
  EXPECT_TRUE(empty.IsNilBlock());
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
}

}  // namespace
