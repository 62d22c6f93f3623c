// The real screen on an X display, through XCB: the root window, read with
// GetImage and written with PutImage, in bands. Where the display runs on this
// machine and offers MIT-SHM, the pixels travel through one shared-memory
// segment as large as the screen (made on first use) and every band of a
// rectangle is asked for at once, so the server fills or empties one band
// while this side converts another; DIB sections and copies of the screen in
// shared memory of their own are filled in place, and the segments of copies
// (which captures make and free frame after frame) are kept, still attached,
// for the next ones. Otherwise the band data travels in the requests and
// replies, each band within the server's request size limit.

#include "platform/linux/real_screen.h"

#include <kolvex/platform/linux/xcb_handles.h>

#include <pthread.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace kolvex::platform::detail {
namespace {

// Bytes per band: the server works on one band while this side converts
// another, but every band of a read wakes this side once more, which costs
// more than it saves when the processors are busy: a 1080p frame is two.
// Writes wake nobody: the server copies a band while this side converts the
// next, and the smaller the bands, the less of either waits for the other.
constexpr std::size_t kBandBytes = 4 * 1024 * 1024;
constexpr std::size_t kPutBandBytes = 1024 * 1024;
constexpr std::uint32_t kAllPlanes = ~0u;

using xcb::Connection;
using xcb::Reply;

// Writing to a display that went away raises SIGPIPE, whose default action
// ends the process. The signal is held back in this thread for the length of
// each exchange with the display, and dropped if the exchange raised it.
class QuietPipe {
 public:
  QuietPipe() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &saved_);
  }
  ~QuietPipe() {
    sigset_t pending;
    sigpending(&pending);
    if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
      const timespec now{};
      sigtimedwait(&pipe_, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  QuietPipe(const QuietPipe&) = delete;
  QuietPipe& operator=(const QuietPipe&) = delete;

 private:
  sigset_t pipe_;
  sigset_t saved_;
  bool wasPending_ = false;
};

// Shared memory only reaches a server on this machine: a display reached
// over TCP (a remote one, or one forwarded by ssh) gets image requests.
bool OnThisMachine(xcb_connection_t* c) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  return getsockname(xcb_get_file_descriptor(c), reinterpret_cast<sockaddr*>(&address), &length) ==
             0 &&
         address.ss_family == AF_UNIX;
}

// The screen's root visual, when it is TrueColor with 8-bit channels in
// B, G, R byte order.
bool RootVisualFits(const xcb_screen_t& screen) {
  for (auto d = xcb_screen_allowed_depths_iterator(&screen); d.rem != 0; xcb_depth_next(&d)) {
    for (auto v = xcb_depth_visuals_iterator(d.data); v.rem != 0; xcb_visualtype_next(&v)) {
      if (v.data->visual_id != screen.root_visual) continue;
      return v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xFF0000 &&
             v.data->green_mask == 0xFF00 && v.data->blue_mask == 0xFF;
    }
  }
  return false;
}

class X11Screen final : public RealScreen {
 public:
  X11Screen(Connection connection, const xcb_screen_t& screen, const xcb_format_t& format,
            xcb_gcontext_t gc)
      : conn_(std::move(connection)),
        root_(screen.root),
        gc_(gc),
        width_(screen.width_in_pixels),
        height_(screen.height_in_pixels),
        depth_(screen.root_depth),
        bitsPerPixel_(format.bits_per_pixel),
        scanlinePad_(format.scanline_pad),
        shm_(xcb_get_extension_data(conn_.get(), &xcb_shm_id)->present != 0 &&
                     OnThisMachine(conn_.get())
                 ? Shm::Untried
                 : Shm::Off),
        // The request size limit, in 4-byte units; PutImage's own fields
        // take 24 bytes of it.
        maxPutBytes_(std::size_t{xcb_get_maximum_request_length(conn_.get())} * 4 - 24) {}

