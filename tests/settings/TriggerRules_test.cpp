#include "settings/TriggerRules.h"

#include <gtest/gtest.h>

using namespace quillet;

namespace {

constexpr Trigger controlAny{ModifierKey::control, KeySide::any};
constexpr Trigger controlLeft{ModifierKey::control, KeySide::left};
constexpr Trigger controlRight{ModifierKey::control, KeySide::right};
constexpr Trigger optionLeft{ModifierKey::option, KeySide::left};

const QList<KeySide> allSides{KeySide::any, KeySide::left, KeySide::right};
const QList<ModifierKey> allKeys{ModifierKey::control, ModifierKey::option, ModifierKey::command, ModifierKey::shift};

}  // namespace

TEST(TriggerRules, SidesLeftFreeByTheOtherTrigger) {
    EXPECT_EQ(TriggerRules::availableSides(ModifierKey::control, controlLeft), QList<KeySide>{KeySide::right});
    EXPECT_EQ(TriggerRules::availableSides(ModifierKey::option, controlLeft), allSides);
    EXPECT_TRUE(TriggerRules::availableSides(ModifierKey::control, controlAny).isEmpty());
    EXPECT_EQ(TriggerRules::availableSides(ModifierKey::control, std::nullopt), allSides);
}

TEST(TriggerRules, KeysWithAnyFreeSideKeepTheirOrder) {
    EXPECT_EQ(TriggerRules::availableKeys(controlAny),
              (QList<ModifierKey>{ModifierKey::option, ModifierKey::command, ModifierKey::shift}));
    EXPECT_EQ(TriggerRules::availableKeys(controlRight), allKeys);
    EXPECT_EQ(TriggerRules::availableKeys(std::nullopt), allKeys);
}

TEST(TriggerRules, AdjustedMovesOnlyTheSideAndOnlyWhenItMust) {
    EXPECT_EQ(TriggerRules::adjusted(controlAny, controlLeft), controlRight);
    EXPECT_EQ(TriggerRules::adjusted(controlLeft, controlAny), controlLeft);  // nothing free on Control
    EXPECT_EQ(TriggerRules::adjusted(optionLeft, controlAny), optionLeft);
    EXPECT_EQ(TriggerRules::adjusted(controlLeft, controlRight), controlLeft);
    EXPECT_EQ(TriggerRules::adjusted(controlLeft, std::nullopt), controlLeft);
}

TEST(TriggerRules, AdjustedNeverOverlapsWhenTheKeyHasAFreeSide) {
    for (const ModifierKey key : allModifierKeys) {
        for (const KeySide side : allKeySides) {
            for (const ModifierKey otherKey : allModifierKeys) {
                for (const KeySide otherSide : allKeySides) {
                    const Trigger trigger{key, side};
                    const Trigger other{otherKey, otherSide};
                    const Trigger result = TriggerRules::adjusted(trigger, other);
                    EXPECT_EQ(result.key, key);
                    if (!TriggerRules::availableSides(key, other).isEmpty()) {
                        EXPECT_FALSE(result.overlaps(other));
                    }
                }
            }
        }
    }
}
