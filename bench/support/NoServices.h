// Stand-ins for the services a benchmarked window hands its results to, when what happens
// there is not what is measured: the clipboard keeps nothing, the sounds stay silent.
#pragma once

#include "core/CapturePipeline.h"

namespace quillet::bench {

class NoClipboard : public ClipboardWriting {
public:
    void put(const CapturedImage&, const PNGFuture&) override {}
    void resolvePendingPromises() override {}
};

class NoSounds : public SoundPlaying {
public:
    void playShutter() override {}
    void beep() override {}
};

}  // namespace quillet::bench