  ~X11Screen() override { Drop(); }

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  bool Lost() const override { return conn_ == nullptr; }

  bool Read(const Box& r, const BandFn& take) override {
    if (Lost()) return false;
    const QuietPipe quiet;
    const Bands bands = BandsOf(r, false);
    return SharedMemory() ? ReadShared(r, bands, take) : ReadPlain(r, bands, take);
  }

  bool Write(const Box& r, const BandFn& fill) override {
    if (Lost()) return false;
    const QuietPipe quiet;
    const Bands bands = BandsOf(r, true);
    return SharedMemory() ? WriteShared(r, bands, fill) : WritePlain(r, bands, fill);
  }

  std::optional<bool> ReadInto(const Box& r, const PixelView& dst, int toY) override {
    if (Lost() || dst.shm < 0 || dst.bitCount != bitsPerPixel_ || !dst.topDown ||
        static_cast<std::size_t>(dst.stride) != Stride(r.w)) {
      return std::nullopt;
    }
    const QuietPipe quiet;
    const std::optional<xcb_shm_seg_t> seg = Attached(dst.shm);
    if (!seg) return Lost() ? std::optional<bool>(false) : std::nullopt;
    const auto reply = Drain(
        xcb_shm_get_image_reply,
        xcb_shm_get_image(conn_.get(), root_, static_cast<std::int16_t>(r.x),
                          static_cast<std::int16_t>(r.y), static_cast<std::uint16_t>(r.w),
                          static_cast<std::uint16_t>(r.h), kAllPlanes, XCB_IMAGE_FORMAT_Z_PIXMAP,
                          *seg, static_cast<std::uint32_t>(dst.stride * toY)));
    return Checked(reply != nullptr);
  }

  bool SharesMemory() const override { return shm_ != Shm::Off; }

  SurfaceBytes Segment(std::size_t n, bool keep) override {
    if (keep) {
      // Frame after frame of one size: the segment of the last one, still
      // attached by the display. Never one more than twice the size.
      const auto it = std::find_if(kept_.begin(), kept_.end(), [n](const SurfaceBytes& b) {
        return b.size >= n && b.size / 2 <= n;
      });
      if (it != kept_.end()) {
        SurfaceBytes b = *it;
        kept_.erase(it);
        b.stale = true;
        return b;
      }
    }
    SurfaceBytes b = NewSegment(n);
    b.keep = keep;
    return b;
  }

  void Release(const SurfaceBytes& b) override {
    if (b.keep && !Lost() && SharesMemory()) {
      kept_.push_back(b);
      if (kept_.size() <= kKeptSegments) return;
      LetGo(kept_.front());
      kept_.erase(kept_.begin());
      return;
    }
    LetGo(b);
  }

 private:
  enum class Shm { Untried, On, Off };

  // Segments of copies of the screen kept for the next ones.
  static constexpr std::size_t kKeptSegments = 2;

  // Both sides let go of a surface's segment.
  void LetGo(const SurfaceBytes& b) {
    const auto it = std::find_if(surfaces_.begin(), surfaces_.end(),
                                 [&](const auto& s) { return s.first == b.shm; });
    if (it != surfaces_.end()) {
      if (!Lost()) {
        const QuietPipe quiet;
        xcb_shm_detach(conn_.get(), it->second);
      }
      surfaces_.erase(it);
    }
    FreeSegment(b);
  }

  struct Bands {
    std::size_t stride;  // bytes per row of the rectangle, as the server lays them out
    int rows;            // rows per band
    int count;
  };

  std::size_t Stride(int width) const {
    const std::size_t bits =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(bitsPerPixel_);
    const auto pad = static_cast<std::size_t>(scanlinePad_);
    return (bits + pad - 1) / pad * pad / 8;
  }

