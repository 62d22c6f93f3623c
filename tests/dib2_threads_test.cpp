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

// Drawing and capture only read a shared block. While threads draw it (two at
// once onto client DCs), draw both onto the desktop and capture from a DIB
// section's DC, others copy them before writing: every copy gets the header
// byte for byte, flags and all, and what was drawn and captured shows the
// pixels. One thread per DC, the client DCs made beforehand: Windows DCs serve
// one thread at a time, and its cache of screen DCs grows with the threads
// that hold one at once.
TEST_F(Dib2Threads, DrawingAndCaptureOnlyReadTheSharedHeader) {
  constexpr int kW = 160, kH = 120;  // calls long enough for copies to land in them
  ASSERT_TRUE(kolvex::platform::SetVirtualScreenSize(2 * kW, kH) ||
              !kolvex::platform::IsVirtualScreen());
  CountingDib2 plain, section;
  BITMAPINFOHEADER format = kt::Info(kW, kH, 32).bmiHeader;
  ASSERT_TRUE(kt::CreateRandom(plain, 24, kW, kH, 0, 3) && section.CreateDIBSection(&format, 0));
  kt::FillRandom(section, 4);
  plain.ncbwSetAlphaFlag(2);
  section.ncbwSetAlphaFlag(1);
  const tagRZBMINFOHEADER headers[] = {*plain.GetRzBmiHeader(), *section.GetRzBmiHeader()};
  const auto intact = [&](const CRZDIB2& dib, int i) {
    return std::memcmp(dib.GetRzBmiHeader(), &headers[i], sizeof headers[i]) == 0;
  };
  kt::ClientDc out[] = {{kW, kH}, {kW, kH}};
  std::atomic<int> wrong{0};
  kt::RunThreads(7, [&](int t) {  // draw x 2, desktop, capture, copy x 3
    CountingDib2& shared = t == 3 || t == 6 ? section : plain;
    CountingDib2 grab;
    RECT area{0, 0, kW, kH};
    const auto once = [&](int i) {
      if (t < 2) return shared.Draw(out[t].cdc, nullptr);
      if (t == 2) return (i % 2 == 0 ? plain : section).DrawToDesktop(i % 2 * kW, 0, 0, 0);
      if (t == 3) return grab.CreateFromDC(shared.GetDIBSectionDC()->GetSafeHdc(), &area);
      CountingDib2 copy = shared;
      copy.ClearDIB(t);  // a private copy, made from the shared header
      return intact(copy, &shared == &section);
    };
    for (int i = 0; i < 300; ++i) wrong += once(i) ? 0 : 1;
    const kt::Pixels32 drawn = t < 2 ? out[t].Read() : kt::Pixels32();
    for (int p = 0; p < kW * kH && (t < 2 || t == 3); ++p) {
      const std::uint32_t seen = t < 2 ? drawn[p] : kt::Shown(grab, p % kW, p / kW);
      wrong += seen == kt::Shown(shared, p % kW, p / kW) ? 0 : 1;
    }
  });
  EXPECT_EQ(wrong, 0);
  EXPECT_TRUE(intact(plain, 0) && intact(section, 1));
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
