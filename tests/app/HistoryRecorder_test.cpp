// The recorder between the capture flow and the history: what one write reports, the standing
// warning and when it is announced, retention after a save, the writes quitting waits for, and
// a real store refusing empty PNG bytes and keeping an edit's source.
#include "app/HistoryRecorder.h"

#include "core/ImageCodec.h"
#include "fakes/FakeHistoryStore.h"
#include "history/HistoryStore.h"
#include "support/LogCapture.h"
#include "support/TestFiles.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace quillet;
using namespace quillet::fakes;

namespace {

QImage picture(int width = 40, int height = 30) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return image;
}

QDateTime fixedNow() { return QDateTime::fromSecsSinceEpoch(1741345509, QTimeZone::utc()); }

const QString writeErrorShort = QStringLiteral("Не сохранён в историю: ошибка записи");
const QString writeErrorLong = QStringLiteral("Снимок в буфере, но не сохранён в историю: ошибка записи");
const QString folderVanished =
    QStringLiteral("Папка истории удалена вместе со снимками; следующий снимок создаст её заново");

class HistoryRecorderTest : public ::testing::Test {
protected:
    HistoryRecorderTest() {
        QObject::connect(&recorder, &HistoryRecorder::failureChanged,
                         [this](const std::optional<QString>& text) { notified.push_back(text); });
    }

    // Records a capture whose PNG is ready; its outcome lands in `outcomes`.
    void capture(CaptureKind kind = CaptureKind::region) {
        recorder.record(CapturedImage{picture(), 1, kind}, PNGFuture::fromEncodedPNG("png bytes"),
                        [this](const Outcome& outcome) {
                            outcomes.push_back(outcome);
                            onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
                        });
        test::drainEvents();
    }

    std::shared_ptr<FakeHistoryStore> store = std::make_shared<FakeHistoryStore>();
    RetentionPolicy setting = RetentionPolicy::days(30);
    HistoryRecorder recorder{store, [this] { return setting; }, &fixedNow};
    std::vector<std::optional<QString>> notified;
    std::vector<Outcome> outcomes;
    bool onMainThread = true;
    test::LogCapture log;
    QStringList failures() const { return log.texts("quillet.history", QtCriticalMsg); }
};

}  // namespace

TEST_F(HistoryRecorderTest, AFailureThenASuccessNotifiesTwiceAndRetentionFollowsTheSave) {
    capture(CaptureKind::window);
    capture(CaptureKind::fullScreen);
    ASSERT_EQ(store->adds.size(), 2u) << "both captures reach the store";
    EXPECT_EQ(store->adds[0].png, "png bytes");
    EXPECT_EQ(store->adds[0].pixelSize, (PixelSize{40, 30}));
    EXPECT_EQ(store->adds[0].kind, ScreenshotKind::window);
    EXPECT_EQ(store->adds[1].kind, ScreenshotKind::fullScreen);
    EXPECT_FALSE(store->adds[1].source);
    EXPECT_EQ(recorder.pendingWrites().runningCount(), 2);

    // The setting changes while the writes are in flight: the policy of the capture applies.
    setting = RetentionPolicy::days(7);
    store->fail(0, HistoryError::writeFailed(QStringLiteral("/history/x.png: Input/output error")));
    test::drainEvents();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0], Outcome::notSaved(writeErrorShort));
    EXPECT_EQ(recorder.failureMessage(), writeErrorLong);
    EXPECT_EQ(failures(), QStringList{"Снимок не записан в историю: /history/x.png: Input/output error"});
    EXPECT_TRUE(store->retentions.empty()) << "no retention after a failed save";

    store->succeed(1);
    test::drainEvents();
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[1].kind, Outcome::Case::saved);
    EXPECT_EQ(outcomes[1].screenshot.kind, ScreenshotKind::fullScreen);
    EXPECT_EQ(outcomes[1].fileURL, store->fileURL(outcomes[1].screenshot));
    EXPECT_EQ(recorder.failureMessage(), std::nullopt);
    EXPECT_EQ(notified, (std::vector<std::optional<QString>>{writeErrorLong, std::nullopt}));
    ASSERT_EQ(store->retentions.size(), 1u);
    EXPECT_EQ(store->retentions[0].policy, RetentionPolicy::days(30));
    EXPECT_EQ(store->retentions[0].now, fixedNow());
    EXPECT_TRUE(onMainThread);

    EXPECT_TRUE(test::waitUntil([&] { return recorder.pendingWrites().runningCount() == 0; }));
}

