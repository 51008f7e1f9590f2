// The desktop services that need no X server of their own: the sounds stay quiet without a
// device, and the display list starts with the primary display.
#include "platform/x11/DisplayIdentity.h"
#include "platform/x11/ShutterSound.h"
#include "platform/x11/X11Desktop.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

using namespace quillet;

TEST(ShutterSound, ChoosesItsSoundOnceAndNeverFails) {
    ShutterSound sound;
    EXPECT_FALSE(sound.isLoaded());
    sound.playShutter();
    EXPECT_TRUE(sound.isLoaded());
    const QByteArray chosen = sound.shutterEvent();
    EXPECT_TRUE(chosen.isEmpty() || chosen == "screen-capture" || chosen == "camera-shutter") << chosen.constData();
    // A quick second capture restarts the same sound; the choice is not made again.
    sound.playShutter();
    EXPECT_EQ(sound.shutterEvent(), chosen);
    sound.beep();
}

TEST(X11Desktop, ListsThePrimaryDisplayFirstWithItsIdentifier) {
    X11Desktop desktop;
    EXPECT_TRUE(desktop.screenRecordingGranted());
    EXPECT_EQ(desktop.processID(), QCoreApplication::applicationPid());
    const QList<ScreenInfo> screens = desktop.screens();
    ASSERT_EQ(screens.size(), QGuiApplication::screens().size());
    QScreen* primary = QGuiApplication::primaryScreen();
    EXPECT_EQ(screens.front().id, DisplayIdentity::displayID(primary));
    EXPECT_EQ(screens.front().frame, QRectF(primary->geometry()));
    EXPECT_EQ(desktop.mainDisplayID(), DisplayIdentity::displayID(primary));
    EXPECT_FALSE(X11Desktop::compositingManagerRunning());  // no X server here at all
}
