#include "platform/x11/RawInputTranslator.h"

#include "hotkeys/KeyEvent.h"

#include <xkbcommon/xkbcommon-keysyms.h>

namespace quillet {

RawInputTranslator::RawInputTranslator() { codes.fill(ordinaryKey); }

std::optional<std::uint16_t> RawInputTranslator::modifierKeyCode(std::uint32_t keysym) {
    switch (keysym) {
    case XKB_KEY_Control_L: return ModifierKeyCode::leftControl;
    case XKB_KEY_Control_R: return ModifierKeyCode::rightControl;
    case XKB_KEY_Shift_L: return ModifierKeyCode::leftShift;
    case XKB_KEY_Shift_R: return ModifierKeyCode::rightShift;
    case XKB_KEY_Super_L: return ModifierKeyCode::leftCommand;
    case XKB_KEY_Super_R: return ModifierKeyCode::rightCommand;
    case XKB_KEY_Alt_L: return ModifierKeyCode::leftOption;
    case XKB_KEY_Alt_R:
    case XKB_KEY_ISO_Level3_Shift:  // AltGr: the right Alt key of most European layouts
        return ModifierKeyCode::rightOption;
    case XKB_KEY_Caps_Lock: return ModifierKeyCode::capsLock;
    default: break;
    }
    // The rest of what Xlib's IsModifierKey calls a modifier: Shift_Lock, Meta, Hyper, Num_Lock,
    // Mode_switch and the ISO level and group keys.
    const bool modifier = (keysym >= XKB_KEY_Shift_L && keysym <= XKB_KEY_Hyper_R) ||
                          (keysym >= XKB_KEY_ISO_Lock && keysym <= XKB_KEY_ISO_Level5_Lock) ||
                          keysym == XKB_KEY_Mode_switch || keysym == XKB_KEY_Num_Lock;
    if (modifier) return ModifierKeyCode::function;
    return std::nullopt;
}

void RawInputTranslator::setKeyboardMapping(std::uint8_t firstKeycode, std::uint8_t keysymsPerKeycode,
                                            std::span<const std::uint32_t> keysyms) {
    codes.fill(ordinaryKey);
    tableKeycodes.clear();
    if (keysymsPerKeycode == 0) return;
    for (std::size_t index = 0; index * keysymsPerKeycode < keysyms.size(); ++index) {
        const std::size_t keycode = firstKeycode + index;
        if (keycode > 255) break;
        // The first symbol of a key names it; keys whose first column is empty (the virtual
        // keys some keymaps add for modifiers) are named by the second.
        const std::span<const std::uint32_t> row = keysyms.subspan(index * keysymsPerKeycode);
        std::uint32_t keysym = row[0];
        if (keysym == XKB_KEY_NoSymbol && keysymsPerKeycode > 1 && row.size() > 1) keysym = row[1];
        const std::optional<std::uint16_t> code = modifierKeyCode(keysym);
        if (!code) continue;
        codes[keycode] = *code;
        if (ModifierKeyCode::find(*code)) tableKeycodes.push_back(static_cast<std::uint8_t>(keycode));
    }
}

void RawInputTranslator::setHeldKeys(const std::array<std::uint8_t, 32>& keys) {
    held.reset();
    for (std::size_t keycode = 0; keycode < 256; ++keycode) {
        const bool down = (keys[keycode / 8] >> (keycode % 8)) & 1;
        if (down && codes[keycode] != ordinaryKey) held.set(keycode);
    }
}

std::uint64_t RawInputTranslator::flags() const {
    std::uint64_t bits = 0;
    for (const std::uint8_t keycode : tableKeycodes) {
        if (held.test(keycode)) bits |= ModifierKeyCode::find(codes[keycode])->deviceBit;
    }
    return bits;
}

std::optional<TapEvent> RawInputTranslator::keyPress(std::uint8_t keycode) {
    const std::uint16_t code = codes[keycode];
    if (code == ordinaryKey) return TapEvent{TapEventType::keyDown, 0, 0};
    // A modifier held long enough repeats its press; the key has not changed, so neither has
    // anything a double press depends on.
    if (held.test(keycode)) return std::nullopt;
    held.set(keycode);
    return TapEvent{TapEventType::flagsChanged, code, flags()};
}

std::optional<TapEvent> RawInputTranslator::keyRelease(std::uint8_t keycode) {
    if (!held.test(keycode)) return std::nullopt;
    held.reset(keycode);
    const std::uint16_t code = codes[keycode];
    if (!ModifierKeyCode::find(code)) return std::nullopt;
    return TapEvent{TapEventType::flagsChanged, code, flags()};
}

std::optional<TapEvent> RawInputTranslator::buttonPress(std::uint32_t button) {
    switch (button) {
    case 1: return TapEvent{TapEventType::leftMouseDown, 0, 0};
    case 3: return TapEvent{TapEventType::rightMouseDown, 0, 0};
    case 4: case 5: case 6: case 7: return std::nullopt;  // wheel steps, not presses
    default: return TapEvent{TapEventType::otherMouseDown, 0, 0};
    }
}

}  // namespace quillet
