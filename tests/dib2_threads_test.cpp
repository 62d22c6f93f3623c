// Blocks and the image cache used from many threads at once (for the tsan preset).

#include "io_support.h"

namespace {

using kt::CountingDib2;

using Dib2Threads = kt::NoLeaks;
using CacheThreads = kt::NoLeaks;

TEST_F(Dib2Threads, ConcurrentWritersEachGetAPrivateCopyWithTheRecord) {
  constexpr int kThreads = 8;
  CDIBCacheInfo record{};
  record.bInfoValid = 1;
  record.dwKey2 = 0x5EED;
  for (int round = 0; round < 200; ++round) {
    // The writers hold the only references: one copies while others let go.
    std::vector<CountingDib2> writers(kThreads);
    {
      CountingDib2 source;
      ASSERT_TRUE(kt::CreateRandom(source, 32, 33, 9, 1, 9));
      source.SetCacheInfo(record);
      for (CountingDib2& w : writers) w = source;
    }
    kt::RunThreads(kThreads, [&](int t) {
      CountingDib2& mine = writers[static_cast<std::size_t>(t)];
      mine.ClearDIB(t);  // copy-before-write, unless the others have already gone
      EXPECT_TRUE(kt::AllBytes(mine, static_cast<BYTE>(t)));
      EXPECT_TRUE(mine.EqualCacheInfo(record));
      EXPECT_EQ(mine.Refs(), 1);
    });
    EXPECT_EQ(CountingDib2::liveBlocks, kThreads);
  }
}

// Drawing and capture read a shared block and nothing else. While threads draw
// it (two at once onto client DCs), draw it onto the desktop and capture from
// its DIB section's DC, others copy it before writing, and each copy gets the
// header byte for byte, flags and all. What was drawn and captured shows the
// pixels. (One thread per DC: Windows DCs serve one thread at a time.)
TEST_F(Dib2Threads, DrawingAndCaptureOnlyReadTheSharedHeader) {
  constexpr int kW = 160, kH = 120;  // calls long enough for copies to land in them
  ASSERT_TRUE(kolvex::platform::SetVirtualScreenSize(8 * kW, kH) ||
              !kolvex::platform::IsVirtualScreen());
  CountingDib2 plain, section;
  ASSERT_TRUE(kt::CreateRandom(plain, 24, kW, kH, 0, 3));
  plain.ncbwSetAlphaFlag(2);
  BITMAPINFOHEADER format = kt::Info(kW, kH, 32).bmiHeader;
  ASSERT_TRUE(section.CreateDIBSection(&format, 0));
  kt::FillRandom(section, 4);
  section.ncbwSetAlphaFlag(1);
  const tagRZBMINFOHEADER plainHeader = *plain.GetRzBmiHeader();
  const tagRZBMINFOHEADER sectionHeader = *section.GetRzBmiHeader();
  const auto sameHeader = [](const CRZDIB2& dib, const tagRZBMINFOHEADER& h) {
    return std::memcmp(dib.GetRzBmiHeader(), &h, sizeof h) == 0;
  };
  enum Role { kDraw, kDesktop, kCapture, kCopy };
  const struct {
    Role role;
    bool section;
  } roles[] = {{kDraw, false},   {kDraw, false}, {kDesktop, false}, {kDesktop, true},
               {kCapture, true}, {kCopy, false}, {kCopy, false},    {kCopy, true}};
  std::atomic<int> wrong{0};
  kt::RunThreads(8, [&](int t) {
    const Role role = roles[t].role;
    CountingDib2& shared = roles[t].section ? section : plain;
    const tagRZBMINFOHEADER& header = roles[t].section ? sectionHeader : plainHeader;
    kt::ClientDc out(kW, kH);
    CountingDib2 grab;
    RECT area{0, 0, kW, kH};
    for (int i = 0; i < 300; ++i) {
      bool ok = true;
      if (role == kDraw) {
        ok = shared.Draw(out.cdc, nullptr);
      } else if (role == kDesktop) {
        ok = shared.DrawToDesktop(t * kW, 0, 0, 0);
      } else if (role == kCapture) {
        ok = grab.CreateFromDC(shared.GetDIBSectionDC()->GetSafeHdc(), &area);
      } else {
        CountingDib2 copy = shared;
        copy.ClearDIB(t);  // a private copy, made from the shared header
        ok = sameHeader(copy, header) && kt::AllBytes(copy, static_cast<BYTE>(t));
      }
      wrong += ok ? 0 : 1;
    }
    const kt::Pixels32 seen = out.Read();
    for (int p = 0; p < kW * kH; ++p) {
      const std::uint32_t pixel = kt::Shown(shared, p % kW, p / kW);
      if (role == kDraw) wrong += seen[p] == pixel ? 0 : 1;
      if (role == kCapture) wrong += kt::Shown(grab, p % kW, p / kW) == pixel ? 0 : 1;
    }
  });
  EXPECT_EQ(wrong, 0);
  EXPECT_TRUE(sameHeader(plain, plainHeader));
  EXPECT_TRUE(sameHeader(section, sectionHeader));
  kolvex::platform::SetVirtualScreenSize(1920, 1080);
}

// Odd pictures are found from any frame, even ones from frame 0 only.
CDIBCacheInfo Key(int picture, UINT frame) {
  return kt::CacheKey(static_cast<DWORD>(picture), picture % 2, picture % 2 == 1 ? frame : 0);
}

TEST_F(CacheThreads, CacheLookUpWriteAndReleaseTheSamePictures) {
  // The pictures stay with this thread: an entry frees nothing while its picture lives here.
  std::vector<CountingDib2> pictures(6);
  for (int k = 0; k < 6; ++k) {
    CountingDib2& pic = pictures[static_cast<std::size_t>(k)];
    ASSERT_TRUE(pic.Create(32, 32, 32, 1));  // 4 KB each
    pic.ClearDIB(k + 1);
    pic.SetCacheInfo(Key(k, 0));
  }
  ASSERT_TRUE(CRZDIB2::SetCacheCapacityKB(12));  // three of six: evictions all the time
  kt::RunThreads(8, [&pictures](int t) {
    std::mt19937 rng(static_cast<std::uint32_t>(t));
    for (int i = 0; i < 1500; ++i) {
      const int k = static_cast<int>(rng() % 6);
      const CountingDib2& pic = pictures[static_cast<std::size_t>(k)];
      CountingDib2 mine;
      switch (rng() % 5) {
        case 0:
          mine = pic;
          mine.CacheThis();
          break;
        case 1:
        case 2:
          if (!mine.LookupCache(Key(k, rng()))) break;
          EXPECT_TRUE(kt::AllBytes(mine, k + 1));
          mine.ClearDIB(100 + t);  // a private copy; the cached pixels stay
          EXPECT_TRUE(kt::AllBytes(mine, 100 + t));
          break;
        case 3:
          pic.UnCacheThis();
          break;
        default:
          if (t == 0) {
            EXPECT_TRUE(CRZDIB2::SetCacheCapacityKB(rng() % 4 == 0 ? 0 : 12));
          } else {
            // A picture only the cache will hold, torn down by whichever thread evicts it.
            CRZDIB2 section;
            BITMAPINFOHEADER f = kt::Info(8, 8, 32).bmiHeader;
            ASSERT_TRUE(section.CreateDIBSection(&f, 1));
            section.SetCacheInfo(Key(100 + t, 0));
            section.CacheThis();
          }
      }
    }
  });
  EXPECT_LE(CRZDIB2::GetCacheUsedKB(), 12);
  ASSERT_TRUE(CRZDIB2::SetCacheCapacityKB(0));
  EXPECT_EQ(CountingDib2::liveBlocks, 6);
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(pictures[static_cast<std::size_t>(k)].Refs(), 1) << "picture " << k;
    EXPECT_TRUE(kt::AllBytes(pictures[static_cast<std::size_t>(k)], k + 1)) << "picture " << k;
  }
}

