// The screen: the same capture and drawing cases on the virtual screen and on
// Xvfb displays with and without MIT-SHM, checked on a display by programs
// that are not ours (import reads what the library drew, xwud shows what the
// library must capture); then choosing the screen, and a display that dies.

#include "x11_support.h"

#include <dirent.h>

namespace {

using kt::x11::Image;
using kt::x11::ShownImage;

enum class Kind { Virtual, Shm, Plain };

class Screens : public kt::NoLeaks, public testing::WithParamInterface<Kind> {
 protected:
  void SetUp() override {
    NoLeaks::SetUp();
    if (GetParam() == Kind::Virtual) {
      ASSERT_TRUE(kolvex::platform::SetVirtualScreenSize(320, 200));
    } else {
      display_ = kt::x11::FixtureDisplay(GetParam() == Kind::Shm ? "shm" : "plain");
      if (display_.empty()) GTEST_SKIP() << "Xvfb is not installed";
      for (const char* tool : {"import", "convert", "xwud"}) {
        if (!kt::x11::HasProgram(tool)) GTEST_SKIP() << tool << " is not installed (Debian: imagemagick, x11-apps)";
      }
      std::string why;
      ASSERT_TRUE(kolvex::platform::UseDisplay(display_.c_str(), &why)) << why;
    }
    w_ = GetSystemMetrics(SM_CXSCREEN);
    h_ = GetSystemMetrics(SM_CYSCREEN);
  }
  void TearDown() override {
    xwud_.reset();
    NoLeaks::TearDown();
    kolvex::platform::SetVirtualScreenSize(1920, 1080);
  }

  // What the screen shows: on a display as import reads it; on the virtual
  // screen through a plain BitBlt from a screen DC.
  Image Look(int x, int y, int w, int h) const {
    if (!display_.empty()) return kt::x11::Import(display_, x, y, w, h);
    kt::DeviceBitmap copy(w, h);
    HDC screen = GetDC(nullptr);
    BitBlt(copy.dc, 0, 0, w, h, screen, x, y, SRCCOPY);
    ReleaseDC(nullptr, screen);
    Image out{w, h, kt::ReadBack(copy.dc, copy.bm, w, h)};
    for (auto& p : out.px) p &= 0xFFFFFF;
    return out;
  }

  // Shows `image` at (x, y): by xwud on a display, by StretchDIBits onto a
  // screen DC on the virtual screen.
  void Show(const Image& image, int x, int y) {
    if (!display_.empty()) {
      xwud_ = std::make_unique<kt::x11::Xwud>(display_, image, x, y);
      return;
    }
    BITMAPINFO info = kt::Info(image.w, -image.h, 32);
    HDC screen = GetDC(nullptr);
    StretchDIBits(screen, x, y, image.w, image.h, 0, 0, image.w, image.h, image.px.data(), &info,
                  DIB_RGB_COLORS, SRCCOPY);
    ReleaseDC(nullptr, screen);
  }

  std::string display_;
  std::unique_ptr<kt::x11::Xwud> xwud_;
  int w_ = 0;
  int h_ = 0;
};

TEST_P(Screens, MetricsAreTheScreenSize) {
  if (display_.empty()) {
    EXPECT_EQ(w_, 320);
    EXPECT_EQ(h_, 200);
    return;
  }
  const Image root = kt::x11::Import(display_, 0, 0, 10000, 10000);
  EXPECT_EQ(w_, root.w);
  EXPECT_EQ(h_, root.h);
}

TEST_P(Screens, DrawingPutsExactlyThePixelsOnTheScreen) {
  struct Case {
    const char* name;
    int w, h;  // on the screen
    bool (*draw)(CRZDIB2&, int x, int y, int w, int h);
  };
  const Case cases[] = {
      {"DrawToDesktop, natural size", 23, 17, [](CRZDIB2& d, int x, int y, int, int) { return d.DrawToDesktop(x, y, 0, 0); }},
      {"DrawToDesktop, stretched", 46, 9,
       [](CRZDIB2& d, int x, int y, int w, int h) { return d.DrawToDesktop(x, y, x + w, y + h); }},
      {"Draw on a screen CDC", 31, 17, [](CRZDIB2& d, int x, int y, int w, int h) {
         CDC dc;
         dc.Attach(GetWindowDC(GetDesktopWindow()));
         const bool drawn = d.Draw(dc, CRect(x, y, x + w, y + h), CRect(0, 0, d.DIBWidth(), d.DIBHeight()), nullptr);
         ReleaseDC(GetDesktopWindow(), dc.Detach());
         return drawn;
       }},
  };
  int i = 0;
  for (const Case& c : cases) {
    for (WORD bits : {8, 24, 32}) {
      for (bool section : {false, true}) {
        SCOPED_TRACE(testing::Message() << c.name << ", " << bits << " bits" << (section ? ", DIB section" : ""));
        CRZDIB2 dib;
        BITMAPINFOHEADER format = kt::Info(23, 17, bits).bmiHeader;
        ASSERT_TRUE(section ? dib.CreateDIBSection(&format, 1) : dib.Create(bits, 23, 17, 1));
        kt::FillRandom(dib, bits + i);
        const int x = 5 + i % 4 * 50;
        const int y = 3 + i / 4 * 20;
        ++i;
        ASSERT_TRUE(c.draw(dib, x, y, c.w, c.h));
        EXPECT_EQ(Look(x, y, c.w, c.h), kt::x11::Stretched(ShownImage(dib), c.w, c.h));
      }
    }
  }
}

TEST_P(Screens, AlphaShowsAsGreyAtTheOrigin) {
  CRZDIB2 dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 32, 19, 11, 1, 3));
  ASSERT_TRUE(dib.DrawDIBsAlphaToDesktop(100, 50, 0, 0));  // empty: natural size at (0, 0)
  const Image seen = Look(0, 0, 19, 11);
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 19; ++x) {
      const BYTE alpha = dib.GetBytes()[(10 - y) * dib.DIBBytesPerLine() + 4 * x + 3];
      ASSERT_EQ(seen.At(x, y), alpha * 0x010101u) << x << "," << y;
    }
  }
}

