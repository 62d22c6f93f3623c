// The shared image cache used from many threads at once: caching, looking up,
// writing and releasing the same pictures while the capacity changes under
// them, and records rewritten under lookups. Meant for the tsan preset.

#include "test_support.h"

namespace {

using kt::CountingDib2;

using CacheThreads = kt::NoLeaks;

CDIBCacheInfo Key(int picture, UINT frame) {
  CDIBCacheInfo info{};
  info.bInfoValid = 1;
  info.dwKey1 = static_cast<DWORD>(picture);
  info.nFrameMode = picture % 2;  // odd pictures are found from any frame
  info.nFrame = picture % 2 == 1 ? frame : 0;
  return info;
}

bool AllBytes(const CRZDIB2& dib, int value) {
  const BYTE* p = dib.GetBytes();
  return std::all_of(p, p + dib.DIBSize(), [value](BYTE b) { return b == value; });
}

TEST_F(CacheThreads, CacheLookUpWriteAndReleaseTheSamePictures) {
  constexpr int kPictures = 6;
  // The pictures stay with this thread: an entry frees nothing while its picture lives here.
  std::vector<CountingDib2> pictures(kPictures);
  for (int k = 0; k < kPictures; ++k) {
    ASSERT_TRUE(pictures[static_cast<std::size_t>(k)].Create(32, 32, 32, 1));  // 4 KB each
    pictures[static_cast<std::size_t>(k)].ClearDIB(k + 1);
    pictures[static_cast<std::size_t>(k)].SetCacheInfo(Key(k, 0));
  }
  ASSERT_TRUE(CRZDIB2::SetCacheCapacityKB(12));  // three of six: evictions all the time
  kt::RunThreads(8, [&pictures](int t) {
    std::mt19937 rng(static_cast<std::uint32_t>(t));
    for (int i = 0; i < 1500; ++i) {
      const int k = static_cast<int>(rng() % kPictures);
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
          EXPECT_TRUE(AllBytes(mine, k + 1));
          mine.ClearDIB(100 + t);  // a private copy; the cached pixels stay
          EXPECT_TRUE(AllBytes(mine, 100 + t));
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
  EXPECT_EQ(CountingDib2::liveBlocks, kPictures);
  for (int k = 0; k < kPictures; ++k) {
    EXPECT_EQ(pictures[static_cast<std::size_t>(k)].Refs(), 1) << "picture " << k;
    EXPECT_TRUE(AllBytes(pictures[static_cast<std::size_t>(k)], k + 1)) << "picture " << k;
  }
}

// SetCacheInfo rewrites the record of a cached block in place (the entry's
// record with it) while other threads look entries up by their records.
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
      EXPECT_TRUE(!mine.LookupCache(Key(k, 0)) || AllBytes(mine, 7));
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
