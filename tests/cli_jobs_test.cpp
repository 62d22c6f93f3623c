// The kolvex tool on several threads: --jobs gives the outputs, messages and
// order of one job, for a batch of files and for a stream of frames. Labelled
// "threads", so that the ThreadSanitizer build runs the tool under it too.
// (POSIX: the stream comes through a shell redirection.)

#include "cli_shell.h"

namespace {

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
}

TEST_F(Tool, PipeJobsKeepTheFramesInOrder) {
  // Frames of different content, each written by the library, one after another.
  std::vector<BYTE> stream;
  for (std::uint32_t i = 0; i < 9; ++i) {
    CRZDIB2 dib;
    ASSERT_TRUE(kt::CreateRandom(dib, 32, 45, 31, 1, i));
    const std::vector<BYTE> one = kt::SaveToMemory(dib);
    stream.insert(stream.end(), one.begin(), one.end());
  }
  WriteFile(Path("in.bmps"), stream);
  std::string first;
  for (int jobs : {1, 2, 4}) {
    const ToolRun r = Shell("kolvex pipe --jobs " + std::to_string(jobs) + " median scale 20x20 < " + kt::Quoted(Path("in.bmps")));
    EXPECT_EQ(r.status, 0) << r.err;
    if (jobs == 1) first = r.out;
    EXPECT_EQ(r.out, first) << jobs << " jobs";
  }
  EXPECT_EQ(first.size(), 9 * (54 + 20 * 20 * 4u));
}

}  // namespace
