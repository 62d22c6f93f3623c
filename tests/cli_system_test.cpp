// The kolvex tool among the system's files and processes (POSIX): signals,
// paths of every kind, memory and broken streams of frames.

#include "cli_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <regex>
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

// Under limits of its address space (and of each thread's stack, which makes the start of a
// thread fail as a limit of processes does, also for root): mirror holds the image and its
// result only (a 6 MB 1-bit file loads as 144 MB) and info reads a 2 GB file's headers; a lying
// file header costs no more than the bytes that arrive, from a pipe or a file; frames beyond the
// memory end in a message after the whole frames before them; a batch or a pipe that cannot start
// all its threads says so and runs with those it has. Nothing is ever left half-written.
TEST_F(Tool, UnderLimitsCommandsRunOrEndInAMessage) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizers reserve address space of their own";
#endif
  WriteFile(Path("one.bmp"), kt::MakeBmp({8000, 6000, 1, 0, 40, 0, {}, kt::MakePalette(2, false)}));
  WriteFile(Path("big.bmp"), kt::MakeBmp({.width = 16384, .height = 40000, .pixels = {0}}));
  std::filesystem::resize_file(Path("big.bmp"), 54 + 49152ull * 40000);  // sparse: no disk blocks
  // "BM", 2^31 - 1 bytes, and 1 GB of them (sparse), or 14 from a pipe.
  WriteFile(Path("lie.bmp"), {'B', 'M', 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0, 54, 0, 0, 0});
  std::filesystem::resize_file(Path("lie.bmp"), 1000000000);
  std::string frames;
  for (int i = 0; i < 20; ++i)
    frames += " " + Quoted(MakeInput(std::to_string(i) + ".bmp", 24, 8, 6, 1));
  // prlimit runs the tool itself, not the shell's function.
  const std::string kolvex = Quoted(KOLVEX_TOOL) + " ";
  const std::string limit = "prlimit --as=" + std::to_string(2 * 144 + 96) + "000000 " + kolvex;
  const std::string threads = "prlimit --stack=536870912 --as=2000000000 " + kolvex;
  const auto lie = [](const char* got) {
    return "kolvex pipe: standard input: the stream ends inside frame 1 \\(" + std::string(got) +
           " of 2147483647 bytes\\)\n";
  };
  const std::string fewer =
      "running [1-9] frames? at once, not (20|64): no more threads can start \\(Resource "
      "temporarily unavailable\\)\n";
  const struct {
    std::string line;
    int status;
    std::string err;             // a regular expression for all of it
    std::size_t frameBytes = 1;  // what standard output holds is whole frames of this size
  } cases[] = {
      {limit + "mirror one.bmp out.bmp", 0, ""},
      {limit + "info big.bmp > /dev/null", 0, ""},
      {"head -c 14 lie.bmp | " + limit + "pipe mirror", 1, lie("14")},
      {limit + "pipe mirror < lie.bmp", 1, lie("1000000000")},
      {"head -c 72000000 /dev/zero | prlimit --as=70000000 " + kolvex +
           "pipe --size 3000x2000 --format bgr24 --jobs 2 mirror",
       1, "kolvex pipe: frame [1-4]: (mirror failed \\()?out of memory\\)?\n", 18000000},
      {threads + "mirror --jobs 64 -o outs" + frames, 0, fewer + "20 frames, 0 failed\n"},
      {"cat 0.bmp 1.bmp | " + threads + "pipe --jobs 64 mirror", 0, "kolvex pipe: " + fewer, 198},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const ProgramRun r = Shell("cd " + Quoted(dir_) + " && " + c.line);
    EXPECT_EQ(r.status, c.status);
    EXPECT_TRUE(std::regex_match(r.err, std::regex(c.err))) << r.err;
    EXPECT_EQ(r.out.size() % c.frameBytes, 0u);
  }
  EXPECT_EQ(Listing("outs").size(), 20u);  // no temporary file among them
  EXPECT_EQ(Listing().size(), 25u);        // the inputs, out.bmp and outs alone
}

// Refused before a byte is read: an output that is the input's own file, which would be
// overwritten or read back without end.
TEST_F(Tool, PipeRefusesTruncatedAndResizedStreamsAndItsInputAsOutput) {
  const std::string a = Quoted(MakeInput("a.bmp", 24, 8, 6, 1)),
                    b = Quoted(MakeInput("b.bmp", 24, 9, 6, 2));
  const std::vector<BYTE> original = FileBytes(Path("a.bmp"));
  const std::string same =
      "standard output: refusing to overwrite the input (standard input reads it)\n";
  struct Case {
    std::string line;
    std::string err;
    std::size_t written;  // bytes of the frames before the fault
  };
  std::vector<Case> cases = {
      // Two whole frames of 8 x 6 bgra (192 bytes each) and half a third.
      {"head -c 480 /dev/zero | kolvex pipe --size 8x6 --format bgra mirror",
       "standard input: the stream ends inside frame 3 (96 of 192 bytes)\n", 2 * 192},
      // Bitmap files of 198 bytes, the third of another size or cut short.
      {"cat " + a + " " + a + " " + b + " | kolvex pipe --jobs 2 mirror",
       "standard input: frame 3 is 9 x 6; the stream started at 8 x 6\n", 2 * 198},
      {"{ cat " + a + " " + a + "; head -c 188 " + a + "; } | kolvex pipe mirror",
       "standard input: the stream ends inside frame 3 (188 of 198 bytes)\n", 2 * 198},
      {"kolvex pipe mirror < " + a + " >> " + a, same, 0},
      {"kolvex pipe --jobs 2 mirror < " + a + " 1<> " + a, same, 0},
  };
  if (KOLVEX_TOOL_YUV) {
    // 4:2:0 frames of 7 x 5: 35 luma bytes and 2 x 4 x 3 of chroma; as nv12 or
    // yuv420p, or 105 bytes as bgr24.
    for (const std::string form : {"yuv420p", "nv12"}) {
      cases.push_back(
          {"head -c 150 /dev/zero | kolvex pipe --size 7x5 --format " + form + " mirror",
           "standard input: the stream ends inside frame 3 (32 of 59 bytes)\n", 2 * 59});
    }
    cases.push_back(
        {"head -c 230 /dev/zero | kolvex pipe --size 7x5 --format bgr24 "
         "--output-format nv12 mirror",
         "standard input: the stream ends inside frame 3 (20 of 105 bytes)\n", 2 * 59});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const ProgramRun r = Shell(c.line);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kolvex pipe: " + c.err);
    EXPECT_EQ(r.out.size(), c.written);
  }
  EXPECT_EQ(FileBytes(Path("a.bmp")), original);
}

}  // namespace
