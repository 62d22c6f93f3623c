// The kolvex tool on a display: `show`'s window and keys (pressed by an X
// client of the test's own), checked with import, and a clear message from
// each screen command when there is no display.

#include "x11_support.h"

#include <kolvex/platform/linux/xcb_handles.h>

#include <xcb/xcb.h>

#include <filesystem>

namespace {

using kolvex::platform::xcb::Connection;
using kolvex::platform::xcb::Reply;
using kt::x11::Drawn;

TEST(ToolWithoutDisplay, EveryScreenCommandSaysItNeedsOne) {
  CRZDIB2 dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 24, 4, 4, 1, 1));
  const kt::TempFile file(kt::SaveToMemory(dib));
  for (std::vector<std::string> command :
       {std::vector<std::string>{"capture"}, {"show"}, {"demo", "--screen"}}) {
    command.insert(command.begin(), {"-u", "DISPLAY", KOLVEX_TOOL});
    command.push_back(file.path());
    const kt::ProgramRun r = kt::RunProgram("/usr/bin/env", command);
    EXPECT_EQ(r.status, 1) << command[3];
    EXPECT_NE(r.err.find("no X display (DISPLAY is not set)"), std::string::npos) << r.err;
  }
}

// The title of the first top-level window that has one (and the window).
std::pair<xcb_window_t, std::string> TitledWindow(xcb_connection_t* c) {
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  const Reply<xcb_query_tree_reply_t> tree(
      xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr));
  for (int i = 0; tree != nullptr && i < xcb_query_tree_children_length(tree.get()); ++i) {
    const xcb_window_t w = xcb_query_tree_children(tree.get())[i];
    const Reply<xcb_get_property_reply_t> name(xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 64), nullptr));
    const int length = name != nullptr ? xcb_get_property_value_length(name.get()) : 0;
    if (length > 0)
      return {w, std::string(static_cast<const char*>(xcb_get_property_value(name.get())), length)};
  }
  return {};
}

// Sends the window a key press of `key` (a keysym), as the server would.
void Press(xcb_connection_t* c, xcb_window_t window, xcb_keysym_t key) {
  const xcb_setup_t* setup = xcb_get_setup(c);
  const int count = setup->max_keycode - setup->min_keycode + 1;
  const Reply<xcb_get_keyboard_mapping_reply_t> map(xcb_get_keyboard_mapping_reply(
      c, xcb_get_keyboard_mapping(c, setup->min_keycode, count), nullptr));
  xcb_key_press_event_t event{};
  event.response_type = XCB_KEY_PRESS;
  event.event = window;
  for (int k = 0; k < count; ++k) {
    if (xcb_get_keyboard_mapping_keysyms(map.get())[k * map->keysyms_per_keycode] == key)
      event.detail = setup->min_keycode + k;
  }
  xcb_send_event(c, 0, window, XCB_EVENT_MASK_KEY_PRESS, reinterpret_cast<const char*>(&event));
  xcb_flush(c);
}

TEST(ToolOnDisplay, ShowStepsThroughTheFilesInAWindow) {
  const std::string display = kt::x11::FixtureDisplay("shm");
  if (display.empty()) GTEST_SKIP() << "Xvfb is not installed";
  if (!kt::x11::HasImport()) GTEST_SKIP() << "needs imagemagick";
  CRZDIB2 grey, large;
  ASSERT_TRUE(kt::CreateRandom(grey, 8, 30, 20, 1, 2));
  ASSERT_TRUE(
      kt::CreateRandom(large, 32, 1280, 960, 1, 3));  // twice the screen: shown at half size
  const kt::TempFile a(kt::SaveToMemory(grey)), b(kt::SaveToMemory(large));
  const std::string name = std::filesystem::path(a.path()).filename().string();
  const std::string lname = std::filesystem::path(b.path()).filename().string();
  const struct {
    xcb_keysym_t key;  // pressed first (0: none)
    std::string title;
    kt::x11::Image shown;
  } steps[] = {
      {0, name + " - 30 x 20 [1/2]", Drawn(grey)},
      {' ', lname + " - 1280 x 960 (shown at 50%) [2/2]", Drawn(large, 640, 480)},
      {0xFF51 /* Left */, name + " - 30 x 20 [1/2]", Drawn(grey)},
      {0xFF53 /* Right */, lname + " - 1280 x 960 (shown at 50%) [2/2]", Drawn(large, 640, 480)},
  };
  kt::x11::Child viewer({"env", "DISPLAY=" + display, KOLVEX_TOOL, "show", a.path(), b.path()});
  const Connection peer(xcb_connect(display.c_str(), nullptr));
  xcb_window_t window = 0;
  for (const auto& step : steps) {
    if (step.key != 0) Press(peer.get(), window, step.key);
    EXPECT_TRUE(kt::Eventually([&] {
      const auto [id, title] = TitledWindow(peer.get());
      window = id;
      return title == step.title &&
             kt::x11::Import(display, 0, 0, step.shown.w, step.shown.h) == step.shown;
    })) << step.title;
  }
  Press(peer.get(), window, 'q');
  EXPECT_EQ(viewer.Exited(), 0);
  // A signal ends the wait for events (within Exited's five seconds; unwoken, it lasts).
  kt::x11::Child signalled({"env", "DISPLAY=" + display, KOLVEX_TOOL, "show", a.path()});
  EXPECT_TRUE(
      kt::Eventually([&] { return TitledWindow(peer.get()).second == name + " - 30 x 20"; }));
  signalled.Signal(SIGTERM);
  EXPECT_EQ(signalled.Exited(), 128 + SIGTERM);
}

}  // namespace
