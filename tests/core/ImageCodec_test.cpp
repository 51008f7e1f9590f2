// The codec against real PNG and TIFF bytes: what it writes, Qt's readers (libpng, libtiff) read
// back pixel for pixel, in every format a capture or an edit can have.
#include "core/ImageCodec.h"
#include "support/TestFiles.h"
#include "support/TestImages.h"

#include <QColorSpace>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillet;
using quillet::test::patternImage;

namespace {

// What a reader must give back: straight alpha for images with alpha, full precision for 16-bit.
QImage comparable(const QImage& image) {
    if (image.depth() == 64) return image.convertToFormat(QImage::Format_RGBA64);
    return image.convertToFormat(QImage::Format_ARGB32);
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    test::writeFile(dir.filePath(name), bytes);
    return dir.filePath(name);
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
            SCOPED_TRACE(testing::Message() << "format " << c.format << " translucent " << c.translucent << " size "
                                            << size.width() << "x" << size.height());
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

TEST(ImageCodec, FileRoundTripAndSizeReadFromTheHeaderAlone) {
    QTemporaryDir dir;
    const QImage original = patternImage(QSize(321, 123));
    const QString path = dir.filePath(QStringLiteral("shot.png"));
    ASSERT_TRUE(ImageCodec::encodePNGToFile(original, path));
    EXPECT_EQ(comparable(ImageCodec::decodeFile(path).value_or(QImage())), comparable(original));
    EXPECT_EQ(ImageCodec::readSize(path), (PixelSize{321, 123}));

    // A file cut off in its pixel data still tells its size, but cannot be decoded.
    const QString cut = writeFile(dir, QStringLiteral("cut.png"), test::readFile(path).left(60));
    EXPECT_EQ(ImageCodec::readSize(cut), (PixelSize{321, 123}));
    EXPECT_FALSE(ImageCodec::decodeFile(cut));

    // Nothing is left behind where the folder does not exist.
    const QString nowhere = dir.filePath(QStringLiteral("missing/shot.png"));
    EXPECT_FALSE(ImageCodec::encodePNGToFile(original, nowhere));
    EXPECT_FALSE(QFile::exists(nowhere));
}

TEST(ImageCodec, NonImagesGiveNothing) {
    QTemporaryDir dir;
    const QString text = writeFile(dir, QStringLiteral("notes.png"), "these are not pixels\n");
    const QString empty = writeFile(dir, QStringLiteral("empty.png"), {});
    const QString missing = dir.filePath(QStringLiteral("missing.png"));
    for (const QString& path : {text, empty, missing}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_FALSE(ImageCodec::decodeFile(path));
        EXPECT_FALSE(ImageCodec::readSize(path));
        EXPECT_FALSE(ImageCodec::thumbnail(path, 64));
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
    QImage sideways(80, 40, QImage::Format_RGB32);
    sideways.fill(Qt::blue);
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
