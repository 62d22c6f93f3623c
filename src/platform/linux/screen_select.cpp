// Which screen display DCs reach: the choice made on first use, UseDisplay and
// the virtual screen. The state lives under the GDI table lock.

#include "platform/linux/real_screen.h"

#include <kolvex/platform/linux/user.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace kolvex::platform::detail {
namespace {

struct Selection {
  bool decided = false;
  std::unique_ptr<RealScreen> screen;  // null: the virtual screen
};

Selection& Selected() {
  // Never destroyed, like the GDI table: static destructors of clients may
  // still draw. The connection closes with the process.
  static Selection* const selection = new Selection();
  return *selection;
}

// The display the first use connects to, or null for the virtual screen.
std::unique_ptr<RealScreen> DefaultScreen() {
  const char* forced = std::getenv("KOLVEX_SCREEN");
  if (forced != nullptr && std::strcmp(forced, "virtual") == 0) return nullptr;
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return nullptr;
  std::string why;
  try {
    return OpenX11Screen(nullptr, why);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

RealScreen* ChosenScreen() { return Selected().screen.get(); }

RealScreen* SelectedScreen() {
  Selection& s = Selected();
  if (!s.decided) {
    s.screen = DefaultScreen();
    s.decided = true;
  }
  return s.screen.get();
}

void SelectVirtualScreen() {
  Selection& s = Selected();
  s.screen.reset();
  s.decided = true;
}

bool ScreenLost() {
  const RealScreen* real = SelectedScreen();
  return real != nullptr && real->Lost();
}

}  // namespace kolvex::platform::detail

namespace kolvex::platform {

bool UseDisplay(const char* name, std::string* why) {
  using namespace detail;
  std::string reason;
  std::unique_ptr<RealScreen> opened;
  try {
    // Connecting may take a while: not under the table lock.
    opened = OpenX11Screen(name, reason);
  } catch (const std::bad_alloc&) {
    reason = "out of memory";
  }
  if (!opened) {
    if (why != nullptr) *why = std::move(reason);
    return false;
  }
  std::unique_ptr<RealScreen> previous;
  {
    auto guard = LockTable();
    Selection& s = Selected();
    previous = std::exchange(s.screen, std::move(opened));
    s.decided = true;
  }
  return true;  // `previous` closes outside the lock
}

}  // namespace kolvex::platform
