// `kolvex info`: each file's own format and what it loads as, from its
// headers alone (kolvex::DescribeBitmapFile), so that a file of any size is
// described in a few kilobytes of memory.

#include "commands.h"
#include "files.h"
#include "options.h"

#include <kolvex/kolvex.h>

#include <cinttypes>
#include <cstdio>
#include <string>

namespace kolvex::cli {

namespace {

struct Description {
  kolvex::BitmapFileFormat format;
  std::uint64_t fileBytes = 0;
};

// Describes the file at `path` into `d` from its head: an empty string, or
// why not.
std::string Describe(const std::string& path, Description& d) {
  try {
    WithInputFile(path, [&](CFile& file) {
      if (!file.IsRegularFile()) throw FileError(path, "not a regular file");
      d.fileBytes = file.GetLength();
      if (const char* why = kolvex::DescribeBitmapFile(file, d.format)) throw FileError(path, why);
    });
  } catch (const FileError& e) {
    return e.reason();
  }
  return "";
}

bool HasMasks(const kolvex::BitmapFileFormat& f) { return f.bitCount == 16 || f.bitCount == 32; }

std::string Hex(std::uint32_t mask, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*" PRIX32, digits, mask);
  return text;
}

const char* LoadedKind(const kolvex::BitmapFileFormat& f) {
  if (f.loadedBitCount == 8) return "grey values";
  if (f.loadedAlpha) return "with alpha";
  return f.loadedBitCount == 32 ? "fourth byte not alpha" : "colours";
}

void PrintText(const std::string& path, const Description& d) {
  const kolvex::BitmapFileFormat& f = d.format;
  std::printf("%s: %d x %d, %s rows, %" PRIu64 " bytes\n", path.c_str(), f.width, f.height,
              f.topDown ? "top-down" : "bottom-up", d.fileBytes);
  std::printf("  header:      %s (%" PRIu32 " bytes)\n", f.headerKind, f.headerBytes);
  std::printf("  depth:       %u bits per pixel\n", f.bitCount);
  std::printf("  compression: %s\n", f.compressionName);
  if (HasMasks(f)) {
    const int digits = f.bitCount / 4;
    std::printf("  bit fields:  red %s, green %s, blue %s, alpha %s\n",
                Hex(f.redMask, digits).c_str(), Hex(f.greenMask, digits).c_str(),
                Hex(f.blueMask, digits).c_str(), Hex(f.alphaMask, digits).c_str());
  }
  if (f.paletteEntries == 0) {
    std::printf("  palette:     none\n");
  } else {
    std::printf("  palette:     %" PRIu32 " entries\n", f.paletteEntries);
  }
  std::printf("  pixels at:   byte %" PRIu32 "\n", f.pixelOffset);
  std::printf("  loads as:    %u bits per pixel (%s), %" PRIu32 " bytes of pixels\n",
              f.loadedBitCount, LoadedKind(f), f.loadedBytes);
}

// A JSON string: quotes, backslashes and control characters escaped; other
// bytes as they are (file names are taken to be UTF-8).
std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Json(const std::string& path, const Description& d) {
  const kolvex::BitmapFileFormat& f = d.format;
  const auto number = [](auto v) { return std::to_string(v); };
  std::string masks = "null";
  if (HasMasks(f)) {
    masks = "{\"red\": " + number(f.redMask) + ", \"green\": " + number(f.greenMask) +
            ", \"blue\": " + number(f.blueMask) + ", \"alpha\": " + number(f.alphaMask) + "}";
  }
  return "{\"file\": " + JsonString(path) + ", \"width\": " + number(f.width) +
         ", \"height\": " + number(f.height) + ", \"rowOrder\": \"" +
         (f.topDown ? "top-down" : "bottom-up") + "\", \"fileBytes\": " + number(d.fileBytes) +
         ", \"header\": \"" + f.headerKind + "\", \"headerBytes\": " + number(f.headerBytes) +
         ", \"bitCount\": " + number(f.bitCount) + ", \"compression\": \"" + f.compressionName +
         "\", \"masks\": " + masks + ", \"paletteEntries\": " + number(f.paletteEntries) +
         ", \"pixelOffset\": " + number(f.pixelOffset) +
         ", \"loadsAs\": {\"bitCount\": " + number(f.loadedBitCount) +
         ", \"alpha\": " + (f.loadedAlpha ? "true" : "false") +
         ", \"imageBytes\": " + number(f.loadedBytes) + "}}";
}

}  // namespace

Status RunInfo(const std::vector<std::string>& words) {
  const Args args = ParseArgs(words, {"--json"}, {});
  if (args.positional.empty()) throw UsageError("no input files");
  const bool json = args.Has("--json");
  Status status = kOk;
  if (json) std::printf("[");
  for (std::size_t i = 0; i < args.positional.size(); ++i) {
    const std::string& path = args.positional[i];
    Description d;
    const std::string why = Describe(path, d);
    std::string entry;
    if (!why.empty()) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), why.c_str());
      status = kFailed;
      entry = "{\"file\": " + JsonString(path) + ", \"error\": " + JsonString(why) + "}";
    } else if (json) {
      entry = Json(path, d);
    } else {
      PrintText(path, d);
    }
    if (json) std::printf("%s\n  %s", i == 0 ? "" : ",", entry.c_str());
  }
  if (json) std::printf("\n]\n");
  return status;
}

}  // namespace kolvex::cli