  Bands BandsOf(const Box& r, bool put) const {
    const std::size_t stride = Stride(r.w);
    std::size_t limit = put ? kPutBandBytes : kBandBytes;
    // Plain requests carry their band: one row at least, within the limit.
    if (put && shm_ != Shm::On) limit = std::min(limit, maxPutBytes_);
    const int rows =
        static_cast<int>(std::clamp<std::size_t>(limit / stride, 1, static_cast<std::size_t>(r.h)));
    return {stride, rows, (r.h + rows - 1) / rows};
  }

  PixelView View(BYTE* bits, const Box& r, const Bands& b, int top) const {
    PixelView v;
    v.bits = bits;
    v.width = r.w;
    v.height = std::min(b.rows, r.h - top);
    v.bitCount = bitsPerPixel_;
    v.stride = static_cast<std::ptrdiff_t>(b.stride);
    return v;
  }

  // The display's name for System V segment `shm` once it has attached it;
  // nothing when it refuses.
  std::optional<xcb_shm_seg_t> Attach(int shm) {
    const xcb_shm_seg_t seg = xcb_generate_id(conn_.get());
    const Reply<xcb_generic_error_t> error(xcb_request_check(
        conn_.get(), xcb_shm_attach_checked(conn_.get(), seg, static_cast<std::uint32_t>(shm), 0)));
    if (error != nullptr || !Checked(true)) return std::nullopt;
    return seg;
  }

  // The segment of a surface, attached on first use.
  std::optional<xcb_shm_seg_t> Attached(int shm) {
    for (const auto& [id, seg] : surfaces_) {
      if (id == shm) return seg;
    }
    const std::optional<xcb_shm_seg_t> seg = Attach(shm);
    if (seg) surfaces_.emplace_back(shm, *seg);
    return seg;
  }

  // The shared segment, made on first use; false for image requests instead.
  bool SharedMemory() {
    if (shm_ != Shm::Untried) return shm_ == Shm::On;
    shm_ = Shm::Off;
    const SurfaceBytes staging = NewSegment(Stride(width_) * static_cast<std::size_t>(height_));
    if (staging.bytes == nullptr) return false;
    const auto seg = Attach(staging.shm);
    if (!seg) {
      FreeSegment(staging);
      return false;
    }
    shmAddress_ = staging.bytes;
    seg_ = *seg;
    shm_ = Shm::On;
    return true;
  }

  bool ReadShared(const Box& r, const Bands& b, const BandFn& take) {
    std::vector<xcb_shm_get_image_cookie_t> asked;
    asked.reserve(static_cast<std::size_t>(b.count));
    for (int top = 0; top < r.h; top += b.rows) {
      const int rows = std::min(b.rows, r.h - top);
      asked.push_back(xcb_shm_get_image(
          conn_.get(), root_, static_cast<std::int16_t>(r.x), static_cast<std::int16_t>(r.y + top),
          static_cast<std::uint16_t>(r.w), static_cast<std::uint16_t>(rows), kAllPlanes,
          XCB_IMAGE_FORMAT_Z_PIXMAP, seg_, Offset(b, top)));
    }
    xcb_flush(conn_.get());
    bool ok = true;
    std::size_t k = 0;
    try {
      for (; k < asked.size(); ++k) {
        const auto reply = Drain(xcb_shm_get_image_reply, asked[k]);
        ok = ok && reply != nullptr;
        const int top = static_cast<int>(k) * b.rows;
        if (ok) take(View(shmAddress_ + Offset(b, top), r, b, top), top);
      }
    } catch (...) {
      // The server still writes the bands asked for: wait for it before the
      // segment serves again.
      for (++k; k < asked.size(); ++k) Drain(xcb_shm_get_image_reply, asked[k]);
      throw;
    }
    return Checked(ok);
  }

