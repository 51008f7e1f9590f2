#include "settings/TriggerRules.h"

namespace quillet::TriggerRules {

QList<ModifierKey> availableKeys(const std::optional<Trigger>& other) {
    QList<ModifierKey> keys;
    for (const ModifierKey key : allModifierKeys) {
        if (!availableSides(key, other).isEmpty()) keys << key;
    }
    return keys;
}

QList<KeySide> availableSides(ModifierKey key, const std::optional<Trigger>& other) {
    QList<KeySide> sides;
    for (const KeySide side : allKeySides) {
        if (!other || !Trigger{key, side}.overlaps(*other)) sides << side;
    }
    return sides;
}

Trigger adjusted(const Trigger& trigger, const std::optional<Trigger>& other) {
    const QList<KeySide> sides = availableSides(trigger.key, other);
    if (sides.contains(trigger.side) || sides.isEmpty()) return trigger;
    return Trigger{trigger.key, sides.first()};
}

}  // namespace quillet::TriggerRules
