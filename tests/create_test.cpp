// Creation, reshaping, raw byte copies and clearing.

#include "test_support.h"

#include <climits>

namespace {

using kt::TestDib;

TEST(Create, PrimitiveLaysOutHeaderThenPixels) {
  TestDib dib;
  ASSERT_TRUE(dib.Create(24, 5, 3, 0));
  EXPECT_EQ(dib.AllocSize(), 192u);
  EXPECT_EQ(dib.GetBytes(), reinterpret_cast<BYTE*>(dib.GetRzBmiHeader()) + 144);
  const tagRZBMINFOHEADER& h = *dib.GetRzBmiHeader();
  tagRZBMINFOHEADER expected = kt::MakeHeader(24, 5, 3, 0);
  EXPECT_EQ(std::memcmp(&h, &expected, sizeof h), 0);  // every other byte zero
  EXPECT_TRUE(dib.IsCreated());
  EXPECT_FALSE(dib.IsLocked());
  EXPECT_EQ(dib.Refs(), 1);
}

TEST(Create, ReleasesThePreviousBlockButNotASharersCopy) {
  TestDib a;
  ASSERT_TRUE(a.Create(8, 4, 4, 1));
  a.ClearDIB(0x42);
  TestDib b(a);
  ASSERT_TRUE(b.Create(32, 2, 2, 1));
  EXPECT_EQ(a.Refs(), 1);
  EXPECT_EQ(a.GetBytes()[0], 0x42);
  EXPECT_EQ(a.DIBBitCount(), 8);
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

TEST(Create, FromHeaderCopiesAll144Bytes) {
  tagRZBMINFOHEADER header = kt::MakeHeader(32, 3, 2, 0);
  header.dwAlphaFlag = 2;
  header.biXPelsPerMeter = 3780;
  header.dwReserved2[6] = 0x12345678;
  TestDib dib;
  ASSERT_TRUE(dib.Create(&header));
  EXPECT_EQ(std::memcmp(dib.GetRzBmiHeader(), &header, 144), 0);
  EXPECT_EQ(dib.DIBSize(), 24);

  // From its own header: the source lives in the block being released.
  ASSERT_TRUE(dib.Create(dib.GetRzBmiHeader()));
  EXPECT_EQ(std::memcmp(dib.GetRzBmiHeader(), &header, 144), 0);
  ASSERT_TRUE(dib.Create(static_cast<const CRZDIBBase2&>(dib)));
  EXPECT_EQ(std::memcmp(dib.GetRzBmiHeader(), &header, 144), 0);
}

TEST(Create, NullHeaderOrEmptySourceLeavesBitmapUnchanged) {
  TestDib dib;
  ASSERT_TRUE(dib.Create(24, 4, 4, 1));
  CRzDibBaseData2* block = dib.Data();
  EXPECT_FALSE(dib.Create(static_cast<tagRZBMINFOHEADER*>(nullptr)));
  EXPECT_EQ(dib.Data(), block);
  TestDib empty;
  EXPECT_FALSE(dib.Create(static_cast<const CRZDIBBase2&>(empty)));
  EXPECT_EQ(dib.Data(), block);
  EXPECT_TRUE(dib.IsValidDIB());
  EXPECT_FALSE(dib.CreateOrModify(static_cast<const CRZDIBBase2&>(empty)));
  EXPECT_EQ(dib.Data(), block);
}

TEST(Create, FromBitmapInfoHeaderUsesOnlyGeometry) {
  BITMAPINFOHEADER bih{};
  bih.biSize = 40;
  bih.biWidth = 6;
  bih.biHeight = 2;
  bih.biBitCount = 16;
  bih.biCompression = 3;
  bih.biXPelsPerMeter = 99;
  TestDib dib;
  ASSERT_TRUE(dib.Create(&bih, 5));
  const tagRZBMINFOHEADER expected = kt::MakeHeader(16, 6, 2, 5);
  EXPECT_EQ(std::memcmp(dib.GetRzBmiHeader(), &expected, 144), 0);
}

class CreateOrModifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dib.Create(24, 5, 3, 0));  // nAllocSize 192
    dib.ncbwSetAlphaFlag(2);
    pixels = dib.GetBytes();
  }
  TestDib dib;
  BYTE* pixels = nullptr;
};

