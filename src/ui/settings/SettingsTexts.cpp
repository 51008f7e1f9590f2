#include "ui/settings/SettingsTexts.h"

#include "ui/widgets/KeyNames.h"

namespace quillet::SettingsTexts {

QString keyTitle(ModifierKey key) { return KeyNames::title(key); }

QString sideTitle(KeySide side) {
    switch (side) {
    case KeySide::any: return QStringLiteral("Любая");
    case KeySide::left: return QStringLiteral("Левая");
    case KeySide::right: return QStringLiteral("Правая");
    }
    return {};
}

QString retentionTitle(const RetentionPolicy& policy, bool regularChoice) {
    const std::optional<std::int64_t> days = policy.dayCountValue();
    if (!days) return QStringLiteral("Всегда");
    return QString::number(*days) + (regularChoice ? QStringLiteral(" дней") : QStringLiteral(" дн."));
}

QString countPhrase(qint64 count) {
    const qint64 lastTwo = count % 100;
    const qint64 last = count % 10;
    QString noun;
    if (lastTwo >= 11 && lastTwo <= 14) {
        noun = QStringLiteral("снимков");
    } else if (last == 1) {
        noun = QStringLiteral("снимок");
    } else if (last >= 2 && last <= 4) {
        noun = QStringLiteral("снимка");
    } else {
        noun = QStringLiteral("снимков");
    }
    return QString::number(count) + QLatin1Char(' ') + noun;
}

QString deletionQuestion(qint64 count) {
    return QStringLiteral("Будет удалено ") + countPhrase(count) + QStringLiteral(". Удалить?");
}

QString explanation(const HistoryError& error) {
    switch (error.kind) {
    case HistoryError::Case::notEnoughSpace: return QStringLiteral("Не хватает места на диске.");
    case HistoryError::Case::volumeNotMounted: return QStringLiteral("Диск с этой папкой не подключён.");
    case HistoryError::Case::folderNotWritable: return QStringLiteral("В эту папку нельзя записывать.");
    case HistoryError::Case::volumeAccessDenied:
        return QStringLiteral("У приложения нет доступа к этому диску. Разрешите «Съёмные тома» в настройках системы.");
    default: return QStringLiteral("Не удалось записать файлы.");
    }
}

}  // namespace quillet::SettingsTexts
