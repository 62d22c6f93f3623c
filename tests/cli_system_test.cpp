// The kolvex tool among the system's files and processes (POSIX): signals sent
// while it writes, named pipes and symbolic links in place of files, long
// names, permissions and stale temporary files, alpha read by PIL, its peak
// memory, and broken streams of frames.

#include "cli_shell.h"

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

using kt::Exists;
using kt::Quoted;
using kt::ToolRun;
using Tool = kt::ShellToolTest;

// The tool started in the background, its standard error kept in a file.
struct Running {
  pid_t pid;
  Running(const std::vector<std::string>& args, const std::string& errPath) : pid(::fork()) {
    if (pid != 0) return;
    std::freopen(errPath.c_str(), "w", stderr);
    std::vector<char*> argv{const_cast<char*>(KOLVEX_TOOL)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(KOLVEX_TOOL, argv.data());
    ::_exit(127);
  }
  // The exit status, or -1 when a signal ended it.
  int Wait(rusage* usage = nullptr) const {
    int raw = 0;
    ::wait4(pid, &raw, 0, usage);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
};

// Freezes the tool once its temporary file in `dir` holds some bytes, then
// sends `signal`: false when the write ended before the tool was caught in it.
bool SignalDuringWrite(const Running& tool, const std::string& dir, int signal) {
  const std::string prefix = ".kolvex-partial-" + std::to_string(tool.pid) + "-";
  std::string temp;
  for (int i = 0; i < 30000 && temp.empty(); ++i, ::usleep(1000)) {
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      std::error_code error;
      if (e.path().filename().string().starts_with(prefix) && std::filesystem::file_size(e.path(), error) > 0)
        temp = e.path().string();
    }
  }
  if (temp.empty()) return false;
  ::kill(tool.pid, SIGSTOP);
  int stopped = 0;  // once stopped, no system call of the tool is still under way
  ::waitpid(tool.pid, &stopped, WUNTRACED);
  const bool caught = Exists(temp);
  ::kill(tool.pid, signal);
  ::kill(tool.pid, SIGCONT);
  return caught;
}

TEST_F(Tool, SignalDuringALargeWriteLeavesNoTemporaryFile) {
  const std::string input = MakeInput("in.bmp", 24, 40, 30, 1);
  const std::string second = MakeInput("in2.bmp", 24, 40, 30, 2);
  const struct {
    int signal;
    int status;
    bool batch;  // caught writing its second frame, the first one whole
  } cases[] = {{SIGINT, 130, false}, {SIGTERM, 143, false}, {SIGHUP, 129, false}, {SIGINT, 130, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.signal) + (c.batch ? " batch" : ""));
    const std::string out = c.batch ? Path("out") : dir_;
    // 144 MB to write: the tool is caught inside the write.
    const std::vector<std::string> args =
        c.batch ? std::vector<std::string>{"scale", "8000x6000", "--jobs", "1", "-o", out, input, second}
                : std::vector<std::string>{"scale", "8000x6000", input, Path("out.bmp")};
    bool caught = false;
    for (int attempt = 0; attempt < 3 && !caught; ++attempt) {
      std::filesystem::remove_all(Path("out"));
      Running tool(args, Path("err"));
      for (int i = 0; c.batch && i < 30000 && !Exists(out + "/in.bmp"); ++i) ::usleep(1000);
      caught = SignalDuringWrite(tool, out, c.signal);
      const int status = tool.Wait();
      if (!caught) continue;
      EXPECT_EQ(status, c.status);
      if (c.batch) {
        EXPECT_EQ(kt::ReadText(Path("err")), "2 frames, 0 failed, interrupted after 1\n");
        EXPECT_EQ(Listing("out"), std::vector<std::string>{"in.bmp"});
        CRZDIB2 whole;
        Load(out + "/in.bmp", whole);
        EXPECT_EQ(whole.DIBWidth(), 8000);
      } else {
        EXPECT_EQ(kt::ReadText(Path("err")), Path("out.bmp") + ": interrupted; nothing written\n");
        EXPECT_EQ(Listing(), (std::vector<std::string>{"err", "in.bmp", "in2.bmp"}));
      }
    }
    EXPECT_TRUE(caught) << "the write always ended before the signal";
    ::unlink(Path("out.bmp").c_str());
  }
}

