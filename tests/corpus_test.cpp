// The fuzz seed corpus through both loaders with the fuzz targets' checks; a
// file's name says what to expect: "ok-both-", "ok-file-", "ok-res-", "bad-".

#include "../fuzz/loader_checks.h"
#include "test_support.h"

namespace {

struct Registered : kt::ScopedResource {
  Registered(const std::uint8_t* data, std::size_t size)
      : kt::ScopedResource(101, std::vector<BYTE>(data, data + size)) {}
};

TEST(Corpus, EverySeedBehavesInBothLoaders) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(KOLVEX_SOURCE_DIR "/fuzz/corpus")) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
    bool asFile = false;
    bool asResource = false;
    EXPECT_EQ(kolvex_fuzz::CheckMemoryLoad(data.data(), data.size(), &asFile), nullptr);
    EXPECT_EQ(kolvex_fuzz::CheckResourceLoad<Registered>(data.data(), data.size(), &asResource),
              nullptr);
    const bool both = name.starts_with("ok-both-");
    EXPECT_EQ(asFile, both || name.starts_with("ok-file-"));
    EXPECT_EQ(asResource, both || name.starts_with("ok-res-"));
    ++files;
  }
  EXPECT_GE(files, 20);
}

}  // namespace
