#include "core/Signposts.h"

#include "core/Logging.h"

namespace quillet {

MeasuredInterval Signposts::begin(const char* name) { return MeasuredInterval(name, std::chrono::steady_clock::now()); }

QString Signposts::intervalMessage(const char* name, std::chrono::nanoseconds elapsed) {
    const double milliseconds = std::chrono::duration<double, std::milli>(elapsed).count();
    return QStringLiteral("interval %1 ms=%2").arg(QLatin1String(name), QString::number(milliseconds, 'f', 1));
}

void MeasuredInterval::end() const {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (lcLatency().isInfoEnabled()) qCInfo(lcLatency).noquote() << Signposts::intervalMessage(name, elapsed);
}

}  // namespace quillet
