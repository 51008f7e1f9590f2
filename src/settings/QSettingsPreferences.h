// The preferences store on QSettings: ~/.config/Quillet/Quillet.conf for the application, or
// any INI file (tests point it into a temporary folder).
//
// QSettings drops lines it cannot parse when it rewrites a file, so a file that did not read
// cleanly is copied aside to "<file>.bak" before the first write: a hand edit gone wrong is
// never lost.
//
// The INI file keeps text only, so a boolean reads back from "true"/"false" (also "1"/"0",
// "yes"/"no", any case); any other text is not a boolean. A byte value is written as
// @ByteArray(...) and only that form reads back as bytes.
#pragma once

#include "settings/PreferencesStoring.h"

#include <QSettings>

namespace quillet {

class QSettingsPreferences : public PreferencesStoring {
public:
    // The user's own file: organization "Quillet", application "Quillet".
    QSettingsPreferences();
    explicit QSettingsPreferences(const QString& iniFile);

    bool contains(const QString& key) const override;
    std::optional<QByteArray> data(const QString& key) const override;
    std::optional<QString> string(const QString& key) const override;
    std::optional<bool> boolean(const QString& key) const override;

    void setData(const QString& key, const QByteArray& value) override;
    void setString(const QString& key, const QString& value) override;
    void setBoolean(const QString& key, bool value) override;
    void remove(const QString& key) override;
    bool synchronize() override;

    QString fileName() const { return settings.fileName(); }

private:
    void beforeWrite();

    mutable QSettings settings;
    bool unreadable = false;
};

}  // namespace quillet
