// Our own PNG writer, made for screenshots: one fixed row filter ("up") and ISA-L's deflate
// instead of zlib's adaptive search, with the rows cut into segments that every thread of the
// pool compresses at once, so a 4K capture is encoded in a few tens of milliseconds. The
// segments join into one ordinary zlib stream: the result is an ordinary 8-bit PNG, RGB when
// every pixel is opaque, RGBA (straight alpha) otherwise, with the image's colour space as an
// sRGB or iCCP chunk.
//
//   std::optional<QByteArray> png = PNGWriter::encode(image);   // absent: not an 8-bit image
//
// Images with 16-bit or floating-point samples are left to Qt's writer (see ImageCodec), which
// keeps their precision. Safe to call from any thread, a pool thread included: the calling
// thread compresses segments itself and never waits for a pool task that has not started.
#pragma once

#include <QByteArray>
#include <QImage>

#include <cstddef>
#include <optional>

namespace quillet::PNGWriter {

// False for formats whose samples would lose precision in 8 bits.
bool handles(QImage::Format format);

// Absent for a null image, a format handles() refuses, or when memory runs out.
std::optional<QByteArray> encode(const QImage& image);

// The same with segments of about `segmentBytes` filtered bytes each (at least one row), for
// checks that cross many segment boundaries with small images.
std::optional<QByteArray> encode(const QImage& image, std::size_t segmentBytes);

}  // namespace quillet::PNGWriter
