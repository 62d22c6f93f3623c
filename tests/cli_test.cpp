// The kolvex tool end to end: every subcommand's output against the library's
// own result on the same input, for every depth a file loads as, and the
// documented failures.

#include "cli_support.h"

namespace {

using kt::Quoted;
using kt::ToolRun;
using Tool = kt::ToolTest;
using kt::Exists;
using kt::Narrow;
using kt::Widen;

// The library's own result for a subcommand on a loaded input.
using LibraryOp = bool (*)(CRZDIB2& in, CRZDIB2& out);

struct Case {
  const char* args;  // subcommand and its own arguments
  bool colourOnly;   // the library takes 24 and 32 bits only
  LibraryOp op;
};

// Files as other programs write them, each loading at its own depth.
struct Input {
  const char* name;
  kt::BmpFields fields;
};

TEST_F(Tool, EveryDepthThroughEverySubcommandMatchesTheLibrary) {
  const Case cases[] = {
      {"quarter", true, [](CRZDIB2& in, CRZDIB2& out) { return out.CreateQuarter(in); }},
      {"quarter --field", true,
       [](CRZDIB2& in, CRZDIB2& out) {
         in.SetInterlacedFlag(0);
         return out.CreateQuarter(in);
       }},
      {"eighth", true, [](CRZDIB2& in, CRZDIB2& out) { return out.CreateEighth(in); }},
      {"eighth --field=even", true,  // height 22 is even: the library's field
       [](CRZDIB2& in, CRZDIB2& out) {
         in.SetInterlacedFlag(0);
         return out.CreateEighth(in);
       }},
      {"scale 50x7", true, [](CRZDIB2& in, CRZDIB2& out) { return out.CreateScaled(in, 50, 7); }},
      {"scale 20x30 --field", true,
       [](CRZDIB2& in, CRZDIB2& out) {
         in.SetInterlacedFlag(0);
         return out.CreateScaled(in, 20, 30, 1);
       }},
      {"mirror", true, [](CRZDIB2& in, CRZDIB2& out) { return out.Create(in) && out.Mirror(1, 0, in); }},
      {"mirror --horizontal --vertical", true,
       [](CRZDIB2& in, CRZDIB2& out) { return out.Create(in) && out.Mirror(1, 1, in); }},
      {"field --odd --interpolate", false,
       [](CRZDIB2& in, CRZDIB2& out) { return out.CreateInterpolatedFrame(in, 1, 1); }},
      {"field --even", false,
       [](CRZDIB2& in, CRZDIB2& out) { return out.CreateInterpolatedFrame(in, 0, 0); }},
      {"brightness 100", true,
       [](CRZDIB2& in, CRZDIB2& out) {
         out = in;
         return out.AdjustBrightness(100);
       }},
      {"median", false, [](CRZDIB2& in, CRZDIB2& out) { return out.Create(in) && out.Median3x3(in); }},
  };
  const int w = 37;
  const int h = 22;
  const Input inputs[] = {
      {"grey8", {w, h, 8, 0, 40, 0, {}, kt::MakePalette(256, true)}},
      {"palette8", {w, h, 8, 0, 40, 0, {}, kt::MakePalette(256, false)}},
      {"palette4", {w, h, 4, 0, 40, 0, {}, kt::MakePalette(16, false)}},
      {"palette1", {w, h, 1, 0, 40, 0, {}, kt::MakePalette(2, false)}},
      {"rgb565", {w, -h, 16, 3, 40, 0, {0xF800, 0x07E0, 0x001F}}},
      {"bgr24", {w, h, 24}},
      {"bgrx32", {w, h, 32}},
  };
  for (const Input& input : inputs) {
    const std::string path = Path(std::string(input.name) + ".bmp");
    WriteFile(path, kt::MakeBmp(input.fields));
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(input.name) + ": " + c.args);
      const ToolRun r = Kolvex(std::string(c.args) + " " + Quoted(path) + " " + Quoted(Path("out.bmp")));
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");

      CRZDIB2 in, out, expected, got;
      Load(path, in);
      if (c.colourOnly && in.DIBBitCount() == 8) {
        CRZDIB2 colour;
        Widen(in, colour);
        ASSERT_TRUE(c.op(colour, out));
        Narrow(out, expected);
      } else {
        ASSERT_TRUE(c.op(in, expected));
      }
      Load(Path("out.bmp"), got);
      EXPECT_EQ(got.DIBBitCount(), expected.DIBBitCount());
      EXPECT_EQ(got.DIBWidth(), expected.DIBWidth());
      EXPECT_EQ(got.DIBHeight(), expected.DIBHeight());
      EXPECT_EQ(kt::RowBytes(got), kt::RowBytes(expected));
      // Without an alpha mask in the input, 32 bits come out in the library's form.
      if (got.DIBBitCount() == 32) {
        EXPECT_EQ(FileBytes(Path("out.bmp")), kt::SaveToMemory(expected));
      }
    }
  }
}

