// CRZDIB2: the DIB section, the cache record, and creations that fail.

#include "io_support.h"

#include <functional>

namespace {

using kt::CountingDib2;

using Dib2 = kt::NoLeaks;

BITMAPINFOHEADER Format(LONG w, LONG h, WORD bits) { return kt::Info(w, h, bits).bmiHeader; }

// The section and its DC belong to the block: only its last owner tears them down.
TEST_F(Dib2, CreateDIBSectionPlacesThePixelsInTheSectionUntilTheLastOwnerGoes) {
  CountingDib2 a;
  BITMAPINFOHEADER f = Format(5, 3, 24);
  ASSERT_TRUE(a.CreateDIBSection(&f, 0));
  EXPECT_EQ(kt::GdiObjects(), gdiStart_ + 2);  // the section and its DC
  const tagRZBMINFOHEADER expected = kt::MakeHeader(24, 5, 3, 0);
  EXPECT_EQ(std::memcmp(a.GetRzBmiHeader(), &expected, kt::kHeaderBytes), 0);
  DIBSECTION ds{};
  const HBITMAP section = a.GetDIBSection();
  ASSERT_EQ(GetObjectA(section, sizeof ds, &ds), static_cast<int>(sizeof ds));
  EXPECT_EQ(ds.dsBm.bmBits, a.GetBytes());
  const HDC dc = a.GetDIBSectionDC()->GetSafeHdc();
  a.SetCacheInfo(kt::CacheKey(7));
  {
    CountingDib2 writer(a);
    writer.ClearDIB(1);
    EXPECT_FALSE(writer.IsDIBSection());
    EXPECT_TRUE(writer.EqualCacheInfo(kt::CacheKey(7)));
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
  ASSERT_TRUE(a.Scale(30, 10));  // in place: plain storage, and the last owner lets the section go
  EXPECT_FALSE(a.IsDIBSection());
  // GDI deletes no selected bitmap: the section had to be selected out first.
  EXPECT_EQ(GetObjectA(section, 0, nullptr), 0);
  EXPECT_FALSE(DeleteDC(dc));
  tagRZBMINFOHEADER h = kt::MakeHeader(24, 5, 3, 0);
  BYTE pixels[16 * 3] = {};
  CRZDIB2 attached(&h, pixels);
  attached.SetCacheInfo(kt::CacheKey(2));  // a full derived block, even for attached memory
  EXPECT_EQ(attached.GetCacheInfo().dwKey1, 2u);
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
      {"CreateOrModify that must reallocate",
       [](CountingDib2& d) { return d.CreateOrModify(32, 30, 30, 1); }},
      {"CreateDIBSection", [&](CountingDib2& d) { return d.CreateDIBSection(&f, 1); }},
  };
  CountingDib2 dib;
  for (const auto& [name, op] : cases) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(dib.Create(8, 3, 3, 1));
    kt::FailEachAllocationInTurn(
        [&, &op = op] { return op(dib); },
        [&](int n, bool ok) {
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

}  // namespace
