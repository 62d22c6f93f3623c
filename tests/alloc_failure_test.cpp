// Every allocation made to fail in turn: operations report false (or raise the
// memory exception where they are documented to), leave the documented state
// and release everything they made.

#include "test_support.h"

#include <functional>

namespace {

using kt::CountingDib;
using kt::FailAllocations;

class AllocationFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    CountingDib::liveBlocks = 0;
    CountingDib::liveBuffers = 0;
  }
  void TearDown() override {
    kolvex::testing::StopFailingAllocations();
    EXPECT_EQ(CountingDib::liveBlocks, 0);
    EXPECT_EQ(CountingDib::liveBuffers, 0);
  }

  // Runs `op` on a fresh bitmap prepared by `prepare`, with the k-th allocation
  // failing, for k = 0, 1, ... until the operation succeeds; checks that every
  // failure left the bitmap empty with nothing leaked. Returns how many
  // allocations the operation needed.
  int FailEachAllocation(const std::function<void(CountingDib&)>& prepare,
                         const std::function<bool(CountingDib&)>& op) {
    for (int k = 0; k < 16; ++k) {
      CountingDib dib;
      prepare(dib);
      const int blocksBefore = CountingDib::liveBlocks;
      bool ok = false;
      {
        FailAllocations fail(k);
        ok = op(dib);
      }
      if (ok) return k;
      EXPECT_FALSE(dib.IsValidDIB()) << "k=" << k;
      EXPECT_TRUE(dib.IsNilBlock()) << "k=" << k;
      EXPECT_LE(CountingDib::liveBlocks, blocksBefore) << "k=" << k;
    }
    ADD_FAILURE() << "operation never succeeded";
    return -1;
  }
};

TEST_F(AllocationFailure, Create) {
  const int needed = FailEachAllocation([](CountingDib& d) { ASSERT_TRUE(d.Create(8, 3, 3, 1)); },
                                        [](CountingDib& d) { return d.Create(24, 17, 9, 1); });
  EXPECT_EQ(needed, 2);  // the block, then the buffer
}

TEST_F(AllocationFailure, CreateFromHeader) {
  tagRZBMINFOHEADER header = kt::MakeHeader(32, 5, 5, 0);
  EXPECT_EQ(FailEachAllocation([](CountingDib&) {},
                               [&](CountingDib& d) { return d.Create(&header); }),
            2);
}

TEST_F(AllocationFailure, Attach) {
  tagRZBMINFOHEADER header = kt::MakeHeader(8, 4, 1);
  BYTE pixels[4] = {};
  EXPECT_EQ(FailEachAllocation([](CountingDib& d) { ASSERT_TRUE(d.Create(8, 3, 3, 1)); },
                               [&](CountingDib& d) { return d.Attach(&header, pixels); }),
            1);
}

TEST_F(AllocationFailure, CreateOrModifyThatMustReallocate) {
  EXPECT_EQ(FailEachAllocation([](CountingDib& d) { ASSERT_TRUE(d.Create(8, 3, 3, 1)); },
                               [](CountingDib& d) { return d.CreateOrModify(32, 30, 30, 1); }),
            2);
}

TEST_F(AllocationFailure, CreateOrModifyInPlaceAllocatesNothing) {
  CountingDib dib;
  ASSERT_TRUE(dib.Create(32, 30, 30, 1));
  BYTE* pixels = dib.GetBytes();
  FailAllocations fail(0);
  ASSERT_TRUE(dib.CreateOrModify(24, 20, 20, 0));
  EXPECT_EQ(dib.GetBytes(), pixels);
}

TEST_F(AllocationFailure, CopyBeforeWriteRaisesWithTheDocumentedState) {
  CountingDib a;
  ASSERT_TRUE(a.Create(24, 4, 4, 1));
  kt::FillRandom(a, 1);
  const auto before = kt::Pixels(a);

  // Block allocation fails: the writer ends empty, the other owner intact.
  {
    CountingDib b(a);
    FailAllocations fail(0);
    EXPECT_THROW(b._CopyBeforeWrite(), CMemoryException*);
    EXPECT_TRUE(b.IsNilBlock());
  }
  EXPECT_EQ(a.Refs(), 1);

  // Buffer allocation fails: the writer holds a new block without header or pixels.
  {
    CountingDib b(a);
    FailAllocations fail(1);
    try {
      b._CopyBeforeWrite();
      ADD_FAILURE() << "no exception";
    } catch (CMemoryException* e) {
      e->Delete();
    }
    EXPECT_FALSE(b.IsNilBlock());
    EXPECT_EQ(b.GetRzBmiHeader(), nullptr);
    EXPECT_EQ(b.Refs(), 1);
  }
  EXPECT_EQ(a.Refs(), 1);
  EXPECT_EQ(kt::Pixels(a), before);
}

TEST_F(AllocationFailure, ClearOfASharedBitmapPassesTheExceptionOn) {
  CountingDib a;
  ASSERT_TRUE(a.Create(8, 8, 8, 1));
  a.ClearDIB(5);
  CountingDib b(a);
  FailAllocations fail(0);
  EXPECT_THROW(b.ClearDIB(9), CMemoryException*);
  EXPECT_EQ(a.GetBytes()[0], 5);
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
