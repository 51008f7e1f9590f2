// How fast a double press is recognised: the detector's cost per event (it runs for every key
// and mouse press of the desktop) and the delay from the second release, sent through XTEST, to
// onTrigger on the main thread through the real XInput 2 tap.
#include "e2e/harness/XSession.h"
#include "e2e/harness/XTestInput.h"
#include "hotkeys/DoubleTapDetector.h"
#include "hotkeys/HotKeyMonitor.h"
#include "platform/x11/XInputEventTap.h"

#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <vector>

QUILLET_E2E_SESSION({.trayHost = false, .windowManager = false});

namespace {

using namespace std::chrono_literals;
using quillet::DoubleTapDetector;
using quillet::KeyEvent;
using quillet::KeySide;
using quillet::ModifierKey;
using quillet::ModifierKeyCode;
using quillet::Trigger;
using Clock = std::chrono::steady_clock;

constexpr Trigger controlAny{ModifierKey::control, KeySide::any};
constexpr Trigger shiftRight{ModifierKey::shift, KeySide::right};

// A double press among the other things a desktop sends: typing, a click, Caps Lock, a chord.
const std::array<KeyEvent, 8> eventStream = {
    KeyEvent(ModifierKeyCode::leftControl, 0x1),  KeyEvent(ModifierKeyCode::leftControl, 0),
    KeyEvent(ModifierKeyCode::leftControl, 0x1),  KeyEvent(ModifierKeyCode::leftControl, 0),
    KeyEvent::otherKeyDown(),                     KeyEvent::mouseDown(),
    KeyEvent(ModifierKeyCode::capsLock, 0x10000), KeyEvent(ModifierKeyCode::rightShift, 0x4 | 0x1),
};

DoubleTapDetector makeDetector() {
    return DoubleTapDetector({controlAny, shiftRight}, 350ms, [] { return Clock::now(); });
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void BM_DoubleTapDetectorHandle(benchmark::State& state) {
    DoubleTapDetector detector = makeDetector();
    std::size_t index = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(detector.handle(eventStream[index++ % eventStream.size()]));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DoubleTapDetectorHandle);

// The median of many short runs, which a busy machine disturbs less than the mean.
void BM_DoubleTapDetectorHandleMedian(benchmark::State& state) {
    DoubleTapDetector detector = makeDetector();
    constexpr int batches = 301;
    constexpr int perBatch = 4096;
    std::vector<double> nanoseconds;
    for (auto _ : state) {
        nanoseconds.clear();
        for (int batch = 0; batch < batches; ++batch) {
            const auto start = Clock::now();
            for (int i = 0; i < perBatch; ++i) benchmark::DoNotOptimize(detector.handle(eventStream[i % eventStream.size()]));
            nanoseconds.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count() / perBatch);
        }
    }
    const double perEvent = median(nanoseconds);
    state.counters["median_ns"] = perEvent;
    std::printf("DoubleTapDetector::handle: %.1f ns median per event (goal < 50 ns)\n", perEvent);
}
BENCHMARK(BM_DoubleTapDetectorHandleMedian)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_SecondReleaseToTrigger(benchmark::State& state) {
    quillet::XInputEventTap tap;
    quillet::HotKeyMonitor monitor({Trigger{ModifierKey::control, KeySide::left}}, tap);
    quillet::e2e::XTestInput input;
    if (!input.isValid() || !monitor.start()) {
        state.SkipWithError("no X server with XInput 2 and XTEST");
        return;
    }
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    bool fired = false;
    Clock::time_point firedAt;
    monitor.onTrigger = [&](Trigger) {
        firedAt = Clock::now();
        fired = true;
        loop.quit();
    };

    constexpr int doublePresses = 100;
    std::vector<double> milliseconds;
    for (auto _ : state) {
        for (int i = 0; i < doublePresses; ++i) {
            fired = false;
            input.tap(XKB_KEY_Control_L);
            input.press(XKB_KEY_Control_L);
            input.sync();
            const auto sent = Clock::now();
            input.release(XKB_KEY_Control_L);
            input.flush();
            deadline.start(2s);
            if (!fired) loop.exec();
            deadline.stop();
            if (!fired) {
                state.SkipWithError("the double press did not fire within 2 s");
                return;
            }
            milliseconds.push_back(std::chrono::duration<double, std::milli>(firedAt - sent).count());
        }
    }
    const double delay = median(milliseconds);
    state.counters["median_ms"] = delay;
    state.counters["max_ms"] = *std::max_element(milliseconds.begin(), milliseconds.end());
    std::printf("second release to onTrigger: %.3f ms median over %d double presses (goal < 5 ms)\n", delay, doublePresses);
}
BENCHMARK(BM_SecondReleaseToTrigger)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
