#include "raw_frames.h"

#include "options.h"
#include "pixels.h"
#include "yuv.h"

#include <array>
#include <vector>

namespace kolvex::cli {

namespace {

constexpr std::array<RawFormat, 5> kFormats = {{
    {"bgr24", 24, RawLayout::kPacked},
    {"bgra", 32, RawLayout::kPacked},
    {"gray", 8, RawLayout::kPacked},
    {"yuv420p", 24, RawLayout::kPlanar420},
    {"nv12", 24, RawLayout::kSemiPlanar420},
}};

// "a, b or c": the formats of bitmaps of `bits` bits, or all of them for 0.
std::string Names(WORD bits) {
  std::vector<std::string> names;
  for (const RawFormat& f : kFormats) {
    if (bits == 0 || f.bits == bits) names.emplace_back(f.name);
  }
  std::string text = names.front();
  for (std::size_t i = 1; i < names.size(); ++i) {
    text += (i + 1 == names.size() ? " or " : ", ") + names[i];
  }
  return text;
}

// The format `name` names as the value of `option`.
RawFormat Find(const std::string& option, const std::string& name) {
  for (const RawFormat& f : kFormats) {
    if (name != f.name) continue;
    if (f.layout != RawLayout::kPacked) {
      if (const char* why = YuvMissing()) throw UsageError(option + " " + name + " " + why);
      PrepareYuv();
    }
    return f;
  }
  throw UsageError(option + " " + name + ": expected " + Names(0));
}

}  // namespace

RawFormat FindRawFormat(const std::string& name) { return Find("--format", name); }

RawFormat FindOutputFormat(const RawFormat& input, const std::string& name) {
  const RawFormat output = Find("--output-format", name);
  if (output.bits != input.bits) {
    throw UsageError("--output-format " + name + ": frames read as " + input.name + " go out as " +
                     Names(input.bits));
  }
  return output;
}

std::size_t RawFrameBytes(const RawFormat& format, int width, int height) {
  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  if (format.layout == RawLayout::kPacked) return w * h * (format.bits / 8u);
  return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
}

void ReadRawFrame(const RawFormat& format, const BYTE* raw, CRZDIB2& dib) {
  if (format.layout == RawLayout::kPacked) {
    RawToRows(raw, dib);
  } else {
    YuvToRows(format.layout, raw, dib);
  }
}

void WriteRawFrame(const RawFormat& format, const CRZDIB2& dib, BYTE* raw) {
  if (format.layout == RawLayout::kPacked) {
    RowsToRaw(dib, raw);
  } else {
    RowsToYuv(format.layout, dib, raw);
  }
}

}  // namespace kolvex::cli
