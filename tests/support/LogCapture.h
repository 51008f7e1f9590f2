// Collects what is logged while it lives, as "<category> <level>: <text>", so a test can check
// that a failure was reported where and how it should be.
#pragma once

#include <QStringList>
#include <QByteArray>
#include <QtGlobal>

#include <vector>

namespace quillet::test {

class LogCapture {
public:
    LogCapture() : previous(qInstallMessageHandler(&LogCapture::handle)) { active = this; }
    ~LogCapture() {
        qInstallMessageHandler(previous);
        active = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines;

    // The texts logged in one category at one level, in order.
    QStringList texts(const char* category, QtMsgType type) const {
        QStringList found;
        for (const Entry& entry : entries) {
            if (entry.category == category && entry.type == type) found << entry.text;
        }
        return found;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        static const char* const levels[] = {"debug", "warning", "critical", "fatal", "info"};
        active->entries.push_back({QByteArray(context.category), type, text});
        active->lines << QStringLiteral("%1 %2: %3").arg(QLatin1String(context.category), QLatin1String(levels[type]), text);
    }

    struct Entry {
        QByteArray category;
        QtMsgType type;
        QString text;
    };
    std::vector<Entry> entries;
    static inline LogCapture* active = nullptr;
    QtMessageHandler previous;
};

}  // namespace quillet::test
