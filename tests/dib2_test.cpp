// CRZDIB2: its own storage for every block the core makes, the DIB section and
// its teardown, the cache record carried by the block, and the empty bitmap.

#include "io_support.h"

namespace {

using kt::CountingDib2;
using kt::TestDib2;

using Dib2 = kt::NoLeaks;

BITMAPINFOHEADER Format(LONG w, LONG h, WORD bits) { return kt::Info(w, h, bits).bmiHeader; }

CDIBCacheInfo Record(DWORD key) {
  CDIBCacheInfo info{};
  info.bInfoValid = 1;
  info.nFlags = 3;
  info.nFrame = 9;
  info.dwKey1 = key;
  return info;
}

// Header and pixels lie in CRZDIB2's own page-granular storage, committed for
// the header, the image and the slack behind it.
void ExpectPlainStorage(const CRZDIB2& dib) {
  const tagRZBMINFOHEADER* h = dib.GetRzBmiHeader();
  ASSERT_NE(h, nullptr);
  EXPECT_GE(kt::VirtualExtents(h).committed, 144 + static_cast<std::size_t>(dib.DIBSize()) + 32);
  EXPECT_EQ(dib.GetBytes(), reinterpret_cast<const BYTE*>(h) + 144);
  EXPECT_FALSE(dib.IsDIBSection());
}

TEST_F(Dib2, EveryOperationMakesDerivedBlocksInItsOwnStorage) {
  CountingDib2 a;
  ASSERT_TRUE(a.Create(24, 37, 29, 0));
  ExpectPlainStorage(a);
  ASSERT_TRUE(a.CreateOrModify(32, 40, 30, 1));  // must reallocate
  ExpectPlainStorage(a);
  kt::FillRandom(a, 3);
  a.SetCacheInfo(Record(1));  // writes past a base-sized block would fault under asan
  CountingDib2 b(a);
  b.SetInterlacedFlag(0);  // copy-before-write
  ExpectPlainStorage(b);
  EXPECT_EQ(kt::Pixels(a), kt::Pixels(b));
  EXPECT_TRUE(b.EqualCacheInfo(Record(1)));

  CountingDib2 section;  // transforms of a source whose pixels live in a DIB section
  BITMAPINFOHEADER f = Format(24, 20, 32);
  ASSERT_TRUE(section.CreateDIBSection(&f, 1));
  kt::FillRandom(section, 4);
  CountingDib2 quarter, scaled, mirrored, frame;
  ASSERT_TRUE(quarter.CreateQuarter(section));
  ASSERT_TRUE(scaled.CreateScaled(section, 7, 9));
  ASSERT_TRUE(frame.CreateInterpolatedFrame(section, 1, 1));
  ASSERT_TRUE(mirrored.Create(32, 24, 20, 1));
  ASSERT_TRUE(mirrored.Mirror(1, 1, section));
  for (CountingDib2* d : {&quarter, &scaled, &frame, &mirrored}) ExpectPlainStorage(*d);
  ASSERT_TRUE(section.Scale(30, 10));  // in place: the section goes, plain storage comes
  ExpectPlainStorage(section);
  EXPECT_EQ(kt::GdiObjects(), gdiStart_);

  tagRZBMINFOHEADER h = kt::MakeHeader(24, 5, 3, 0);
  CRZDIB2 created(&h);  // the constructors too
  ExpectPlainStorage(created);
  BYTE pixels[16 * 3] = {};
  CRZDIB2 attached(&h, pixels);
  attached.SetCacheInfo(Record(2));  // a full derived block, even for attached memory
  const CRZDIB2 copy(attached);
  EXPECT_EQ(copy.GetBytes(), pixels);
  EXPECT_EQ(copy.GetCacheInfo().dwKey1, 2u);
}

TEST_F(Dib2, CreateDIBSectionPlacesThePixelsInTheSection) {
  CountingDib2 a;
  ASSERT_TRUE(a.Create(8, 3, 3, 1));  // released by the creation
  BITMAPINFOHEADER f = Format(5, 3, 24);
  f.biXPelsPerMeter = 77;
  ASSERT_TRUE(a.CreateDIBSection(&f, 0));
  EXPECT_EQ(kt::GdiObjects(), gdiStart_ + 2);  // the section and its DC
  const tagRZBMINFOHEADER& h = *a.GetRzBmiHeader();
  EXPECT_EQ(h.biSize, 144u);
  EXPECT_EQ(h.dwInterlacedFlag, 0u);
  EXPECT_EQ(std::memcmp(reinterpret_cast<const BYTE*>(&h) + 4, reinterpret_cast<const BYTE*>(&f) + 4, 36), 0);
  DIBSECTION ds{};
  ASSERT_EQ(GetObjectA(a.GetDIBSection(), sizeof ds, &ds), static_cast<int>(sizeof ds));
  EXPECT_EQ(ds.dsBm.bmBits, a.GetBytes());
  EXPECT_EQ(GetCurrentObject(a.GetDIBSectionDC()->GetSafeHdc(), OBJ_BITMAP), a.GetDIBSection());
}

TEST_F(Dib2, AWriterOfASharedSectionLeavesWithPlainStorageAndTheSameRecord) {
  TestDib2 a;
  BITMAPINFOHEADER f = Format(6, 4, 32);
  ASSERT_TRUE(a.CreateDIBSection(&f, 1));
  kt::FillRandom(a, 5);
  a.SetCacheInfo(Record(7));
  TestDib2 b;
  b = a;
  EXPECT_EQ(b.GetDIBSection(), a.GetDIBSection());
  ASSERT_TRUE(b._CopyBeforeWrite());
  ExpectPlainStorage(b);
  EXPECT_EQ(b.GetDIBSection(), nullptr);
  EXPECT_EQ(b.GetDIBSectionDC(), nullptr);
  EXPECT_EQ(kt::Pixels(b), kt::Pixels(a));
  EXPECT_EQ(std::memcmp(b.GetRzBmiHeader(), a.GetRzBmiHeader(), 144), 0);
  EXPECT_EQ(std::memcmp(&b.GetCacheInfo(), &a.GetCacheInfo(), sizeof(CDIBCacheInfo)), 0);
  EXPECT_EQ(a.Refs(), 1);

  // An AssignCopy that fits keeps the unshared section in place.
  BYTE* section = a.GetBytes();
  CRZDIB2 small;
  ASSERT_TRUE(small.Create(24, 3, 3, 1));
  a.AssignCopy(small);
  EXPECT_EQ(a.GetBytes(), section);
  EXPECT_EQ(a.GetCacheInfo().bInfoValid, 0);  // small's record came along
}

TEST_F(Dib2, TheLastOwnerTearsDownTheSectionAndItsDc) {
  HBITMAP section = nullptr;
  HDC dc = nullptr;
  {
    CRZDIB2 a;
    BITMAPINFOHEADER f = Format(3, 3, 8);
    ASSERT_TRUE(a.CreateDIBSection(&f, 1));
    section = a.GetDIBSection();
    dc = a.GetDIBSectionDC()->GetSafeHdc();
    { CRZDIB2 b(a); }
    // An earlier sharer released nothing but its reference.
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BITMAP), section);
  }
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

