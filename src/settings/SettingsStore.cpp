#include "settings/SettingsStore.h"

#include "core/Logging.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <utility>

namespace quillet {

namespace {

const QString regionTriggerKey = QStringLiteral("regionTrigger");
const QString fullScreenTriggerKey = QStringLiteral("fullScreenTrigger");
const QString showPreviewKey = QStringLiteral("showPreview");
const QString playShutterSoundKey = QStringLiteral("playShutterSound");
const QString launchAtLoginKey = QStringLiteral("launchAtLogin");
const QString historyFolderKey = QStringLiteral("historyFolder");
const QString retentionKey = QStringLiteral("retention");
const QString triggerOff = QStringLiteral("off");

// The index file that marks a folder as holding a history.
const QString historyIndexName = QStringLiteral(".history.json");

QJsonValue parseJson(const QByteArray& bytes) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) return {};
    return document.object();
}

QByteArray compactJson(const QJsonValue& value) {
    return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

void reportUnreadable(const QString& key) {
    qCWarning(lcApp).noquote() << QStringLiteral("Настройка «%1» не читается, взято значение по умолчанию").arg(key);
}

}  // namespace

SettingsStore::SettingsStore(PreferencesStoring& defaults, const std::optional<QString>& previousHistoryFolder,
                             QObject* parent)
    : QObject(parent), preferences(defaults) {
    // Adopt a history left at an older default location rather than start an empty one.
    if (previousHistoryFolder && QDir::isAbsolutePath(*previousHistoryFolder) && !preferences.contains(historyFolderKey) &&
        QFileInfo(QDir(*previousHistoryFolder).filePath(historyIndexName)).isFile()) {
        preferences.setString(historyFolderKey, QDir::cleanPath(*previousHistoryFolder));
        if (!preferences.synchronize()) qCWarning(lcApp) << "Настройки не удалось сохранить";
    }
    settings = load();
}

AppSettings SettingsStore::load() const {
    const AppSettings standard = AppSettings::standard();
    AppSettings loaded = standard;

    const auto loadTrigger = [this](const QString& key, const std::optional<Trigger>& fallback) -> std::optional<Trigger> {
        if (preferences.string(key) == triggerOff) return std::nullopt;
        const std::optional<QByteArray> bytes = preferences.data(key);
        if (!bytes) {
            if (preferences.contains(key)) reportUnreadable(key);
            return fallback;
        }
        const Decoded<Trigger> trigger = triggerFromJson(parseJson(*bytes));
        if (!trigger) {
            reportUnreadable(key);
            return fallback;
        }
        return *trigger;
    };
    loaded.regionTrigger = loadTrigger(regionTriggerKey, standard.regionTrigger);
    loaded.fullScreenTrigger = loadTrigger(fullScreenTriggerKey, standard.fullScreenTrigger);

    // A missing key keeps the default: it must not read as false.
    const auto loadSwitch = [this](const QString& key, bool fallback) {
        if (!preferences.contains(key)) return fallback;
        const std::optional<bool> value = preferences.boolean(key);
        if (!value) reportUnreadable(key);
        return value.value_or(fallback);
    };
    loaded.showPreview = loadSwitch(showPreviewKey, standard.showPreview);
    loaded.playShutterSound = loadSwitch(playShutterSoundKey, standard.playShutterSound);
    loaded.launchAtLogin = loadSwitch(launchAtLoginKey, standard.launchAtLogin);

    // Only an absolute path names a folder: a relative one would depend on whatever the working
    // directory happens to be at login, and an empty one names nothing.
    if (preferences.contains(historyFolderKey)) {
        const std::optional<QString> folder = preferences.string(historyFolderKey);
        if (folder && QDir::isAbsolutePath(*folder)) {
            loaded.historyFolder = QDir::cleanPath(*folder);
        } else {
            reportUnreadable(historyFolderKey);
        }
    }

    // A retention out of range is as unusable as one that does not decode, and falls back alone.
    if (const std::optional<QByteArray> bytes = preferences.data(retentionKey)) {
        const Decoded<RetentionPolicy> retention = retentionPolicyFromJson(parseJson(*bytes));
        if (retention && AppSettings::validateRetention(*retention)) {
            loaded.retention = *retention;
        } else {
            reportUnreadable(retentionKey);
        }
    } else if (preferences.contains(retentionKey)) {
        reportUnreadable(retentionKey);
    }

    // Overlapping triggers cannot both stay; which one the user meant is unknown, so the pair
    // goes back to the defaults together and every other choice is kept.
    if (!AppSettings::validateTriggers(loaded.regionTrigger, loaded.fullScreenTrigger)) {
        qCWarning(lcApp) << "Сохранённые сочетания клавиш пересекаются, взяты сочетания по умолчанию";
        loaded.regionTrigger = standard.regionTrigger;
        loaded.fullScreenTrigger = standard.fullScreenTrigger;
    }
    return loaded;
}

Expected<void, SettingsError> SettingsStore::update(const AppSettings& updated) {
    if (const auto valid = updated.validate(); !valid) return valid;
    if (updated == settings) return {};
    const AppSettings old = std::exchange(settings, updated);
    save(old);
    Q_EMIT changed(updated);
    return {};
}

void SettingsStore::save(const AppSettings& old) {
    // Only what changed is written: a key we did not mean to change keeps whatever it holds,
    // even a value that did not load. The triggers are written as a pair, because they are
    // checked as a pair when they load.
    const auto saveTrigger = [this](const QString& key, const std::optional<Trigger>& trigger) {
        if (trigger) {
            preferences.setData(key, compactJson(toJson(*trigger)));
        } else {
            preferences.setString(key, triggerOff);
        }
    };
    if (settings.regionTrigger != old.regionTrigger || settings.fullScreenTrigger != old.fullScreenTrigger) {
        saveTrigger(regionTriggerKey, settings.regionTrigger);
        saveTrigger(fullScreenTriggerKey, settings.fullScreenTrigger);
    }
    const auto saveSwitch = [this](const QString& key, bool now, bool before) {
        if (now != before) preferences.setBoolean(key, now);
    };
    saveSwitch(showPreviewKey, settings.showPreview, old.showPreview);
    saveSwitch(playShutterSoundKey, settings.playShutterSound, old.playShutterSound);
    saveSwitch(launchAtLoginKey, settings.launchAtLogin, old.launchAtLogin);
    if (QDir::cleanPath(settings.historyFolder) != QDir::cleanPath(old.historyFolder)) {
        if (QDir::cleanPath(settings.historyFolder) == QDir::cleanPath(AppSettings::defaultHistoryFolder())) {
            preferences.remove(historyFolderKey);
        } else {
            preferences.setString(historyFolderKey, settings.historyFolder);
        }
    }
    if (settings.retention != old.retention) preferences.setData(retentionKey, compactJson(toJson(settings.retention)));
    if (!preferences.synchronize()) qCWarning(lcApp) << "Настройки не удалось сохранить";
}

bool SettingsStore::userChoseHistoryFolder() const { return preferences.contains(historyFolderKey); }

}  // namespace quillet
