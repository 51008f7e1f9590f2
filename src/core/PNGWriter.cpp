#include "core/PNGWriter.h"

#include <QColorSpace>

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/mman.h>

namespace quillet::PNGWriter {

namespace {

// libdeflate's level 2 (greedy parsing) was both faster and about 10 % smaller than level 1 on
// screen-like 4K images; higher levels cost much more time for a few per cent.
constexpr int deflateLevel = 2;
constexpr std::uint8_t filterUp = 2;
// PNG limits a chunk to 2^31 - 1 bytes; long streams are cut into several IDAT chunks.
constexpr qsizetype maxChunkData = qsizetype(1) << 30;

enum class Channels { rgb = 3, rgba = 4 };

// A large scratch buffer. Touching tens of megabytes of fresh 4 KiB pages costs more than the
// filtering itself, so the buffer asks the kernel for transparent huge pages.
class ScratchBuffer {
public:
    ScratchBuffer() = default;
    explicit ScratchBuffer(std::size_t size) {
        constexpr std::size_t hugePage = std::size_t(2) << 20;
        const std::size_t rounded = (size + hugePage - 1) / hugePage * hugePage;
        bytes.reset(static_cast<std::uint8_t*>(std::aligned_alloc(hugePage, rounded)));
#ifdef MADV_HUGEPAGE
        if (bytes) ::madvise(bytes.get(), rounded, MADV_HUGEPAGE);
#endif
    }
    explicit operator bool() const { return bytes != nullptr; }
    std::uint8_t* data() const { return bytes.get(); }

private:
    struct Free {
        void operator()(std::uint8_t* pointer) const { std::free(pointer); }
    };
    std::unique_ptr<std::uint8_t, Free> bytes;
};

struct Compressor {
    struct Free {
        void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
    };
    std::unique_ptr<libdeflate_compressor, Free> handle{libdeflate_alloc_compressor(deflateLevel)};
};

// Formats whose rows are read directly; any other 8-bit format is converted by Qt first.
bool hasDirectRows(QImage::Format format) {
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied:
    case QImage::Format_RGB888:
    case QImage::Format_BGR888:
        return true;
    default:
        return false;
    }
}

// Writes one row as R, G, B bytes. False when some pixel is not fully opaque: then the image
// needs its alpha channel (and, if premultiplied, Qt's conversion to straight alpha).
bool readRGB(const std::uint8_t* source, QImage::Format format, int width, std::uint8_t* out) {
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied: {
        // 0xAARRGGBB in native order; with alpha 255 premultiplied and straight agree.
        const auto* pixels = reinterpret_cast<const std::uint32_t*>(source);
        std::uint32_t alpha = 0xff000000u;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t pixel = pixels[x];
            alpha &= pixel;
            out[3 * x] = std::uint8_t(pixel >> 16);
            out[3 * x + 1] = std::uint8_t(pixel >> 8);
            out[3 * x + 2] = std::uint8_t(pixel);
        }
        return format == QImage::Format_RGB32 || alpha == 0xff000000u;
    }
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied: {
        std::uint8_t alpha = 0xff;
        for (int x = 0; x < width; ++x) {
            out[3 * x] = source[4 * x];
            out[3 * x + 1] = source[4 * x + 1];
            out[3 * x + 2] = source[4 * x + 2];
            alpha &= source[4 * x + 3];
        }
        return format == QImage::Format_RGBX8888 || alpha == 0xff;
    }
    case QImage::Format_RGB888:
        std::memcpy(out, source, std::size_t(width) * 3);
        return true;
    case QImage::Format_BGR888:
        for (int x = 0; x < width; ++x) {
            out[3 * x] = source[3 * x + 2];
            out[3 * x + 1] = source[3 * x + 1];
            out[3 * x + 2] = source[3 * x];
        }
        return true;
    default:
        return false;
    }
}

// Writes one row as R, G, B, A bytes with straight alpha; only straight-alpha formats come here.
void readRGBA(const std::uint8_t* source, QImage::Format format, int width, std::uint8_t* out) {
    if (format == QImage::Format_RGBA8888) {
        std::memcpy(out, source, std::size_t(width) * 4);
        return;
    }
    const auto* pixels = reinterpret_cast<const std::uint32_t*>(source);  // Format_ARGB32
    for (int x = 0; x < width; ++x) {
        const std::uint32_t pixel = pixels[x];
        out[4 * x] = std::uint8_t(pixel >> 16);
        out[4 * x + 1] = std::uint8_t(pixel >> 8);
        out[4 * x + 2] = std::uint8_t(pixel);
        out[4 * x + 3] = std::uint8_t(pixel >> 24);
    }
}

void filterUpRow(std::uint8_t* __restrict out, const std::uint8_t* __restrict row, const std::uint8_t* __restrict above,
                 std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) out[i] = std::uint8_t(row[i] - above[i]);
}

enum class FilterResult { done, translucent, outOfMemory };

// Every row, converted and "up"-filtered, one filter byte in front of each: the bytes that the
// zlib stream of the IDAT chunks holds.
FilterResult filterRows(const QImage& image, Channels channels, ScratchBuffer& raw) {
    const int width = image.width();
    const std::size_t rowBytes = std::size_t(width) * std::size_t(channels);
    std::unique_ptr<std::uint8_t[]> rows(new (std::nothrow) std::uint8_t[2 * rowBytes]());
    raw = {};  // a first, opaque attempt gives its buffer back before the second one takes its own
    raw = ScratchBuffer(std::size_t(image.height()) * (rowBytes + 1));
    if (!rows || !raw) return FilterResult::outOfMemory;
    std::uint8_t* row = rows.get();
    std::uint8_t* above = rows.get() + rowBytes;  // zeros above the first row
    for (int y = 0; y < image.height(); ++y) {
        if (channels == Channels::rgb) {
            if (!readRGB(image.constScanLine(y), image.format(), width, row)) return FilterResult::translucent;
        } else {
            readRGBA(image.constScanLine(y), image.format(), width, row);
        }
        std::uint8_t* out = raw.data() + std::size_t(y) * (rowBytes + 1);
        out[0] = filterUp;
        filterUpRow(out + 1, row, above, rowBytes);
        std::swap(row, above);
    }
    return FilterResult::done;
}

