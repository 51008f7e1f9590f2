// Turns the X server's raw key and button presses into event-tap events. X key codes become the
// hardware key codes of the modifier table through their keysyms (Control_R is 62 whatever key
// carries it), and the set of held physical modifier keys gives the device-dependent bits that
// a modifier change carries (both Shift keys held = 0x2 | 0x4).
//
//   translator.setKeyboardMapping(8, 7, keysyms);     // from GetKeyboardMapping
//   translator.keyPress(105);   // flagsChanged, keyCode 62, flags 0x2000 (Control_R)
//   translator.keyPress(38);    // keyDown ("a")
//
// Pure bookkeeping, no X connection: XInputEventTap feeds it.
#pragma once

#include "hotkeys/EventTapping.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quillet {

class RawInputTranslator {
public:
    RawInputTranslator();

    // The core keyboard mapping: `keysymsPerKeycode` keysyms for each X key code from
    // `firstKeycode` on. Held keys stay held across a new mapping.
    void setKeyboardMapping(std::uint8_t firstKeycode, std::uint8_t keysymsPerKeycode, std::span<const std::uint32_t> keysyms);
    // The keys held right now, one bit per X key code as QueryKeymap reports them: a modifier
    // already held when listening begins still counts as held.
    void setHeldKeys(const std::array<std::uint8_t, 32>& keys);
    // After a gap in the event stream nothing is known to be held any more.
    void forgetHeldKeys() { held.reset(); }

    // A key press: keyDown for an ordinary key, flagsChanged for a modifier key, nothing for the
    // auto-repeat of a modifier that is already held.
    std::optional<TapEvent> keyPress(std::uint8_t keycode);
    // A key release: flagsChanged for one of the eight table modifiers, nothing otherwise.
    std::optional<TapEvent> keyRelease(std::uint8_t keycode);
    // A button press; the scroll wheel (buttons 4 to 7) is no press.
    static std::optional<TapEvent> buttonPress(std::uint32_t button);

    // The device bits of the table modifiers held now.
    std::uint64_t flags() const;

    // The hardware key code a modifier keysym stands for: one of the eight table keys, or
    // capsLock / function for the other modifier keysyms (Caps_Lock, Num_Lock, Hyper_L, ...).
    // None for the keysym of an ordinary key.
    static std::optional<std::uint16_t> modifierKeyCode(std::uint32_t keysym);

private:
    static constexpr std::uint16_t ordinaryKey = 0xFFFF;

    std::array<std::uint16_t, 256> codes;  // hardware key code per X key code
    std::vector<std::uint8_t> tableKeycodes;  // the X key codes of the eight table modifiers
    std::bitset<256> held;                 // modifier keys held down, by X key code
};

}  // namespace quillet
