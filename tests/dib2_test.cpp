// CRZDIB2: page-granular storage, the DIB section and its teardown, the cache
// record carried by the block, and the empty bitmap.

#include "test_support.h"

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

// Header and pixels sit at the start of a page-granular reservation with
// exactly the documented extents.
void ExpectPlainStorage(const CRZDIB2& dib) {
  const tagRZBMINFOHEADER* h = dib.GetRzBmiHeader();
  ASSERT_NE(h, nullptr);
  const kt::Extents e = kt::VirtualExtents(h);
  const std::size_t m = 144 + static_cast<std::size_t>(dib.DIBSize()) + 32;
  EXPECT_EQ(e.reserved, (m / 4096 + 1) * 4096);
  EXPECT_EQ(e.committed, (m + 4095) / 4096 * 4096);
  EXPECT_EQ(dib.GetBytes(), reinterpret_cast<const BYTE*>(h) + 144);
  EXPECT_FALSE(dib.IsDIBSection());
}

TEST_F(Dib2, AllocDibDataReservesAPageMoreThanItCommits) {
  // (n, pages reserved, pages committed)
  for (const auto& [n, reserved, committed] : {std::tuple{144u, 1u, 1u}, std::tuple{4064u, 2u, 1u},
                                               std::tuple{4065u, 2u, 2u}, std::tuple{100000u, 25u, 25u}}) {
    TestDib2 dib;
    dib.AllocRaw(n);
    const BYTE* p = reinterpret_cast<const BYTE*>(dib.Data()->pBmiHeader);
    EXPECT_EQ(kt::VirtualExtents(p).reserved, reserved * 4096) << n;
    EXPECT_EQ(kt::VirtualExtents(p).committed, committed * 4096) << n;
    EXPECT_EQ(dib.Data()->nAllocSize, n);
    EXPECT_TRUE(std::all_of(p, p + n + 32, [](BYTE b) { return b == 0; }));
  }
}

TEST_F(Dib2, EveryCoreOperationMakesDerivedBlocksInPlainStorage) {
  CountingDib2 a;
  ASSERT_TRUE(a.Create(24, 37, 29, 0));
  ExpectPlainStorage(a);
  ASSERT_TRUE(a.CreateOrModify(32, 40, 30, 1));  // must reallocate
  ExpectPlainStorage(a);
  kt::FillRandom(a, 3);
  a.SetCacheInfo(Record(1));  // writes past a base-sized block would fault under asan

  CountingDib2 b(a);
  EXPECT_EQ(b.Refs(), 2);
  b.SetInterlacedFlag(0);  // copy-before-write
  ExpectPlainStorage(b);
  EXPECT_EQ(kt::Pixels(a), kt::Pixels(b));
  EXPECT_TRUE(b.EqualCacheInfo(Record(1)));

  CountingDib2 c;
  ASSERT_TRUE(c.Create(8, 2, 2, 1));
  c.AssignCopy(a);  // too small: reallocates
  ExpectPlainStorage(c);
  EXPECT_EQ(kt::Pixels(c), kt::Pixels(a));
  EXPECT_EQ(CountingDib2::liveBlocks, 3);
  EXPECT_EQ(CountingDib2::liveBuffers, 3);
  EXPECT_FALSE(a._UseMMXInstructions());
}

TEST_F(Dib2, TransformsMakeDerivedBlocksInPlainStorage) {
  CountingDib2 section;  // a source whose pixels live in a DIB section
  BITMAPINFOHEADER f = Format(24, 20, 32);
  ASSERT_TRUE(section.CreateDIBSection(&f, 1));
  kt::FillRandom(section, 4);
  CountingDib2 quarter, eighth, scaled, mirrored, frame;
  ASSERT_TRUE(quarter.CreateQuarter(section));
  ASSERT_TRUE(eighth.CreateEighth(section));
  ASSERT_TRUE(scaled.CreateScaled(section, 7, 9));
  ASSERT_TRUE(frame.CreateInterpolatedFrame(section, 1, 1));
  ASSERT_TRUE(mirrored.Create(32, 24, 20, 1));
  ASSERT_TRUE(mirrored.Mirror(1, 1, section));
  for (CountingDib2* d : {&quarter, &eighth, &scaled, &frame, &mirrored}) ExpectPlainStorage(*d);
  ASSERT_TRUE(section.Scale(30, 10));  // in place: the section goes, plain storage comes
  ExpectPlainStorage(section);
  EXPECT_EQ(kt::GdiObjects(), gdiStart_);
  EXPECT_EQ(CountingDib2::liveBlocks, 6);
}

