// The double press as a user makes it: which key, which side, how quick, and what may happen in
// between. Time is a manual clock so that the 350 ms limits are exact.
#include "hotkeys/DoubleTapDetector.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <vector>

namespace quillet {
namespace {

using namespace std::chrono_literals;
using Code = ModifierKeyCode;

constexpr Trigger controlAny{ModifierKey::control, KeySide::any};
constexpr Trigger controlLeft{ModifierKey::control, KeySide::left};
constexpr Trigger controlRight{ModifierKey::control, KeySide::right};

TEST(KeyEvent, EveryTableKeyIsADownWithItsBitAndAnUpWithout) {
    std::uint64_t union_ = 0;
    for (const auto& entry : Code::all) {
        const std::uint64_t bit = entry.modifier.deviceBit;
        union_ |= bit;
        EXPECT_EQ(KeyEvent(entry.keyCode, bit), KeyEvent::modifierDown(entry.keyCode, false)) << entry.keyCode;
        EXPECT_EQ(KeyEvent(entry.keyCode, Code::allDeviceBits), KeyEvent::modifierDown(entry.keyCode, true)) << entry.keyCode;
        EXPECT_EQ(KeyEvent(entry.keyCode, Code::allDeviceBits & ~bit), KeyEvent::modifierUp(entry.keyCode)) << entry.keyCode;
    }
    EXPECT_EQ(union_, Code::allDeviceBits);
}

TEST(KeyEvent, OnlyTheEightDeviceBitsCountAsOthersHeld) {
    // The other Shift key held: others held.
    EXPECT_EQ(KeyEvent(Code::leftShift, 0x2 | 0x4), KeyEvent::modifierDown(Code::leftShift, true));
    // Device-independent bits (Control 0x40000, Caps Lock 0x10000, Fn 0x800000) do not count.
    EXPECT_EQ(KeyEvent(Code::leftControl, 0x1 | 0x40000 | 0x10000 | 0x800000),
              KeyEvent::modifierDown(Code::leftControl, false));
    // Keys outside the table are ordinary presses whatever the flags say.
    EXPECT_EQ(KeyEvent(Code::capsLock, 0x10000), KeyEvent::otherKeyDown());
    EXPECT_EQ(KeyEvent(Code::function, 0), KeyEvent::otherKeyDown());
    EXPECT_EQ(KeyEvent(0, Code::allDeviceBits), KeyEvent::otherKeyDown());
}

class DetectorTest : public ::testing::Test {
protected:
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::time_point{} + 1000h;
    DoubleTapDetector detector{{controlAny}, 350ms, [this] { return now; }};

    void wait(std::chrono::milliseconds gap) { now += gap; }
    std::optional<Trigger> down(std::uint16_t code) { return detector.handle(KeyEvent::modifierDown(code, false)); }
    std::optional<Trigger> up(std::uint16_t code) { return detector.handle(KeyEvent::modifierUp(code)); }