TEST_F(Tool, NamedPipesAndDirectoriesAreNoFiles) {
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  const std::string good = MakeInput("good.bmp", 24, 6, 4, 2);
  const std::string fifo = Quoted(Path("fifo"));
  const std::pair<std::string, std::string> cases[] = {
      {"mirror " + fifo + " " + Quoted(Path("o.bmp")), Path("fifo") + ": not a regular file\n"},
      {"mirror " + Quoted(dir_) + " " + Quoted(Path("o.bmp")), dir_ + ": not a regular file\n"},
      {"mirror -o " + Quoted(Path("d")) + " " + Quoted(good) + " " + fifo, Path("fifo") + ": not a regular file\n2 frames, 1 failed\n"},
      {"mirror " + Quoted(good) + " " + fifo, Path("fifo") + ": cannot write (no process reads the pipe)\n"},
  };
  for (const auto& [args, err] : cases) {
    // A regression fails by the timeout's status instead of hanging.
    const ToolRun r = Shell("timeout 20 '" KOLVEX_TOOL "' " + args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(r.err, err);
  }
  // With a reader the pipe receives the file (which fits in the pipe's buffer).
  const int reader = ::open(Path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_EQ(Kolvex("mirror", {good, Path("fifo")}).status, 0);
  std::vector<BYTE> got(4096);
  got.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::read(reader, got.data(), got.size()))));
  ::close(reader);
  CRZDIB2 in, expected;
  Load(good, in);
  ASSERT_TRUE(expected.Create(in) && expected.Mirror(1, 0, in));
  EXPECT_EQ(got, kt::SaveToMemory(expected));
}

