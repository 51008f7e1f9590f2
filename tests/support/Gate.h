// Holds a background job (an encoder, a write) back until the test opens the gate.
#pragma once

#include <condition_variable>
#include <mutex>

namespace quillet::test {

class Gate {
public:
    void open() {
        std::lock_guard lock(mutex);
        isOpen = true;
        changed.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return isOpen; });
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool isOpen = false;
};

}  // namespace quillet::test
