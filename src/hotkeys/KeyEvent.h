// What the double-tap detector consumes: a modifier key going down or up, any other key going
// down, or a mouse button going down. Modifier keys are named by their hardware key code and
// held keys by their device-dependent flag bits, so left and right keys stay apart:
//
//   KeyEvent(ModifierKeyCode::leftControl, 0x1)        // modifierDown(59, othersHeld: false)
//   KeyEvent(ModifierKeyCode::leftControl, 0x1 | 0x4)  // modifierDown(59, othersHeld: true)
//   KeyEvent(ModifierKeyCode::leftControl, 0)          // modifierUp(59)
//   KeyEvent(ModifierKeyCode::capsLock, ...)           // otherKeyDown
#pragma once

#include "core/Types.h"

#include <array>
#include <cstdint>

namespace quillet {

// One physical modifier key: which modifier, which side, and the bit that the event flags
// carry while it is held.
struct ModifierKeyCode {
    ModifierKey key = ModifierKey::control;
    KeySide side = KeySide::left;  // left or right, never any
    std::uint64_t deviceBit = 0;

    struct Entry;

    // The hardware key codes of the eight modifier keys...
    static constexpr std::uint16_t leftControl = 59;
    static constexpr std::uint16_t rightControl = 62;
    static constexpr std::uint16_t leftShift = 56;
    static constexpr std::uint16_t rightShift = 60;
    static constexpr std::uint16_t leftCommand = 55;
    static constexpr std::uint16_t rightCommand = 54;
    static constexpr std::uint16_t leftOption = 58;
    static constexpr std::uint16_t rightOption = 61;
    // ...and of two modifiers that are not in the table: their changes reset a double press.
    static constexpr std::uint16_t capsLock = 57;
    static constexpr std::uint16_t function = 63;

    // The eight modifier keys, keyed by hardware key code.
    static const std::array<Entry, 8> all;
    static constexpr std::uint64_t allDeviceBits = 0x207F;

    // The modifier key with this key code, or nullptr for any key outside the table.
    static const ModifierKeyCode* find(std::uint16_t keyCode);

    friend bool operator==(const ModifierKeyCode&, const ModifierKeyCode&) = default;
};

struct ModifierKeyCode::Entry {
    std::uint16_t keyCode = 0;
    ModifierKeyCode modifier;
};

inline constexpr std::array<ModifierKeyCode::Entry, 8> ModifierKeyCode::all{{
    {leftControl, {ModifierKey::control, KeySide::left, 0x1}},
    {rightControl, {ModifierKey::control, KeySide::right, 0x2000}},
    {leftShift, {ModifierKey::shift, KeySide::left, 0x2}},
    {rightShift, {ModifierKey::shift, KeySide::right, 0x4}},
    {leftCommand, {ModifierKey::command, KeySide::left, 0x8}},
    {rightCommand, {ModifierKey::command, KeySide::right, 0x10}},
    {leftOption, {ModifierKey::option, KeySide::left, 0x20}},
    {rightOption, {ModifierKey::option, KeySide::right, 0x40}},
}};

class KeyEvent {
public:
    enum class Kind { modifierDown, modifierUp, otherKeyDown, mouseDown };

    static KeyEvent modifierDown(std::uint16_t keyCode, bool othersHeld) { return {Kind::modifierDown, keyCode, othersHeld}; }
    static KeyEvent modifierUp(std::uint16_t keyCode) { return {Kind::modifierUp, keyCode, false}; }
    static KeyEvent otherKeyDown() { return {Kind::otherKeyDown, 0, false}; }
    static KeyEvent mouseDown() { return {Kind::mouseDown, 0, false}; }

    // From a modifier-change event: its key code and its flags. A key outside the table (Caps
    // Lock, Fn) is otherKeyDown; only the eight device bits decide whether others are held.
    KeyEvent(std::uint16_t flagsChangedKeyCode, std::uint64_t flags);

    Kind kind() const { return eventKind; }
    // Of modifierDown and modifierUp; 0 otherwise.
    std::uint16_t keyCode() const { return code; }
    // Of modifierDown: another of the eight modifier keys was held at the same time.
    bool othersHeld() const { return others; }

    friend bool operator==(const KeyEvent&, const KeyEvent&) = default;

private:
    KeyEvent(Kind kind, std::uint16_t keyCode, bool othersHeld) : eventKind(kind), code(keyCode), others(othersHeld) {}

    Kind eventKind;
    std::uint16_t code;
    bool others;
};

}  // namespace quillet
