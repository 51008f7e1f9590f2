#include "hotkeys/DoubleTapDetector.h"

#include <utility>

namespace quillet {

DoubleTapDetector::DoubleTapDetector(QSet<Trigger> triggers, Duration interval, Clock clock)
    : interval(interval), clock(std::move(clock)) {
    origin = this->clock();
    setTriggers(std::move(triggers));
}

void DoubleTapDetector::setTriggers(QSet<Trigger> triggers) {
    armed = std::move(triggers);
    armedList.assign(armed.cbegin(), armed.cend());
    state = State{};
}

std::optional<Trigger> DoubleTapDetector::trigger(std::uint16_t keyCode) const {
    const ModifierKeyCode* modifier = ModifierKeyCode::find(keyCode);
    if (!modifier) return std::nullopt;
    std::optional<Trigger> eitherSide;
    for (const Trigger& candidate : armedList) {
        if (candidate.key != modifier->key) continue;
        if (candidate.side == modifier->side) return candidate;
        if (candidate.side == KeySide::any) eitherSide = candidate;
    }
    return eitherSide;
}

std::optional<Trigger> DoubleTapDetector::handle(const KeyEvent& event) {
    using Phase = State::Phase;
    switch (event.kind()) {
    case KeyEvent::Kind::otherKeyDown:
    case KeyEvent::Kind::mouseDown:
        // Command-C, Shift-click and the like must never count as a tap.
        state = State{};
        return std::nullopt;

    case KeyEvent::Kind::modifierDown: {
        const std::uint16_t key = event.keyCode();
        if (event.othersHeld() || !trigger(key)) {
            state = State{};
            return std::nullopt;
        }
        const Duration now = elapsed();
        if (state.phase == Phase::firstUp && state.keyCode == key && now - state.at <= interval) {
            state = State{Phase::secondDown, key, now};
        } else {
            // A late second press is not wasted: it may begin the next pair.
            state = State{Phase::firstDown, key, now};
        }
        return std::nullopt;
    }

    case KeyEvent::Kind::modifierUp: {
        const std::uint16_t key = event.keyCode();
        const State previous = state;
        state = State{};
        if (previous.keyCode != key || previous.phase == Phase::idle) return std::nullopt;
        const Duration now = elapsed();
        if (now - previous.at > interval) return std::nullopt;
        if (previous.phase == Phase::firstDown) {
            state = State{Phase::firstUp, key, now};
        } else if (previous.phase == Phase::secondDown) {
            return trigger(key);
        }
        return std::nullopt;
    }
    }
    return std::nullopt;
}

}  // namespace quillet
