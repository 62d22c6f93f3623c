// What the suites need from the system they run on, so that no test carries a
// conditional for it; portable_posix.cpp or portable_windows.cpp implements it.
#pragma once

#include <kolvex/kolvex.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace kt {

// A fresh name in the temporary directory.
inline std::filesystem::path ScratchPath(const std::string& what, const char* extension = "") {
  static std::mt19937_64 rng{std::random_device{}()};
  return std::filesystem::temp_directory_path() /
         ("kolvex-" + what + "-" + std::to_string(rng()) + extension);
}

// The text a child wrote, "\r\n" line ends read as "\n"; the file is removed.
inline std::string ReadAndRemove(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text{std::istreambuf_iterator<char>(in), {}};
  in.close();
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
    text.erase(at, 1);
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  return text;
}

// Memory pages: `bytes` (a multiple of PageSize()) of fresh read-write memory
// (throws std::runtime_error when refused); ProtectPage makes one page fault.
std::size_t PageSize();
BYTE* MapPages(std::size_t bytes);
void ProtectPage(BYTE* page);
void UnmapPages(BYTE* base, std::size_t bytes);

// The live GDI objects of this process (under Wine, its entries of the GDI
// handle table); compare counts taken in one process.
DWORD GdiObjects();

// Registers `bytes` as resource `id` of type 8000 of the module that
// CRZDIB2::CreateFromResource(id, nullptr) searches, for the object's life.
class ScopedResource {
 public:
  ScopedResource(WORD id, const std::vector<BYTE>& bytes);
  ~ScopedResource();

  struct State;  // the system's record of the registration

 private:
  std::unique_ptr<State> state_;
};

struct ProgramRun {
  int status = -1;  // the exit code; -1 when it could not start or did not exit
  std::string out;  // line ends read as "\n" on every system
  std::string err;
};

// Runs `program` with `args` (no shell in between), its standard output and
// error into the files `out` and `err`, and waits for it: the exit code or -1.
int RunWithOutputs(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& out, const std::filesystem::path& err);

inline ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args) {
  const std::filesystem::path out = ScratchPath("out"), err = ScratchPath("err");
  const int status = RunWithOutputs(program, args, out, err);
  return {status, ReadAndRemove(out), ReadAndRemove(err)};
}

struct DecodedBitmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // 0xRRGGBB, rows from the top
};

// Reads the bitmap file at `path` with a decoder that is not the library's
// (PIL; on Windows LoadImage): false when it refuses the file or cannot run.
bool DecodeIndependently(const std::string& path, DecodedBitmap& out);

// Why a handler that the program registers with std::atexit() cannot see what
// the library's static objects do when the process exits; null where it can.
const char* AtExitBlindSpot();

// A named pipe that carries no byte (a FIFO whose writing end this process
// holds when `writer` is set); Release() wakes anything waiting to open or
// read it, so that a test of a call that must not wait fails, not hangs.
class QuietPipe {
 public:
  explicit QuietPipe(bool writer);
  ~QuietPipe();
  const char* path() const;
  void Release();

  struct State;  // the system's record of the pipe

 private:
  std::unique_ptr<State> state_;
};

// A file on a full device (/dev/full); empty where there is none (Windows).
std::string FullDevice();

}  // namespace kt
