#include "settings/AppSettings.h"
#include "settings/TriggerRules.h"

#include <gtest/gtest.h>

using namespace quillet;

namespace {

constexpr Trigger controlAny{ModifierKey::control, KeySide::any};
constexpr Trigger controlLeft{ModifierKey::control, KeySide::left};
constexpr Trigger controlRight{ModifierKey::control, KeySide::right};
constexpr Trigger shiftRight{ModifierKey::shift, KeySide::right};

std::optional<SettingsError> errorOf(std::optional<Trigger> region, std::optional<Trigger> fullScreen,
                                     RetentionPolicy retention = RetentionPolicy::days(30)) {
    AppSettings settings = AppSettings::standard();
    settings.regionTrigger = region;
    settings.fullScreenTrigger = fullScreen;
    settings.retention = retention;
    const auto valid = settings.validate();
    return valid ? std::nullopt : std::optional(valid.error());
}

}  // namespace

TEST(AppSettings, ValidationRefusesOverlapFirstThenRetention) {
    EXPECT_TRUE(AppSettings::standard().validate().has_value());
    EXPECT_EQ(errorOf(controlLeft, controlRight), std::nullopt);
    EXPECT_EQ(errorOf(std::nullopt, controlAny), std::nullopt);
    EXPECT_EQ(errorOf(controlLeft, controlAny), SettingsError::overlappingTriggers);
    EXPECT_EQ(errorOf(shiftRight, shiftRight), SettingsError::overlappingTriggers);

    for (const std::int64_t days : {1, 365}) {
        EXPECT_EQ(errorOf(controlAny, std::nullopt, RetentionPolicy::days(days)), std::nullopt);
    }
    EXPECT_EQ(errorOf(controlAny, std::nullopt, RetentionPolicy::forever()), std::nullopt);
    for (const std::int64_t days : {0, 366, -5}) {
        EXPECT_EQ(errorOf(controlAny, std::nullopt, RetentionPolicy::days(days)), SettingsError::retentionOutOfRange);
    }
    EXPECT_EQ(errorOf(controlAny, controlAny, RetentionPolicy::days(0)), SettingsError::overlappingTriggers);
}

TEST(TriggerRules, OfferOnlyWhatTheOtherTriggerLeavesFree) {
    using Sides = QList<KeySide>;
    EXPECT_EQ(TriggerRules::availableSides(ModifierKey::control, controlLeft), Sides{KeySide::right});
    EXPECT_EQ(TriggerRules::availableSides(ModifierKey::option, controlLeft), (Sides{KeySide::any, KeySide::left, KeySide::right}));
    EXPECT_TRUE(TriggerRules::availableSides(ModifierKey::control, controlAny).isEmpty());
    EXPECT_EQ(TriggerRules::availableKeys(controlAny),
              (QList<ModifierKey>{ModifierKey::option, ModifierKey::command, ModifierKey::shift}));
    EXPECT_EQ(TriggerRules::availableKeys(controlRight).size(), 4);  // Control still has its left key

    EXPECT_EQ(TriggerRules::adjusted(controlAny, controlLeft), controlRight);
    EXPECT_EQ(TriggerRules::adjusted(controlLeft, controlAny), controlLeft);  // no side free: the caller changes the key
    EXPECT_EQ(TriggerRules::adjusted(Trigger{ModifierKey::option, KeySide::left}, controlAny),
              (Trigger{ModifierKey::option, KeySide::left}));
}

TEST(TriggerRules, AdjustedKeepsTheKeyAndClearsEveryAvoidableOverlap) {
    for (const ModifierKey key : allModifierKeys) {
        for (const KeySide side : allKeySides) {
            for (const ModifierKey otherKey : allModifierKeys) {
                for (const KeySide otherSide : allKeySides) {
                    const Trigger other{otherKey, otherSide};
                    const Trigger result = TriggerRules::adjusted(Trigger{key, side}, other);
                    EXPECT_EQ(result.key, key);
                    EXPECT_EQ(result.overlaps(other), TriggerRules::availableSides(key, other).isEmpty());
                }
            }
        }
    }
}
