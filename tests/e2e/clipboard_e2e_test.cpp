// The clipboard as other programs see it, on a private X server: xclip pastes what the writer
// promised, waiting for an encoding still in progress, and another program's copy is left
// alone. (The hand-over to a clipboard manager at exit is the application test's.)
#include "clipboard/ClipboardWriter.h"
#include "core/ImageCodec.h"
#include "e2e/harness/XSession.h"
#include "platform/desktop/QtPasteboard.h"
#include "platform/x11/ClipboardOwner.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

using namespace quillet;
using quillet::e2e::XSession;

QUILLET_E2E_SESSION({.trayHost = false, .windowManager = false});

namespace {

QStringList targets() {
    const auto result = XSession::current().xclipOut(QStringLiteral("TARGETS"), std::chrono::seconds(5));
    return QString::fromUtf8(result.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

class ClipboardE2E : public testing::Test {
protected:
    // Qt stamps its selection requests with the time of the last event it read: a copy that an
    // earlier case left to another program must be seen first, or ours is refused.
    void SetUp() override { QCoreApplication::processEvents(); }

    XSession& session = XSession::current();
    QtPasteboard pasteboard{QGuiApplication::clipboard(), &ClipboardOwner::heldByThisClient};
    ClipboardWriter writer{pasteboard};
    const QImage image = test::patternImage(QSize(640, 400));
};

}  // namespace

TEST_F(ClipboardE2E, APasteWaitsForTheEncodingAndGetsExactlyItsBytes) {
    auto gate = std::make_shared<test::Gate>();
    const PNGFuture png(image, [gate](const QImage& source) {
        gate->wait();
        return ImageCodec::encodePNG(source);
    });
    std::atomic_int requests = 0;
    std::atomic_bool readyWhenAsked = true;
    writer.onProviderRequest = [&] {
        ++requests;
        readyWhenAsked = png.isReady();
        gate->open();  // the encoding starts only once the paste is waiting for it
    };
    writer.put(CapturedImage{image, 1, CaptureKind::region}, png);

    const QStringList offered = targets();
    EXPECT_TRUE(offered.contains(QStringLiteral("image/png")) && offered.contains(QStringLiteral("image/tiff")))
        << offered.join(u' ').toStdString();
    EXPECT_EQ(requests, 0);  // listing the types produces no bytes

    const auto pasted = session.xclipOut(QStringLiteral("image/png"));
    ASSERT_TRUE(pasted.ok()) << pasted.err.toStdString();
    EXPECT_FALSE(readyWhenAsked);
    EXPECT_EQ(pasted.out, png.waitForValue());
    const auto tiff = session.xclipOut(QStringLiteral("image/tiff"));
    EXPECT_TRUE(tiff.out.startsWith("II*") || tiff.out.startsWith("MM"));
    EXPECT_EQ(ImageCodec::decode(tiff.out).value_or(QImage()).convertToFormat(QImage::Format_RGB32), image);
}

TEST_F(ClipboardE2E, AnotherProgramsCopyIsLeftAlone) {
    writer.put(CapturedImage{image, 1, CaptureKind::region}, PNGFuture(image));
    ASSERT_TRUE(writer.holdsPromise());
    // Copied while this process handles no events, as at quit: the selection-clear event Qt would
    // get stays queued, and the writer must notice the copy all the same.
    ASSERT_TRUE(session.xclipCopyText(QStringLiteral("чужой текст")));
    QDeadlineTimer deadline(std::chrono::seconds(10));
    while (writer.holdsPromise() && !deadline.hasExpired()) QThread::msleep(2);
    EXPECT_FALSE(writer.holdsPromise());

    writer.resolvePendingPromises();
    EXPECT_EQ(QString::fromUtf8(session.xclipOut(QStringLiteral("UTF8_STRING")).out), QStringLiteral("чужой текст"));
    EXPECT_FALSE(targets().contains(QStringLiteral("image/png")));
}
