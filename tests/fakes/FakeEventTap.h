// A hand-written event tap for the hot key monitor's tests: the test decides whether listening
// is allowed, sends events as the desktop would, and reads back what the monitor asked of it.
#pragma once

#include "hotkeys/EventTapping.h"

#include <cstdint>
#include <utility>

namespace quillet::fakes {

class FakeEventTap : public EventTapping {
public:
    bool listenAccess = true;  // what preflightListenAccess answers
    bool tapCreatable = true;  // whether createTap succeeds

    int creations = 0;
    int enables = 0;
    int invalidations = 0;

    bool preflightListenAccess() override { return listenAccess; }
    bool createTap(std::uint64_t, Callback eventCallback) override {
        if (!tapCreatable) return false;
        ++creations;
        callback = std::move(eventCallback);
        return true;
    }
    void enableTap() override { ++enables; }
    void invalidateTap() override {
        ++invalidations;
        callback = nullptr;
    }

    bool isTapping() const { return static_cast<bool>(callback); }

    // Delivers an event as the desktop would; nothing happens while no tap exists.
    void send(const TapEvent& event) {
        if (callback) callback(event);
    }
    void flagsChanged(std::uint16_t keyCode, std::uint64_t flags) { send({TapEventType::flagsChanged, keyCode, flags}); }
    void keyDown() { send({TapEventType::keyDown, 0, 0}); }

private:
    Callback callback;
};

}  // namespace quillet::fakes
