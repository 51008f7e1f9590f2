// Double presses on a real X server: keys typed through XTEST reach the hot key monitor through
// the XInput 2 tap, fire the right trigger once, and are never taken away from the focused
// window. The rules of a double press are the detector's unit tests.
#include "e2e/harness/XSession.h"
#include "e2e/harness/XTestInput.h"
#include "hotkeys/HotKeyMonitor.h"
#include "platform/x11/XInputEventTap.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <vector>

using quillet::e2e::XSession;
using quillet::e2e::XTestInput;

QUILLET_E2E_SESSION({.trayHost = false});

namespace quillet {
namespace {

constexpr Trigger controlAny{ModifierKey::control, KeySide::any};
constexpr Trigger controlRight{ModifierKey::control, KeySide::right};

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
    void enableTap() override {
        ++enables;
        tap.enableTap();
    }
    void invalidateTap() override { tap.invalidateTap(); }

    int count(TapEventType type) const {
        int n = 0;
        for (const TapEvent& event : seen) n += event.type == type;
        return n;
    }
    bool waitFor(TapEventType type, int n) const {
        return XSession::waitUntil([&] { return count(type) >= n; }, std::chrono::seconds(20));
    }

    std::vector<TapEvent> seen;
    int enables = 0;

private:
    XInputEventTap& tap;
};

class HotKeysE2E : public ::testing::Test {
protected:
    XInputEventTap realTap;
    ObservedEventTap tap{realTap};
    HotKeyMonitor monitor{{controlAny}, tap};
    std::vector<Trigger> fired;
    XTestInput input;

    void SetUp() override {
        ASSERT_TRUE(input.isValid());
        monitor.onTrigger = [this](Trigger trigger) { fired.push_back(trigger); };
        ASSERT_TRUE(monitor.start());
    }