// SetCacheInfo rewrites a cached block's record while other threads look it up.
TEST_F(CacheThreads, RecordOfACachedBlockRewrittenUnderLookups) {
  CountingDib2 pic;
  ASSERT_TRUE(pic.Create(32, 8, 8, 1));
  pic.ClearDIB(7);
  pic.SetCacheInfo(Key(0, 0));
  ASSERT_TRUE(CRZDIB2::SetCacheCapacityKB(1000));
  ASSERT_TRUE(pic.CacheThis());
  std::atomic<int> lookups{0};
  std::atomic<bool> written{false};
  kt::RunThreads(5, [&](int t) {
    if (t == 0) {
      while (lookups.load() < 100) std::this_thread::yield();  // the lookups are under way
      for (int i = 1; i <= 2000; ++i) pic.SetCacheInfo(Key(i % 2 == 0 ? 0 : 2, 0));
      written = true;
    }
    for (int k = 0; !written.load(); k = 2 - k, ++lookups) {
      CountingDib2 mine;
      EXPECT_TRUE(!mine.LookupCache(Key(k, 0)) || kt::AllBytes(mine, 7));
    }
  });
  CountingDib2 found;
  EXPECT_FALSE(found.LookupCache(Key(2, 0)));
  EXPECT_TRUE(found.LookupCache(Key(0, 0)));  // the last record written
  found.Delete();
  ASSERT_TRUE(CRZDIB2::SetCacheCapacityKB(0));
  EXPECT_EQ(pic.Refs(), 1);
}

}  // namespace
