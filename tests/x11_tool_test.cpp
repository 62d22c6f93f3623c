// The kolvex tool on a display: `capture` against import, `show`'s window and
// keys (pressed by an X client of the test's own), `demo --screen`, and a
// clear message from each when there is no display.

#include "x11_support.h"

#include <xcb/xcb.h>

#ifndef KOLVEX_TOOL
#error "KOLVEX_TOOL is the path of the kolvex executable"
#endif

namespace {

using kt::x11::Image;
using kt::x11::ShownImage;

// An X client of the test's own: finds the viewer's window by its title and
// sends it key presses.
class Peer {
 public:
  explicit Peer(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {}
  ~Peer() { xcb_disconnect(c_); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // The title of the first top-level window that has one, "" when none has.
  std::pair<xcb_window_t, std::string> Window() {
    const xcb_setup_t* setup = xcb_get_setup(c_);
    const xcb_window_t root = xcb_setup_roots_iterator(setup).data->root;
    std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
        xcb_query_tree_reply(c_, xcb_query_tree(c_, root), nullptr), &std::free);
    if (tree == nullptr) return {};
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
      std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> name(
          xcb_get_property_reply(c_, xcb_get_property(c_, 0, children[i], XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 256),
                                 nullptr),
          &std::free);
      if (name != nullptr && xcb_get_property_value_length(name.get()) > 0) {
        return {children[i], std::string(static_cast<const char*>(xcb_get_property_value(name.get())),
                                         static_cast<std::size_t>(xcb_get_property_value_length(name.get())))};
      }
    }
    return {};
  }

  void Press(xcb_window_t window, xcb_keysym_t key) {
    const xcb_setup_t* setup = xcb_get_setup(c_);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> map(
        xcb_get_keyboard_mapping_reply(
            c_, xcb_get_keyboard_mapping(c_, setup->min_keycode, static_cast<std::uint8_t>(count)), nullptr),
        &std::free);
    ASSERT_NE(map, nullptr);
    xcb_key_press_event_t event{};
    event.response_type = XCB_KEY_PRESS;
    event.event = window;
    for (int k = 0; k < count; ++k) {
      if (xcb_get_keyboard_mapping_keysyms(map.get())[k * map->keysyms_per_keycode] == key) {
        event.detail = static_cast<xcb_keycode_t>(setup->min_keycode + k);
      }
    }
    ASSERT_NE(event.detail, 0) << "no key for keysym " << key;
    xcb_send_event(c_, 0, window, XCB_EVENT_MASK_KEY_PRESS, reinterpret_cast<const char*>(&event));
    xcb_flush(c_);
  }

 private:
  xcb_connection_t* c_;
};

class ToolOnDisplay : public testing::Test {
 protected:
  void SetUp() override {
    display_ = kt::x11::FixtureDisplay("shm");
    if (display_.empty()) GTEST_SKIP() << "Xvfb is not installed";
    if (!kt::x11::HasProgram("import")) GTEST_SKIP() << "import is not installed (Debian: imagemagick)";
    char tmpl[] = "/tmp/kolvex-x11-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  // Runs the tool with DISPLAY set as given ("" unsets it); its exit status,
  // and its error output in *err.
  int Kolvex(const std::string& display, const std::string& args, std::string* err = nullptr) const {
    const std::string env = display.empty() ? "env -u DISPLAY" : "env DISPLAY=" + display;
    const std::string errPath = dir_ + "/.stderr";
    const int raw = std::system((env + " '" KOLVEX_TOOL "' " + args + " >/dev/null 2>'" + errPath + "'").c_str());
    if (err != nullptr) {
      std::ifstream in(errPath);
      err->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  std::string Save(CRZDIB2& dib, const std::string& name) const {
    const std::vector<BYTE> bytes = kt::SaveToMemory(dib);
    std::ofstream(dir_ + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return dir_ + "/" + name;
  }

  Image Load(const std::string& path) const {
    CRZDIB2 dib;
    EXPECT_TRUE(dib.CreateFromFile(path.c_str()));
    return ShownImage(dib);
  }

  std::string display_;
  std::string dir_;
};

TEST_F(ToolOnDisplay, CaptureWritesWhatImportReads) {
  ASSERT_EQ(Kolvex(display_, "capture --rect 3,5,40,34 '" + dir_ + "/part.bmp'"), 0);
  EXPECT_EQ(Load(dir_ + "/part.bmp"), kt::x11::Import(display_, 3, 5, 37, 29));
  ASSERT_EQ(Kolvex(display_, "capture '" + dir_ + "/all.bmp'"), 0);
  EXPECT_EQ(Load(dir_ + "/all.bmp"), kt::x11::Import(display_, 0, 0, 640, 480));
}

TEST_F(ToolOnDisplay, DemoOnTheScreenEndsWithWhatTheScreenShows) {
  ASSERT_EQ(Kolvex(display_, "demo --screen '" + dir_ + "/demo'"), 0);
  EXPECT_EQ(Load(dir_ + "/demo/09-screen.bmp"), kt::x11::Import(display_, 0, 0, 640, 480));
}

TEST_F(ToolOnDisplay, WithoutADisplayEachCommandSaysSo) {
  CRZDIB2 dib;
  ASSERT_TRUE(kt::CreateRandom(dib, 24, 4, 4, 1, 1));
  const std::string file = Save(dib, "a.bmp");
  for (const std::string& args : {"capture '" + dir_ + "/out.bmp'", "show '" + file + "'", "demo --screen '" + dir_ + "'"}) {
    std::string err;
    EXPECT_EQ(Kolvex("", args, &err), 1) << args;
    EXPECT_NE(err.find("no X display (DISPLAY is not set)"), std::string::npos) << err;
  }
}

TEST_F(ToolOnDisplay, ShowStepsThroughTheFilesInAWindow) {
  CRZDIB2 colour, grey, large;
  ASSERT_TRUE(kt::CreateRandom(colour, 24, 50, 40, 1, 1));
  ASSERT_TRUE(kt::CreateRandom(grey, 8, 30, 20, 1, 2));
  ASSERT_TRUE(kt::CreateRandom(large, 32, 1280, 960, 1, 3));  // twice the screen: shown at half size
  struct Step {
    xcb_keysym_t key;  // pressed before the step (0: none)
    std::string title;
    Image shown;
  };
  const Step steps[] = {
      {0, "a.bmp - 50 x 40 [1/3]", ShownImage(colour)},
      {' ', "b.bmp - 30 x 20 [2/3]", ShownImage(grey)},
      {0xFF53 /* Right */, "c.bmp - 1280 x 960 (shown at 50%) [3/3]", kt::x11::Stretched(ShownImage(large), 640, 480)},
      {0xFF51 /* Left */, "b.bmp - 30 x 20 [2/3]", ShownImage(grey)},
  };
  kt::x11::Child viewer;
  viewer.Own(kt::x11::Spawn({KOLVEX_TOOL, "show", Save(colour, "a.bmp"), Save(grey, "b.bmp"), Save(large, "c.bmp")},
                            {"DISPLAY=" + display_}));
  Peer peer(display_);
  xcb_window_t window = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.title);
    if (step.key != 0) peer.Press(window, step.key);
    ASSERT_TRUE(kt::x11::Eventually([&] {
      const auto [id, title] = peer.Window();
      window = id;
      return title == step.title &&
             kt::x11::Import(display_, 0, 0, step.shown.w, step.shown.h) == step.shown;
    }));
  }
  peer.Press(window, 'q');
  EXPECT_EQ(viewer.Exited(), 0);
}

}  // namespace
