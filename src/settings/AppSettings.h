// The one record of user choices: which double press starts which capture, what happens after
// a capture, launch at login, where the history lives and how long it is kept.
//
//   AppSettings settings = AppSettings::standard();
//   settings.regionTrigger = Trigger{ModifierKey::shift, KeySide::right};
#pragma once

#include "core/Expected.h"
#include "core/Types.h"

#include <QString>

#include <optional>

namespace quillet {

// Why a settings record was refused. No texts of its own: whoever shows the refusal words it.
enum class SettingsError {
    overlappingTriggers,  // both triggers present and they overlap
    retentionOutOfRange,  // days(n) with n outside 1...365
};

struct AppSettings {
    std::optional<Trigger> regionTrigger;      // absent = off
    std::optional<Trigger> fullScreenTrigger;  // absent = off
    bool showPreview = true;
    bool playShutterSound = true;
    bool launchAtLogin = true;
    QString historyFolder;  // absolute path of a directory
    RetentionPolicy retention = RetentionPolicy::standard();

    // ~/Pictures/Quillet (the platform's pictures folder).
    static QString defaultHistoryFolder();
    static AppSettings standard();

    // Overlapping triggers are reported before a retention out of range. An absent trigger
    // never overlaps; `forever` is always in range.
    Expected<void, SettingsError> validate() const;
    // The two checks of validate(), each on its own, so that a stored record can be repaired
    // field by field instead of being thrown away whole.
    static Expected<void, SettingsError> validateTriggers(const std::optional<Trigger>& region,
                                                          const std::optional<Trigger>& fullScreen);
    static Expected<void, SettingsError> validateRetention(const RetentionPolicy& retention);

    friend bool operator==(const AppSettings&, const AppSettings&) = default;
};

// Read access to the settings in force, for those who read them at the moment of use.
class SettingsReading {
public:
    virtual ~SettingsReading() = default;
    virtual AppSettings current() const = 0;
};

}  // namespace quillet
