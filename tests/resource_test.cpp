// CreateFromResource: the block layout, every form of the name, refusals and allocation
// failures.

#include "bmp_builder.h"
#include "io_support.h"

namespace {

using Resource = kt::NoLeaks;
using kt::BmpFields;
using kt::MakeBmp;

TEST_F(Resource, ASavedBitmapLoadsBackByEveryFormOfItsName) {
  CRZDIB2 src;
  ASSERT_TRUE(kt::CreateRandom(src, 24, 5, 3, 1, 11));
  src.GetRzBmiHeader()->biYPelsPerMeter = 3780;
  src.GetRzBmiHeader()->dwAlphaFlag = 2;
  const std::vector<BYTE> file = kt::SaveToMemory(src);
  const kt::ScopedResource resource(101, file);

  using Load = bool (*)(CRZDIB2&);
  const Load loads[] = {
      [](CRZDIB2& d) { return d.CreateFromResource(101u, nullptr); },
      [](CRZDIB2& d) { return d.CreateFromResource(0x10065u, nullptr); },  // low 16 bits only
      [](CRZDIB2& d) { return d.CreateFromResource(MAKEINTRESOURCE(101), nullptr); },
      [](CRZDIB2& d) { return d.CreateFromResource("#101", AfxGetInstanceHandle()); },
  };
  for (Load load : loads) {
    kt::CountingDib2 dib;
    ASSERT_TRUE(load(dib));
    // The file's header with the extended size and flag; every other library field zero.
    tagRZBMINFOHEADER expected = kt::MakeHeader(24, 5, 3, 1);
    std::memcpy(&expected.biCompression, &file[30], 24);
    EXPECT_EQ(std::memcmp(dib.GetRzBmiHeader(), &expected, kt::kHeaderBytes), 0);
    EXPECT_EQ(dib.Data()->nAllocSize, (file.size() - 14) + 104);
    EXPECT_EQ(kt::Pixels(dib), kt::Pixels(src));
  }
}

// Refusals empty a bitmap that held an image (the corpus test replays every refused form, and
// colour tables skipped and top-down rows flipped, from empty bitmaps).
TEST_F(Resource, RefusalsLeaveTheBitmapEmpty) {
  for (const BmpFields& refused : {BmpFields{.infoSize = 124}, BmpFields{.bits = 2}}) {
    const kt::ScopedResource resource(103, MakeBmp(refused));
    kt::CountingDib2 dib;
    ASSERT_TRUE(dib.Create(24, 4, 4, 1));
    EXPECT_FALSE(dib.CreateFromResource(103u, nullptr) || dib.IsValidDIB());
    ASSERT_TRUE(dib.Create(24, 4, 4, 1));
    EXPECT_FALSE(dib.CreateFromResource("missing", nullptr) || dib.IsValidDIB());
  }
}

// Files that kolvex_add_resources (tests/CMakeLists.txt) made resources of
// this program load as the files themselves do.
TEST_F(Resource, FilesAddedByTheBuildAreResourcesOfTheProgram) {
  const std::pair<LPCSTR, const char*> added[] = {
      {MAKEINTRESOURCE(7001), "/fuzz/corpus/ok-both-24bit-3x2.bmp"},
      {"card", "/examples/consumer/card.bmp"},
  };
  for (const auto& [name, file] : added) {
    SCOPED_TRACE(file);
    kt::CountingDib2 resource;
    ASSERT_TRUE(resource.CreateFromResource(name, GetModuleHandleA(nullptr)));
    CRZDIB2 loaded;
    ASSERT_TRUE(loaded.CreateFromFile((std::string(KOLVEX_SOURCE_DIR) + file).c_str()));
    EXPECT_TRUE(resource.DIBsEqual(loaded));
    EXPECT_EQ(kt::Pixels(resource), kt::Pixels(loaded));
  }
}

TEST_F(Resource, EveryAllocationFailingInTurnFailsCleanly) {
  const kt::ScopedResource resource(104, MakeBmp(BmpFields{.width = 7, .height = -5}));
  kt::CountingDib2 dib;
  kt::FailEachAllocationInTurn(
      [&] { return dib.CreateFromResource(104u, nullptr); },
      [&](int n, bool loaded) { EXPECT_EQ(dib.IsValidDIB(), loaded) << n; });
}

}  // namespace
