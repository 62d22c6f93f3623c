// `kolvex pipe`: a chain of operations over a stream of video frames, from
// standard input to standard output, so that ffmpeg and the like can feed it
// and read it. Frames are raw (fixed size and pixel format, rows from the
// top) or bitmap files one after another.

#include "commands.h"
#include "files.h"
#include "interrupt.h"
#include "jobs.h"
#include "operations.h"
#include "options.h"
#include "os.h"
#include "raw_frames.h"

#include <kolvex/kolvex.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace kolvex::cli {

const char* PipeUsage() {
  static const std::string text =
      "usage: kolvex pipe [--size WxH --format F [--output-format F]] [--jobs N] OP [ARGS]\n"
      "                   [OP [ARGS]...]\n"
      "Reads frames on standard input, runs the operations on each in turn and\n"
      "writes the results on standard output, in the order they came.\n"
      "  --size WxH, --format F  raw frames of W x H pixels, rows from the top and no\n"
      "                          padding: bgr24 (blue, green, red bytes), bgra (4 bytes),\n"
      "                          gray (1 byte), or 4:2:0 YUV in BT.601 limited range\n"
      "                          (a build with libyuv): yuv420p (the Y plane, then U,\n"
      "                          then V, each ceil(W/2) x ceil(H/2)) or nv12 (Y, then U\n"
      "                          and V interleaved); the results go out in the same\n"
      "                          format at the size the operations give. A frame is at\n"
      "                          most what one bitmap holds: its rows (3 bytes a pixel\n"
      "                          for YUV), each padded to 4 bytes, in " +
      std::to_string(kolvex::kMaxBitmapBytes - kolvex::kBitmapOverheadBytes) +
      " bytes\n"
      "  --output-format F       the results in F instead; bgr24, yuv420p and nv12 stand\n"
      "                          in for one another\n"
      "  (neither)               bitmap files one after another, as ffmpeg -f image2pipe\n"
      "                          -c:v bmp writes and reads them; all of one size, each\n"
      "                          at most " +
      std::to_string(kolvex::kMaxBitmapBytes) +
      " bytes, held as its bytes arrive\n"
      "  --jobs N                frames at once, 1 to " +
      std::to_string(kMaxJobs) +
      " (default: the number of cores,\n"
      "                          at most that); where fewer threads can start, it says\n"
      "                          so and runs with those\n"
      "Operations, each with its options as the command of the same name takes them\n"
      "(see kolvex OP --help for the rows and rounding each one keeps to):\n"
      "  quarter [--field[=even|odd]]      eighth [--field[=even|odd]]\n"
      "  scale WxH [--field[=even|odd]]    mirror [--horizontal] [--vertical]\n"
      "  field --odd|--even [--interpolate]\n"
      "  brightness LEVEL                  median\n"
      "A stream that ends inside a frame, or changes size, is an error (exit 1) after\n"
      "the frames before it have been written. Standard output may not be the file\n"
      "standard input reads (exit 1, nothing read).\n"
      "Example:\n"
      "  ffmpeg -i in.mp4 -f rawvideo -pix_fmt bgr24 - |\n"
      "    kolvex pipe --size 1920x1080 --format bgr24 quarter |\n"
      "    ffmpeg -f rawvideo -pix_fmt bgr24 -s 960x540 -i - out.mp4\n"
      "Memory: per job, one frame as read, the frame and one result.\n";
  return text.c_str();
}

namespace {

const std::string kInput = "standard input";
const std::string kOutput = "standard output";

// A frame is read into memory that grows with the bytes that arrive, from
// this much (or the size of the largest frame that arrived whole), so that a
// size the stream declares costs memory only as far as the stream delivers.
constexpr std::size_t kFirstPiece = std::size_t{16} << 20;

std::string FrameName(std::uint64_t number) { return "frame " + std::to_string(number); }

struct Geometry {
  int width = 0;
  int height = 0;
};

struct Frame {
  std::uint64_t number = 0;  // from 1
  std::vector<BYTE> bytes;   // as read, and then the raw result
  CRZDIB2 dib;
  Geometry input;  // the frame's size as it came
  bool alpha = false;
};

// The stream's form and the reading of one frame of it from descriptor `fd`.
// Called one frame at a time, in order.
class Reader {
 public:
  Reader(int fd, std::optional<RawFormat> format, Geometry size)
      : fd_(fd), format_(format), size_(size) {}

  bool raw() const { return format_.has_value(); }
  const RawFormat& format() const { return *format_; }

  // False at the end of the stream.
  bool Next(Frame& frame) {
    frame.number = ++count_;
    try {
      return raw() ? NextRaw(frame) : NextFile(frame);
    } catch (const std::bad_alloc&) {
      throw FileError(FrameName(frame.number), "out of memory");
    }
  }