TEST_F(Tool, AlphaIsKeptWhereOtherProgramsReadIt) {
  // A version-5 header with an alpha mask, as image editors write it.
  kt::BmpFields fields{5, 3, 32, 3, 124, 0, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}};
  WriteFile(Path("alpha.bmp"), kt::MakeBmp(fields));
  ASSERT_EQ(Kolvex("mirror", {Path("alpha.bmp"), Path("out.bmp")}).status, 0);
  CRZDIB2 in, expected;
  Load(Path("alpha.bmp"), in);
  ASSERT_TRUE(expected.Create(in) && expected.Mirror(1, 0, in));
  // PIL reads the mode and every alpha byte, top row first.
  const ToolRun pil = kt::RunProgram("/usr/bin/python3", {"-c", "import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                                      "print(im.mode, *im.getchannel('A').getdata())", Path("out.bmp")});
  std::string want = "RGBA";
  for (int y = 2; y >= 0; --y) {
    for (int x = 0; x < 5; ++x) want += " " + std::to_string(expected.GetBytes()[y * 20 + 4 * x + 3]);
  }
  EXPECT_EQ(pil.out, want + "\n") << pil.err;
}

// Stale temporaries of dead processes are swept; the output goes through
// symbolic links, keeps a name of 255 bytes and an existing file's mode.
TEST_F(Tool, OutputsSweepStaleTemporariesFollowLinksAndKeepNamesAndModes) {
  const std::string input = MakeInput("in.bmp", 24, 6, 4, 2);
  // A process number that no process has (above the kernel's limit).
  const std::string stale = ".kolvex-partial-99999999-AbCdEf", recent = ".kolvex-partial-99999998-AbCdEf";
  const std::string live = ".kolvex-partial-" + std::to_string(::getpid()) + "-AbCdEf", foreign = ".other-99999999-AbCdEf";
  for (const std::string* name : {&stale, &live, &recent, &foreign}) {
    WriteFile(Path(*name), {1});
    const char* when = name == &recent ? "tomorrow" : "2001-01-01";
    ASSERT_EQ(std::system(("touch -d '" + std::string(when) + "' " + Quoted(Path(*name))).c_str()), 0);
  }
  ASSERT_EQ(Kolvex("mirror", {input, Path("out.bmp")}).status, 0);
  EXPECT_EQ(Listing(), (std::vector<std::string>{live, recent, foreign, "in.bmp", "out.bmp"}));
  const std::vector<BYTE> mirrored = FileBytes(Path("out.bmp"));

  ASSERT_EQ(::mkdir(Path("sub").c_str(), 0777), 0);
  const struct {
    const char* link;
    std::string target;  // as the link holds it
    const char* lands;   // where the file ends up
  } links[] = {{"abs.bmp", Path("t1.bmp"), "t1.bmp"}, {"sub/rel.bmp", "../t2.bmp", "t2.bmp"}, {"chain.bmp", "sub/rel.bmp", "t2.bmp"}};
  for (const auto& c : links) {
    ASSERT_EQ(::symlink(c.target.c_str(), Path(c.link).c_str()), 0);
    ASSERT_EQ(Kolvex("mirror", {input, Path(c.link)}).status, 0) << c.link;
    struct stat st {};
    EXPECT_TRUE(::lstat(Path(c.link).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << c.link;
    EXPECT_EQ(FileBytes(Path(c.lands)), mirrored) << c.link;
    ::unlink(Path(c.lands).c_str());
  }
  const std::string longest = Path(std::string(251, 'n') + ".bmp");  // 255 bytes, the most a name holds
  EXPECT_EQ(Kolvex("mirror", {input, longest}).status, 0);
  EXPECT_EQ(FileBytes(longest), mirrored);
  const bool root = ::geteuid() == 0;
  for (const mode_t mode : {0600, 0640, 0444}) {
    SCOPED_TRACE(mode);
    const std::string out = Path("kept.bmp");
    WriteFile(out, {'o', 'l', 'd'});
    ASSERT_EQ(::chmod(out.c_str(), mode), 0);
    const ToolRun r = Kolvex("mirror", {input, out});
    // A read-only file is written only by whom the system lets write it.
    const bool writable = root || (mode & 0200) != 0;
    EXPECT_EQ(r.status, writable ? 0 : 1) << r.err;
    EXPECT_EQ(FileBytes(out).size() > 3, writable);
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    ::chmod(out.c_str(), 0600);
    ::unlink(out.c_str());
  }
}

TEST_F(Tool, MirrorHoldsTheImageAndTheResultOnly) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizers keep freed memory and shadow it";
#endif
  // A 1-bit file of 0.5 MB loads as 36 MB of 24-bit pixels.
  kt::BmpFields fields{4000, 3000, 1, 0, 40, 0, {}, kt::MakePalette(2, false)};
  WriteFile(Path("one.bmp"), kt::MakeBmp(fields));
  Running tool({"mirror", Path("one.bmp"), Path("out.bmp")}, Path("err"));
  rusage usage{};
  ASSERT_EQ(tool.Wait(&usage), 0) << kt::ReadText(Path("err"));
  const long image = 4000L * 3 * 3000 / 1024;  // kilobytes
  EXPECT_LT(usage.ru_maxrss, 2 * image + 24 * 1024) << "image " << image << " KB";
}

TEST_F(Tool, PipeRefusesTruncatedAndResizedStreams) {
  // Two whole frames of 8 x 6 bgra (192 bytes each) and half a third.
  WriteFile(Path("short.raw"), std::vector<BYTE>(2 * 192 + 96, 7));
  // Bitmap files of 8 x 6 (198 bytes) and 9 x 6 (222 bytes), one after another.
  std::vector<BYTE> files[2];
  for (int w : {8, 8, 9, 8}) {
    CRZDIB2 dib;
    ASSERT_TRUE(kt::CreateRandom(dib, 24, w, 6, 1, static_cast<std::uint32_t>(w)));
    const std::vector<BYTE> one = kt::SaveToMemory(dib);
    files[0].insert(files[0].end(), one.begin(), one.end());
    if (w == 8) files[1].insert(files[1].end(), one.begin(), one.end());
  }
  WriteFile(Path("resized.bmps"), files[0]);
  files[1].resize(3 * 198 - 10);
  WriteFile(Path("cut.bmps"), files[1]);
  const struct {
    std::string args;
    std::string input;
    std::string err;
    std::size_t written;  // bytes of the frames before the fault
  } cases[] = {
      {"--size 8x6 --format bgra mirror", "short.raw",
       "kolvex pipe: standard input: the stream ends inside frame 3 (96 of 192 bytes)\n", 2 * 192},
      {"--jobs 2 mirror", "resized.bmps",
       "kolvex pipe: standard input: frame 3 is 9 x 6; the stream started at 8 x 6\n", 2 * 198},
      {"mirror", "cut.bmps",
       "kolvex pipe: standard input: the stream ends inside frame 3 (188 of 198 bytes)\n", 2 * 198},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const ToolRun r = Shell("kolvex pipe " + c.args + " < " + Quoted(Path(c.input)));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out.size(), c.written);
  }
}

}  // namespace
