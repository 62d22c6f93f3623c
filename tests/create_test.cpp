// Creation, reshaping, raw byte copies and clearing.

#include "test_support.h"

#include <climits>
#include <functional>

namespace {

using kt::TestDib;

TEST(Create, PrimitiveLaysOutHeaderThenPixelsAndLeavesASharersCopy) {
  TestDib dib;
  ASSERT_TRUE(dib.Create(24, 5, 3, 0));
  EXPECT_EQ(dib.AllocSize(), 192u);
  EXPECT_EQ(dib.GetBytes(), reinterpret_cast<BYTE*>(dib.GetRzBmiHeader()) + 144);
  tagRZBMINFOHEADER expected = kt::MakeHeader(24, 5, 3, 0);
  EXPECT_EQ(std::memcmp(dib.GetRzBmiHeader(), &expected, 144), 0);  // every other byte zero
  EXPECT_TRUE(dib.IsCreated());
  EXPECT_FALSE(dib.IsLocked());
  EXPECT_EQ(dib.Refs(), 1);

  dib.ClearDIB(0x42);
  TestDib b(dib);
  ASSERT_TRUE(b.Create(32, 2, 2, 1));  // releases its reference only
  EXPECT_EQ(dib.Refs(), 1);
  EXPECT_EQ(dib.GetBytes()[0], 0x42);
  EXPECT_EQ(dib.DIBBitCount(), 24);
}

TEST(Create, RefusesNegativeAndOverflowingGeometry) {
  struct Case {
    WORD bits;
    int width;
    int height;
  };
  const Case cases[] = {
      {24, -1, 10},      {24, 10, -1},        {32, INT_MIN, 1},   {32, 1, INT_MIN},
      {32, 1 << 29, 1},  {32, 65536, 65536},  {64, 1 << 28, 2},   {0xFFFF, 1 << 20, 1},
      {8, INT_MAX, 1},   {24, 46341, 46341},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits " << c.width << " x " << c.height);
    TestDib dib;
    ASSERT_TRUE(dib.Create(8, 2, 2, 1));
    EXPECT_FALSE(dib.Create(c.bits, c.width, c.height, 1));
    EXPECT_TRUE(dib.IsNilBlock());

    ASSERT_TRUE(dib.Create(8, 2, 2, 1));
    EXPECT_FALSE(dib.CreateOrModify(c.bits, c.width, c.height, 1));
    EXPECT_TRUE(dib.IsNilBlock());
  }
  // Header + image + slack one byte over 31 bits.
  TestDib dib;
  EXPECT_FALSE(dib.Create(8, INT32_MAX - 144 - 32 + 1, 1, 1));
}

TEST(Create, FromHeadersAndBitmaps) {
  tagRZBMINFOHEADER header = kt::MakeHeader(32, 3, 2, 0);
  header.dwAlphaFlag = 2;
  header.biXPelsPerMeter = 3780;
  header.dwReserved2[6] = 0x12345678;
  TestDib dib;
  ASSERT_TRUE(dib.Create(&header));  // all 144 bytes
  EXPECT_EQ(std::memcmp(dib.GetRzBmiHeader(), &header, 144), 0);
  EXPECT_EQ(dib.DIBSize(), 24);
  // From its own header: the source lives in the block being released.
  ASSERT_TRUE(dib.Create(dib.GetRzBmiHeader()));
  ASSERT_TRUE(dib.Create(static_cast<const CRZDIBBase2&>(dib)));
  EXPECT_EQ(std::memcmp(dib.GetRzBmiHeader(), &header, 144), 0);

  // A null header or an empty source leaves the bitmap unchanged.
  CRzDibBaseData2* block = dib.Data();
  TestDib empty;
  EXPECT_FALSE(dib.Create(static_cast<tagRZBMINFOHEADER*>(nullptr)));
  EXPECT_FALSE(dib.Create(static_cast<const CRZDIBBase2&>(empty)));
  EXPECT_FALSE(dib.CreateOrModify(static_cast<const CRZDIBBase2&>(empty)));
  EXPECT_EQ(dib.Data(), block);
  EXPECT_TRUE(dib.IsValidDIB());

  // A BITMAPINFOHEADER gives only the geometry.
  BITMAPINFOHEADER bih{40, 6, 2, 0, 16, 3, 0, 99, 0, 0, 0};
  ASSERT_TRUE(dib.Create(&bih, 5));
  const tagRZBMINFOHEADER expected = kt::MakeHeader(16, 6, 2, 5);
  EXPECT_EQ(std::memcmp(dib.GetRzBmiHeader(), &expected, 144), 0);
}

// Every call that takes a caller's extended header, on both classes: a biSize
// outside 40..144 is refused (the bitmap unchanged by Create, empty after the
// others) and never stored; 40..144 are kept, and later copies place the
// pixels biSize bytes behind the header without reading or writing past the
// buffer, even under a short header with a tiny image.
template <class Dib>
void CheckCallersHeaderSizes() {
  struct EntryPoint {
    const char* name;
    bool keepsTheBitmap;  // on refusal
    std::function<bool(Dib&, tagRZBMINFOHEADER&, BYTE*)> call;
  };
  const EntryPoint entries[] = {
      {"Create", true, [](Dib& d, tagRZBMINFOHEADER& h, BYTE*) { return d.Create(&h); }},
      {"CreateOrModify", false,
       [](Dib& d, tagRZBMINFOHEADER& h, BYTE*) { return d.CreateOrModify(h, 1); }},
      {"Attach", false, [](Dib& d, tagRZBMINFOHEADER& h, BYTE* bits) { return d.Attach(&h, bits); }},
      {"the header constructor", false,
       [](Dib& d, tagRZBMINFOHEADER& h, BYTE*) { return (d = Dib(&h)).IsValidDIB(); }},
      {"the attaching constructor", false,
       [](Dib& d, tagRZBMINFOHEADER& h, BYTE* bits) { return (d = Dib(&h, bits)).IsValidDIB(); }},
  };
  for (const EntryPoint& entry : entries) {
    for (DWORD size : {0u, 39u, 145u, 4000u, 8192u, 40u, 100u, 144u}) {
      SCOPED_TRACE(testing::Message() << entry.name << ", biSize " << size);
      const bool accepted = size >= 40 && size <= 144;
      tagRZBMINFOHEADER header = kt::MakeHeader(8, 4, 1);  // 4 pixel bytes
      header.biSize = size;
      std::vector<BYTE> bits(4, 0x5A);
      Dib dib;
      ASSERT_TRUE(dib.Create(24, 4, 3, 1));
      const CRzDibBaseData2* before = dib.Data();
      ASSERT_EQ(entry.call(dib, header, bits.data()), accepted);
      if (!accepted) {
        EXPECT_EQ(dib.Data() == before, entry.keepsTheBitmap);
        EXPECT_EQ(dib.GetRzBmiSize(), entry.keepsTheBitmap ? 144u : 0u);
        continue;
      }
      EXPECT_EQ(dib.GetRzBmiSize(), size);
      std::memset(dib.GetBytes(), 0x5A, 4);
      Dib copied(dib);
      copied.LockDIB();  // a private copy of a shared block
      Dib assigned;
      assigned.AssignCopy(dib);
      for (const Dib* copy : {&copied, &assigned}) {
        EXPECT_EQ(copy->GetBytes(), reinterpret_cast<BYTE*>(copy->GetRzBmiHeader()) + size);
        EXPECT_EQ(std::memcmp(copy->GetBytes(), dib.GetBytes(), 4), 0);
        tagRZBMINFOHEADER out;
        copy->GetRzBmiHeader(out);  // all 144 bytes, whatever biSize says
        EXPECT_EQ(std::memcmp(&out, dib.GetRzBmiHeader(), size), 0);
      }
    }
  }
}

TEST(Create, CallersHeaderSizesOutside40To144AreRefusedEverywhere) {
  CheckCallersHeaderSizes<TestDib>();
  CheckCallersHeaderSizes<kt::TestDib2>();
}

TEST(CreateOrModify, ReshapesInPlaceOnlyAnUnsharedBufferThatFits) {
  TestDib dib;
  ASSERT_TRUE(dib.Create(24, 5, 3, 0));  // nAllocSize 192
  dib.ncbwSetAlphaFlag(2);
  BYTE* const pixels = dib.GetBytes();
  ASSERT_TRUE(dib.CreateOrModify(24, 4, 3, 1));  // needs 180
  EXPECT_EQ(dib.GetBytes(), pixels);
  EXPECT_EQ(dib.AllocSize(), 192u);
  EXPECT_EQ(dib.DIBWidth(), 4);
  EXPECT_EQ(dib.GetAlphaFlag(), 2u);
  EXPECT_EQ(dib.GetInterlacedFlag(), 1u);
  dib.LockDIB();
  ASSERT_TRUE(dib.CreateOrModify(32, 4, 3, 1));  // needs exactly 192
  EXPECT_EQ(dib.GetBytes(), pixels);
  EXPECT_TRUE(dib.IsLocked());  // reshaped and still locked

  {
    TestDib other;
    other.AssignCopy(dib);
    TestDib sharer(other);
    BYTE* const shared = other.GetBytes();
    ASSERT_TRUE(other.CreateOrModify(24, 2, 2, 1));  // would fit, but is shared
    EXPECT_NE(other.GetBytes(), shared);
    EXPECT_EQ(sharer.GetBytes(), shared);
    EXPECT_EQ(sharer.DIBWidth(), 4);
    EXPECT_EQ(sharer.Refs(), 1);
  }
  ASSERT_TRUE(dib.CreateOrModify(24, 6, 3, 1));  // needs 204: a new buffer
  EXPECT_EQ(dib.AllocSize(), 204u);
  EXPECT_EQ(dib.GetAlphaFlag(), 0u);  // a fresh header
}

TEST(CreateOrModify, HeaderOverloads) {
  TestDib dib;
  ASSERT_TRUE(dib.Create(24, 5, 3, 0));
  BYTE* const pixels = dib.GetBytes();
  tagRZBMINFOHEADER header = kt::MakeHeader(24, 4, 3, 0);
  header.dwAlphaFlag = 2;
  header.dwReserved1[1] = 9;
  ASSERT_TRUE(dib.CreateOrModify(header, 1));
  EXPECT_EQ(dib.GetAlphaFlag(), 2u);
  EXPECT_EQ(dib.GetInterlacedFlag(), 1u);  // the argument wins over the header's word
  EXPECT_EQ(dib.GetRzBmiHeader()->dwReserved1[1], 9u);
  EXPECT_EQ(dib.GetBytes(), pixels);

  BITMAPINFOHEADER bih{40, 3, 3, 0, 24, 0, 0, 0, 1234, 0, 0};
  ASSERT_TRUE(dib.CreateOrModify(bih, 0));
  EXPECT_EQ(dib.GetRzBmiSize(), 144u);
  EXPECT_EQ(dib.GetRzBmiHeader()->biYPelsPerMeter, 1234);
  EXPECT_EQ(dib.GetInterlacedFlag(), 0u);
  EXPECT_EQ(dib.GetRzBmiHeader()->dwReserved1[1], 9u);  // the extension words stay

  TestDib src;
  ASSERT_TRUE(src.Create(32, 2, 2, 7));
  src.ncbwSetAlphaFlag(1);
  ASSERT_TRUE(dib.CreateOrModify(static_cast<const CRZDIBBase2&>(src)));
  EXPECT_EQ(std::memcmp(dib.GetRzBmiHeader(), src.GetRzBmiHeader(), 144), 0);
  EXPECT_EQ(dib.GetBytes(), pixels);

  // A shared block is recreated: the flag is written into this bitmap's block only.
  TestDib other(dib);
  ASSERT_TRUE(dib.CreateOrModify(kt::MakeHeader(24, 5, 3, 0), 1));
  EXPECT_EQ(dib.GetInterlacedFlag(), 1u);
  EXPECT_EQ(other.GetInterlacedFlag(), 7u);
}

TEST(CopyDibBytes, CopiesRawBytesIntoThisBitmapsPrivateCopyWhenLargeEnough) {
  TestDib src;
  ASSERT_TRUE(src.Create(24, 4, 3, 1));  // 36 bytes
  kt::FillRandom(src, 11);
  // (bits, width, height) of destinations: as large, larger, too small.
  for (auto [bits, w, h] : {std::tuple{32, 3, 3}, std::tuple{8, 8, 8}, std::tuple{8, 2, 2}}) {
    TestDib dst;
    ASSERT_TRUE(dst.Create(static_cast<WORD>(bits), w, h, 1));
    dst.ClearDIB(0x77);
    const TestDib sharer(dst);
    std::vector<BYTE> expected = kt::Pixels(dst);
    if (dst.DIBSize() >= 36) std::copy_n(src.GetBytes(), 36, expected.begin());
    dst.CopyDibBytes(src);
    EXPECT_EQ(kt::Pixels(dst), expected) << bits << " bits " << w << "x" << h;
    EXPECT_EQ(dst.DIBBitCount(), bits);  // headers are not touched
    EXPECT_EQ(sharer.GetBytes()[0], 0x77);
  }
}

TEST(ClearDIB, PixelFillByDepthAndByteFillOfEveryByte) {
  TestDib d32, d24, d8, d16;
  ASSERT_TRUE(d32.Create(32, 3, 2, 1));
  ASSERT_TRUE(d24.Create(24, 5, 2, 1));
  ASSERT_TRUE(d8.Create(8, 3, 2, 1));
  ASSERT_TRUE(d16.Create(16, 3, 2, 1));
  for (TestDib* d : {&d32, &d24, &d8, &d16}) d->ClearDIB(0);  // int overload
  for (TestDib* d : {&d32, &d24, &d8, &d16}) d->ClearDIB(0x11223344u);
  const BYTE px32[] = {0x44, 0x33, 0x22, 0x11};
  for (int i = 0; i < d32.DIBSize(); ++i) ASSERT_EQ(d32.GetBytes()[i], px32[i % 4]);
  for (int i = 0; i < d24.DIBSize(); ++i) {  // stride 16: one padding byte, left alone
    ASSERT_EQ(d24.GetBytes()[i], i % 16 == 15 ? 0 : 0x44 - 0x11 * (i % 16 % 3)) << i;
  }
  for (int i = 0; i < d8.DIBSize(); ++i) ASSERT_EQ(d8.GetBytes()[i], 0x11) << "highest byte, padding too";
  for (int i = 0; i < d16.DIBSize(); ++i) ASSERT_EQ(d16.GetBytes()[i], 0) << "16 bits untouched";

  for (WORD bits : {1, 4, 8, 16, 24, 32}) {
    TestDib dib;
    ASSERT_TRUE(dib.Create(bits, 5, 3, 1));
    dib.ClearDIB(0);
    TestDib sharer(dib);
    dib.ClearDIB(0x1FF);
    for (int i = 0; i < dib.DIBSize(); ++i) ASSERT_EQ(dib.GetBytes()[i], 0xFF) << bits;
    EXPECT_EQ(sharer.GetBytes()[0], 0) << "a sharer's pixels changed";
  }
}

TEST(ClearDIB, NeverWritesBeyondTheImageOrForNegativeGeometry) {
  // Attached memory has no slack: guard bytes right behind the image must survive.
  kt::GuardedImage image(24, 5, 3);
  TestDib dib(&image.header, image.Bits());
  dib.ClearDIB(0xFFFFFFFFu);
  dib.ClearDIB(0x7F);
  EXPECT_TRUE(image.GuardIntact());

  tagRZBMINFOHEADER header = kt::MakeHeader(32, 2, -2);
  BYTE memory[16];
  std::memset(memory, 0xCD, sizeof memory);
  TestDib negative(&header, memory);
  negative.ClearDIB(0u);
  negative.ClearDIB(0);
  header.biHeight = 2;
  header.biWidth = -2;
  negative.ClearDIB(0u);
  for (BYTE b : memory) ASSERT_EQ(b, 0xCD);
}

}  // namespace
