// Shared data blocks: assignment, copy-before-write, locking, attach and release.

#include "test_support.h"

namespace {

using kt::CountingDib;

using Sharing = kt::NoLeaks;

TEST_F(Sharing, AssignmentSharesUntilAWriteThenCopiesHeaderAndEveryByte) {
  CountingDib a;
  ASSERT_TRUE(kt::CreateRandom(a, 24, 7, 5, 0, 2));
  a.ncbwSetAlphaFlag(0x55);
  a.GetRzBmiHeader()->dwReserved3[13] = 0xDEADBEEF;
  const auto before = kt::Pixels(a);

  CountingDib b;
  b = a;
  EXPECT_EQ(a.GetBytes(), b.GetBytes());
  EXPECT_EQ(a.Refs(), 2);
  ASSERT_TRUE(b._CopyBeforeWrite());
  EXPECT_NE(a.GetBytes(), b.GetBytes());
  EXPECT_EQ(kt::Pixels(b), before);  // padding bytes included
  EXPECT_EQ(std::memcmp(a.GetRzBmiHeader(), b.GetRzBmiHeader(), 144), 0);
  EXPECT_FALSE(b._CopyBeforeWrite());  // unshared now: nothing to do

  CountingDib c(a);
  c.ClearDIB(0);  // a mutator copies first
  EXPECT_NE(a.GetBytes(), c.GetBytes());
  EXPECT_EQ(kt::Pixels(a), before);
  EXPECT_EQ(a.Refs(), 1);
  EXPECT_EQ(c.Refs(), 1);
  EXPECT_EQ(CountingDib::liveBlocks, 3);
}

TEST_F(Sharing, LockedSourceIsCopiedAndLockedTargetReusedWhenLargeEnough) {
  CountingDib a;
  ASSERT_TRUE(kt::CreateRandom(a, 32, 3, 3, 1, 3));
  ASSERT_NE(a.LockDIB(), nullptr);
  CountingDib b;
  b = a;
  CountingDib c(a);  // copy construction follows the same rule
  for (CountingDib* copy : {&b, &c}) {
    EXPECT_NE(copy->GetBytes(), a.GetBytes());
    EXPECT_EQ(kt::Pixels(*copy), kt::Pixels(a));
    EXPECT_FALSE(copy->IsLocked());
  }

  CountingDib target, src;
  ASSERT_TRUE(target.Create(32, 4, 4, 1));
  ASSERT_TRUE(kt::CreateRandom(src, 24, 5, 4, 1, 4));  // exactly as large: 64 bytes
  target.LockDIB();
  BYTE* pixels = target.GetBytes();
  target = src;
  EXPECT_EQ(target.GetBytes(), pixels);
  EXPECT_TRUE(target.IsLocked());
  EXPECT_EQ(std::memcmp(target.GetBytes(), src.GetBytes(), src.DIBSize()), 0);
  ASSERT_TRUE(src.Create(32, 8, 8, 1));  // now too large: fresh unlocked storage
  target = src;
  EXPECT_NE(target.GetBytes(), pixels);
  EXPECT_FALSE(target.IsLocked());
}

TEST_F(Sharing, SelfAndEmptyAssignments) {
  CountingDib a;
  ASSERT_TRUE(a.Create(8, 4, 4, 1));
  CRzDibBaseData2* block = a.Data();
  const CountingDib& same = a;
  a = same;
  a.AssignCopy(a);  // from itself: nothing happens
  CountingDib empty;
  a.AssignCopy(empty);  // an empty source leaves the target as it was
  EXPECT_EQ(a.Data(), block);
  EXPECT_EQ(a.Refs(), 1);
  a = empty;
  EXPECT_TRUE(a.IsNilBlock());

  CountingDib headerless;  // attached to nothing: a block without a header
  ASSERT_TRUE(headerless.Attach(nullptr, nullptr));
  EXPECT_EQ(headerless.LockDIB(), nullptr);
  ASSERT_TRUE(a.Create(8, 4, 4, 1));
  a = headerless;  // a source without header empties the target
  EXPECT_TRUE(a.IsNilBlock());
}

TEST_F(Sharing, OwnersReleaseOneReferenceEachInAnyOrder) {
  std::vector<CountingDib> owners(10);
  ASSERT_TRUE(owners[0].Create(24, 3, 3, 1));
  for (size_t i = 1; i < owners.size(); ++i) owners[i] = owners[0];
  EXPECT_EQ(owners[0].Refs(), 10);
  for (size_t i : {3u, 0u, 9u, 5u, 5u}) owners[i].Delete();  // a second Delete does nothing
  EXPECT_EQ(owners[1].Refs(), 6);
  EXPECT_EQ(CountingDib::liveBlocks, 1);
  for (size_t i : {1u, 2u, 4u, 6u, 7u}) owners[i].Delete();
  owners[8].Detach();
  EXPECT_EQ(CountingDib::liveBlocks, 0);
}

TEST_F(Sharing, LockingRules) {
  CountingDib empty;
  EXPECT_EQ(empty.LockDIB(), nullptr);
  empty.UnlockDIB();
  EXPECT_EQ(empty.Refs(), -1);

  CountingDib a;
  ASSERT_TRUE(a.Create(24, 2, 2, 1));
  a.LockDIB();
  a.LockDIB();
  a.UnlockDIB();
  EXPECT_FALSE(a.IsLocked());  // locks are not counted

  CountingDib b(a);
  tagRZBMINFOHEADER* locked = b.LockDIB();  // a sharer locks a copy of its own
  EXPECT_NE(locked, a.GetRzBmiHeader());
  EXPECT_EQ(a.Refs(), 1);
  b.Delete();  // a locked block is freed by its owner (the fixture checks)

  // Unlocking a bitmap that is not locked must not disturb a shared count.
  CountingDib c(a);
  c.UnlockDIB();
  EXPECT_EQ(a.Refs(), 2);
}

TEST_F(Sharing, AssignCopyReusesLargeEnoughUnsharedStorage) {
  CountingDib big, small;
  ASSERT_TRUE(big.Create(24, 10, 10, 0));
  ASSERT_TRUE(kt::CreateRandom(small, 32, 4, 3, 1, 5));
  small.ncbwSetAlphaFlag(1);
  BYTE* pixels = big.GetBytes();
  big.AssignCopy(small);
  EXPECT_EQ(big.GetBytes(), pixels);
  EXPECT_EQ(std::memcmp(big.GetRzBmiHeader(), small.GetRzBmiHeader(), 144), 0);
  EXPECT_EQ(std::memcmp(big.GetBytes(), small.GetBytes(), small.DIBSize()), 0);

  CountingDib src;  // the other way round needs new storage
  ASSERT_TRUE(kt::CreateRandom(src, 24, 20, 20, 1, 6));
  small.AssignCopy(src);
  EXPECT_EQ(kt::Pixels(small), kt::Pixels(src));

  const auto before = kt::Pixels(src);  // a shared target is never written
  CountingDib sharer(src);
  ASSERT_TRUE(small.Create(24, 2, 2, 1));  // would fit in place
  sharer.AssignCopy(small);
  EXPECT_NE(src.GetBytes(), sharer.GetBytes());
  EXPECT_EQ(kt::Pixels(src), before);
}

TEST_F(Sharing, AttachedMemoryStaysTheCallers) {
  tagRZBMINFOHEADER header = kt::MakeHeader(24, 3, 2);
  BYTE pixels[24];
  for (int i = 0; i < 24; ++i) pixels[i] = static_cast<BYTE>(i);
  const tagRZBMINFOHEADER headerBefore = header;
  {
    CountingDib a;
    ASSERT_TRUE(a.Attach(&header, pixels));
    EXPECT_EQ(CountingDib::liveBuffers, 0);
    CountingDib b(a);
    b.ClearDIB(0xEE);  // the writer gets a created copy
    EXPECT_TRUE(b.IsCreated());
    for (int i = 0; i < 24; ++i) ASSERT_EQ(pixels[i], i);

    a.ClearDIB(0x11);  // unshared attached memory is written in place...
    EXPECT_EQ(pixels[0], 0x11);
    ASSERT_TRUE(a.CreateOrModify(24, 2, 2, 1));  // ...but never reshaped
    EXPECT_TRUE(a.IsCreated());
  }
  // Releasing never freed nor wrote the caller's memory (ASan would report a bad free).
  EXPECT_EQ(std::memcmp(&header, &headerBefore, sizeof header), 0);

  // Nor does a client's block hook that leaves the flag set make it the library's to free.
  struct DirtyHook : kt::TestDib {
    void _IAllocData() override {
      kt::TestDib::_IAllocData();
      Data()->bCreated = true;
    }
  } hooked;
  ASSERT_TRUE(hooked.Attach(&header, pixels));
  EXPECT_TRUE(hooked.IsAttached());
  hooked.Detach();
}

}  // namespace
