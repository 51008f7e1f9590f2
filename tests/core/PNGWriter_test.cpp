// The parallel PNG writer: segments compressed on several threads must join into one zlib
// stream that a strict inflate and Qt's reader (libpng, which checks every chunk's CRC) both
// accept pixel for pixel, and an encoding on a pool thread must finish while the pool's other
// threads are all busy.
#include "core/Async.h"
#include "core/PNGWriter.h"
#include "support/Gate.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <QThreadPool>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace quillet;
using test::patternImage;

namespace {

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
