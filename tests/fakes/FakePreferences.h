// An in-memory preferences store that keeps each value with its kind and records every write,
// so tests can tell what was written, in which order, and that loading wrote nothing; and a
// login item that remembers its status, counts the calls and fails when told to.
#pragma once

#include "settings/LoginItemRegistering.h"
#include "settings/PreferencesStoring.h"

#include <QMap>
#include <QStringList>

#include <optional>
#include <variant>

namespace quillet::fakes {

class FakePreferences : public PreferencesStoring {
public:
    using Value = std::variant<QByteArray, QString, bool>;

    bool contains(const QString& key) const override { return values.contains(key); }
    std::optional<QByteArray> data(const QString& key) const override { return get<QByteArray>(key); }
    std::optional<QString> string(const QString& key) const override { return get<QString>(key); }
    std::optional<bool> boolean(const QString& key) const override { return get<bool>(key); }

    void setData(const QString& key, const QByteArray& value) override { set(key, value); }
    void setString(const QString& key, const QString& value) override { set(key, value); }
    void setBoolean(const QString& key, bool value) override { set(key, value); }
    void remove(const QString& key) override {
        writes << QStringLiteral("remove ") + key;
        values.remove(key);
    }
    bool synchronize() override {
        ++synchronizations;
        return true;
    }

    QMap<QString, Value> values;
    QStringList writes;  // "set <key>" or "remove <key>", in order
    int synchronizations = 0;

private:
    template <class T>
    std::optional<T> get(const QString& key) const {
        const auto found = values.constFind(key);
        if (found == values.constEnd() || !std::holds_alternative<T>(*found)) return std::nullopt;
        return std::get<T>(*found);
    }
    void set(const QString& key, Value value) {
        writes << QStringLiteral("set ") + key;
        values.insert(key, std::move(value));
    }
};

class FakeLoginItem : public LoginItemRegistering {
public:
    LoginItemStatus status() const override { return current; }
    Expected<void, LoginItemError> registerItem() override {
        ++registrations;
        if (failure) return unexpected(*failure);
        current = LoginItemStatus::enabled;
        return {};
    }
    Expected<void, LoginItemError> unregisterItem() override {
        ++unregistrations;
        if (failure) return unexpected(*failure);
        current = LoginItemStatus::notRegistered;
        return {};
    }

    LoginItemStatus current = LoginItemStatus::notRegistered;
    std::optional<LoginItemError> failure;  // every register and unregister fails with it
    int registrations = 0;
    int unregistrations = 0;
};

}  // namespace quillet::fakes
