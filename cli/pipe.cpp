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
#include "pixels.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace kolvex::cli {

const char* const kPipeUsage =
    "usage: kolvex pipe [--size WxH --format bgr24|bgra|gray] [--jobs N] OP [ARGS] [OP [ARGS]...]\n"
    "Reads frames on standard input, runs the operations on each in turn and\n"
    "writes the results on standard output, in the order they came.\n"
    "  --size WxH, --format F  raw frames of W x H pixels, rows from the top and no\n"
    "                          padding: bgr24 (blue, green, red bytes), bgra (4 bytes)\n"
    "                          or gray (1 byte); the results go out in the same format\n"
    "                          at the size the operations give\n"
    "  (neither)               bitmap files one after another, as ffmpeg -f image2pipe\n"
    "                          -c:v bmp writes and reads them; all of one size\n"
    "  --jobs N                frames at once (default: the number of cores)\n"
    "Operations, each with its options as the command of the same name takes them\n"
    "(see kolvex OP --help for the rows and rounding each one keeps to):\n"
    "  quarter [--field[=even|odd]]      eighth [--field[=even|odd]]\n"
    "  scale WxH [--field[=even|odd]]    mirror [--horizontal] [--vertical]\n"
    "  field --odd|--even [--interpolate]\n"
    "  brightness LEVEL                  median\n"
    "A stream that ends inside a frame, or changes size, is an error (exit 1) after\n"
    "the frames before it have been written.\n"
    "Example:\n"
    "  ffmpeg -i in.mp4 -f rawvideo -pix_fmt bgr24 - |\n"
    "    kolvex pipe --size 1920x1080 --format bgr24 quarter |\n"
    "    ffmpeg -f rawvideo -pix_fmt bgr24 -s 960x540 -i - out.mp4\n"
    "Memory: per job, one frame as read, the frame and one result.\n";

namespace {

const std::string kInput = "standard input";
const std::string kOutput = "standard output";

constexpr std::size_t kBitmapFileHeader = 14;

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

// The stream's form and the reading of one frame of it. Called one frame at a
// time, in order.
class Reader {
 public:
  Reader(std::optional<WORD> rawBits, Geometry size) : rawBits_(rawBits), size_(size) {}

  bool raw() const { return rawBits_.has_value(); }
  WORD rawBits() const { return *rawBits_; }

  // False at the end of the stream.
  bool Next(Frame& frame) {
    frame.number = ++count_;
    return raw() ? NextRaw(frame) : NextFile(frame);
  }

 private:
  bool NextRaw(Frame& frame) {
    const std::size_t size = static_cast<std::size_t>(size_.width) *
                             static_cast<std::size_t>(size_.height) * (*rawBits_ / 8u);
    frame.bytes.resize(size);
    return Fill(frame, 0, size);
  }

  bool NextFile(Frame& frame) {
    frame.bytes.resize(kBitmapFileHeader);
    if (!Fill(frame, 0, kBitmapFileHeader)) return false;
    const BYTE* head = frame.bytes.data();
    const std::uint32_t size = ReadLe32(head + 2);
    if (head[0] != 'B' || head[1] != 'M' || size < kBitmapFileHeader + 12 || size > 0x7FFFFFFF) {
      throw FileError(kInput, FrameName(frame.number) + " is not a bitmap file (bad file header)");
    }
    frame.bytes.resize(size);
    if (!Fill(frame, kBitmapFileHeader, size)) {
      throw FileError(kInput, "the stream ends inside the header of " + FrameName(frame.number));
    }
    return true;
  }

  // Reads bytes [from, to) of the frame; false when the stream ends before
  // the first of them.
  bool Fill(Frame& frame, std::size_t from, std::size_t to) {
    const std::size_t got = ReadFully(0, frame.bytes.data() + from, to - from, kInput);
    if (got == 0 && from == 0) return false;
    if (got < to - from) {
      throw FileError(kInput, "the stream ends inside " + FrameName(frame.number) + " (" +
                                  std::to_string(from + got) + " of " + std::to_string(to) +
                                  " bytes)");
    }
    return true;
  }

  std::optional<WORD> rawBits_;
  Geometry size_;
  std::uint64_t count_ = 0;
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
void ProcessFrame(const Reader& reader, Geometry rawSize, const std::vector<Operation>& chain,
                  Frame& frame) {
  const std::string name = FrameName(frame.number);
  if (reader.raw()) {
    thread_local ReusedFrame spare;
    if (!spare.Reshape(reader.rawBits(), rawSize.width, rawSize.height)) {
      throw FileError(name, "out of memory");
    }
    RawToRows(frame.bytes.data(), spare);
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
    frame.bytes.resize(RawFrameBytes(frame.dib));
    RowsToRaw(frame.dib, frame.bytes.data());
    frame.dib.Delete();
  }
}

WORD RawBits(const std::string& format) {
  if (format == "bgr24") return 24;
  if (format == "bgra") return 32;
  if (format == "gray") return 8;
  throw UsageError("--format " + format + ": expected bgr24, bgra or gray");
}

// The pipe's own options come first; each operation name starts a link of
// the chain, with the words up to the next one.
std::vector<Operation> ParseChain(const std::vector<std::string>& words, Args& own) {
  std::size_t at = 0;
  while (at < words.size() && FindOperation(words[at]) == nullptr) ++at;
  own = ParseArgs({words.begin(), words.begin() + static_cast<std::ptrdiff_t>(at)}, {},
                  {"--size", "--format", "--jobs"});
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
  std::optional<WORD> rawBits;
  Geometry rawSize;
  if (format != nullptr) {
    rawBits = RawBits(*format);
    const std::pair<int, int> size = ParseSize(*sizeText, 1);
    rawSize = {size.first, size.second};
  }
  const unsigned jobs = JobsOption(own);
  if (jobs > 1) kolvex::SetThreads(1);  // frames already run at once: each on its own thread

  os::PrepareStream(0);
  os::PrepareStream(1);
  Reader reader(rawBits, rawSize);
  std::optional<Geometry> first;
  std::uint64_t written = 0;
  try {
    RunOrdered<Frame>(
        jobs, [&](Frame& frame) { return Interruption() == 0 && reader.Next(frame); },
        [&](Frame& frame) { ProcessFrame(reader, rawSize, chain, frame); },
        [&](Frame& frame) {
          if (reader.raw()) {
            WriteFully(1, frame.bytes.data(), frame.bytes.size(), kOutput);
          } else {
            CheckSize(frame, first);
            WriteBitmap(frame.dib, frame.alpha, 1, kOutput);
          }
          ++written;
        });
  } catch (const FileError& e) {
    std::fprintf(stderr, "kolvex pipe: %s\n", e.what());
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