  bool ReadPlain(const Box& r, const Bands& b, const BandFn& take) {
    std::vector<xcb_get_image_cookie_t> asked;
    asked.reserve(static_cast<std::size_t>(b.count));
    for (int top = 0; top < r.h; top += b.rows) {
      const int rows = std::min(b.rows, r.h - top);
      asked.push_back(xcb_get_image(
          conn_.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, root_, static_cast<std::int16_t>(r.x),
          static_cast<std::int16_t>(r.y + top), static_cast<std::uint16_t>(r.w),
          static_cast<std::uint16_t>(rows), kAllPlanes));
    }
    bool ok = true;
    std::size_t k = 0;
    try {
      for (; k < asked.size(); ++k) {
        const auto reply = Drain(xcb_get_image_reply, asked[k]);
        const int top = static_cast<int>(k) * b.rows;
        const PixelView band = View(nullptr, r, b, top);
        ok = ok && reply != nullptr &&
             static_cast<std::size_t>(xcb_get_image_data_length(reply.get())) >=
                 b.stride * static_cast<std::size_t>(band.height);
        if (!ok) continue;
        PixelView data = band;
        data.bits = xcb_get_image_data(reply.get());
        take(data, top);
      }
    } catch (...) {
      for (++k; k < asked.size(); ++k) xcb_discard_reply(conn_.get(), asked[k].sequence);
      throw;
    }
    return Checked(ok);
  }

  bool WriteShared(const Box& r, const Bands& b, const BandFn& fill) {
    std::vector<xcb_void_cookie_t> sent;
    sent.reserve(static_cast<std::size_t>(b.count));
    try {
      for (int top = 0; top < r.h; top += b.rows) {
        const PixelView band = View(shmAddress_ + Offset(b, top), r, b, top);
        fill(band, top);
        sent.push_back(xcb_shm_put_image_checked(
            conn_.get(), root_, gc_, static_cast<std::uint16_t>(r.w),
            static_cast<std::uint16_t>(band.height), 0, 0, static_cast<std::uint16_t>(r.w),
            static_cast<std::uint16_t>(band.height), static_cast<std::int16_t>(r.x),
            static_cast<std::int16_t>(r.y + top), depth_, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, seg_,
            Offset(b, top)));
        xcb_flush(conn_.get());
      }
    } catch (...) {
      Settle(sent);  // the server still reads the bands sent
      throw;
    }
    return Checked(Settle(sent));
  }

  bool WritePlain(const Box& r, const Bands& b, const BandFn& fill) {
    std::vector<xcb_void_cookie_t> sent;
    sent.reserve(static_cast<std::size_t>(b.count));
    const std::unique_ptr<BYTE[]> data(new BYTE[b.stride * static_cast<std::size_t>(b.rows)]);
    try {
      for (int top = 0; top < r.h; top += b.rows) {
        const PixelView band = View(data.get(), r, b, top);
        fill(band, top);
        // The request takes its own copy of the band before it returns.
        sent.push_back(xcb_put_image_checked(
            conn_.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, root_, gc_, static_cast<std::uint16_t>(r.w),
            static_cast<std::uint16_t>(band.height), static_cast<std::int16_t>(r.x),
            static_cast<std::int16_t>(r.y + top), 0, depth_,
            static_cast<std::uint32_t>(b.stride * static_cast<std::size_t>(band.height)),
            data.get()));
      }
    } catch (...) {
      Settle(sent);
      throw;
    }
    return Checked(Settle(sent));
  }

  // The reply to a request, null when it failed; an error is freed here
  // rather than left in the event queue, which nothing reads.
  template <class R, class Cookie>
  Reply<R> Drain(R* (*wait)(xcb_connection_t*, Cookie, xcb_generic_error_t**), Cookie cookie) {
    xcb_generic_error_t* error = nullptr;
    Reply<R> reply(wait(conn_.get(), cookie, &error));
    std::free(error);
    return reply;
  }

  static std::uint32_t Offset(const Bands& b, int top) {
    return static_cast<std::uint32_t>(b.stride * static_cast<std::size_t>(top));
  }

