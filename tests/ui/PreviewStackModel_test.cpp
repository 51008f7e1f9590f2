#include "ui/previews/PreviewStackModel.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using quillet::PreviewStackModel;

namespace {

// A clock that moves only when the test says so.
struct TestClock {
    PreviewStackModel::Instant time = PreviewStackModel::Instant{} + 1000s;
    void advance(PreviewStackModel::Duration by) { time += by; }
};

class PreviewStackModelTest : public ::testing::Test {
protected:
    TestClock clock;
    PreviewStackModel model{PreviewStackModel::defaultLifetime, [this] { return clock.time; }};
    const std::uint32_t screenA = 11;
    const std::uint32_t screenB = 22;
};

}  // namespace

TEST_F(PreviewStackModelTest, ExpiryAtExactlySixSecondsReportsDueOnesOldestFirstAndKeepsTheRestInOrder) {
    const QUuid first = model.push(screenA);
    const auto firstDue = clock.time + 6s;
    clock.advance(1s);
    const QUuid second = model.push(screenA);
    const QUuid held = model.push(screenA);
    model.pin(held);
    clock.advance(1s);
    const QUuid last = model.push(screenA);
    EXPECT_EQ(model.nextDeadline(), firstDue);  // the earliest of several

    clock.advance(4s - 1ns);
    EXPECT_TRUE(model.expireDue().isEmpty());
    clock.advance(1s + 1ns);  // first is overdue, second due this very moment, last not yet
    EXPECT_EQ(model.expireDue(), (QList<QUuid>{first, second}));
    EXPECT_EQ(model.previews(screenA), (QList<QUuid>{held, last}));
    EXPECT_EQ(model.nextDeadline(), clock.time + 1s);
    model.close(last);
    EXPECT_EQ(model.nextDeadline(), std::nullopt);
    model.close(held);
    EXPECT_TRUE(model.isEmpty());
    EXPECT_TRUE(model.expireDue().isEmpty());
}

TEST_F(PreviewStackModelTest, HoverAndPinHoldAPreviewAndEveryReturnStartsAFullLifetime) {
    const QUuid id = model.push(screenA);
    clock.advance(3s);
    model.hover(id, true);
    EXPECT_EQ(model.nextDeadline(), std::nullopt);
    clock.advance(5s);
    EXPECT_TRUE(model.expireDue().isEmpty());
    model.hover(id, false);
    EXPECT_EQ(model.nextDeadline(), clock.time + 6s);

    // Pinned: hovering in and out leaves it held; unpinned under the pointer, it waits for a leave.
    model.pin(id);
    model.hover(id, true);
    model.hover(id, false);
    EXPECT_EQ(model.nextDeadline(), std::nullopt);
    clock.advance(60s);
    EXPECT_TRUE(model.expireDue().isEmpty());
    model.hover(id, true);
    model.unpin(id);
    EXPECT_FALSE(model.isPinned(id));
    EXPECT_EQ(model.nextDeadline(), std::nullopt);
    clock.advance(2s);
    model.hover(id, false);
    EXPECT_EQ(model.nextDeadline(), clock.time + 6s);
}

TEST_F(PreviewStackModelTest, RenewClearsTheHoverButKeepsThePin) {
    const QUuid hovered = model.push(screenA);
    const QUuid pinned = model.push(screenA);
    model.hover(hovered, true);
    model.pin(pinned);
    model.hover(pinned, true);
    clock.advance(10s);
    model.renew(hovered);
    model.renew(pinned);
    EXPECT_EQ(model.nextDeadline(), clock.time + 6s);
    EXPECT_TRUE(model.isPinned(pinned));
    model.close(hovered);
    EXPECT_EQ(model.nextDeadline(), std::nullopt);
    // The hover was forgotten: unpinning now counts down without waiting for a leave.
    model.unpin(pinned);
    EXPECT_EQ(model.nextDeadline(), clock.time + 6s);
}

TEST_F(PreviewStackModelTest, OnlyAnAcceptedDragOfAnUnpinnedPreviewUsesItUp) {
    const QUuid plain = model.push(screenA);
    const QUuid pinned = model.push(screenA);
    model.pin(pinned);

    EXPECT_FALSE(model.dragEnded(plain, false));
    EXPECT_FALSE(model.dragEnded(pinned, true));
    EXPECT_EQ(model.previews(screenA), (QList<QUuid>{plain, pinned}));
    EXPECT_TRUE(model.dragEnded(plain, true));
    EXPECT_EQ(model.previews(screenA), QList<QUuid>{pinned});
    EXPECT_FALSE(model.dragEnded(plain, true));  // gone already
}

TEST_F(PreviewStackModelTest, DisplaysKeepSeparateSlots) {
    const QUuid a0 = model.push(screenA);
    const QUuid b0 = model.push(screenB);
    const QUuid a1 = model.push(screenA);
    const QUuid b1 = model.push(screenB);
    EXPECT_EQ(model.slot(a1), 1);
    EXPECT_EQ(model.screen(b0), screenB);

    model.close(a0);
    EXPECT_EQ(model.slot(a1), 0);
    EXPECT_EQ(model.slot(a0), std::nullopt);
    EXPECT_EQ(model.previews(screenB), (QList<QUuid>{b0, b1}));
}

TEST_F(PreviewStackModelTest, UnknownIdsAreIgnored) {
    const QUuid id = model.push(screenA);
    const QUuid stranger = QUuid::createUuid();
    model.hover(stranger, true);
    model.pin(stranger);
    model.unpin(stranger);
    model.renew(stranger);
    model.close(stranger);
    EXPECT_FALSE(model.isPinned(stranger));
    EXPECT_EQ(model.slot(stranger), std::nullopt);
    EXPECT_EQ(model.previews(screenA), QList<QUuid>{id});
    EXPECT_EQ(model.nextDeadline(), clock.time + 6s);
}

// With margins of 20 and 10 between them, n panels of 150 need 40 + 150 n + 10 (n − 1).
TEST(PreviewStackModelLayout, OldestGiveWayUntilTheColumnFits) {
    EXPECT_EQ(PreviewStackModel::overflowCount(670, {150, 150, 150}, 150, 20, 10), 0);  // exactly fits
    EXPECT_EQ(PreviewStackModel::overflowCount(669, {150, 150, 150}, 150, 20, 10), 1);
    EXPECT_EQ(PreviewStackModel::overflowCount(100, {150, 150}, 150, 20, 10), 2);  // the newest stays alone
}
