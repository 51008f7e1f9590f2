#include "core/ImageCodec.h"

#include "core/PNGWriter.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

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

std::optional<QByteArray> encodePNG(const QImage& image) {
    if (image.isNull()) return std::nullopt;
    // Our writer is several times faster than Qt's; Qt's keeps 16-bit and float samples and is
    // the last resort when ours runs out of memory.
    if (PNGWriter::handles(image.format())) {
        if (std::optional<QByteArray> png = PNGWriter::encode(image)) return png;
    }
    return encodeWithQt(image, "png");
}

bool encodePNGToFile(const QImage& image, const QString& path) {
    const std::optional<QByteArray> png = encodePNG(image);
    if (!png) return false;
    // Written aside and renamed, so a failed write never leaves a cut-off file under `path`.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(*png) != png->size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
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
