// Shared blocks: sharing, copy-before-write, locking, attach, and allocation failures.

#include "io_support.h"

#include <map>

namespace {

using kt::CountingDib;

using Sharing = kt::NoLeaks;

// What a bitmap must show: header and pixel bytes (none when empty), and its lock.
struct Model {
  std::vector<BYTE> bytes;
  bool locked = false;
};

std::vector<BYTE> Snapshot(const CRZDIBBase2& dib) {
  if (!dib.IsValidDIB()) return {};
  const auto* header = reinterpret_cast<const BYTE*>(dib.GetRzBmiHeader());
  std::vector<BYTE> out(header, header + kt::kHeaderBytes);
  out.insert(out.end(), dib.GetBytes(), dib.GetBytes() + dib.DIBSize());
  return out;
}

// Every bitmap shows its model's bytes, a block counts its owners (a locked one has one),
// and copies and reshapes keep unshared storage (and its lock) exactly when it fits.
TEST_F(Sharing, RandomOperationsAgreeWithAPlainModel) {
  // Equal image sizes (64, 64) and sizes a header's length apart (48, 64, 80, 192).
  const std::tuple<WORD, int, int> shapes[] = {{24, 5, 4}, {32, 4, 4}, {8, 3, 3}, {24, 5, 3},
                                               {32, 2, 2}, {8, 13, 5}, {32, 8, 6}};
  std::vector<CountingDib> dibs(4);
  std::vector<Model> model(dibs.size());
  std::mt19937 rng(2024);
  const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  for (int step = 0; step < 4000; ++step) {
    const std::size_t i = pick(dibs.size());
    const std::size_t j = pick(dibs.size());
    CountingDib& dib = dibs[i];
    Model& m = model[i];
    const auto [bits, width, height] = shapes[pick(std::size(shapes))];
    const int op = static_cast<int>(pick(9));
    SCOPED_TRACE(testing::Message()
                 << "step " << step << ", operation " << op << " on " << i << " from " << j);
    switch (op) {
      case 0:    // shares, or copies when either side is locked
      case 1: {  // AssignCopy: from an empty source or itself, the target stays as it is
        const bool empty = model[j].bytes.empty();
        const bool same = op == 0 ? dib.Data() == dibs[j].Data() : i == j;
        const bool copies = !empty && !same && (op == 1 || m.locked || model[j].locked);
        const bool reused =
            copies && !m.bytes.empty() && dib.Refs() <= 1 && dib.DIBSize() >= dibs[j].DIBSize();
        BYTE* const pixels = dib.GetBytes();
        if (op == 0) {
          dib = dibs[j];
        } else {
          dib.AssignCopy(dibs[j]);
        }
        EXPECT_TRUE(!reused || dib.GetBytes() == pixels);
        if (op == 0 && empty) m = {};
        if (!empty && !same) m = {model[j].bytes, m.locked && reused};
        break;
      }
      case 2: {
        const BYTE value = static_cast<BYTE>(rng());
        dib.ClearDIB(static_cast<int>(value));
        if (!m.bytes.empty()) std::fill(m.bytes.begin() + kt::kHeaderBytes, m.bytes.end(), value);
        break;
      }
      case 3:  // raw pixel bytes, when this image is at least as large
        dib.CopyDibBytes(dibs[j]);
        if (!m.bytes.empty() && !model[j].bytes.empty() &&
            m.bytes.size() >= model[j].bytes.size()) {
          std::copy(model[j].bytes.begin() + kt::kHeaderBytes, model[j].bytes.end(),
                    m.bytes.begin() + kt::kHeaderBytes);
        }
        break;
      case 4:  // a locked bitmap is written through its pointers
        if (dib.LockDIB() != nullptr) {
          const std::size_t at = pick(static_cast<std::size_t>(dib.DIBSize()));
          dib.GetBytes()[at] = m.bytes[kt::kHeaderBytes + at] = static_cast<BYTE>(rng());
          m.locked = true;
        }
        break;
      case 5:
        dib.UnlockDIB();
        m.locked = false;
        break;
      case 6:  // new storage, its extension words stamped while unshared
        ASSERT_TRUE(dib.Create(bits, width, height, 1));
        dib.GetRzBmiHeader()->dwReserved3[13] = static_cast<DWORD>(rng());
        m = {Snapshot(dib), false};
        break;
      case 7: {
        const int image = kt::Stride(bits, width) * height;
        const bool inPlace =
            !m.bytes.empty() && dib.Refs() <= 1 && dib.AllocSize() >= kt::kHeaderBytes + image;
        BYTE* const pixels = dib.GetBytes();
        ASSERT_TRUE(dib.CreateOrModify(bits, width, height, 0));
        EXPECT_EQ(dib.DIBSize(), image);
        EXPECT_TRUE(!inPlace || dib.GetBytes() == pixels);
        m = {Snapshot(dib), m.locked && inPlace};
        break;
      }
      default:
        dib.Delete();
        m = {};
    }
    std::map<const CRzDibBaseData2*, int> owners;
    for (std::size_t k = 0; k < dibs.size(); ++k) {
      ASSERT_EQ(Snapshot(dibs[k]), model[k].bytes) << "bitmap " << k;
      if (model[k].bytes.empty()) continue;
      ASSERT_EQ(dibs[k].IsLocked(), model[k].locked) << "bitmap " << k;
      ++owners[dibs[k].Data()];
      ASSERT_GE(dibs[k].AllocSize(), kt::kHeaderBytes + static_cast<UINT>(dibs[k].DIBSize()))
          << "bitmap " << k;
    }
    for (const auto& [block, count] : owners) ASSERT_EQ(block->nRefs < 0 ? 1 : block->nRefs, count);
    ASSERT_EQ(CountingDib::liveBlocks, static_cast<int>(owners.size()));
    ASSERT_EQ(CountingDib::liveBuffers, static_cast<int>(owners.size()));
  }
}

// Never reshaped, freed or written by a sharer, whatever a client's hook leaves in bCreated.
TEST_F(Sharing, AttachedMemoryStaysTheCallers) {
  tagRZBMINFOHEADER header = kt::MakeHeader(24, 3, 2);
  const tagRZBMINFOHEADER headerBefore = header;
  BYTE pixels[24] = {};
  {
    CountingDib a;
    ASSERT_TRUE(a.Attach(&header, pixels));
    EXPECT_EQ(CountingDib::liveBuffers, 0);
    CountingDib b(a);
    b.ClearDIB(0xEE);
    EXPECT_TRUE(b.IsCreated());
    EXPECT_EQ(pixels[0], 0);
    a.ClearDIB(0x11);
    EXPECT_EQ(pixels[23], 0x11);
    ASSERT_TRUE(a.CreateOrModify(24, 2, 2, 1));
    EXPECT_TRUE(a.IsCreated());
    CountingDib headerless;  // attached to nothing: a source that empties its target
    ASSERT_TRUE(headerless.Attach(nullptr, nullptr));
    EXPECT_EQ(headerless.LockDIB(), nullptr);
    a = headerless;
    EXPECT_TRUE(a.IsNilBlock());
  }
  EXPECT_EQ(std::memcmp(&header, &headerBefore, sizeof header), 0);
  struct DirtyHook : kt::TestDib {
    void _IAllocData() override {
      kt::TestDib::_IAllocData();
      Data()->bCreated = true;
    }
  } hooked;
  ASSERT_TRUE(hooked.Attach(&header, pixels));
  EXPECT_TRUE(hooked.IsAttached());
}

// Without a block the writer ends empty, without a buffer it holds a headerless block.
TEST_F(Sharing, CopyBeforeWriteRaisesWithTheDocumentedState) {
  CountingDib a;
  ASSERT_TRUE(kt::CreateRandom(a, 24, 4, 4, 1, 1));
  const auto before = kt::Pixels(a);
  for (int k : {0, 1}) {
    CountingDib b(a);
    kt::FailAllocations fail(k);
    EXPECT_TRUE(kt::Throws<CMemoryException>([&] { b.ClearDIB(9); })) << k;
    EXPECT_EQ(b.IsNilBlock(), k == 0);
    EXPECT_EQ(b.GetRzBmiHeader(), nullptr);
    EXPECT_EQ(b.Refs(), k == 0 ? -1 : 1);
    EXPECT_EQ(a.Refs(), 1);
  }
  EXPECT_EQ(kt::Pixels(a), before);
}

}  // namespace