// A plain loop over stored rows: the mean of the two pixels of field row
// 2y + field for each output pixel, rounded half up.
std::vector<BYTE> QuarterOfStoredField(const CRZDIB2& in, int field) {
  std::vector<BYTE> out;
  for (int y = 0; y < in.DIBHeight() / 2; ++y) {
    const BYTE* row = in.GetBytes() + (2 * y + field) * in.DIBBytesPerLine();
    for (int x = 0; x < in.DIBWidth() / 2 * 3; ++x) {
      out.push_back(static_cast<BYTE>((row[x + x / 3 * 3] + row[x + x / 3 * 3 + 3] + 1) / 2));
    }
  }
  return out;
}

// Nearest-neighbour scaling from stored field 0 by a plain loop: the source
// pixel under each centre, its row moved down to the field.
std::vector<BYTE> ScaleFromStoredField0(const CRZDIB2& in, int w, int h) {
  std::vector<BYTE> out;
  for (int y = 0; y < h; ++y) {
    const int row = (2 * y + 1) * in.DIBHeight() / (2 * h) & ~1;
    for (int x = 0; x < w; ++x) {
      const int column = (2 * x + 1) * in.DIBWidth() / (2 * w);
      const BYTE* p = in.GetBytes() + row * in.DIBBytesPerLine() + 3 * column;
      out.insert(out.end(), p, p + 3);
    }
  }
  return out;
}

TEST_F(Tool, FieldChoiceNamesPictureRowsFromTheTop) {
  // Stored rows count from the bottom: the even picture field (top row
  // included) is stored field 1 for an even height and field 0 for an odd one.
  const struct {
    int height;
    const char* field;
    int stored;
  } cases[] = {{10, "--field", 1},      {11, "--field", 1},     {10, "--field=even", 1},
               {11, "--field=even", 0}, {10, "--field=odd", 0}, {11, "--field=odd", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.height) + " " + c.field);
    const std::string input = MakeInput("in.bmp", 24, 9, c.height, 3);
    const ToolRun r = Kolvex(std::string("quarter ") + c.field + " " + Quoted(input) + " " +
                             Quoted(Path("out.bmp")));
    ASSERT_EQ(r.status, 0) << r.err;
    CRZDIB2 in, got;
    Load(input, in);
    Load(Path("out.bmp"), got);
    EXPECT_EQ(kt::RowBytes(got), QuarterOfStoredField(in, c.stored));
    if (c.stored != 0) continue;
    ASSERT_EQ(Kolvex(std::string("scale 7x13 ") + c.field + " " + Quoted(input) + " " +
                     Quoted(Path("out.bmp")))
                  .status,
              0);
    Load(Path("out.bmp"), got);
    EXPECT_EQ(kt::RowBytes(got), ScaleFromStoredField0(in, 7, 13));
  }
}

