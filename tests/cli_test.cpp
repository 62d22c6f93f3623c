// The kolvex tool end to end: every subcommand's output against the library's
// own result on the same input, and the documented failures.

#include "bmp_builder.h"
#include "io_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifndef KOLVEX_TOOL
#error "KOLVEX_TOOL is the path of the kolvex executable"
#endif

namespace {

using ToolRun = kt::ProgramRun;

// The words of a command line written as a shell would read it: separated by
// spaces, with '...' quoting (paths may hold spaces).
std::vector<std::string> Words(const std::string& line) {
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

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::mt19937_64 rng{std::random_device{}()};
    const auto dir = std::filesystem::temp_directory_path() / ("kolvex-cli-" + std::to_string(rng()));
    ASSERT_TRUE(std::filesystem::create_directory(dir));
    dir_ = dir.string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  static ToolRun Kolvex(const std::string& args) { return kt::RunProgram(KOLVEX_TOOL, Words(args)); }

  // A random bitmap file; returns its path.
  std::string MakeInput(const std::string& name, WORD bits, int w, int h, std::uint32_t seed) const {
    CRZDIB2 dib;
    EXPECT_TRUE(kt::CreateRandom(dib, bits, w, h, 1, seed));
    Save(dib, Path(name));
    return Path(name);
  }

  static void Save(CRZDIB2& dib, const std::string& path) {
    const std::vector<BYTE> bytes = kt::SaveToMemory(dib);
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

  // The names in the test directory, hidden ones (temporaries) included, sorted.
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
};

// What the library makes of `input` for each subcommand, to compare the tool with.
using LibraryOp = bool (*)(CRZDIB2& in, CRZDIB2& out);

struct Case {
  const char* args;  // subcommand and its own arguments
  WORD bits;
  LibraryOp op;
};

TEST_F(Tool, EverySubcommandMatchesTheLibrary) {
  const Case cases[] = {
      {"quarter", 24, [](CRZDIB2& in, CRZDIB2& out) { return out.CreateQuarter(in); }},
      {"quarter --field", 32,
       [](CRZDIB2& in, CRZDIB2& out) {
         in.SetInterlacedFlag(0);
         return out.CreateQuarter(in);
       }},
      {"eighth", 32, [](CRZDIB2& in, CRZDIB2& out) { return out.CreateEighth(in); }},
      {"scale 50x7", 24, [](CRZDIB2& in, CRZDIB2& out) { return out.CreateScaled(in, 50, 7); }},
      {"scale 20x30 --field", 24,
       [](CRZDIB2& in, CRZDIB2& out) {
         in.SetInterlacedFlag(0);
         return out.CreateScaled(in, 20, 30, 1);
       }},
      {"mirror", 32,
       [](CRZDIB2& in, CRZDIB2& out) { return out.Create(in) && out.Mirror(1, 0, in); }},
      {"mirror --vertical", 24,
       [](CRZDIB2& in, CRZDIB2& out) { return out.Create(in) && out.Mirror(0, 1, in); }},
      {"mirror --horizontal --vertical", 24,
       [](CRZDIB2& in, CRZDIB2& out) { return out.Create(in) && out.Mirror(1, 1, in); }},
      {"field --odd --interpolate", 24,
       [](CRZDIB2& in, CRZDIB2& out) { return out.CreateInterpolatedFrame(in, 1, 1); }},
      {"field --even", 8,
       [](CRZDIB2& in, CRZDIB2& out) { return out.CreateInterpolatedFrame(in, 0, 0); }},
      {"brightness 100", 32,
       [](CRZDIB2& in, CRZDIB2& out) {
         out = in;
         return out.AdjustBrightness(100);
       }},
      {"median", 24,
       [](CRZDIB2& in, CRZDIB2& out) { return out.Create(in) && out.Median3x3(in); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const std::string input = MakeInput("in.bmp", c.bits, 37, 23, 7);
    const ToolRun r = Kolvex(std::string(c.args) + " '" + input + "' '" + Path("out.bmp") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    CRZDIB2 in, expected;
    Load(input, in);
    ASSERT_TRUE(c.op(in, expected));
    EXPECT_EQ(FileBytes(Path("out.bmp")), kt::SaveToMemory(expected));
  }
}

TEST_F(Tool, WeaveTakesEachFieldFromItsFile) {
  const std::string even = MakeInput("even.bmp", 24, 9, 6, 1);
  const std::string odd = MakeInput("odd.bmp", 24, 9, 6, 2);
  const ToolRun r = Kolvex("weave '" + even + "' '" + odd + "' '" + Path("frame.bmp") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  CRZDIB2 e, o, expected;
  Load(even, e);
  Load(odd, o);
  ASSERT_TRUE(expected.Create(e) && expected.CopyField(e, 0) && expected.CopyField(o, 1));
  EXPECT_EQ(FileBytes(Path("frame.bmp")), kt::SaveToMemory(expected));
}

TEST_F(Tool, CaptureTakesTheVirtualScreenFromAFile) {
  const std::string screen = MakeInput("screen.bmp", 24, 30, 20, 4);
  const ToolRun r = Kolvex("capture --rect 5,3,21,13 --screen '" + screen + "' '" + Path("grab.bmp") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  CRZDIB2 painted, grabbed;
  Load(screen, painted);
  Load(Path("grab.bmp"), grabbed);
  ASSERT_EQ(grabbed.DIBWidth(), 16);
  ASSERT_EQ(grabbed.DIBHeight(), 10);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 16; ++x) ASSERT_EQ(kt::Shown(grabbed, x, y), kt::Shown(painted, x + 5, y + 3));
  }
}

TEST_F(Tool, BadInputsFailCleanly) {
  struct Bad {
    std::string args;
    int status;
    std::string message;
  };
  const std::string good = MakeInput("good.bmp", 24, 8, 8, 5);
  const std::string taller = MakeInput("taller.bmp", 24, 8, 9, 3);
  const std::string grey = MakeInput("grey.bmp", 8, 8, 8, 6);
  std::ofstream(Path("short.bmp"), std::ios::binary) << "BM12";
  const std::string out = Path("out.bmp");
  const Bad cases[] = {
      {"weave '" + good + "' '" + taller + "' '" + out + "'", 1, taller + ": size differs"},
      {"quarter '" + grey + "' '" + out + "'", 1,
       grey + ": quarter needs 24 or 32 bits per pixel (this file has 8)\n"},
      {"quarter '" + Path("missing.bmp") + "' '" + out + "'", 1,
       Path("missing.bmp") + ": cannot open (No such file or directory)\n"},
      {"quarter '" + Path("short.bmp") + "' '" + out + "'", 1,
       Path("short.bmp") + ": not a bitmap file (too short)\n"},
      {"quarter '" + Path(".") + "' '" + out + "'", 1, Path(".") + ": not a regular file\n"},
      {"scale 12x '" + good + "' '" + out + "'", 2, "kolvex scale: bad size '12x' (expected WIDTHxHEIGHT)\n"},
      {"scale 0x5 '" + good + "' '" + out + "'", 2, "kolvex scale: bad size '0x5'"},
      {"brightness bright '" + good + "' '" + out + "'", 2, "kolvex brightness: 'bright' is not a whole number\n"},
      {"field '" + good + "' '" + out + "'", 2, "kolvex field: give exactly one of --odd and --even\n"},
      {"quarter --sideways '" + good + "' '" + out + "'", 2, "kolvex quarter: unknown option --sideways\n"},
      {"quarter '" + good + "'", 2, "kolvex quarter: expected INPUT OUTPUT"},
      {"quarter '" + good + "' '" + good + "'", 1, good + ": refusing to overwrite the input\n"},
      {"nonsense", 2, "kolvex: unknown command 'nonsense'"},
      {"capture --rect 1,2,1,9 '" + out + "'", 2, "kolvex capture: --rect 1,2,1,9 is empty"},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun r = Kolvex(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err.substr(0, c.message.size()), c.message);
    EXPECT_FALSE(Exists(out));
  }
  // Nothing half-written or temporary is left beside the inputs.
  EXPECT_EQ(Listing(), (std::vector<std::string>{"good.bmp", "grey.bmp", "short.bmp", "taller.bmp"}));
}

TEST_F(Tool, BatchGoesOnPastABrokenFrame) {
  ASSERT_TRUE(std::filesystem::create_directory(Path("in")));
  ASSERT_TRUE(std::filesystem::create_directory(Path("out")));
  std::string inputs;
  for (int i = 0; i < 5; ++i) {
    const std::string name = "in/frame" + std::to_string(i) + ".bmp";
    if (i == 2) {
      std::ofstream(Path(name), std::ios::binary) << "broken";
    } else {
      MakeInput(name, 32, 20, 12, 10 + static_cast<std::uint32_t>(i));
    }
    inputs += " '" + Path(name) + "'";
  }
  const ToolRun r = Kolvex("mirror --vertical -o '" + Path("out") + "'" + inputs);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("frame2.bmp: not a bitmap file"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("5 frames, 1 failed"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('['), std::string::npos) << "no progress bar when not on a terminal";
  for (int i = 0; i < 5; ++i) {
    const std::string out = Path("out/frame" + std::to_string(i) + ".bmp");
    if (i == 2) {
      EXPECT_FALSE(Exists(out));
      continue;
    }
    CRZDIB2 in, got, expected;
    Load(Path("in/frame" + std::to_string(i) + ".bmp"), in);
    Load(out, got);
    ASSERT_TRUE(expected.Create(in) && expected.Mirror(0, 1, in));
    EXPECT_EQ(kt::Pixels(got), kt::Pixels(expected)) << i;
  }
  const ToolRun quiet = Kolvex("mirror --quiet -o '" + Path("out") + "' '" + Path("in/frame0.bmp") +
                           "' '" + Path("in/frame1.bmp") + "'");
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
}

TEST_F(Tool, HelpForEverySubcommandAndInfo) {
  const ToolRun overview = Kolvex("--help");
  EXPECT_EQ(overview.status, 0);
  for (const char* name : {"info", "quarter", "eighth", "scale", "mirror", "field", "weave",
                           "brightness", "median", "capture", "show", "demo"}) {
    EXPECT_NE(overview.out.find(std::string("  ") + name + " "), std::string::npos) << name;
    const ToolRun r = Kolvex(std::string(name) + " --help");
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_EQ(r.out.rfind(std::string("usage: kolvex ") + name, 0), 0u) << r.out;
  }
  EXPECT_EQ(Kolvex("").status, 2);
}

TEST_F(Tool, DemoWritesEveryStageAsAValidBitmap) {
  const ToolRun r = Kolvex("demo '" + Path("demo") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  const struct {
    const char* name;
    int width, height;
  } files[] = {{"01-testcard.bmp", 1920, 1080}, {"02-capture.bmp", 1920, 1080},
               {"03-quarter.bmp", 960, 540},    {"04-eighth.bmp", 480, 270},
               {"05-odd-field-interpolated.bmp", 1920, 1080}, {"06-median.bmp", 1920, 1080},
               {"07-brighter.bmp", 1920, 1080}, {"08-scaled.bmp", 1280, 720},
               {"09-screen.bmp", 1920, 1080}};
  for (const auto& f : files) {
    EXPECT_NE(r.out.find(Path("demo/") + f.name), std::string::npos) << f.name << " not reported";
    // An independent decoder reads every file completely.
    kt::DecodedBitmap decoded;
    ASSERT_TRUE(kt::DecodeIndependently(Path("demo/") + f.name, decoded)) << f.name;
    EXPECT_EQ(decoded.width, f.width) << f.name;
    EXPECT_EQ(decoded.height, f.height) << f.name;
  }
  // The capture of the painted card is the card, and the reductions are the
  // library's own of that capture.
  CRZDIB2 card, captured, quarter, expected;
  Load(Path("demo/01-testcard.bmp"), card);
  Load(Path("demo/02-capture.bmp"), captured);
  Load(Path("demo/03-quarter.bmp"), quarter);
  EXPECT_EQ(kt::Pixels(card), kt::Pixels(captured));
  ASSERT_TRUE(expected.CreateQuarter(captured));
  EXPECT_EQ(kt::Pixels(quarter), kt::Pixels(expected));
}

// info on files ImageMagick and PIL wrote (tests/data/bitmaps): each one's
// own format as the programs were asked to write it, and what it loads as.
TEST_F(Tool, InfoTellsEachFilesOwnFormatAndWhatItLoadsAs) {
  const std::string dir = KOLVEX_SOURCE_DIR "/tests/data/bitmaps/";
  const std::vector<std::pair<std::string, std::vector<std::string>>> files = {
      {"im-core-4.bmp", {"\"header\": \"BITMAPCOREHEADER\", \"headerBytes\": 12, \"bitCount\": 4, \"compression\": \"BI_RGB\", \"masks\": null, \"paletteEntries\": 16",
                         "\"loadsAs\": {\"bitCount\": 24, \"alpha\": false, \"imageBytes\": 280}"}},
      {"im-rle8.bmp", {"\"header\": \"BITMAPINFOHEADER\", \"headerBytes\": 40, \"bitCount\": 8, \"compression\": \"BI_RLE8\"", "\"bitCount\": 24"}},
      {"im-rle8-v5.bmp", {"\"header\": \"BITMAPV5HEADER\", \"headerBytes\": 124, \"bitCount\": 8, \"compression\": \"BI_RLE8\""}},
      {"im-565.bmp", {"\"bitCount\": 16, \"compression\": \"BI_BITFIELDS\", \"masks\": {\"red\": 63488, \"green\": 2016, \"blue\": 31, \"alpha\": 0}"}},
      {"im-1555.bmp", {"\"alpha\": 32768}", "\"loadsAs\": {\"bitCount\": 32, \"alpha\": true"}},
      {"im-8888.bmp", {"\"bitCount\": 32, \"compression\": \"BI_BITFIELDS\"", "\"loadsAs\": {\"bitCount\": 32, \"alpha\": true"}},
      {"im-1.bmp", {"\"bitCount\": 1, \"compression\": \"BI_RGB\", \"masks\": null, \"paletteEntries\": 2"}},
      {"pil-grey.bmp", {"\"rowOrder\": \"bottom-up\", \"fileBytes\": 1190", "\"loadsAs\": {\"bitCount\": 8"}},
      {"missing.bmp", {"\"error\": \"cannot open (No such file or directory)\"}"}},
  };
  std::string args = "info --json";
  for (const auto& [name, fields] : files) args += " '" + dir + name + "'";
  const ToolRun r = Kolvex(args);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, dir + "missing.bmp: cannot open (No such file or directory)\n");
  std::istringstream lines(r.out);
  std::string line;
  ASSERT_TRUE(std::getline(lines, line) && line == "[");
  for (const auto& [name, fields] : files) {
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line.find("  {\"file\": \"" + dir + name + "\", "), 0u) << line;
    for (const std::string& field : fields) EXPECT_NE(line.find(field), std::string::npos) << field << " in " << line;
  }
  EXPECT_TRUE(std::getline(lines, line) && line == "]");

  const ToolRun text = Kolvex("info '" + dir + "im-4444.bmp'");
  EXPECT_EQ(text.status, 0);
  EXPECT_EQ(text.out, dir + "im-4444.bmp: 13 x 7, bottom-up rows, 334 bytes\n"
                            "  header:      BITMAPV5HEADER (124 bytes)\n"
                            "  depth:       16 bits per pixel\n"
                            "  compression: BI_BITFIELDS\n"
                            "  bit fields:  red 0x0F00, green 0x00F0, blue 0x000F, alpha 0xF000\n"
                            "  palette:     none\n"
                            "  pixels at:   byte 138\n"
                            "  loads as:    32 bits per pixel (with alpha), 364 bytes of pixels\n");
}

// A 2 GB file whose headers promise a 24-bit image of that size, described
// by a tool that may map 256 MB in all.
TEST_F(Tool, InfoReadsHeadersOnly) {
  const auto limited = [](std::vector<std::string> args) {
    args.insert(args.begin(), {"--as=268435456", KOLVEX_TOOL});
    return kt::RunProgram("/usr/bin/prlimit", args);
  };
  if (limited({"--help"}).status != 0) {
    GTEST_SKIP() << "the tool cannot run under an address-space limit here (no prlimit, or a sanitizer build)";
  }
  const std::string big = Path("big.bmp");
  const std::vector<std::uint8_t> head = kt::MakeBmp(kt::BmpFields{.width = 16384, .height = 40000, .pixels = {0}});
  std::ofstream(big, std::ios::binary).write(reinterpret_cast<const char*>(head.data()), 54);
  std::filesystem::resize_file(big, 54 + 49152ull * 40000);  // sparse: no disk blocks
  const ToolRun r = limited({"info", big});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("loads as:    24 bits per pixel (colours), 1966080000 bytes of pixels"), std::string::npos) << r.out;
}

}  // namespace
