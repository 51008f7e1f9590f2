#include "platform/desktop/XdgAutostartEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <filesystem>
#include <system_error>

namespace quillet {

namespace {

const QString entryName = QStringLiteral("quillet.desktop");
const QString groupHeader = QStringLiteral("[Desktop Entry]");

// The lines of a desktop entry file, edited in place so that whatever else it holds survives.
class DesktopEntryLines {
public:
    static std::optional<DesktopEntryLines> read(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
        QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
        if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
        DesktopEntryLines entry(std::move(lines));
        if (entry.groupStart() < 0) return std::nullopt;
        return entry;
    }

    static DesktopEntryLines fresh(const QString& exec) {
        return DesktopEntryLines({
            groupHeader,
            QStringLiteral("Type=Application"),
            QStringLiteral("Name=Quillet"),
            QStringLiteral("Comment=Снимки экрана"),
            QStringLiteral("Exec=") + exec,
            QStringLiteral("Terminal=false"),
        });
    }

    std::optional<QString> value(const QString& key) const {
        const int line = find(key);
        if (line < 0) return std::nullopt;
        const QString& text = lines[line];
        return text.mid(text.indexOf(u'=') + 1).trimmed();
    }

    bool isSwitchedOn() const {
        const auto isTrue = [this](const QString& key) {
            return value(key).value_or(QString()).compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0;
        };
        const auto isFalse = [this](const QString& key) {
            return value(key).value_or(QString()).compare(QStringLiteral("false"), Qt::CaseInsensitive) == 0;
        };
        return !isTrue(QStringLiteral("Hidden")) && !isFalse(QStringLiteral("X-GNOME-Autostart-enabled")) &&
               !value(QStringLiteral("Exec")).value_or(QString()).isEmpty();
    }

    void set(const QString& key, const QString& newValue) {
        const QString line = key + u'=' + newValue;
        if (const int found = find(key); found >= 0) {
            lines[found] = line;
        } else {
            lines.insert(groupEnd(), line);
        }
    }

    void remove(const QString& key) {
        for (int found = find(key); found >= 0; found = find(key)) lines.removeAt(found);
    }

    const QStringList& text() const { return lines; }

private:
    explicit DesktopEntryLines(QStringList text) : lines(std::move(text)) {}

    int groupStart() const { return static_cast<int>(lines.indexOf(groupHeader)); }

    // Past the group's last key, before the blank lines that separate it from the next group.
    int groupEnd() const {
        int end = groupStart() + 1;
        while (end < lines.size() && !lines[end].startsWith(u'[')) ++end;
        while (end > groupStart() + 1 && lines[end - 1].trimmed().isEmpty()) --end;
        return end;
    }

    int find(const QString& key) const {
        const int start = groupStart();
        if (start < 0) return -1;
        for (int line = start + 1; line < lines.size() && !lines[line].startsWith(u'['); ++line) {
            const QString& text = lines[line];
            const qsizetype equals = text.indexOf(u'=');
            if (equals > 0 && QStringView(text).left(equals).trimmed() == key) return line;
        }
        return -1;
    }

    QStringList lines;
};

QString autostartFolder(const QString& configFolder) { return QDir(configFolder).filePath(QStringLiteral("autostart")); }

}  // namespace

XdgAutostartEntry::XdgAutostartEntry()
    : userFolder(autostartFolder(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))),
      executable(QCoreApplication::applicationFilePath()) {
    for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation)) {
        const QString candidate = autostartFolder(folder);
        if (candidate != userFolder) systemFolders << candidate;
    }
}

XdgAutostartEntry::XdgAutostartEntry(const QString& userFolder, const QStringList& systemFolders,
                                     const QString& executable)
    : userFolder(userFolder), systemFolders(systemFolders), executable(executable) {}

QString XdgAutostartEntry::filePath() const { return QDir(userFolder).filePath(entryName); }

std::optional<QString> XdgAutostartEntry::systemEntry() const {
    for (const QString& folder : systemFolders) {
        const QString path = QDir(folder).filePath(entryName);
        if (QFileInfo::exists(path)) return path;
    }
    return std::nullopt;
}

LoginItemStatus XdgAutostartEntry::status() const {
    // The user's entry shadows a system one even when it cannot be read.
    const QString path = QFileInfo::exists(filePath()) ? filePath() : systemEntry().value_or(QString());
    if (path.isEmpty()) return LoginItemStatus::notRegistered;
    const std::optional<DesktopEntryLines> entry = DesktopEntryLines::read(path);
    if (!entry || !entry->isSwitchedOn()) return LoginItemStatus::notRegistered;
    switch (ownerOf(entry->value(QStringLiteral("Exec")).value_or(QString()))) {
    case Owner::ours: return LoginItemStatus::enabled;
    case Owner::stale:
        // The user asked for Quillet at login; the entry only lost track of where it lives.
        // Should the rewrite fail, the old entry still starts a Quillet.
        (void)writeSwitchedOn();
        return LoginItemStatus::enabled;
    case Owner::foreign: return LoginItemStatus::notRegistered;
    }
    return LoginItemStatus::notRegistered;
}

