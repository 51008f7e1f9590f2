#include "settings/AppSettings.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace quillet;

namespace {

constexpr Trigger controlAny{ModifierKey::control, KeySide::any};
constexpr Trigger controlLeft{ModifierKey::control, KeySide::left};
constexpr Trigger controlRight{ModifierKey::control, KeySide::right};
constexpr Trigger shiftRight{ModifierKey::shift, KeySide::right};

AppSettings withTriggers(std::optional<Trigger> region, std::optional<Trigger> fullScreen) {
    AppSettings settings = AppSettings::standard();
    settings.regionTrigger = region;
    settings.fullScreenTrigger = fullScreen;
    return settings;
}

AppSettings withRetention(RetentionPolicy retention) {
    AppSettings settings = AppSettings::standard();
    settings.retention = retention;
    return settings;
}

}  // namespace

TEST(AppSettings, DefaultsAreControlAndOptionThirtyDaysInPicturesAndValid) {
    const AppSettings settings = AppSettings::standard();
    EXPECT_EQ(settings.regionTrigger, controlAny);
    EXPECT_EQ(settings.fullScreenTrigger, (Trigger{ModifierKey::option, KeySide::any}));
    EXPECT_TRUE(settings.showPreview);
    EXPECT_TRUE(settings.playShutterSound);
    EXPECT_TRUE(settings.launchAtLogin);
    EXPECT_EQ(settings.retention, RetentionPolicy::days(30));
    EXPECT_TRUE(QDir::isAbsolutePath(settings.historyFolder));
    EXPECT_TRUE(settings.historyFolder.endsWith(QStringLiteral("/Quillet")));
    EXPECT_TRUE(settings.validate().has_value());
}

TEST(AppSettings, TriggersOverlapOnlyOnTheSameKeyAndSide) {
    EXPECT_TRUE(withTriggers(controlLeft, controlRight).validate().has_value());
    EXPECT_TRUE(withTriggers(std::nullopt, std::nullopt).validate().has_value());
    EXPECT_TRUE(withTriggers(controlAny, std::nullopt).validate().has_value());
    EXPECT_TRUE(withTriggers(std::nullopt, controlAny).validate().has_value());

    for (const auto& [region, fullScreen] : {std::pair{controlLeft, controlAny}, std::pair{controlAny, controlLeft},
                                             std::pair{shiftRight, shiftRight}}) {
        const auto result = withTriggers(region, fullScreen).validate();
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error(), SettingsError::overlappingTriggers);
    }
}

TEST(AppSettings, RetentionMustBeOneToThreeHundredSixtyFiveDaysOrForever) {
    for (const std::int64_t days : {1, 365}) {
        EXPECT_TRUE(withRetention(RetentionPolicy::days(days)).validate().has_value()) << days;
    }
    EXPECT_TRUE(withRetention(RetentionPolicy::forever()).validate().has_value());
    for (const std::int64_t days : {0, 366, -5}) {
        const auto result = withRetention(RetentionPolicy::days(days)).validate();
        ASSERT_FALSE(result.has_value()) << days;
        EXPECT_EQ(result.error(), SettingsError::retentionOutOfRange);
    }
}

TEST(AppSettings, OverlapIsReportedBeforeRetention) {
    AppSettings settings = withTriggers(controlAny, controlAny);
    settings.retention = RetentionPolicy::days(0);
    const auto result = settings.validate();
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), SettingsError::overlappingTriggers);
}
