#include "hotkeys/KeyEvent.h"

namespace quillet {

const ModifierKeyCode* ModifierKeyCode::find(std::uint16_t keyCode) {
    for (const Entry& entry : all) {
        if (entry.keyCode == keyCode) return &entry.modifier;
    }
    return nullptr;
}

KeyEvent::KeyEvent(std::uint16_t flagsChangedKeyCode, std::uint64_t flags)
    : eventKind(Kind::otherKeyDown), code(0), others(false) {
    const ModifierKeyCode* modifier = ModifierKeyCode::find(flagsChangedKeyCode);
    if (!modifier) return;
    code = flagsChangedKeyCode;
    if ((flags & modifier->deviceBit) == 0) {
        eventKind = Kind::modifierUp;
        return;
    }
    eventKind = Kind::modifierDown;
    others = (ModifierKeyCode::allDeviceBits & ~modifier->deviceBit & flags) != 0;
}

}  // namespace quillet
