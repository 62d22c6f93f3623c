// Bitmap files for the tool: loading with a reason on failure, and writing
// through a temporary file that is renamed into place, so that a failure or a
// signal never leaves a half-written output.
#pragma once

#include <kolvex/kolvex.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace kolvex::cli {

// A failed operation on one file. what() is the whole one-line message,
// "<file>: <reason>".
class FileError : public std::runtime_error {
 public:
  FileError(const std::string& file, const std::string& reason)
      : std::runtime_error(file + ": " + reason), reason_(reason) {}
  // The message without the file's name.
  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
};

// Opens `path` for reading (never waiting on a pipe) and hands it to `use` as
// a CFile from its start, read in pieces so that a signal is seen between
// them. Throws FileError ("cannot open (...)") naming the file; a read that
// fails inside `use` reaches the caller as the FileError or Interrupted it
// met, whatever `use` made of the framework exception.
void WithInputFile(const std::string& path, const std::function<void(CFile&)>& use);

// Loads a bitmap file into `dib` with the library's reader; `alpha` (when
// given) tells whether the file carries an alpha channel (an alpha mask in
// its header, which the loaded bitmap's alpha flag reports). Only regular
// files are read. The file's bytes are held only while the image is made.
// Throws FileError naming the file and why, and Interrupted.
void LoadBitmap(const std::string& path, CRZDIB2& dib, bool* alpha = nullptr);

// Whether a loaded bitmap carries its file's alpha channel.
inline bool CarriesAlpha(const CRZDIB2& dib) {
  return dib.DIBBitCount() == 32 && !dib.IsAlphaInvalid();
}

// Writes `dib` as a bitmap file at `path`: the library's form (SaveAs), or
// with `alpha` as kolvex::SaveWithAlpha writes it (at 32 bits, a version-5
// header whose masks name byte 3 as alpha, as other programs read it). An image of zero width or
// height is refused. A regular file is written into a temporary file beside it (named
// kTemporaryPrefix + process id + '-' + unique letters), flushed and renamed
// over it, keeping the permissions of a file it replaces; a symbolic link is
// followed, so its target is replaced; a pipe or device is written in place.
// Before the first temporary file in a directory, temporary files that
// earlier runs left there (older than this run, their process gone) are
// removed. Throws FileError or Interrupted; then `path` is untouched and no
// temporary file remains.
void SaveBitmap(CRZDIB2& dib, const std::string& path, bool alpha = false);
inline constexpr const char* kTemporaryPrefix = ".kolvex-partial-";

// Writes `dib` as SaveBitmap encodes it to the open descriptor `fd` (a pipe);
// `name` names the stream in errors.
void WriteBitmap(CRZDIB2& dib, bool alpha, int fd, const std::string& name);

// Refuses an image that no bitmap file can hold (zero width or height).
void CheckWritable(const CRZDIB2& dib, const std::string& name);

// Reads exactly `size` bytes; fewer only at the end of the stream. A
// non-blocking descriptor waits in os::WaitReady, so a signal ends the wait.
// Throws FileError naming `name`, and Interrupted.
std::size_t ReadFully(int fd, BYTE* data, std::size_t size, const std::string& name);
// Writes all `size` bytes, waiting as ReadFully does. Throws FileError naming
// `name`, and Interrupted.
void WriteFully(int fd, const BYTE* data, std::size_t size, const std::string& name);

// True when both paths name the same existing file.
bool SameFile(const std::string& a, const std::string& b);

// The last component of a path ("dir/frame.bmp" -> "frame.bmp").
std::string BaseName(const std::string& path);

// Makes sure `dir` is a directory, creating it (but not its parents).
// Throws FileError.
void EnsureDirectory(const std::string& dir);

}  // namespace kolvex::cli
