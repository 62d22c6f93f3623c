// The kolvex tool on several threads (a batch of files, a stream between two
// ffmpegs); labelled "threads", so that ThreadSanitizer runs the tool too.

#include "cli_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

namespace {

using kt::Quoted;
using kt::ProgramRun;
using Tool = kt::ToolTest;

TEST_F(Tool, JobsGiveTheOutputsAndMessagesOfOneJob) {
  std::vector<std::string> inputs;
  for (int i = 0; i < 7; ++i) {
    inputs.push_back(MakeInput("f" + std::to_string(i) + ".bmp", i % 2 == 0 ? 24 : 8, 40 + i,
                               30 - i, static_cast<std::uint32_t>(i)));
  }
  std::ofstream(inputs[3]) << "broken";
  std::ofstream(inputs[5]) << "broken";
  const std::string err = inputs[3] + ": not a bitmap file (no BM signature)\n" + inputs[5] +
                          ": not a bitmap file (no BM signature)\n7 frames, 2 failed\n";
  for (int jobs : {1, 2, 3}) {
    const std::string dir = "out" + std::to_string(jobs);
    inputs.insert(inputs.begin(), Path(dir));
    const ProgramRun r = Kolvex("scale 31x17 --jobs " + std::to_string(jobs) + " -o", inputs);
    inputs.erase(inputs.begin());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, err);
    ASSERT_EQ(Listing(dir),
              (std::vector<std::string>{"f0.bmp", "f1.bmp", "f2.bmp", "f4.bmp", "f6.bmp"}));
    for (const std::string& name : Listing(dir)) {
      EXPECT_EQ(FileBytes(Path(dir + "/" + name)), FileBytes(Path("out1/" + name)))
          << jobs << " jobs: " << name;
    }
  }
  const ProgramRun quiet = Kolvex("mirror --quiet -o", {Path("q"), inputs[0], inputs[1]});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
}

// Raw frames in each format, and bitmap files, from ffmpeg through a pipe of 1
// to 4 jobs to ffmpeg: each frame doubled in size (each pixel 2 x 2 by the
// centre walk) and turned half round by the two mirrors, in order.
TEST_F(Tool, PipeBetweenTwoFfmpegsGivesEveryFrameInOrder) {
  if (Shell("command -v ffmpeg").status != 0) {
    GTEST_SKIP() << "ffmpeg is not installed (scripts/install-deps installs it)";
  }
  const std::pair<std::string, int> forms[] = {{"bgr24", 3}, {"gray", 1}, {"bgra", 4}, {"bmp", 3}};
  for (const auto& [form, bytes] : forms) {
    SCOPED_TRACE(form);
    const bool raw = form != "bmp";
    const std::string pixfmt = raw ? form : "bgr24", source = Path("source.raw"),
                      result = Path("result.raw");
    ASSERT_EQ(Shell("ffmpeg -v error -y -f lavfi -i testsrc2=size=98x62:rate=25 -frames:v 6 -vf "
                    "scale=98:61 -pix_fmt " +
                    pixfmt + " -f rawvideo " + Quoted(source))
                  .status,
              0);
    const std::string to = raw ? "-f rawvideo - | kolvex pipe --size 98x61 --format " + form
                               : "-f image2pipe -c:v bmp - | kolvex pipe";
    const std::string from =
        raw ? "-f rawvideo -pix_fmt " + form + " -s 196x122" : "-f image2pipe -c:v bmp";
    const ProgramRun r = Shell("ffmpeg -v error -f rawvideo -pix_fmt " + pixfmt + " -s 98x61 -i " +
                               Quoted(source) + " " + to + " --jobs " + std::to_string(bytes) +
                               " scale 196x122 mirror --vertical mirror | ffmpeg -v error " + from +
                               " -i - -pix_fmt " + pixfmt + " -y -f rawvideo " + Quoted(result));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<BYTE> in = FileBytes(source), out = FileBytes(result);
    ASSERT_EQ(in.size(), 6u * 98 * 61 * bytes);
    ASSERT_EQ(out.size(), 4 * in.size());
    for (std::size_t i = 0; i < out.size() / bytes; ++i) {
      const std::size_t frame = i / (196 * 122), x = i % 196, y = i / 196 % 122;
      const BYTE* expected = &in[(frame * 98 * 61 + (60 - y / 2) * 98 + 97 - x / 2) * bytes];
      ASSERT_TRUE(std::equal(expected, expected + bytes, &out[i * bytes]))
          << "frame " << frame << ", " << x << ", " << y;
    }
  }
}

