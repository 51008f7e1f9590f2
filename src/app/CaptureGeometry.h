// Conversions between the capture's global display space (origin at the top-left of the main
// display, y downward) and the platform's global screen space that windows are placed in. On
// X11 both are Qt's global coordinates, so the flips are the identity; they stay named
// functions so a y-up platform plugs its flip in here and nowhere else.
#pragma once

#include "core/CapturePipeline.h"

#include <QList>
#include <QPointF>
#include <QRectF>

#include <optional>

namespace quillet::CaptureGeometry {

// The pointer, given in screen space, in global display space.
QPointF cursorInDisplayCoordinates(QPointF pointer, const QList<ScreenInfo>& screens);

// The screen-space frame of the display `id`; a display the platform lists without an
// identifier counts as the main display.
std::optional<QRectF> screenFrame(std::uint32_t id, const QList<ScreenInfo>& screens, std::uint32_t mainDisplayID);

// A window frame in global display space, in screen space.
QRectF windowFrameInScreenSpace(QRectF frame, const QList<ScreenInfo>& screens);

// A display-local rectangle on the display whose screen-space frame is `displayFrame`.
QRectF regionInScreenSpace(QRectF rect, QRectF displayFrame);

}  // namespace quillet::CaptureGeometry
