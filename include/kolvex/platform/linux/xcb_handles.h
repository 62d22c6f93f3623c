// Owning handles for XCB, for code that talks to an X display itself beside
// the library (the kolvex tool's viewer does; so does the library's own
// screen): a reply freed with the handle, a connection closed with it.
// Installed only by builds that reach X displays; needs the XCB headers.
// Header-only: nothing of the library runs here.
#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace kolvex::platform::xcb {

// Replies and other blocks that XCB allocates are the caller's to free().
struct FreeReply {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeReply>;

struct Disconnect {
  void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};
using Connection = std::unique_ptr<xcb_connection_t, Disconnect>;

}  // namespace kolvex::platform::xcb
