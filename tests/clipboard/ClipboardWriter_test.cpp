// The clipboard writer over an in-memory pasteboard: when resolving at quit may (and may not)
// touch the clipboard; and the promised item's TIFF, encoded once whatever the number of
// requests. (What a put promises and a paste gets, the clipboard's end-to-end test shows.)
#include "clipboard/ClipboardWriter.h"
#include "core/ImageCodec.h"
#include "fakes/FakePasteboard.h"
#include "support/TestSupport.h"

#include <QtConcurrent/QtConcurrentRun>

#include <gtest/gtest.h>

#include <atomic>

using namespace quillet;

namespace {

// What a paste of the TIFF offer shows: nothing unless the bytes really are TIFF.
QImage decodedTIFF(const std::optional<QByteArray>& bytes) {
    if (!bytes || !(bytes->startsWith(QByteArray("II*\0", 4)) || bytes->startsWith(QByteArray("MM\0*", 4)))) return {};
    return ImageCodec::decode(*bytes).value_or(QImage()).convertToFormat(QImage::Format_RGB32);
}

const QString png = PasteboardType::png;
const QString tiff = PasteboardType::tiff;

class ClipboardWriterTest : public testing::Test {
protected:
    void put(const QImage& picture, const PNGFuture& bytes) {
        writer.put(CapturedImage{picture, 1, CaptureKind::region}, bytes);
    }

    fakes::FakePasteboard pasteboard;
    ClipboardWriter writer{pasteboard};
    const QImage image = test::patternImage(QSize(90, 60));
    const PNGFuture future{image};
};

}  // namespace

TEST_F(ClipboardWriterTest, ResolveMakesTheBytesOfTheLastPutConcreteOnce) {
    const QImage second = test::patternImage(QSize(30, 20), QImage::Format_RGB32, true).convertToFormat(QImage::Format_RGB32);
    const PNGFuture secondFuture(second);
    writer.resolvePendingPromises();  // nothing put yet: nothing to write
    EXPECT_EQ(pasteboard.writes, 0);
    put(image, future);
    put(second, secondFuture);
    writer.resolvePendingPromises();
    EXPECT_FALSE(pasteboard.provider);
    EXPECT_EQ(pasteboard.types, QStringList({png, tiff}));
    EXPECT_FALSE(writer.holdsPromise());
    EXPECT_EQ(pasteboard.paste(png), secondFuture.waitForValue());
    EXPECT_EQ(decodedTIFF(pasteboard.paste(tiff)), second);

    writer.resolvePendingPromises();
    EXPECT_EQ(pasteboard.writes, 3);
}

TEST_F(ClipboardWriterTest, FailedEncodingPastesEmptyPNGAndNoTIFF) {
    const PNGFuture failed(image, [](const QImage&) { return std::optional<QByteArray>(); });
    put(image, failed);
    EXPECT_EQ(pasteboard.paste(png), QByteArray());
    EXPECT_FALSE(pasteboard.paste(tiff));
    writer.resolvePendingPromises();
    EXPECT_EQ(pasteboard.types, QStringList({png}));
}

TEST(PromisedImageProvider, TIFFIsEncodedOnceAndEveryRequestGetsTheSameBytes) {
    const QImage image = test::patternImage(QSize(90, 60));
    std::atomic_int encodings = 0;
    const PromisedImageProvider provider(PNGFuture(image), {}, [&encodings](const QByteArray& png) {
        ++encodings;
        return PromisedImageProvider::tiffFromPNG(png);
    });

    // One request from another thread while this one asks too, as a MULTIPLE request may.
    QFuture<std::optional<QByteArray>> other = QtConcurrent::run([&provider] { return provider.provideData(tiff); });
    const std::optional<QByteArray> first = provider.provideData(tiff);
    const std::optional<QByteArray> second = provider.provideData(tiff);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(other.result(), first);
    EXPECT_EQ(first->constData(), second->constData()) << "served from the one encoding, not a copy of it";
    EXPECT_EQ(encodings.load(), 1);
    EXPECT_EQ(decodedTIFF(first), image);
    EXPECT_FALSE(provider.provideData(QStringLiteral("text/plain")));
}
