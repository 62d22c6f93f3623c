// The kolvex tool end to end: every subcommand against the library's own
// result on the same input, and the documented failures.

#include "cli_support.h"

namespace {

using kt::ProgramRun;
using Tool = kt::ToolTest;

TEST_F(Tool, EverySubcommandMatchesTheLibrary) {
  using Op = bool (*)(CRZDIB2&, CRZDIB2&);  // (input, the library's result)
  const Op quarter = [](CRZDIB2& in, CRZDIB2& out) { return out.CreateQuarter(in); };
  const Op eighth = [](CRZDIB2& in, CRZDIB2& out) { return out.CreateEighth(in); };
  // What the input is taken as first: --field marks it the library's interlaced frame;
  // --field=even and --field=odd name picture rows from the top: the frame the library doubles
  // from that field.
  enum Input { kAsRead, kInterlaced, kEven, kOdd };
  const struct {
    const char* args;  // subcommand and its own arguments
    Input input;
    Op op;  // the library's own result
    std::string warning = "";
  } cases[] = {
      {"quarter", kAsRead, quarter},
      {"quarter --field", kInterlaced, quarter},
      {"quarter --field=even", kEven, quarter},
      {"quarter --field=odd", kOdd, quarter},
      {"eighth", kAsRead, eighth},
      {"eighth --field", kInterlaced, eighth},
      {"scale 50x7", kAsRead,
       [](CRZDIB2& in, CRZDIB2& out) { return out.CreateScaled(in, 50, 7); }},
      {"scale 20x30 --field", kInterlaced,
       [](CRZDIB2& in, CRZDIB2& out) {
         return out.CreateScaled(in, 20, 30, kolvex::kProgressiveFrame);
       }},
      {"mirror --horizontal --vertical", kAsRead,
       [](CRZDIB2& in, CRZDIB2& out) { return out.Create(in) && out.Mirror(1, 1, in); }},
      {"field --odd --interpolate", kAsRead,
       [](CRZDIB2& in, CRZDIB2& out) { return out.CreateInterpolatedFrame(in, 1, 1); }},
      {"field --even", kAsRead,
       [](CRZDIB2& in, CRZDIB2& out) { return out.CreateInterpolatedFrame(in, 0, 0); }},
      {"brightness -2147483648", kAsRead,
       [](CRZDIB2& in, CRZDIB2& out) { return (out = in).AdjustBrightness(0); },
       "kolvex brightness: level -2147483648 is outside 0 to 255; using 0\n"},
      {"brightness 2147483647", kAsRead,
       [](CRZDIB2& in, CRZDIB2& out) { return (out = in).AdjustBrightness(255); },
       "kolvex brightness: level 2147483647 is outside 0 to 255; using 255\n"},
      {"median", kAsRead,
       [](CRZDIB2& in, CRZDIB2& out) { return out.Create(in) && out.Median3x3(in); }},
  };
  // Files as other programs write them, of both parities of height.
  const std::pair<const char*, kt::BmpFields> inputs[] = {
      {"palette4", {37, 22, 4, 0, 40, 0, {}, kt::MakePalette(16, false)}},
      {"rgb565", {37, -21, 16, 3, 40, 0, {0xF800, 0x07E0, 0x001F}}},
      {"bgrx32", {37, 22, 32}},
  };
  const std::string out = Path("out.bmp");
  for (const auto& [name, fields] : inputs) {
    const std::string path = Path(std::string(name) + ".bmp");
    WriteFile(path, kt::MakeBmp(fields));
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(name) + ": " + c.args);
      const ProgramRun r = Kolvex(c.args, {path, out});
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, c.warning);
      CRZDIB2 in, expected, got;
      Load(path, in);
      if (c.input == kInterlaced) in.SetInterlacedFlag(kolvex::kInterlacedFrame);
      ASSERT_TRUE(c.input < kEven || in.CreateInterpolatedFrame(CRZDIB2(in), c.input == kOdd, 0));
      ASSERT_TRUE(c.op(in, expected));
      Load(out, got);
      EXPECT_EQ(std::tuple(got.DIBBitCount(), got.DIBWidth(), got.DIBHeight()),
                std::tuple(expected.DIBBitCount(), expected.DIBWidth(), expected.DIBHeight()));
      EXPECT_EQ(kt::RowBytes(got), kt::RowBytes(expected));
      // Without an alpha mask in the input, 32 bits come out in the library's form.
      if (got.DIBBitCount() == 32) {
        EXPECT_EQ(FileBytes(out), kt::SaveToMemory(expected));
      }
    }
  }
}