TEST_F(CreateOrModifyTest, ReshapesInPlaceWhenTheBufferFits) {
  ASSERT_TRUE(dib.CreateOrModify(24, 4, 3, 1));  // needs 180
  EXPECT_EQ(dib.GetBytes(), pixels);
  EXPECT_EQ(dib.AllocSize(), 192u);
  EXPECT_EQ(dib.DIBWidth(), 4);
  EXPECT_EQ(dib.GetAlphaFlag(), 2u);
  EXPECT_EQ(dib.GetInterlacedFlag(), 1u);

  ASSERT_TRUE(dib.CreateOrModify(32, 4, 3, 1));  // needs exactly 192
  EXPECT_EQ(dib.GetBytes(), pixels);
}

TEST_F(CreateOrModifyTest, ReallocatesWhenTooSmall) {
  ASSERT_TRUE(dib.CreateOrModify(24, 6, 3, 1));  // needs 204
  EXPECT_NE(dib.GetBytes(), pixels);
  EXPECT_EQ(dib.AllocSize(), 204u);
  EXPECT_EQ(dib.GetAlphaFlag(), 0u);  // a fresh header
}

TEST_F(CreateOrModifyTest, LockedBlockIsReshapedAndStaysLocked) {
  dib.LockDIB();
  ASSERT_TRUE(dib.CreateOrModify(8, 8, 3, 1));
  EXPECT_EQ(dib.GetBytes(), pixels);
  EXPECT_TRUE(dib.IsLocked());
}

TEST_F(CreateOrModifyTest, SharedBlockIsNeverReshaped) {
  TestDib other(dib);
  ASSERT_TRUE(dib.CreateOrModify(24, 2, 2, 1));
  EXPECT_NE(dib.GetBytes(), pixels);
  EXPECT_EQ(other.GetBytes(), pixels);
  EXPECT_EQ(other.DIBWidth(), 5);
  EXPECT_EQ(other.Refs(), 1);
}

TEST_F(CreateOrModifyTest, HeaderOverloads) {
  tagRZBMINFOHEADER header = kt::MakeHeader(24, 4, 3, 0);
  header.dwAlphaFlag = 2;
  header.dwReserved1[1] = 9;
  ASSERT_TRUE(dib.CreateOrModify(header, 1));
  EXPECT_EQ(dib.GetAlphaFlag(), 2u);
  EXPECT_EQ(dib.GetInterlacedFlag(), 1u);  // the argument wins over the header's word
  EXPECT_EQ(dib.GetRzBmiHeader()->dwReserved1[1], 9u);
  EXPECT_EQ(dib.GetBytes(), pixels);

  BITMAPINFOHEADER bih{};
  bih.biSize = 40;
  bih.biWidth = 3;
  bih.biHeight = 3;
  bih.biBitCount = 24;
  bih.biYPelsPerMeter = 1234;
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
}

TEST_F(CreateOrModifyTest, HeaderOverloadGivesSharerItsOwnFlag) {
  // Reshaping in place is impossible for a shared block, so it recreates;
  // the interlaced flag is written into this bitmap's block only.
  TestDib other(dib);
  tagRZBMINFOHEADER header = kt::MakeHeader(24, 5, 3, 0);
  ASSERT_TRUE(dib.CreateOrModify(header, 1));
  EXPECT_EQ(dib.GetInterlacedFlag(), 1u);
  EXPECT_EQ(other.GetInterlacedFlag(), 0u);
}

TEST(CopyDibBytes, CopiesRawBytesWhenTheDestinationIsLargeEnough) {
  TestDib src, dst;
  ASSERT_TRUE(src.Create(24, 4, 3, 1));  // 36 bytes
  ASSERT_TRUE(dst.Create(32, 3, 3, 1));  // 36 bytes
  kt::FillRandom(src, 11);
  dst.CopyDibBytes(src);
  EXPECT_EQ(kt::Pixels(dst), kt::Pixels(src));
  EXPECT_EQ(dst.DIBBitCount(), 32);  // headers are not touched

  TestDib big;
  ASSERT_TRUE(big.Create(8, 8, 8, 1));
  big.ClearDIB(0x77);
  big.CopyDibBytes(src);
  EXPECT_EQ(std::memcmp(big.GetBytes(), src.GetBytes(), 36), 0);
  for (int i = 36; i < big.DIBSize(); ++i) ASSERT_EQ(big.GetBytes()[i], 0x77) << i;

  TestDib small;
  ASSERT_TRUE(small.Create(8, 2, 2, 1));
  small.ClearDIB(0x33);
  small.CopyDibBytes(src);
  for (int i = 0; i < small.DIBSize(); ++i) ASSERT_EQ(small.GetBytes()[i], 0x33);
}

