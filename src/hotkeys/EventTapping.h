// The system-wide, listen-only stream of key and mouse-button presses that the hot key monitor
// watches. A tap only observes: it never grabs, swallows or changes an event, so every
// application still sees each keystroke exactly as before. The real one lives in the platform
// target (XInput 2 raw events on X11); unit tests use a fake.
//
//   if (!tap.preflightListenAccess()) return denied;
//   tap.createTap(hotKeyEventMask, [this](const TapEvent& event) { handle(event); });
#pragma once

#include <cstdint>
#include <functional>

namespace quillet {

// Event types, numbered as the event tap numbers them; a mask has bit (1 << type) set for each
// type it asks for.
enum class TapEventType : std::uint32_t {
    leftMouseDown = 1,
    rightMouseDown = 3,
    keyDown = 10,
    flagsChanged = 12,
    otherMouseDown = 25,
    // Sent without being asked for when the tap stopped delivering (X11: its connection to the
    // server was lost). The receiver re-enables the tap.
    tapDisabledByTimeout = 0xFFFFFFFE,
    tapDisabledByUserInput = 0xFFFFFFFF,
};

constexpr std::uint64_t eventMaskBit(TapEventType type) { return std::uint64_t{1} << static_cast<std::uint32_t>(type); }

// Modifier changes, key presses and the three kinds of mouse press: 0x200140A.
inline constexpr std::uint64_t hotKeyEventMask =
    eventMaskBit(TapEventType::flagsChanged) | eventMaskBit(TapEventType::keyDown) |
    eventMaskBit(TapEventType::leftMouseDown) | eventMaskBit(TapEventType::rightMouseDown) |
    eventMaskBit(TapEventType::otherMouseDown);

struct TapEvent {
    TapEventType type = TapEventType::keyDown;
    // Of flagsChanged: the hardware key code of the modifier that changed (see ModifierKeyCode).
    std::uint16_t keyCode = 0;
    // Of flagsChanged: the device-dependent bits of the modifier keys held after the change.
    std::uint64_t flags = 0;

    friend bool operator==(const TapEvent&, const TapEvent&) = default;
};

class EventTapping {
public:
    using Callback = std::function<void(const TapEvent&)>;

    virtual ~EventTapping() = default;

    // Whether this process may listen to the desktop's input at all (X11: the server offers
    // XInput 2). Asks nothing of the user.
    virtual bool preflightListenAccess() = 0;
    // Starts delivering the events of `mask` to `callback`, on the main thread and in the order
    // they happened. False when the tap cannot be created.
    virtual bool createTap(std::uint64_t mask, Callback callback) = 0;
    // Makes a tap that reported itself disabled deliver again.
    virtual void enableTap() = 0;
    // Stops delivery and lets go of everything createTap took; createTap may follow again.
    virtual void invalidateTap() = 0;
};

}  // namespace quillet
