// Reused pixel storage: its limit, fresh contents, fault injection and threads.

#include "test_support.h"

#include <algorithm>
#include <functional>

namespace {

using kolvex::platform::GetStorageReuseKeptKB;
using kolvex::platform::GetStorageReuseLimitKB;
using kolvex::platform::SetStorageReuseLimitKB;

// Sets the limit for one scope and puts the previous one back.
struct ReuseLimit {
  explicit ReuseLimit(int kb) { SetStorageReuseLimitKB(kb); }
  ~ReuseLimit() { SetStorageReuseLimitKB(previous); }
  const int previous = GetStorageReuseLimitKB();
};

// The committed bytes from dib's pixels on: image, padding and slack.
std::vector<BYTE> PixelsToCommitEnd(const CRZDIB2& dib) {
  const auto* base = reinterpret_cast<const BYTE*>(dib.GetRzBmiHeader());
  return std::vector<BYTE>(static_cast<const BYTE*>(dib.GetBytes()),
                           base + kt::VirtualExtents(base).committed);
}

// A client class whose quarter writes no pixel at all.
class LazyQuarter final : public CRZDIB2 {
 protected:
  bool _GetQuarterDIB(const CRZDIBBase2&, int) override { return true; }
};

TEST(StorageReuse, KeptStorageNeverExceedsTheLimitAndFaultInjectionFailsIt) {
  const ReuseLimit limit(1024);
  for (const int side : {60, 200, 300, 600, 60}) {  // 14 KiB to 1.4 MiB, the largest never kept
    CRZDIB2 dib;
    ASSERT_TRUE(dib.Create(32, side, side, 0));
    dib.Delete();
    EXPECT_LE(GetStorageReuseKeptKB(), 1024);
  }
  const int kept = GetStorageReuseKeptKB();
  ASSERT_GT(kept, 0);
  CRZDIB2 dib;
  for (long long after = 0; after < 3; ++after) {  // the block, the reservation, the commit
    kt::FailAllocations fail(after);
    EXPECT_FALSE(dib.Create(32, 60, 60, 0)) << after;
  }
  EXPECT_EQ(GetStorageReuseKeptKB(), kept);  // still there for the next request
  SetStorageReuseLimitKB(0);
  EXPECT_EQ(GetStorageReuseKeptKB(), 0);
}

// Each maker into fresh storage of CRZDIB2's own, then into a released dirtied
// region of it: the same bytes.
TEST(StorageReuse, ReusedStorageReadsAsFreshStorage) {
  CRZDIB2 src;
  ASSERT_TRUE(kt::CreateRandom(src, 32, 100, 61, 0, 6));
  kt::DeviceBitmap surface(210, 100);  // src stretched over it, for the captures
  const BITMAPINFO info = kt::Info(100, 61, 32);
  ASSERT_NE(StretchDIBits(surface.dc, 0, 0, 210, 100, 0, 0, 100, 61, src.GetBytes(), &info,
                          DIB_RGB_COLORS, SRCCOPY),
            0);
  RECT wholeRows{1, 2, 201, 99}, paddedRows{0, 0, 203, 97};
  CRZDIB2 padded;  // rows with padding, large enough for its clearing to wait for its writer
  ASSERT_TRUE(kt::CreateRandom(padded, 24, 203, 121, 0, 7));
  using Make = std::function<bool(CRZDIB2&)>;
  const std::pair<const char*, Make> makers[] = {
      {"Create", [](CRZDIB2& d) { return d.Create(24, 203, 97, 0); }},
      {"CreateQuarter", [&](CRZDIB2& d) { return d.CreateQuarter(src); }},
      {"CreateScaled", [&](CRZDIB2& d) { return d.CreateScaled(src, 77, 130, 0); }},
      {"CreateInterpolatedFrame", [&](CRZDIB2& d) { return d.CreateInterpolatedFrame(src, 1, 1); }},
      {"copy-before-write",
       [&](CRZDIB2& d) { return d = src, d.SetInterlacedFlag(1), d.GetBytes() != src.GetBytes(); }},
      {"the header constructor",
       [](CRZDIB2& d) {
         tagRZBMINFOHEADER h = kt::MakeHeader(24, 5, 3, 0);
         d = CRZDIB2(&h);
         return d.IsValidDIB();
       }},
      {"CreateFromDC", [&](CRZDIB2& d) { return d.CreateFromDC(surface.dc, &wholeRows); }},
      {"CreateFromDC, padded rows",
       [&](CRZDIB2& d) { return d.CreateFromDC(surface.dc, &paddedRows); }},
      {"Create like another", [&](CRZDIB2& d) { return d.Create(padded); }},
      {"Create+Mirror", [&](CRZDIB2& d) { return d.Create(padded) && d.Mirror(1, 0, padded); }},
      {"Create+CopyField", [&](CRZDIB2& d) { return d.Create(padded) && d.CopyField(padded, 1); }},
      {"Create+ClearDIB", [&](CRZDIB2& d) { return d.Create(padded), d.ClearDIB(0x7E), true; }},
      {"Create, then shared",
       [&](CRZDIB2& d) {
         CRZDIB2 made;
         if (!made.Create(padded)) return false;
         d = made;
         return true;
       }},
      {"Create, then a smaller copy",
       [&](CRZDIB2& d) { return d.Create(padded), d.AssignCopy(src), true; }},
      {"quarter writing nothing",
       [&](CRZDIB2& d) {
         LazyQuarter lazy;
         const bool made = lazy.CreateQuarter(src);
         d = lazy;
         return made;
       }},
  };
  for (const auto& [name, make] : makers) {
    SCOPED_TRACE(name);
    std::vector<BYTE> fresh;
    {
      const ReuseLimit off(0);
      CRZDIB2 d;
      ASSERT_TRUE(make(d));
      fresh = PixelsToCommitEnd(d);
    }
    const ReuseLimit on(64 * 1024);
    CRZDIB2 dirty;
    ASSERT_TRUE(make(dirty));
    auto* base = reinterpret_cast<BYTE*>(dirty.GetRzBmiHeader());
    const kt::Extents extents = kt::VirtualExtents(base);
    std::fill(dirty.GetBytes(), base + extents.committed, BYTE{0xA5});
    dirty.Delete();
    CRZDIB2 reused;
    ASSERT_TRUE(make(reused));
    ASSERT_EQ(reinterpret_cast<BYTE*>(reused.GetRzBmiHeader()), base) << "not reused";
    EXPECT_EQ(kt::VirtualExtents(base).reserved, extents.reserved);
    EXPECT_EQ(kt::VirtualExtents(base).committed, extents.committed);
    EXPECT_TRUE(PixelsToCommitEnd(reused) == fresh);
    reused.SetCacheInfo(kt::CacheKey(1));  // a full CRZDIB2 block (asan checks the write)
    EXPECT_TRUE(reused.EqualCacheInfo(kt::CacheKey(1)));
  }
}

// A client class that reaches its pixels through the block, where no
// accessor sees it.
class ThroughTheBlock final : public CRZDIB2 {
 public:
  bool Holds(BYTE value) const {
    return std::all_of(pData->pBytes, pData->pBytes + DIBSize(),
                       [=](BYTE b) { return b == value; });
  }
  void Fill(BYTE value) { std::fill(pData->pBytes, pData->pBytes + DIBSize(), value); }
  const void* Header() const { return pData->pBmiHeader; }
};

// Reused storage whose clearing Create(src) left to its writer is cleared
// before another object shares it, and is never left so for a client class.
TEST(StorageReuse, StorageLeftUnclearedIsNeitherSharedNorLeftToClientClasses) {
  const ReuseLimit on(64 * 1024);
  CRZDIB2 like;
  ASSERT_TRUE(kt::CreateRandom(like, 24, 203, 121, 0, 3));
  const void* base = nullptr;
  {
    CRZDIB2 dirty;
    ASSERT_TRUE(dirty.Create(like));
    dirty.ClearDIB(0xA5);
    base = dirty.GetRzBmiHeader();
  }
  CRZDIB2 plain;
  ASSERT_TRUE(plain.Create(like));
  ThroughTheBlock sharer;
  static_cast<CRZDIB2&>(sharer) = plain;
  ASSERT_EQ(sharer.Header(), base) << "not reused";
  EXPECT_TRUE(sharer.Holds(0));
  plain.Delete();
  sharer.Delete();
  ThroughTheBlock client;  // on the same region again
  ASSERT_TRUE(client.Create(like));
  ASSERT_EQ(client.Header(), base) << "not reused";
  client.Fill(0x3C);
  EXPECT_TRUE(kt::AllBytes(client, 0x3C));  // its accessors find nothing to clear
}

TEST(StorageReuseThreads, ManyThreadsTakeAndReleaseUnderAChangingLimit) {
  const ReuseLimit restore(GetStorageReuseLimitKB());
  kt::RunThreads(4, [](int t) {
    for (int i = 0; i < 300; ++i) {
      if (t == 0 && i % 50 == 0) SetStorageReuseLimitKB(i % 100 == 0 ? 0 : 256);
      CRZDIB2 dib;
      const int side = 16 << (i % 3);
      ASSERT_TRUE(dib.Create(32, side, side, 0));
      ASSERT_TRUE(kt::AllBytes(dib, 0));
      dib.ClearDIB(t + 1);
    }
  });
  EXPECT_LE(GetStorageReuseKeptKB(), GetStorageReuseLimitKB());
}

}  // namespace
