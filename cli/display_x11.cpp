// The tool on the X display DISPLAY names. `capture` and `demo --screen` make it
// the library's screen; `show` opens one window of its own through XCB, at the
// top-left corner of the screen, sized to the picture it shows and repainted
// whenever it is exposed. The library draws each picture (scaled down when it
// is larger than the screen) into 32-bit rows, which go to the window in image
// requests.

#include "display.h"
#include "files.h"
#include "interrupt.h"
#include "os.h"

#include <kolvex/platform/linux/xcb_handles.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace kolvex::cli {
namespace {

using kolvex::platform::xcb::Connection;
using kolvex::platform::xcb::Reply;

// Keysyms of the keys the viewer answers.
enum : xcb_keysym_t {
  kSpace = 0x20,
  kQ = 0x71,
  kBackSpace = 0xFF08,
  kEscape = 0xFF1B,
  kLeft = 0xFF51,
  kUp = 0xFF52,
  kRight = 0xFF53,
  kDown = 0xFF54,
  kPageUp = 0xFF55,
  kPageDown = 0xFF56,
};

[[noreturn]] void Fail(const std::string& reason) { throw FileError("kolvex show", reason); }

// A picture as the window shows it: rows of B, G, R, X bytes, top row first.
struct Shown {
  int width = 0;
  int height = 0;
  std::vector<BYTE> rows;
};

// The library draws `dib` at width x height into a 32-bit top-down DIB section.
Shown Draw(CRZDIB2& dib, int width, int height) {
  Shown shown{
      width, height,
      std::vector<BYTE>(static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(height))};
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  CDC dc;
  void* bits = nullptr;
  if (!dc.Attach(CreateCompatibleDC(nullptr))) Fail("out of memory");
  HBITMAP section = CreateDIBSection(dc.GetSafeHdc(), &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (section == nullptr) Fail("out of memory");
  HGDIOBJ previous = SelectObject(dc.GetSafeHdc(), section);
  const bool drawn = dib.Draw(dc, CRect(0, 0, width, height),
                              CRect(0, 0, dib.DIBWidth(), dib.DIBHeight()), nullptr);
  if (drawn) std::memcpy(shown.rows.data(), bits, shown.rows.size());
  SelectObject(dc.GetSafeHdc(), previous);
  DeleteObject(section);
  if (!drawn) Fail("cannot draw the picture");
  return shown;
}

class Viewer {
 public:
  explicit Viewer(std::vector<Picture>& pictures) : pictures_(pictures) {
    int number = 0;
    conn_.reset(xcb_connect(nullptr, &number));
    if (xcb_connection_has_error(conn_.get()) != 0) {
      const char* display = std::getenv("DISPLAY");
      Fail(display == nullptr || *display == '\0'
               ? "no X display (DISPLAY is not set)"
               : std::string("cannot connect to X display '") + display + "'");
    }
    const xcb_setup_t* setup = xcb_get_setup(conn_.get());
    auto roots = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < number && roots.rem != 0; ++i) xcb_screen_next(&roots);
    if (roots.rem == 0) Fail("the X display has no screen " + std::to_string(number));
    screen_ = roots.data;
    // The rows go out as they are: B, G, R and a fourth byte per pixel.
    bool fourBytes = false;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem != 0; xcb_format_next(&f)) {
      fourBytes =
          fourBytes || (f.data->depth == screen_->root_depth && f.data->bits_per_pixel == 32);
    }
    if ((screen_->root_depth != 24 && screen_->root_depth != 32) || !fourBytes ||
        setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
      Fail("the X display's " + std::to_string(screen_->root_depth) +
           "-bit root window is not 24- or 32-bit TrueColor in 4-byte pixels");
    }
    maxPutBytes_ = std::size_t{xcb_get_maximum_request_length(conn_.get())} * 4 - 24;
    LoadKeyboard(setup);
    wmProtocols_ = Atom("WM_PROTOCOLS");
    wmDelete_ = Atom("WM_DELETE_WINDOW");
    netWmName_ = Atom("_NET_WM_NAME");
    utf8_ = Atom("UTF8_STRING");
  }

