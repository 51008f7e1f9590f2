// The sounds stay quiet, and never crash, without a sound device or an X server.
#include "platform/desktop/ShutterSound.h"

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