TEST_F(Tool, NumbersAreValuesAndLevelsAreClamped) {
  const std::string input = MakeInput("in.bmp", 24, 6, 4, 2);
  const struct {
    const char* level;
    int used;
    bool warned;
  } levels[] = {{"-1", 0, true}, {"-2147483648", 0, true}, {"2147483647", 255, true},
                {"1000000", 255, true}, {"0", 0, false}, {"255", 255, false}};
  for (const auto& c : levels) {
    SCOPED_TRACE(c.level);
    const ToolRun r = Kolvex(std::string("brightness ") + c.level + " " + Quoted(input) + " " +
                             Quoted(Path("out.bmp")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, c.warned ? std::string("kolvex brightness: level ") + c.level +
                                    " is outside 0 to 255; using " + std::to_string(c.used) + "\n"
                              : "");
    CRZDIB2 expected, got;
    Load(input, expected);
    ASSERT_TRUE(expected.AdjustBrightness(c.used));
    Load(Path("out.bmp"), got);
    EXPECT_EQ(kt::RowBytes(got), kt::RowBytes(expected));
  }
}

TEST_F(Tool, OutputDirectoryIsCreatedButNotItsParents) {
  const std::string input = MakeInput("in.bmp", 24, 6, 4, 2);
  std::ofstream(Path("file")) << "x";
  const struct {
    std::string dir;
    int status;
    std::string err;
  } cases[] = {{Path("new"), 0, ""},
               {Path("new"), 0, ""},  // exists now
               {Path("missing/sub"), 1,
                Path("missing/sub") + ": cannot create the directory: " + Path("missing") +
                    " does not exist\n"},
               {Path("file"), 1, Path("file") + ": not a directory\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dir);
    const ToolRun r = Kolvex("mirror -o " + Quoted(c.dir) + " " + Quoted(input));
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(Exists(c.dir + "/in.bmp"), c.status == 0);
  }
  EXPECT_FALSE(Exists(Path("missing")));
}

TEST_F(Tool, InputsOfTheRunAreNeverOverwritten) {
  ASSERT_TRUE(std::filesystem::create_directory(Path("a")));
  ASSERT_TRUE(std::filesystem::create_directory(Path("d")));
  const std::string other = MakeInput("a/x.bmp", 24, 8, 6, 1);
  const std::string input = MakeInput("d/x.bmp", 24, 8, 6, 2);
  const std::vector<BYTE> original = FileBytes(input);
  const std::string screen = MakeInput("screen.bmp", 24, 32, 16, 3);
  const struct {
    std::string args;
    std::string err;
  } cases[] = {
      // The first job's output is the second job's input, and the other way round.
      {"mirror -o " + Quoted(Path("d")) + " " + Quoted(other) + " " + Quoted(input),
       input + ": refusing to overwrite an input of this run\n" + input +
           ": refusing to overwrite the input\n2 frames, 2 failed\n"},
      {"mirror -o " + Quoted(Path("d")) + " " + Quoted(input) + " " + Quoted(other),
       input + ": refusing to overwrite the input\n" + input +
           ": refusing to overwrite an input of this run\n2 frames, 2 failed\n"},
      {"capture --screen " + Quoted(screen) + " --rect 0,0,8,8 " + Quoted(screen),
       screen + ": refusing to overwrite the screen file it captures from\n"},
  };
  const std::vector<BYTE> screenBytes = FileBytes(screen);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun r = Kolvex(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(FileBytes(input), original);
    EXPECT_EQ(FileBytes(screen), screenBytes);
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
  const std::string tiny = MakeInput("tiny.bmp", 24, 1, 1, 3);
  const std::string thin = MakeInput("thin.bmp", 24, 1, 10, 3);
  std::ofstream(Path("short.bmp"), std::ios::binary) << "BM12";
  const std::string out = Path("out.bmp");
  const std::string empty = " pixels, which no bitmap file can hold; nothing written\n";
  const Bad cases[] = {
      {"quarter '" + tiny + "' '" + out + "'", 1, out + ": the result is 0 x 0" + empty},
      {"quarter '" + thin + "' '" + out + "'", 1, out + ": the result is 0 x 5" + empty},
      {"eighth --field '" + thin + "' '" + out + "'", 1, out + ": the result is 0 x 2" + empty},
      {"weave '" + good + "' '" + taller + "' '" + out + "'", 1, taller + ": size differs"},
      {"quarter '" + Path("missing.bmp") + "' '" + out + "'", 1,
       Path("missing.bmp") + ": cannot open (No such file or directory)\n"},
      {"quarter '" + Path("short.bmp") + "' '" + out + "'", 1,
       Path("short.bmp") + ": not a bitmap file (too short)\n"},
      {"scale 12x '" + good + "' '" + out + "'", 2, "kolvex scale: bad size '12x' (expected WIDTHxHEIGHT)\n"},
      {"scale 0x5 '" + good + "' '" + out + "'", 2, "kolvex scale: bad size '0x5'"},
      {"scale -5x10 '" + good + "' '" + out + "'", 2,
       "kolvex scale: bad size '-5x10' (width and height must be at least 1)\n"},
      {"brightness bright '" + good + "' '" + out + "'", 2, "kolvex brightness: 'bright' is not a whole number\n"},
      {"field '" + good + "' '" + out + "'", 2, "kolvex field: give exactly one of --odd and --even\n"},
      {"quarter --sideways '" + good + "' '" + out + "'", 2, "kolvex quarter: unknown option --sideways\n"},
      {"quarter '" + good + "'", 2, "kolvex quarter: expected INPUT OUTPUT"},
      {"quarter '" + good + "' '" + good + "'", 1, good + ": refusing to overwrite the input\n"},
      {"nonsense", 2, "kolvex: unknown command 'nonsense'"},
      {"capture --rect 1,2,1,9 '" + out + "'", 2, "kolvex capture: --rect 1,2,1,9 is empty"},
      {"mirror --jobs 0 '" + good + "' '" + out + "'", 2, "kolvex mirror: --jobs 0: expected a count"},
      {"pipe", 2, "kolvex pipe: no operation given\n"},
      {"pipe --size 8x8 quarter", 2, "kolvex pipe: raw frames need both --size and --format\n"},
      {"pipe --size 8x8 --format rgb quarter", 2, "kolvex pipe: --format rgb: expected bgr24, bgra or gray\n"},
      {"pipe --jobs 2 turn quarter", 2, "kolvex pipe: unknown operation 'turn'\n"},
      {"pipe quarter 7", 2, "kolvex pipe: quarter: unexpected '7'\n"},
      {"pipe scale", 2, "kolvex pipe: scale: missing WIDTHxHEIGHT\n"},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun r = Kolvex(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err.substr(0, c.message.size()), c.message);
    EXPECT_FALSE(Exists(out));
  }
  // Nothing half-written or temporary is left beside the inputs.
  EXPECT_EQ(Listing(),
            (std::vector<std::string>{"good.bmp", "short.bmp", "taller.bmp", "thin.bmp", "tiny.bmp"}));
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
                           "brightness", "median", "pipe", "capture", "show", "demo"}) {
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
