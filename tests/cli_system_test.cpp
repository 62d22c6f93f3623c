// The kolvex tool among the system's files and processes (POSIX): signals,
// paths of every kind, memory and broken streams of frames.

#include "cli_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <thread>

namespace {

using kt::Quoted;
using kt::ProgramRun;
using Tool = kt::ToolTest;

// Two frames of 144 MB, stopped once the second one's temporary file (named by
// the tool's process number) holds bytes, then ended; retried if the write wins.
TEST_F(Tool, SignalDuringALargeWriteLeavesNoTemporaryFile) {
  const std::string in = MakeInput("in.bmp", 24, 40, 30, 1),
                    in2 = MakeInput("in2.bmp", 24, 40, 30, 2);
  bool caught = false;
  for (int attempt = 0; attempt < 3 && !caught; ++attempt) {
    std::filesystem::remove_all(Path("out"));
    ProgramRun r;
    std::thread tool([&] { r = Kolvex("scale 8000x6000 --jobs 1 -o", {Path("out"), in, in2}); });
    std::string temp;
    for (int i = 0; i < 30000 && temp.empty(); ++i, ::usleep(1000)) {
      std::error_code error;
      for (const auto& e : std::filesystem::directory_iterator(Path("out"), error)) {
        const bool partial = e.path().filename().string().starts_with(".kolvex-partial-");
        if (partial && std::filesystem::exists(Path("out/in.bmp")) && e.file_size(error) > 0)
          temp = e.path().string();
      }
    }
    const pid_t pid = temp.empty() ? 0 : std::stoi(temp.substr(temp.rfind("partial-") + 8));
    if (pid > 0) {
      ::kill(pid, SIGSTOP);
      int stopped = 0;  // once stopped, no system call of the tool is still under way
      ::waitpid(pid, &stopped, WUNTRACED);
      caught = std::filesystem::exists(temp);
      ::kill(pid, SIGTERM);
      ::kill(pid, SIGCONT);
    }
    tool.join();
    if (!caught) continue;
    EXPECT_EQ(r.status, 128 + SIGTERM);
    EXPECT_EQ(r.err, "2 frames, 0 failed, interrupted after 1\n");
    EXPECT_EQ(Listing("out"), std::vector<std::string>{"in.bmp"});
    EXPECT_EQ(std::filesystem::file_size(Path("out/in.bmp")),
              54 + 24000ull * 6000);  // the first frame whole
  }
  EXPECT_TRUE(caught) << "the write always ended before the signal";
}

// Outputs go through symbolic links, under a name of 255 bytes, over a file
// whose mode they keep, with the alpha PIL reads; pipes and directories are no
// files (`timeout` ends a regression that waits); stale temporaries are swept.
TEST_F(Tool, PathsOfEveryKind) {
  const std::string in = Path("in.bmp"), out = Path("out.bmp"), fifo = Path("fifo"),
                    longest = Path(std::string(251, 'n') + ".bmp");
  WriteFile(in, kt::MakeBmp({5, 3, 32, 3, 124, 0, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}}));
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::mkdir(Path("sub").c_str(), 0777), 0);
  ASSERT_EQ(::symlink("../t.bmp", Path("sub/rel.bmp").c_str()), 0);  // a link to a relative link
  ASSERT_EQ(::symlink("sub/rel.bmp", Path("chain.bmp").c_str()), 0);
  WriteFile(Path("kept.bmp"), {'o', 'l', 'd'});
  std::filesystem::permissions(Path("kept.bmp"), std::filesystem::perms(0640));
  // A process number that no process has (above the kernel's limit).
  const std::string stale = ".kolvex-partial-99999999-AbCdEf",
                    recent = ".kolvex-partial-99999998-AbCdEf";
  const std::string live = ".kolvex-partial-" + std::to_string(::getpid()) + "-AbCdEf",
                    foreign = ".other-99999999-AbCdEf";
  for (const std::string* name : {&stale, &live, &recent, &foreign}) {
    WriteFile(Path(*name), {1});
    const char* when = name == &recent ? "tomorrow" : "2001-01-01";
    ASSERT_EQ(Shell("touch -d '" + std::string(when) + "' " + Quoted(Path(*name))).status, 0);
  }
  const struct {
    std::vector<std::string> paths;
    std::string err;
    std::string lands = "";  // where the output is when the run succeeds
  } cases[] = {
      {{in, out}, "", out},
      {{in, Path("chain.bmp")}, "", Path("t.bmp")},
      {{in, longest}, "", longest},
      {{in, Path("kept.bmp")}, "", Path("kept.bmp")},
      {{fifo, Path("o.bmp")}, fifo + ": not a regular file\n"},
      {{dir_, Path("o.bmp")}, dir_ + ": not a regular file\n"},
      {{"-o", Path("d"), in, fifo}, fifo + ": not a regular file\n2 frames, 1 failed\n"},
      {{in, fifo}, fifo + ": cannot write (no process reads the pipe)\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"20", KOLVEX_TOOL, "mirror"};
    args.insert(args.end(), c.paths.begin(), c.paths.end());
    const ProgramRun r = kt::RunProgram("/usr/bin/timeout", args);
    EXPECT_EQ(r.status, c.lands.empty() ? 1 : 0) << c.paths.back();
    EXPECT_EQ(r.err, c.err);
    if (!c.lands.empty()) {
      EXPECT_EQ(FileBytes(c.lands), FileBytes(out)) << c.lands;
    }
  }
  EXPECT_TRUE(std::filesystem::is_symlink(Path("chain.bmp")));
  EXPECT_EQ(std::filesystem::status(Path("kept.bmp")).permissions(), std::filesystem::perms(0640));
  EXPECT_FALSE(std::filesystem::exists(Path(stale)));
  for (const std::string& kept : {live, recent, foreign})
    EXPECT_TRUE(std::filesystem::exists(Path(kept))) << kept;
  const ProgramRun pil = kt::RunProgram(
      "/usr/bin/python3",
      {"-c",
       "import sys; from PIL import Image; a, b = map(Image.open, sys.argv[1:]); "
       "print(b.mode, a.transpose(Image.Transpose.FLIP_LEFT_RIGHT).tobytes() == b.tobytes())",
       in, out});
  EXPECT_EQ(pil.out, "RGBA True\n") << pil.err;
  // With a reader the pipe receives the file (which fits in the pipe's buffer).
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_EQ(Kolvex("mirror", {in, fifo}).status, 0);
  std::vector<BYTE> got(4096);
  got.resize(
      static_cast<std::size_t>(std::max<ssize_t>(0, ::read(reader, got.data(), got.size()))));
  ::close(reader);
  EXPECT_EQ(got, FileBytes(out));
}

