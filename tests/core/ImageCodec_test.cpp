// The codec against real PNG and TIFF bytes read back by Qt's readers (libpng, libtiff), and the
// parallel PNG writer's segments joined into one stream that a strict inflate accepts.
#include "core/Async.h"
#include "core/ImageCodec.h"
#include "core/PNGWriter.h"
#include "support/TestSupport.h"

#include <QColorSpace>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace quillet;
using quillet::test::patternImage;

namespace {

// What a reader must give back: straight alpha for images with alpha, full precision for 16-bit.
QImage comparable(const QImage& image) {
    if (image.depth() == 64) return image.convertToFormat(QImage::Format_RGBA64);
    return image.convertToFormat(QImage::Format_ARGB32);
}

// The data of every IDAT chunk, joined: the image's zlib stream.
QByteArray zlibStream(const QByteArray& png) {
    QByteArray stream;
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const qsizetype length = qFromBigEndian<quint32>(png.constData() + at);
        if (png.mid(at + 4, 4) == "IDAT") stream += png.mid(at + 8, length);
        at += 12 + length;
    }
    return stream;
}

// zlib's own inflate, which insists on a final block and the right Adler-32; empty otherwise.
QByteArray inflateStrictly(const QByteArray& stream, qsizetype expectedSize) {
    QByteArray input(4, '\0');
    qToBigEndian(quint32(expectedSize), input.data());
    return qUncompress(input + stream);
}

}  // namespace

TEST(ImageCodec, PNGRoundTripKeepsEveryPixelInEveryFormat) {
    struct Case {
        QImage::Format format;
        bool translucent;
    };
    const Case cases[] = {
        {QImage::Format_RGB32, false},         {QImage::Format_ARGB32, false},
        {QImage::Format_ARGB32, true},         {QImage::Format_ARGB32_Premultiplied, false},
        {QImage::Format_ARGB32_Premultiplied, true}, {QImage::Format_RGBA8888, true},
        {QImage::Format_RGBA8888_Premultiplied, true}, {QImage::Format_RGBX8888, false},
        {QImage::Format_RGB888, false},        {QImage::Format_BGR888, false},
        {QImage::Format_RGB16, false},         {QImage::Format_Grayscale8, false},
        {QImage::Format_Indexed8, false},      {QImage::Format_RGBA64, true},
    };
    for (const QSize size : {QSize(1, 1), QSize(7, 3), QSize(257, 131)}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.format << " " << c.translucent << " " << size.width());
            const QImage original = patternImage(size, c.format, c.translucent);
            const std::optional<QByteArray> png = ImageCodec::encodePNG(original);
            ASSERT_TRUE(png);
            const std::optional<QImage> decoded = ImageCodec::decode(*png);
            ASSERT_TRUE(decoded);
            EXPECT_EQ(comparable(*decoded), comparable(original));
            // The colour type byte of the header: 24-bit RGB when opaque, RGBA otherwise.
            if (original.depth() <= 32) {
                EXPECT_EQ(png->at(25), c.translucent ? 6 : 2);
            }
        }
    }
}

TEST(ImageCodec, PNGCarriesTheColourSpace) {
    for (const auto named : {QColorSpace::SRgb, QColorSpace::DisplayP3}) {
        QImage image = patternImage(QSize(16, 8));
        image.setColorSpace(QColorSpace(named));
        const std::optional<QImage> decoded = ImageCodec::decode(ImageCodec::encodePNG(image).value_or(QByteArray()));
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->colorSpace(), QColorSpace(named));
        EXPECT_EQ(comparable(*decoded), comparable(image));
    }
}

TEST(ImageCodec, TIFFRoundTripKeepsEveryPixel) {
    for (const bool translucent : {false, true}) {
        const QImage original = patternImage(QSize(120, 70), QImage::Format_ARGB32_Premultiplied, translucent);
        const std::optional<QByteArray> tiff = ImageCodec::encodeTIFF(original);
        ASSERT_TRUE(tiff);
        EXPECT_TRUE(tiff->startsWith("II*") || tiff->startsWith("MM"));
        const std::optional<QImage> decoded = ImageCodec::decode(*tiff);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->convertToFormat(QImage::Format_ARGB32_Premultiplied), original);
    }
}

TEST(ImageCodec, FileRoundTripSizeFromTheHeaderAloneAndNothingFromNonImages) {
    QTemporaryDir dir;
    const QImage original = patternImage(QSize(321, 123));
    const QString path = dir.filePath(QStringLiteral("shot.png"));
    ASSERT_TRUE(ImageCodec::encodePNGToFile(original, path));
    EXPECT_EQ(comparable(ImageCodec::decodeFile(path).value_or(QImage())), comparable(original));

    // A file cut off in its pixel data still tells its size from the header, but cannot be decoded.
    const QString cut = test::writeFile(dir.filePath(QStringLiteral("cut.png")), test::readFile(path).left(60));
    EXPECT_EQ(ImageCodec::readSize(cut), (PixelSize{321, 123}));
    EXPECT_FALSE(ImageCodec::decodeFile(cut));

    // Nothing is left behind where the folder does not exist.
    const QString nowhere = dir.filePath(QStringLiteral("missing/shot.png"));
    EXPECT_FALSE(ImageCodec::encodePNGToFile(original, nowhere));
    EXPECT_FALSE(QFile::exists(nowhere));

    // Non-images give nothing.
    const QString text = test::writeFile(dir.filePath(QStringLiteral("notes.png")), "these are not pixels\n");
    const QString empty = test::writeFile(dir.filePath(QStringLiteral("empty.png")), {});
    const QString missing = dir.filePath(QStringLiteral("missing.png"));
    for (const QString& bad : {text, empty, missing}) {
        SCOPED_TRACE(bad.toStdString());
        EXPECT_FALSE(ImageCodec::decodeFile(bad));
        EXPECT_FALSE(ImageCodec::readSize(bad));
        EXPECT_FALSE(ImageCodec::thumbnail(bad, 64));
    }
    EXPECT_FALSE(ImageCodec::decode({}));
    EXPECT_FALSE(ImageCodec::decode("\x89PNG\r\n\x1a\n garbage"));
    EXPECT_FALSE(ImageCodec::encodePNG(QImage()));
    EXPECT_FALSE(ImageCodec::encodeTIFF(QImage()));
    EXPECT_FALSE(ImageCodec::encodePNGToFile(QImage(), dir.filePath(QStringLiteral("null.png"))));
}

