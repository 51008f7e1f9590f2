// Double presses on a real X server: keys typed through XTEST reach the hot key monitor through
// the XInput 2 tap and fire the right trigger once; a lost connection is made again. (That the
// tap takes no key away from the focused window, the application test's shortcuts show.) The
// rules of a double press are the detector's unit tests.
#include "e2e/harness/XSession.h"
#include "e2e/harness/XTestInput.h"
#include "hotkeys/HotKeyMonitor.h"
#include "platform/x11/XInputEventTap.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <algorithm>
#include <vector>

using quillet::e2e::XSession;
using quillet::e2e::XTestInput;

QUILLET_E2E_SESSION({.trayHost = false});

namespace quillet {
namespace {

constexpr Trigger controlAny{ModifierKey::control, KeySide::any};
constexpr Trigger controlRight{ModifierKey::control, KeySide::right};
// The full-screen trigger is Alt on either side; right Alt is its own key on the "us" keymap.
constexpr Trigger altAny{ModifierKey::option, KeySide::any};

// The real tap with a window onto what it delivers, so a test can wait until the server's
// events have all arrived before it looks at what fired.
class ObservedEventTap : public EventTapping {
public:
    explicit ObservedEventTap(XInputEventTap& tap) : tap(tap) {}

    bool preflightListenAccess() override { return tap.preflightListenAccess(); }
    bool createTap(std::uint64_t mask, Callback callback) override {
        return tap.createTap(mask, [this, callback](const TapEvent& event) {
            seen.push_back(event);
            callback(event);
        });
    }
    void enableTap() override { tap.enableTap(); }
    void invalidateTap() override { tap.invalidateTap(); }

    int count(TapEventType type) const {
        return int(std::count_if(seen.begin(), seen.end(), [&](const TapEvent& event) { return event.type == type; }));
    }
    bool waitFor(TapEventType type, int n) const {
        return XSession::waitUntil([&] { return count(type) >= n; });
    }

    std::vector<TapEvent> seen;

private:
    XInputEventTap& tap;
};

class HotKeysE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(input.isValid());
        monitor.onTrigger = [this](Trigger trigger) { fired.push_back(trigger); };
        ASSERT_TRUE(monitor.start());
    }

    XInputEventTap realTap;
    ObservedEventTap tap{realTap};
    HotKeyMonitor monitor{{controlAny, controlRight, altAny}, tap};
    std::vector<Trigger> fired;
    XTestInput input;
};

TEST_F(HotKeysE2E, EachSideFiresItsOwnTriggerAndAClickInBetweenNothing) {
    input.twice(XKB_KEY_Control_R);
    ASSERT_TRUE(tap.waitFor(TapEventType::flagsChanged, 4));
    for (const TapEvent& event : tap.seen) EXPECT_EQ(event.keyCode, ModifierKeyCode::rightControl);
    input.twice(XKB_KEY_Control_L);
    input.twice(XKB_KEY_Alt_R);
    ASSERT_TRUE(tap.waitFor(TapEventType::flagsChanged, 12));
    EXPECT_EQ(fired, (std::vector<Trigger>{controlRight, controlAny, altAny}));

    input.tap(XKB_KEY_Control_L);
    input.click(1);
    input.tap(XKB_KEY_Control_L);
    input.sync();
    ASSERT_TRUE(tap.waitFor(TapEventType::flagsChanged, 16));
    EXPECT_EQ(tap.count(TapEventType::leftMouseDown), 1);
    EXPECT_EQ(fired.size(), 3u);
}

TEST_F(HotKeysE2E, ALostConnectionIsMadeAgainAndNothingArrivesAfterStop) {
    // As if the server had dropped the tap's connection.
    ASSERT_EQ(::shutdown(realTap.socketDescriptor(), SHUT_RDWR), 0);
    ASSERT_TRUE(tap.waitFor(TapEventType::tapDisabledByUserInput, 1));
    EXPECT_TRUE(monitor.isRunning());
    input.twice(XKB_KEY_Control_L);
    ASSERT_TRUE(tap.waitFor(TapEventType::flagsChanged, 4));
    EXPECT_EQ(fired, std::vector<Trigger>{controlAny});

    monitor.stop();
    EXPECT_EQ(realTap.socketDescriptor(), -1);
    const std::size_t stopped = tap.seen.size();
    input.twice(XKB_KEY_Control_L);
    // Nothing arrives after the stop: the next event seen comes after the start.
    ASSERT_TRUE(monitor.start());
    input.tap(XKB_KEY_Shift_L);
    input.sync();
    ASSERT_TRUE(tap.waitFor(TapEventType::flagsChanged, 6));
    EXPECT_EQ(tap.seen[stopped].keyCode, ModifierKeyCode::leftShift);
    EXPECT_EQ(fired.size(), 1u);
}

}  // namespace
}  // namespace quillet