 private:
  bool NextRaw(Frame& frame) {
    return Fill(frame, 0, RawFrameBytes(*format_, size_.width, size_.height));
  }

  bool NextFile(Frame& frame) {
    if (!Fill(frame, 0, kolvex::kBitmapFileHeaderBytes)) return false;
    const std::uint32_t size = kolvex::DeclaredBitmapFileBytes(frame.bytes.data());
    if (size == 0) {
      throw FileError(kInput, FrameName(frame.number) + " is not a bitmap file (bad file header)");
    }
    Fill(frame, kolvex::kBitmapFileHeaderBytes, size);
    return true;
  }

  // Reads bytes [from, to) of the frame; false when the stream ends before
  // the first of them. What a regular file still holds is known before
  // anything is allocated; from a pipe, memory grows as the bytes come.
  bool Fill(Frame& frame, std::size_t from, std::size_t to) {
    if (const auto left = os::RegularFileRemaining(fd_)) {
      if (from == 0 && *left == 0) return false;
      if (*left < to - from) Truncated(frame, from + static_cast<std::size_t>(*left), to);
    }
    std::size_t at = from;
    while (at < to) {
      const std::size_t piece = std::min(to, std::max({largest_, 2 * at, kFirstPiece}));
      frame.bytes.resize(piece);
      at += ReadFully(fd_, frame.bytes.data() + at, piece - at, kInput);
      if (at < piece) break;  // the end of the stream
    }
    if (at == 0) return false;
    if (at < to) Truncated(frame, at, to);
    largest_ = std::max(largest_, to);
    return true;
  }

  [[noreturn]] static void Truncated(const Frame& frame, std::size_t got, std::size_t size) {
    throw FileError(kInput, "the stream ends inside " + FrameName(frame.number) + " (" +
                                std::to_string(got) + " of " + std::to_string(size) + " bytes)");
  }

  int fd_;
  std::optional<RawFormat> format_;
  Geometry size_;
  std::uint64_t count_ = 0;
  std::size_t largest_ = 0;  // the largest frame that arrived whole
};

// The bitmap that raw frames are read into, kept by each thread from frame to
// frame: a stream of same-size frames then writes into the same pixels instead
// of new ones for every frame. The frame shares it while the chain runs; an
// operation that writes into its input makes a copy of its own first.
class ReusedFrame : public CRZDIB2 {
 public:
  // Ready to be written: of this geometry and not shared. False when out of memory.
  bool Reshape(WORD bits, int width, int height) {
    if (IsValidDIB() && DIBBitCount() == bits && DIBWidth() == width && DIBHeight() == height) {
      try {
        _CopyBeforeWrite();
      } catch (CException* e) {  // out of memory: the bitmap is left empty
        e->Delete();
      }
      return IsValidDIB();
    }
    return Create(bits, width, height, kProgressiveFrame);
  }
};

// Every frame of a stream has the size of the first.
void CheckSize(const Frame& frame, std::optional<Geometry>& first) {
  const Geometry& size = frame.input;
  if (!first) {
    first = size;
  } else if (size.width != first->width || size.height != first->height) {
    throw FileError(kInput, FrameName(frame.number) + " is " + std::to_string(size.width) + " x " +
                                std::to_string(size.height) + "; the stream started at " +
                                std::to_string(first->width) + " x " +
                                std::to_string(first->height));
  }
}

// Makes the frame's bitmap from the bytes read and runs the chain over it;
// raw results go back into bytes, ready to be written.
void ProcessFrame(const Reader& reader, Geometry rawSize, const RawFormat* output,
                  const std::vector<Operation>& chain, Frame& frame) {
  const std::string name = FrameName(frame.number);
  try {
    if (reader.raw()) {
      thread_local ReusedFrame spare;
      if (!spare.Reshape(reader.format().bits, rawSize.width, rawSize.height)) {
        throw FileError(name, "out of memory");
      }
      ReadRawFrame(reader.format(), frame.bytes.data(), spare);
      frame.dib = spare;
    } else {
      if (const char* why = BitmapFileProblem(frame.bytes.data(), frame.bytes.size())) {
        throw FileError(name, why);
      }
      if (!frame.dib.CreateFromMemory(frame.bytes.data(), frame.bytes.size())) {
        throw FileError(name, "out of memory");
      }
      frame.alpha = CarriesAlpha(frame.dib);
    }
    std::vector<BYTE>().swap(frame.bytes);
    frame.input = {frame.dib.DIBWidth(), frame.dib.DIBHeight()};
    ApplyChain(chain, frame.dib, name);
    CheckWritable(frame.dib, name);
    if (reader.raw()) {
      frame.bytes.resize(RawFrameBytes(*output, frame.dib.DIBWidth(), frame.dib.DIBHeight()));
      WriteRawFrame(*output, frame.dib, frame.bytes.data());
      frame.dib.Delete();
    }
  } catch (const std::bad_alloc&) {
    throw FileError(name, "out of memory");
  }
}

// The pipe's own options come first; each operation name starts a link of
// the chain, with the words up to the next one.
std::vector<Operation> ParseChain(const std::vector<std::string>& words, Args& own) {
  std::size_t at = 0;
  while (at < words.size() && FindOperation(words[at]) == nullptr) ++at;
  own = ParseArgs({words.begin(), words.begin() + static_cast<std::ptrdiff_t>(at)}, {},
                  {"--size", "--format", "--output-format", "--jobs"});
  if (!own.positional.empty()) throw UsageError("unknown operation '" + own.positional[0] + "'");
  if (at == words.size()) throw UsageError("no operation given");
  std::vector<Operation> chain;
  while (at < words.size()) {
    const OperationDef& def = *FindOperation(words[at]);
    std::size_t end = at + 1;
    while (end < words.size() && FindOperation(words[end]) == nullptr) ++end;
    const Args args = ParseArgs({words.begin() + static_cast<std::ptrdiff_t>(at + 1),
                                 words.begin() + static_cast<std::ptrdiff_t>(end)},
                                def.flags, def.valued);
    const std::size_t wanted = def.argument != nullptr ? 1 : 0;
    if (args.positional.size() < wanted) {
      throw UsageError(std::string(def.name) + ": missing " + def.argument);
    }
    if (args.positional.size() > wanted) {
      throw UsageError(std::string(def.name) + ": unexpected '" + args.positional[wanted] + "'");
    }
    chain.push_back(def.make(args));
    at = end;
  }
  return chain;
}

}  // namespace

