// `kolvex demo`: the library's typical road, run on the virtual screen (or,
// with --screen, on the X display's). A generated test card is painted onto
// the screen and captured; the capture is reduced, rebuilt from one field,
// filtered and scaled; the results are drawn back beside each other; every
// stage is saved and timed.

#include "commands.h"
#include "display.h"
#include "files.h"
#include "options.h"
#include "os.h"

#include <kolvex/kolvex.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>

namespace kolvex::cli {

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

struct Rgb {
  BYTE r, g, b;
};

// Writes picture row y (counted from the top) of a 24-bit bitmap.
BYTE* PictureRow(CRZDIB2& dib, int y) {
  return dib.GetBytes() + static_cast<std::size_t>(dib.DIBHeight() - 1 - y) * dib.DIBBytesPerLine();
}

void Put(BYTE* row, int x, Rgb c) {
  row[3 * x] = c.b;
  row[3 * x + 1] = c.g;
  row[3 * x + 2] = c.r;
}

// Colour bars over the top half, grey and colour ramps below them, and at the
// bottom a band in which the two fields of the frame disagree: a bar that
// moved between the fields and thin diagonals, which show the combing that the
// field operations are for.
bool MakeTestCard(CRZDIB2& card) {
  if (!card.Create(24, kWidth, kHeight, kInterlacedFrame)) return false;
  const Rgb bars[] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                      {191, 0, 191},   {191, 0, 0},   {0, 0, 191},   {16, 16, 16}};
  for (int y = 0; y < kHeight; ++y) {
    BYTE* row = PictureRow(card, y);
    for (int x = 0; x < kWidth; ++x) {
      Rgb c{};
      const auto ramp = static_cast<BYTE>(x * 255 / (kWidth - 1));
      if (y < kHeight / 2) {
        c = bars[x * 8 / kWidth];
      } else if (y < kHeight * 5 / 8) {
        c = {ramp, ramp, ramp};
      } else if (y < kHeight * 3 / 4) {
        const int band = (y - kHeight * 5 / 8) * 3 / (kHeight / 8);
        c = {band == 0 ? ramp : BYTE{0}, band == 1 ? ramp : BYTE{0}, band == 2 ? ramp : BYTE{0}};
      } else {
        const bool odd = (y & 1) != 0;
        const int barLeft = kWidth / 3 + (odd ? 48 : 0);  // moved between the fields
        const bool onBar = x >= barLeft && x < barLeft + 160;
        const bool onDiagonal = ((x + (odd ? 24 : 0) + y) % 96) < 3;
        c = onBar ? Rgb{240, 240, 240} : onDiagonal ? Rgb{255, 200, 0} : Rgb{24, 24, 48};
      }
      Put(row, x, c);
    }
  }
  return true;
}

class Demo {
 public:
  explicit Demo(std::string dir) : dir_(std::move(dir)) {}

  // Runs one stage, prints its line and saves `result` (when given) as `file`.
  void Stage(const char* name, const char* file, CRZDIB2* result,
             const std::function<bool()>& work) {
    const auto start = std::chrono::steady_clock::now();
    const bool ok = work();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!ok)
      throw FileError(file != nullptr ? dir_ + "/" + file : name, std::string(name) + " failed");
    std::string size = "";
    if (result != nullptr && result->IsValidDIB()) {
      size = std::to_string(result->DIBWidth()) + " x " + std::to_string(result->DIBHeight()) +
             ", " + std::to_string(result->DIBBitCount()) + " bits";
    }
    std::string saved;
    if (file != nullptr && result != nullptr) {
      SaveBitmap(*result, dir_ + "/" + file);
      saved = dir_ + "/" + file;
    }
    std::printf("%-24s %-24s %8.2f ms  %s\n", name, size.c_str(), ms, saved.c_str());
    std::fflush(stdout);
  }

 private:
  std::string dir_;
};

}  // namespace

Status RunDemo(const std::vector<std::string>& words) {
  const Args args = ParseArgs(words, {"--screen"}, {});
  if (args.positional.size() > 1) throw UsageError("expected at most one directory");
  const std::string dir = args.positional.empty() ? "kolvex-demo" : args.positional[0];
  if (!os::MakeDirectory(dir)) {
    std::fprintf(stderr, "%s: cannot create the directory (%s)\n", dir.c_str(),
                 std::strerror(errno));
    return kFailed;
  }

  Demo demo(dir);
  CRZDIB2 card, captured, quarter, eighth, fields, frame, median, brighter, scaled, screen;
  RECT cardArea{0, 0, kWidth, kHeight};
  try {
    if (args.Has("--screen")) {
      UseRealScreen("demo");
    } else {
      // The virtual screen at the card's size; where there is none (Windows),
      // the real screen must hold the card.
      demo.Stage("screen", nullptr, nullptr, [] {
        return kolvex::platform::SetVirtualScreenSize(kWidth, kHeight) ||
               (!kolvex::platform::IsVirtualScreen() && GetSystemMetrics(SM_CXSCREEN) >= kWidth &&
                GetSystemMetrics(SM_CYSCREEN) >= kHeight);
      });
    }
    demo.Stage("test card", "01-testcard.bmp", &card, [&] { return MakeTestCard(card); });
    demo.Stage("paint onto the screen", nullptr, &card,
               [&] { return card.DrawToDesktop(0, 0, 0, 0); });
    demo.Stage("capture the screen", "02-capture.bmp", &captured,
               [&] { return captured.CreateFromDesktop(&cardArea); });
    demo.Stage("quarter", "03-quarter.bmp", &quarter,
               [&] { return quarter.CreateQuarter(captured); });
    demo.Stage("eighth", "04-eighth.bmp", &eighth, [&] { return eighth.CreateEighth(captured); });
    demo.Stage("frame from odd field", "05-odd-field-interpolated.bmp", &frame, [&] {
      fields = captured;                           // shares the pixels...
      fields.SetInterlacedFlag(kInterlacedFrame);  // ...until it marks its own copy as two fields
      return frame.CreateInterpolatedFrame(fields, static_cast<int>(Field::Odd), 1);
    });
    demo.Stage("median 3x3", "06-median.bmp", &median,
               [&] { return median.Create(captured) && median.Median3x3(captured); });
    demo.Stage("brightness 96", "07-brighter.bmp", &brighter, [&] {
      brighter = captured;
      return brighter.AdjustBrightness(96);
    });
    demo.Stage("scale to 1280 x 720", "08-scaled.bmp", &scaled,
               [&] { return scaled.CreateScaled(captured, 1280, 720); });
    demo.Stage("draw results back", nullptr, nullptr, [&] {
      const int right = kWidth - quarter.DIBWidth();
      return quarter.DrawToDesktop(right, 0, 0, 0) &&
             eighth.DrawToDesktop(right, quarter.DIBHeight(), 0, 0) &&
             brighter.DrawToDesktop(0, kHeight / 2, kWidth / 4, kHeight * 3 / 4) &&
             frame.DrawToDesktop(kWidth / 4, kHeight / 2, kWidth / 2, kHeight * 3 / 4);
    });
    demo.Stage("capture the result", "09-screen.bmp", &screen,
               [&] { return screen.CreateFromDesktop(&cardArea); });
  } catch (const FileError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return kFailed;
  }
  return kOk;
}

}  // namespace kolvex::cli
