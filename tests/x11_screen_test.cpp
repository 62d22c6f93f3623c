// The screen: the same capture and drawing cases on the virtual screen and on
// Xvfb displays with and without MIT-SHM, where programs that are not ours
// check them (import reads what the library drew, xwud shows what it must
// capture); then choosing the screen, and a display that dies.

#include "x11_support.h"

#include <filesystem>

namespace {

using kt::x11::Drawn;
using kt::x11::Image;

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
      if (!kt::x11::HasPrograms("import convert xwud")) GTEST_SKIP() << "needs imagemagick and x11-apps";
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

  // What the screen shows: as import reads it, or on the virtual screen
  // through a BitBlt from a screen DC.
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

  // Shows `image` at (x, y): by xwud, or by StretchDIBits onto a screen DC.
  void Show(const Image& image, int x, int y) {
    if (!display_.empty()) return xwud_.emplace(display_, image, x, y), void();
    BITMAPINFO info = kt::Info(image.w, -image.h, 32);
    HDC screen = GetDC(nullptr);
    StretchDIBits(screen, x, y, image.w, image.h, 0, 0, image.w, image.h, image.px.data(), &info, DIB_RGB_COLORS, SRCCOPY);
    ReleaseDC(nullptr, screen);
  }

  std::string display_;
  std::optional<kt::x11::Xwud> xwud_;
  int w_ = 0, h_ = 0;
};

bool DrawOnScreenDc(CRZDIB2& dib, int x, int y, int w, int h) {
  CDC dc;
  dc.Attach(GetWindowDC(GetDesktopWindow()));
  const bool drawn =
      dib.Draw(dc, CRect(x, y, x + w, y + h), CRect(0, 0, dib.DIBWidth(), dib.DIBHeight()), nullptr);
  ReleaseDC(GetDesktopWindow(), dc.Detach());
  return drawn;
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
      {"Draw on a screen CDC", 31, 17, DrawOnScreenDc},
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
        const int x = 5 + i % 4 * 50, y = 3 + i++ / 4 * 20;
        ASSERT_TRUE(c.draw(dib, x, y, c.w, c.h));
        EXPECT_EQ(Look(x, y, c.w, c.h), Drawn(dib, c.w, c.h));
      }
    }
  }
  // The alpha channel as grey, at the origin whatever the corner says.
  CRZDIB2 dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 32, 19, 11, 1, 3));
  ASSERT_TRUE(dib.DrawDIBsAlphaToDesktop(100, 50, 0, 0));
  for (BYTE* p = dib.GetBytes(); p < dib.GetBytes() + dib.DIBSize(); p += 4) p[0] = p[1] = p[2] = p[3];
  EXPECT_EQ(Look(0, 0, 19, 11), Drawn(dib));
}

TEST_P(Screens, DrawingAndCaptureAreClippedAtTheEdges) {
  CRZDIB2 dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 24, 23, 17, 1, 9));
  Image expected = Look(0, 0, w_, h_);
  const POINT corners[] = {{-5, -4}, {w_ - 10, -4}, {-5, h_ - 6}, {w_ - 10, h_ - 6}};
  for (const POINT& at : corners) ASSERT_TRUE(dib.DrawToDesktop(at.x, at.y, at.x + 23, at.y + 17));
  for (int i = 0; i < w_ * h_; ++i) {
    const int x = i % w_, y = i / w_;
    for (const POINT& at : corners) {
      if (x >= at.x && x < at.x + 23 && y >= at.y && y < at.y + 17) expected.px[i] = kt::Shown(dib, x - at.x, y - at.y);
    }
  }
  EXPECT_EQ(Look(0, 0, w_, h_), expected);
  // A capture over the corner: what lies off the screen reads black.
  RECT area{w_ - 10, h_ - 6, w_ + 3, h_ + 2};
  kt::CountingDib2 grab;
  ASSERT_TRUE(grab.CreateFromDesktop(&area));
  for (int i = 0; i < 13 * 8; ++i) {
    const int x = i % 13, y = i / 13;
    ASSERT_EQ(kt::Shown(grab, x, y), x < 10 && y < 6 ? kt::Shown(dib, x, y) : 0u) << x << "," << y;
  }
}

TEST_P(Screens, CaptureReadsWhatTheScreenShows) {
  CRZDIB2 dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 24, 37, 29, 1, 4));
  Show(Drawn(dib), 3, 5);
  RECT area{3, 5, 40, 34};
  kt::CountingDib2 grab;
  // xwud paints its window once the server has mapped it.
  EXPECT_TRUE(kt::x11::Eventually([&] { return grab.CreateFromDesktop(&area) && Drawn(grab) == Drawn(dib); }));
  EXPECT_EQ(grab.DIBBitCount(), 24);
  EXPECT_TRUE(grab.IsNonInterlaced());
  HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  ASSERT_TRUE(grab.CreateFromDC(screen, &area));
  EXPECT_EQ(Drawn(grab), Drawn(dib));
  ASSERT_TRUE(grab.CreateFromDC(screen, nullptr));
  EXPECT_EQ(Drawn(grab), Look(0, 0, w_, h_));
  // Whole rows into a top-down DIB section (on a display that shares memory,
  // one over a megabyte is filled in place), below its first row.
  const BITMAPINFO info = kt::Info(w_, -h_ - 1, 32);
  void* bits = nullptr;
  kt::DeviceBitmap section(1, 1);
  HBITMAP bm = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  SelectObject(section.dc, bm);
  ASSERT_TRUE(BitBlt(section.dc, 0, 1, w_, h_, screen, 0, 0, SRCCOPY));
  Image rows{w_, h_, {}};
  for (int i = 0; i < w_ * h_; ++i) rows.px.push_back(static_cast<std::uint32_t*>(bits)[w_ + i] & 0xFFFFFF);
  EXPECT_EQ(rows, Look(0, 0, w_, h_));
  SelectObject(section.dc, section.bm);
  DeleteObject(bm);
  DeleteDC(screen);
}

