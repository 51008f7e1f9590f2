// A history store for unit tests of its users: every call is recorded, every add and move waits
// for the test's answer, and the list is whatever the test puts in `items`. Thumbnails and deletes
// answer at once unless the test holds them (`holdThumbnails`, `holdDeletes`) to answer later.
#pragma once

#include "core/Async.h"
#include "history/HistoryStoring.h"

#include <QHash>
#include <QTimeZone>

#include <deque>
#include <functional>

namespace quillet::fakes {

class FakeHistoryStore : public HistoryStoring {
public:
    struct Add {
        QByteArray png;
        PixelSize pixelSize;
        ScreenshotKind kind = ScreenshotKind::region;
        std::optional<QUuid> source;
        SharedPromise<StoredScreenshot> answer;
    };
    struct Retention {
        RetentionPolicy policy;
        QDateTime now;
        friend bool operator==(const Retention&, const Retention&) = default;
    };

    QFuture<StoredScreenshot> add(const QImage& image, ScreenshotKind kind, std::optional<QUuid> source) override {
        return add(QByteArray("encoded"), PixelSize{image.width(), image.height()}, kind, source);
    }
    QFuture<StoredScreenshot> add(const QByteArray& png, PixelSize pixelSize, ScreenshotKind kind,
                                  std::optional<QUuid> source) override {
        adds.push_back(Add{png, pixelSize, kind, source, {}});
        return adds.back().answer.future();
    }
    // Answers the add `n` with success: a screenshot made from what was handed in.
    void succeed(std::size_t n) {
        Add& call = adds.at(n);
        const Screenshot stored{QUuid::createUuid(), QDateTime::fromSecsSinceEpoch(1741345509, QTimeZone::utc()), call.kind,
                                call.pixelSize, QStringLiteral("Quillet 2025-03-07 в 14.05.09.png"), call.source};
        call.answer.finish(StoredScreenshot(stored));
    }
    void fail(std::size_t n, const HistoryError& error) { adds.at(n).answer.finish(StoredScreenshot(unexpected(error))); }

    struct ThumbnailRequest {
        Screenshot screenshot;
        int maxPixel = 0;
        CancellationToken cancel;
        SharedPromise<std::optional<QImage>> answer;
    };
    struct Delete {
        QUuid id;
        SharedPromise<HistoryResult> answer;
    };

    QList<Screenshot> all() const override { return items; }
    QString fileURL(const Screenshot& screenshot) const override {
        return folder + QLatin1Char('/') + screenshot.fileName;
    }
    QFuture<std::optional<QImage>> thumbnail(const Screenshot& screenshot, int maxPixel,
                                             const CancellationToken& cancel = {}) override {
        thumbnailRequests.push_back(ThumbnailRequest{screenshot, maxPixel, cancel, {}});
        QFuture<std::optional<QImage>> future = thumbnailRequests.back().answer.future();
        if (!holdThumbnails) answerThumbnail(thumbnailRequests.size() - 1);
        return future;
    }
    // Answers thumbnail request `n` with `makeThumbnail`'s image (none without it), even when
    // it was cancelled: a slow store may answer after the asker moved on.
    void answerThumbnail(std::size_t n) {
        ThumbnailRequest& request = thumbnailRequests.at(n);
        request.answer.finish(makeThumbnail ? makeThumbnail(request.screenshot) : std::optional<QImage>());
    }
    QFuture<void> load() override {
        calls << QStringLiteral("load");
        return loadAnswer.future();
    }
    QFuture<HistoryResult> deleteScreenshot(const QUuid& id) override {
        deletes.push_back(Delete{id, {}});
        QFuture<HistoryResult> future = deletes.back().answer.future();
        if (!holdDeletes) answerDelete(deletes.size() - 1, HistoryResult());
        return future;
    }
    // Answers delete `n`; a success takes the item out of `items` and signals the change.
    void answerDelete(std::size_t n, const HistoryResult& result) {
        if (result) {
            const QUuid id = deletes.at(n).id;
            items.removeIf([&](const Screenshot& item) { return item.id == id; });
            Q_EMIT historyDidChange();
        }
        deletes.at(n).answer.finish(result);
    }
    void releaseThumbnailMemory() override { calls << QStringLiteral("releaseThumbnailMemory"); }
    QFuture<HistoryResult> applyRetention(const RetentionPolicy& policy, const QDateTime& now) override {
        calls << QStringLiteral("applyRetention");
        retentions.push_back({policy, now});
        return readyFuture(retentionResult);
    }

    QString folder = QStringLiteral("/history");
    QList<Screenshot> items;
    std::deque<ThumbnailRequest> thumbnailRequests;
    std::function<std::optional<QImage>(const Screenshot&)> makeThumbnail;
    bool holdThumbnails = false;
    std::deque<Delete> deletes;
    bool holdDeletes = false;
    // The move of the whole history and the count of what a retention would delete.
    struct Relocation {
        QString folder;
        SharedPromise<HistoryResult> answer;
    };
    QFuture<HistoryResult> relocate(const QString& folder) {
        relocations.push_back(Relocation{folder, {}});
        return relocations.back().answer.future();
    }
    qint64 expiredCount(const RetentionPolicy& policy) const {
        expiredCountAsked.push_back(policy);
        return expired.value(policy, 0);
    }

    std::deque<Add> adds;
    std::deque<Relocation> relocations;
    QHash<RetentionPolicy, qint64> expired;  // what expiredCount answers; 0 when not listed
    mutable std::vector<RetentionPolicy> expiredCountAsked;
    std::vector<Retention> retentions;
    HistoryResult retentionResult;
    SharedPromise<void> loadAnswer;
    QStringList calls;
};

}  // namespace quillet::fakes
