#include "capture/ScreenCapturer.h"

#include "capture/WindowCandidate.h"
#include "core/Async.h"
#include "core/Logging.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace quillet {

namespace {

// Half-open, as pixels are: the column at x = 1920 belongs to the display that starts there,
// not to the one that ends there.
bool containsPoint(const QRectF& rect, QPointF point) {
    return point.x() >= rect.left() && point.x() < rect.right() && point.y() >= rect.top() && point.y() < rect.bottom();
}

bool isWhole(double value) { return std::abs(value - std::round(value)) < 1e-6; }

// The snapshot of shareable content and this application's own record in it. Both fields are
// touched only under the mutex; fetches run outside it, so two fetches may overlap and the last
// one to finish leaves its snapshot.
class ShareableContentCache {
public:
    explicit ShareableContentCache(std::shared_ptr<ContentSourcing> source) : source(std::move(source)) {}

    Expected<ShareableContent, CaptureError> content(bool fresh) {
        if (!fresh) {
            std::lock_guard lock(mutex);
            if (cached) return *cached;
        }
        Expected<ShareableContent, CaptureError> fetched = source->fetchContent();
        if (fetched) {
            std::lock_guard lock(mutex);
            cached = *fetched;
        }
        return fetched;
    }

    // This application as a list of zero or one process to keep out of a display grab.
    Expected<QList<qint64>, CaptureError> ownApplications(const ShareableContent& content) {
        const qint64 own = source->processID();
        if (content.applications.contains(own)) {
            std::lock_guard lock(mutex);
            knownOwnApplication = own;
            return QList<qint64>{own};
        }
        {
            std::lock_guard lock(mutex);
            if (knownOwnApplication) return QList<qint64>{*knownOwnApplication};
        }
        // Nothing of ours on screen: nothing to keep out, and no reason to fetch again.
        if (!hasWindowsOnScreen()) return QList<qint64>{};
        const Expected<ShareableContent, CaptureError> fresh = this->content(true);
        if (!fresh) return unexpected(fresh.error());
        std::lock_guard lock(mutex);
        knownOwnApplication = fresh->applications.contains(own) ? std::optional<qint64>(own) : std::nullopt;
        return knownOwnApplication ? QList<qint64>{own} : QList<qint64>{};
    }

    // The displays changed: the next capture fetches them anew. Our own record stays valid.
    void clear() {
        std::lock_guard lock(mutex);
        cached.reset();
    }

private:
    bool hasWindowsOnScreen() {
        const std::optional<QList<WindowInfo>> list = source->windowList();
        if (!list) return true;  // unknown: better fetch once more than leave ours in a capture
        const qint64 own = source->processID();
        return std::any_of(list->begin(), list->end(),
                           [own](const WindowInfo& window) { return window.processID == own; });
    }

    std::shared_ptr<ContentSourcing> source;
    std::mutex mutex;
    std::optional<ShareableContent> cached;
    std::optional<qint64> knownOwnApplication;
};

// `area` (global display space) cut from the frozen displays and brought to `size` pixels, or
// nothing when no frozen display covers any of it.
std::optional<QImage> cutFromFrozen(const QList<FrozenDisplay>& frozen, const QRectF& area, QSize size) {
    QList<const FrozenDisplay*> covering;
    for (const FrozenDisplay& display : frozen) {
        if (!display.image.isNull() && display.display.bounds.intersects(area)) covering << &display;
    }
    if (covering.isEmpty()) return std::nullopt;

    if (covering.size() == 1 && covering.front()->display.bounds.contains(area)) {
        const FrozenDisplay& display = *covering.front();
        const double scale = display.display.scale;
        const QRectF source((area.topLeft() - display.display.bounds.topLeft()) * scale, area.size() * scale);
        // The usual case (whole points at a whole scale) is an exact copy of the pixels.
        if (isWhole(source.x()) && isWhole(source.y()) && qRound(source.width()) == size.width() &&
            qRound(source.height()) == size.height()) {
            return display.image.copy(QRect(qRound(source.x()), qRound(source.y()), size.width(), size.height()));
        }
    }

    QImage image(size, covering.front()->image.format());
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const double sx = size.width() / area.width();
    const double sy = size.height() / area.height();
    for (const FrozenDisplay* display : covering) {
        const QRectF part = area.intersected(display->display.bounds);
        const double scale = display->display.scale;
        const QRectF source((part.topLeft() - display->display.bounds.topLeft()) * scale, part.size() * scale);
        const QRectF target((part.x() - area.x()) * sx, (part.y() - area.y()) * sy, part.width() * sx,
                            part.height() * sy);
        painter.drawImage(target, display->image, source);
    }
    return image;
}

}  // namespace

