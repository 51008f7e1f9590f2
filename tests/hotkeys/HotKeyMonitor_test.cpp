// The monitor between the event tap and the detector: starting and stopping the tap, reporting
// a double press at once on the main thread, and repairing a disabled tap.
#include "hotkeys/HotKeyMonitor.h"

#include "fakes/FakeEventTap.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

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
        monitor.onTrigger = [this](Trigger trigger) {
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            fired.push_back(trigger);
        };
    }

    void press(std::uint16_t code, std::uint64_t bit) { tap.flagsChanged(code, bit); }
    void release(std::uint16_t code) { tap.flagsChanged(code, 0); }
    void doubleTap(std::uint16_t code, std::uint64_t bit) {
        press(code, bit);
        release(code);
        press(code, bit);
        release(code);
    }
};

TEST_F(MonitorTest, StartFailsWithoutListenAccessOrTap) {
    tap.listenAccess = false;
    const auto refused = monitor.start();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), PermissionError::inputMonitoringDenied);
    EXPECT_FALSE(monitor.isRunning());
    EXPECT_EQ(tap.creations, 0);

    tap.listenAccess = true;
    tap.tapCreatable = false;
    const auto failed = monitor.start();
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error(), PermissionError::inputMonitoringDenied);
    EXPECT_FALSE(monitor.isRunning());

    // Granted later: the next start succeeds.
    tap.tapCreatable = true;
    EXPECT_TRUE(monitor.start());
    EXPECT_TRUE(monitor.isRunning());
}

TEST_F(MonitorTest, StartTwiceStopTwiceAndStartAgain) {
    ASSERT_TRUE(monitor.start());
    ASSERT_TRUE(monitor.start());
    EXPECT_EQ(tap.creations, 1);

    monitor.stop();
    monitor.stop();
    EXPECT_FALSE(monitor.isRunning());
    EXPECT_EQ(tap.invalidations, 1);
    EXPECT_FALSE(tap.isTapping());

    ASSERT_TRUE(monitor.start());
    doubleTap(Code::leftControl, 0x1);
    EXPECT_EQ(fired, std::vector<Trigger>{controlAny});
}

TEST_F(MonitorTest, DestroyingARunningMonitorLetsGoOfTheTap) {
    FakeEventTap other;
    {
        HotKeyMonitor shortLived({controlAny}, other);
        ASSERT_TRUE(shortLived.start());
    }
    EXPECT_EQ(other.invalidations, 1);
    EXPECT_FALSE(other.isTapping());
}

TEST_F(MonitorTest, ReportsADoublePressBeforeTheTapCallReturns) {
    ASSERT_TRUE(monitor.start());
    press(Code::leftControl, 0x1);
    release(Code::leftControl);
    press(Code::leftControl, 0x1);
    EXPECT_TRUE(fired.empty());
    release(Code::leftControl);
    // No event loop ran: the callback was synchronous.
    EXPECT_EQ(fired, std::vector<Trigger>{controlAny});
}

TEST_F(MonitorTest, KeysMouseAndCapsLockBetweenTapsReset) {
    ASSERT_TRUE(monitor.start());
    const std::vector<TapEvent> interruptions = {
        {TapEventType::keyDown, 8, 0},
        {TapEventType::leftMouseDown, 0, 0},
        {TapEventType::rightMouseDown, 0, 0},
        {TapEventType::otherMouseDown, 0, 0},
        {TapEventType::flagsChanged, Code::capsLock, 0x10000},
    };
    for (const TapEvent& interruption : interruptions) {
        press(Code::leftControl, 0x1);
        release(Code::leftControl);
        tap.send(interruption);
        press(Code::leftControl, 0x1);
        release(Code::leftControl);
        EXPECT_TRUE(fired.empty()) << static_cast<std::uint32_t>(interruption.type);
        tap.keyDown();  // the last tap must not pair with the next round's first
    }
}

TEST_F(MonitorTest, ADisabledTapIsReEnabledAndTheDoublePressGoesOn) {
    ASSERT_TRUE(monitor.start());
    press(Code::leftControl, 0x1);
    release(Code::leftControl);
    tap.send({TapEventType::tapDisabledByUserInput, 0, 0});
    tap.send({TapEventType::tapDisabledByTimeout, 0, 0});
    EXPECT_EQ(tap.enables, 2);
    press(Code::leftControl, 0x1);
    release(Code::leftControl);
    EXPECT_EQ(fired, std::vector<Trigger>{controlAny});
}

TEST_F(MonitorTest, NewTriggersApplyAtOnceAndDiscardAHalfDoublePress) {
    ASSERT_TRUE(monitor.start());
    press(Code::rightShift, 0x4);
    release(Code::rightShift);
    monitor.setTriggers({shiftRight});
    EXPECT_EQ(monitor.triggers(), QSet<Trigger>{shiftRight});
    press(Code::rightShift, 0x4);
    release(Code::rightShift);
    EXPECT_TRUE(fired.empty());

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
