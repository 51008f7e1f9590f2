// A hand-written history store for unit tests of its users: every add and every move waits until
// the test answers it (or answers at once with `autoAnswer`), and every call is recorded.
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
    };

    QFuture<StoredScreenshot> add(const QImage& image, ScreenshotKind kind, std::optional<QUuid> source) override {
        return add(QByteArray("encoded"), PixelSize{image.width(), image.height()}, kind, source);
    }
    QFuture<StoredScreenshot> add(const QByteArray& png, PixelSize pixelSize, ScreenshotKind kind,
                                  std::optional<QUuid> source) override {
        adds.push_back(Add{png, pixelSize, kind, source, {}});
        QFuture<StoredScreenshot> future = adds.back().answer.future();
        if (autoAnswer) adds.back().answer.finish(autoAnswer(adds.back()));
        return future;
    }
    // Answers the add `n` with success: a screenshot made from what was handed in.
    void succeed(std::size_t n) { adds.at(n).answer.finish(StoredScreenshot(screenshotFor(adds.at(n)))); }
    void fail(std::size_t n, const HistoryError& error) { adds.at(n).answer.finish(StoredScreenshot(unexpected(error))); }

    static Screenshot screenshotFor(const Add& call) {
        return Screenshot{QUuid::createUuid(), QDateTime::fromSecsSinceEpoch(1741345509, QTimeZone::utc()), call.kind,
                          call.pixelSize, QStringLiteral("Quillet 2025-03-07 в 14.05.09.png"), call.source};
    }

    QList<Screenshot> all() const override { return {}; }
    QString fileURL(const Screenshot& screenshot) const override {
        return QStringLiteral("/history/") + screenshot.fileName;
    }
    QFuture<std::optional<QImage>> thumbnail(const Screenshot&, int, const CancellationToken& = {}) override {
        return readyFuture(std::optional<QImage>());
    }
    QFuture<void> load() override {
        calls << QStringLiteral("load");
        return loadAnswer.future();
    }
    QFuture<HistoryResult> deleteScreenshot(const QUuid&) override { return readyFuture(HistoryResult()); }
    QFuture<HistoryResult> applyRetention(const RetentionPolicy& policy, const QDateTime& now) override {
        calls << QStringLiteral("applyRetention");
        retentions.push_back({policy, now});
        return readyFuture(retentionResult);
    }

    // The store's move of the whole history into another folder and its count of what a
    // retention would delete; the settings window reaches both through the delegate.
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
    std::function<StoredScreenshot(const Add&)> autoAnswer;
    std::vector<Retention> retentions;
    HistoryResult retentionResult;
    SharedPromise<void> loadAnswer;
    QStringList calls;
};

}  // namespace quillet::fakes