// The YUV forms against ffmpeg's own conversions of the same frames, each way
// apart (--output-format): reading, ffmpeg's exactly rounded BT.601 (each
// pixel its block's chroma) within 1 in green and red and 2 in blue, where
// libyuv takes 2.0 for the 2.018 of U in blue; writing, ffmpeg's mean of each
// 2 x 2 block within 1. An odd size is the even one with its last column and
// row repeated, both ways.
TEST_F(Tool, PipeYuvFormsAgreeWithFfmpegsConversions) {
  if (!KOLVEX_TOOL_YUV) GTEST_SKIP() << "the tool was built without libyuv";
  if (Shell("command -v ffmpeg").status != 0) {
    GTEST_SKIP() << "ffmpeg is not installed (scripts/install-deps installs it)";
  }
  const auto run = [&](const std::string& line) {
    const ProgramRun r = Shell("cd " + Quoted(dir_) + " && " + line);
    EXPECT_EQ(r.status, 0) << line << ": " << r.err;
  };
  const auto near = [&](const std::string& ours, const std::string& theirs,
                        std::array<int, 3> limits) {
    const std::vector<BYTE> a = FileBytes(Path(ours)), b = FileBytes(Path(theirs));
    ASSERT_TRUE(!a.empty() && a.size() == b.size()) << a.size() << " bytes, " << b.size();
    for (std::size_t i = 0; i < a.size(); ++i) {
      ASSERT_LE(std::abs(a[i] - b[i]), limits[i % 3]) << ours << ", byte " << i;
    }
  };
  // Frames of w x h with n bytes a pixel, cut or widened (the last column and
  // row repeated) to cw x ch; a 4:2:0 frame's chroma (what follows its luma)
  // is kept as it is.
  const auto resize = [](const std::vector<BYTE>& in, int w, int h, int n, int cw, int ch,
                         std::size_t frameBytes) {
    std::vector<BYTE> out;
    for (auto frame = in.begin(); frame != in.end();
         frame += static_cast<std::ptrdiff_t>(frameBytes)) {
      for (int y = 0; y < ch; ++y) {
        for (int x = 0; x < cw; ++x) {
          const auto at = frame + (std::min(y, h - 1) * w + std::min(x, w - 1)) * n;
          out.insert(out.end(), at, at + n);
        }
      }
      out.insert(out.end(), frame + w * h * n, frame + static_cast<std::ptrdiff_t>(frameBytes));
    }
    return out;
  };
  const std::string ffmpeg = "ffmpeg -v error -y -f rawvideo -s 98x62 -pix_fmt ";
  const std::string pipe = "kolvex pipe --jobs 2 --format ";
  run("ffmpeg -v error -f lavfi -i testsrc2=size=98x62:rate=25 -frames:v 2 -pix_fmt bgr24 -f "
      "rawvideo in.bgr");
  WriteFile(Path("in97.bgr"), resize(FileBytes(Path("in.bgr")), 98, 62, 3, 97, 61, 98 * 62 * 3));
  WriteFile(Path("rep98.bgr"), resize(FileBytes(Path("in97.bgr")), 97, 61, 3, 98, 62, 97 * 61 * 3));
  for (const std::string form : {"yuv420p", "nv12"}) {
    SCOPED_TRACE(form);
    run(ffmpeg + "bgr24 -i in.bgr -pix_fmt " + form + " -f rawvideo in.yuv");
    run(pipe + form + " --size 98x62 --output-format bgr24 mirror mirror < in.yuv > ours.bgr");
    run(ffmpeg + form + " -i in.yuv -sws_flags neighbor+accurate_rnd+full_chroma_int -pix_fmt " +
        "bgr24 -f rawvideo theirs.bgr");
    near("ours.bgr", "theirs.bgr", {2, 1, 1});
    run(pipe + "bgr24 --size 98x62 --output-format " + form + " mirror mirror < in.bgr > ours.yuv");
    run(ffmpeg + "bgr24 -i in.bgr -sws_flags area+accurate_rnd -pix_fmt " + form +
        " -f rawvideo theirs.yuv");
    near("ours.yuv", "theirs.yuv", {1, 1, 1});

    constexpr std::size_t kYuv98 = 98 * 62 + 2 * 49 * 31;
    WriteFile(Path("in97.yuv"), resize(FileBytes(Path("in.yuv")), 98, 62, 1, 97, 61, kYuv98));
    run(pipe + form + " --size 97x61 --output-format bgr24 mirror mirror < in97.yuv > ours97.bgr");
    EXPECT_EQ(FileBytes(Path("ours97.bgr")),
              resize(FileBytes(Path("ours.bgr")), 98, 62, 3, 97, 61, 98 * 62 * 3));
    run(pipe + "bgr24 --size 97x61 --output-format " + form +
        " mirror mirror < in97.bgr > ours97.yuv");
    run(pipe + "bgr24 --size 98x62 --output-format " + form +
        " mirror mirror < rep98.bgr > rep98.yuv");
    EXPECT_EQ(FileBytes(Path("ours97.yuv")),
              resize(FileBytes(Path("rep98.yuv")), 98, 62, 1, 97, 61, kYuv98));
  }
}

