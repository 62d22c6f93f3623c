#include "commands.h"

#include "display.h"
#include "files.h"
#include "interrupt.h"
#include "jobs.h"
#include "operations.h"
#include "options.h"
#include "os.h"
#include "progress.h"

#include <kolvex/kolvex.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <new>
#include <set>

namespace kolvex::cli {

namespace {

// ---- Frame processing, one file or a batch ----

const std::set<std::string> kBatchFlags = {"--quiet"};
const std::set<std::string> kBatchValues = {"-o", "--jobs"};

std::set<std::string> With(std::set<std::string> base, const std::set<std::string>& more) {
  base.insert(more.begin(), more.end());
  return base;
}

struct Job {
  std::string input;
  std::string output;
  std::string refusal;  // why the job must not run, found before any runs
};

// Refuses every output that would replace an input of the run (its own or
// another job's, whichever runs first) or an output written earlier in it.
void CheckOutputs(std::vector<Job>& jobs) {
  std::set<os::FileId> inputs;
  for (const Job& job : jobs) {
    if (const auto id = os::IdentityOf(job.input)) inputs.insert(*id);
  }
  std::set<std::string> names;
  std::set<os::FileId> existing;
  for (Job& job : jobs) {
    const auto id = os::IdentityOf(job.output);
    if (id && inputs.count(*id) != 0) {
      job.refusal = SameFile(job.input, job.output) ? "refusing to overwrite the input"
                                                    : "refusing to overwrite an input of this run";
    } else if (!names.insert(job.output).second || (id && !existing.insert(*id).second)) {
      job.refusal = "written already by an earlier frame of this run";
    }
  }
}

// Runs `op` over `INPUT OUTPUT`, or over `-o DIR INPUT...` (outputs keep the
// inputs' file names) on --jobs threads. `skip` positional words belong to
// the operation itself.
Status RunFrames(const Args& args, std::size_t skip, const Operation& op) {
  const std::vector<std::string> words(args.positional.begin() + static_cast<std::ptrdiff_t>(skip),
                                       args.positional.end());
  std::vector<Job> jobs;
  const std::string* dir = args.Value("-o");
  if (dir != nullptr) {
    if (words.empty()) throw UsageError("no input files");
    for (const std::string& in : words) jobs.push_back({in, *dir + "/" + BaseName(in), {}});
  } else {
    if (words.size() != 2) throw UsageError("expected INPUT OUTPUT, or -o DIR INPUT...");
    jobs.push_back({words[0], words[1], {}});
  }
  const unsigned threads = std::min<unsigned>(JobsOption(args), static_cast<unsigned>(jobs.size()));
  if (threads > 1) kolvex::SetThreads(1);  // frames already run at once: each on its own thread
  if (dir != nullptr) {
    try {
      EnsureDirectory(*dir);
    } catch (const FileError& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return kFailed;
    }
  }
  CheckOutputs(jobs);

  const std::vector<Operation> chain{op};
  const bool quiet = args.Has("--quiet");
  Progress progress(jobs.size() > 1 ? jobs.size() : 0, quiet);
  struct Outcome {
    std::size_t index;
    std::string error;
    bool interrupted;
  };
  std::size_t next = 0;
  std::size_t finished = 0;
  std::size_t failed = 0;
  bool interrupted = false;
  RunOrdered<Outcome>(
      threads, [&](const std::string& line) { progress.Message(line); },
      [&](Outcome& o) {
        if (next == jobs.size() || Interruption() != 0) return false;
        o.index = next++;
        return true;
      },
      [&](Outcome& o) {
        const Job& job = jobs[o.index];
        try {
          if (!job.refusal.empty()) throw FileError(job.output, job.refusal);
          CRZDIB2 frame;
          bool alpha = false;
          LoadBitmap(job.input, frame, &alpha);
          ApplyChain(chain, frame, job.input);
          SaveBitmap(frame, job.output, alpha);
        } catch (const FileError& e) {
          o.error = e.what();
        } catch (const Interrupted&) {
          o.interrupted = true;
        } catch (const std::bad_alloc&) {  // the tool's own bookkeeping of the frame
          o.error = job.input + ": out of memory";
        }
      },
      [&](Outcome& o) {
        if (o.interrupted) {
          interrupted = true;
          return;
        }
        if (!o.error.empty()) {
          progress.Message(o.error);
          ++failed;
        }
        progress.Step(++finished, BaseName(jobs[o.index].input));
      });
  // A signal after the last frame still answers as a signal: the user asked to stop.
  const bool signalled = Interruption() != 0;
  if (jobs.size() == 1 && interrupted) {
    std::fprintf(stderr, "%s: interrupted; nothing written\n", jobs[0].output.c_str());
  } else if (jobs.size() > 1 && (!quiet || failed > 0 || signalled)) {
    std::string summary =
        std::to_string(jobs.size()) + " frames, " + std::to_string(failed) + " failed";
    if (signalled) summary += ", interrupted after " + std::to_string(finished);
    progress.Message(summary);
  }
  if (signalled) return static_cast<Status>(InterruptedStatus());
  return failed == 0 ? kOk : kFailed;
}

// A per-file command of one operation.
Status RunOperation(const char* name, const std::vector<std::string>& words) {
  const OperationDef& def = *FindOperation(name);
  const Args args = ParseArgs(words, With(kBatchFlags, def.flags), With(kBatchValues, def.valued));
  const std::size_t own = def.argument != nullptr ? 1 : 0;
  if (args.positional.size() < own) throw UsageError(std::string("missing ") + def.argument);
  return RunFrames(args, own, def.make(args));
}

Status Quarter(const std::vector<std::string>& words) { return RunOperation("quarter", words); }
Status Eighth(const std::vector<std::string>& words) { return RunOperation("eighth", words); }
Status Scale(const std::vector<std::string>& words) { return RunOperation("scale", words); }
Status Mirror(const std::vector<std::string>& words) { return RunOperation("mirror", words); }
Status Field(const std::vector<std::string>& words) { return RunOperation("field", words); }
Status Brightness(const std::vector<std::string>& words) {
  return RunOperation("brightness", words);
}
Status Median(const std::vector<std::string>& words) { return RunOperation("median", words); }

// ---- Single-file commands ----

// Runs `body`; a FileError becomes its one-line message and a failed status.
Status Reporting(const std::function<void()>& body) {
  try {
    body();
  } catch (const FileError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return kFailed;
  } catch (const Interrupted&) {
    return static_cast<Status>(InterruptedStatus());
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
    bool evenAlpha = false;
    bool oddAlpha = false;
    LoadBitmap(evenPath, even, &evenAlpha);
    LoadBitmap(oddPath, odd, &oddAlpha);
    if (!even.DIBsEqual(odd)) {
      throw FileError(oddPath, "size differs from " + evenPath + " (" +
                                   std::to_string(even.DIBWidth()) + " x " +
                                   std::to_string(even.DIBHeight()) + ", " +
                                   std::to_string(even.DIBBitCount()) + " bits)");
    }
    if (!frame.Create(even) || !frame.CopyField(even, static_cast<int>(Field::Even)) ||
        !frame.CopyField(odd, static_cast<int>(Field::Odd))) {
      throw FileError(outPath, "out of memory");
    }
    frame.SetInterlacedFlag(kInterlacedFrame);  // two fields now, whatever the inputs said
    SaveBitmap(frame, outPath, evenAlpha && oddAlpha);
  });
}

// The virtual screen lives in this process only. --screen FILE carries it
// into a run: it is painted from FILE first.
void LoadScreen(const std::string& path) {
  CRZDIB2 screen;
  LoadBitmap(path, screen);
  // The virtual screen takes the file's size; where there is none (Windows),
  // the real screen is painted as it is.
  const bool ready =
      kolvex::platform::SetVirtualScreenSize(screen.DIBWidth(), screen.DIBHeight()) ||
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
    const std::string* screen = args.Value("--screen");
    if (screen != nullptr && SameFile(*screen, output)) {
      throw FileError(output, "refusing to overwrite the screen file it captures from");
    }
    if (screen != nullptr) {
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

// The help of a per-file operation: its synopsis, the batch form and options,
// then the operation's own text.
const char* BatchUsage(const char* name) {
  static std::map<std::string, std::string> texts;
  std::string& text = texts[name];
  if (text.empty()) {
    const std::string usage = FindOperation(name)->usage;
    const auto synopsis = usage.find('\n') + 1;
    text = usage.substr(0, synopsis) +
           "   or: the same with -o DIR INPUT... for a batch of frames\n"
           "  -o DIR      write one output per input into DIR, under the input's name\n"
           "              (DIR is created when missing; its parent must exist)\n"
           "  --jobs N    frames at once, 1 to " +
           std::to_string(kMaxJobs) +
           " (default: the number of cores, at most\n"
           "              that); outputs and messages as with one, memory N times that\n"
           "              of one frame; where fewer threads can start, it says so and\n"
           "              runs with those\n"
           "  --quiet     no progress bar and no summary\n" +
           usage.substr(synopsis);
  }
  return text.c_str();
}

const char* Summary(const char* name) { return FindOperation(name)->summary; }

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
      {"quarter", Summary("quarter"), BatchUsage("quarter"), Quarter},
      {"eighth", Summary("eighth"), BatchUsage("eighth"), Eighth},
      {"scale", Summary("scale"), BatchUsage("scale"), Scale},
      {"mirror", Summary("mirror"), BatchUsage("mirror"), Mirror},
      {"field", Summary("field"), BatchUsage("field"), Field},
      {"weave", "two fields into one interlaced frame",
       "usage: kolvex weave EVEN ODD OUT\n"
       "Takes the even picture rows (0, 2, 4... from the top) from EVEN and the odd\n"
       "ones from ODD; both must have the same size and depth.\n"
       "Memory: the two inputs and the frame, each of their size.\n",
       Weave},
      {"brightness", Summary("brightness"), BatchUsage("brightness"), Brightness},
      {"median", Summary("median"), BatchUsage("median"), Median},
      {"pipe", "video frames from standard input through operations to standard output",
       PipeUsage(), RunPipe},
      {"capture", "the X display's screen to a bitmap file",
       "usage: kolvex capture [--rect L,T,R,B] [--screen FILE] OUTPUT\n"
       "Captures the screen of the X display DISPLAY names.\n"
       "  --rect L,T,R,B  the area to grab (default: the whole screen)\n"
       "  --screen FILE   capture the in-process virtual screen instead, painted from\n"
       "                  FILE first (FILE is never the output)\n"
       "Memory: the captured area (and with --screen, the screen and FILE's image).\n",
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
       "  --screen  run on the screen of the X display DISPLAY names instead\n"
       "Memory: every stage, about ten 1920 x 1080 images.\n",
       RunDemo},
  };
  return commands;
}

}  // namespace kolvex::cli