Status RunPipe(const std::vector<std::string>& words) {
  Args own;
  const std::vector<Operation> chain = ParseChain(words, own);
  const std::string* sizeText = own.Value("--size");
  const std::string* format = own.Value("--format");
  if ((sizeText == nullptr) != (format == nullptr)) {
    throw UsageError("raw frames need both --size and --format");
  }
  std::optional<RawFormat> rawFormat, outputFormat;
  Geometry rawSize;
  if (format != nullptr) {
    rawFormat = FindRawFormat(*format);
    const std::string* output = own.Value("--output-format");
    outputFormat = output != nullptr ? FindOutputFormat(*rawFormat, *output) : *rawFormat;
    const std::pair<int, int> size = ParseSize(*sizeText, 1);
    if (!kolvex::BitmapFits(rawFormat->bits, size.first, size.second)) {
      throw UsageError("--size " + *sizeText + ": a " + *format +
                       " frame of that size is larger than a bitmap can hold");
    }
    rawSize = {size.first, size.second};
  }
  if (!rawFormat && own.Value("--output-format") != nullptr) {
    throw UsageError("--output-format is for raw frames (--size and --format)");
  }
  const unsigned jobs = JobsOption(own);
  if (jobs > 1) kolvex::SetThreads(1);  // frames already run at once: each on its own thread

  // Writing into the file being read would overwrite what is still to come,
  // or read the results back without end; the shell has opened both already.
  const auto input = os::IdentityOfRegular(0);
  if (input && input == os::IdentityOfRegular(1)) {
    std::fprintf(stderr, "kolvex pipe: %s: refusing to overwrite the input (%s reads it)\n",
                 kOutput.c_str(), kInput.c_str());
    return kFailed;
  }
  os::PrepareStream(0);
  os::PrepareStream(1);
  const int in = os::WaitableStream(0);
  const int out = os::WaitableStream(1);
  Reader reader(in, rawFormat, rawSize);
  std::optional<Geometry> first;
  std::uint64_t written = 0;
  try {
    RunOrdered<Frame>(
        jobs,
        [](const std::string& line) { std::fprintf(stderr, "kolvex pipe: %s\n", line.c_str()); },
        [&](Frame& frame) { return Interruption() == 0 && reader.Next(frame); },
        [&](Frame& frame) {
          ProcessFrame(reader, rawSize, outputFormat ? &*outputFormat : nullptr, chain, frame);
        },
        [&](Frame& frame) {
          if (reader.raw()) {
            WriteFully(out, frame.bytes.data(), frame.bytes.size(), kOutput);
          } else {
            CheckSize(frame, first);
            WriteBitmap(frame.dib, frame.alpha, out, kOutput);
          }
          ++written;
        });
  } catch (const FileError& e) {
    std::fprintf(stderr, "kolvex pipe: %s\n", e.what());
    return kFailed;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "kolvex pipe: out of memory\n");
    return kFailed;
  } catch (const Interrupted&) {
  }
  if (Interruption() != 0) {
    std::fprintf(stderr, "kolvex pipe: interrupted after %llu frames\n",
                 static_cast<unsigned long long>(written));
    return static_cast<Status>(InterruptedStatus());
  }
  return kOk;
}

}  // namespace kolvex::cli
