// The kolvex tool on a display: `capture` against import, `show`'s window and
// keys (pressed by an X client of the test's own), and a clear message from
// each screen command when there is no display.

#include "x11_support.h"

#include <filesystem>
#include <iterator>
#include <sstream>
#include <xcb/xcb.h>

namespace {

using kt::x11::Drawn;

class ToolOnDisplay : public testing::Test {
 protected:
  void SetUp() override {
    display_ = kt::x11::FixtureDisplay("shm");
    if (display_.empty()) GTEST_SKIP() << "Xvfb is not installed";
    if (!kt::x11::HasPrograms("import")) GTEST_SKIP() << "needs imagemagick";
  }

  // Runs the tool with DISPLAY as given ("": unset).
  static kt::ProgramRun Kolvex(const std::string& display, const std::string& command, const char* path) {
    std::vector<std::string> args{"-u", "DISPLAY", KOLVEX_TOOL};
    if (!display.empty()) args = {"DISPLAY=" + display, KOLVEX_TOOL};
    std::istringstream words(command);
    args.insert(args.end(), std::istream_iterator<std::string>(words), {});
    args.push_back(path);
    return kt::RunProgram("/usr/bin/env", args);
  }

  std::string display_;
  kt::TempFile out_;
};

CRZDIB2 Loaded(const char* path) {
  CRZDIB2 dib;
  EXPECT_TRUE(dib.CreateFromFile(path));
  return dib;
}

TEST_F(ToolOnDisplay, CaptureWritesWhatImportReadsAndEveryScreenCommandNeedsADisplay) {
  ASSERT_EQ(Kolvex(display_, "capture --rect 3,5,40,34", out_.path()).status, 0);
  EXPECT_EQ(Drawn(Loaded(out_.path())), kt::x11::Import(display_, 3, 5, 37, 29));
  ASSERT_EQ(Kolvex(display_, "capture", out_.path()).status, 0);
  EXPECT_EQ(Drawn(Loaded(out_.path())), kt::x11::Import(display_, 0, 0, 640, 480));
  for (const char* command : {"capture", "show", "demo --screen"}) {
    const kt::ProgramRun r = Kolvex("", command, out_.path());
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_NE(r.err.find("no X display (DISPLAY is not set)"), std::string::npos) << r.err;
  }
}

// The title of the first top-level window that has one (and the window).
std::pair<xcb_window_t, std::string> TitledWindow(xcb_connection_t* c) {
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
      xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr), &std::free);
  for (int i = 0; tree != nullptr && i < xcb_query_tree_children_length(tree.get()); ++i) {
    const xcb_window_t w = xcb_query_tree_children(tree.get())[i];
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> name(
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 64),
                               nullptr),
        &std::free);
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
  std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> map(
      xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, setup->min_keycode, count), nullptr),
      &std::free);
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

TEST_F(ToolOnDisplay, ShowStepsThroughTheFilesInAWindow) {
  CRZDIB2 colour, grey, large;
  ASSERT_TRUE(kt::CreateRandom(colour, 24, 50, 40, 1, 1));
  ASSERT_TRUE(kt::CreateRandom(grey, 8, 30, 20, 1, 2));
  ASSERT_TRUE(kt::CreateRandom(large, 32, 1280, 960, 1, 3));  // twice the screen: shown at half size
  const kt::TempFile a(kt::SaveToMemory(colour)), b(kt::SaveToMemory(grey)), c(kt::SaveToMemory(large));
  const auto base = [](const kt::TempFile& f) { return std::filesystem::path(f.path()).filename().string(); };
  const std::string name = base(a), gname = base(b), lname = base(c);
  const struct {
    xcb_keysym_t key;  // pressed first (0: none)
    std::string title;
    kt::x11::Image shown;
  } steps[] = {
      {0, name + " - 50 x 40 [1/3]", Drawn(colour)},
      {' ', gname + " - 30 x 20 [2/3]", Drawn(grey)},
      {0xFF53 /* Right */, lname + " - 1280 x 960 (shown at 50%) [3/3]", Drawn(large, 640, 480)},
      {0xFF51 /* Left */, gname + " - 30 x 20 [2/3]", Drawn(grey)},
  };
  kt::x11::Child viewer({"env", "DISPLAY=" + display_, KOLVEX_TOOL, "show", a.path(), b.path(), c.path()});
  std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> peer(xcb_connect(display_.c_str(), nullptr),
                                                                    &xcb_disconnect);
  xcb_window_t window = 0;
  for (const auto& step : steps) {
    if (step.key != 0) Press(peer.get(), window, step.key);
    EXPECT_TRUE(kt::x11::Eventually([&] {
      const auto [id, title] = TitledWindow(peer.get());
      window = id;
      return title == step.title && kt::x11::Import(display_, 0, 0, step.shown.w, step.shown.h) == step.shown;
    })) << step.title;
  }
  Press(peer.get(), window, 'q');
  EXPECT_EQ(viewer.Exited(), 0);
}

}  // namespace
