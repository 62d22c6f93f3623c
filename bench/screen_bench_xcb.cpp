#include "screen_bench_bound.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace kolvex_bench {
namespace {

struct Display {
  xcb_connection_t* connection = nullptr;
  BYTE* segment = nullptr;
  ~Display() {
    if (segment != nullptr) shmdt(segment);
    if (connection != nullptr) xcb_disconnect(connection);
  }
};

// The root window's screen.
const xcb_screen_t* Screen(xcb_connection_t* c, int number) {
  auto roots = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < number && roots.rem != 0; ++i) xcb_screen_next(&roots);
  return roots.rem != 0 ? roots.data : nullptr;
}

// Whether a checked request went through.
bool Done(xcb_connection_t* c, xcb_void_cookie_t cookie) {
  xcb_generic_error_t* error = xcb_request_check(c, cookie);
  std::free(error);
  return error == nullptr;
}

}  // namespace

std::function<bool()> PutImageBound(const CRZDIB2& frame32) {
  auto d = std::make_shared<Display>();
  int number = 0;
  d->connection = xcb_connect(nullptr, &number);
  xcb_connection_t* c = d->connection;
  const xcb_screen_t* screen = xcb_connection_has_error(c) == 0 ? Screen(c, number) : nullptr;
  if (screen == nullptr || xcb_get_extension_data(c, &xcb_shm_id)->present == 0) return {};
  const int width = frame32.DIBWidth(), height = frame32.DIBHeight();
  const std::size_t stride = 4 * static_cast<std::size_t>(width);
  const int id = shmget(IPC_PRIVATE, stride * static_cast<std::size_t>(height), IPC_CREAT | 0600);
  if (id < 0) return {};
  void* address = shmat(id, nullptr, 0);
  const xcb_shm_seg_t seg = xcb_generate_id(c);
  const bool attached = address != reinterpret_cast<void*>(-1) &&
                        Done(c, xcb_shm_attach_checked(c, seg, static_cast<std::uint32_t>(id), 0));
  shmctl(id, IPC_RMID, nullptr);
  if (address != reinterpret_cast<void*>(-1)) d->segment = static_cast<BYTE*>(address);
  if (!attached) return {};
  // The conversion, done once: bottom-up rows to the server's top-down ones.
  for (int y = 0; y < height; ++y) {
    std::memcpy(d->segment + static_cast<std::size_t>(y) * stride,
                frame32.GetBytes() + static_cast<std::size_t>(height - 1 - y) * stride, stride);
  }
  const xcb_gcontext_t gc = xcb_generate_id(c);
  const std::uint32_t values[] = {XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS, 0};
  if (!Done(c, xcb_create_gc_checked(c, gc, screen->root,
                                     XCB_GC_SUBWINDOW_MODE | XCB_GC_GRAPHICS_EXPOSURES, values))) {
    return {};
  }
  const auto w = static_cast<std::uint16_t>(width), h = static_cast<std::uint16_t>(height);
  const xcb_window_t root = screen->root;
  const std::uint8_t depth = screen->root_depth;
  return [d, gc, seg, w, h, root, depth] {
    return Done(d->connection,
                xcb_shm_put_image_checked(d->connection, root, gc, w, h, 0, 0, w, h, 0, 0, depth,
                                          XCB_IMAGE_FORMAT_Z_PIXMAP, 0, seg, 0));
  };
}

}  // namespace kolvex_bench
