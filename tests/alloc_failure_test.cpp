// Every allocation made to fail in turn: operations report false (or raise the
// memory exception where they are documented to), leave the documented state
// and release everything they made.

#include "io_support.h"

#include <functional>

namespace {

using kt::CountingDib;

using AllocationFailure = kt::NoLeaks;

TEST_F(AllocationFailure, CreationsFailEachAllocationInTurnAndLeaveTheBitmapEmpty) {
  tagRZBMINFOHEADER header = kt::MakeHeader(32, 5, 5, 0);
  tagRZBMINFOHEADER attached = kt::MakeHeader(8, 4, 1);
  BYTE pixels[4] = {};
  const std::pair<const char*, std::function<bool(CountingDib&)>> cases[] = {
      {"Create", [](CountingDib& d) { return d.Create(24, 17, 9, 1); }},
      {"Create from a header", [&](CountingDib& d) { return d.Create(&header); }},
      {"Attach", [&](CountingDib& d) { return d.Attach(&attached, pixels); }},
      {"CreateOrModify that must reallocate", [](CountingDib& d) { return d.CreateOrModify(32, 30, 30, 1); }},
  };
  for (const auto& [name, op] : cases) {
    SCOPED_TRACE(name);
    CountingDib dib;
    ASSERT_TRUE(dib.Create(8, 3, 3, 1));
    kt::FailEachAllocationInTurn([&] { return op(dib); }, [&](int n, bool ok) {
      if (ok) return;
      EXPECT_TRUE(dib.IsNilBlock()) << n;
      EXPECT_EQ(CountingDib::liveBlocks + CountingDib::liveBuffers, 0) << n;
      ASSERT_TRUE(dib.Create(8, 3, 3, 1));
    });
  }
  CountingDib dib;  // in place: nothing to allocate
  ASSERT_TRUE(dib.Create(32, 30, 30, 1));
  BYTE* before = dib.GetBytes();
  kt::FailAllocations fail(0);
  ASSERT_TRUE(dib.CreateOrModify(24, 20, 20, 0));
  EXPECT_EQ(dib.GetBytes(), before);
}

TEST_F(AllocationFailure, CopyBeforeWriteRaisesWithTheDocumentedState) {
  CountingDib a;
  ASSERT_TRUE(kt::CreateRandom(a, 24, 4, 4, 1, 1));
  const auto before = kt::Pixels(a);
  for (int k : {0, 1}) {
    CountingDib b(a);
    kt::FailAllocations fail(k);
    EXPECT_TRUE(kt::Throws<CMemoryException>([&] { b.ClearDIB(9); })) << k;  // a mutator passes it on
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
}

}  // namespace
