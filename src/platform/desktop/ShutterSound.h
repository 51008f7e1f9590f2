// The shutter sound after a capture and the alert sound after a failed one, through libcanberra
// and the desktop's sound theme: "screen-capture", or "camera-shutter" where the theme has no
// such sound. The choice is made once, on the first play, and never retried; a quick second
// capture restarts the sound from its beginning. Without a sound device both stay silent (the
// alert falls back to the X server's bell) and nothing is ever reported as an error.
//
// Main thread only.
#pragma once

#include "core/CapturePipeline.h"

#include <QByteArray>

struct ca_context;

namespace quillet {

class ShutterSound : public SoundPlaying {
public:
    ShutterSound();
    ~ShutterSound() override;
    ShutterSound(const ShutterSound&) = delete;
    ShutterSound& operator=(const ShutterSound&) = delete;

    void playShutter() override;
    void beep() override;

    // The theme sound the shutter plays; empty before the first play and when there is none.
    QByteArray shutterEvent() const { return event; }
    bool isLoaded() const { return loaded; }

private:
    ca_context* context = nullptr;
    bool loaded = false;
    QByteArray event;
};

}  // namespace quillet
