#include "history/RetentionPolicy.h"

#include <QtNumeric>

namespace quillet {

bool isValid(const RetentionPolicy& policy) {
    const auto count = policy.dayCountValue();
    return !count || (*count >= RetentionPolicy::allowedDaysMin && *count <= RetentionPolicy::allowedDaysMax);
}

std::optional<QDateTime> cutoff(const RetentionPolicy& policy, const QDateTime& now) {
    const auto count = policy.dayCountValue();
    if (!count) return std::nullopt;
    qint64 seconds = 0;
    // Only an invalid policy can be this large; it has no meaningful cut-off.
    if (qMulOverflow<qint64>(*count, 86400, &seconds)) return std::nullopt;
    return now.toUTC().addSecs(-seconds);
}

}  // namespace quillet
