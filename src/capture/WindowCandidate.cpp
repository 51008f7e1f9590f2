#include "capture/WindowCandidate.h"

namespace quillet {

std::optional<CapturableWindow> capturableWindow(const WindowCandidate& candidate, const QList<QRectF>& screens) {
    if (candidate.layer != 0) return std::nullopt;
    if (!(candidate.alpha > 0.0)) return std::nullopt;
    if (candidate.frame.width() < minimumWindowSide || candidate.frame.height() < minimumWindowSide) return std::nullopt;
    if (!candidate.title || candidate.title->isEmpty()) {
        // An untitled window over a whole display is a backdrop or a shield, not something the
        // user means to pick.
        for (const QRectF& screen : screens) {
            if (candidate.frame.contains(screen)) return std::nullopt;
        }
    }
    return CapturableWindow{candidate.id, candidate.frame};
}

QList<CapturableWindow> onScreenWindows(ContentSourcing& source, qint64 excludingProcess) {
    const std::optional<QList<WindowInfo>> list = source.windowList();
    if (!list) return {};
    QList<QRectF> screens;
    for (const ShareableDisplay& display : source.displays()) screens << display.bounds;

    QList<CapturableWindow> windows;
    for (const WindowInfo& info : *list) {
        if (info.processID && *info.processID == excludingProcess) continue;
        if (!info.frame) continue;
        const WindowCandidate candidate{info.id, info.layer.value_or(0), info.alpha.value_or(1.0), info.title,
                                        *info.frame};
        if (auto window = capturableWindow(candidate, screens)) windows << *window;
    }
    return windows;
}

}  // namespace quillet
