// The screen on Xvfb displays with and without MIT-SHM, against ImageMagick's
// import as a reader that is not ours; then displays refused, and one that
// dies.

#include "x11_support.h"

#include <filesystem>

namespace {

using kt::x11::Drawn;
using kt::x11::Image;

// The fixture's displays; the virtual screen again afterwards.
class Xvfb : public kt::NoLeaks {
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

// With and without MIT-SHM, at each depth: import reads what is drawn (natural
// size, stretched, over the corner); captures read what import reads.
TEST_F(Xvfb, ImportReadsWhatIsDrawnAndCaptureReadsWhatImportReads) {
  if (!kt::x11::HasImport()) GTEST_SKIP() << "needs imagemagick";
  for (const std::string& display : {display_, kt::x11::FixtureDisplay("plain")}) {
    ASSERT_TRUE(kolvex::platform::UseDisplay(display.c_str()));
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    for (WORD bits : {8, 24, 32}) {
      SCOPED_TRACE(testing::Message() << display << ", " << bits << " bits");
      CRZDIB2 dib;
      ASSERT_TRUE(kt::CreateRandom(dib, bits, 23, 17, 1, bits));
      ASSERT_TRUE(dib.DrawToDesktop(5, 3, 0, 0));
      ASSERT_TRUE(dib.DrawToDesktop(40, 3, 86, 12));
      ASSERT_TRUE(dib.DrawToDesktop(w - 10, h - 6, w + 13, h + 11));
      EXPECT_EQ(kt::x11::Import(display, 5, 3, 23, 17), Drawn(dib));
      EXPECT_EQ(kt::x11::Import(display, 40, 3, 46, 9), Drawn(dib, 46, 9));
      Image corner{10, 6, {}};
      for (int i = 0; i < 60; ++i) corner.px.push_back(kt::Shown(dib, i % 10, i / 10));
      EXPECT_EQ(kt::x11::Import(display, w - 10, h - 6, 10, 6), corner);

      RECT edge{w - 10, h - 6, w + 3, h + 2};
      kt::CountingDib2 grab;
      ASSERT_TRUE(grab.CreateFromDesktop(&edge));
      for (int i = 0; i < 13 * 8; ++i) {
        const int x = i % 13, y = i / 13;
        ASSERT_EQ(kt::Shown(grab, x, y), x < 10 && y < 6 ? corner.px[y * 10 + x] : 0u)
            << x << "," << y;
      }
      ASSERT_TRUE(grab.CreateFromDesktop(nullptr));
      EXPECT_EQ(Drawn(grab), kt::x11::Import(display, 0, 0, w, h));
    }
  }
  // Whole rows into a top-down DIB section below its first row: over a
  // megabyte, filled in place through shared memory.
  ASSERT_TRUE(kolvex::platform::UseDisplay(display_.c_str()));
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  const kt::DibSection section(w, -h - 1, 32);
  HDC screen = GetDC(nullptr);
  ASSERT_TRUE(BitBlt(section.dc, 0, 1, w, h, screen, 0, 0, SRCCOPY));
  ReleaseDC(nullptr, screen);
  Image rows{w, h, {}};
  for (int i = 0; i < w * h; ++i) rows.px.push_back(section.Words()[w + i] & 0xFFFFFF);
  EXPECT_EQ(rows, kt::x11::Import(display_, 0, 0, w, h));
}

// Copies of the screen, made and freed frame after frame, reuse one shared
// segment: what a grab does not cover still reads as zero, as fresh memory
// does (a grab of the screen's size, three quarters beyond it; a client's
// copy before anything is grabbed into it).
TEST_F(Xvfb, CopiesOfTheScreenInReusedMemoryReadAsFreshOnes) {
  ASSERT_TRUE(kolvex::platform::UseDisplay(display_.c_str()));
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  ASSERT_GE(w * h * 4, 1 << 20);  // large enough for shared memory
  CRZDIB2 picture, grab;
  ASSERT_TRUE(kt::CreateRandom(picture, 32, w, h, 1, 8) && picture.DrawToDesktop(0, 0, 0, 0));
  RECT over{w / 2, h / 2, w / 2 + w, h / 2 + h};
  Image expected{w, h, {}};
  for (int p = 0; p < w * h; ++p) {
    const int x = p % w, y = p / w;
    expected.px.push_back(x < w - w / 2 && y < h - h / 2 ? kt::Shown(picture, x + w / 2, y + h / 2)
                                                         : 0u);
  }
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(grab.CreateFromDesktop(nullptr));
    EXPECT_EQ(Drawn(grab), Drawn(picture));
    ASSERT_TRUE(grab.CreateFromDesktop(&over));
    EXPECT_EQ(Drawn(grab), expected);
  }
  HDC screen = GetDC(nullptr);
  kt::DeviceBitmap copy(w, h);  // compatible with the screen
  EXPECT_EQ(kt::ReadBack(copy.dc, copy.bm, w, h), kt::Pixels32(w * h, 0u));
  ASSERT_TRUE(BitBlt(copy.dc, 0, 0, w, h, screen, 0, 0, SRCCOPY));
  ReleaseDC(nullptr, screen);
  ASSERT_TRUE(grab.CreateFromDC(copy.dc, nullptr));
  EXPECT_EQ(Drawn(grab), Drawn(picture));
}

// ---- Displays refused, and lost ----

// A display that cannot be reached or drawn on in true colour is refused with
// its reason, and the screen stays.
TEST_F(Xvfb, UseDisplayRefusesWhatItCannotDrawOnAndKeepsTheScreen) {
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

TEST_F(Xvfb, ALostDisplayFailsEveryCallAndKeepsNothing) {
  const int fds = OpenFds();
  kt::x11::PrivateXvfb server("640x480x24");  // its copies of the screen are kept
  ASSERT_TRUE(kolvex::platform::UseDisplay(server.display.c_str()));
  kt::CountingDib2 dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 32, 8, 8, 1, 2));
  ASSERT_TRUE(dib.CreateFromDesktop(nullptr) && dib.DrawToDesktop(0, 0, 0, 0));
  ASSERT_TRUE(kt::CreateRandom(dib, 32, 8, 8, 1, 2));
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
