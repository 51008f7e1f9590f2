// The per-user preferences store the settings live in: per key a byte value, a string or a
// boolean. Reading asks for one kind; a missing key and a value of another kind both come back
// absent, so a missing boolean is never mistaken for false.
//
//   if (const auto shown = preferences.boolean(QStringLiteral("showPreview"))) use(*shown);
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace quillet {

class PreferencesStoring {
public:
    virtual ~PreferencesStoring() = default;

    // True when the key holds a value of any kind, readable or not.
    virtual bool contains(const QString& key) const = 0;
    virtual std::optional<QByteArray> data(const QString& key) const = 0;
    virtual std::optional<QString> string(const QString& key) const = 0;
    virtual std::optional<bool> boolean(const QString& key) const = 0;

    virtual void setData(const QString& key, const QByteArray& value) = 0;
    virtual void setString(const QString& key, const QString& value) = 0;
    virtual void setBoolean(const QString& key, bool value) = 0;
    virtual void remove(const QString& key) = 0;

    // Pushes the writes so far to permanent storage; false when that failed (the values stay
    // in force for this run).
    virtual bool synchronize() = 0;
};

}  // namespace quillet
