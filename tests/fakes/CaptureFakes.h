// Hand-written fakes for the collaborators of the capture coordinator. They record every call
// in one shared journal so tests can check the order of delivery.
#pragma once

#include "core/Async.h"
#include "core/CapturePipeline.h"
#include "settings/AppSettings.h"

#include <QStringList>

#include <deque>

namespace quillet::fakes {

struct Journal {
    QStringList calls;
};

// What every journalling fake holds.
struct Journaled {
    explicit Journaled(Journal& journal) : journal(journal) {}
    Journal& journal;
};

class FakeSettings : public SettingsReading {
public:
    AppSettings settings = AppSettings::standard();
    AppSettings current() const override { return settings; }
};

class FakePermissions : public PermissionsShowing, Journaled {
public:
    using Journaled::Journaled;
    void showWindow() override { journal.calls.append(QStringLiteral("permissions")); }
};

// Each capture request gets a promise the test completes when it chooses.
class FakeCapturer : public ScreenCapturing, Journaled {
public:
    using Journaled::Journaled;

    QFuture<CaptureResult> captureFullScreen(QPointF point) override {
        fullScreenPoints << point;
        return next(QStringLiteral("captureFullScreen"));
    }
    QFuture<CaptureResult> captureRegion(QRectF rect, std::uint32_t screen) override {
        regions << qMakePair(rect, screen);
        return next(QStringLiteral("captureRegion"));
    }
    QFuture<CaptureResult> captureWindow(std::uint32_t windowID) override {
        windowIDs << windowID;
        return next(QStringLiteral("captureWindow"));
    }
    QFuture<void> warmUp() override { ++warmUps; return readyFuture(); }
    QFuture<void> refreshContent() override { ++refreshes; return readyFuture(); }
    QList<CapturableWindow> onScreenWindows(qint64 excludingProcess) override {
        excludedProcess = excludingProcess;
        return windows;
    }

    // Answers the oldest open capture request.
    void complete(CaptureResult result) {
        pending.front().finish(std::move(result));
        pending.pop_front();
    }

    QList<CapturableWindow> windows;
    QList<QPointF> fullScreenPoints;
    QList<QPair<QRectF, std::uint32_t>> regions;
    QList<std::uint32_t> windowIDs;
    qint64 excludedProcess = -1;
    int warmUps = 0;
    int refreshes = 0;

private:
    QFuture<CaptureResult> next(const QString& call) {
        journal.calls.append(call);
        pending.emplace_back();
        return pending.back().future();
    }
    std::deque<SharedPromise<CaptureResult>> pending;
};

class FakeRegionSelection : public RegionSelecting, Journaled {
public:
    using Journaled::Journaled;
    void show(const QList<CapturableWindow>& windows) override {
        journal.calls.append(QStringLiteral("overlay"));
        shownWith = windows;
    }
    QFuture<std::optional<RegionSelection>> selection() override { return answer.future(); }
    void finish(std::optional<RegionSelection> result) override {
        ++finishCalls;
        answer.finish(result);
    }
    QList<CapturableWindow> shownWith;
    int finishCalls = 0;

private:
    SharedPromise<std::optional<RegionSelection>> answer;
};

class FakeFlash : public CaptureFlashing, Journaled {
public:
    using Journaled::Journaled;
    void show(QRectF over) override { areas << over; journal.calls.append(QStringLiteral("flash")); }
    QList<QRectF> areas;
};

class FakeSounds : public SoundPlaying, Journaled {
public:
    using Journaled::Journaled;
    void playShutter() override { journal.calls.append(QStringLiteral("shutter")); }
    void beep() override {
        ++beeps;
        journal.calls.append(QStringLiteral("beep"));
    }
    int beeps = 0;
};

class FakeClipboard : public ClipboardWriting, Journaled {
public:
    using Journaled::Journaled;
    void put(const CapturedImage& image, const PNGFuture& png) override {
        images << image;
        futures << png;
        journal.calls.append(QStringLiteral("clipboard"));
    }
    void resolvePendingPromises() override {}
    QList<CapturedImage> images;
    QList<PNGFuture> futures;
};

class FakePreviews : public PreviewShowing, Journaled {
public:
    using Journaled::Journaled;
    QUuid show(const CapturedImage&, const PNGFuture& png) override {
        futures << png;
        journal.calls.append(QStringLiteral("preview"));
        shownIDs << QUuid::createUuid();
        return shownIDs.back();
    }
    void attach(const Screenshot& screenshot, const QString& fileURL, const QUuid& previewID) override {
        attached << std::make_tuple(screenshot, fileURL, previewID);
    }
    void showNotSaved(const QString& message, const QUuid& previewID) override {
        notSaved << qMakePair(message, previewID);
    }
    QList<QUuid> shownIDs;
    QList<PNGFuture> futures;
    QList<std::tuple<Screenshot, QString, QUuid>> attached;
    QList<QPair<QString, QUuid>> notSaved;
};

class FakeRecorder : public CaptureRecording, Journaled {
public:
    using Journaled::Journaled;
    void record(const CapturedImage&, const PNGFuture& png, std::function<void(Outcome)> completion) override {
        futures << png;
        completions << std::move(completion);
        journal.calls.append(QStringLiteral("history"));
    }
    QList<PNGFuture> futures;
    QList<std::function<void(Outcome)>> completions;
};

class FakeDesktop : public DesktopQuerying {
public:
    bool granted = true;
    QPointF cursor;
    QList<ScreenInfo> screenList;
    std::uint32_t mainID = 1;
    bool screenRecordingGranted() override { return granted; }
    QPointF cursorPosition() override { return cursor; }
    QList<ScreenInfo> screens() override { return screenList; }
    std::uint32_t mainDisplayID() override { return mainID; }
    qint64 processID() override { return 4242; }
};

}  // namespace quillet::fakes
