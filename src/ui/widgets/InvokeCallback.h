// Calls a callback through a copy, so the callback may replace or clear itself while it runs.
//
//   invokeCallback(onCopy);
//   invokeCallback(onHover, true);
#pragma once

#include <utility>

namespace quillet {

template <class F, class... Args>
void invokeCallback(const F& callback, Args&&... args) {
    if (F copy = callback) copy(std::forward<Args>(args)...);
}

}  // namespace quillet
