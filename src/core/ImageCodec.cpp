#include "core/ImageCodec.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>

namespace quillet::ImageCodec {

namespace {

std::optional<QByteArray> encodeWithQt(const QImage& image, const char* format) {
    if (image.isNull()) return std::nullopt;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image)) return std::nullopt;
    return bytes;
}

std::optional<QImage> readWith(QImageReader& reader) {
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) return std::nullopt;
    return image;
}

}  // namespace

std::optional<QByteArray> encodePNG(const QImage& image) { return encodeWithQt(image, "png"); }

bool encodePNGToFile(const QImage& image, const QString& path) {
    if (image.isNull()) return false;
    QImageWriter writer(path, "png");
    return writer.write(image);
}

std::optional<QByteArray> encodeTIFF(const QImage& image) { return encodeWithQt(image, "tiff"); }

std::optional<QImage> decode(const QByteArray& bytes) {
    if (bytes.isEmpty()) return std::nullopt;
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return readWith(reader);
}

std::optional<QImage> decodeFile(const QString& path) {
    QImageReader reader(path);
    return readWith(reader);
}

std::optional<PixelSize> readSize(const QString& path) {
    QImageReader reader(path);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty()) return std::nullopt;
    return PixelSize{size.width(), size.height()};
}

std::optional<QImage> thumbnail(const QString& path, int maxPixelSize) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || maxPixelSize <= 0) return std::nullopt;
    if (reader.transformation() & QImageIOHandler::TransformationRotate90) size.transpose();
    if (qMax(size.width(), size.height()) > maxPixelSize) {
        QSize scaled = size.scaled(maxPixelSize, maxPixelSize, Qt::KeepAspectRatio);
        if (reader.transformation() & QImageIOHandler::TransformationRotate90) scaled.transpose();
        reader.setScaledSize(scaled.expandedTo(QSize(1, 1)));
    }
    return readWith(reader);
}

}  // namespace quillet::ImageCodec
