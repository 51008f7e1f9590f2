// Every xcb reply and error is malloc'ed by libxcb and must be freed once: holding them in a
// unique_ptr makes that automatic.
//
//   XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, cookie, nullptr));
//   if (geometry) use(geometry->width);
#pragma once

#include <cstdlib>
#include <memory>

namespace quillet {

struct XcbFree {
    void operator()(void* reply) const { std::free(reply); }
};

template <class T>
using XcbReply = std::unique_ptr<T, XcbFree>;

}  // namespace quillet
