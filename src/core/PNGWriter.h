// Our own PNG writer, made for screenshots: one fixed row filter ("up") and libdeflate instead
// of zlib's adaptive search, so a 4K capture is encoded in a few tens of milliseconds. The
// result is an ordinary 8-bit PNG: RGB when every pixel is opaque, RGBA (straight alpha)
// otherwise, with the image's colour space as an sRGB or iCCP chunk.
//
//   std::optional<QByteArray> png = PNGWriter::encode(image);   // absent: not an 8-bit image
//
// Images with 16-bit or floating-point samples are left to Qt's writer (see ImageCodec), which
// keeps their precision. Safe to call from any thread.
#pragma once

#include <QByteArray>
#include <QImage>

#include <optional>

namespace quillet::PNGWriter {

// False for formats whose samples would lose precision in 8 bits.
bool handles(QImage::Format format);

// Absent for a null image, a format handles() refuses, or when memory runs out.
std::optional<QByteArray> encode(const QImage& image);

}  // namespace quillet::PNGWriter
