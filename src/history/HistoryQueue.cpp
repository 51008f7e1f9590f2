#include "history/HistoryQueue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace quillet {

// Shared with the thread, so the queue object can go away while its last jobs still run.
struct SerialQueue::State {
    std::mutex lock;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool closed = false;
};

SerialQueue::SerialQueue(const char* threadName) : state(std::make_shared<State>()) {
    std::thread thread([state = state] {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(state->lock);
                state->wake.wait(lock, [&] { return state->closed || !state->jobs.empty(); });
                if (state->jobs.empty()) return;  // closed and drained
                job = std::move(state->jobs.front());
                state->jobs.pop_front();
            }
            job();
        }
    });
    pthread_setname_np(thread.native_handle(), threadName);
    // Never joined: a job stuck in the kernel must not hold up whoever drops the queue.
    thread.detach();
}

SerialQueue::~SerialQueue() {
    std::lock_guard lock(state->lock);
    state->closed = true;
    state->wake.notify_all();
}

void SerialQueue::post(std::function<void()> job) {
    std::lock_guard lock(state->lock);
    state->jobs.push_back(std::move(job));
    state->wake.notify_one();
}

QThreadPool* thumbnailPool() {
    // Left alive at exit: destroying it would wait for a read that may never return.
    static QThreadPool* const pool = [] {
        auto* threads = new QThreadPool;
        threads->setMaxThreadCount(2);
        return threads;
    }();
    return pool;
}

}  // namespace quillet
