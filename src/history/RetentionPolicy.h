// The two rules the history attaches to RetentionPolicy: which policies are valid, and where
// the cut-off lies. The cut-off is plain arithmetic on the instant — n × 86 400 seconds before
// now, no calendar, no time zone — so a daylight-saving change never moves it.
//
//   cutoff(RetentionPolicy::days(7), now)   // now − 604 800 s; an item older than that expires
#pragma once

#include "core/Types.h"

#include <QDateTime>

#include <optional>

namespace quillet {

// `forever`, or `days(n)` with n in 1…365.
bool isValid(const RetentionPolicy& policy);

// The instant before which a screenshot is expired (strictly earlier); none for `forever`.
std::optional<QDateTime> cutoff(const RetentionPolicy& policy, const QDateTime& now);

}  // namespace quillet
