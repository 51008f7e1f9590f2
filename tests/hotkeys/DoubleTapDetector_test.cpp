// The double press as a user makes it: which key, which side, how quick, and what may happen in
// between. Time is a manual clock so that the 350 ms limits are exact.
#include "hotkeys/DoubleTapDetector.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace quillet {
namespace {

using namespace std::chrono_literals;
using Code = ModifierKeyCode;

constexpr Trigger controlAny{ModifierKey::control, KeySide::any};
constexpr Trigger controlLeft{ModifierKey::control, KeySide::left};
constexpr Trigger controlRight{ModifierKey::control, KeySide::right};

TEST(KeyEvent, OnlyTheEightDeviceBitsOfTableKeysCount) {
    for (const auto& entry : Code::all) {
        const std::uint64_t bit = entry.modifier.deviceBit;
        EXPECT_EQ(KeyEvent(entry.keyCode, bit), KeyEvent::modifierDown(entry.keyCode, false)) << entry.keyCode;
        EXPECT_EQ(KeyEvent(entry.keyCode, Code::allDeviceBits), KeyEvent::modifierDown(entry.keyCode, true)) << entry.keyCode;
        EXPECT_EQ(KeyEvent(entry.keyCode, Code::allDeviceBits & ~bit), KeyEvent::modifierUp(entry.keyCode)) << entry.keyCode;
    }
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

// Each side with a trigger of its own fires in the table walk below.
TEST_F(DetectorTest, FiresOnTheSecondReleaseOnlyForAnArmedKeyAndSide) {
    const std::vector<std::optional<Trigger>> steps{std::nullopt, std::nullopt, std::nullopt, controlAny};
    EXPECT_EQ(doubleTap(Code::leftControl), steps);
    EXPECT_EQ(fired(Code::leftOption), std::nullopt);
    EXPECT_EQ(fired(Code::rightShift), std::nullopt);
    detector.setTriggers({controlLeft});
    EXPECT_EQ(fired(Code::rightControl), std::nullopt);
    detector.setTriggers({controlRight});
    EXPECT_EQ(fired(Code::leftControl), std::nullopt);
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

}  // namespace
}  // namespace quillet
