// The kolvex tool run as a user runs it: a scratch directory per test, the
// tool started with its words (no shell in between), files made and read back
// with the library.
#pragma once

#include "bmp_builder.h"
#include "io_support.h"
#include "portable.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#ifndef KOLVEX_TOOL
#error "KOLVEX_TOOL is the path of the kolvex executable"
#endif

namespace kt {

using ToolRun = ProgramRun;

// The words of a command line written as a shell would read it: separated by
// spaces, with '...' quoting (paths may hold spaces).
inline std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false;
  bool any = false;
  for (char c : line) {
    if (c == '\'') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) words.push_back(word);
      word.clear();
      any = false;
    } else {
      word.push_back(c);
      any = true;
    }
  }
  if (any) words.push_back(word);
  return words;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

inline std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// An 8-bit grey image as 24-bit pixels, and back (every channel must agree).
inline void Widen(const CRZDIB2& grey, CRZDIB2& colour) {
  ASSERT_TRUE(colour.Create(24, grey.DIBWidth(), grey.DIBHeight(), 1));
  for (int y = 0; y < grey.DIBHeight(); ++y) {
    for (int x = 0; x < grey.DIBWidth(); ++x) {
      const BYTE v = grey.GetBytes()[y * grey.DIBBytesPerLine() + x];
      BYTE* p = colour.GetBytes() + y * colour.DIBBytesPerLine() + 3 * x;
      p[0] = p[1] = p[2] = v;
    }
  }
}
inline void Narrow(const CRZDIB2& colour, CRZDIB2& grey) {
  ASSERT_TRUE(grey.Create(8, colour.DIBWidth(), colour.DIBHeight(), 1));
  for (int y = 0; y < colour.DIBHeight(); ++y) {
    for (int x = 0; x < colour.DIBWidth(); ++x) {
      const BYTE* p = colour.GetBytes() + y * colour.DIBBytesPerLine() + 3 * x;
      ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]) << "grey stays grey";
      grey.GetBytes()[y * grey.DIBBytesPerLine() + x] = p[0];
    }
  }
}

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::mt19937_64 rng{std::random_device{}()};
    const auto dir = std::filesystem::temp_directory_path() / ("kolvex-cli-" + std::to_string(rng()));
    ASSERT_TRUE(std::filesystem::create_directory(dir));
    dir_ = dir.string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  static ToolRun Kolvex(const std::string& args) { return RunProgram(KOLVEX_TOOL, Words(args)); }

  // A random bitmap file of the library's form; returns its path.
  std::string MakeInput(const std::string& name, WORD bits, int w, int h, std::uint32_t seed) const {
    CRZDIB2 dib;
    EXPECT_TRUE(kt::CreateRandom(dib, bits, w, h, 1, seed));
    WriteFile(Path(name), kt::SaveToMemory(dib));
    return Path(name);
  }

  static void WriteFile(const std::string& path, const std::vector<BYTE>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
  }

  static std::vector<BYTE> FileBytes(const std::string& path) {
    const std::string s = ReadText(path);
    return std::vector<BYTE>(s.begin(), s.end());
  }

  static void Load(const std::string& path, CRZDIB2& dib) {
    const std::vector<BYTE> bytes = FileBytes(path);
    ASSERT_TRUE(dib.CreateFromMemory(bytes.data(), bytes.size())) << path;
  }

  // The names in a directory of the test, hidden ones (temporaries) included, sorted.
  std::vector<std::string> Listing(const std::string& sub = "") const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(sub.empty() ? dir_ : Path(sub))) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
};

}  // namespace kt