    void xdotool(const QStringList& arguments) { ASSERT_TRUE(XSession::current().xdotool(arguments).ok()) << arguments.join(' ').toStdString(); }
};

TEST_F(HotKeysE2E, ControlTwiceFiresOnce) {
    xdotool({"key", "--delay", "40", "Control_L", "Control_L"});
    ASSERT_TRUE(tap.waitFor(TapEventType::flagsChanged, 4));
    EXPECT_EQ(fired, std::vector<Trigger>{controlAny});
    EXPECT_EQ(tap.seen.size(), 4u);
}

TEST_F(HotKeysE2E, RightControlTwiceFiresTheRightSideTrigger) {
    monitor.setTriggers({controlAny, controlRight});
    input.tap(XKB_KEY_Control_R);
    input.tap(XKB_KEY_Control_R);
    input.sync();
    ASSERT_TRUE(tap.waitFor(TapEventType::flagsChanged, 4));
    EXPECT_EQ(fired, std::vector<Trigger>{controlRight});
    for (const TapEvent& event : tap.seen) EXPECT_EQ(event.keyCode, ModifierKeyCode::rightControl);

    // The left key still fires the trigger for either side.
    input.tap(XKB_KEY_Control_L);
    input.tap(XKB_KEY_Control_L);
    input.sync();
    ASSERT_TRUE(tap.waitFor(TapEventType::flagsChanged, 8));
    EXPECT_EQ(fired, (std::vector<Trigger>{controlRight, controlAny}));
}

// The full-screen trigger is Alt on either side; right Alt is its own key on the "us" keymap.
TEST_F(HotKeysE2E, RightAltTwiceFiresTheAltTrigger) {
    constexpr Trigger altAny{ModifierKey::option, KeySide::any};
    monitor.setTriggers({controlAny, altAny});
    input.tap(XKB_KEY_Alt_R);
    input.tap(XKB_KEY_Alt_R);
    input.sync();
    ASSERT_TRUE(tap.waitFor(TapEventType::flagsChanged, 4));
    EXPECT_EQ(fired, std::vector<Trigger>{altAny});
}

TEST_F(HotKeysE2E, AClickBetweenTheTapsFiresNothing) {
    input.tap(XKB_KEY_Control_L);
    input.click(1);
    input.tap(XKB_KEY_Control_L);
    input.sync();
    ASSERT_TRUE(tap.waitFor(TapEventType::flagsChanged, 4));
    EXPECT_EQ(tap.count(TapEventType::leftMouseDown), 1);
    EXPECT_TRUE(fired.empty());
}

// Records every key the window is given.
class KeyRecorder : public QWidget {
public:
    KeyRecorder() { setFocusPolicy(Qt::StrongFocus); }
    QStringList keys;

protected:
    void keyPressEvent(QKeyEvent* event) override { record(QStringLiteral("+"), event); }
    void keyReleaseEvent(QKeyEvent* event) override { record(QStringLiteral("-"), event); }

private:
    void record(const QString& direction, QKeyEvent* event) {
        if (event->isAutoRepeat()) return;
        keys << direction + QKeySequence(event->key()).toString();
    }
};

TEST_F(HotKeysE2E, TheFocusedWindowStillReceivesEveryKey) {
    KeyRecorder window;
    window.setGeometry(100, 100, 300, 200);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(XSession::waitUntil([&] { return QApplication::focusWidget() == &window && window.isActiveWindow(); }));

    xdotool({"key", "--delay", "40", "Control_L", "Control_L", "a", "b", "Shift_L", "c"});
    input.tap(XKB_KEY_Control_R);
    input.tap(XKB_KEY_Control_R);
    input.sync();

    const QString expected = "+Control -Control +Control -Control +A -A +B -B +Shift -Shift +C -C "
                             "+Control -Control +Control -Control";
    ASSERT_TRUE(XSession::waitUntil([&] { return window.keys.size() >= 16; })) << window.keys.join(' ').toStdString();
    EXPECT_EQ(window.keys.join(' ').toStdString(), expected.toStdString());
    EXPECT_EQ(fired, (std::vector<Trigger>{controlAny, controlAny}));
    // Ordinary keys reach the monitor too: they are what break up a shortcut.
    EXPECT_TRUE(tap.waitFor(TapEventType::keyDown, 3));
}

TEST_F(HotKeysE2E, ALostConnectionIsMadeAgain) {
    const int socket = realTap.socketDescriptor();
    ASSERT_GE(socket, 0);
    // As if the server had dropped the tap's connection.
    ASSERT_EQ(::shutdown(socket, SHUT_RDWR), 0);
    ASSERT_TRUE(tap.waitFor(TapEventType::tapDisabledByUserInput, 1));
    EXPECT_EQ(tap.enables, 1);
    EXPECT_TRUE(monitor.isRunning());
    ASSERT_GE(realTap.socketDescriptor(), 0);

    input.tap(XKB_KEY_Control_L);
    input.tap(XKB_KEY_Control_L);
    input.sync();
    ASSERT_TRUE(tap.waitFor(TapEventType::flagsChanged, 4));
    EXPECT_EQ(fired, std::vector<Trigger>{controlAny});
}

TEST_F(HotKeysE2E, NothingArrivesAfterStop) {
    monitor.stop();
    EXPECT_EQ(realTap.socketDescriptor(), -1);
    input.tap(XKB_KEY_Control_L);
    input.tap(XKB_KEY_Control_L);
    input.sync();
    // Started again, the monitor sees what comes next, and only that.
    ASSERT_TRUE(monitor.start());
    input.tap(XKB_KEY_Shift_L);
    input.sync();
    ASSERT_TRUE(tap.waitFor(TapEventType::flagsChanged, 2));
    QApplication::processEvents();
    EXPECT_EQ(tap.seen.size(), 2u);
    EXPECT_EQ(tap.seen.front().keyCode, ModifierKeyCode::leftShift);
    EXPECT_TRUE(fired.empty());
}

}  // namespace
}  // namespace quillet
