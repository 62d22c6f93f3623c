// CRZDIB2: its own storage for every block, the DIB section, and the cache record.

#include "io_support.h"

#include <functional>

namespace {

using kt::CountingDib2;

using Dib2 = kt::NoLeaks;

BITMAPINFOHEADER Format(LONG w, LONG h, WORD bits) { return kt::Info(w, h, bits).bmiHeader; }

// Page-granular storage for header, image and slack, in a block with room for the record.
void ExpectPlainStorage(CRZDIB2& dib) {
  const tagRZBMINFOHEADER* h = dib.GetRzBmiHeader();
  ASSERT_NE(h, nullptr);
  EXPECT_GE(kt::VirtualExtents(h).committed, 144 + static_cast<std::size_t>(dib.DIBSize()) + 32);
  EXPECT_EQ(dib.GetBytes(), reinterpret_cast<const BYTE*>(h) + 144);
  EXPECT_FALSE(dib.IsDIBSection());
  dib.SetCacheInfo(kt::CacheKey(1));
  EXPECT_TRUE(dib.EqualCacheInfo(kt::CacheKey(1)));
}

TEST_F(Dib2, EveryOperationMakesDerivedBlocksInItsOwnStorage) {
  CountingDib2 section;  // a source whose pixels live in a DIB section
  BITMAPINFOHEADER f = Format(24, 20, 32);
  ASSERT_TRUE(section.CreateDIBSection(&f, 1));
  kt::FillRandom(section, 4);
  CountingDib2 dib;
  ASSERT_TRUE(dib.Create(24, 37, 29, 0));
  ExpectPlainStorage(dib);
  dib = section;
  dib.SetInterlacedFlag(0);  // copy-before-write
  EXPECT_EQ(kt::Pixels(dib), kt::Pixels(section));
  ExpectPlainStorage(dib);
  ASSERT_TRUE(dib.CreateQuarter(section));
  ExpectPlainStorage(dib);
  ASSERT_TRUE(section.Scale(30, 10));  // in place: the section goes
  ExpectPlainStorage(section);
  tagRZBMINFOHEADER h = kt::MakeHeader(24, 5, 3, 0);
  CRZDIB2 created(&h);  // the constructors too
  ExpectPlainStorage(created);
  BYTE pixels[16 * 3] = {};
  CRZDIB2 attached(&h, pixels);
  attached.SetCacheInfo(kt::CacheKey(2));  // a full derived block, even for attached memory
  EXPECT_EQ(attached.GetCacheInfo().dwKey1, 2u);
}

// The section and its DC belong to the block: only its last owner tears them down.
TEST_F(Dib2, CreateDIBSectionPlacesThePixelsInTheSectionUntilTheLastOwnerGoes) {
  CountingDib2 a;
  BITMAPINFOHEADER f = Format(5, 3, 24);
  ASSERT_TRUE(a.CreateDIBSection(&f, 0));
  EXPECT_EQ(kt::GdiObjects(), gdiStart_ + 2);  // the section and its DC
  const tagRZBMINFOHEADER expected = kt::MakeHeader(24, 5, 3, 0);
  EXPECT_EQ(std::memcmp(a.GetRzBmiHeader(), &expected, 144), 0);
  DIBSECTION ds{};
  const HBITMAP section = a.GetDIBSection();
  ASSERT_EQ(GetObjectA(section, sizeof ds, &ds), static_cast<int>(sizeof ds));
  EXPECT_EQ(ds.dsBm.bmBits, a.GetBytes());
  const HDC dc = a.GetDIBSectionDC()->GetSafeHdc();
  a.SetCacheInfo(kt::CacheKey(7));
  {
    CountingDib2 writer(a);
    writer.ClearDIB(1);
    EXPECT_EQ(writer.GetDIBSectionDC(), nullptr);
    EXPECT_TRUE(writer.EqualCacheInfo(kt::CacheKey(7)));
    ExpectPlainStorage(writer);
  }
  EXPECT_EQ(GetCurrentObject(dc, OBJ_BITMAP), section);
  CountingDib2 copy;
  ASSERT_NE(a.LockDIB(), nullptr);
  copy = a;  // a locked source is copied, without the record
  a.UnlockDIB();
  EXPECT_EQ(copy.GetCacheInfo().bInfoValid, 0);
  copy.SetCacheInfo(kt::CacheKey(8));
  BYTE* const bits = a.GetBytes();
  a.AssignCopy(copy);  // fits: keeps the unshared section, and takes the record
  EXPECT_EQ(a.GetBytes(), bits);
  EXPECT_TRUE(a.EqualCacheInfo(kt::CacheKey(8)));
  CRZDIB2 empty;  // the all-zero record, which SetCacheInfo cannot write
  empty.SetCacheInfo(kt::CacheKey(1));
  EXPECT_EQ(empty.GetCacheInfo().bInfoValid, 0);
  a.AssignCopy(empty);  // contributes that record only
  EXPECT_TRUE(a.IsValidDIB());
  EXPECT_EQ(a.GetCacheInfo().bInfoValid, 0);
  a.Delete();
  // GDI deletes no selected bitmap: the section had to be selected out first.
  EXPECT_EQ(GetObjectA(section, 0, nullptr), 0);
  EXPECT_FALSE(DeleteDC(dc));
}

// Whichever allocation fails, a creation leaves the bitmap empty and releases all it made.
TEST_F(Dib2, CreationsFailEachAllocationInTurnAndLeaveTheBitmapEmpty) {
  tagRZBMINFOHEADER header = kt::MakeHeader(32, 5, 5, 0);
  tagRZBMINFOHEADER attached = kt::MakeHeader(8, 4, 1);
  BYTE pixels[4] = {};
  BITMAPINFOHEADER f = Format(7, 5, 24);
  const std::pair<const char*, std::function<bool(CountingDib2&)>> cases[] = {
      {"Create", [](CountingDib2& d) { return d.Create(24, 17, 9, 1); }},
      {"Create from a header", [&](CountingDib2& d) { return d.Create(&header); }},
      {"Attach", [&](CountingDib2& d) { return d.Attach(&attached, pixels); }},
      {"CreateOrModify that must reallocate", [](CountingDib2& d) { return d.CreateOrModify(32, 30, 30, 1); }},
      {"CreateDIBSection", [&](CountingDib2& d) { return d.CreateDIBSection(&f, 1); }},
  };
  CountingDib2 dib;
  for (const auto& [name, op] : cases) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(dib.Create(8, 3, 3, 1));
    kt::FailEachAllocationInTurn([&] { return op(dib); }, [&](int n, bool ok) {
      if (ok) return;
      EXPECT_TRUE(dib.IsNilBlock()) << n;
      EXPECT_EQ(CountingDib2::liveBlocks + CountingDib2::liveBuffers, 0) << n;
      EXPECT_EQ(kt::GdiObjects(), gdiStart_) << n;
      ASSERT_TRUE(dib.Create(8, 3, 3, 1));
    });
  }
  BITMAPINFOHEADER zeroWidth = Format(0, 4, 24);  // refused by GDI: empty as well
  EXPECT_FALSE(dib.CreateDIBSection(&zeroWidth, 1));
  EXPECT_TRUE(dib.IsNilBlock());
}

