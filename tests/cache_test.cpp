// The image cache. Whether a bitmap is cached is read from its block's count,
// which an entry raises by one and which, unlike a lookup, counts no hit.

#include "io_support.h"

namespace {

using kt::TestDib2;

// Every test starts and ends with an empty cache at capacity 0.
class Cache : public kt::NoLeaks {
 protected:
  void SetUp() override {
    kt::NoLeaks::SetUp();
    ASSERT_TRUE(CRZDIB2::SetCacheCapacityKB(0));
  }
  void TearDown() override {
    EXPECT_TRUE(CRZDIB2::SetCacheCapacityKB(0));
    EXPECT_EQ(CRZDIB2::GetCacheUsedKB(), 0);
    kt::NoLeaks::TearDown();
  }

  // A bitmap of `fill` bytes under its own key (4 KB by default).
  static void Make(TestDib2& dib, CDIBCacheInfo key, WORD bits = 32, int w = 32, int h = 32,
                   int fill = 1) {
    ASSERT_TRUE(dib.Create(bits, w, h, 1));
    dib.ClearDIB(fill);
    dib.SetCacheInfo(key);
  }
};

TEST_F(Cache, CapacityRefusalsAndSizesInWholeKilobytes) {
  TestDib2 big, small;
  Make(big, kt::CacheKey(1), 24, 640, 480);
  Make(small, kt::CacheKey(2), 8, 16, 16, 9);
  EXPECT_FALSE(big.CacheThis());  // capacity 0: nothing is kept
  ASSERT_TRUE(CRZDIB2::SetCacheCapacityKB(100000));
  EXPECT_FALSE(CRZDIB2::SetCacheCapacityKB(-1));
  TestDib2 empty, unkeyed, flat, locked;
  ASSERT_TRUE(unkeyed.Create(24, 4, 4, 1));
  Make(flat, kt::CacheKey(9), 24, 0, 4);
  Make(locked, kt::CacheKey(8));
  locked.LockDIB();
  for (const TestDib2* refused : {&empty, &unkeyed, &flat, &locked})
    EXPECT_FALSE(refused->CacheThis());

  ASSERT_TRUE(big.CacheThis());
  ASSERT_TRUE(small.CacheThis());
  ASSERT_TRUE(big.CacheThis());  // already there: a hit, not a second entry
  EXPECT_EQ(big.Refs(), 2);
  EXPECT_EQ(CRZDIB2::GetCacheUsedKB(), 900);
}

TEST_F(Cache, EvictsTheLeastUsedAndOfEqualOnesTheEarliest) {
  ASSERT_TRUE(CRZDIB2::SetCacheCapacityKB(12));  // three 4 KB pictures
  std::vector<TestDib2> pics(7);
  for (std::size_t i = 0; i < pics.size(); ++i) Make(pics[i], kt::CacheKey(static_cast<DWORD>(i)));
  auto cached = [&] {
    std::string s;
    for (std::size_t i = 0; i < pics.size(); ++i) s += pics[i].Refs() == 2 ? char('A' + i) : '.';
    return s;
  };
  auto hit = [&](std::size_t i, int times) {
    TestDib2 reader;
    for (int t = 0; t < times; ++t) ASSERT_TRUE(reader.LookupCache(pics[i].GetCacheInfo()));
  };
  for (std::size_t i = 0; i < 4; ++i) ASSERT_TRUE(pics[i].CacheThis());
  EXPECT_EQ(cached(), ".BCD...");  // all at 0 hits: the earliest went
  EXPECT_EQ(CRZDIB2::GetCacheUsedKB(), 12);
  hit(1, 2);
  hit(3, 1);
  ASSERT_TRUE(pics[4].CacheThis());  // C has the fewest hits; E joins at the most (2)
  EXPECT_EQ(cached(), ".B.DE..");
  ASSERT_TRUE(pics[5].CacheThis());  // D (1) goes; F joins at 2
  EXPECT_EQ(cached(), ".B..EF.");
  ASSERT_TRUE(pics[6].CacheThis());  // all at 2: the earliest, B, goes
  EXPECT_EQ(cached(), "....EFG");
  ASSERT_TRUE(CRZDIB2::SetCacheCapacityKB(5));  // trims at once
  EXPECT_EQ(cached(), "......G");
  EXPECT_EQ(CRZDIB2::GetCacheUsedKB(), 4);
}

// An entry of nFrameMode 1 matches any frame, one of 0 only its own.
TEST_F(Cache, LookupsShareTheBlockAndWritesLeaveTheCachedPixels) {
  ASSERT_TRUE(CRZDIB2::SetCacheCapacityKB(1000));
  TestDib2 still, moving;
  Make(still, kt::CacheKey(1, 1, 5), 24, 7, 5, 40);
  Make(moving, kt::CacheKey(2, 0, 5), 24, 7, 5, 50);
  ASSERT_TRUE(still.CacheThis());
  ASSERT_TRUE(moving.CacheThis());
  const CDIBCacheInfo later = kt::CacheKey(1, 1, 6);
  const CDIBCacheInfo laterMoving = kt::CacheKey(2, 0, 6);
  const CRzDibData2* block = still.Data();
  still.Delete();

  TestDib2 client;
  Make(client, kt::CacheKey(3), 8, 4, 4, 9);
  EXPECT_FALSE(client.LookupCache(laterMoving));  // a miss leaves the bitmap
  EXPECT_EQ(client.GetBytes()[0], 9);
  ASSERT_TRUE(client.LookupCache(later));
  EXPECT_EQ(client.Data(), block);
  EXPECT_TRUE(client.EqualCacheImage(later));
  EXPECT_FALSE(client.EqualCacheInfo(later));
  client.ClearDIB(7);
  TestDib2 again;
  ASSERT_TRUE(again.LookupCache(later));
  EXPECT_EQ(again.Data(), block);
  EXPECT_EQ(again.GetBytes()[0], 40);
  EXPECT_EQ(client.GetBytes()[0], 7);
}

TEST_F(Cache, EveryAllocationOfCacheThisFailingInTurnEvictsNothing) {
  ASSERT_TRUE(CRZDIB2::SetCacheCapacityKB(8));  // two 4 KB pictures
  TestDib2 old1, old2, pic;
  Make(old1, kt::CacheKey(1));
  Make(old2, kt::CacheKey(2));
  Make(pic, kt::CacheKey(3));
  ASSERT_TRUE(old1.CacheThis());
  ASSERT_TRUE(old2.CacheThis());
  kt::FailEachAllocationInTurn([&] { return pic.CacheThis(); },
                               [&](int n, bool cached) {
                                 if (cached) return;
                                 EXPECT_EQ(pic.Refs(), 1);
                                 EXPECT_EQ(old1.Refs(), 2)
                                     << "evicted for an entry that was never made, n=" << n;
                                 EXPECT_EQ(old2.Refs(), 2);
                               });
  EXPECT_EQ(pic.Refs(), 2);
  EXPECT_EQ(old1.Refs(), 1);  // the earliest made room
  EXPECT_EQ(old2.Refs(), 2);
}

}  // namespace
