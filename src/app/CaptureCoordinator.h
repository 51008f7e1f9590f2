// Runs one capture from the request (a double press or a menu item) until the image has reached
// every consumer: flash, clipboard, preview, history, shutter sound, in that order. It keeps at
// most one region overlay open, checks the screen-recording permission, and beeps and logs when
// a capture fails. It captures, encodes, stores and draws nothing itself.
//
//   CaptureCoordinator coordinator(services);
//   coordinator.setPreviews(previews);
//   coordinator.captureRegion();   // returns at once; the capture finishes asynchronously
//
// Main thread only.
#pragma once

#include "core/CapturePipeline.h"
#include "core/Signposts.h"
#include "settings/AppSettings.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

namespace quillet {

class CaptureCoordinator : public QObject {
    Q_OBJECT
public:
    struct Services {
        SettingsReading& settings;
        PermissionsShowing& permissions;
        ScreenCapturing& capturer;
        ClipboardWriting& clipboard;
        DesktopQuerying& desktop;
        CaptureFlashing& flash;
        SoundPlaying& sounds;
        RegionSelectionFactory makeRegionSelection;
    };

    explicit CaptureCoordinator(Services services, QObject* parent = nullptr);

    void captureRegion();
    void captureFullScreen();
    // Prepares the capturer in the background when screen recording is already granted.
    void warmUp();

    // Absent recorder: captures are not recorded. Absent previews: no preview.
    void setHistory(std::shared_ptr<CaptureRecording> recorder) { history = std::move(recorder); }
    void setPreviews(std::shared_ptr<PreviewShowing> stack) { previews = std::move(stack); }

    bool isSelecting() const { return regionSelection != nullptr; }

    // Called after every capture that reached its consumers; may be empty.
    std::function<void()> onDelivered;

private:
    void regionSelected(const std::shared_ptr<RegionSelecting>& controller, const std::optional<RegionSelection>& selection,
                        const QList<CapturableWindow>& windows);
    void deliver(const CapturedImage& image, std::optional<QRectF> flashArea, const MeasuredInterval& toReady);
    void fail(CaptureError error, const char* text);

    Services services;
    std::shared_ptr<RegionSelecting> regionSelection;  // present while an overlay is open
    std::shared_ptr<CaptureRecording> history;
    std::shared_ptr<PreviewShowing> previews;
};

}  // namespace quillet
