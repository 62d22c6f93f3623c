// Helpers of the X11 suites: the fixture's Xvfb displays, Xvfb servers of a
// test's own, and programs that are not ours as oracles: ImageMagick's import
// reads the root window, xwud shows an image in a window of its own.
#pragma once

#include "io_support.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kt::x11 {

// 0xRRGGBB pixels, top row first.
struct Image {
  int w = 0;
  int h = 0;
  std::vector<std::uint32_t> px;
  std::uint32_t At(int x, int y) const { return px[static_cast<std::size_t>(y) * w + x]; }
  bool operator==(const Image&) const = default;
};

// What drawing shows of a bitmap (grey levels at 8 bits).
inline Image ShownImage(const CRZDIBBase2& dib) {
  Image out{dib.DIBWidth(), dib.DIBHeight(), {}};
  for (int y = 0; y < out.h; ++y) {
    for (int x = 0; x < out.w; ++x) out.px.push_back(Shown(dib, x, y));
  }
  return out;
}

// An image as GDI stretches it to w x h: each pixel from the source pixel
// under its centre, counted from the top-left corner.
inline Image Stretched(const Image& image, int w, int h) {
  Image out{w, h, {}};
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) out.px.push_back(image.At((2 * x + 1) * image.w / (2 * w), (2 * y + 1) * image.h / (2 * h)));
  }
  return out;
}

inline bool HasProgram(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// The display the fixture started ("shm" or "plain"); empty without Xvfb.
inline std::string FixtureDisplay(const char* which) {
  const char* dir = std::getenv("KOLVEX_TEST_XVFB");
  std::string name;
  if (dir != nullptr) std::ifstream(std::string(dir) + "/" + which) >> name;
  return name;
}

// Starts a program with extra environment entries ("NAME=value", or "NAME="
// to remove NAME); its pid.
inline pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                   int outFd = -1) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (const std::string& e : env) {
      const std::size_t eq = e.find('=');
      if (eq + 1 == e.size()) ::unsetenv(e.substr(0, eq).c_str());
      else ::setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    if (outFd >= 0) ::dup2(outFd, 3);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

// Runs until `done` answers true or about five seconds have passed.
inline bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 250; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

// A process of the test's own, killed with the object unless it ended.
class Child {
 public:
  Child() = default;
  explicit Child(pid_t pid) : pid_(pid) {}
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { Kill(); }
  void Own(pid_t pid) {
    Kill();
    pid_ = pid;
  }
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }
  // Its exit status once it has exited within about five seconds, else -1.
  int Exited() {
    int status = 0;
    if (!Eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; })) return -1;
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = 0;
};

// An Xvfb of the test's own on a free display; `display` is empty when it
// could not start.
struct PrivateXvfb {
  std::string display;
  Child process;
  explicit PrivateXvfb(const std::string& screen) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    process.Own(Spawn({"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", screen}, {}, fds[1]));
    ::close(fds[1]);
    // The number, then a newline once the server accepts connections.
    std::string number;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (c == '\n') display = ":" + number;
  }
};

// Rectangle (x, y, w, h) of the root window as ImageMagick's import reads it.
inline Image Import(const std::string& display, int x, int y, int w, int h) {
  const std::string command = "import -display " + display + " -window root -crop " + std::to_string(w) + "x" +
                              std::to_string(h) + "+" + std::to_string(x) + "+" + std::to_string(y) +
                              " -depth 8 ppm:-";
  Image out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  int maxval = 0;
  if (std::fscanf(pipe, "P6 %d %d %d", &out.w, &out.h, &maxval) == 3 && std::fgetc(pipe) != EOF) {
    std::vector<unsigned char> rgb(static_cast<std::size_t>(out.w) * out.h * 3);
    if (std::fread(rgb.data(), 1, rgb.size(), pipe) == rgb.size()) {
      for (std::size_t i = 0; i < rgb.size(); i += 3) out.px.push_back(rgb[i] << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
    }
  }
  ::pclose(pipe);
  return out;
}

// `image` in a window of xwud at (x, y) of `display`, until the object goes.
class Xwud {
 public:
  Xwud(const std::string& display, const Image& image, int x, int y) : file_(Ppm(image)) {
    const std::string xwd = std::string(file_.path()) + ".xwd";
    if (std::system(("convert ppm:" + std::string(file_.path()) + " xwd:" + xwd).c_str()) != 0) return;
    shown_.Own(Spawn({"xwud", "-display", display, "-in", xwd, "-geometry",
                      "+" + std::to_string(x) + "+" + std::to_string(y)}));
    xwd_ = xwd;
  }
  ~Xwud() {
    shown_.Kill();
    if (!xwd_.empty()) std::remove(xwd_.c_str());
  }

 private:
  static std::vector<BYTE> Ppm(const Image& image) {
    const std::string head = "P6\n" + std::to_string(image.w) + " " + std::to_string(image.h) + "\n255\n";
    std::vector<BYTE> bytes(head.begin(), head.end());
    for (std::uint32_t p : image.px) bytes.insert(bytes.end(), {BYTE(p >> 16), BYTE(p >> 8), BYTE(p)});
    return bytes;
  }
  TempFile file_;
  Child shown_;
  std::string xwd_;
};

}  // namespace kt::x11
