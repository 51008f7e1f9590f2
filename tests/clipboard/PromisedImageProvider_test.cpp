// The TIFF side of a promised clipboard item: one encoding, whatever the number of requests.
#include "clipboard/PromisedImageProvider.h"
#include "core/ImageCodec.h"
#include "support/TestImages.h"

#include <QtConcurrent/QtConcurrentRun>

#include <gtest/gtest.h>

#include <atomic>

using namespace quillet;

TEST(PromisedImageProvider, TIFFIsEncodedOnceAndEveryRequestGetsTheSameBytes) {
    const QImage image = test::patternImage(QSize(90, 60));
    std::atomic_int encodings = 0;
    const PromisedImageProvider provider(PNGFuture(image), {}, [&encodings](const QByteArray& png) {
        ++encodings;
        return PromisedImageProvider::tiffFromPNG(png);
    });

    // One request from another thread while this one asks too, as a MULTIPLE request may.
    QFuture<std::optional<QByteArray>> other =
        QtConcurrent::run([&provider] { return provider.provideData(PasteboardType::tiff); });
    const std::optional<QByteArray> first = provider.provideData(PasteboardType::tiff);
    const std::optional<QByteArray> second = provider.provideData(PasteboardType::tiff);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(other.result(), first);
    EXPECT_EQ(first->constData(), second->constData()) << "served from the one encoding, not a copy of it";
    EXPECT_EQ(encodings.load(), 1);

    EXPECT_TRUE(first->startsWith(QByteArray("II*\0", 4)) || first->startsWith(QByteArray("MM\0*", 4)));
    EXPECT_EQ(ImageCodec::decode(*first).value_or(QImage()).convertToFormat(QImage::Format_RGB32), image);
}
