#include "commands.h"

#include "display.h"
#include "files.h"
#include "options.h"
#include "progress.h"

#include <kolvex/kolvex.h>

#include <cstdio>
#include <functional>
#include <set>
#include <sys/stat.h>

namespace kolvex::cli {

namespace {

// ---- Frame processing, one file or a batch ----

// Makes `out` from `in` (which the operation may change: it is the tool's own
// freshly loaded copy). False when the library refuses the operation.
using FrameOp = std::function<bool(CRZDIB2& in, CRZDIB2& out)>;

const std::set<std::string> kBatchFlags = {"--quiet"};
const std::set<std::string> kBatchValues = {"-o"};

std::set<std::string> With(std::set<std::string> base, std::initializer_list<std::string> more) {
  base.insert(more);
  return base;
}

// The bit depths an operation handles, for a clear message instead of a bare
// failure.
struct Depths {
  std::set<int> bits;  // empty: every depth
  const char* text;    // e.g. "24 or 32"
};
const Depths kAnyDepth{{}, ""};
const Depths kColourDepths{{24, 32}, "24 or 32"};

// Runs `op` over `INPUT OUTPUT`, or over `-o DIR INPUT...` (outputs keep the
// inputs' file names). `skip` positional words belong to the operation itself.
Status RunFrames(const Args& args, std::size_t skip, const char* what, const Depths& depths,
                 const FrameOp& op) {
  const std::vector<std::string> words(args.positional.begin() + static_cast<std::ptrdiff_t>(skip),
                                       args.positional.end());
  std::vector<std::pair<std::string, std::string>> jobs;  // input, output
  if (const std::string* dir = args.Value("-o")) {
    if (words.empty()) throw UsageError("no input files");
    struct stat st {};
    if (::stat(dir->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      std::fprintf(stderr, "%s: not a directory\n", dir->c_str());
      return kFailed;
    }
    for (const std::string& in : words) jobs.emplace_back(in, *dir + "/" + BaseName(in));
  } else {
    if (words.size() != 2) throw UsageError("expected INPUT OUTPUT, or -o DIR INPUT...");
    jobs.emplace_back(words[0], words[1]);
  }

  const bool quiet = args.Has("--quiet");
  Progress progress(jobs.size() > 1 ? jobs.size() : 0, quiet);
  std::set<std::string> written;
  std::size_t failed = 0;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const auto& [input, output] = jobs[i];
    try {
      if (SameFile(input, output)) throw FileError(output, "refusing to overwrite the input");
      if (!written.insert(output).second) {
        throw FileError(output, "written already by an earlier frame of this run");
      }
      CRZDIB2 in;
      CRZDIB2 out;
      LoadBitmap(input, in);
      const int bits = in.DIBBitCount();
      if (!depths.bits.empty() && depths.bits.count(bits) == 0) {
        throw FileError(input, std::string(what) + " needs " + depths.text +
                                   " bits per pixel (this file has " + std::to_string(bits) + ")");
      }
      if (!op(in, out)) throw FileError(input, std::string(what) + " failed (out of memory)");
      SaveBitmap(out, output);
    } catch (const FileError& e) {
      progress.Message(e.what());
      ++failed;
    }
    progress.Step(i + 1, BaseName(input));
  }
  if (jobs.size() > 1 && (!quiet || failed > 0)) {
    progress.Message(std::to_string(jobs.size()) + " frames, " + std::to_string(failed) + " failed");
  }
  return failed == 0 ? kOk : kFailed;
}

// Marks a loaded frame as two interlaced fields, so that the operations keep
// to one field instead of mixing both.
void AsFields(CRZDIB2& dib, bool fields) {
  if (fields) dib.SetInterlacedFlag(0);
}

// quarter and eighth: a reduction made by `reduce`, over one field with --field.
Status Reduction(const std::vector<std::string>& words, const char* what,
                 bool (CRZDIBBase2::*reduce)(const CRZDIBBase2&)) {
  const Args args = ParseArgs(words, With(kBatchFlags, {"--field"}), kBatchValues);
  return RunFrames(args, 0, what, kColourDepths, [&](CRZDIB2& in, CRZDIB2& out) {
    AsFields(in, args.Has("--field"));
    return (out.*reduce)(in);
  });
}

Status Quarter(const std::vector<std::string>& words) {
  return Reduction(words, "quarter", &CRZDIBBase2::CreateQuarter);
}

Status Eighth(const std::vector<std::string>& words) {
  return Reduction(words, "eighth", &CRZDIBBase2::CreateEighth);
}

Status Scale(const std::vector<std::string>& words) {
  const Args args = ParseArgs(words, With(kBatchFlags, {"--field"}), kBatchValues);
  if (args.positional.empty()) throw UsageError("missing WIDTHxHEIGHT");
  // Plain variables: clang 14 cannot capture structured bindings in a lambda.
  const std::pair<int, int> size = ParseSize(args.positional[0], 1);
  const int w = size.first;
  const int h = size.second;
  const bool field = args.Has("--field");
  return RunFrames(args, 1, "scale", kColourDepths, [&](CRZDIB2& in, CRZDIB2& out) {
    AsFields(in, field);
    // From one field the result is a progressive frame built from field rows only.
    return field ? out.CreateScaled(in, w, h, 1) : out.CreateScaled(in, w, h);
  });
}

Status Mirror(const std::vector<std::string>& words) {
  const Args args = ParseArgs(words, With(kBatchFlags, {"--horizontal", "--vertical"}), kBatchValues);
  const bool vertical = args.Has("--vertical");
  const bool horizontal = args.Has("--horizontal") || !vertical;
  return RunFrames(args, 0, "mirror", Depths{{24, 32, 64}, "24, 32 or 64"}, [&](CRZDIB2& in, CRZDIB2& out) {
    return out.Create(in) && out.Mirror(horizontal, vertical, in);
  });
}

Status Field(const std::vector<std::string>& words) {
  const Args args =
      ParseArgs(words, With(kBatchFlags, {"--odd", "--even", "--interpolate"}), kBatchValues);
  if (args.Has("--odd") == args.Has("--even")) throw UsageError("give exactly one of --odd and --even");
  const int odd = args.Has("--odd") ? 1 : 0;
  const int interpolate = args.Has("--interpolate") ? 1 : 0;
  return RunFrames(args, 0, "field", kAnyDepth, [&](CRZDIB2& in, CRZDIB2& out) {
    return out.CreateInterpolatedFrame(in, odd, interpolate);
  });
}

Status Brightness(const std::vector<std::string>& words) {
  const Args args = ParseArgs(words, kBatchFlags, kBatchValues);
  if (args.positional.empty()) throw UsageError("missing LEVEL");
  const int level = ParseInt(args.positional[0]);
  return RunFrames(args, 1, "brightness", kColourDepths, [&](CRZDIB2& in, CRZDIB2& out) {
    if (!in.AdjustBrightness(level)) return false;
    out = in;
    return true;
  });
}

Status Median(const std::vector<std::string>& words) {
  const Args args = ParseArgs(words, kBatchFlags, kBatchValues);
  return RunFrames(args, 0, "median", Depths{{8, 24, 32}, "8, 24 or 32"}, [&](CRZDIB2& in, CRZDIB2& out) {
    return out.Create(in) && out.Median3x3(in);
  });
}

// ---- Single-file commands ----

// Runs `body`; a FileError becomes its one-line message and a failed status.
Status Reporting(const std::function<void()>& body) {
  try {
    body();
  } catch (const FileError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return kFailed;
  }
  return kOk;
}

Status Weave(const std::vector<std::string>& words) {
  const Args args = ParseArgs(words, {}, {});
  if (args.positional.size() != 3) throw UsageError("expected EVEN ODD OUT");
  const std::string& evenPath = args.positional[0];
  const std::string& oddPath = args.positional[1];
  const std::string& outPath = args.positional[2];
  return Reporting([&] {
    for (const std::string* in : {&evenPath, &oddPath}) {
      if (SameFile(*in, outPath)) throw FileError(outPath, "refusing to overwrite the input");
    }
    CRZDIB2 even, odd, frame;
    LoadBitmap(evenPath, even);
    LoadBitmap(oddPath, odd);
    if (!even.DIBsEqual(odd)) {
      throw FileError(oddPath, "size differs from " + evenPath + " (" +
                                   std::to_string(even.DIBWidth()) + " x " +
                                   std::to_string(even.DIBHeight()) + ", " +
                                   std::to_string(even.DIBBitCount()) + " bits)");
    }
    if (!frame.Create(even) || !frame.CopyField(even, 0) || !frame.CopyField(odd, 1)) {
      throw FileError(outPath, "out of memory");
    }
    frame.SetInterlacedFlag(0);  // two fields now, whatever the inputs said
    SaveBitmap(frame, outPath);
  });
}

// The virtual screen lives in this process only. --screen FILE carries it
// into a run: it is painted from FILE first.
void LoadScreen(const std::string& path) {
  CRZDIB2 screen;
  LoadBitmap(path, screen);
  // The virtual screen takes the file's size; where there is none (Windows),
  // the real screen is painted as it is.
  const bool ready = kolvex::platform::SetVirtualScreenSize(screen.DIBWidth(), screen.DIBHeight()) ||
                     !kolvex::platform::IsVirtualScreen();
  if (!ready || !screen.DrawToDesktop(0, 0, 0, 0)) {
    throw FileError(path, "cannot paint it onto the screen");
  }
}

Status Capture(const std::vector<std::string>& words) {
  const Args args = ParseArgs(words, {}, {"--rect", "--screen"});
  if (args.positional.size() != 1) throw UsageError("expected OUTPUT");
  RECT area{};
  const std::string* rect = args.Value("--rect");
  if (rect != nullptr) {
    const std::vector<int> v = ParseInts(*rect, 4);
    area = RECT{v[0], v[1], v[2], v[3]};
    if (area.right <= area.left || area.bottom <= area.top) {
      throw UsageError("--rect " + *rect + " is empty (expected LEFT,TOP,RIGHT,BOTTOM)");
    }
  }
  const std::string& output = args.positional[0];
  return Reporting([&] {
    if (const std::string* screen = args.Value("--screen")) {
      LoadScreen(*screen);
    } else {
      UseRealScreen("capture");
    }
    CRZDIB2 dib;
    if (!dib.CreateFromDesktop(rect != nullptr ? &area : nullptr)) {
      throw FileError(output, "capture failed");
    }
    SaveBitmap(dib, output);
  });
}

Status Show(const std::vector<std::string>& words) {
  const Args args = ParseArgs(words, {}, {});
  if (args.positional.empty()) throw UsageError("no input files");
  return Reporting([&] {
    std::vector<Picture> pictures(args.positional.size());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
      pictures[i].name = BaseName(args.positional[i]);
      LoadBitmap(args.positional[i], pictures[i].dib);
    }
    ShowPictures(pictures);
  });
}

#define BATCH_USAGE                                                        \
  "   or: the same with -o DIR INPUT... for a batch of frames\n"              \
  "  -o DIR    write one output per input into DIR, under the input's name\n" \
  "  --quiet   no progress bar and no summary\n"

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"info", "describe bitmap files: their own format and what they load as",
       "usage: kolvex info [--json] FILE...\n"
       "Reads each file's headers only (a file of any size takes a few kilobytes) and\n"
       "prints its size, row order, header kind, depth, compression, bit-field masks,\n"
       "palette entries and where its pixels start, then what loading makes of it:\n"
       "8-bit grey values, 24-bit colours, or 32 bits with or without alpha.\n"
       "  --json   one JSON array for scripts, an object per file in order; a file\n"
       "           that cannot be read is {\"file\", \"error\"} (and the exit status 1)\n",
       RunInfo},
      {"quarter", "halve width and height (2x2 means, rounded)",
       "usage: kolvex quarter [--field] INPUT OUTPUT\n" BATCH_USAGE
       "  --field   treat the input as two interlaced fields and average within one\n",
       Quarter},
      {"eighth", "divide width and height by four (4x4 means, rounded)",
       "usage: kolvex eighth [--field] INPUT OUTPUT\n" BATCH_USAGE
       "  --field   treat the input as two interlaced fields and average within one\n",
       Eighth},
      {"scale", "resize by nearest-neighbour sampling",
       "usage: kolvex scale WIDTHxHEIGHT [--field] INPUT OUTPUT\n" BATCH_USAGE
       "  --field   build the result from one field of an interlaced input\n",
       Scale},
      {"mirror", "flip left to right and/or top to bottom",
       "usage: kolvex mirror [--horizontal] [--vertical] INPUT OUTPUT\n" BATCH_USAGE
       "  --horizontal  reverse each row (the default when neither is given)\n"
       "  --vertical    reverse the order of the rows\n",
       Mirror},
      {"field", "a progressive frame from one field of an interlaced frame",
       "usage: kolvex field --odd|--even [--interpolate] INPUT OUTPUT\n" BATCH_USAGE
       "  --odd, --even   the field to keep (picture rows 1,3,5... or 0,2,4... from the top)\n"
       "  --interpolate   fill the other rows with rounded means instead of repeats\n",
       Field},
      {"weave", "two fields into one interlaced frame",
       "usage: kolvex weave EVEN ODD OUT\n"
       "Takes the even picture rows from EVEN and the odd ones from ODD.\n",
       Weave},
      {"brightness", "brighten or darken through a clamped table",
       "usage: kolvex brightness LEVEL INPUT OUTPUT\n" BATCH_USAGE
       "LEVEL 128 keeps the values; each step below brightens by 1, above darkens by 1.\n",
       Brightness},
      {"median", "3x3 median filter (borders kept)",
       "usage: kolvex median INPUT OUTPUT\n" BATCH_USAGE, Median},
      {"capture", "the X display's screen to a bitmap file",
       "usage: kolvex capture [--rect L,T,R,B] [--screen FILE] OUTPUT\n"
       "Captures the screen of the X display DISPLAY names.\n"
       "  --rect L,T,R,B  the area to grab (default: the whole screen)\n"
       "  --screen FILE   capture the in-process virtual screen instead, painted from\n"
       "                  FILE first\n",
       Capture},
      {"show", "show bitmap files in a window on the X display",
       "usage: kolvex show FILE...\n"
       "Opens a window on the X display DISPLAY names showing each file at its natural\n"
       "size (scaled down to fit the screen). Space, Right, Down, Page Down: next file;\n"
       "Left, Up, Page Up, Backspace: previous file; q or Escape: quit.\n",
       Show},
      {"demo", "run the library's typical road and save every stage",
       "usage: kolvex demo [--screen] [DIR]\n"
       "Paints a test card onto the virtual screen, captures it, reduces, rebuilds a\n"
       "frame from one field, filters, draws the results back and saves every stage\n"
       "as a bitmap file in DIR (default ./kolvex-demo).\n"
       "  --screen  run on the screen of the X display DISPLAY names instead\n",
       RunDemo},
  };
  return commands;
}

}  // namespace kolvex::cli
