// The kolvex tool on several threads: --jobs gives the outputs, messages and
// order of one job, for a batch of files and for a stream of frames. Labelled
// "threads", so that the ThreadSanitizer build runs the tool under it too.
// (POSIX: the stream comes through a shell redirection.)

#include "cli_shell.h"

namespace {

using kt::Quoted;
using kt::ToolRun;
using Tool = kt::ShellToolTest;

TEST_F(Tool, JobsGiveTheOutputsAndMessagesOfOneJob) {
  ASSERT_TRUE(std::filesystem::create_directory(Path("in")));
  std::string inputs;
  for (int i = 0; i < 7; ++i) {
    const std::string name = "in/f" + std::to_string(i) + ".bmp";
    if (i == 3 || i == 5) {
      std::ofstream(Path(name)) << "broken";
    } else {
      MakeInput(name, i % 2 == 0 ? 24 : 8, 40 + i, 30 - i, static_cast<std::uint32_t>(i));
    }
    inputs += " " + Quoted(Path(name));
  }
  std::vector<ToolRun> runs;
  for (int jobs : {1, 2, 3}) {
    const std::string out = Path("out" + std::to_string(jobs));
    runs.push_back(Kolvex("scale 31x17 --jobs " + std::to_string(jobs) + " -o " + Quoted(out) + inputs));
    const std::string dir = "out" + std::to_string(jobs);
    for (const std::string& name : Listing(dir)) {
      SCOPED_TRACE(std::to_string(jobs) + " jobs: " + name);
      EXPECT_EQ(FileBytes(Path(dir + "/" + name)), FileBytes(Path("out1/" + name)));
    }
    EXPECT_EQ(Listing(dir), Listing("out1"));
  }
  EXPECT_EQ(Listing("out1").size(), 5u);
  EXPECT_EQ(runs[0].status, 1);
  EXPECT_EQ(runs[0].err, Path("in/f3.bmp") + ": not a bitmap file (no BM signature)\n" + Path("in/f5.bmp") +
                             ": not a bitmap file (no BM signature)\n7 frames, 2 failed\n");
  for (const ToolRun& r : runs) {
    EXPECT_EQ(r.status, runs[0].status);
    EXPECT_EQ(r.err, runs[0].err);
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
  std::vector<ToolRun> runs;
  for (int jobs : {1, 2, 4}) {
    runs.push_back(Shell("kolvex pipe --jobs " + std::to_string(jobs) + " median scale 20x20 < " +
                         Quoted(Path("in.bmps"))));
    EXPECT_EQ(runs.back().status, 0) << runs.back().err;
    EXPECT_EQ(runs.back().out, runs[0].out) << jobs << " jobs";
  }
  EXPECT_EQ(runs[0].out.size(), 9 * (54 + 20 * 20 * 4u));
}

}  // namespace
