// The suites' system needs on Linux: mmap, the stand-in's own object count and
// resource table, posix_spawn, and PIL.

#include "portable.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>

extern char** environ;

namespace kt {

std::size_t PageSize() { return static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)); }

BYTE* MapPages(std::size_t bytes) {
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::runtime_error("mmap failed");
  return static_cast<BYTE*>(p);
}

void ProtectPage(BYTE* page) {
  if (::mprotect(page, PageSize(), PROT_NONE) != 0) throw std::runtime_error("mprotect failed");
}

void UnmapPages(BYTE* base, std::size_t bytes) { ::munmap(base, bytes); }

DWORD GdiObjects() { return GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS); }

struct ScopedResource::State {
  WORD id;
};

ScopedResource::ScopedResource(WORD id, const std::vector<BYTE>& bytes) : state_(new State{id}) {
  EXPECT_TRUE(kolvex::platform::AddResource(nullptr, MAKEINTRESOURCE(id), MAKEINTRESOURCE(8000),
                                            bytes.data(), static_cast<DWORD>(bytes.size())));
}

ScopedResource::~ScopedResource() {
  kolvex::platform::RemoveResource(nullptr, MAKEINTRESOURCE(state_->id), MAKEINTRESOURCE(8000));
}

int RunWithOutputs(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& out, const std::filesystem::path& err) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int started = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int raw = 0;
  return started == 0 && ::waitpid(pid, &raw, 0) == pid && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// PIL prints the width, the height and the pixels from the top as hex rrggbb.
bool DecodeIndependently(const std::string& path, DecodedBitmap& out) {
  const ProgramRun run = RunProgram(
      "/usr/bin/python3",
      {"-c",
       "import sys\nfrom PIL import Image\n"
       "im = Image.open(sys.argv[1]).convert('RGB')\nprint(*im.size, im.tobytes().hex())",
       path});
  std::istringstream in(run.out);
  std::string hex;
  out = DecodedBitmap{};
  if (run.status != 0 || !(in >> out.width >> out.height >> hex)) return false;
  for (std::size_t x = 0; x + 6 <= hex.size(); x += 6) {
    out.pixels.push_back(static_cast<std::uint32_t>(std::stoul(hex.substr(x, 6), nullptr, 16)));
  }
  return out.pixels.size() ==
         static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height);
}

// One list of exit handlers for the program and its shared libraries.
const char* AtExitBlindSpot() { return nullptr; }

std::string FullDevice() { return "/dev/full"; }

struct QuietPipe::State {
  std::string path;
  int writer = -1;
};

QuietPipe::QuietPipe(bool writer) : state_(new State{ScratchPath("pipe").string()}) {
  EXPECT_EQ(::mkfifo(state_->path.c_str(), 0600), 0) << state_->path;
  // Read and write: the open neither waits for a reader nor fails without one.
  if (writer) state_->writer = ::open(state_->path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

QuietPipe::~QuietPipe() {
  Release();
  std::filesystem::remove(state_->path);
}

const char* QuietPipe::path() const { return state_->path.c_str(); }

void QuietPipe::Release() {
  if (state_->writer >= 0) ::close(state_->writer);
  state_->writer = -1;
  // A writer that comes and goes ends a reader's wait: its open completes,
  // and its reads see the end of the pipe.
  const int passing = ::open(state_->path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (passing >= 0) ::close(passing);
}

}  // namespace kt
