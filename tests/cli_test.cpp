// The kolvex tool end to end: every subcommand's output against the library's
// own result on the same input, for every depth a file loads as, and the
// documented failures.

#include "cli_support.h"

namespace {

using kt::Exists;
using kt::ToolRun;
using Tool = kt::ToolTest;

// The library's own result for a subcommand on a loaded input.
using LibraryOp = bool (*)(CRZDIB2& in, CRZDIB2& out);

TEST_F(Tool, EveryDepthThroughEverySubcommandMatchesTheLibrary) {
  const struct {
    const char* args;  // subcommand and its own arguments
    bool colourOnly;   // the library takes 24 and 32 bits only
    LibraryOp op;
  } cases[] = {
      {"quarter", true, [](CRZDIB2& in, CRZDIB2& out) { return out.CreateQuarter(in); }},
      {"quarter --field", true, [](CRZDIB2& in, CRZDIB2& out) { return in.SetInterlacedFlag(0), out.CreateQuarter(in); }},
      {"eighth", true, [](CRZDIB2& in, CRZDIB2& out) { return out.CreateEighth(in); }},
      // Height 22 is even: the even field is the library's own.
      {"eighth --field=even", true, [](CRZDIB2& in, CRZDIB2& out) { return in.SetInterlacedFlag(0), out.CreateEighth(in); }},
      {"scale 50x7", true, [](CRZDIB2& in, CRZDIB2& out) { return out.CreateScaled(in, 50, 7); }},
      {"scale 20x30 --field", true,
       [](CRZDIB2& in, CRZDIB2& out) { return in.SetInterlacedFlag(0), out.CreateScaled(in, 20, 30, 1); }},
      {"mirror", true, [](CRZDIB2& in, CRZDIB2& out) { return out.Create(in) && out.Mirror(1, 0, in); }},
      {"mirror --horizontal --vertical", true, [](CRZDIB2& in, CRZDIB2& out) { return out.Create(in) && out.Mirror(1, 1, in); }},
      {"field --odd --interpolate", false, [](CRZDIB2& in, CRZDIB2& out) { return out.CreateInterpolatedFrame(in, 1, 1); }},
      {"field --even", false, [](CRZDIB2& in, CRZDIB2& out) { return out.CreateInterpolatedFrame(in, 0, 0); }},
      {"brightness 100", true, [](CRZDIB2& in, CRZDIB2& out) { return (out = in).AdjustBrightness(100); }},
      {"median", false, [](CRZDIB2& in, CRZDIB2& out) { return out.Create(in) && out.Median3x3(in); }},
  };
  // Files as other programs write them, each loading at its own depth.
  const int w = 37, h = 22;
  const std::pair<const char*, kt::BmpFields> inputs[] = {
      {"grey8", {w, h, 8, 0, 40, 0, {}, kt::MakePalette(256, true)}},
      {"palette8", {w, h, 8, 0, 40, 0, {}, kt::MakePalette(256, false)}},
      {"palette4", {w, h, 4, 0, 40, 0, {}, kt::MakePalette(16, false)}},
      {"palette1", {w, h, 1, 0, 40, 0, {}, kt::MakePalette(2, false)}},
      {"rgb565", {w, -h, 16, 3, 40, 0, {0xF800, 0x07E0, 0x001F}}},
      {"bgr24", {w, h, 24}},
      {"bgrx32", {w, h, 32}},
  };
  const std::string out = Path("out.bmp");
  for (const auto& [name, fields] : inputs) {
    const std::string path = Path(std::string(name) + ".bmp");
    WriteFile(path, kt::MakeBmp(fields));
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(name) + ": " + c.args);
      const ToolRun r = Kolvex(c.args, {path, out});
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      CRZDIB2 in, colour, result, expected, got;
      Load(path, in);
      if (c.colourOnly && in.DIBBitCount() == 8) {
        kt::ConvertGrey(in, colour);
        ASSERT_TRUE(c.op(colour, result));
        kt::ConvertGrey(result, expected);
      } else {
        ASSERT_TRUE(c.op(in, expected));
      }
      Load(out, got);
      EXPECT_EQ(got.DIBBitCount(), expected.DIBBitCount());
      EXPECT_EQ(got.DIBWidth(), expected.DIBWidth());
      EXPECT_EQ(got.DIBHeight(), expected.DIBHeight());
      EXPECT_EQ(kt::RowBytes(got), kt::RowBytes(expected));
      // Without an alpha mask in the input, 32 bits come out in the library's form.
      if (got.DIBBitCount() == 32) {
        EXPECT_EQ(FileBytes(out), kt::SaveToMemory(expected));
      }
    }
  }
}