struct ScreenCapturer::State {
    explicit State(std::shared_ptr<ContentSourcing> contentSource) : source(contentSource), cache(contentSource) {}

    CaptureResult captureFullScreen(QPointF point) {
        const Expected<ShareableContent, CaptureError> content = cache.content(false);
        if (!content) return unexpected(content.error());
        const ShareableDisplay* chosen = nullptr;
        for (const ShareableDisplay& display : content->displays) {
            if (containsPoint(display.bounds, point)) {
                chosen = &display;
                break;
            }
        }
        if (!chosen) chosen = displayWithID(*content, source->mainDisplayID());
        if (!chosen) return unexpected(CaptureError::displayNotFound);
        return captureDisplay(*chosen, std::nullopt, *content, CaptureKind::fullScreen, {});
    }

    CaptureResult captureRegion(QRectF rect, std::uint32_t screen, const QList<FrozenDisplay>& frozen) {
        const Expected<ShareableContent, CaptureError> content = cache.content(false);
        if (!content) return unexpected(content.error());
        const ShareableDisplay* display = displayWithID(*content, screen);
        if (!display) return unexpected(CaptureError::displayNotFound);
        return captureDisplay(*display, rect, *content, CaptureKind::region, frozen);
    }

    CaptureResult captureWindow(std::uint32_t windowID, const QList<FrozenDisplay>& frozen) {
        Expected<ShareableContent, CaptureError> content = cache.content(false);
        if (!content) return unexpected(content.error());
        const auto hasWindow = [windowID](const ShareableContent& snapshot) {
            return std::any_of(snapshot.windows.begin(), snapshot.windows.end(),
                               [windowID](const ShareableWindow& window) { return window.id == windowID; });
        };
        // A window opened after the last fetch: one fresh fetch before giving up.
        if (!hasWindow(*content)) {
            content = cache.content(true);
            if (!content) return unexpected(content.error());
        }
        const auto window = std::find_if(content->windows.begin(), content->windows.end(),
                                         [windowID](const ShareableWindow& entry) { return entry.id == windowID; });
        if (window == content->windows.end()) return unexpected(CaptureError::windowNotFound);

        const QRectF frame = window->frame;
        const ShareableDisplay* display = nullptr;
        for (const ShareableDisplay& candidate : content->displays) {
            if (containsPoint(candidate.bounds, frame.center())) {
                display = &candidate;
                break;
            }
        }
        const std::uint32_t screenID = display ? display->id : source->mainDisplayID();
        if (!display) display = displayWithID(*content, screenID);
        const CaptureConfiguration configuration = makeConfiguration(frame.size(), display ? display->scale : 1.0);
        const QSize size(configuration.width, configuration.height);

        if (std::optional<QImage> image = cutFromFrozen(frozen, frame, size)) {
            return CapturedImage{*image, screenID, CaptureKind::window};
        }
        // X11 gives a window's pixels as the part of the screen it covers, so our own windows
        // are kept out here too.
        const Expected<QList<qint64>, CaptureError> own = cache.ownApplications(*content);
        if (!own) return unexpected(own.error());
        return grabOne(GrabArea{frame, size}, *own, screenID, CaptureKind::window);
    }

    void warmUp() {
        const Expected<ShareableContent, CaptureError> content = cache.content(true);
        if (!content) return;
        const ShareableDisplay* display = displayWithID(*content, source->mainDisplayID());
        if (!display && !content->displays.isEmpty()) display = &content->displays.front();
        if (!display) return;
        // One pixel, so the first real capture does not pay for setting the grab up.
        (void)source->grab({GrabArea{QRectF(display->bounds.topLeft(), QSizeF(1, 1)), QSize(1, 1)}}, {});
    }

    CaptureResult captureDisplay(const ShareableDisplay& display, std::optional<QRectF> sourceRect,
                                 const ShareableContent& content, CaptureKind kind, const QList<FrozenDisplay>& frozen) {
        CaptureConfiguration configuration =
            makeConfiguration(sourceRect ? sourceRect->size() : display.bounds.size(), display.scale);
        configuration.sourceRect = sourceRect;
        const QRectF area = sourceRect ? sourceRect->translated(display.bounds.topLeft()) : display.bounds;
        const QSize size(configuration.width, configuration.height);
        if (std::optional<QImage> image = cutFromFrozen(frozen, area, size)) {
            return CapturedImage{*image, display.id, kind};
        }
        const Expected<QList<qint64>, CaptureError> own = cache.ownApplications(content);
        if (!own) return unexpected(own.error());
        return grabOne(GrabArea{area, size}, *own, display.id, kind);
    }

