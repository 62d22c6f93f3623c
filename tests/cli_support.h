// The kolvex tool run as a user runs it, in a scratch directory per test; files
// made and read back with the library.
#pragma once

#include "bmp_builder.h"
#include "io_support.h"
#include "portable.h"

#include <algorithm>
#include <sstream>

namespace kt {

inline std::string Quoted(const std::string& s) { return "'" + s + "'"; }

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ScratchPath("cli").string();
    ASSERT_TRUE(std::filesystem::create_directory(dir_));
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Runs the tool (no shell in between) with the words of `line`, then `paths`.
  static ProgramRun Kolvex(const std::string& line, std::vector<std::string> paths = {}) {
    std::istringstream words(line);
    paths.insert(paths.begin(), std::istream_iterator<std::string>(words), {});
    return RunProgram(KOLVEX_TOOL, paths);
  }

  // Runs `line` with the POSIX shell, where `kolvex` stands for the tool.
  static ProgramRun Shell(const std::string& line) {
    return RunProgram("/bin/sh", {"-c", "kolvex() { '" KOLVEX_TOOL "' \"$@\"; }; " + line});
  }

  // A random bitmap file of the library's form; returns its path.
  std::string MakeInput(const std::string& name, WORD bits, int w, int h,
                        std::uint32_t seed) const {
    CRZDIB2 dib;
    EXPECT_TRUE(kt::CreateRandom(dib, bits, w, h, 1, seed));
    WriteFile(Path(name), kt::SaveToMemory(dib));
    return Path(name);
  }

  static void WriteFile(const std::string& path, const std::vector<BYTE>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }

  static std::vector<BYTE> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  static void Load(const std::string& path, CRZDIB2& dib) {
    ASSERT_TRUE(dib.CreateFromFile(path.c_str())) << path;
  }

  // The names in a directory of the test, hidden ones included, sorted.
  std::vector<std::string> Listing(const std::string& sub = "") const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(Path(sub)))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
};

}  // namespace kt
