// The fuzz seed corpora (files, and resource-shaped inputs) through both
// loaders with the fuzz targets' checks; a file's name says what to expect:
// "ok-both-", "ok-file-", "ok-res-", "bad-".

#include "../fuzz/loader_checks.h"
#include "test_support.h"

namespace {

struct Registered : kt::ScopedResource {
  Registered(const std::uint8_t* data, std::size_t size)
      : kt::ScopedResource(101, std::vector<BYTE>(data, data + size)) {}
};

TEST(Corpus, EverySeedBehavesInBothLoaders) {
  std::vector<std::filesystem::path> seeds;
  for (const char* corpus : {"/fuzz/corpus", "/fuzz/corpus-resource"}) {
    for (const auto& entry :
         std::filesystem::directory_iterator(KOLVEX_SOURCE_DIR + std::string(corpus))) {
      seeds.push_back(entry.path());
    }
  }
  for (const auto& path : seeds) {
    const std::string name = path.filename().string();
    SCOPED_TRACE(name);
    std::ifstream in(path, std::ios::binary);
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
  }
  EXPECT_GE(seeds.size(), 90u);
}

}  // namespace
