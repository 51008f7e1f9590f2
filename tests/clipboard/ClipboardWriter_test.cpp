// The clipboard writer over an in-memory pasteboard: what a put promises, what a paste gets,
// and when resolving at quit may (and may not) touch the clipboard.
#include "clipboard/ClipboardWriter.h"
#include "core/ImageCodec.h"
#include "fakes/FakePasteboard.h"
#include "support/TestImages.h"

#include <gtest/gtest.h>

using namespace quillet;

namespace {

CapturedImage capture(const QImage& image) { return CapturedImage{image, 1, CaptureKind::region}; }

QImage decoded(const std::optional<QByteArray>& bytes) {
    if (!bytes) return {};
    return ImageCodec::decode(*bytes).value_or(QImage()).convertToFormat(QImage::Format_RGB32);
}

// What a paste of the TIFF offer shows: nothing unless the bytes really are TIFF.
QImage decodedTIFF(const std::optional<QByteArray>& bytes) {
    const bool isTIFF = bytes && (bytes->startsWith(QByteArray("II*\0", 4)) || bytes->startsWith(QByteArray("MM\0*", 4)));
    return isTIFF ? decoded(bytes) : QImage();
}

const QString png = PasteboardType::png;
const QString tiff = PasteboardType::tiff;

class ClipboardWriterTest : public testing::Test {
protected:
    fakes::FakePasteboard pasteboard;
    ClipboardWriter writer{pasteboard};
    int requests = 0;
    const QImage image = test::patternImage(QSize(90, 60));
    const PNGFuture future{image};

    void SetUp() override {
        writer.onProviderRequest = [this] { ++requests; };
    }
};

}  // namespace

TEST_F(ClipboardWriterTest, PutPromisesPNGThenTIFFAndProducesThemOnlyWhenPasted) {
    writer.put(capture(image), future);
    EXPECT_EQ(pasteboard.types, QStringList({png, tiff}));
    ASSERT_TRUE(pasteboard.provider);
    EXPECT_TRUE(writer.holdsPromise());
    EXPECT_EQ(requests, 0);

    EXPECT_EQ(pasteboard.paste(png), future.waitForValue());
    EXPECT_EQ(decodedTIFF(pasteboard.paste(tiff)), image);
    EXPECT_FALSE(pasteboard.provider->provideData(QStringLiteral("text/plain")));
    EXPECT_EQ(requests, 3);
}

TEST_F(ClipboardWriterTest, SecondPutLeavesOnlyTheSecondImage) {
    const QImage second = test::patternImage(QSize(30, 20), QImage::Format_RGB32, true).convertToFormat(QImage::Format_RGB32);
    const PNGFuture secondFuture(second);
    writer.put(capture(image), future);
    writer.put(capture(second), secondFuture);
    EXPECT_EQ(pasteboard.writes, 2);
    EXPECT_TRUE(pasteboard.provider->png.isSameAs(secondFuture));

    writer.resolvePendingPromises();
    EXPECT_EQ(pasteboard.paste(png), secondFuture.waitForValue());
    EXPECT_EQ(decodedTIFF(pasteboard.paste(tiff)), second);
}

TEST_F(ClipboardWriterTest, ResolveMakesTheBytesConcreteOnce) {
    writer.put(capture(image), future);
    writer.resolvePendingPromises();
    EXPECT_FALSE(pasteboard.provider);
    EXPECT_EQ(pasteboard.types, QStringList({png, tiff}));
    EXPECT_FALSE(writer.holdsPromise());
    const int requestsAtResolve = requests;
    EXPECT_EQ(pasteboard.paste(png), future.waitForValue());
    EXPECT_EQ(decodedTIFF(pasteboard.paste(tiff)), image);
    EXPECT_EQ(requests, requestsAtResolve);  // a paste no longer asks anyone

    writer.resolvePendingPromises();
    EXPECT_EQ(pasteboard.writes, 2);
}

TEST_F(ClipboardWriterTest, AnotherProgramsCopyIsLeftAlone) {
    writer.resolvePendingPromises();  // nothing put yet
    EXPECT_EQ(pasteboard.writes, 0);

    writer.put(capture(image), future);
    pasteboard.copyFromAnotherProgram(QStringLiteral("скопированный текст"));
    EXPECT_FALSE(writer.holdsPromise());
    writer.resolvePendingPromises();
    EXPECT_EQ(pasteboard.writes, 1);
    EXPECT_EQ(pasteboard.paste(QStringLiteral("text/plain")), QStringLiteral("скопированный текст").toUtf8());
}

TEST_F(ClipboardWriterTest, FailedEncodingPastesEmptyPNGAndNoTIFF) {
    const PNGFuture failed(image, [](const QImage&) { return std::optional<QByteArray>(); });
    writer.put(capture(image), failed);
    EXPECT_EQ(pasteboard.paste(png), QByteArray());
    EXPECT_FALSE(pasteboard.paste(tiff));
    writer.resolvePendingPromises();
    EXPECT_EQ(pasteboard.types, QStringList({png}));
}
