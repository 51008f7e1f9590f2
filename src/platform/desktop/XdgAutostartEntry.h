// Launch at login on an XDG desktop: the autostart entry "quillet.desktop" in the user's
// $XDG_CONFIG_HOME/autostart, which starts the running executable. Session managers run every
// entry of the user's folder and of the system's ($XDG_CONFIG_DIRS/autostart), the user's
// shadowing a system one of the same name, and skip an entry with Hidden=true (or GNOME's
// X-GNOME-Autostart-enabled=false). So switching off removes the user's entry, or hides a
// system-wide one behind a user's entry with Hidden=true.
//
//   XdgAutostartEntry entry;               // ~/.config/autostart/quillet.desktop
//   if (auto done = entry.registerItem(); !done) log(done.error().description);
//
// Lines of the user's entry that Quillet does not manage are kept when it is switched on. The
// entry starts the executable by its absolute path, so it keeps working from wherever Quillet
// was installed; an entry left pointing at another copy is brought up to date.
#pragma once

#include "settings/LoginItemRegistering.h"

#include <QStringList>

#include <optional>

namespace quillet {

class XdgAutostartEntry : public LoginItemRegistering {
public:
    // The folders of the current environment, launching QCoreApplication::applicationFilePath().
    XdgAutostartEntry();
    XdgAutostartEntry(const QString& userFolder, const QStringList& systemFolders, const QString& executable);

    // An entry counts as ours only when its Exec starts this executable. One that starts a
    // program of the same name elsewhere (an earlier build or install) is stale: while it is
    // switched on it is rewritten to start this executable and counts as ours.
    LoginItemStatus status() const override;
    Expected<void, LoginItemError> registerItem() override;
    Expected<void, LoginItemError> unregisterItem() override;

    // The user's entry, whether it exists or not.
    QString filePath() const;

    // The Exec value that starts `executable` with no arguments: quoted, with the characters
    // the desktop entry format reserves escaped.
    static QString execValue(const QString& executable);
    // The program an Exec value starts (its first argument, unquoted and unescaped); empty
    // when the value is malformed.
    static QString programOf(const QString& execValue);

private:
    std::optional<QString> systemEntry() const;
    enum class Owner { ours, stale, foreign };
    Owner ownerOf(const QString& exec) const;
    Expected<void, LoginItemError> writeSwitchedOn() const;
    Expected<void, LoginItemError> write(const QStringList& lines) const;

    QString userFolder;
    QStringList systemFolders;
    QString executable;
};

}  // namespace quillet
