// Which windows of the on-screen list the region overlay lets the user pick with a click.
// A candidate is refused when it is not on the ordinary application layer, fully transparent,
// smaller than 40 × 40 points, or untitled and covering a whole display (backdrops, shields):
//
//   capturableWindow({.id = 7, .layer = 0, .alpha = 1, .title = "Терминал",
//                     .frame = QRectF(10, 10, 640, 480)}, displayBounds)   // accepted
//
// onScreenWindows() applies the rule to the platform's list, front-most first.
#pragma once

#include "capture/ContentSourcing.h"
#include "core/CapturePipeline.h"

#include <QList>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <optional>

namespace quillet {

struct WindowCandidate {
    std::uint32_t id = 0;
    int layer = 0;
    double alpha = 1.0;
    std::optional<QString> title;
    QRectF frame;  // global display space
};

inline constexpr double minimumWindowSide = 40.0;

// The capturable window made of `candidate`, or nothing when the rule refuses it; `screens`
// are the bounds of all active displays in global display space.
std::optional<CapturableWindow> capturableWindow(const WindowCandidate& candidate, const QList<QRectF>& screens);

// The capturable windows on screen, front-most first, without any window of process
// `excludingProcess`. An unreadable window list gives an empty list.
QList<CapturableWindow> onScreenWindows(ContentSourcing& source, qint64 excludingProcess);

}  // namespace quillet