// Whether the tool, its handlers in place, sleeps in the kernel in every thread.
bool Waiting(pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  std::ifstream comm(proc + "/comm"), status(proc + "/status");
  const std::string text{std::istreambuf_iterator<char>(status), {}};
  std::string name;
  const auto caught = text.find("SigCgt:");
  if (!std::getline(comm, name) || name != "kolvex" || caught == std::string::npos ||
      (std::stoull(text.substr(caught + 7), nullptr, 16) >> (SIGTERM - 1) & 1) == 0)
    return false;
  for (const auto& task : std::filesystem::directory_iterator(proc + "/task")) {
    std::ifstream stat(task.path() / "stat");
    if (std::string{std::istreambuf_iterator<char>(stat), {}}.find(") S ") == std::string::npos)
      return false;
  }
  return true;
}

// SIGTERM while every thread waits, on a pipe that brings nothing or on a reader that takes
// nothing (frames of 4 MB, over any pipe's buffer): each run ends at once (unwoken, a wait lasts
// until a second signal) with the signal's status, and nothing is left behind.
TEST_F(Tool, ASignalEndsEveryWaitAtOnce) {
  kt::QuietPipe silent(true);
  const std::string stalled = Path("stalled"), big = MakeInput("big.bmp", 32, 1024, 1024, 1);
  ASSERT_EQ(::mkfifo(stalled.c_str(), 0600), 0);
  const int taking = ::open(stalled.c_str(), O_RDONLY | O_NONBLOCK);  // and never reading
  const std::string pipe = "kolvex pipe: interrupted after 0 frames\n";
  const std::pair<std::string, std::string> cases[] = {
      {"pipe --jobs 2 mirror < " + Quoted(silent.path()), pipe},
      {"pipe --jobs 1 mirror < " + Quoted(silent.path()), pipe},
      {"pipe --jobs 2 mirror < " + Quoted(big) + " > " + Quoted(stalled), pipe},
      {"mirror " + Quoted(big) + " " + Quoted(stalled),
       stalled + ": interrupted; nothing written\n"},
  };
  for (const auto& [line, message] : cases) {
    SCOPED_TRACE(line);
    const std::string command = "exec '" KOLVEX_TOOL "' " + line + " 2> " + Quoted(Path("err"));
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ),
              0);
    int looks = 0;  // three in a row, 20 ms apart
    EXPECT_TRUE(kt::Eventually([&] { return (looks = Waiting(pid) ? looks + 1 : 0) == 3; }));
    ::kill(pid, SIGTERM);
    int status = 0;
    EXPECT_TRUE(kt::Eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }) ||
                (::kill(pid, SIGKILL), ::waitpid(pid, &status, 0), false));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
    EXPECT_EQ(kt::ReadAndRemove(Path("err")), message);
  }
  ::close(taking);
  EXPECT_EQ(Listing(), (std::vector<std::string>{"big.bmp", "stalled"}));
}

}  // namespace
