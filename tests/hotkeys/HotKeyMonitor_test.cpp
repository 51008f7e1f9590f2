// The double press as a user makes it (which key, which side, how quick, what may come in
// between; a manual clock makes the 350 ms limits exact), and the monitor between the event
// tap and the detector: starting and stopping the tap, reporting at once on the main thread.
#include "hotkeys/DoubleTapDetector.h"
#include "hotkeys/HotKeyMonitor.h"

#include "fakes/FakeEventTap.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace quillet {
namespace {

using namespace std::chrono_literals;
using Code = ModifierKeyCode;
using fakes::FakeEventTap;

constexpr Trigger controlAny{ModifierKey::control, KeySide::any};
constexpr Trigger controlLeft{ModifierKey::control, KeySide::left};
constexpr Trigger controlRight{ModifierKey::control, KeySide::right};
constexpr Trigger shiftRight{ModifierKey::shift, KeySide::right};

class MonitorTest : public ::testing::Test {
protected:
    FakeEventTap tap;
    HotKeyMonitor monitor{{controlAny}, tap};
    std::vector<Trigger> fired;

    void SetUp() override {
        // Every case runs without an event loop, so each double press is reported synchronously.
        monitor.onTrigger = [this](Trigger trigger) {
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            fired.push_back(trigger);
        };
    }

    void tapOnce(std::uint16_t code, std::uint64_t bit) {
        tap.flagsChanged(code, bit);
        tap.flagsChanged(code, 0);
    }
    void doubleTap(std::uint16_t code, std::uint64_t bit) {
        tapOnce(code, bit);
        tapOnce(code, bit);
    }
};

TEST_F(MonitorTest, StartsOnceGrantedStopsAndLetsGoWhenDestroyed) {
    tap.listenAccess = false;
    const auto refused = monitor.start();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), PermissionError::inputMonitoringDenied);
    EXPECT_EQ(tap.creations, 0);
    tap.listenAccess = true;
    tap.tapCreatable = false;
    EXPECT_FALSE(monitor.start());
    EXPECT_FALSE(monitor.isRunning());

    tap.tapCreatable = true;
    EXPECT_TRUE(monitor.start());
    EXPECT_TRUE(monitor.isRunning());

    // Start twice, stop twice, start again, and let go when destroyed.
    ASSERT_TRUE(monitor.start());
    EXPECT_EQ(tap.creations, 1);
    monitor.stop();
    monitor.stop();
    EXPECT_EQ(tap.invalidations, 1);
    EXPECT_FALSE(tap.isTapping());

    ASSERT_TRUE(monitor.start());
    doubleTap(Code::leftControl, 0x1);
    EXPECT_EQ(fired, std::vector<Trigger>{controlAny});

    FakeEventTap other;
    {
        HotKeyMonitor shortLived({controlAny}, other);
        ASSERT_TRUE(shortLived.start());
    }
    EXPECT_FALSE(other.isTapping());
}

// Sequences that look like a double press but are not one, as the tap delivers them. C/c left
// Control down/up, R/r right Control down/up, H/h left Control down/up while Shift is held, k
// another key, l/o/m the left, right and another mouse button, L Caps Lock, S Shift down, t the
// triggers set anew, n no triggers at all.
TEST_F(MonitorTest, SequencesThatAreNoDoublePress) {
    ASSERT_TRUE(monitor.start());
    const std::map<char, TapEvent> events = {
        {'C', {TapEventType::flagsChanged, Code::leftControl, 0x1}},
        {'c', {TapEventType::flagsChanged, Code::leftControl, 0}},
        {'R', {TapEventType::flagsChanged, Code::rightControl, 0x2000}},
        {'r', {TapEventType::flagsChanged, Code::rightControl, 0}},
        {'H', {TapEventType::flagsChanged, Code::leftControl, 0x1 | 0x2}},
        {'h', {TapEventType::flagsChanged, Code::leftControl, 0x2}},
        {'k', {TapEventType::keyDown, 8, 0}},
        {'l', {TapEventType::leftMouseDown, 0, 0}},
        {'o', {TapEventType::rightMouseDown, 0, 0}},
        {'m', {TapEventType::otherMouseDown, 0, 0}},
        {'L', {TapEventType::flagsChanged, Code::capsLock, 0x10000}},
        {'S', {TapEventType::flagsChanged, Code::leftShift, 0x2}},
    };
    const std::vector<std::pair<const char*, const char*>> sequences = {
        {"another key between the taps", "CckCc"},
        {"a left click between the taps", "CclCc"},
        {"a right click between the taps", "CcoCc"},
        {"another button between the taps", "CcmCc"},
        {"Caps Lock between the taps", "CcLCc"},
        {"a modifier no trigger uses between the taps", "CcSCc"},
        {"the key again with another held", "CcHCc"},
        {"left then right Control", "CcRr"},
        {"Control+C twice", "CkcCkc"},
        {"Shift held throughout", "HhHh"},
        {"triggers replaced before the second release", "CcCtc"},
        {"no triggers", "nCcCc"},
    };
    for (const auto& [name, sequence] : sequences) {
        for (const char* step = sequence; *step; ++step) {
            if (*step == 't' || *step == 'n') {
                monitor.setTriggers(*step == 't' ? QSet<Trigger>{controlAny} : QSet<Trigger>{});
            } else {
                tap.send(events.at(*step));
            }
        }
        EXPECT_TRUE(fired.empty()) << name;
        monitor.setTriggers({controlAny});
        tap.keyDown();  // the last tap must not pair with the next row's first
    }
}