    // Press, release, press, release of one key with the given gaps; what each step returned.
    std::vector<std::optional<Trigger>> doubleTap(std::uint16_t code, std::chrono::milliseconds hold1 = 80ms,
                                                  std::chrono::milliseconds pause = 80ms,
                                                  std::chrono::milliseconds hold2 = 80ms) {
        std::vector<std::optional<Trigger>> results;
        results.push_back(down(code));
        wait(hold1);
        results.push_back(up(code));
        wait(pause);
        results.push_back(down(code));
        wait(hold2);
        results.push_back(up(code));
        wait(500ms);
        return results;
    }
    std::optional<Trigger> fired(std::uint16_t code) { return doubleTap(code).back(); }
};

TEST_F(DetectorTest, FiresOnTheSecondReleaseOnlyForAnArmedSide) {
    const auto steps = doubleTap(Code::leftControl);
    EXPECT_EQ(steps, (std::vector<std::optional<Trigger>>{std::nullopt, std::nullopt, std::nullopt, controlAny}));

    detector.setTriggers({controlLeft});
    EXPECT_EQ(fired(Code::leftControl), controlLeft);
    EXPECT_EQ(fired(Code::rightControl), std::nullopt);

    detector.setTriggers({controlRight});
    EXPECT_EQ(fired(Code::leftControl), std::nullopt);
    EXPECT_EQ(fired(Code::rightControl), controlRight);

    // Another modifier with the same armed set never fires.
    detector.setTriggers({controlAny});
    EXPECT_EQ(fired(Code::leftOption), std::nullopt);
    EXPECT_EQ(fired(Code::rightShift), std::nullopt);
}

TEST_F(DetectorTest, SideSpecificTriggerWinsOverAny) {
    // Every key and side, so that the set's (hash) order puts `any` first for some of them.
    for (const auto& entry : Code::all) {
        const Trigger specific{entry.modifier.key, entry.modifier.side};
        const Trigger either{entry.modifier.key, KeySide::any};
        std::uint16_t otherSide = 0;
        for (const auto& candidate : Code::all) {
            if (candidate.modifier.key == entry.modifier.key && candidate.keyCode != entry.keyCode) otherSide = candidate.keyCode;
        }
        detector.setTriggers({either, specific});
        EXPECT_EQ(fired(entry.keyCode), specific) << entry.keyCode;
        EXPECT_EQ(fired(otherSide), either) << otherSide;
    }
}

TEST_F(DetectorTest, EachGapMayBeExactly350ButNot351Milliseconds) {
    EXPECT_EQ(doubleTap(Code::leftControl, 350ms, 350ms, 350ms).back(), controlAny);
    EXPECT_EQ(doubleTap(Code::leftControl, 351ms, 80ms, 80ms).back(), std::nullopt);
    EXPECT_EQ(doubleTap(Code::leftControl, 80ms, 351ms, 80ms).back(), std::nullopt);
    EXPECT_EQ(doubleTap(Code::leftControl, 80ms, 80ms, 351ms).back(), std::nullopt);
}

TEST_F(DetectorTest, ASlowTapStartsTheNextPair) {
    // Tap, pause too long, then two quick taps: the last two pair up.
    down(Code::leftControl);
    wait(50ms);
    up(Code::leftControl);
    wait(400ms);
    EXPECT_EQ(doubleTap(Code::leftControl).back(), controlAny);

    // A held first press that was too long does not spoil the next two quick taps either.
    down(Code::leftControl);
    wait(600ms);
    up(Code::leftControl);
    wait(50ms);
    EXPECT_EQ(doubleTap(Code::leftControl).back(), controlAny);
}

TEST_F(DetectorTest, FourQuickTapsFireTwiceAndThreeFireOnce) {
    int fires = 0;
    for (int tap = 0; tap < 4; ++tap) {
        down(Code::leftControl);
        wait(40ms);
        if (up(Code::leftControl)) ++fires;
        wait(40ms);
        if (tap == 2) {
            EXPECT_EQ(fires, 1);
        }
    }
    EXPECT_EQ(fires, 2);
}

// Sequences that look like a double press but are not one. Each letter is an event 40 ms after
// the one before: C/c left Control down/up, R/r right Control down/up, H/h left Control down/up
// while Shift is held, k another key, m a mouse button, L Caps Lock, S Shift down, t the
// triggers set anew.
TEST_F(DetectorTest, SequencesThatAreNoDoublePress) {
    const std::map<char, KeyEvent> events = {
        {'C', KeyEvent::modifierDown(Code::leftControl, false)}, {'c', KeyEvent::modifierUp(Code::leftControl)},
        {'R', KeyEvent::modifierDown(Code::rightControl, false)}, {'r', KeyEvent::modifierUp(Code::rightControl)},
        {'H', KeyEvent(Code::leftControl, 0x1 | 0x2)},            {'h', KeyEvent(Code::leftControl, 0x2)},
        {'k', KeyEvent::otherKeyDown()},                           {'m', KeyEvent::mouseDown()},
        {'L', KeyEvent(Code::capsLock, 0x10000)},                 {'S', KeyEvent::modifierDown(Code::leftShift, false)},
    };
    const std::vector<std::pair<const char*, const char*>> sequences = {
        {"another key between the taps", "CckCc"},
        {"a click between the taps", "CcmCc"},
        {"Caps Lock between the taps", "CcLCc"},
        {"a modifier no trigger uses between the taps", "CcSCc"},
        {"the key again with another held", "CcHCc"},
        {"left then right Control", "CcRr"},
        {"Control+C twice", "CkcCkc"},
        {"Shift held throughout", "HhHh"},
        {"triggers replaced before the second release", "CcCtc"},
    };
    for (const auto& [name, sequence] : sequences) {
        for (const char* step = sequence; *step; ++step) {
            const std::optional<Trigger> result =
                *step == 't' ? (detector.setTriggers({controlAny}), std::nullopt) : detector.handle(events.at(*step));
            EXPECT_EQ(result, std::nullopt) << name << " at " << *step;
            wait(40ms);
        }
        wait(500ms);
    }
}

TEST_F(DetectorTest, NoTriggersNoDoublePress) {
    detector.setTriggers({});
    for (const auto& entry : Code::all) EXPECT_EQ(fired(entry.keyCode), std::nullopt);
}

}  // namespace
}  // namespace quillet