TEST(CopyDibBytes, WritesOnlyThisBitmapsPrivateCopy) {
  TestDib a, b, src;
  ASSERT_TRUE(a.Create(8, 4, 4, 1));
  a.ClearDIB(1);
  b = a;
  ASSERT_TRUE(src.Create(8, 4, 4, 1));
  src.ClearDIB(2);
  b.CopyDibBytes(src);
  EXPECT_EQ(a.GetBytes()[0], 1);
  EXPECT_EQ(b.GetBytes()[0], 2);
}

TEST(ClearDIB, PerPixelFillByDepth) {
  TestDib d32, d24, d8, d16;
  ASSERT_TRUE(d32.Create(32, 3, 2, 1));
  ASSERT_TRUE(d24.Create(24, 5, 2, 1));
  ASSERT_TRUE(d8.Create(8, 3, 2, 1));
  ASSERT_TRUE(d16.Create(16, 3, 2, 1));
  for (TestDib* d : {&d32, &d24, &d8, &d16}) d->ClearDIB(0);  // int overload
  for (TestDib* d : {&d32, &d24, &d8, &d16}) d->ClearDIB(0x11223344u);

  const BYTE px32[] = {0x44, 0x33, 0x22, 0x11};
  for (int i = 0; i < d32.DIBSize(); ++i) ASSERT_EQ(d32.GetBytes()[i], px32[i % 4]);

  const int stride = d24.DIBBytesPerLine();  // 16: one padding byte
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 5; ++x) {
      const BYTE* p = d24.GetBytes() + y * stride + 3 * x;
      ASSERT_EQ(p[0], 0x44);
      ASSERT_EQ(p[1], 0x33);
      ASSERT_EQ(p[2], 0x22);
    }
  }
  for (int i = 0; i < d8.DIBSize(); ++i) ASSERT_EQ(d8.GetBytes()[i], 0x11) << "highest byte, padding too";
  for (int i = 0; i < d16.DIBSize(); ++i) ASSERT_EQ(d16.GetBytes()[i], 0) << "16 bits untouched";
}

TEST(ClearDIB, ByteFillCoversPaddingAtEveryDepth) {
  for (WORD bits : {1, 4, 8, 16, 24, 32}) {
    TestDib dib;
    ASSERT_TRUE(dib.Create(bits, 5, 3, 1));
    dib.ClearDIB(0x1FF);
    for (int i = 0; i < dib.DIBSize(); ++i) ASSERT_EQ(dib.GetBytes()[i], 0xFF) << bits;
  }
}

TEST(ClearDIB, NeverWritesBeyondTheImage) {
  // Attached memory has no slack: guard bytes right behind the image must survive.
  tagRZBMINFOHEADER header = kt::MakeHeader(24, 5, 3);
  std::vector<BYTE> memory(48 + 16, 0xCD);
  TestDib dib(&header, memory.data());
  dib.ClearDIB(0xFFFFFFFFu);
  dib.ClearDIB(0x7F);
  for (size_t i = 48; i < memory.size(); ++i) ASSERT_EQ(memory[i], 0xCD) << i;
}

TEST(ClearDIB, NegativeGeometryWritesNothing) {
  tagRZBMINFOHEADER header = kt::MakeHeader(32, 2, -2);
  BYTE memory[16];
  std::memset(memory, 0xCD, sizeof memory);
  TestDib dib(&header, memory);
  dib.ClearDIB(0u);
  dib.ClearDIB(0);
  header.biHeight = 2;
  header.biWidth = -2;
  dib.ClearDIB(0u);
  for (BYTE b : memory) ASSERT_EQ(b, 0xCD);
}

TEST(ClearDIB, LeavesASharersPixelsAlone) {
  TestDib a;
  ASSERT_TRUE(a.Create(32, 2, 2, 1));
  a.ClearDIB(0);
  TestDib b(a);
  b.ClearDIB(0xFFu);
  EXPECT_EQ(a.GetBytes()[0], 0);
  EXPECT_EQ(b.GetBytes()[0], 0xFF);
}

}  // namespace
