// Bitmap files for the tool: loading with a reason on failure, and writing
// through a temporary file that is renamed into place, so that a failure never
// leaves a half-written output and an input is never overwritten.
#pragma once

#include <kolvex/kolvex.h>

#include <stdexcept>
#include <string>

namespace kolvex::cli {

// A failed operation on one file. what() is the whole one-line message,
// "<file>: <reason>".
class FileError : public std::runtime_error {
 public:
  FileError(const std::string& file, const std::string& reason)
      : std::runtime_error(file + ": " + reason) {}
};

// Loads a bitmap file into `dib`. Throws FileError naming the file and why.
void LoadBitmap(const std::string& path, CRZDIB2& dib);

// Writes `dib` as a bitmap file at `path`: into a temporary file beside it,
// flushed and then renamed over `path`. Throws FileError; on failure `path`
// is untouched and no temporary file remains.
void SaveBitmap(CRZDIB2& dib, const std::string& path);

// True when both paths name the same existing file.
bool SameFile(const std::string& a, const std::string& b);

// The last component of a path ("dir/frame.bmp" -> "frame.bmp").
std::string BaseName(const std::string& path);

}  // namespace kolvex::cli
