// Recognises a quick double press of a modifier key (press, release, press, release of the same
// physical key) that matches one of the armed triggers, and reports it on the second release.
// Each of the three gaps may be at most `interval`, and anything else that happens in between
// (another key, a mouse press, another modifier held) starts over:
//
//   DoubleTapDetector detector({Trigger{ModifierKey::control, KeySide::any}}, 350ms, steadyNow);
//   for (KeyEvent event : events)
//       if (std::optional<Trigger> fired = detector.handle(event)) capture(*fired);
//
// Main thread only; cheap enough to run for every key and mouse press of the whole desktop.
#pragma once

#include "core/Types.h"
#include "hotkeys/KeyEvent.h"

#include <QSet>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace quillet {

class DoubleTapDetector {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using Duration = std::chrono::steady_clock::duration;

    // `clock` is any monotonic clock; only differences of its readings are used.
    DoubleTapDetector(QSet<Trigger> triggers, Duration interval, Clock clock);

    // Advances the sequence by one event; the trigger that fired, if this was the second release.
    std::optional<Trigger> handle(const KeyEvent& event);

    const QSet<Trigger>& triggers() const { return armed; }
    // Arms another set of triggers; a half-finished double press is discarded.
    void setTriggers(QSet<Trigger> triggers);

    // Time since the detector was created, on its clock.
    Duration elapsed() const { return clock() - origin; }

    // The longest allowed gap between two consecutive steps (inclusive).
    const Duration interval;

private:
    struct State {
        enum class Phase { idle, firstDown, firstUp, secondDown };
        Phase phase = Phase::idle;
        std::uint16_t keyCode = 0;
        Duration at{};
    };

    // The trigger a press of this key stands for: a side-specific trigger wins over `any`.
    std::optional<Trigger> trigger(std::uint16_t keyCode) const;

    QSet<Trigger> armed;
    std::vector<Trigger> armedList;  // the same triggers, cheap to walk on every key press
    State state;
    Clock clock;
    std::chrono::steady_clock::time_point origin;
};

}  // namespace quillet
