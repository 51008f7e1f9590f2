// The recorder between the capture flow and the history, over a fake store.
#include "app/HistoryRecorder.h"

#include "fakes/FakeHistoryStore.h"
#include "support/TestSupport.h"

#include <QThread>

#include <gtest/gtest.h>

#include <map>

using namespace quillet;
using namespace quillet::fakes;

namespace {

using Notifications = std::vector<std::optional<QString>>;

QDateTime fixedNow() { return QDateTime::fromSecsSinceEpoch(1741345509, QTimeZone::utc()); }

class HistoryRecorderTest : public ::testing::Test {
protected:
    HistoryRecorderTest() {
        QObject::connect(&recorder, &HistoryRecorder::failureChanged,
                         [this](const std::optional<QString>& text) { notified.push_back(text); });
    }

    // Records a capture whose PNG is ready; its outcome lands in `outcomes`.
    void capture(CaptureKind kind = CaptureKind::region, bool withCompletion = true) {
        HistoryRecorder::Completion completion = [this](const Outcome& outcome) {
            outcomes.push_back(outcome);
            onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
        };
        const CapturedImage image{test::patternImage(QSize(40, 30)), 1, kind};
        recorder.record(image, PNGFuture::fromEncodedPNG("png bytes"), withCompletion ? completion : nullptr);
        test::drainEvents();
    }

    std::shared_ptr<FakeHistoryStore> store = std::make_shared<FakeHistoryStore>();
    RetentionPolicy setting = RetentionPolicy::days(30);
    HistoryRecorder recorder{store, [this] { return setting; }, &fixedNow};
    Notifications notified;
    std::vector<Outcome> outcomes;
    bool onMainThread = true;
    test::LogCapture log;
    QStringList failures() const { return log.texts("quillet.history", QtCriticalMsg); }
};

}  // namespace

TEST_F(HistoryRecorderTest, FailuresAndLostFoldersWarnUntilASaveRetentionFollowsTheSaveAndQuittingWaits) {
    capture(CaptureKind::window);
    capture(CaptureKind::fullScreen);
    ASSERT_EQ(store->adds.size(), 2u) << "both captures reach the store";
    EXPECT_EQ(store->adds[0].png, "png bytes");
    EXPECT_EQ(store->adds[0].pixelSize, (PixelSize{40, 30}));
    EXPECT_EQ(store->adds[0].kind, ScreenshotKind::window);
    EXPECT_EQ(store->adds[1].kind, ScreenshotKind::fullScreen);
    EXPECT_EQ(recorder.pendingWrites().runningCount(), 2);

    // The setting changes while the writes are in flight: the policy of the capture applies.
    setting = RetentionPolicy::days(7);
    store->fail(0, HistoryError::writeFailed(QStringLiteral("/history/x.png: Input/output error")));
    test::drainEvents();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].kind, Outcome::Case::notSaved);
    ASSERT_TRUE(recorder.failureMessage());
    ASSERT_EQ(failures().size(), 1);
    EXPECT_TRUE(failures()[0].endsWith(QStringLiteral(": /history/x.png: Input/output error"))) << "the cause is logged";
    EXPECT_TRUE(store->retentions.empty()) << "no retention after a failed save";

    const QString warning = *recorder.failureMessage();
    store->succeed(1);
    test::drainEvents();
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[1].kind, Outcome::Case::saved);
    EXPECT_EQ(outcomes[1].fileURL, store->fileURL(outcomes[1].screenshot));
    EXPECT_EQ(notified, (Notifications{warning, std::nullopt}));
    EXPECT_EQ(store->retentions, (std::vector<FakeHistoryStore::Retention>{{RetentionPolicy::days(30), fixedNow()}}));
    EXPECT_TRUE(onMainThread);
    EXPECT_TRUE(test::waitUntil([&] { return recorder.pendingWrites().runningCount() == 0; }));

    // A folder lost between captures is a standing warning until the next save.
    Q_EMIT store->folderUnavailable(HistoryError::folderMissing());
    ASSERT_EQ(notified.size(), 3u);
    EXPECT_EQ(recorder.failureMessage(), notified[2]);
    capture();
    store->succeed(2);
    test::drainEvents();
    EXPECT_EQ(notified, (Notifications{warning, std::nullopt, notified[2], std::nullopt}));

    // A write without a completion still happens, and quitting waits for it.
    capture(CaptureKind::region, false);
    auto waited = recorder.pendingWrites().waitUntilDone(std::chrono::seconds(5));
    test::drainEvents();
    EXPECT_FALSE(waited.isFinished()) << "the write is still in flight";
    store->fail(3, HistoryError::notEnoughSpace());
    ASSERT_TRUE(test::waitFor(waited));
    EXPECT_TRUE(waited.result());
    EXPECT_TRUE(recorder.failureMessage());
}

// Errors fall into groups that share their texts; a failure of the group already shown is not
// announced again. The causes a user can do something about have groups of their own.
TEST_F(HistoryRecorderTest, EachFailureGroupIsAnnouncedOnceWithItsTexts) {
    const std::vector<std::pair<HistoryError, char>> steps{
        {HistoryError::volumeNotMounted(), 'v'},                  {HistoryError::volumeNotMounted(), 'v'},
        {HistoryError::volumeAccessDenied(), 'a'},                {HistoryError::notEnoughSpace(), 's'},
        {HistoryError::writeFailed(QStringLiteral("EIO")), 'w'},  {HistoryError::invalidRetention(), 'w'},
        {HistoryError::deleteFailed(QStringLiteral("EBUSY")), 'w'}, {HistoryError::unreadableImage(), 'w'},
        {HistoryError::folderNotWritable(), 'f'},                 {HistoryError::notADirectory(), 'd'},
        {HistoryError::folderMissing(), 'm'},                     {HistoryError::volumeNotMounted(), 'v'},
    };
    std::map<char, QStringList> texts;  // the short and long text of each group
    Notifications expected;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "step " << i);
        capture();
        store->fail(i, steps[i].first);
        test::drainEvents();
        ASSERT_EQ(outcomes.size(), i + 1);
        const QStringList shown{outcomes[i].message, recorder.failureMessage().value_or(QString())};
        EXPECT_EQ(texts.try_emplace(steps[i].second, shown).first->second, shown);
        if (i == 0 || steps[i].second != steps[i - 1].second) expected.push_back(recorder.failureMessage());
        EXPECT_EQ(notified, expected);
    }
    QSet<QString> distinct;  // no two groups, and no short and long text, alike
    for (const auto& [group, both] : texts) distinct.unite(QSet<QString>(both.begin(), both.end()));
    EXPECT_EQ(distinct.size(), qsizetype(2 * texts.size()));
    EXPECT_EQ(failures().size(), qsizetype(steps.size()));
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
    EXPECT_TRUE(notified.empty()) << "retention failures are not shown";
    EXPECT_EQ(recorder.failureMessage(), std::nullopt);
}
