// The settings in force, kept in the preferences store key by key. Damaged, foreign or
// out-of-range entries never stop loading: each falls back to its default alone, and
// overlapping triggers fall back as a pair. Nothing is written while loading, and an update
// writes only the keys it changes, so no other choice is ever lost with a bad neighbour.
//
//   SettingsStore settings(preferences, std::nullopt);
//   connect(&settings, &SettingsStore::changed, window, [](const AppSettings& now) { ... });
//   AppSettings next = settings.current();
//   next.showPreview = false;
//   if (auto done = settings.update(next); !done) show(done.error());
//
// Main thread only. `changed` is emitted synchronously inside `update`, after the new record is in
// force and saved.
#pragma once

#include "settings/AppSettings.h"
#include "settings/PreferencesStoring.h"

#include <QObject>

#include <functional>
#include <optional>

namespace quillet {

class SettingsStore : public QObject, public SettingsReading {
    Q_OBJECT

public:
    // `previousHistoryFolder`: an older default location of the history. When the store has no
    // history folder yet and that folder holds a history index, it is adopted.
    SettingsStore(PreferencesStoring& defaults, const std::optional<QString>& previousHistoryFolder,
                  QObject* parent = nullptr);

    AppSettings current() const override { return settings; }

    // Validates, and when `updated` differs from the current record puts it in force, saves
    // the keys that changed and emits `changed`. A refused record changes nothing.
    Expected<void, SettingsError> update(const AppSettings& updated);

    // True when the store holds anything under "historyFolder": the user once picked a folder
    // other than the default.
    bool userChoseHistoryFolder() const;

    // The backing store, shared with the launch-at-login handling for its own key.
    PreferencesStoring& defaults() const { return preferences; }

Q_SIGNALS:
    // After every accepted change, with the record now in force; any number of windows listen.
    void changed(const AppSettings& settings);

private:
    AppSettings load() const;
    void save(const AppSettings& old);

    PreferencesStoring& preferences;
    AppSettings settings;
};

}  // namespace quillet
