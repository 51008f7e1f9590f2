// Without an X server to listen to, the tap is refused, and the monitor reports that as missing
// input-monitoring permission instead of pretending to listen.
#include "platform/x11/XInputEventTap.h"

#include "hotkeys/HotKeyMonitor.h"

#include <gtest/gtest.h>

namespace quillet {
namespace {

TEST(XInputEventTap, NoServerMeansNoListenAccess) {
    XInputEventTap tap(QByteArrayLiteral(":65000"));
    EXPECT_FALSE(tap.preflightListenAccess());
    EXPECT_FALSE(tap.createTap(hotKeyEventMask, [](const TapEvent&) {}));
    EXPECT_EQ(tap.socketDescriptor(), -1);

    HotKeyMonitor monitor({Trigger{ModifierKey::control, KeySide::any}}, tap);
    const auto started = monitor.start();
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error(), PermissionError::inputMonitoringDenied);
    EXPECT_FALSE(monitor.isRunning());
}

}  // namespace
}  // namespace quillet