TEST(ImageCodec, ThumbnailBoundsTheLargerSideAndAppliesOrientation) {
    QTemporaryDir dir;
    const QString wide = dir.filePath(QStringLiteral("wide.png"));
    ASSERT_TRUE(ImageCodec::encodePNGToFile(patternImage(QSize(400, 200)), wide));
    EXPECT_EQ(ImageCodec::thumbnail(wide, 100).value_or(QImage()).size(), QSize(100, 50));
    EXPECT_EQ(ImageCodec::thumbnail(wide, 1000).value_or(QImage()).size(), QSize(400, 200));  // never enlarged

    // A TIFF stored sideways: red left half, blue right half, to be shown turned 90° clockwise.
    QImage sideways = test::filledImage(80, 40, Qt::blue);
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 40; ++x) sideways.setPixelColor(x, y, Qt::red);
    }
    const QString rotated = dir.filePath(QStringLiteral("rotated.tif"));
    QImageWriter writer(rotated, "tiff");
    writer.setTransformation(QImageIOHandler::TransformationRotate90);
    ASSERT_TRUE(writer.write(sideways));
    const QImage thumb = ImageCodec::thumbnail(rotated, 20).value_or(QImage());
    ASSERT_EQ(thumb.size(), QSize(10, 20));
    EXPECT_EQ(thumb.pixelColor(5, 2), QColor(Qt::red));
    EXPECT_EQ(thumb.pixelColor(5, 17), QColor(Qt::blue));
    EXPECT_EQ(ImageCodec::decodeFile(rotated).value_or(QImage()).size(), QSize(40, 80));
}

TEST(PNGWriter, SegmentsJoinIntoOneStreamThatReadersAccept) {
    QImage lastPixelTranslucent = patternImage(QSize(45, 17), QImage::Format_ARGB32);
    lastPixelTranslucent.setPixel(44, 16, qRgba(10, 20, 30, 40));
    struct Case {
        const char* name;
        QImage image;
        std::size_t segmentBytes;  // 0: the writer's own choice
    };
    const Case cases[] = {
        {"every row a segment, RGB", patternImage(QSize(257, 131)), 1},
        {"several rows a segment, RGBA", patternImage(QSize(257, 131), QImage::Format_ARGB32, true), 5000},
        {"odd width, 24-bit source", patternImage(QSize(99, 61), QImage::Format_RGB888), 700},
        {"premultiplied, every row a segment", patternImage(QSize(31, 9), QImage::Format_ARGB32_Premultiplied, true), 1},
        {"alpha only in the last segment", lastPixelTranslucent, 1},
        {"one row", patternImage(QSize(1999, 1)), 1},
        {"smaller than one segment", patternImage(QSize(13, 7)), 0},
        {"several segments of the writer's own size", patternImage(QSize(1500, 1100)), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<QByteArray> png =
            c.segmentBytes > 0 ? PNGWriter::encode(c.image, c.segmentBytes) : PNGWriter::encode(c.image);
        ASSERT_TRUE(png);
        const int channels = png->at(25) == 6 ? 4 : 3;
        const qsizetype filtered = qsizetype(c.image.height()) * (qsizetype(c.image.width()) * channels + 1);
        EXPECT_EQ(inflateStrictly(zlibStream(*png), filtered).size(), filtered);
        QImage decoded;
        ASSERT_TRUE(decoded.loadFromData(*png, "PNG"));
        EXPECT_EQ(decoded.convertToFormat(QImage::Format_ARGB32), c.image.convertToFormat(QImage::Format_ARGB32));
    }
}

TEST(PNGWriter, FinishesOnAPoolThreadWhileTheOtherThreadsAreBusy) {
    QThreadPool& pool = *QThreadPool::globalInstance();
    const int threads = pool.maxThreadCount();
    pool.setMaxThreadCount(2);
    auto gate = std::make_shared<test::Gate>();
    QFuture<void> busy = runInBackground([gate] { gate->wait(); });
    const QImage image = patternImage(QSize(640, 480));
    // Many segments: a helper task queued behind the busy one must not be waited for.
    QFuture<bool> encoded = runInBackground([image] { return PNGWriter::encode(image, 16 << 10).has_value(); });
    const bool finished = test::waitUntil([&] { return encoded.isFinished(); }, std::chrono::seconds(30));
    gate->open();
    busy.waitForFinished();
    encoded.waitForFinished();
    pool.setMaxThreadCount(threads);
    EXPECT_TRUE(finished);
    EXPECT_TRUE(encoded.result());
}
