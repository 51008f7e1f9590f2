// A frozen frame for the region overlay's unit tests: one image per display, given by the test;
// thaws are counted.
#pragma once

#include "capture/ScreenFreezing.h"

namespace quillet::fakes {

class FakeScreenFreezer : public ScreenFreezing {
public:
    QList<FrozenDisplay> freeze() override { return frames; }
    void thaw() override { ++thaws; }

    QList<FrozenDisplay> frames;
    int thaws = 0;
};

}  // namespace quillet::fakes
