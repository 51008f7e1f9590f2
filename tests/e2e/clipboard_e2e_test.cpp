// The clipboard as other programs see it, on a private X server: xclip pastes what the writer
// promised, waits for an encoding still in progress, keeps another program's copy, and still
// gets the image after the application has exited when a clipboard manager runs.
#include "clipboard/ClipboardWriter.h"
#include "core/ImageCodec.h"
#include "e2e/harness/XSession.h"
#include "support/Gate.h"
#include "platform/desktop/QtPasteboard.h"
#include "platform/x11/ClipboardOwner.h"
#include "support/TestImages.h"

#include <QDeadlineTimer>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

using namespace quillet;
using quillet::e2e::XSession;

QUILLET_E2E_SESSION({.trayHost = false, .windowManager = false});

namespace {

QImage pixels(const QByteArray& bytes) {
    return ImageCodec::decode(bytes).value_or(QImage()).convertToFormat(QImage::Format_RGB32);
}

QStringList targets() {
    const auto result = XSession::current().xclipOut(QStringLiteral("TARGETS"), std::chrono::seconds(5));
    return QString::fromUtf8(result.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

class ClipboardE2E : public testing::Test {
protected:
    XSession& session = XSession::current();
    QtPasteboard pasteboard{QGuiApplication::clipboard(), &ClipboardOwner::heldByThisClient};
    ClipboardWriter writer{pasteboard};
    std::atomic_int requests = 0;
    const QImage image = test::patternImage(QSize(640, 400));

    void SetUp() override {
        // Qt stamps its selection requests with the time of the last event it read: a copy that
        // an earlier case left to another program must be seen first, or ours is refused.
        QCoreApplication::processEvents();
        writer.onProviderRequest = [this] { ++requests; };
    }
};

using quillet::test::Gate;

}  // namespace

TEST_F(ClipboardE2E, PasteGetsExactlyTheFuturesBytes) {
    const PNGFuture png(image);
    writer.put(CapturedImage{image, 1, CaptureKind::region}, png);

    const QStringList offered = targets();
    EXPECT_TRUE(offered.contains(QStringLiteral("image/png"))) << offered.join(u' ').toStdString();
    EXPECT_TRUE(offered.contains(QStringLiteral("image/tiff"))) << offered.join(u' ').toStdString();
    EXPECT_EQ(requests, 0);  // listing the types produces no bytes

    const auto pasted = session.xclipOut(QStringLiteral("image/png"));
    ASSERT_TRUE(pasted.ok()) << pasted.err.toStdString();
    EXPECT_EQ(pasted.out, png.waitForValue());
    const auto tiff = session.xclipOut(QStringLiteral("image/tiff"));
    ASSERT_TRUE(tiff.ok()) << tiff.err.toStdString();
    EXPECT_TRUE(tiff.out.startsWith("II*") || tiff.out.startsWith("MM"));
    EXPECT_EQ(pixels(tiff.out), image);
}

TEST_F(ClipboardE2E, PasteBeforeTheEncodingFinishedWaitsForCompleteBytes) {
    auto gate = std::make_shared<Gate>();
    const PNGFuture png(image, [gate](const QImage& source) {
        gate->wait();
        return ImageCodec::encodePNG(source);
    });
    bool readyWhenAsked = true;
    writer.onProviderRequest = [&] {
        readyWhenAsked = png.isReady();
        gate->open();  // the encoding starts only once the paste is waiting for it
    };
    writer.put(CapturedImage{image, 1, CaptureKind::region}, png);

    const auto pasted = session.xclipOut(QStringLiteral("image/png"));
    ASSERT_TRUE(pasted.ok()) << pasted.err.toStdString();
    EXPECT_FALSE(readyWhenAsked);
    EXPECT_EQ(pasted.out, png.waitForValue());
    EXPECT_EQ(pixels(pasted.out), image);
}

TEST_F(ClipboardE2E, AnotherProgramsCopyIsLeftAlone) {
    writer.put(CapturedImage{image, 1, CaptureKind::region}, PNGFuture(image));
    ASSERT_TRUE(writer.holdsPromise());
    // Copied while this process handles no events, as at quit: the selection-clear event Qt would
    // get stays queued, and the writer must notice the copy all the same. (QProcess's waits
    // watch the pipes only; xclip exits once its forked server holds the selection.)
    QProcess xclip;
    xclip.setProcessEnvironment(session.environment());
    xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-i")});
    ASSERT_TRUE(xclip.waitForStarted(10000));
    xclip.write(QStringLiteral("чужой текст").toUtf8());
    xclip.closeWriteChannel();
    ASSERT_TRUE(xclip.waitForFinished(10000));
    QDeadlineTimer deadline(std::chrono::seconds(10));
    while (writer.holdsPromise() && !deadline.hasExpired()) QThread::msleep(2);
    EXPECT_FALSE(writer.holdsPromise());

    writer.resolvePendingPromises();
    const auto text = session.xclipOut(QStringLiteral("UTF8_STRING"));
    EXPECT_EQ(QString::fromUtf8(text.out), QStringLiteral("чужой текст"));
    EXPECT_FALSE(targets().contains(QStringLiteral("image/png")));
}

TEST(ClipboardAtExit, LastImageStaysPasteableThroughTheClipboardManager) {
    auto& session = XSession::current();
    QProcess* manager = session.startProcess(QStringLiteral(QUILLET_CLIPBOARD_MANAGER), {});
    ASSERT_TRUE(XSession::waitUntil([&] { return session.hasSelectionOwner("CLIPBOARD_MANAGER"); }));

    const QImage image = test::patternImage(QSize(500, 300), QImage::Format_RGB32);
    const QString file = session.home() + QStringLiteral("/capture.png");
    ASSERT_TRUE(ImageCodec::encodePNGToFile(image, file));
    QProcess* app = session.startProcess(QStringLiteral(QUILLET_CLIPBOARD_PUT), {file});
    ASSERT_TRUE(XSession::waitUntil([] { return targets().contains(QStringLiteral("image/png")); }));

    app->closeWriteChannel();  // the application quits
    ASSERT_TRUE(XSession::waitUntil([&] { return app->state() == QProcess::NotRunning; }));
    EXPECT_EQ(app->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app->exitCode(), 0);

    const auto pasted = session.xclipOut(QStringLiteral("image/png"));
    ASSERT_TRUE(pasted.ok()) << pasted.err.toStdString();
    EXPECT_EQ(pasted.out, ImageCodec::encodePNG(image).value());
    EXPECT_EQ(pixels(session.xclipOut(QStringLiteral("image/tiff")).out), image);
    session.stopProcess(app);
    session.stopProcess(manager);
}
