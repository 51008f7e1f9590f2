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
    if (regionTrigger && fullScreenTrigger && regionTrigger->overlaps(*fullScreenTrigger)) {
        return unexpected(SettingsError::overlappingTriggers);
    }
    if (const auto count = retention.dayCountValue();
        count && (*count < RetentionPolicy::allowedDaysMin || *count > RetentionPolicy::allowedDaysMax)) {
        return unexpected(SettingsError::retentionOutOfRange);
    }
    return {};
}

}  // namespace quillet
