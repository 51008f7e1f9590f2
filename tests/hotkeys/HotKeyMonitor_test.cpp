// The monitor between the event tap and the detector: starting and stopping the tap, reporting
// a double press at once on the main thread, and repairing a disabled tap.
#include "hotkeys/HotKeyMonitor.h"

#include "fakes/FakeEventTap.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace quillet {
namespace {

using Code = ModifierKeyCode;
using fakes::FakeEventTap;

constexpr Trigger controlAny{ModifierKey::control, KeySide::any};
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

TEST_F(MonitorTest, StartFailsWithoutListenAccessOrTapUntilGranted) {
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
}

TEST_F(MonitorTest, StartTwiceStopTwiceStartAgainAndLetGoWhenDestroyed) {
    ASSERT_TRUE(monitor.start());
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

TEST_F(MonitorTest, ADisabledTapIsReEnabledAndTheDoublePressGoesOn) {
    ASSERT_TRUE(monitor.start());
    tapOnce(Code::leftControl, 0x1);
    tap.send({TapEventType::tapDisabledByUserInput, 0, 0});
    tap.send({TapEventType::tapDisabledByTimeout, 0, 0});
    EXPECT_EQ(tap.enables, 2);
    tapOnce(Code::leftControl, 0x1);
    EXPECT_EQ(fired, std::vector<Trigger>{controlAny});
}

TEST_F(MonitorTest, NewTriggersApplyAtOnce) {
    ASSERT_TRUE(monitor.start());
    monitor.setTriggers({shiftRight});
    doubleTap(Code::rightShift, 0x4);
    doubleTap(Code::leftControl, 0x1);
    EXPECT_EQ(fired, std::vector<Trigger>{shiftRight});
}

TEST_F(MonitorTest, TheCallbackMayStopTheMonitor) {
    ASSERT_TRUE(monitor.start());
    monitor.onTrigger = [this](Trigger trigger) {
        fired.push_back(trigger);
        monitor.stop();
    };
    doubleTap(Code::leftControl, 0x1);
    EXPECT_FALSE(monitor.isRunning());
    doubleTap(Code::leftControl, 0x1);
    EXPECT_EQ(fired.size(), 1u);
}

}  // namespace
}  // namespace quillet