// Under a limit of its address space, mirror holds the image and its result
// only (a 6 MB 1-bit file loads as 144 MB); info reads a 2 GB file's headers.
TEST_F(Tool, MemoryIsWhatTheCommandNeeds) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizers reserve address space of their own";
#endif
  WriteFile(Path("one.bmp"), kt::MakeBmp({8000, 6000, 1, 0, 40, 0, {}, kt::MakePalette(2, false)}));
  WriteFile(Path("big.bmp"), kt::MakeBmp({.width = 16384, .height = 40000, .pixels = {0}}));
  std::filesystem::resize_file(Path("big.bmp"), 54 + 49152ull * 40000);  // sparse: no disk blocks
  for (const std::string& args :
       {"mirror " + Path("one.bmp") + " " + Path("out.bmp"), "info " + Path("big.bmp")}) {
    const ProgramRun r =
        Shell("prlimit --as=" + std::to_string(2 * 144 + 96) + "000000 '" KOLVEX_TOOL "' " + args);
    EXPECT_EQ(r.status, 0) << args << ": " << r.err;
  }
}

TEST_F(Tool, PipeRefusesTruncatedAndResizedStreams) {
  const std::string a = Quoted(MakeInput("a.bmp", 24, 8, 6, 1)),
                    b = Quoted(MakeInput("b.bmp", 24, 9, 6, 2));
  struct Case {
    std::string line;
    std::string err;
    std::size_t written;  // bytes of the frames before the fault
  };
  std::vector<Case> cases = {
      // Two whole frames of 8 x 6 bgra (192 bytes each) and half a third.
      {"head -c 480 /dev/zero | kolvex pipe --size 8x6 --format bgra mirror",
       "the stream ends inside frame 3 (96 of 192 bytes)\n", 2 * 192},
      // Bitmap files of 198 bytes, the third of another size or cut short.
      {"cat " + a + " " + a + " " + b + " | kolvex pipe --jobs 2 mirror",
       "frame 3 is 9 x 6; the stream started at 8 x 6\n", 2 * 198},
      {"{ cat " + a + " " + a + "; head -c 188 " + a + "; } | kolvex pipe mirror",
       "the stream ends inside frame 3 (188 of 198 bytes)\n", 2 * 198},
  };
  if (KOLVEX_TOOL_YUV) {
    // 4:2:0 frames of 7 x 5: 35 luma bytes and 2 x 4 x 3 of chroma; as nv12 or
    // yuv420p, or 105 bytes as bgr24.
    for (const std::string form : {"yuv420p", "nv12"}) {
      cases.push_back(
          {"head -c 150 /dev/zero | kolvex pipe --size 7x5 --format " + form + " mirror",
           "the stream ends inside frame 3 (32 of 59 bytes)\n", 2 * 59});
    }
    cases.push_back(
        {"head -c 230 /dev/zero | kolvex pipe --size 7x5 --format bgr24 "
         "--output-format nv12 mirror",
         "the stream ends inside frame 3 (20 of 105 bytes)\n", 2 * 59});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const ProgramRun r = Shell(c.line);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kolvex pipe: standard input: " + c.err);
    EXPECT_EQ(r.out.size(), c.written);
  }
}

}  // namespace