// Stored rows count from the bottom: the even picture field (top row
// included) is stored field 1 for an even height and field 0 for an odd one.
// Expected: plain loops over the stored field's rows, the mean of two pixels
// rounded half up (quarter), the pixel under each centre (scale).
TEST_F(Tool, FieldChoiceNamesPictureRowsFromTheTop) {
  const struct {
    int height;
    const char* field;
    int stored;
  } cases[] = {{10, "--field", 1},      {11, "--field", 1},     {10, "--field=even", 1},
               {11, "--field=even", 0}, {10, "--field=odd", 0}, {11, "--field=odd", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.height) + " " + c.field);
    const std::string input = MakeInput("in.bmp", 24, 9, c.height, 3);
    CRZDIB2 in, got;
    Load(input, in);
    const auto pixel = [&](int x, int y) { return in.GetBytes() + y * in.DIBBytesPerLine() + 3 * x; };
    const ToolRun r = Kolvex(std::string("quarter ") + c.field, {input, Path("out.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<BYTE> expected;
    for (int y = 0; y < c.height / 2; ++y) {
      for (int x = 0; x < 4 * 3; ++x) expected.push_back((pixel(x / 3 * 2, 2 * y + c.stored)[x % 3] + pixel(x / 3 * 2 + 1, 2 * y + c.stored)[x % 3] + 1) / 2);
    }
    Load(Path("out.bmp"), got);
    EXPECT_EQ(kt::RowBytes(got), expected);
    if (c.stored != 0) continue;
    ASSERT_EQ(Kolvex(std::string("scale 7x13 ") + c.field, {input, Path("out.bmp")}).status, 0);
    expected.clear();
    for (int y = 0; y < 13; ++y) {
      for (int x = 0; x < 7; ++x) {
        const BYTE* p = pixel((2 * x + 1) * 9 / 14, (2 * y + 1) * c.height / 26 & ~1);
        expected.insert(expected.end(), p, p + 3);
      }
    }
    Load(Path("out.bmp"), got);
    EXPECT_EQ(kt::RowBytes(got), expected);
  }
}

TEST_F(Tool, BrightnessLevelsAreClampedWithAWarning) {
  const std::string input = MakeInput("in.bmp", 24, 6, 4, 2);
  const std::pair<const char*, int> levels[] = {{"-2147483648", 0}, {"2147483647", 255}, {"1000000", 255}, {"255", 255}};
  for (const auto& [level, used] : levels) {
    SCOPED_TRACE(level);
    const ToolRun r = Kolvex(std::string("brightness ") + level, {input, Path("out.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, used == std::stoi(level) ? ""
                     : std::string("kolvex brightness: level ") + level + " is outside 0 to 255; using " + std::to_string(used) + "\n");
    CRZDIB2 expected, got;
    Load(input, expected);
    ASSERT_TRUE(expected.AdjustBrightness(used));
    Load(Path("out.bmp"), got);
    EXPECT_EQ(kt::RowBytes(got), kt::RowBytes(expected));
  }
}

TEST_F(Tool, OutputDirectoryIsCreatedButNotItsParents) {
  const std::string input = MakeInput("in.bmp", 24, 6, 4, 2);
  std::ofstream(Path("file")) << "x";
  const std::pair<std::string, std::string> cases[] = {
      {Path("new"), ""},
      {Path("new"), ""},  // exists now
      {Path("missing/sub"), Path("missing/sub") + ": cannot create the directory: " + Path("missing") + " does not exist\n"},
      {Path("file"), Path("file") + ": not a directory\n"}};
  for (const auto& [dir, err] : cases) {
    const ToolRun r = Kolvex("mirror -o", {dir, input});
    EXPECT_EQ(r.status, err.empty() ? 0 : 1) << dir;
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(Exists(dir + "/in.bmp"), err.empty());
  }
  EXPECT_FALSE(Exists(Path("missing")));
}

TEST_F(Tool, InputsOfTheRunAreNeverOverwritten) {
  ASSERT_TRUE(std::filesystem::create_directory(Path("a")) && std::filesystem::create_directory(Path("d")));
  const std::string other = MakeInput("a/x.bmp", 24, 8, 6, 1);
  const std::string input = MakeInput("d/x.bmp", 24, 8, 6, 2);
  const std::string screen = MakeInput("screen.bmp", 24, 32, 16, 3);
  const std::vector<BYTE> original = FileBytes(input), screenBytes = FileBytes(screen);
  const std::string own = input + ": refusing to overwrite the input\n";
  const std::string ofRun = input + ": refusing to overwrite an input of this run\n";
  const struct {
    std::string args;
    std::vector<std::string> paths;
    std::string err;
  } cases[] = {
      // The first job's output is the second job's input, and the other way round.
      {"mirror -o", {Path("d"), other, input}, ofRun + own + "2 frames, 2 failed\n"},
      {"mirror -o", {Path("d"), input, other}, own + ofRun + "2 frames, 2 failed\n"},
      {"quarter", {input, input}, own},
      {"weave", {other, input, input}, own},
      {"capture --rect 0,0,8,8 --screen", {screen, screen}, screen + ": refusing to overwrite the screen file it captures from\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun r = Kolvex(c.args, c.paths);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(FileBytes(input), original);
    EXPECT_EQ(FileBytes(screen), screenBytes);
  }
}

TEST_F(Tool, WeaveTakesEachFieldFromItsFileAndCaptureTheVirtualScreen) {
  const std::string even = MakeInput("even.bmp", 24, 9, 6, 1);
  const std::string odd = MakeInput("odd.bmp", 24, 9, 6, 2);
  ToolRun r = Kolvex("weave", {even, odd, Path("frame.bmp")});
  ASSERT_EQ(r.status, 0) << r.err;
  CRZDIB2 e, o, expected;
  Load(even, e);
  Load(odd, o);
  ASSERT_TRUE(expected.Create(e) && expected.CopyField(e, 0) && expected.CopyField(o, 1));
  EXPECT_EQ(FileBytes(Path("frame.bmp")), kt::SaveToMemory(expected));

  const std::string screen = MakeInput("screen.bmp", 24, 30, 20, 4);
  r = Kolvex("capture --rect 5,3,21,13 --screen", {screen, Path("grab.bmp")});
  ASSERT_EQ(r.status, 0) << r.err;
  CRZDIB2 painted, grabbed;
  Load(screen, painted);
  Load(Path("grab.bmp"), grabbed);
  ASSERT_TRUE(grabbed.DIBWidth() == 16 && grabbed.DIBHeight() == 10);
  for (int i = 0; i < 160; ++i) ASSERT_EQ(kt::Shown(grabbed, i % 16, i / 16), kt::Shown(painted, i % 16 + 5, i / 16 + 3)) << i;
}

TEST_F(Tool, BadInputsFailCleanly) {
  const std::string good = MakeInput("good.bmp", 24, 8, 8, 5);
  const std::string taller = MakeInput("taller.bmp", 24, 8, 9, 3);
  const std::string thin = MakeInput("thin.bmp", 24, 1, 10, 3);
  std::ofstream(Path("short.bmp"), std::ios::binary) << "BM12";
  const std::string out = Path("out.bmp"), missing = Path("missing.bmp");
  const std::string empty = " pixels, which no bitmap file can hold; nothing written\n";
  const struct {
    std::string args;
    std::vector<std::string> paths;
    int status;
    std::string message;  // the start of the error output
  } cases[] = {
      {"quarter", {thin, out}, 1, out + ": the result is 0 x 5" + empty},
      {"eighth --field", {thin, out}, 1, out + ": the result is 0 x 2" + empty},
      {"weave", {good, taller, out}, 1, taller + ": size differs"},
      {"quarter", {missing, out}, 1, missing + ": cannot open (No such file or directory)\n"},
      {"quarter", {Path("short.bmp"), out}, 1, Path("short.bmp") + ": not a bitmap file (too short)\n"},
      {"scale 12x", {good, out}, 2, "kolvex scale: bad size '12x' (expected WIDTHxHEIGHT)\n"},
      {"scale -5x10", {good, out}, 2, "kolvex scale: bad size '-5x10' (width and height must be at least 1)\n"},
      {"brightness bright", {good, out}, 2, "kolvex brightness: 'bright' is not a whole number\n"},
      {"field", {good, out}, 2, "kolvex field: give exactly one of --odd and --even\n"},
      {"quarter --sideways", {good, out}, 2, "kolvex quarter: unknown option --sideways\n"},
      {"quarter", {good}, 2, "kolvex quarter: expected INPUT OUTPUT"},
      {"nonsense", {}, 2, "kolvex: unknown command 'nonsense'"},
      {"capture --rect 1,2,1,9", {out}, 2, "kolvex capture: --rect 1,2,1,9 is empty"},
      {"mirror --jobs 0", {good, out}, 2, "kolvex mirror: --jobs 0: expected a count"},
      {"pipe --size 8x8 quarter", {}, 2, "kolvex pipe: raw frames need both --size and --format\n"},
      {"pipe --size 8x8 --format rgb quarter", {}, 2, "kolvex pipe: --format rgb: expected bgr24, bgra or gray\n"},
      {"pipe --jobs 2 turn quarter", {}, 2, "kolvex pipe: unknown operation 'turn'\n"},
      {"pipe quarter 7", {}, 2, "kolvex pipe: quarter: unexpected '7'\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun r = Kolvex(c.args, c.paths);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err.substr(0, c.message.size()), c.message);
    EXPECT_FALSE(Exists(out));
  }
  EXPECT_EQ(Kolvex("").status, 2);
  // Nothing half-written or temporary is left beside the inputs.
  EXPECT_EQ(Listing(), (std::vector<std::string>{"good.bmp", "short.bmp", "taller.bmp", "thin.bmp"}));
}

TEST_F(Tool, HelpForEverySubcommand) {
  const ToolRun overview = Kolvex("--help");
  EXPECT_EQ(overview.status, 0);
  for (const std::string name : {"info", "quarter", "eighth", "scale", "mirror", "field", "weave",
                                 "brightness", "median", "pipe", "capture", "show", "demo"}) {
    EXPECT_NE(overview.out.find("  " + name + " "), std::string::npos) << name;
    const ToolRun r = Kolvex(name + " --help");
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_EQ(r.out.rfind("usage: kolvex " + name, 0), 0u) << r.out;
  }
}

TEST_F(Tool, DemoWritesEveryStageAsAValidBitmap) {
  const ToolRun r = Kolvex("demo", {Path("demo")});
  ASSERT_EQ(r.status, 0) << r.err;
  const char* names[] = {"01-testcard", "02-capture", "03-quarter", "04-eighth", "05-odd-field-interpolated",
                         "06-median", "07-brighter", "08-scaled", "09-screen"};
  const int widths[] = {1920, 1920, 960, 480, 1920, 1920, 1920, 1280, 1920};
  for (int i = 0; i < 9; ++i) {
    const std::string path = Path("demo/") + names[i] + ".bmp";
    EXPECT_NE(r.out.find(path), std::string::npos) << path << " not reported";
    kt::DecodedBitmap decoded;  // an independent decoder reads every file completely
    ASSERT_TRUE(kt::DecodeIndependently(path, decoded)) << path;
    EXPECT_EQ(decoded.width, widths[i]) << path;
    EXPECT_EQ(decoded.height, widths[i] * 9 / 16) << path;
  }
  // The capture of the painted card is the card, and the quarter is the
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
      {"im-rle8.bmp", {"\"header\": \"BITMAPINFOHEADER\", \"headerBytes\": 40, \"bitCount\": 8, \"compression\": \"BI_RLE8\""}},
      {"im-rle8-v5.bmp", {"\"header\": \"BITMAPV5HEADER\", \"headerBytes\": 124, \"bitCount\": 8, \"compression\": \"BI_RLE8\"", "\"bitCount\": 24"}},
      {"im-565.bmp", {"\"bitCount\": 16, \"compression\": \"BI_BITFIELDS\", \"masks\": {\"red\": 63488, \"green\": 2016, \"blue\": 31, \"alpha\": 0}"}},
      {"im-1555.bmp", {"\"alpha\": 32768}", "\"loadsAs\": {\"bitCount\": 32, \"alpha\": true"}},
      {"pil-grey.bmp", {"\"rowOrder\": \"bottom-up\", \"fileBytes\": 1190", "\"loadsAs\": {\"bitCount\": 8"}},
      {"missing.bmp", {"\"error\": \"cannot open (No such file or directory)\"}"}},
  };
  std::vector<std::string> paths;
  for (const auto& file : files) paths.push_back(dir + file.first);
  const ToolRun r = Kolvex("info --json", paths);
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

  const ToolRun text = Kolvex("info", {dir + "im-4444.bmp"});
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
