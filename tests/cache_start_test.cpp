// The cache made on first use and emptied at exit: alone in its suite, so no
// other test has made it.

#include "test_support.h"

#include <cstdlib>

namespace {

// The GDI objects of a child process before it cached a DIB section.
DWORD g_gdiBeforeCaching = 0;

TEST(CacheStart, AFailedCreationIsRetriedByALaterCall) {
  static int runs = 0;  // nothing else here makes the cache in this process
  if (runs++ > 0) GTEST_SKIP() << "the first run in this process made the cache";
  CRZDIB2 pic;
  ASSERT_TRUE(pic.Create(24, 16, 16, 1));
  pic.SetCacheInfo(kt::CacheKey(77));
  EXPECT_EQ(CRZDIB2::GetCacheCapacityKB(), 0);  // reads without making the cache
  {
    kt::FailAllocations fail(0);
    EXPECT_TRUE(kt::Throws<CMemoryException>([&] { pic.CacheThis(); }));
    EXPECT_FALSE(CRZDIB2::SetCacheCapacityKB(10));
  }
  ASSERT_TRUE(CRZDIB2::SetCacheCapacityKB(10));
  EXPECT_TRUE(pic.CacheThis());
  EXPECT_EQ(CRZDIB2::GetCacheUsedKB(), 0);  // 768 bytes count 0
  EXPECT_TRUE(CRZDIB2::SetCacheCapacityKB(0));
}

// Caches a section only the cache holds; the atexit check runs after the cache's release.
[[noreturn]] void CacheASectionAndExit() {
  g_gdiBeforeCaching = kt::GdiObjects();
  std::atexit([] {
    if (kt::GdiObjects() != g_gdiBeforeCaching) _exit(3);
  });
  CRZDIB2::SetCacheCapacityKB(10);
  {
    CRZDIB2 section;
    BITMAPINFOHEADER f = kt::Info(8, 8, 32).bmiHeader;
    if (!section.CreateDIBSection(&f, 1)) _exit(1);
    section.SetCacheInfo(kt::CacheKey(77));
    if (!section.CacheThis()) _exit(2);
  }
  if (kt::GdiObjects() == g_gdiBeforeCaching) _exit(4);  // the cache holds it
  std::exit(0);
}

TEST(CacheStartDeathTest, EntriesAreReleasedAtExit) {
  if (const char* why = kt::AtExitBlindSpot()) GTEST_SKIP() << "not observable here: " << why;
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(CacheASectionAndExit(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
