// CRZDIB2: its own storage for every block the core makes, the DIB section and
// its teardown, and the cache record carried by the block.

#include "io_support.h"

#include <functional>

namespace {

using kt::CountingDib2;

using Dib2 = kt::NoLeaks;

BITMAPINFOHEADER Format(LONG w, LONG h, WORD bits) { return kt::Info(w, h, bits).bmiHeader; }

CDIBCacheInfo Record(DWORD key) {
  CDIBCacheInfo info{};
  info.bInfoValid = 1;
  info.dwKey1 = key;
  return info;
}

// Header and pixels lie in CRZDIB2's own page-granular storage, committed for
// the header, the image and the slack behind it, in a block with room for the
// record (asan faults a write past a base-sized block).
void ExpectPlainStorage(CRZDIB2& dib) {
  const tagRZBMINFOHEADER* h = dib.GetRzBmiHeader();
  ASSERT_NE(h, nullptr);
  EXPECT_GE(kt::VirtualExtents(h).committed, 144 + static_cast<std::size_t>(dib.DIBSize()) + 32);
  EXPECT_EQ(dib.GetBytes(), reinterpret_cast<const BYTE*>(h) + 144);
  EXPECT_FALSE(dib.IsDIBSection());
  dib.SetCacheInfo(Record(1));
  EXPECT_TRUE(dib.EqualCacheInfo(Record(1)));
}

TEST_F(Dib2, EveryOperationMakesDerivedBlocksInItsOwnStorage) {
  CountingDib2 section;  // a source whose pixels live in a DIB section
  BITMAPINFOHEADER f = Format(24, 20, 32);
  ASSERT_TRUE(section.CreateDIBSection(&f, 1));
  kt::FillRandom(section, 4);
  const std::pair<const char*, std::function<bool(CountingDib2&)>> makers[] = {
      {"Create", [](CountingDib2& d) { return d.Create(24, 37, 29, 0); }},
      {"copy-before-write", [&](CountingDib2& d) {
         d = section;
         d.SetInterlacedFlag(0);
         return kt::Pixels(d) == kt::Pixels(section);
       }},
      {"CreateQuarter", [&](CountingDib2& d) { return d.CreateQuarter(section); }},
      {"Scale in place of a section", [](CountingDib2& d) {
         BITMAPINFOHEADER g = Format(6, 4, 32);
         return d.CreateDIBSection(&g, 1) && d.Scale(30, 10);
       }},
  };
  for (const auto& [name, make] : makers) {
    SCOPED_TRACE(name);
    CountingDib2 dib;
    ASSERT_TRUE(make(dib));
    ExpectPlainStorage(dib);
  }
  tagRZBMINFOHEADER h = kt::MakeHeader(24, 5, 3, 0);
  CRZDIB2 created(&h);  // the constructors too
  ExpectPlainStorage(created);
  BYTE pixels[16 * 3] = {};
  CRZDIB2 attached(&h, pixels);
  attached.SetCacheInfo(Record(2));  // a full derived block, even for attached memory
  EXPECT_EQ(attached.GetCacheInfo().dwKey1, 2u);
}

// The section and its DC are the block's: a sharer's release leaves them, a
// writer leaves with plain storage and the record, the last owner tears them
// down.
TEST_F(Dib2, CreateDIBSectionPlacesThePixelsInTheSectionUntilTheLastOwnerGoes) {
  CountingDib2 a;
  BITMAPINFOHEADER f = Format(5, 3, 24);
  f.biXPelsPerMeter = 77;
  ASSERT_TRUE(a.CreateDIBSection(&f, 0));
  EXPECT_EQ(kt::GdiObjects(), gdiStart_ + 2);  // the section and its DC
  tagRZBMINFOHEADER expected = kt::MakeHeader(24, 5, 3, 0);
  expected.biXPelsPerMeter = 77;
  EXPECT_EQ(std::memcmp(a.GetRzBmiHeader(), &expected, 144), 0);
  DIBSECTION ds{};
  const HBITMAP section = a.GetDIBSection();
  ASSERT_EQ(GetObjectA(section, sizeof ds, &ds), static_cast<int>(sizeof ds));
  EXPECT_EQ(ds.dsBm.bmBits, a.GetBytes());
  const HDC dc = a.GetDIBSectionDC()->GetSafeHdc();
  a.SetCacheInfo(Record(7));
  {
    CountingDib2 writer(a);
    writer.ClearDIB(1);
    EXPECT_EQ(writer.GetDIBSectionDC(), nullptr);
    EXPECT_TRUE(writer.EqualCacheInfo(Record(7)));
    ExpectPlainStorage(writer);
  }
  EXPECT_EQ(GetCurrentObject(dc, OBJ_BITMAP), section);
  BYTE* const bits = a.GetBytes();
  CRZDIB2 small;  // an AssignCopy that fits keeps the unshared section, and takes the record
  ASSERT_TRUE(small.Create(24, 3, 3, 1));
  a.AssignCopy(small);
  EXPECT_EQ(a.GetBytes(), bits);
  EXPECT_EQ(a.GetCacheInfo().bInfoValid, 0);
  a.Delete();
  // GDI refuses to delete a selected bitmap, so the section is gone only if it
  // was selected out (or its DC deleted) first.
  EXPECT_EQ(GetObjectA(section, 0, nullptr), 0);
  EXPECT_FALSE(DeleteDC(dc));
}

TEST_F(Dib2, CreateDIBSectionFailureLeavesTheBitmapEmptyAndReleasesEverything) {
  CountingDib2 a;
  ASSERT_TRUE(a.Create(24, 4, 4, 1));
  BITMAPINFOHEADER zeroWidth = Format(0, 4, 24);
  EXPECT_FALSE(a.CreateDIBSection(&zeroWidth, 1));
  EXPECT_TRUE(a.IsNilBlock());
  BITMAPINFOHEADER f = Format(7, 5, 24);
  ASSERT_TRUE(a.Create(8, 2, 2, 1));
  kt::FailEachAllocationInTurn([&] { return a.CreateDIBSection(&f, 1); }, [&](int n, bool ok) {
    if (ok) return;
    EXPECT_TRUE(a.IsNilBlock()) << n;
    EXPECT_EQ(CountingDib2::liveBlocks + CountingDib2::liveBuffers, 0) << n;
    EXPECT_EQ(kt::GdiObjects(), gdiStart_) << n;
    ASSERT_TRUE(a.Create(8, 2, 2, 1));
  });
  EXPECT_TRUE(a.IsDIBSection());
}

// Copies carry the record, except those of a locked source; the empty bitmap
// has the all-zero one and takes none.
TEST_F(Dib2, TheRecordTravelsWithCopiesAndTheEmptyBitmapHasNone) {
  CRZDIB2 a;
  ASSERT_TRUE(a.Create(24, 4, 4, 1));
  a.SetCacheInfo(Record(11));
  CRZDIB2 b;
  b.AssignCopy(a);
  EXPECT_TRUE(b.EqualCacheInfo(Record(11)));
  ASSERT_NE(a.LockDIB(), nullptr);
  CRZDIB2 c;
  c = a;
  EXPECT_EQ(c.GetCacheInfo().bInfoValid, 0);
  CRZDIB2 e;
  e.SetCacheInfo(Record(1));
  EXPECT_EQ(e.GetCacheInfo().bInfoValid, 0);
  b.AssignCopy(e);  // an empty source contributes the all-zero record only
  EXPECT_TRUE(b.IsValidDIB());
  EXPECT_EQ(b.GetCacheInfo().bInfoValid, 0);
}

TEST(CacheInfo, ComparisonsCoverTheirFields) {
  const CDIBCacheInfo base = Record(5);
  // (change, EqualInfo, EqualImage)
  using Change = void (*)(CDIBCacheInfo&);
  const std::tuple<Change, bool, bool> cases[] = {
      {[](CDIBCacheInfo&) {}, true, true},
      {[](CDIBCacheInfo& o) { o.nFrame = 10; }, false, true},
      {[](CDIBCacheInfo& o) { o.bInfoValid = 7; }, true, true},
      {[](CDIBCacheInfo& o) { o.dwData1 = o.dwData2 = o.dwData3 = 1; }, true, true},
      {[](CDIBCacheInfo& o) { o.rzHeader.dwAlphaFlag = o.rzHeader.biSize = 1; }, true, true},
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
