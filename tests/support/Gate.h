// Holds a background job (an encoder, a write) back until the test opens the gate.
#pragma once

#include <atomic>
#include <latch>

namespace quillet::test {

class Gate {
public:
    void open() {
        if (!opened.exchange(true)) latch.count_down();
    }
    void wait() { latch.wait(); }

private:
    std::latch latch{1};
    std::atomic_bool opened = false;
};

}  // namespace quillet::test
