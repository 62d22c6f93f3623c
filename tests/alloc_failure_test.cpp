// Every allocation made to fail in turn: operations report false (or raise the
// memory exception where they are documented to), leave the documented state
// and release everything they made.

#include "test_support.h"

#include <functional>

namespace {

using kt::CountingDib;
using kt::FailAllocations;

using AllocationFailure = kt::NoLeaks;

TEST_F(AllocationFailure, CreationsFailEachAllocationInTurnAndLeaveTheBitmapEmpty) {
  tagRZBMINFOHEADER header = kt::MakeHeader(32, 5, 5, 0);
  tagRZBMINFOHEADER attached = kt::MakeHeader(8, 4, 1);
  BYTE pixels[4] = {};
  struct Case {
    const char* name;
    bool startEmpty;
    std::function<bool(CountingDib&)> op;
    int needed;  // allocations the operation makes
  };
  const Case cases[] = {
      {"Create", false, [](CountingDib& d) { return d.Create(24, 17, 9, 1); }, 2},  // block, buffer
      {"Create from a header", true, [&](CountingDib& d) { return d.Create(&header); }, 2},
      {"Attach", false, [&](CountingDib& d) { return d.Attach(&attached, pixels); }, 1},
      {"CreateOrModify that must reallocate", false,
       [](CountingDib& d) { return d.CreateOrModify(32, 30, 30, 1); }, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int k = 0;
    for (;; ++k) {
      CountingDib dib;
      if (!c.startEmpty) {
        ASSERT_TRUE(dib.Create(8, 3, 3, 1));
      }
      const int blocksBefore = CountingDib::liveBlocks;
      bool ok = false;
      {
        FailAllocations fail(k);
        ok = c.op(dib);
      }
      if (ok || k == 16) break;
      EXPECT_FALSE(dib.IsValidDIB()) << "k=" << k;
      EXPECT_TRUE(dib.IsNilBlock()) << "k=" << k;
      EXPECT_LE(CountingDib::liveBlocks, blocksBefore) << "k=" << k;
    }
    EXPECT_EQ(k, c.needed);
  }
  CountingDib dib;  // in place: nothing to allocate
  ASSERT_TRUE(dib.Create(32, 30, 30, 1));
  BYTE* before = dib.GetBytes();
  FailAllocations fail(0);
  ASSERT_TRUE(dib.CreateOrModify(24, 20, 20, 0));
  EXPECT_EQ(dib.GetBytes(), before);
}

TEST_F(AllocationFailure, CopyBeforeWriteRaisesWithTheDocumentedState) {
  CountingDib a;
  ASSERT_TRUE(kt::CreateRandom(a, 24, 4, 4, 1, 1));
  const auto before = kt::Pixels(a);
  for (int k : {0, 1}) {
    CountingDib b(a);
    FailAllocations fail(k);
    EXPECT_TRUE(kt::Throws<CMemoryException>([&] { b._CopyBeforeWrite(); })) << k;
    if (k == 0) {  // no block: the writer ends empty
      EXPECT_TRUE(b.IsNilBlock());
    } else {  // no buffer: the writer holds a new block without header or pixels
      EXPECT_FALSE(b.IsNilBlock());
      EXPECT_EQ(b.GetRzBmiHeader(), nullptr);
      EXPECT_EQ(b.Refs(), 1);
    }
    EXPECT_EQ(a.Refs(), 1);  // the other owner intact
  }
  EXPECT_EQ(kt::Pixels(a), before);

  CountingDib b(a);  // a mutator passes the exception on
  FailAllocations fail(0);
  EXPECT_TRUE(kt::Throws<CMemoryException>([&] { b.ClearDIB(9); }));
  EXPECT_EQ(kt::Pixels(a), before);
}

TEST_F(AllocationFailure, InjectionCountsFromTheCall) {
  CountingDib a, b;
  kolvex::testing::FailAllocationsAfter(3);
  EXPECT_TRUE(a.Create(8, 1, 1, 1));   // allocations 1 and 2
  EXPECT_FALSE(b.Create(8, 1, 1, 1));  // 3 succeeds, 4 fails
  EXPECT_FALSE(b.Create(8, 1, 1, 1));  // every later one fails too
  kolvex::testing::StopFailingAllocations();
  EXPECT_TRUE(b.Create(8, 1, 1, 1));
}

}  // namespace
