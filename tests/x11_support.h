// Helpers of the X11 suites: the fixture's Xvfb displays, processes of their
// own, and ImageMagick's import as a reader of the root window that is not ours.
#pragma once

#include "io_support.h"

#include <sys/wait.h>

#include <csignal>
#include <fstream>

namespace kt::x11 {

// 0xRRGGBB pixels, top row first.
struct Image {
  int w = 0, h = 0;
  std::vector<std::uint32_t> px;
  bool operator==(const Image&) const = default;
};

// What drawing shows of a bitmap (grey levels at 8 bits), stretched to w x h
// as GDI stretches: each pixel from the source pixel under its centre.
inline Image Drawn(const CRZDIBBase2& dib, int w = 0, int h = 0) {
  const int sw = dib.DIBWidth(), sh = dib.DIBHeight();
  Image out{w > 0 ? w : sw, h > 0 ? h : sh, {}};
  for (int i = 0; i < out.w * out.h; ++i)
    out.px.push_back(Shown(dib, (2 * (i % out.w) + 1) * sw / (2 * out.w),
                           (2 * (i / out.w) + 1) * sh / (2 * out.h)));
  return out;
}

// The fixture's display ("shm" or "plain"); empty without Xvfb.
inline std::string FixtureDisplay(const char* which) {
  std::string name;
  if (const char* dir = std::getenv("KOLVEX_TEST_XVFB"))
    std::ifstream(std::string(dir) + "/" + which) >> name;
  return name;
}

inline bool HasImport() { return std::system("command -v import >/dev/null") == 0; }

// A program of the test's own (its fd 3 is `fd3` when given), killed with the
// object unless it has exited.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv, int fd3 = -1) : pid_(::fork()) {
    if (pid_ != 0) return;
    if (fd3 >= 0) ::dup2(fd3, 3);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ~Child() { Kill(); }
  void Signal(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
  }
  void Kill() {
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }
  // The exit status once it has exited (within about five seconds), else -1.
  int Exited() {
    int status = -1;
    if (!kt::Eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; })) return -1;
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_;
};

// An Xvfb of the test's own (screen "WxHxD") on a free display.
struct PrivateXvfb {
  std::unique_ptr<Child> server;
  std::string display = ":";
  explicit PrivateXvfb(const std::string& screen) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    server = std::make_unique<Child>(
        std::vector<std::string>{"Xvfb", "-displayfd", "3", "-screen", "0", screen}, fds[1]);
    ::close(fds[1]);
    // The number, then a newline once the server accepts connections.
    for (char c = 0; ::read(fds[0], &c, 1) == 1 && c != '\n';) display += c;
    ::close(fds[0]);
  }
};

// Rectangle (x, y, w, h) of the root window as ImageMagick's import reads it.
inline Image Import(const std::string& display, int x, int y, int w, int h) {
  Image out;
  FILE* ppm = ::popen(
      ("import -display " + display + " -window root -crop " + std::to_string(w) + "x" +
       std::to_string(h) + "+" + std::to_string(x) + "+" + std::to_string(y) + " -depth 8 ppm:-")
          .c_str(),
      "r");
  if (std::fscanf(ppm, "P6 %d %d 255", &out.w, &out.h) == 2 && std::fgetc(ppm) != EOF) {
    for (int r, g, b; (r = std::fgetc(ppm)) != EOF && (g = std::fgetc(ppm)) != EOF &&
                      (b = std::fgetc(ppm)) != EOF;)
      out.px.push_back(static_cast<std::uint32_t>(r << 16 | g << 8 | b));
  }
  ::pclose(ppm);
  return out;
}

}  // namespace kt::x11