void appendBigEndian(QByteArray& bytes, std::uint32_t value) {
    const char be[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    bytes.append(be, 4);
}

void appendChunk(QByteArray& png, const char (&type)[5], const void* data, qsizetype size) {
    appendBigEndian(png, std::uint32_t(size));
    png.append(type, 4);
    if (size > 0) png.append(static_cast<const char*>(data), size);
    std::uint32_t crc = libdeflate_crc32(0, type, 4);
    if (size > 0) crc = libdeflate_crc32(crc, data, std::size_t(size));
    appendBigEndian(png, crc);
}

// sRGB needs one byte; any other colour space travels as its ICC profile.
QByteArray colourSpaceChunk(const QImage& image, libdeflate_compressor* compressor) {
    const QColorSpace space = image.colorSpace();
    if (!space.isValid()) return {};
    QByteArray chunk;
    if (space == QColorSpace(QColorSpace::SRgb)) {
        const char perceptual = 0;
        appendChunk(chunk, "sRGB", &perceptual, 1);
        return chunk;
    }
    const QByteArray profile = space.iccProfile();
    if (profile.isEmpty()) return {};
    QByteArray data("ICC profile\0\0", 13);  // name, its terminator, compression method 0
    const qsizetype header = data.size();
    data.resize(header + qsizetype(libdeflate_zlib_compress_bound(compressor, std::size_t(profile.size()))));
    const std::size_t written = libdeflate_zlib_compress(compressor, profile.constData(), std::size_t(profile.size()),
                                                         data.data() + header, std::size_t(data.size() - header));
    if (written == 0) return {};
    appendChunk(chunk, "iCCP", data.constData(), header + qsizetype(written));
    return chunk;
}

}  // namespace

bool handles(QImage::Format format) {
    switch (format) {
    case QImage::Format_Invalid:
    case QImage::Format_BGR30:
    case QImage::Format_A2BGR30_Premultiplied:
    case QImage::Format_RGB30:
    case QImage::Format_A2RGB30_Premultiplied:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX16FPx4:
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA16FPx4_Premultiplied:
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
        return false;
    default:
        return true;
    }
}

std::optional<QByteArray> encode(const QImage& image) {
    if (image.isNull() || !handles(image.format())) return std::nullopt;
    Compressor compressor;
    if (!compressor.handle) return std::nullopt;

    QImage source = image;
    if (!hasDirectRows(source.format())) {
        source = source.convertToFormat(source.hasAlphaChannel() ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
        if (source.isNull()) return std::nullopt;
    }
    // Screenshots are opaque: try 24-bit first and fall back to RGBA at the first pixel with alpha.
    Channels channels = Channels::rgb;
    ScratchBuffer raw;
    FilterResult result = filterRows(source, channels, raw);
    if (result == FilterResult::translucent) {
        channels = Channels::rgba;
        if (source.format() != QImage::Format_ARGB32 && source.format() != QImage::Format_RGBA8888) {
            source = source.convertToFormat(QImage::Format_RGBA8888);  // premultiplied: to straight alpha
            if (source.isNull()) return std::nullopt;
        }
        result = filterRows(source, channels, raw);
    }
    if (result != FilterResult::done) return std::nullopt;

    const std::size_t rawSize = std::size_t(source.height()) * (std::size_t(source.width()) * std::size_t(channels) + 1);
    const std::size_t bound = libdeflate_zlib_compress_bound(compressor.handle.get(), rawSize);
    ScratchBuffer compressed(bound);
    if (!compressed) return std::nullopt;
    const std::size_t compressedSize =
        libdeflate_zlib_compress(compressor.handle.get(), raw.data(), rawSize, compressed.data(), bound);
    if (compressedSize == 0) return std::nullopt;
    raw = {};  // give the filtered rows back before the result is built

    std::array<std::uint8_t, 13> header{};
    const auto putBigEndian = [&header](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) header[at + std::size_t(i)] = std::uint8_t(value >> (24 - 8 * i));
    };
    putBigEndian(0, std::uint32_t(source.width()));
    putBigEndian(4, std::uint32_t(source.height()));
    header[8] = 8;                                      // bits per sample
    header[9] = channels == Channels::rgb ? 2 : 6;      // colour type: truecolour, with alpha
    header[10] = header[11] = header[12] = 0;           // deflate, filter method 0, no interlace

    const QByteArray colour = colourSpaceChunk(image, compressor.handle.get());
    const qsizetype chunkCount = qsizetype(compressedSize) / maxChunkData + 1;
    QByteArray png;
    png.reserve(8 + 25 + colour.size() + qsizetype(compressedSize) + 12 * chunkCount + 12);
    png.append("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR", header.data(), qsizetype(header.size()));
    png.append(colour);
    for (qsizetype offset = 0; offset < qsizetype(compressedSize); offset += maxChunkData) {
        appendChunk(png, "IDAT", compressed.data() + offset, std::min(maxChunkData, qsizetype(compressedSize) - offset));
    }
    appendChunk(png, "IEND", nullptr, 0);
    return png;
}

}  // namespace quillet::PNGWriter