TEST(CacheInfo, ComparisonsCoverTheirFields) {
  const CDIBCacheInfo base = kt::CacheKey(5);
  // (change, EqualInfo, EqualImage)
  using Change = void (*)(CDIBCacheInfo&);
  const std::tuple<Change, bool, bool> cases[] = {
      {[](CDIBCacheInfo& o) { o.nFrame = 10; }, false, true},
      {[](CDIBCacheInfo& o) {  // fields that take no part
         o.bInfoValid = 7;
         o.dwData1 = o.dwData2 = o.dwData3 = 1;
         o.rzHeader.dwAlphaFlag = o.rzHeader.biSize = 1;
       },
       true, true},
      {[](CDIBCacheInfo& o) { o.nFlags = 1; }, false, false},
      {[](CDIBCacheInfo& o) { o.nFrameMode = 1; }, false, false},
      {[](CDIBCacheInfo& o) { o.dwKey4 = 1; }, false, false},
      {[](CDIBCacheInfo& o) { o.rzHeader.biHeight = 1; }, false, false},
      {[](CDIBCacheInfo& o) { o.rzHeader.dwInterlacedFlag = 1; }, false, false},
      {[](CDIBCacheInfo& o) { o.bInfoValid = 0; }, false, false},
  };
  for (const auto& [change, info, image] : cases) {
    CDIBCacheInfo other = base;
    change(other);
    EXPECT_EQ(base.EqualInfo(other), info);
    EXPECT_EQ(base.EqualImage(other), image);
  }
}

}  // namespace