TEST_F(Dib2, TheRecordTravelsWithCopiesAndTheEmptyBitmapHasNone) {
  CRZDIB2 a;
  ASSERT_TRUE(a.Create(24, 4, 4, 1));
  a.SetCacheInfo(Record(11));
  CRZDIB2 b;
  b.AssignCopy(a);
  EXPECT_TRUE(b.EqualCacheInfo(Record(11)));
  ASSERT_NE(a.LockDIB(), nullptr);  // a locked source is copied, not shared: no record
  CRZDIB2 c;
  c = a;
  EXPECT_EQ(c.GetCacheInfo().bInfoValid, 0);
  a.UnlockDIB();
  c = a;
  EXPECT_TRUE(c.EqualCacheInfo(Record(11)));

  CRZDIB2 e;
  const CDIBCacheInfo zero{};
  e.SetCacheInfo(Record(1));  // nothing to write into (the empty block is read-only)
  EXPECT_EQ(std::memcmp(&e.GetCacheInfo(), &zero, sizeof zero), 0);
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
  // The bitmap's own nFrameMode picks the comparison.
  CRZDIB2 dib;
  ASSERT_TRUE(dib.Create(8, 1, 1, 1));
  CDIBCacheInfo mine = base;
  mine.nFrameMode = 1;
  dib.SetCacheInfo(mine);
  CDIBCacheInfo later = mine;
  later.nFrame = 99;
  EXPECT_TRUE(dib.EqualCacheImage(later));
  EXPECT_FALSE(dib.EqualCacheInfo(later));
}

}  // namespace
