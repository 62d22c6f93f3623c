// CRZDIB2 blocks used from many threads at once: the atomic count and
// concurrent copy-before-write. Meant for the tsan preset. (Sharing, releasing
// and section teardown on other threads also run in the cache's threaded suite.)

#include "test_support.h"

namespace {

using kt::CountingDib2;

using Dib2Threads = kt::NoLeaks;

TEST_F(Dib2Threads, ConcurrentWritersEachGetAPrivateCopyWithTheRecord) {
  constexpr int kThreads = 8;
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
    EXPECT_EQ(CountingDib2::liveBlocks, kThreads);
  }
}

}  // namespace
