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

}  // namespace quillet
