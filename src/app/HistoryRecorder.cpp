#include "app/HistoryRecorder.h"

#include "core/Async.h"
#include "core/Logging.h"

namespace quillet {

HistoryRecorder::FailureGroup HistoryRecorder::groupOf(const HistoryError& error) {
    switch (error.kind) {
    case HistoryError::Case::volumeNotMounted: return FailureGroup::diskNotMounted;
    case HistoryError::Case::volumeAccessDenied: return FailureGroup::accessDenied;
    case HistoryError::Case::notEnoughSpace: return FailureGroup::noSpace;
    case HistoryError::Case::folderNotWritable: return FailureGroup::notWritable;
    case HistoryError::Case::notADirectory: return FailureGroup::notADirectory;
    case HistoryError::Case::folderMissing: return FailureGroup::folderVanished;
    case HistoryError::Case::writeFailed:
    case HistoryError::Case::deleteFailed:
    case HistoryError::Case::invalidRetention:
    case HistoryError::Case::unreadableImage: return FailureGroup::writeError;
    }
    return FailureGroup::writeError;
}

QString HistoryRecorder::shortText(FailureGroup group) {
    switch (group) {
    case FailureGroup::diskNotMounted: return QStringLiteral("Диск с историей не подключён");
    case FailureGroup::accessDenied: return QStringLiteral("Нет доступа к диску с историей");
    case FailureGroup::noSpace: return QStringLiteral("Не сохранён в историю: нет места");
    case FailureGroup::notWritable: return QStringLiteral("Не сохранён в историю: папка закрыта для записи");
    case FailureGroup::notADirectory: return QStringLiteral("Не сохранён в историю: на месте папки — файл");
    case FailureGroup::folderVanished: return QStringLiteral("Не сохранён в историю: папка удалена");
    case FailureGroup::writeError: break;
    }
    return QStringLiteral("Не сохранён в историю: ошибка записи");
}

QString HistoryRecorder::longText(FailureGroup group) {
    switch (group) {
    case FailureGroup::diskNotMounted: return QStringLiteral("Диск с историей не подключён: снимок только в буфере");
    case FailureGroup::accessDenied:
        return QStringLiteral("Нет доступа к диску с историей (разрешение «Съёмные тома»): снимок только в буфере");
    case FailureGroup::noSpace: return QStringLiteral("Снимок в буфере, но не сохранён в историю: нет места");
    case FailureGroup::notWritable:
        return QStringLiteral("Снимок в буфере, но не сохранён в историю: папка истории закрыта для записи");
    case FailureGroup::notADirectory:
        return QStringLiteral("Снимок в буфере, но не сохранён в историю: на месте папки истории — файл");
    case FailureGroup::folderVanished:
        return QStringLiteral("Папка истории удалена вместе со снимками; следующий снимок создаст её заново");
    case FailureGroup::writeError: break;
    }
    return QStringLiteral("Снимок в буфере, но не сохранён в историю: ошибка записи");
}

HistoryRecorder::HistoryRecorder(std::shared_ptr<HistoryStoring> store, RetentionSource retention, Clock clock,
                                 QObject* parent)
    : QObject(parent), store(std::move(store)), retention(std::move(retention)), clock(std::move(clock)) {
    // The folder can go away between captures; the standing warning says so at once.
    connect(this->store.get(), &HistoryStoring::folderUnavailable, this,
            [this](const HistoryError& reason) { setFailureMessage(longText(groupOf(reason))); });
}

HistoryRecorder::~HistoryRecorder() = default;

QFuture<void> HistoryRecorder::start() {
    const RetentionPolicy policy = retention();
    SharedPromise<void> done;
    store->load().then(this, [this, policy, done]() mutable {
        applyRetention(policy).then(this, [done]() mutable { done.finish(); });
    });
    return done.future();
}

void HistoryRecorder::record(const CapturedImage& image, const PNGFuture& png, Completion completion) {
    write(png, PixelSize{image.image.width(), image.image.height()}, screenshotKind(image.kind), std::nullopt,
          std::move(completion));
}

void HistoryRecorder::recordEdited(const QImage& image, const PNGFuture& png, const QUuid& source,
                                   Completion completion) {
    write(png, PixelSize{image.width(), image.height()}, ScreenshotKind::edited, source, std::move(completion));
}

QFuture<void> HistoryRecorder::applyRetentionNow() { return applyRetention(retention()); }

void HistoryRecorder::write(const PNGFuture& png, PixelSize pixelSize, ScreenshotKind kind,
                            std::optional<QUuid> source, Completion completion) {
    // The policy in force when the capture was taken is the one applied after it is saved.
    const RetentionPolicy policy = retention();
    pending.run([this, png, pixelSize, kind, source, policy, completion = std::move(completion)] {
        SharedPromise<void> done;
        png.value().then(this, [this, pixelSize, kind, source, policy, completion, done](QByteArray bytes) mutable {
            // Empty bytes (a failed encoding) are refused by the store as an unreadable image.
            store->add(bytes, pixelSize, kind, source)
                .then(this, [this, policy, completion, done](StoredScreenshot stored) mutable {
                    finishWrite(stored, policy, completion).then(this, [done]() mutable { done.finish(); });
                });
        });
        return done.future();
    });
}

QFuture<void> HistoryRecorder::finishWrite(const StoredScreenshot& stored, const RetentionPolicy& policy,
                                           const Completion& completion) {
    if (stored) {
        setFailureMessage(std::nullopt);
        if (completion) completion(Outcome::saved(*stored, store->fileURL(*stored)));
        return applyRetention(policy);
    }
    qCCritical(lcHistory, "Снимок не записан в историю: %s", qUtf8Printable(describe(stored.error())));
    const FailureGroup group = groupOf(stored.error());
    setFailureMessage(longText(group));
    if (completion) completion(Outcome::notSaved(shortText(group)));
    return readyFuture();
}

QFuture<void> HistoryRecorder::applyRetention(const RetentionPolicy& policy) {
    // A failure is left for the next save to retry; nothing is shown for it.
    return store->applyRetention(policy, clock()).then([](const HistoryResult&) {});
}

void HistoryRecorder::setFailureMessage(const std::optional<QString>& message) {
    if (message == failure) return;
    failure = message;
    Q_EMIT failureChanged(failure);
}

}  // namespace quillet