// A run writes its outputs whole or not at all: the output directory is made
// (not its parents), no input of the run is replaced, bad input is refused
// with its reason (status 1) and bad usage with its own and the usage (2).
TEST_F(Tool, FailuresWriteNothingAndNeverReplaceAnInput) {
  ASSERT_TRUE(std::filesystem::create_directory(Path("a")) &&
              std::filesystem::create_directory(Path("d")));
  const std::string other = MakeInput("a/x.bmp", 24, 8, 6, 1);
  const std::string input = MakeInput("d/x.bmp", 24, 8, 6, 2);
  const std::string taller = MakeInput("taller.bmp", 24, 8, 9, 3);
  const std::string thin = MakeInput("thin.bmp", 24, 1, 10, 3);
  const std::string screen = MakeInput("screen.bmp", 24, 32, 16, 3);
  const std::string file = Path("file"), out = Path("out.bmp"), missing = Path("missing.bmp");
  std::ofstream(file, std::ios::binary) << "BM12";
  const std::vector<BYTE> original = FileBytes(input), screenBytes = FileBytes(screen);
  const std::string own = input + ": refusing to overwrite the input\n";
  const std::string ofRun = input + ": refusing to overwrite an input of this run\n";
  const struct {
    std::string args;
    std::vector<std::string> paths;
    int status;
    std::string err;  // all of it; for status 2 its start
  } cases[] = {
      {"mirror -o", {Path("new"), input}, 0, ""},
      {"mirror -o", {Path("new"), input}, 0, ""},  // exists now
      {"mirror -o",
       {Path("missing/sub"), input},
       1,
       Path("missing/sub") + ": cannot create the directory: " + Path("missing") +
           " does not exist\n"},
      {"mirror -o", {file, input}, 1, file + ": not a directory\n"},
      // The first job's output is the second job's input, and the other way round.
      {"mirror -o", {Path("d"), other, input}, 1, ofRun + own + "2 frames, 2 failed\n"},
      {"mirror -o", {Path("d"), input, other}, 1, own + ofRun + "2 frames, 2 failed\n"},
      {"quarter", {input, input}, 1, own},
      {"weave", {other, input, input}, 1, own},
      {"capture --rect 0,0,8,8 --screen",
       {screen, screen},
       1,
       screen + ": refusing to overwrite the screen file it captures from\n"},
      {"quarter",
       {thin, out},
       1,
       out + ": the result is 0 x 5 pixels, which no bitmap file can hold; nothing written\n"},
      {"weave",
       {input, taller, out},
       1,
       taller + ": size differs from " + input + " (8 x 6, 24 bits)\n"},
      {"quarter", {missing, out}, 1, missing + ": cannot open (No such file or directory)\n"},
      {"quarter", {file, out}, 1, file + ": not a bitmap file (too short)\n"},
      {"scale 12x",
       {input, out},
       2,
       "kolvex scale: bad size '12x' (expected WIDTHxHEIGHT)\nusage: kolvex scale"},
      {"nonsense", {}, 2, "kolvex: unknown command 'nonsense'"},
      {"pipe --size 8x8 quarter", {}, 2, "kolvex pipe: raw frames need both --size and --format\n"},
      {"pipe --size 8x8 --format nv12 --output-format bgra quarter",
       {},
       2,
       KOLVEX_TOOL_YUV
           ? "kolvex pipe: --output-format bgra: frames read as nv12 go out as bgr24, "
             "yuv420p or nv12\n"
           : "kolvex pipe: --format nv12 needs a build with libyuv (Debian: libyuv-dev)\n"},
      // Limits the help states, checked before anything is read or allocated.
      {"pipe --size 100000x100000 --format bgr24 mirror", {}, 2, "kolvex pipe: --size 100000x"},
      {"pipe --jobs 2000000000 mirror", {}, 2, "kolvex pipe: --jobs 2000000000: at most 256 "},
      {"mirror --jobs 257 -o", {Path("new"), input}, 2, "kolvex mirror: --jobs 257: at most 256 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(&c - cases) + ": " + c.args);
    const ProgramRun r = Kolvex(c.args, c.paths);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(c.status == 2 ? r.err.substr(0, c.err.size()) : r.err, c.err);
    EXPECT_EQ(FileBytes(input), original);
    EXPECT_EQ(FileBytes(screen), screenBytes);
  }
  // Nothing half-written or temporary is left.
  EXPECT_EQ(Listing(), (std::vector<std::string>{"a", "d", "file", "new", "screen.bmp",
                                                 "taller.bmp", "thin.bmp"}));
  EXPECT_EQ(Listing("new"), std::vector<std::string>{"x.bmp"});
  const ProgramRun help = Kolvex("scale --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: kolvex scale", 0), 0u) << help.out;
}

TEST_F(Tool, WeaveTakesEachFieldFromItsFile) {
  const std::string even = MakeInput("even.bmp", 24, 9, 6, 1),
                    odd = MakeInput("odd.bmp", 24, 9, 6, 2);
  ASSERT_EQ(Kolvex("weave", {even, odd, Path("frame.bmp")}).status, 0);
  CRZDIB2 e, o, expected;
  Load(even, e);
  Load(odd, o);
  ASSERT_TRUE(expected.Create(e) && expected.CopyField(e, 0) && expected.CopyField(o, 1));
  EXPECT_EQ(FileBytes(Path("frame.bmp")), kt::SaveToMemory(expected));
}

}  // namespace
