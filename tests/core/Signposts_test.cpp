#include "core/Signposts.h"

#include "core/Logging.h"
#include "support/LogCapture.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace quillet;
using namespace std::chrono_literals;

TEST(Signposts, EndingLogsOnceAndAnAbandonedIntervalLogsNothing) {
    test::LogCapture log;
    {
        const MeasuredInterval first = Signposts::begin(Signposts::captureToReady);
        const MeasuredInterval abandoned = Signposts::begin(Signposts::captureToReady);
        const MeasuredInterval second = Signposts::begin(Signposts::captureToReady);
        (void)abandoned;
        second.end();
        first.end();
    }
    const QStringList captured = log.texts("quillet.latency", QtInfoMsg);
    ASSERT_EQ(captured.size(), 2);
    for (const QString& line : captured) EXPECT_TRUE(line.startsWith(QStringLiteral("interval capture-to-ready ms="))) << line.toStdString();
}
