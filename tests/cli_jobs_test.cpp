// The kolvex tool on several threads: --jobs gives the outputs, messages and
// order of one job, for a batch of files and for a stream of frames between
// two ffmpeg processes. Labelled "threads", so that the ThreadSanitizer build
// runs the tool under it too. (POSIX: the streams go through a shell.)

#include "cli_shell.h"

#include <cstring>

namespace {

using kt::Quoted;
using kt::ToolRun;
using Tool = kt::ShellToolTest;

TEST_F(Tool, JobsGiveTheOutputsAndMessagesOfOneJob) {
  ASSERT_TRUE(std::filesystem::create_directory(Path("in")));
  std::vector<std::string> inputs;
  for (int i = 0; i < 7; ++i) {
    inputs.push_back(Path("in/f" + std::to_string(i) + ".bmp"));
    if (i == 3 || i == 5) {
      std::ofstream(inputs.back()) << "broken";
    } else {
      MakeInput("in/f" + std::to_string(i) + ".bmp", i % 2 == 0 ? 24 : 8, 40 + i, 30 - i, static_cast<std::uint32_t>(i));
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

// The rows of a raw frame (from the top, no padding) as the library's rows
// (from the bottom, padded), or back.
void RawRows(BYTE* raw, CRZDIB2& dib, bool toRaw) {
  const std::size_t row = static_cast<std::size_t>(dib.DIBWidth()) * dib.DIBBitCount() / 8;
  for (int y = 0; y < dib.DIBHeight(); ++y) {
    BYTE* stored = dib.GetBytes() + (dib.DIBHeight() - 1 - y) * dib.DIBBytesPerLine();
    toRaw ? std::memcpy(raw + y * row, stored, row) : std::memcpy(stored, raw + y * row, row);
  }
}

TEST_F(Tool, PipeBetweenTwoFfmpegsGivesTheLibrarysFrames) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "ffmpeg is not installed (scripts/install-deps installs it)";
  }
  // Raw frames in each format, and bitmap files, through a pipe of 1 to 4 jobs:
  // each frame is the library's result for that frame, in order.
  const std::pair<std::string, WORD> forms[] = {{"bgr24", 24}, {"gray", 8}, {"bgra", 32}, {"bmp", 24}};
  const int frames = 6;
  for (const auto& [form, bits] : forms) {
    SCOPED_TRACE(form);
    const bool raw = form != "bmp";
    const std::string pixfmt = raw ? form : "bgr24", jobs = std::to_string(bits / 8);
    const std::string source = Path("source.raw"), result = Path("result.raw");
    ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc2=size=98x62:rate=25 -frames:v 6 -vf scale=98:61 -pix_fmt " +
                           pixfmt + " -f rawvideo " + Quoted(source)).c_str()), 0);
    const std::string to = raw ? "-f rawvideo - | kolvex pipe --jobs " + jobs + " --size 98x61 --format " + form
                               : "-f image2pipe -c:v bmp - | kolvex pipe --jobs 2";
    const std::string from = raw ? "-f rawvideo -pix_fmt " + form + " -s 49x30" : "-f image2pipe -c:v bmp";
    const ToolRun r = Shell("ffmpeg -v error -f rawvideo -pix_fmt " + pixfmt + " -s 98x61 -i " + Quoted(source) + " " + to +
                            " brightness 90 quarter mirror --vertical | ffmpeg -v error " + from + " -i - -pix_fmt " + pixfmt +
                            " -y -f rawvideo " + Quoted(result));
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<BYTE> in = FileBytes(source);
    const std::vector<BYTE> out = FileBytes(result);
    const std::size_t inFrame = 98u * 61 * bits / 8, outFrame = 49u * 30 * bits / 8;
    ASSERT_EQ(in.size(), frames * inFrame);
    ASSERT_EQ(out.size(), frames * outFrame);
    for (int i = 0; i < frames; ++i) {
      // The first operation writes into the frame as read (raw frames are read
      // into pixels that the tool reuses from frame to frame).
      CRZDIB2 frame, colour, quarter, mirrored, expected;
      ASSERT_TRUE(frame.Create(bits, 98, 61, 1));
      RawRows(in.data() + i * inFrame, frame, false);
      const bool grey = bits == 8;
      if (grey) kt::ConvertGrey(frame, colour);
      CRZDIB2& first = grey ? colour : frame;
      ASSERT_TRUE(first.AdjustBrightness(90) && quarter.CreateQuarter(first));
      ASSERT_TRUE(mirrored.Create(quarter) && mirrored.Mirror(0, 1, quarter));
      if (grey) kt::ConvertGrey(mirrored, expected); else expected = mirrored;
      std::vector<BYTE> raw(outFrame);
      RawRows(raw.data(), expected, true);
      EXPECT_TRUE(std::equal(raw.begin(), raw.end(), out.begin() + i * outFrame)) << "frame " << i;
    }
  }
}

}  // namespace