    CaptureResult grabOne(const GrabArea& area, const QList<qint64>& excluded, std::uint32_t screenID,
                          CaptureKind kind) {
        const Expected<QList<QImage>, CaptureError> images = source->grab({area}, excluded);
        if (!images) return unexpected(images.error());
        if (images->isEmpty() || images->front().isNull()) return unexpected(CaptureError::grabFailed);
        return CapturedImage{images->front(), screenID, kind};
    }

    static const ShareableDisplay* displayWithID(const ShareableContent& content, std::uint32_t id) {
        for (const ShareableDisplay& display : content.displays) {
            if (display.id == id) return &display;
        }
        return nullptr;
    }

    std::shared_ptr<ContentSourcing> source;
    ShareableContentCache cache;
    QList<FrozenDisplay> frozen;  // main thread only
};

ScreenCapturer::ScreenCapturer(std::shared_ptr<ContentSourcing> source) : state(std::make_shared<State>(std::move(source))) {
    std::weak_ptr<State> weak = state;
    state->source->setOnDisplaysChange([weak] {
        if (auto alive = weak.lock()) alive->cache.clear();
    });
}

ScreenCapturer::~ScreenCapturer() { state->source->setOnDisplaysChange({}); }

QFuture<CaptureResult> ScreenCapturer::captureFullScreen(QPointF point) {
    return runInBackground([state = state, point] { return state->captureFullScreen(point); });
}

QFuture<CaptureResult> ScreenCapturer::captureRegion(QRectF rect, std::uint32_t screen) {
    // The frozen frame belongs to the selection that was just made; taking it now means a later
    // capture can never be cut from a stale one.
    return runInBackground([state = state, rect, screen, frozen = std::exchange(state->frozen, {})] {
        return state->captureRegion(rect, screen, frozen);
    });
}

QFuture<CaptureResult> ScreenCapturer::captureWindow(std::uint32_t windowID) {
    return runInBackground([state = state, windowID, frozen = std::exchange(state->frozen, {})] {
        return state->captureWindow(windowID, frozen);
    });
}

QFuture<void> ScreenCapturer::warmUp() {
    return runInBackground([state = state] { state->warmUp(); });
}

QFuture<void> ScreenCapturer::refreshContent() {
    return runInBackground([state = state] { (void)state->cache.content(true); });
}

QList<CapturableWindow> ScreenCapturer::onScreenWindows(qint64 excludingProcess) {
    return quillet::onScreenWindows(*state->source, excludingProcess);
}

QList<FrozenDisplay> ScreenCapturer::freeze() {
    state->frozen.clear();
    const QList<ShareableDisplay> displays = state->source->displays();
    QList<GrabArea> areas;
    for (const ShareableDisplay& display : displays) {
        const CaptureConfiguration configuration = makeConfiguration(display.bounds.size(), display.scale);
        areas << GrabArea{display.bounds, QSize(configuration.width, configuration.height)};
    }
    if (areas.isEmpty()) return {};
    // Called on the main thread just before the overlay maps, so it must not wait for a content
    // fetch: our process is always left out, which costs nothing when none of its windows shows.
    const Expected<QList<QImage>, CaptureError> images = state->source->grab(areas, {state->source->processID()});
    if (!images || images->size() != displays.size()) {
        qCWarning(lcCapture) << "the screen could not be frozen for the overlay; selections are grabbed live";
        return {};
    }
    for (qsizetype i = 0; i < displays.size(); ++i) state->frozen << FrozenDisplay{displays[i], (*images)[i]};
    return state->frozen;
}

void ScreenCapturer::thaw() { state->frozen.clear(); }

CaptureConfiguration ScreenCapturer::makeConfiguration(QSizeF size, double scale) {
    const auto pixels = [scale](double points) {
        const double rounded = std::round(points * scale);  // halves away from zero
        return rounded >= 1.0 ? static_cast<int>(std::min(rounded, 1.0e9)) : 1;
    };
    return CaptureConfiguration{pixels(size.width()), pixels(size.height()), std::nullopt};
}

}  // namespace quillet