TEST_F(HistoryRecorderTest, EachFailureGroupIsAnnouncedOnceWithItsTexts) {
    struct Step {
        HistoryError error;
        QString shortText;
        std::optional<QString> announced;  // absent: the standing warning stays as it was
    };
    const QString notMountedLong = QStringLiteral("Диск с историей не подключён: снимок только в буфере");
    const std::vector<Step> steps{
        {HistoryError::volumeNotMounted(), QStringLiteral("Диск с историей не подключён"), notMountedLong},
        {HistoryError::volumeNotMounted(), QStringLiteral("Диск с историей не подключён"), std::nullopt},
        {HistoryError::volumeAccessDenied(), QStringLiteral("Нет доступа к диску с историей"),
         QStringLiteral("Нет доступа к диску с историей (разрешение «Съёмные тома»): снимок только в буфере")},
        {HistoryError::notEnoughSpace(), QStringLiteral("Не сохранён в историю: нет места"),
         QStringLiteral("Снимок в буфере, но не сохранён в историю: нет места")},
        {HistoryError::writeFailed(QStringLiteral("EIO")), writeErrorShort, writeErrorLong},
        {HistoryError::deleteFailed(QStringLiteral("EBUSY")), writeErrorShort, std::nullopt},
        {HistoryError::invalidRetention(), writeErrorShort, std::nullopt},
        {HistoryError::unreadableImage(), writeErrorShort, std::nullopt},
        // The causes a user can do something about are named, not folded into "ошибка записи".
        {HistoryError::folderNotWritable(), QStringLiteral("Не сохранён в историю: папка закрыта для записи"),
         QStringLiteral("Снимок в буфере, но не сохранён в историю: папка истории закрыта для записи")},
        {HistoryError::notADirectory(), QStringLiteral("Не сохранён в историю: на месте папки — файл"),
         QStringLiteral("Снимок в буфере, но не сохранён в историю: на месте папки истории — файл")},
        {HistoryError::folderMissing(), QStringLiteral("Не сохранён в историю: папка удалена"), folderVanished},
        {HistoryError::volumeNotMounted(), QStringLiteral("Диск с историей не подключён"), notMountedLong},
    };
    std::vector<std::optional<QString>> expectedNotifications;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "step " << i);
        capture();
        store->fail(i, steps[i].error);
        test::drainEvents();
        ASSERT_EQ(outcomes.size(), i + 1);
        EXPECT_EQ(outcomes[i], Outcome::notSaved(steps[i].shortText));
        if (steps[i].announced) expectedNotifications.push_back(steps[i].announced);
        EXPECT_EQ(notified, expectedNotifications);
    }
    EXPECT_EQ(recorder.failureMessage(), notMountedLong);
    EXPECT_EQ(failures().size(), static_cast<qsizetype>(steps.size()));
}

TEST_F(HistoryRecorderTest, AFolderLostBetweenCapturesIsAStandingWarningUntilTheNextSave) {
    Q_EMIT store->folderUnavailable(HistoryError::folderMissing());
    EXPECT_EQ(notified, (std::vector<std::optional<QString>>{folderVanished}));
    EXPECT_EQ(recorder.failureMessage(), folderVanished);
    capture();
    store->succeed(0);
    test::drainEvents();
    EXPECT_EQ(notified, (std::vector<std::optional<QString>>{folderVanished, std::nullopt}));
}

TEST_F(HistoryRecorderTest, WritesWithoutACompletionStillHappenAndQuittingWaitsForThem) {
    recorder.record(CapturedImage{picture(), 1, CaptureKind::region}, PNGFuture::fromEncodedPNG("png"), nullptr);
    test::drainEvents();
    ASSERT_EQ(store->adds.size(), 1u);

    auto waited = recorder.pendingWrites().waitUntilDone(std::chrono::seconds(5));
    test::drainEvents();
    EXPECT_FALSE(waited.isFinished()) << "the write is still in flight";
    store->fail(0, HistoryError::notEnoughSpace());
    ASSERT_TRUE(test::waitFor(waited));
    EXPECT_TRUE(waited.result());
    EXPECT_EQ(recorder.failureMessage(), QStringLiteral("Снимок в буфере, но не сохранён в историю: нет места"));
}

