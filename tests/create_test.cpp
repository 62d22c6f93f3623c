// Creation, headers and their size field, geometry, flag setters and clearing.

#include "test_support.h"

#include <climits>
#include <functional>
#include <initializer_list>

namespace {

using kt::TestDib;

// Rows padded to 32 bits behind a header of the geometry alone; refusals empty the bitmap.
TEST(Create, GeometryByDepthAndRefusals) {
  for (WORD bits : {1, 4, 8, 16, 24, 32, 64}) {
    for (int width = 1; width <= 33; width += 4) {
      TestDib dib;
      ASSERT_TRUE(dib.Create(bits, width, 3, 0));
      // The pixels' bytes rounded up to whole 4-byte words.
      const int bytes = (bits * width + 7) / 8;
      EXPECT_EQ(dib.DIBSize(), (bytes + 3) / 4 * 4 * 3) << bits << " bits, width " << width;
      const tagRZBMINFOHEADER expected = kt::MakeHeader(bits, width, 3, 0);
      EXPECT_EQ(std::memcmp(dib.GetRzBmiHeader(), &expected, kt::kHeaderBytes), 0);
    }
  }
  // The last: header + image + slack one byte over 31 bits.
  const std::tuple<WORD, int, int> refused[] = {
      {24, -1, 10},       {24, 10, -1},
      {32, INT_MIN, 1},   {32, 1 << 29, 1},
      {32, 65536, 65536}, {0xFFFF, 1 << 20, 1},
      {24, 46341, 46341}, {8, INT32_MAX - static_cast<int>(kt::kHeaderBytes) - 32 + 1, 1}};
  for (const auto& [bits, width, height] : refused) {
    SCOPED_TRACE(testing::Message() << bits << " bits " << width << " x " << height);
    TestDib dib;
    ASSERT_TRUE(dib.Create(8, 2, 2, 1));
    EXPECT_FALSE(dib.Create(bits, width, height, 1));
    EXPECT_TRUE(dib.IsNilBlock());
    ASSERT_TRUE(dib.Create(8, 2, 2, 1));
    EXPECT_FALSE(dib.CreateOrModify(bits, width, height, 1));
    EXPECT_TRUE(dib.IsNilBlock());
  }
}

// From a header all 144 bytes (even from the bitmap's own), from a BITMAPINFOHEADER the
// geometry; reshaping by one keeps biSize 144 and the extension words.
TEST(Create, FromHeadersAndBitmaps) {
  tagRZBMINFOHEADER header = kt::MakeHeader(32, 3, 2, 0);
  header.dwAlphaFlag = 2;
  header.dwReserved1[1] = 9;
  TestDib dib;
  ASSERT_TRUE(dib.Create(&header));
  ASSERT_TRUE(dib.Create(dib.GetRzBmiHeader()));
  ASSERT_TRUE(dib.Create(static_cast<const CRZDIBBase2&>(dib)));
  EXPECT_EQ(std::memcmp(dib.GetRzBmiHeader(), &header, kt::kHeaderBytes), 0);
  CRzDibBaseData2* block = dib.Data();  // an empty source leaves the bitmap unchanged
  EXPECT_FALSE(dib.Create(static_cast<const CRZDIBBase2&>(TestDib())));
  EXPECT_FALSE(dib.CreateOrModify(static_cast<const CRZDIBBase2&>(TestDib())));
  EXPECT_EQ(dib.Data(), block);
  BITMAPINFOHEADER bih{40, 6, 2, 0, 16, 3, 0, 99, 0, 0, 0};
  TestDib other;
  ASSERT_TRUE(other.Create(&bih, 5));
  const tagRZBMINFOHEADER expected = kt::MakeHeader(16, 6, 2, 5);
  EXPECT_EQ(std::memcmp(other.GetRzBmiHeader(), &expected, kt::kHeaderBytes), 0);

  ASSERT_TRUE(dib.CreateOrModify(header, 1));
  EXPECT_EQ(dib.GetInterlacedFlag(), 1u);
  bih.biYPelsPerMeter = 1234;
  ASSERT_TRUE(dib.CreateOrModify(bih, 0));
  EXPECT_EQ(dib.GetRzBmiSize(), kt::kHeaderBytes);
  EXPECT_EQ(dib.GetRzBmiHeader()->biYPelsPerMeter, 1234);
  EXPECT_EQ(dib.GetRzBmiHeader()->dwReserved1[1], 9u);
  ASSERT_TRUE(dib.CreateOrModify(static_cast<const CRZDIBBase2&>(other)));
  EXPECT_EQ(std::memcmp(dib.GetRzBmiHeader(), &expected, kt::kHeaderBytes), 0);
}

// Every entry point taking a caller's header refuses a biSize outside 40..144;
// copies of the others keep the pixels biSize bytes behind the header.
template <class Dib>
void CheckCallersHeaderSizes() {
  using Call = std::function<bool(Dib&, tagRZBMINFOHEADER&, BYTE*)>;
  const std::tuple<const char*, bool, Call> entries[] = {
      {"Create", true, [](Dib& d, tagRZBMINFOHEADER& h, BYTE*) { return d.Create(&h); }},
      {"CreateOrModify", false,
       [](Dib& d, tagRZBMINFOHEADER& h, BYTE*) { return d.CreateOrModify(h, 1); }},
      {"Attach", false,
       [](Dib& d, tagRZBMINFOHEADER& h, BYTE* bits) { return d.Attach(&h, bits); }},
      {"the header constructor", false,
       [](Dib& d, tagRZBMINFOHEADER& h, BYTE*) { return (d = Dib(&h)).IsValidDIB(); }},
      {"the attaching constructor", false,
       [](Dib& d, tagRZBMINFOHEADER& h, BYTE* bits) { return (d = Dib(&h, bits)).IsValidDIB(); }},
  };
  for (const auto& [name, keepsTheBitmap, call] : entries) {
    for (DWORD size :
         std::initializer_list<DWORD>{0, 39, 145, 148, 8192, 40, 100, kt::kHeaderBytes}) {
      SCOPED_TRACE(testing::Message() << name << ", biSize " << size);
      const bool accepted = size >= 40 && size <= kt::kHeaderBytes;
      tagRZBMINFOHEADER header = kt::MakeHeader(8, 4, 1);  // 4 pixel bytes
      header.biSize = size;
      std::vector<BYTE> bits(4, 0x5A);
      Dib dib;
      ASSERT_TRUE(dib.Create(24, 4, 3, 1));
      const CRzDibBaseData2* before = dib.Data();
      ASSERT_EQ(call(dib, header, bits.data()), accepted);
      if (!accepted) {
        EXPECT_EQ(dib.Data() == before, keepsTheBitmap);
        EXPECT_EQ(dib.GetRzBmiSize(), keepsTheBitmap ? kt::kHeaderBytes : 0u);
        continue;
      }
      EXPECT_EQ(dib.GetRzBmiSize(), size);
      std::memset(dib.GetBytes(), 0x5A, 4);
      Dib copy(dib);
      copy.LockDIB();  // a private copy of a shared block
      EXPECT_EQ(copy.GetBytes(), reinterpret_cast<BYTE*>(copy.GetRzBmiHeader()) + size);
      EXPECT_EQ(std::memcmp(copy.GetBytes(), dib.GetBytes(), 4), 0);
      EXPECT_EQ(std::memcmp(copy.GetRzBmiHeader(), dib.GetRzBmiHeader(), size), 0);
      tagRZBMINFOHEADER out;
      copy.GetRzBmiHeader(out);  // all 144 bytes, whatever biSize says: the buffer holds them
      EXPECT_EQ(std::memcmp(&out, copy.GetRzBmiHeader(), size), 0);
      Dib assigned;  // header and pixels as one run, as in the copy
      assigned.AssignCopy(copy);
      EXPECT_EQ(std::memcmp(assigned.GetRzBmiHeader(), copy.GetRzBmiHeader(), size + 4), 0);
    }
  }
}

TEST(Create, CallersHeaderSizesOutside40To144AreRefusedEverywhere) {
  CheckCallersHeaderSizes<TestDib>();
  CheckCallersHeaderSizes<kt::TestDib2>();
}

// Pixel fills: 24 and 32 bits per pixel, not the padding; 8 bits the top byte; others nothing.
TEST(ClearDIB, PixelAndByteFillsByDepth) {
  for (WORD bits : {1, 8, 16, 24, 32}) {
    for (int width : {3, 5}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, width " << width);
      kt::GuardedImage image(bits, width, 3);
      std::fill(image.bytes.begin(), image.bytes.end() - kt::GuardedImage::kGuard, 0);
      TestDib dib(&image.header, image.Bits());
      TestDib sharer(dib);  // a private copy: the attached memory stays as it was
      sharer.ClearDIB(0x11223344u);
      const int stride = kt::Stride(bits, width);
      std::vector<BYTE> expected(static_cast<std::size_t>(stride) * 3, 0);
      for (int i = 0; i < stride * 3; ++i) {
        const int x = i % stride;
        if (bits == 8) expected[i] = 0x11;
        if (bits >= 24 && x < width * bits / 8)
          expected[i] = static_cast<BYTE>(0x44332211u >> (8 * (3 - x % (bits / 8))));
      }
      EXPECT_EQ(kt::Pixels(sharer), expected);
      EXPECT_EQ(image.Bits()[0], 0);
      dib.ClearDIB(0x1FF);
      EXPECT_TRUE(kt::AllBytes(dib, 0xFF));
      EXPECT_TRUE(image.GuardIntact());
    }
  }
  tagRZBMINFOHEADER header = kt::MakeHeader(32, 2, -2);  // negative geometry: nothing written
  BYTE memory[16] = {};
  TestDib negative(&header, memory);
  negative.ClearDIB(0xCDu);
  negative.ClearDIB(0xCD);
  EXPECT_TRUE(std::all_of(memory, memory + 16, [](BYTE b) { return b == 0; }));
}

// On a sharer: (flag before, setter, flag after, whether it writes a private copy).
TEST(Header, FlagSettersWriteInPlaceOrOnAPrivateCopy) {
  using Setter = void (*)(TestDib&);
  const std::tuple<DWORD, Setter, DWORD, bool> cases[] = {
      {1, [](TestDib& d) { d.SetAlphaPremultiplied(true); }, 2, false},
      {3, [](TestDib& d) { d.SetAlphaPremultiplied(false); }, 1, true},
      {2, [](TestDib& d) { d.SetAlphaValid(false); }, 3, true},
      {3, [](TestDib& d) { d.SetAlphaValid(true); }, 2, false},
      {0xF0, [](TestDib& d) { d.SetAlphaValid(false); }, 0xF1, true},  // undefined bits travel
      {0, [](TestDib& d) { d.ncbwSetAlphaFlag(5); }, 5, false},
      {0, [](TestDib& d) { d.SetInterlacedFlag(0); }, 0, true},
  };
  for (const auto& [before, set, after, copies] : cases) {
    TestDib a;
    ASSERT_TRUE(a.Create(32, 2, 2, 1));
    a.ncbwSetAlphaFlag(before);
    TestDib b(a);
    set(b);
    EXPECT_EQ(b.GetAlphaFlag(), after) << before;
    EXPECT_EQ(a.Data() != b.Data(), copies) << before;
    EXPECT_EQ(a.GetAlphaFlag(), copies ? before : after) << before;
    EXPECT_EQ(a.GetInterlacedFlag(), 1u);
  }
  TestDib empty;  // without a header the setters write nothing (the empty block is read-only)
  empty.SetInterlacedFlag(1);
  empty.SetAlphaValid(false);
  EXPECT_TRUE(empty.IsNilBlock());
}

}  // namespace
