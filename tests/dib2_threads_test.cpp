// CRZDIB2 blocks used from many threads at once: the atomic count, concurrent
// copy-before-write, teardown on whichever thread lets go last. Meant for the
// tsan preset.

#include "test_support.h"

namespace {

using kt::CountingDib2;

constexpr int kThreads = 8;

using Dib2Threads = kt::NoLeaks;

TEST_F(Dib2Threads, ManyThreadsShareAndReleaseOneBlock) {
  CountingDib2 source;
  ASSERT_TRUE(source.Create(24, 16, 16, 1));
  kt::RunThreads(kThreads, [&](int) {
    for (int i = 0; i < 2000; ++i) {
      CountingDib2 a(source);
      CountingDib2 b;
      b = a;  // shares again, from a copy
    }
  });
  EXPECT_EQ(source.Refs(), 1);
  EXPECT_EQ(CountingDib2::liveBlocks, 1);
}

TEST_F(Dib2Threads, ConcurrentWritersEachGetAPrivateCopyWithTheRecord) {
  CDIBCacheInfo record{};
  record.bInfoValid = 1;
  record.dwKey2 = 0x5EED;
  for (int round = 0; round < 200; ++round) {
    // The writers hold the only references: while one copies the block, the
    // others let go of it, and one of them frees it.
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
      const BYTE* p = mine.GetBytes();
      EXPECT_TRUE(std::all_of(p, p + mine.DIBSize(), [t](BYTE b) { return b == t; }));
      EXPECT_TRUE(mine.EqualCacheInfo(record));
      EXPECT_EQ(mine.Refs(), 1);
    });
  }
}

TEST_F(Dib2Threads, WhicheverThreadLetsGoLastTearsDownTheSection) {
  for (int round = 0; round < 20; ++round) {
    std::vector<CRZDIB2> copies(kThreads);
    {
      CRZDIB2 section;
      BITMAPINFOHEADER f{sizeof(BITMAPINFOHEADER), 8, 8, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
      ASSERT_TRUE(section.CreateDIBSection(&f, 1));
      for (CRZDIB2& c : copies) c = section;
    }
    kt::RunThreads(kThreads, [&](int t) { copies[static_cast<std::size_t>(t)].Delete(); });
    EXPECT_EQ(kt::GdiObjects(), gdiStart_) << "round " << round;
  }
}

}  // namespace