TEST_F(HistoryRecorderTest, StartLoadsThenAppliesRetentionAndRetentionFailuresAreIgnored) {
    store->retentionResult = unexpected(HistoryError::deleteFailed(QStringLiteral("busy")));
    setting = RetentionPolicy::days(3);
    const QFuture<void> started = recorder.start();
    setting = RetentionPolicy::days(9);
    test::drainEvents();
    EXPECT_EQ(store->calls, QStringList{"load"}) << "retention waits for the load";
    store->loadAnswer.finish();
    ASSERT_TRUE(test::waitFor(started));
    EXPECT_EQ(store->calls, (QStringList{"load", "applyRetention"}));
    EXPECT_EQ(store->retentions.at(0).policy, RetentionPolicy::days(3));

    ASSERT_TRUE(test::waitFor(recorder.applyRetentionNow()));
    EXPECT_EQ(store->retentions.at(1).policy, RetentionPolicy::days(9));
    EXPECT_EQ(store->retentions.at(1).now, fixedNow());
    EXPECT_TRUE(notified.empty()) << "retention failures are not shown";
    EXPECT_EQ(recorder.failureMessage(), std::nullopt);
}

TEST(HistoryRecorderWithStore, EmptyPngIsAWriteErrorAndAnEditKeepsItsSource) {
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString folder = temp.path() + QStringLiteral("/history");
    auto store = std::make_shared<HistoryStore>(folder, temp.path() + QStringLiteral("/thumbs"), &fixedNow,
                                                QTimeZone::utc());
    HistoryRecorder recorder(store, [] { return RetentionPolicy::forever(); });
    ASSERT_TRUE(test::waitFor(recorder.start()));
    std::vector<std::optional<QString>> notified;
    QObject::connect(&recorder, &HistoryRecorder::failureChanged,
                     [&](const std::optional<QString>& text) { notified.push_back(text); });
    std::vector<Outcome> outcomes;
    bool onMainThread = true;
    auto collect = [&](const Outcome& outcome) {
        outcomes.push_back(outcome);
        onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
    };

    // An encoding that failed reads as empty bytes; the store refuses them.
    const PNGFuture failed(picture(), [](const QImage&) { return std::optional<QByteArray>(); });
    recorder.record(CapturedImage{picture(), 1, CaptureKind::region}, failed, collect);
    ASSERT_TRUE(test::waitUntil([&] { return outcomes.size() == 1; }));
    EXPECT_EQ(outcomes[0], Outcome::notSaved(writeErrorShort));
    EXPECT_EQ(notified, (std::vector<std::optional<QString>>{writeErrorLong}));
    EXPECT_TRUE(store->all().isEmpty());

    // The edit of a screenshot: stored as edited, pointing at its source, and it clears the
    // warning.
    const QUuid source = QUuid::createUuid();
    const QImage edited = picture(64, 48);
    const PNGFuture png(edited);
    recorder.recordEdited(edited, png, source, collect);
    ASSERT_TRUE(test::waitUntil([&] { return outcomes.size() == 2; }, std::chrono::seconds(20)));
    ASSERT_EQ(outcomes[1].kind, Outcome::Case::saved);
    const Screenshot stored = outcomes[1].screenshot;
    EXPECT_EQ(stored.kind, ScreenshotKind::edited);
    EXPECT_EQ(stored.sourceID, source);
    EXPECT_EQ(stored.pixelSize, (PixelSize{64, 48}));
    EXPECT_EQ(outcomes[1].fileURL, folder + QLatin1Char('/') + stored.fileName);
    EXPECT_EQ(test::readFile(outcomes[1].fileURL), png.waitForValue());
    EXPECT_EQ(store->all(), QList<Screenshot>{stored});
    EXPECT_EQ(notified, (std::vector<std::optional<QString>>{writeErrorLong, std::nullopt}));
    EXPECT_TRUE(onMainThread);
}
