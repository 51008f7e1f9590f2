#include "settings/AppSettings.h"

#include <QDir>
#include <QStandardPaths>

namespace quillet {

QString AppSettings::defaultHistoryFolder() {
    static const QString folder = QDir::cleanPath(
        QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) + QStringLiteral("/Quillet"));
    return folder;
}

AppSettings AppSettings::standard() {
    static const AppSettings settings{
        Trigger{ModifierKey::control, KeySide::any},
        Trigger{ModifierKey::option, KeySide::any},
        true,
        true,
        true,
        defaultHistoryFolder(),
        RetentionPolicy::standard(),
    };
    return settings;
}

Expected<void, SettingsError> AppSettings::validate() const {
    if (const auto triggers = validateTriggers(regionTrigger, fullScreenTrigger); !triggers) return triggers;
    return validateRetention(retention);
}

Expected<void, SettingsError> AppSettings::validateTriggers(const std::optional<Trigger>& region,
                                                            const std::optional<Trigger>& fullScreen) {
    if (region && fullScreen && region->overlaps(*fullScreen)) return unexpected(SettingsError::overlappingTriggers);
    return {};
}

Expected<void, SettingsError> AppSettings::validateRetention(const RetentionPolicy& retention) {
    if (const auto count = retention.dayCountValue();
        count && (*count < RetentionPolicy::allowedDaysMin || *count > RetentionPolicy::allowedDaysMax)) {
        return unexpected(SettingsError::retentionOutOfRange);
    }
    return {};
}

}  // namespace quillet