INSTANTIATE_TEST_SUITE_P(, Screens, testing::Values(Kind::Virtual, Kind::Shm, Kind::Plain), [](const auto& info) {
  return std::string(info.param == Kind::Virtual ? "Virtual" : info.param == Kind::Shm ? "XvfbShm" : "XvfbPlain");
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

TEST_F(Display, TheFirstUseChoosesTheScreenAndUseDisplayChangesIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process that has not chosen yet
  const struct {
    const char* display;
    const char* screen;
    int width;
  } firstUse[] = {{display_.c_str(), nullptr, 640}, {display_.c_str(), "virtual", 1920}, {nullptr, nullptr, 1920}, {":65534", nullptr, 1920}};
  for (const auto& c : firstUse) {
    c.display != nullptr ? ::setenv("DISPLAY", c.display, 1) : ::unsetenv("DISPLAY");
    c.screen != nullptr ? ::setenv("KOLVEX_SCREEN", c.screen, 1) : ::unsetenv("KOLVEX_SCREEN");
    EXPECT_EXIT(std::exit(GetSystemMetrics(SM_CXSCREEN) == c.width ? 0 : 1), testing::ExitedWithCode(0), "")
        << (c.display ? c.display : "no DISPLAY") << ", KOLVEX_SCREEN " << (c.screen ? c.screen : "unset");
  }
  ::setenv("KOLVEX_SCREEN", "virtual", 1);

  kt::x11::PrivateXvfb sixteen("64x48x16");
  ASSERT_TRUE(kolvex::platform::SetVirtualScreenSize(64, 48));
  const std::pair<std::string, std::string> refused[] = {
      {":65534", "cannot connect to X display ':65534'"},
      {sixteen.display, "has a 16-bit root window that is not 24- or 32-bit TrueColor"}};
  for (const auto& [name, reason] : refused) {
    std::string why;
    EXPECT_FALSE(kolvex::platform::UseDisplay(name.c_str(), &why));
    EXPECT_NE(why.find(reason), std::string::npos) << why;
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 64);  // the screen stays
  }
  ASSERT_TRUE(kolvex::platform::UseDisplay(display_.c_str()));
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 640);
  ASSERT_TRUE(kolvex::platform::SetVirtualScreenSize(64, 48));  // selects the virtual screen
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 64);
}

int OpenFds() {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

bool SharedMemoryAttached() {
  std::ifstream maps("/proc/self/maps");
  return std::string(std::istreambuf_iterator<char>(maps), {}).find("SYSV") != std::string::npos;
}

TEST_F(Display, ALostDisplayFailsEveryCallAndKeepsNothing) {
  const int fds = OpenFds();
  kt::x11::PrivateXvfb server("64x48x24");
  ASSERT_TRUE(kolvex::platform::UseDisplay(server.display.c_str()));
  kt::CountingDib2 dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 32, 8, 8, 1, 2));
  ASSERT_TRUE(dib.DrawToDesktop(0, 0, 0, 0) && dib.CreateFromDesktop(nullptr));
  EXPECT_TRUE(SharedMemoryAttached());
  const std::vector<BYTE> before = kt::Pixels(dib);
  HDC screen = GetWindowDC(GetDesktopWindow());
  kt::DeviceBitmap memory(8, 8);

  server.server->Kill();
  EXPECT_FALSE(dib.DrawToDesktop(0, 0, 0, 0));
  EXPECT_FALSE(dib.CreateFromDesktop(nullptr));
  EXPECT_FALSE(dib.CreateFromDC(screen, nullptr));
  EXPECT_EQ(kt::Pixels(dib), before);
  EXPECT_FALSE(BitBlt(memory.dc, 0, 0, 8, 8, screen, 0, 0, SRCCOPY));
  EXPECT_EQ(GetWindowDC(GetDesktopWindow()), nullptr);
  EXPECT_EQ(CreateDCA("DISPLAY", nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 0);
  EXPECT_EQ(ReleaseDC(GetDesktopWindow(), screen), 1);
  EXPECT_FALSE(SharedMemoryAttached());  // the connection and the shared memory are gone
  EXPECT_EQ(OpenFds(), fds);
  ASSERT_TRUE(kolvex::platform::UseDisplay(display_.c_str()));
  EXPECT_TRUE(dib.DrawToDesktop(0, 0, 0, 0));
}

}  // namespace