TEST_F(Dib2, ConstructorsWorkWithTheDerivedHooks) {
  tagRZBMINFOHEADER h = kt::MakeHeader(24, 5, 3, 0);
  h.dwReserved3[2] = 0xABCD;
  CRZDIB2 created(&h);
  ExpectPlainStorage(created);
  EXPECT_EQ(std::memcmp(created.GetRzBmiHeader(), &h, sizeof h), 0);
  EXPECT_TRUE(created.IsCreated());

  BYTE pixels[16 * 3] = {};
  CRZDIB2 attached(&h, pixels);
  EXPECT_TRUE(attached.IsAttached());
  EXPECT_FALSE(attached.IsDIBSection());
  attached.SetCacheInfo(Record(2));  // a full derived block, even for attached memory
  EXPECT_EQ(attached.GetCacheInfo().dwKey1, 2u);

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
  EXPECT_TRUE(a.IsDIBSection());
  ASSERT_NE(a.GetDIBSectionDC(), nullptr);
  const tagRZBMINFOHEADER& h = *a.GetRzBmiHeader();
  EXPECT_EQ(h.biSize, 144u);
  EXPECT_EQ(h.dwInterlacedFlag, 0u);
  EXPECT_EQ(std::memcmp(reinterpret_cast<const BYTE*>(&h) + 4, reinterpret_cast<const BYTE*>(&f) + 4, 36), 0);
  EXPECT_EQ(a.Data()->nAllocSize, 144u);
  EXPECT_EQ(kt::VirtualExtents(&h).reserved, 4096u);

  DIBSECTION ds{};
  ASSERT_EQ(GetObjectA(a.GetDIBSection(), sizeof ds, &ds), static_cast<int>(sizeof ds));
  EXPECT_EQ(ds.dsBm.bmBits, a.GetBytes());
  EXPECT_EQ(GetCurrentObject(a.GetDIBSectionDC()->GetSafeHdc(), OBJ_BITMAP), a.GetDIBSection());
  // The displaced bitmap is the stock bitmap every memory DC starts with.
  HDC probe = CreateCompatibleDC(nullptr);
  EXPECT_EQ(a.GetOldBitmap(), GetCurrentObject(probe, OBJ_BITMAP));
  DeleteDC(probe);
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
  EXPECT_EQ(b.GetDIBSectionDC(), a.GetDIBSectionDC());
  EXPECT_EQ(b.GetOldBitmap(), a.GetOldBitmap());

  ASSERT_TRUE(b._CopyBeforeWrite());
  ExpectPlainStorage(b);
  EXPECT_EQ(b.GetDIBSection(), nullptr);
  EXPECT_EQ(b.GetDIBSectionDC(), nullptr);
  EXPECT_EQ(kt::Pixels(b), kt::Pixels(a));
  EXPECT_EQ(std::memcmp(b.GetRzBmiHeader(), a.GetRzBmiHeader(), 144), 0);
  EXPECT_EQ(std::memcmp(&b.GetCacheInfo(), &a.GetCacheInfo(), sizeof(CDIBCacheInfo)), 0);
  EXPECT_TRUE(a.IsDIBSection());
  EXPECT_EQ(a.Refs(), 1);

  // An AssignCopy that fits keeps the unshared section in place.
  BYTE* section = a.GetBytes();
  CRZDIB2 small;
  ASSERT_TRUE(small.Create(24, 3, 3, 1));
  a.AssignCopy(small);
  EXPECT_TRUE(a.IsDIBSection());
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
    {
      CRZDIB2 b(a);
      EXPECT_EQ(b.GetDIBSection(), section);
    }
    // An earlier sharer released nothing but its reference.
    EXPECT_NE(GetObjectA(section, 0, nullptr), 0);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BITMAP), section);
  }
  // GDI refuses to delete a selected bitmap, so the section is gone only if it
  // was selected out (or its DC deleted) first.
  EXPECT_EQ(GetObjectA(section, 0, nullptr), 0);
  EXPECT_FALSE(DeleteObject(section));
  EXPECT_EQ(GetCurrentObject(dc, OBJ_BITMAP), nullptr);
  EXPECT_FALSE(DeleteDC(dc));
}