  // Until a key or the window manager closes the window; a signal throws
  // Interrupted.
  void Run() {
    Open(0);
    for (;;) {
      const Reply<xcb_generic_event_t> event(NextEvent());
      switch (event->response_type & 0x7F) {
        case XCB_EXPOSE:
          if (reinterpret_cast<const xcb_expose_event_t*>(event.get())->count == 0) Paint();
          break;
        case XCB_KEY_PRESS: {
          const xcb_keysym_t key =
              KeysymOf(reinterpret_cast<const xcb_key_press_event_t*>(event.get())->detail);
          if (key == kQ || key == kEscape) return;
          const std::size_t n = pictures_.size();
          if (key == kSpace || key == kRight || key == kDown || key == kPageDown)
            Open((current_ + 1) % n);
          if (key == kLeft || key == kUp || key == kPageUp || key == kBackSpace)
            Open((current_ + n - 1) % n);
          break;
        }
        case XCB_CLIENT_MESSAGE: {
          const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event.get());
          if (message->type == wmProtocols_ && message->data.data32[0] == wmDelete_) return;
          break;
        }
        default:
          break;
      }
    }
  }

 private:
  // The next event, waiting for it beside the signals: XCB's own wait would
  // not end for one.
  xcb_generic_event_t* NextEvent() {
    for (;;) {
      // Reads what the connection holds; the socket is polled only once the
      // queue is empty, so no event waits unseen in XCB's buffer.
      if (xcb_generic_event_t* event = xcb_poll_for_event(conn_.get())) return event;
      if (xcb_connection_has_error(conn_.get()) != 0) Fail("lost the connection to the X display");
      StopIfInterrupted();
      os::WaitReady(xcb_get_file_descriptor(conn_.get()), false);
    }
  }

  xcb_atom_t Atom(const char* name) {
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        conn_.get(),
        xcb_intern_atom(conn_.get(), 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr));
    if (reply == nullptr) Fail("lost the connection to the X display");
    return reply->atom;
  }

  void LoadKeyboard(const xcb_setup_t* setup) {
    minKeycode_ = setup->min_keycode;
    const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    keyboard_.reset(xcb_get_keyboard_mapping_reply(
        conn_.get(), xcb_get_keyboard_mapping(conn_.get(), minKeycode_, count), nullptr));
    if (keyboard_ == nullptr) Fail("lost the connection to the X display");
  }

  // The unshifted keysym of a key.
  xcb_keysym_t KeysymOf(xcb_keycode_t code) const {
    const int per = keyboard_->keysyms_per_keycode;
    const int index = (code - minKeycode_) * per;
    if (per == 0 || code < minKeycode_ ||
        index >= xcb_get_keyboard_mapping_keysyms_length(keyboard_.get())) {
      return 0;
    }
    return xcb_get_keyboard_mapping_keysyms(keyboard_.get())[index];
  }

  // Shows picture i: natural size, or scaled down to fit the screen.
  void Open(std::size_t i) {
    current_ = i;
    Picture& p = pictures_[i];
    const int w = p.dib.DIBWidth();
    const int h = p.dib.DIBHeight();
    const double fit = std::min({1.0, static_cast<double>(screen_->width_in_pixels) / w,
                                 static_cast<double>(screen_->height_in_pixels) / h});
    const int width = std::max(1, static_cast<int>(w * fit));
    const int height = std::max(1, static_cast<int>(h * fit));
    shown_ = Draw(p.dib, width, height);

    std::string title = p.name + " - " + std::to_string(w) + " x " + std::to_string(h);
    if (width != w || height != h) title += " (shown at " + std::to_string(width * 100 / w) + "%)";
    if (pictures_.size() > 1)
      title += " [" + std::to_string(i + 1) + "/" + std::to_string(pictures_.size()) + "]";

    const std::uint32_t size[] = {static_cast<std::uint32_t>(width),
                                  static_cast<std::uint32_t>(height)};
    if (window_ == 0) {
      window_ = xcb_generate_id(conn_.get());
      const std::uint32_t values[] = {screen_->black_pixel,
                                      XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_KEY_PRESS};
      xcb_create_window(conn_.get(), screen_->root_depth, window_, screen_->root, 0, 0,
                        static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 0,
                        XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual,
                        XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
      xcb_change_property(conn_.get(), XCB_PROP_MODE_REPLACE, window_, wmProtocols_, XCB_ATOM_ATOM,
                          32, 1, &wmDelete_);
      SetTitle(title);
      xcb_map_window(conn_.get(), window_);
    } else {
      xcb_configure_window(conn_.get(), window_, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                           size);
      SetTitle(title);
      Paint();
    }
    xcb_flush(conn_.get());
  }

  void SetTitle(const std::string& title) {
    const auto length = static_cast<std::uint32_t>(title.size());
    xcb_change_property(conn_.get(), XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NAME,
                        XCB_ATOM_STRING, 8, length, title.data());
    xcb_change_property(conn_.get(), XCB_PROP_MODE_REPLACE, window_, netWmName_, utf8_, 8, length,
                        title.data());
  }

  // The picture into the window, in bands within the request size limit.
  void Paint() {
    const std::size_t stride = static_cast<std::size_t>(shown_.width) * 4;
    const int band = static_cast<int>(std::max<std::size_t>(1, maxPutBytes_ / stride));
    for (int top = 0; top < shown_.height; top += band) {
      const int rows = std::min(band, shown_.height - top);
      xcb_put_image(conn_.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, window_, gc(),
                    static_cast<std::uint16_t>(shown_.width), static_cast<std::uint16_t>(rows), 0,
                    static_cast<std::int16_t>(top), 0, screen_->root_depth,
                    static_cast<std::uint32_t>(stride * static_cast<std::size_t>(rows)),
                    shown_.rows.data() + stride * static_cast<std::size_t>(top));
    }
    xcb_flush(conn_.get());
  }

  xcb_gcontext_t gc() {
    if (gc_ == 0) {
      gc_ = xcb_generate_id(conn_.get());
      xcb_create_gc(conn_.get(), gc_, window_, 0, nullptr);
    }
    return gc_;
  }

  std::vector<Picture>& pictures_;
  Connection conn_;
  const xcb_screen_t* screen_ = nullptr;
  std::size_t maxPutBytes_ = 0;
  xcb_keycode_t minKeycode_ = 0;
  Reply<xcb_get_keyboard_mapping_reply_t> keyboard_;
  xcb_atom_t wmProtocols_ = 0, wmDelete_ = 0, netWmName_ = 0, utf8_ = 0;
  xcb_window_t window_ = 0;
  xcb_gcontext_t gc_ = 0;
  std::size_t current_ = 0;
  Shown shown_;
};

}  // namespace

void UseRealScreen(const char* command) {
  std::string why;
  if (!kolvex::platform::UseDisplay(nullptr, &why))
    throw FileError(std::string("kolvex ") + command, why);
}

void ShowPictures(std::vector<Picture>& pictures) {
  if (pictures.empty()) return;
  Viewer(pictures).Run();
}

}  // namespace kolvex::cli