TEST_F(MonitorTest, WhileRunningADisabledTapIsRepairedNewTriggersApplyAndTheCallbackMayStop) {
    ASSERT_TRUE(monitor.start());
    tapOnce(Code::leftControl, 0x1);
    tap.send({TapEventType::tapDisabledByUserInput, 0, 0});
    tap.send({TapEventType::tapDisabledByTimeout, 0, 0});
    EXPECT_EQ(tap.enables, 2);
    tapOnce(Code::leftControl, 0x1);  // the double press goes on
    EXPECT_EQ(fired, std::vector<Trigger>{controlAny});

    monitor.setTriggers({shiftRight});
    doubleTap(Code::rightShift, 0x4);
    doubleTap(Code::leftControl, 0x1);
    EXPECT_EQ(fired, (std::vector<Trigger>{controlAny, shiftRight}));

    monitor.onTrigger = [this](Trigger trigger) {
        fired.push_back(trigger);
        monitor.stop();
    };
    doubleTap(Code::rightShift, 0x4);
    EXPECT_FALSE(monitor.isRunning());
    doubleTap(Code::rightShift, 0x4);
    EXPECT_EQ(fired.size(), 3u);
}

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

    // Press, release, press, release of one key, 80 ms apart; what each step returned.
    std::vector<std::optional<Trigger>> doubleTap(std::uint16_t code) {
        std::vector<std::optional<Trigger>> results;
        for (int step = 0; step < 4; ++step) {
            results.push_back(step % 2 == 0 ? down(code) : up(code));
            wait(80ms);
        }
        wait(500ms);
        return results;
    }
    std::optional<Trigger> fired(std::uint16_t code) { return doubleTap(code).back(); }

    // Plays presses (D) and releases (U) of the left Control key with the milliseconds waited
    // between them; one digit a release, 1 where it fired.
    std::string play(const std::string& taps) {
        std::string fires;
        for (std::size_t at = 0; at < taps.size(); ++at) {
            if (taps[at] == 'D') {
                down(Code::leftControl);
            } else if (taps[at] == 'U') {
                fires += up(Code::leftControl) ? '1' : '0';
            } else {
                std::size_t digits = 0;
                wait(std::chrono::milliseconds(std::stoi(taps.substr(at), &digits)));
                at += digits - 1;
            }
        }
        wait(500ms);
        return fires;
    }
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

TEST_F(DetectorTest, EachGapMayBeExactly350ButNot351MillisecondsAndQuickTapsPairInTurn) {
    const std::pair<const char*, const char*> rows[] = {
        {"D350U350D350U", "01"},
        {"D351U80D80U", "00"},
        {"D80U351D80U", "00"},
        {"D80U80D351U", "00"},
        {"D50U400D80U80D80U", "001"},  // a slow tap starts the next pair
        {"D600U50D80U80D80U", "001"},  // so does a press held too long
        {"D40U40D40U40D40U40D40U", "0101"},
    };
    for (const auto& [taps, fires] : rows) EXPECT_EQ(play(taps), fires) << taps;
}

}  // namespace
}  // namespace quillet
