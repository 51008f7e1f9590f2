// The operations through which the capture coordinator reaches its collaborators: the screen
// capturer, the region overlay, the flash and sounds, the clipboard, the preview stack, the
// history recorder, the permissions guide and the desktop itself. Each is a small interface so
// the coordinator can be exercised against fakes; the real ones live in their own modules, the
// platform target and the application shell. Everything here is called on the main thread.
#pragma once

#include "core/Expected.h"
#include "core/PNGFuture.h"
#include "core/Types.h"

#include <QFuture>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace quillet {

// A window the user may pick in the region overlay; `frame` is in global display space
// (origin at the top-left of the main display, y downward, logical pixels).
struct CapturableWindow {
    std::uint32_t id = 0;
    QRectF frame;
    friend bool operator==(const CapturableWindow&, const CapturableWindow&) = default;
};

// What the region overlay answers: a rectangle with whole-number coordinates in the local space
// of display `screen`, or a window the user clicked. Cancelling is "no value" (std::nullopt).
struct RegionSelection {
    enum class Case { rect, window };

    static RegionSelection rectangle(const QRectF& rect, std::uint32_t screen) { return {Case::rect, rect, screen, 0}; }
    static RegionSelection window(std::uint32_t windowID) { return {Case::window, {}, 0, windowID}; }

    Case kind = Case::rect;
    QRectF rect;
    std::uint32_t screen = 0;
    std::uint32_t windowID = 0;

    friend bool operator==(const RegionSelection&, const RegionSelection&) = default;
};

// What one history write reports.
struct Outcome {
    enum class Case { saved, notSaved };

    static Outcome saved(const Screenshot& screenshot, const QString& fileURL) {
        return {Case::saved, screenshot, fileURL, {}};
    }
    static Outcome notSaved(const QString& message) { return {Case::notSaved, {}, {}, message}; }

    Case kind = Case::notSaved;
    Screenshot screenshot;  // saved: the stored record
    QString fileURL;        // saved: path of its PNG file in the history folder
    QString message;        // notSaved: short user-visible text saying why

    friend bool operator==(const Outcome&, const Outcome&) = default;
};

enum class CaptureError { displayNotFound, windowNotFound, grabFailed };

// The user-visible description that the failure log line carries.
QString describe(CaptureError error);

using CaptureResult = Expected<CapturedImage, CaptureError>;

// Produces images of a display, a rectangle of one display, or one window. The futures finish
// on the main thread's side with a value (never cancelled).
class ScreenCapturing {
public:
    virtual ~ScreenCapturing() = default;
    // The whole display containing `point` (global display space); kind fullScreen.
    virtual QFuture<CaptureResult> captureFullScreen(QPointF point) = 0;
    // `rect` in the local space of display `screen`; kind region.
    virtual QFuture<CaptureResult> captureRegion(QRectF rect, std::uint32_t screen) = 0;
    // That window alone; kind window.
    virtual QFuture<CaptureResult> captureWindow(std::uint32_t windowID) = 0;

    // Prepare and refresh the cached list of displays and windows; they never fail.
    virtual QFuture<void> warmUp() = 0;
    virtual QFuture<void> refreshContent() = 0;
    // The windows on screen, front-most first, without any window of process `excludingProcess`.
    virtual QList<CapturableWindow> onScreenWindows(qint64 excludingProcess) = 0;
};

// One region overlay, for one region capture.
class RegionSelecting {
public:
    virtual ~RegionSelecting() = default;
    // When this returns the overlay is visible on every display.
    virtual void show(const QList<CapturableWindow>& windowsUnderCursor) = 0;
    // Finishes once, with the user's choice or no value when cancelled.
    virtual QFuture<std::optional<RegionSelection>> selection() = 0;
    // Closes the overlay and answers selection() with `result`; later calls do nothing.
    virtual void finish(std::optional<RegionSelection> result) = 0;
    // Calls `painted` once the overlay's first frame under the pointer has reached the screen
    // (at once for an overlay that draws nothing of its own).
    virtual void whenFirstFramePainted(std::function<void()> painted) { painted(); }
};
using RegionSelectionFactory = std::function<std::shared_ptr<RegionSelecting>()>;

// A short flash over an area in the platform's global screen space; it removes itself.
class CaptureFlashing {
public:
    virtual ~CaptureFlashing() = default;
    virtual void show(QRectF over) = 0;
};

class SoundPlaying {
public:
    virtual ~SoundPlaying() = default;
    virtual void playShutter() = 0;
    virtual void beep() = 0;
};

class ClipboardWriting {
public:
    virtual ~ClipboardWriting() = default;
    // Replaces the clipboard's contents with `image`, whose bytes may be supplied later.
    virtual void put(const CapturedImage& image, const PNGFuture& png) = 0;
    // If the clipboard still holds the last image put there and its bytes are still owed,
    // supplies them now (at quit).
    virtual void resolvePendingPromises() = 0;
};

class PreviewShowing {
public:
    virtual ~PreviewShowing() = default;
    virtual QUuid show(const CapturedImage& image, const PNGFuture& png) = 0;
    // An id that no preview has is ignored.
    virtual void attach(const Screenshot& screenshot, const QString& fileURL, const QUuid& previewID) = 0;
    virtual void showNotSaved(const QString& message, const QUuid& previewID) = 0;
};

class CaptureRecording {
public:
    virtual ~CaptureRecording() = default;
    // Returns at once; `completion` (may be empty) is called exactly once on the main thread.
    virtual void record(const CapturedImage& image, const PNGFuture& png, std::function<void(Outcome)> completion) = 0;
};

class PermissionsShowing {
public:
    virtual ~PermissionsShowing() = default;
    virtual void showWindow() = 0;
};

// One display as the platform lists it: its identifier (absent when the platform does not
// say) and its frame in the platform's global screen space.
struct ScreenInfo {
    std::optional<std::uint32_t> id;
    QRectF frame;
};

// What the coordinator asks of the desktop directly.
class DesktopQuerying {
public:
    virtual ~DesktopQuerying() = default;
    virtual bool screenRecordingGranted() = 0;
    // The pointer in the platform's global screen space.
    virtual QPointF cursorPosition() = 0;
    // The displays; the first one is the main display.
    virtual QList<ScreenInfo> screens() = 0;
    virtual std::uint32_t mainDisplayID() = 0;
    virtual qint64 processID() = 0;
};

}  // namespace quillet
