#include "e2e/harness/Xvfb.h"

#include <QDeadlineTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <sys/prctl.h>

namespace quillet::e2e {

using namespace std::chrono_literals;

void dieWithParent(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

Xvfb::Xvfb() = default;

Xvfb::~Xvfb() { stop(); }

bool Xvfb::start(QSize size, const QStringList& extraArguments) {
    stop();
    process = std::make_unique<QProcess>();
    dieWithParent(*process);
    const QString screen = QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height());
    // -displayfd 1: Xvfb picks a free display number and writes it to its standard output.
    process->start(QStringLiteral("Xvfb"),
                   words(QStringLiteral("-displayfd 1 -noreset -nolisten tcp -screen 0")) << screen << extraArguments);
    if (!process->waitForStarted(10000)) return false;
    QByteArray out;
    QDeadlineTimer deadline(20s);
    while (!out.contains('\n') && !deadline.hasExpired()) {
        process->waitForReadyRead(100);
        out += process->readAllStandardOutput();
        if (process->state() == QProcess::NotRunning) break;
    }
    if (!out.contains('\n')) {
        std::fprintf(stderr, "Xvfb did not start: %s\n", process->readAllStandardError().constData());
        return false;
    }
    displayName = QStringLiteral(":") + QString::fromLatin1(out.trimmed());
    return true;
}

void Xvfb::stop() {
    if (!process) return;
    process->terminate();
    if (!process->waitForFinished(3000)) process->kill();
    process->waitForFinished(3000);
    process.reset();
    displayName.clear();
}

}  // namespace quillet::e2e
