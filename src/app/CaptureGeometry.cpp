#include "app/CaptureGeometry.h"

namespace quillet::CaptureGeometry {

QPointF cursorInDisplayCoordinates(QPointF pointer, const QList<ScreenInfo>&) {
    // Qt's screen space is already top-left based with y downward.
    return pointer;
}

std::optional<QRectF> screenFrame(std::uint32_t id, const QList<ScreenInfo>& screens, std::uint32_t mainDisplayID) {
    for (const ScreenInfo& screen : screens) {
        if (screen.id.value_or(mainDisplayID) == id) return screen.frame;
    }
    return std::nullopt;
}

QRectF windowFrameInScreenSpace(QRectF frame, const QList<ScreenInfo>&) { return frame; }

QRectF regionInScreenSpace(QRectF rect, QRectF displayFrame) { return rect.translated(displayFrame.topLeft()); }

}  // namespace quillet::CaptureGeometry
