// The kolvex tool on several threads, for a batch of files and for a stream of
// frames between two ffmpeg processes; labelled "threads", so that the
// ThreadSanitizer build runs the tool under it too.

#include "cli_support.h"

#include <cstring>

namespace {

using kt::Quoted;
using kt::ToolRun;
using Tool = kt::ToolTest;

TEST_F(Tool, JobsGiveTheOutputsAndMessagesOfOneJob) {
  std::vector<std::string> inputs;
  for (int i = 0; i < 7; ++i) {
    const std::string name = "f" + std::to_string(i) + ".bmp";
    inputs.push_back(Path(name));
    if (i == 3 || i == 5) {
      std::ofstream(inputs.back()) << "broken";
    } else {
      MakeInput(name, i % 2 == 0 ? 24 : 8, 40 + i, 30 - i, static_cast<std::uint32_t>(i));
    }
  }
  const std::string err = inputs[3] + ": not a bitmap file (no BM signature)\n" + inputs[5] +
                          ": not a bitmap file (no BM signature)\n7 frames, 2 failed\n";
  for (int jobs : {1, 2, 3}) {
    const std::string dir = "out" + std::to_string(jobs);
    inputs.insert(inputs.begin(), Path(dir));
    const ToolRun r = Kolvex("scale 31x17 --jobs " + std::to_string(jobs) + " -o", inputs);
    inputs.erase(inputs.begin());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, err);
    ASSERT_EQ(Listing(dir), (std::vector<std::string>{"f0.bmp", "f1.bmp", "f2.bmp", "f4.bmp", "f6.bmp"}));
    for (const std::string& name : Listing(dir)) {
      EXPECT_EQ(FileBytes(Path(dir + "/" + name)), FileBytes(Path("out1/" + name))) << jobs << " jobs: " << name;
    }
  }
  const ToolRun quiet = Kolvex("mirror --quiet -o", {Path("q"), inputs[0], inputs[1]});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
}

// Raw frames in each format, and bitmap files, from ffmpeg through a pipe of 1
// to 4 jobs to ffmpeg: each frame is the library's result for that frame.
TEST_F(Tool, PipeBetweenTwoFfmpegsGivesTheLibrarysFrames) {
  if (Shell("command -v ffmpeg").status != 0) {
    GTEST_SKIP() << "ffmpeg is not installed (scripts/install-deps installs it)";
  }
  const std::pair<std::string, WORD> forms[] = {{"bgr24", 24}, {"gray", 8}, {"bgra", 32}, {"bmp", 24}};
  for (const auto& [form, bits] : forms) {
    SCOPED_TRACE(form);
    const bool raw = form != "bmp";
    const std::string pixfmt = raw ? form : "bgr24", jobs = std::to_string(bits / 8);
    const std::string source = Path("source.raw"), result = Path("result.raw");
    ASSERT_EQ(Shell("ffmpeg -v error -y -f lavfi -i testsrc2=size=98x62:rate=25 -frames:v 6 -vf scale=98:61 -pix_fmt " +
                    pixfmt + " -f rawvideo " + Quoted(source)).status, 0);
    const std::string to = raw ? "-f rawvideo - | kolvex pipe --jobs " + jobs + " --size 98x61 --format " + form
                               : "-f image2pipe -c:v bmp - | kolvex pipe --jobs 2";
    const std::string from = raw ? "-f rawvideo -pix_fmt " + form + " -s 49x30" : "-f image2pipe -c:v bmp";
    const ToolRun r = Shell("ffmpeg -v error -f rawvideo -pix_fmt " + pixfmt + " -s 98x61 -i " + Quoted(source) + " " + to +
                            " brightness 90 quarter mirror --vertical | ffmpeg -v error " + from + " -i - -pix_fmt " + pixfmt +
                            " -y -f rawvideo " + Quoted(result));
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<BYTE> in = FileBytes(source), out = FileBytes(result);
    const std::size_t inRow = 98u * bits / 8, outRow = 49u * bits / 8;
    ASSERT_EQ(in.size(), 6 * 61 * inRow);
    ASSERT_EQ(out.size(), 6 * 30 * outRow);
    for (int i = 0; i < 6; ++i) {
      // Raw rows run from the top without padding; the library's from the bottom.
      CRZDIB2 frame, colour, quarter, mirrored, expected;
      ASSERT_TRUE(frame.Create(bits, 98, 61, 1));
      for (int y = 0; y < 61; ++y) std::memcpy(frame.GetBytes() + (60 - y) * frame.DIBBytesPerLine(), &in[(i * 61 + y) * inRow], inRow);
      const bool grey = bits == 8;
      if (grey) kt::ConvertGrey(frame, colour);
      CRZDIB2& first = grey ? colour : frame;
      ASSERT_TRUE(first.AdjustBrightness(90) && quarter.CreateQuarter(first));
      ASSERT_TRUE(mirrored.Create(quarter) && mirrored.Mirror(0, 1, quarter));
      if (grey) kt::ConvertGrey(mirrored, expected); else expected = mirrored;
      for (int y = 0; y < 30; ++y) {
        const BYTE* row = expected.GetBytes() + (29 - y) * expected.DIBBytesPerLine();
        EXPECT_TRUE(std::equal(row, row + outRow, &out[(i * 30 + y) * outRow])) << "frame " << i << " row " << y;
      }
    }
  }
}

}  // namespace