XdgAutostartEntry::Owner XdgAutostartEntry::ownerOf(const QString& exec) const {
    QString program = programOf(exec);
    if (program.isEmpty()) return Owner::foreign;
    // A bare name is looked up as the session would, along PATH.
    if (!program.contains(u'/')) {
        const QString found = QStandardPaths::findExecutable(program);
        if (found.isEmpty()) {
            return program == QFileInfo(executable).fileName() ? Owner::stale : Owner::foreign;
        }
        program = found;
    }
    const QFileInfo candidate(program);
    const QFileInfo running(executable);
    const bool same = candidate.exists() && running.exists() ? candidate.canonicalFilePath() == running.canonicalFilePath()
                                                             : candidate.absoluteFilePath() == running.absoluteFilePath();
    if (same) return Owner::ours;
    return candidate.fileName() == running.fileName() ? Owner::stale : Owner::foreign;
}

Expected<void, LoginItemError> XdgAutostartEntry::registerItem() { return writeSwitchedOn(); }

Expected<void, LoginItemError> XdgAutostartEntry::writeSwitchedOn() const {
    const QString exec = execValue(executable);
    DesktopEntryLines entry = DesktopEntryLines::read(filePath()).value_or(DesktopEntryLines::fresh(exec));
    entry.remove(QStringLiteral("Hidden"));
    entry.remove(QStringLiteral("X-GNOME-Autostart-enabled"));
    entry.set(QStringLiteral("Exec"), exec);
    if (!entry.value(QStringLiteral("Type"))) entry.set(QStringLiteral("Type"), QStringLiteral("Application"));
    if (!entry.value(QStringLiteral("Name"))) entry.set(QStringLiteral("Name"), QStringLiteral("Quillet"));
    return write(entry.text());
}

Expected<void, LoginItemError> XdgAutostartEntry::unregisterItem() {
    if (systemEntry()) {
        // Only a user's entry of the same name can switch a system-wide one off.
        DesktopEntryLines entry =
            DesktopEntryLines::read(filePath()).value_or(DesktopEntryLines::fresh(execValue(executable)));
        entry.set(QStringLiteral("Hidden"), QStringLiteral("true"));
        return write(entry.text());
    }
    QFile file(filePath());
    if (file.exists() && !file.remove()) {
        return unexpected(LoginItemError{filePath() + QStringLiteral(": ") + file.errorString()});
    }
    return {};
}

Expected<void, LoginItemError> XdgAutostartEntry::write(const QStringList& lines) const {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(userFolder).toStdString()), error);
    if (error) {
        return unexpected(LoginItemError{userFolder + QStringLiteral(": ") + QString::fromStdString(error.message())});
    }
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly) || file.write((lines.join(u'\n') + u'\n').toUtf8()) < 0 || !file.commit()) {
        return unexpected(LoginItemError{filePath() + QStringLiteral(": ") + file.errorString()});
    }
    return {};
}

QString XdgAutostartEntry::execValue(const QString& executable) {
    // Inside the quotes of an Exec argument `"`, `` ` ``, `$` and `\` take a backslash; `%` starts
    // a field code unless doubled; then the value as a whole escapes its own backslashes.
    QString argument = QStringLiteral("\"");
    for (const QChar ch : executable) {
        if (ch == u'"' || ch == u'`' || ch == u'$' || ch == u'\\') argument += u'\\';
        argument += ch == u'%' ? QStringLiteral("%%") : QString(ch);
    }
    argument += u'"';

    QString value;
    for (const QChar ch : argument) {
        if (ch == u'\\') {
            value += QStringLiteral("\\\\");
        } else if (ch == u'\n') {
            value += QStringLiteral("\\n");
        } else if (ch == u'\t') {
            value += QStringLiteral("\\t");
        } else if (ch == u'\r') {
            value += QStringLiteral("\\r");
        } else {
            value += ch;
        }
    }
    return value;
}

QString XdgAutostartEntry::programOf(const QString& execValue) {
    // First the escapes of a string value, then the quoting of an Exec argument.
    QString unescaped;
    for (qsizetype i = 0; i < execValue.size(); ++i) {
        const QChar ch = execValue[i];
        if (ch != u'\\' || i + 1 == execValue.size()) {
            unescaped += ch;
            continue;
        }
        const QChar next = execValue[++i];
        if (next == u's') {
            unescaped += u' ';
        } else if (next == u'n') {
            unescaped += u'\n';
        } else if (next == u't') {
            unescaped += u'\t';
        } else if (next == u'r') {
            unescaped += u'\r';
        } else {
            unescaped += next;
        }
    }
    const QString text = unescaped.trimmed();
    QString program;
    if (text.startsWith(u'"')) {
        qsizetype i = 1;
        for (; i < text.size() && text[i] != u'"'; ++i) {
            if (text[i] == u'\\' && i + 1 < text.size()) ++i;
            program += text[i];
        }
        if (i == text.size()) return {};  // no closing quote
    } else {
        program = text.section(u' ', 0, 0);
    }
    return program.replace(QStringLiteral("%%"), QStringLiteral("%"));
}

}  // namespace quillet
