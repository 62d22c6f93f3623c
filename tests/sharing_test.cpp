// Shared data blocks: assignment, copy-before-write, locking, attach and release.

#include "test_support.h"

namespace {

using kt::CountingDib;
using kt::TestDib;

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
  EXPECT_EQ(CountingDib::liveBlocks, 1);
  ASSERT_TRUE(b._CopyBeforeWrite());
  EXPECT_NE(a.GetBytes(), b.GetBytes());
  EXPECT_EQ(kt::Pixels(b), before);  // padding bytes included
  EXPECT_EQ(std::memcmp(a.GetRzBmiHeader(), b.GetRzBmiHeader(), 144), 0);
  EXPECT_EQ(b.AllocSize(), a.AllocSize());
  EXPECT_TRUE(b.IsCreated());
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
  EXPECT_TRUE(a.IsLocked());

  CountingDib target, src;
  ASSERT_TRUE(target.Create(32, 4, 4, 1));
  ASSERT_TRUE(kt::CreateRandom(src, 24, 3, 3, 1, 4));
  target.LockDIB();
  BYTE* pixels = target.GetBytes();
  target = src;
  EXPECT_EQ(target.GetBytes(), pixels);
  EXPECT_TRUE(target.IsLocked());
  EXPECT_TRUE(target.DIBsEqual(src));
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
  EXPECT_FALSE(headerless.IsValidDIB() || headerless.IsLocked() || headerless.IsNilBlock());
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
  EXPECT_TRUE(owners[5].IsNilBlock());
  EXPECT_EQ(owners[1].Refs(), 6);
  EXPECT_TRUE(owners[1].IsValidDIB());
  EXPECT_EQ(CountingDib::liveBlocks, 1);
  for (size_t i : {1u, 2u, 4u, 6u, 7u}) owners[i].Delete();
  owners[8].Detach();
  EXPECT_EQ(CountingDib::liveBlocks, 0);
  EXPECT_EQ(CountingDib::liveBuffers, 0);
}

TEST_F(Sharing, LockingRules) {
  CountingDib empty;
  EXPECT_TRUE(empty.IsLocked());
  EXPECT_EQ(empty.LockDIB(), nullptr);
  empty.UnlockDIB();
  EXPECT_EQ(empty.Refs(), -1);

  CountingDib a;
  ASSERT_TRUE(a.Create(24, 2, 2, 1));
  a.LockDIB();
  a.LockDIB();
  a.UnlockDIB();
  EXPECT_FALSE(a.IsLocked());  // locks are not counted
  EXPECT_EQ(a.Refs(), 1);

  CountingDib b(a);
  tagRZBMINFOHEADER* locked = b.LockDIB();  // a sharer locks a copy of its own
  EXPECT_NE(locked, a.GetRzBmiHeader());
  EXPECT_EQ(locked, b.GetRzBmiHeader());
  EXPECT_FALSE(a.IsLocked());
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
  const UINT alloc = big.AllocSize();
  big.AssignCopy(small);
  EXPECT_EQ(big.GetBytes(), pixels);
  EXPECT_EQ(big.AllocSize(), alloc);
  EXPECT_EQ(std::memcmp(big.GetRzBmiHeader(), small.GetRzBmiHeader(), 144), 0);
  EXPECT_EQ(std::memcmp(big.GetBytes(), small.GetBytes(), small.DIBSize()), 0);

  CountingDib src;  // the other way round needs new storage
  ASSERT_TRUE(kt::CreateRandom(src, 24, 20, 20, 1, 6));
  small.AssignCopy(src);
  EXPECT_EQ(small.AllocSize(), 144u + 60u * 20u);
  EXPECT_EQ(kt::Pixels(small), kt::Pixels(src));

  const auto before = kt::Pixels(src);  // a shared target is never written
  CountingDib sharer(src);
  ASSERT_TRUE(small.Create(24, 2, 2, 1));  // would fit in place
  sharer.AssignCopy(small);
  EXPECT_NE(src.GetBytes(), sharer.GetBytes());
  EXPECT_EQ(kt::Pixels(src), before);
  EXPECT_EQ(src.Refs(), 1);
}

TEST_F(Sharing, AttachedMemoryStaysTheCallers) {
  tagRZBMINFOHEADER header = kt::MakeHeader(24, 3, 2);
  BYTE pixels[24];
  for (int i = 0; i < 24; ++i) pixels[i] = static_cast<BYTE>(i);
  const tagRZBMINFOHEADER headerBefore = header;
  {
    CountingDib a;
    ASSERT_TRUE(a.Attach(&header, pixels));
    EXPECT_TRUE(a.IsAttached());
    EXPECT_FALSE(a.IsCreated());
    EXPECT_EQ(a.AllocSize(), 0u);
    EXPECT_EQ(CountingDib::liveBuffers, 0);

    CountingDib b(a);
    EXPECT_EQ(b.GetBytes(), pixels);
    b.ClearDIB(0xEE);  // the writer gets a created copy
    EXPECT_TRUE(b.IsCreated());
    EXPECT_NE(b.GetBytes(), pixels);
    EXPECT_TRUE(a.IsAttached());
    for (int i = 0; i < 24; ++i) ASSERT_EQ(pixels[i], i);

    // Unshared attached memory is written in place...
    a.ClearDIB(0x11);
    EXPECT_EQ(pixels[0], 0x11);
    // ...but never reshaped: CreateOrModify makes new storage.
    ASSERT_TRUE(a.CreateOrModify(24, 2, 2, 1));
    EXPECT_TRUE(a.IsCreated());
    EXPECT_EQ(std::memcmp(&header, &headerBefore, sizeof header), 0);

    ASSERT_TRUE(b.Attach(&header, pixels));
    b.Detach();
    EXPECT_TRUE(b.IsNilBlock());
  }
  // Releasing never freed the caller's memory (ASan would report a bad free).
  EXPECT_EQ(std::memcmp(&header, &headerBefore, sizeof header), 0);
}

TEST_F(Sharing, ConstructorsCreateOrAttach) {
  tagRZBMINFOHEADER header = kt::MakeHeader(32, 4, 4, 0);
  header.dwAlphaFlag = 2;
  header.dwReserved1[0] = 7;
  TestDib created(&header);
  ASSERT_TRUE(created.IsCreated());
  EXPECT_EQ(std::memcmp(created.GetRzBmiHeader(), &header, 144), 0);
  EXPECT_NE(created.GetRzBmiHeader(), &header);
  BYTE pixels[64] = {};
  TestDib attached(&header, pixels);
  EXPECT_TRUE(attached.IsAttached());
  EXPECT_EQ(attached.GetRzBmiHeader(), &header);
  EXPECT_TRUE(TestDib(&header, nullptr).IsNilBlock());
  EXPECT_TRUE(TestDib(nullptr).IsNilBlock());
}

}  // namespace
