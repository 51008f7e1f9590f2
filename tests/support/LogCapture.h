// Collects what is logged while it lives, as "<category> <level>: <text>", so a test can check
// that a failure was reported where and how it should be.
#pragma once

#include <QStringList>
#include <QtGlobal>

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
        const QString prefix = QStringLiteral("%1 %2: ").arg(QLatin1String(category), QLatin1String(levels[type]));
        QStringList found;
        for (const QString& line : lines) {
            if (line.startsWith(prefix)) found << line.mid(prefix.size());
        }
        return found;
    }

private:
    static constexpr const char* levels[] = {"debug", "warning", "critical", "fatal", "info"};
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        active->lines << QStringLiteral("%1 %2: %3").arg(QLatin1String(context.category), QLatin1String(levels[type]), text);
    }
    static inline LogCapture* active = nullptr;
    QtMessageHandler previous;
};

}  // namespace quillet::test