TEST_P(Screens, DrawingAndCaptureAreClippedAtTheEdges) {
  CRZDIB2 dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 24, 23, 17, 1, 9));
  const Image shown = ShownImage(dib);
  const Image before = Look(0, 0, w_, h_);
  const POINT corners[] = {{-5, -4}, {w_ - 10, -4}, {-5, h_ - 6}, {w_ - 10, h_ - 6}};
  for (const POINT& at : corners) ASSERT_TRUE(dib.DrawToDesktop(at.x, at.y, at.x + 23, at.y + 17));
  const Image after = Look(0, 0, w_, h_);
  for (int y = 0; y < h_; ++y) {
    for (int x = 0; x < w_; ++x) {
      std::uint32_t expected = before.At(x, y);
      for (const POINT& at : corners) {
        if (x >= at.x && x < at.x + 23 && y >= at.y && y < at.y + 17) expected = shown.At(x - at.x, y - at.y);
      }
      ASSERT_EQ(after.At(x, y), expected) << x << "," << y;
    }
  }
  // A capture over the corner: what lies off the screen reads black.
  RECT area{w_ - 10, h_ - 6, w_ + 3, h_ + 2};
  kt::CountingDib2 grab;
  ASSERT_TRUE(grab.CreateFromDesktop(&area));
  const Image got = ShownImage(grab);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 13; ++x) ASSERT_EQ(got.At(x, y), x < 10 && y < 6 ? shown.At(x, y) : 0u) << x << "," << y;
  }
}

TEST_P(Screens, CaptureReadsWhatTheScreenShows) {
  CRZDIB2 dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 24, 37, 29, 1, 4));
  const Image image = ShownImage(dib);
  Show(image, 3, 5);
  RECT area{3, 5, 40, 34};
  kt::CountingDib2 grab;
  // xwud paints its window when the server maps it.
  ASSERT_TRUE(kt::x11::Eventually([&] { return grab.CreateFromDesktop(&area) && ShownImage(grab) == image; }));
  EXPECT_EQ(grab.DIBBitCount(), 24);
  EXPECT_TRUE(grab.IsNonInterlaced());

  HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  ASSERT_TRUE(grab.CreateFromDC(screen, &area));
  EXPECT_EQ(ShownImage(grab), image);
  ASSERT_TRUE(grab.CreateFromDC(screen, nullptr));
  DeleteDC(screen);
  EXPECT_EQ(grab.DIBWidth(), w_);
  EXPECT_EQ(grab.DIBHeight(), h_);
}

INSTANTIATE_TEST_SUITE_P(, Screens, testing::Values(Kind::Virtual, Kind::Shm, Kind::Plain),
                         [](const auto& info) {
                           return info.param == Kind::Virtual ? "Virtual" : info.param == Kind::Shm ? "XvfbShm" : "XvfbPlain";
                         });

// ---- Choosing the screen, and losing it ----

