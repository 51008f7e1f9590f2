// Collects the messages logged while it lives, so a test can check a failure was reported in
// the right category with the right text.
#pragma once

#include <QLoggingCategory>
#include <QStringList>
#include <QtGlobal>

namespace quillet::test {

class LogCapture {
public:
    LogCapture() {
        active = this;
        previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() {
        qInstallMessageHandler(previous);
        active = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // "<category> <level>: <text>", level being debug, info, warning or critical.
    QStringList lines;

    bool contains(const QString& line) const { return lines.contains(line); }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        static const char* const levels[] = {"debug", "warning", "critical", "fatal", "info"};
        active->lines << QStringLiteral("%1 %2: %3")
                             .arg(QLatin1String(context.category ? context.category : "default"),
                                  QLatin1String(levels[type]), text);
    }

    static inline LogCapture* active = nullptr;
    QtMessageHandler previous = nullptr;
};

}  // namespace quillet::test