  // Waits until the server has handled every request sent; true when none
  // failed.
  bool Settle(const std::vector<xcb_void_cookie_t>& sent) {
    bool ok = true;
    for (const xcb_void_cookie_t& c : sent) {
      const Reply<xcb_generic_error_t> error(xcb_request_check(conn_.get(), c));
      ok = ok && error == nullptr;
    }
    return ok;
  }

  // `ok` unless the connection failed, which drops it.
  bool Checked(bool ok) {
    if (xcb_connection_has_error(conn_.get()) == 0) return ok;
    Drop();
    return false;
  }

  // Lets go of the segments and the connection; the screen is lost from here.
  void Drop() {
    if (shmAddress_ != nullptr) shmdt(shmAddress_);
    shmAddress_ = nullptr;
    for (const SurfaceBytes& b : kept_) FreeSegment(b);
    kept_.clear();
    conn_.reset();
  }

  Connection conn_;
  xcb_window_t root_;
  xcb_gcontext_t gc_;
  int width_;
  int height_;
  std::uint8_t depth_;
  int bitsPerPixel_;
  int scanlinePad_;
  Shm shm_;
  std::size_t maxPutBytes_;
  xcb_shm_seg_t seg_ = 0;
  BYTE* shmAddress_ = nullptr;
  std::vector<std::pair<int, xcb_shm_seg_t>> surfaces_;  // segments of surfaces, by System V id
  std::vector<SurfaceBytes> kept_;
};

const xcb_format_t* PixmapFormat(const xcb_setup_t* setup, std::uint8_t depth) {
  for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem != 0; xcb_format_next(&f)) {
    if (f.data->depth == depth) return f.data;
  }
  return nullptr;
}

}  // namespace

std::unique_ptr<RealScreen> OpenX11Screen(const char* name, std::string& why) {
  const char* display = name != nullptr ? name : std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    why = "no X display (DISPLAY is not set)";
    return nullptr;
  }
  const std::string shown = std::string("X display '") + display + "'";
  const QuietPipe quiet;
  int number = 0;
  Connection conn(xcb_connect(display, &number));
  if (xcb_connection_has_error(conn.get()) != 0) {
    why = "cannot connect to " + shown;
    return nullptr;
  }
  const xcb_setup_t* setup = xcb_get_setup(conn.get());
  auto roots = xcb_setup_roots_iterator(setup);
  for (int i = 0; i < number && roots.rem != 0; ++i) xcb_screen_next(&roots);
  if (roots.rem == 0) {
    why = shown + " has no screen " + std::to_string(number);
    return nullptr;
  }
  const xcb_screen_t& screen = *roots.data;
  const xcb_format_t* format = PixmapFormat(setup, screen.root_depth);
  if ((screen.root_depth != 24 && screen.root_depth != 32) || !RootVisualFits(screen) ||
      format == nullptr || (format->bits_per_pixel != 24 && format->bits_per_pixel != 32) ||
      setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
    why = shown + " has a " + std::to_string(screen.root_depth) +
          "-bit root window that is not 24- or 32-bit TrueColor (B, G, R bytes)";
    return nullptr;
  }
  // Drawing on the root window reaches the screen over any windows on it.
  const xcb_gcontext_t gc = xcb_generate_id(conn.get());
  const std::uint32_t values[] = {XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS, 0};
  const Reply<xcb_generic_error_t> error(xcb_request_check(
      conn.get(),
      xcb_create_gc_checked(conn.get(), gc, screen.root,
                            XCB_GC_SUBWINDOW_MODE | XCB_GC_GRAPHICS_EXPOSURES, values)));
  if (error != nullptr || xcb_connection_has_error(conn.get()) != 0) {
    why = "cannot draw on " + shown;
    return nullptr;
  }
  return std::make_unique<X11Screen>(std::move(conn), screen, *format, gc);
}

}  // namespace kolvex::platform::detail
