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

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        static const char* const levels[] = {"debug", "warning", "critical", "fatal", "info"};
        active->lines << QStringLiteral("%1 %2: %3").arg(QLatin1String(context.category), QLatin1String(levels[type]), text);
    }

    static inline LogCapture* active = nullptr;
    QtMessageHandler previous;
};

}  // namespace quillet::test