TEST_F(Dib2, CreateDIBSectionFailureLeavesTheBitmapEmptyAndReleasesEverything) {
  CountingDib2 a;
  ASSERT_TRUE(a.Create(24, 4, 4, 1));
  BITMAPINFOHEADER zeroWidth = Format(0, 4, 24);
  EXPECT_FALSE(a.CreateDIBSection(&zeroWidth, 1));
  EXPECT_TRUE(a.IsNilBlock());

  BITMAPINFOHEADER f = Format(7, 5, 24);
  int k = 0;
  for (; k < 12; ++k) {
    ASSERT_TRUE(a.Create(8, 2, 2, 1));
    bool ok = false;
    {
      kt::FailAllocations fail(k);
      ok = a.CreateDIBSection(&f, 1);
    }
    if (ok) break;
    EXPECT_TRUE(a.IsNilBlock()) << "k=" << k;
    EXPECT_EQ(CountingDib2::liveBlocks, 0) << "k=" << k;
    EXPECT_EQ(CountingDib2::liveBuffers, 0) << "k=" << k;
    EXPECT_EQ(kt::GdiObjects(), gdiStart_) << "k=" << k;
  }
  EXPECT_TRUE(a.IsDIBSection());
  // Block, reservation, commit, temporary DC, section, CDC object, the section's DC.
  EXPECT_EQ(k, 7);
}

TEST_F(Dib2, TheRecordTravelsWithCopiesAndTheEmptyBitmapHasNone) {
  CRZDIB2 a;
  ASSERT_TRUE(a.Create(24, 4, 4, 1));
  a.SetCacheInfo(Record(11));
  CRZDIB2 b;
  b.AssignCopy(a);
  EXPECT_NE(b.GetBytes(), a.GetBytes());
  EXPECT_TRUE(b.EqualCacheInfo(Record(11)));
  ASSERT_NE(a.LockDIB(), nullptr);  // a locked source is copied, not shared: no record
  CRZDIB2 c;
  c = a;
  EXPECT_NE(c.GetBytes(), a.GetBytes());
  EXPECT_EQ(c.GetCacheInfo().bInfoValid, 0);
  a.UnlockDIB();
  c = a;
  EXPECT_TRUE(c.EqualCacheInfo(Record(11)));

  CRZDIB2 e, f;
  EXPECT_EQ(e.GetDIBSection(), nullptr);
  EXPECT_EQ(e.GetDIBSectionDC(), nullptr);
  EXPECT_EQ(e.GetOldBitmap(), nullptr);
  EXPECT_EQ(&e.GetCacheInfo(), &f.GetCacheInfo());  // one static, all-zero record
  const CDIBCacheInfo zero{};
  e.SetCacheInfo(Record(1));  // nothing to write into (the empty block is read-only)
  EXPECT_EQ(std::memcmp(&e.GetCacheInfo(), &zero, sizeof zero), 0);
  e.AssignCopy(f);  // both empty: nothing happens
  EXPECT_EQ(e.GetRzBmiHeader(), nullptr);
  b.AssignCopy(e);  // an empty source contributes the all-zero record
  EXPECT_TRUE(b.IsValidDIB());
  EXPECT_EQ(b.GetCacheInfo().bInfoValid, 0);
}

TEST(CacheInfo, ComparisonsCoverTheirFields) {
  const CDIBCacheInfo base = Record(5);
  auto differ = [&](auto change) {
    CDIBCacheInfo other = base;
    change(other);
    return std::make_pair(base.EqualInfo(other), base.EqualImage(other));
  };
  using P = std::pair<bool, bool>;
  EXPECT_EQ(differ([](CDIBCacheInfo&) {}), P(true, true));
  EXPECT_EQ(differ([](CDIBCacheInfo& o) { o.nFrame = 10; }), P(false, true));
  EXPECT_EQ(differ([](CDIBCacheInfo& o) { o.bInfoValid = 7; }), P(true, true));
  EXPECT_EQ(differ([](CDIBCacheInfo& o) { o.dwData1 = o.dwData2 = o.dwData3 = 1; }), P(true, true));
  EXPECT_EQ(differ([](CDIBCacheInfo& o) { o.rzHeader.dwAlphaFlag = o.rzHeader.biSize = 1; }), P(true, true));
  EXPECT_EQ(differ([](CDIBCacheInfo& o) { o.nFrameMode = 1; }), P(false, false));
  EXPECT_EQ(differ([](CDIBCacheInfo& o) { o.dwKey4 = 1; }), P(false, false));
  EXPECT_EQ(differ([](CDIBCacheInfo& o) { o.rzHeader.biHeight = 1; }), P(false, false));
  EXPECT_EQ(differ([](CDIBCacheInfo& o) { o.rzHeader.dwInterlacedFlag = 1; }), P(false, false));
  EXPECT_EQ(differ([](CDIBCacheInfo& o) { o.bInfoValid = 0; }), P(false, false));
  const CDIBCacheInfo empty{};
  EXPECT_FALSE(empty.EqualInfo(empty));
  EXPECT_FALSE(empty.EqualImage(empty));

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
  EXPECT_EQ(dib.GetCacheInfoFlags(), 3u);
  EXPECT_EQ(dib.GetCacheInfoFrame(), 9u);
}

}  // namespace
