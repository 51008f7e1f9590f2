// Encoding and decoding of images, for the clipboard, the history and the editor. Every
// operation reports failure as an absent result and is safe to call from any thread. PNG is
// written by our own fast writer (PNGWriter); everything else goes through Qt's image I/O.
//
//   std::optional<QByteArray> png = ImageCodec::encodePNG(image);
//   std::optional<PixelSize> size = ImageCodec::readSize(path);   // no pixels decoded
#pragma once

#include "core/Types.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

namespace quillet::ImageCodec {

std::optional<QByteArray> encodePNG(const QImage& image);
bool encodePNGToFile(const QImage& image, const QString& path);
std::optional<QByteArray> encodeTIFF(const QImage& image);

std::optional<QImage> decode(const QByteArray& bytes);
std::optional<QImage> decodeFile(const QString& path);
// The pixel size of a file's first image, read from its header.
std::optional<PixelSize> readSize(const QString& path);
// The whole image scaled so that its larger side is at most `maxPixelSize`, orientation applied.
std::optional<QImage> thumbnail(const QString& path, int maxPixelSize);

}  // namespace quillet::ImageCodec
