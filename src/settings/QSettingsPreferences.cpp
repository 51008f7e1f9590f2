#include "settings/QSettingsPreferences.h"

#include "core/Logging.h"

#include <QFile>

namespace quillet {

QSettingsPreferences::QSettingsPreferences()
    : settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quillet"), QStringLiteral("Quillet")),
      unreadable(settings.status() == QSettings::FormatError) {}

QSettingsPreferences::QSettingsPreferences(const QString& iniFile)
    : settings(iniFile, QSettings::IniFormat), unreadable(settings.status() == QSettings::FormatError) {}

void QSettingsPreferences::beforeWrite() {
    if (!unreadable) return;
    unreadable = false;
    const QString backup = settings.fileName() + QStringLiteral(".bak");
    QFile::remove(backup);
    if (QFile::copy(settings.fileName(), backup)) {
        qCWarning(lcApp).noquote() << QStringLiteral("Файл настроек прочитан не целиком, его копия сохранена в %1").arg(backup);
    } else {
        qCWarning(lcApp).noquote() << QStringLiteral("Файл настроек прочитан не целиком, и его копию сохранить не удалось: %1").arg(backup);
    }
}

bool QSettingsPreferences::contains(const QString& key) const { return settings.contains(key); }

std::optional<QByteArray> QSettingsPreferences::data(const QString& key) const {
    const QVariant value = settings.value(key);
    if (value.typeId() != QMetaType::QByteArray) return std::nullopt;
    return value.toByteArray();
}

std::optional<QString> QSettingsPreferences::string(const QString& key) const {
    const QVariant value = settings.value(key);
    if (value.typeId() != QMetaType::QString) return std::nullopt;
    return value.toString();
}

std::optional<bool> QSettingsPreferences::boolean(const QString& key) const {
    const QVariant value = settings.value(key);
    if (value.typeId() == QMetaType::Bool) return value.toBool();
    if (value.typeId() != QMetaType::QString) return std::nullopt;
    const QString text = value.toString().trimmed().toLower();
    if (text == u"true" || text == u"1" || text == u"yes") return true;
    if (text == u"false" || text == u"0" || text == u"no") return false;
    return std::nullopt;
}

void QSettingsPreferences::setData(const QString& key, const QByteArray& value) {
    beforeWrite();
    settings.setValue(key, value);
}

void QSettingsPreferences::setString(const QString& key, const QString& value) {
    beforeWrite();
    settings.setValue(key, value);
}

void QSettingsPreferences::setBoolean(const QString& key, bool value) {
    beforeWrite();
    settings.setValue(key, value);
}

void QSettingsPreferences::remove(const QString& key) {
    beforeWrite();
    settings.remove(key);
}

bool QSettingsPreferences::synchronize() {
    settings.sync();
    // A parse error found while reading stays in status(); only a failed write matters here.
    return settings.status() != QSettings::AccessError;
}

}  // namespace quillet
