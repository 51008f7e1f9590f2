// From X key codes to the events a double press is made of, on the keymap the X server of the
// tests uses (Xvfb's default "us" layout).
#include "platform/x11/RawInputTranslator.h"

#include "hotkeys/KeyEvent.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace quillet {
namespace {

using Code = ModifierKeyCode;

enum XKey : std::uint8_t {
    a = 38, controlL = 37, controlR = 105, shiftL = 50, shiftR = 62, altL = 64, altR = 108, altGr = 92, superL = 133,
    superR = 134, capsLock = 66, numLock = 77, virtualAlt = 204,
};

class TranslatorTest : public ::testing::Test {
protected:
    static constexpr std::uint8_t first = 8;
    static constexpr std::uint8_t perKey = 2;
    RawInputTranslator translator;

    void SetUp() override {
        loadMapping({{a, {XKB_KEY_a, XKB_KEY_A}},
                     {controlL, {XKB_KEY_Control_L, XKB_KEY_NoSymbol}},
                     {controlR, {XKB_KEY_Control_R, XKB_KEY_NoSymbol}},
                     {shiftL, {XKB_KEY_Shift_L, XKB_KEY_NoSymbol}},
                     {shiftR, {XKB_KEY_Shift_R, XKB_KEY_NoSymbol}},
                     {altL, {XKB_KEY_Alt_L, XKB_KEY_Meta_L}},
                     {altR, {XKB_KEY_Alt_R, XKB_KEY_Meta_R}},
                     {altGr, {XKB_KEY_ISO_Level3_Shift, XKB_KEY_NoSymbol}},
                     {superL, {XKB_KEY_Super_L, XKB_KEY_NoSymbol}},
                     {superR, {XKB_KEY_Super_R, XKB_KEY_NoSymbol}},
                     {capsLock, {XKB_KEY_Caps_Lock, XKB_KEY_NoSymbol}},
                     {numLock, {XKB_KEY_Num_Lock, XKB_KEY_NoSymbol}},
                     {virtualAlt, {XKB_KEY_NoSymbol, XKB_KEY_Alt_L}}});
    }

    void loadMapping(const std::map<std::uint8_t, std::vector<std::uint32_t>>& keys) {
        std::vector<std::uint32_t> keysyms((255 - first + 1) * perKey, XKB_KEY_NoSymbol);
        for (const auto& [keycode, syms] : keys) {
            for (std::size_t column = 0; column < syms.size(); ++column) keysyms[(keycode - first) * perKey + column] = syms[column];
        }
        translator.setKeyboardMapping(first, perKey, keysyms);
    }

    static TapEvent changed(std::uint16_t code, std::uint64_t flags) { return {TapEventType::flagsChanged, code, flags}; }
    static constexpr TapEvent keyDown{TapEventType::keyDown, 0, 0};
};

TEST_F(TranslatorTest, EachModifierKeyBecomesItsHardwareCodeAndBit) {
    const std::vector<std::pair<XKey, std::uint16_t>> keys = {
        {controlL, Code::leftControl}, {controlR, Code::rightControl}, {shiftL, Code::leftShift},
        {shiftR, Code::rightShift},     {superL, Code::leftCommand},   {superR, Code::rightCommand},
        {altL, Code::leftOption},       {altR, Code::rightOption},     {altGr, Code::rightOption},
        {virtualAlt, Code::leftOption},
    };
    for (const auto& [keycode, code] : keys) {
        const std::uint64_t bit = Code::find(code)->deviceBit;
        EXPECT_EQ(translator.keyPress(keycode), changed(code, bit)) << int(keycode);
        EXPECT_EQ(translator.keyRelease(keycode), changed(code, 0)) << int(keycode);
    }
}

// Presses (+) and releases (-) in turn, and what each reports.
TEST_F(TranslatorTest, SequencesOfPressesAndReleases) {
    struct Step {
        bool press;
        XKey key;
        std::optional<TapEvent> event;
    };
    const std::vector<std::pair<const char*, std::vector<Step>>> rows = {
        {"both Shift keys held: others held",
         {{true, shiftL, changed(Code::leftShift, 0x2)}, {true, shiftR, changed(Code::rightShift, 0x2 | 0x4)},
          {false, shiftL, changed(Code::leftShift, 0x4)}, {false, shiftR, changed(Code::rightShift, 0)}}},
        // Released keys and keys never seen going down report nothing.
        {"auto-repeat of a held modifier is no new press",
         {{true, controlL, changed(Code::leftControl, 0x1)}, {true, controlL, std::nullopt},
          {false, controlL, changed(Code::leftControl, 0)}, {false, controlL, std::nullopt}}},
        {"ordinary keys repeat as ordinary presses", {{true, a, keyDown}, {true, a, keyDown}, {false, a, std::nullopt}}},
        // Caps Lock and Num Lock are changes outside the table, and neither counts as held.
        {"other modifiers",
         {{true, controlL, changed(Code::leftControl, 0x1)}, {true, capsLock, changed(Code::capsLock, 0x1)},
          {false, capsLock, std::nullopt}, {true, numLock, changed(Code::function, 0x1)},
          {false, controlL, changed(Code::leftControl, 0)}}},
    };
    for (const auto& [name, steps] : rows) {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Step& step = steps[i];
            EXPECT_EQ(step.press ? translator.keyPress(step.key) : translator.keyRelease(step.key), step.event)
                << name << ", step " << i;
        }
        translator.forgetHeldKeys();
    }
}

TEST_F(TranslatorTest, ModifiersHeldBeforeListeningCountAndANewKeymapRenamesKeys) {
    std::array<std::uint8_t, 32> keys{};
    keys[shiftL / 8] |= 1 << (shiftL % 8);
    keys[a / 8] |= 1 << (a % 8);
    translator.setHeldKeys(keys);
    EXPECT_EQ(translator.flags(), 0x2u);
    EXPECT_EQ(translator.keyPress(controlL), changed(Code::leftControl, 0x1 | 0x2));
    EXPECT_EQ(translator.keyRelease(shiftL), changed(Code::leftShift, 0x1));

    translator.forgetHeldKeys();
    EXPECT_EQ(translator.flags(), 0u);
    EXPECT_EQ(translator.keyRelease(controlL), std::nullopt);

    // A new keymap renames keys: Control and Caps Lock swapped, as many users set up.
    loadMapping({{controlL, {XKB_KEY_Caps_Lock}}, {capsLock, {XKB_KEY_Control_L}}});
    EXPECT_EQ(translator.keyPress(capsLock), changed(Code::leftControl, 0x1));
    EXPECT_EQ(translator.keyPress(controlL), changed(Code::capsLock, 0x1));
    EXPECT_EQ(translator.keyPress(controlR), keyDown);
}

TEST_F(TranslatorTest, MouseButtonsButNotTheWheel) {
    EXPECT_EQ(RawInputTranslator::buttonPress(1), (TapEvent{TapEventType::leftMouseDown, 0, 0}));
    EXPECT_EQ(RawInputTranslator::buttonPress(3), (TapEvent{TapEventType::rightMouseDown, 0, 0}));
    EXPECT_EQ(RawInputTranslator::buttonPress(2), (TapEvent{TapEventType::otherMouseDown, 0, 0}));
    EXPECT_EQ(RawInputTranslator::buttonPress(8), (TapEvent{TapEventType::otherMouseDown, 0, 0}));
    for (std::uint32_t wheel = 4; wheel <= 7; ++wheel) EXPECT_EQ(RawInputTranslator::buttonPress(wheel), std::nullopt);
}

}  // namespace
}  // namespace quillet
