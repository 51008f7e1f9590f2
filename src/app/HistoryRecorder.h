// Writes every capture and every saved edit into the history: waits for the PNG bytes the
// clipboard side is encoding anyway, stores them, applies the retention that was in force when
// the capture was taken, and turns failures into a short text for the capture and a standing
// warning for the tray menu. Every write is tracked so quitting can wait for it.
//
//   auto recorder = std::make_shared<HistoryRecorder>(store, [&] { return settings.current().retention; });
//   connect(recorder.get(), &HistoryRecorder::failureChanged, &menu, &Menu::showHistoryWarning);
//   recorder->start();
//   coordinator.setHistory(recorder);
//   ...
//   recorder->pendingWrites().waitUntilDone(3s).then(...);   // at quit
//
// Main thread only; completions are called and failureChanged is emitted on the main thread.
#pragma once

#include "core/CapturePipeline.h"
#include "core/PNGFuture.h"
#include "core/PendingWork.h"
#include "core/Types.h"
#include "history/HistoryStoring.h"

#include <QDateTime>
#include <QFuture>
#include <QImage>
#include <QObject>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

namespace quillet {

class HistoryRecorder : public QObject, public CaptureRecording {
    Q_OBJECT
public:
    using RetentionSource = std::function<RetentionPolicy()>;
    using Clock = std::function<QDateTime()>;
    using Completion = std::function<void(Outcome)>;

    // What the user is told depends only on which of these a failure falls into.
    enum class FailureGroup {
        diskNotMounted,
        accessDenied,
        noSpace,
        notWritable,
        notADirectory,
        folderVanished,
        writeError,
    };
    static FailureGroup groupOf(const HistoryError& error);
    // The outcome of one capture that was not stored.
    static QString shortText(FailureGroup group);
    // The standing warning until a later write succeeds. It is also shown when the store finds
    // its folder gone between captures.
    static QString longText(FailureGroup group);

    // `retention` is read at each capture and at each retention run; `clock` dates them.
    HistoryRecorder(std::shared_ptr<HistoryStoring> store, RetentionSource retention,
                    Clock clock = &QDateTime::currentDateTimeUtc, QObject* parent = nullptr);
    ~HistoryRecorder() override;

    // Loads the history, then applies the retention setting; finishes when both are done. A
    // retention failure is ignored (the next save tries again).
    QFuture<void> start();

    // Stores a capture once its PNG bytes are ready. Returns at once; `completion` (may be
    // empty) is called once on the main thread.
    void record(const CapturedImage& image, const PNGFuture& png, Completion completion) override;
    // Stores an edit of the screenshot `source` as a new screenshot of kind edited.
    void recordEdited(const QImage& image, const PNGFuture& png, const QUuid& source, Completion completion);
    // Applies the current retention setting now (after the user changed it); failures are
    // ignored. The future finishes when it was applied.
    QFuture<void> applyRetentionNow();

    // Absent while the last write succeeded or none failed yet.
    const std::optional<QString>& failureMessage() const { return failure; }
    // The writes in flight; quitting waits on it.
    PendingWork& pendingWrites() { return pending; }

Q_SIGNALS:
    // Each time failureMessage really changes; any number of windows may listen.
    void failureChanged(const std::optional<QString>& message);

private:
    void write(const PNGFuture& png, PixelSize pixelSize, ScreenshotKind kind, std::optional<QUuid> source,
               Completion completion);
    // Finishes one write; returns the retention run that follows a save, or a finished future.
    QFuture<void> finishWrite(const StoredScreenshot& stored, const RetentionPolicy& policy,
                              const Completion& completion);
    QFuture<void> applyRetention(const RetentionPolicy& policy);
    void setFailureMessage(const std::optional<QString>& message);

    std::shared_ptr<HistoryStoring> store;
    RetentionSource retention;
    Clock clock;
    PendingWork pending;
    std::optional<QString> failure;
};

}  // namespace quillet