class Display : public kt::NoLeaks {
 protected:
  void SetUp() override {
    NoLeaks::SetUp();
    display_ = kt::x11::FixtureDisplay("shm");
    if (display_.empty()) GTEST_SKIP() << "Xvfb is not installed";
  }
  void TearDown() override {
    NoLeaks::TearDown();
    kolvex::platform::SetVirtualScreenSize(1920, 1080);
  }
  std::string display_;
};

TEST_F(Display, TheFirstUseOfTheScreenChoosesIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process that has not chosen yet
  struct Case {
    std::vector<std::string> env;
    int width;
  };
  const Case cases[] = {
      {{"DISPLAY=" + display_, "KOLVEX_SCREEN="}, 640},
      {{"DISPLAY=" + display_, "KOLVEX_SCREEN=virtual"}, 1920},
      {{"DISPLAY=", "KOLVEX_SCREEN="}, 1920},
      {{"DISPLAY=:65534", "KOLVEX_SCREEN="}, 1920},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.env[0] + " " + c.env[1]);
    for (const std::string& e : c.env) {
      const std::size_t eq = e.find('=');
      if (eq + 1 == e.size()) ::unsetenv(e.substr(0, eq).c_str());
      else ::setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    EXPECT_EXIT(std::exit(GetSystemMetrics(SM_CXSCREEN) == c.width ? 0 : 1), testing::ExitedWithCode(0), "");
  }
  ::setenv("KOLVEX_SCREEN", "virtual", 1);
}

TEST_F(Display, UseDisplayRefusesWhatItCannotServeAndKeepsTheScreen) {
  ASSERT_TRUE(kolvex::platform::SetVirtualScreenSize(64, 48));
  kt::x11::PrivateXvfb sixteen("64x48x16");
  ASSERT_FALSE(sixteen.display.empty());
  struct Case {
    std::string name, reason;
  };
  for (const Case& c : {Case{":65534", "cannot connect to X display ':65534'"},
                        Case{sixteen.display, "has a 16-bit root window that is not 24- or 32-bit TrueColor"}}) {
    std::string why;
    EXPECT_FALSE(kolvex::platform::UseDisplay(c.name.c_str(), &why));
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 64);
  }
  std::string why;
  ASSERT_TRUE(kolvex::platform::UseDisplay(display_.c_str(), &why)) << why;
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 640);
  ASSERT_TRUE(kolvex::platform::SetVirtualScreenSize(64, 48));  // selects the virtual screen
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 64);
}

int OpenFds() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d) != nullptr) ++n;
    ::closedir(d);
  }
  return n;
}

bool SharedMemoryAttached() {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    if (line.find("SYSV") != std::string::npos) return true;
  }
  return false;
}

TEST_F(Display, ALostDisplayFailsEveryCallAndKeepsNothing) {
  const int fds = OpenFds();
  kt::x11::PrivateXvfb server("64x48x24");
  ASSERT_FALSE(server.display.empty());
  std::string why;
  ASSERT_TRUE(kolvex::platform::UseDisplay(server.display.c_str(), &why)) << why;
  kt::CountingDib2 dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 32, 8, 8, 1, 2));
  ASSERT_TRUE(dib.DrawToDesktop(0, 0, 0, 0));
  ASSERT_TRUE(dib.CreateFromDesktop(nullptr));
  EXPECT_TRUE(SharedMemoryAttached());
  const std::vector<BYTE> before = kt::Pixels(dib);
  HDC screen = GetWindowDC(GetDesktopWindow());
  kt::DeviceBitmap memory(8, 8);

  server.process.Kill();
  EXPECT_FALSE(dib.DrawToDesktop(0, 0, 0, 0));
  EXPECT_FALSE(dib.CreateFromDesktop(nullptr));
  EXPECT_EQ(kt::Pixels(dib), before);
  EXPECT_FALSE(dib.CreateFromDC(screen, nullptr));
  EXPECT_FALSE(BitBlt(memory.dc, 0, 0, 8, 8, screen, 0, 0, SRCCOPY));
  EXPECT_EQ(GetWindowDC(GetDesktopWindow()), nullptr);
  EXPECT_EQ(CreateDCA("DISPLAY", nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 0);
  EXPECT_EQ(ReleaseDC(GetDesktopWindow(), screen), 1);
  // The connection and the shared memory are gone with the display.
  EXPECT_FALSE(SharedMemoryAttached());
  EXPECT_EQ(OpenFds(), fds);

  ASSERT_TRUE(kolvex::platform::UseDisplay(display_.c_str(), &why)) << why;
  EXPECT_TRUE(dib.DrawToDesktop(0, 0, 0, 0));
}

}  // namespace
