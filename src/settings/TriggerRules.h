// Keeps the two capture triggers from colliding while the user edits one of them: which keys
// and sides are still free next to the other trigger, and how to nudge a trigger's side so it
// no longer overlaps.
//
//   TriggerRules::availableSides(ModifierKey::control, Trigger{ModifierKey::control, KeySide::left})
//       // [right]
#pragma once

#include "core/Types.h"

#include <QList>

#include <optional>

namespace quillet::TriggerRules {

// The keys, in ModifierKey order, that still have at least one free side next to `other`.
QList<ModifierKey> availableKeys(const std::optional<Trigger>& other);

// The sides of `key`, in KeySide order, that do not overlap `other`; all three without `other`.
QList<KeySide> availableSides(ModifierKey key, const std::optional<Trigger>& other);

// `trigger` with its side moved to the first free one when it overlaps `other`. The key never
// changes: when no side of it is free the trigger comes back unchanged and the caller must pick
// another key.
Trigger adjusted(const Trigger& trigger, const std::optional<Trigger>& other);

}  // namespace quillet::TriggerRules
