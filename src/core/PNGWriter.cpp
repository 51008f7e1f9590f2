#include "core/PNGWriter.h"

#include "core/Async.h"

#include <QColorSpace>
#include <QThreadPool>

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <sys/mman.h>

namespace quillet::PNGWriter {

namespace {

// ISA-L's level 2 compressed our screen-like and photo-like images as fast as its level 1 and
// about 10 % smaller; level 3 was several times slower on screen-like ones for 1 % less.
constexpr std::uint32_t deflateLevel = 2;
constexpr std::uint8_t filterUp = 2;
// The filtered rows are cut into segments that threads compress independently: enough segments
// to keep every pool thread busy, each big enough that its fresh dictionary costs nothing.
constexpr std::size_t smallestSegment = std::size_t(256) << 10;
constexpr std::size_t largestSegment = std::size_t(4) << 20;
// Rows are filtered and handed to the compressor in blocks that stay in the cache.
constexpr std::size_t blockBytes = std::size_t(128) << 10;
// 0x78: deflate with a 32 KiB window; 0x5e: "fast" compression, and the pair divisible by 31.
constexpr std::array<std::uint8_t, 2> zlibHeader = {0x78, 0x5e};

enum class Channels { rgb = 3, rgba = 4 };

// Pages of our own for the large buffers: only the pages written are ever touched, and they go
// back to the system the moment the buffer goes. From malloc, buffers of a few megabytes freed
// on pool threads would stay in those threads' arenas and keep the process large.
class Bytes {
public:
    Bytes() = default;
    explicit Bytes(std::size_t size) : size(size) {
        void* pages = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pages != MAP_FAILED) bytes = static_cast<std::uint8_t*>(pages);
    }
    Bytes(Bytes&& other) noexcept : bytes(std::exchange(other.bytes, nullptr)), size(other.size) {}
    Bytes& operator=(Bytes&& other) noexcept {
        std::swap(bytes, other.bytes);
        std::swap(size, other.size);
        return *this;
    }
    ~Bytes() {
        if (bytes) ::munmap(bytes, size);
    }
    explicit operator bool() const { return bytes != nullptr; }
    std::uint8_t* get() const { return bytes; }
    // Keeps the contents; false (and the old buffer) when there is no room.
    bool grow(std::size_t larger) {
        void* pages = ::mremap(bytes, size, larger, MREMAP_MAYMOVE);
        if (pages == MAP_FAILED) return false;
        bytes = static_cast<std::uint8_t*>(pages);
        size = larger;
        return true;
    }

private:
    std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
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

// The Adler-32 of two byte runs joined, from the sums of each and the length of the second
// (as zlib's adler32_combine): segments are summed on their own threads.
std::uint32_t combineAdler(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength) {
    constexpr std::uint32_t base = 65521;
    const std::uint32_t remainder = std::uint32_t(secondLength % base);
    std::uint32_t low = first & 0xffff;
    std::uint32_t high = std::uint32_t(std::uint64_t(remainder) * low % base);
    low += (second & 0xffff) + base - 1;
    high += (first >> 16) + (second >> 16) + base - remainder;
    if (low >= base) low -= base;
    if (low >= base) low -= base;
    if (high >= 2 * base) high -= 2 * base;
    if (high >= base) high -= base;
    return (high << 16) | low;
}

// Rows [firstRow, endRow), filtered and compressed as raw deflate. The first segment starts
// with the zlib header; every segment but the last ends in a sync flush (byte-aligned, not
// final), the last one in the final block, so the segments joined are one zlib stream.
struct Segment {
    int firstRow = 0;
    int endRow = 0;
    Bytes data;
    std::size_t size = 0;
    std::uint32_t adler = 1;  // of the segment's filtered bytes
    std::uint32_t crc = 0;    // of "IDAT" and `data`; the last chunk continues it over the trailer
};

enum class Outcome { done, translucent, failed };

// One encoding's segments and the threads working through them. Whoever takes a segment
// compresses it at once, so the encoding thread never waits for a task that has not started:
// pool tasks that start after every segment was taken simply return.
struct Job {
    const QImage* image = nullptr;  // read only while a segment is being compressed
    Channels channels = Channels::rgb;
    std::vector<Segment> segments;
    std::atomic<std::size_t> nextSegment{0};
    std::atomic<bool> stopped{false};  // a translucent pixel or a failure: the rest is pointless
    std::mutex mutex;
    std::condition_variable allFinished;
    std::size_t finished = 0;
    Outcome outcome = Outcome::done;  // the worst of the segments'
};

bool readRow(const QImage& image, Channels channels, int y, std::uint8_t* out) {
    if (channels == Channels::rgb) return readRGB(image.constScanLine(y), image.format(), image.width(), out);
    readRGBA(image.constScanLine(y), image.format(), image.width(), out);
    return true;
}

// Grows `segment.data` to hold at least `needed` more bytes.
bool reserve(Segment& segment, std::size_t& capacity, std::size_t needed) {
    if (capacity - segment.size >= needed) return true;
    const std::size_t grown = std::max(capacity + capacity / 2, segment.size + needed);
    if (!segment.data.grow(grown)) return false;
    capacity = grown;
    return true;
}

Outcome compressSegment(Job& job, Segment& segment, bool first, bool last) {
    const QImage& image = *job.image;
    const std::size_t rowBytes = std::size_t(image.width()) * std::size_t(job.channels);
    const std::size_t stride = rowBytes + 1;
    const std::size_t blockRows = std::max<std::size_t>(1, blockBytes / stride);
    const Bytes scratch(2 * rowBytes + blockRows * stride + ISAL_DEF_LVL2_DEFAULT);
    // Compressed bytes seldom outgrow their input; pages never written are never touched.
    const std::size_t input = std::size_t(segment.endRow - segment.firstRow) * stride;
    std::size_t capacity = input + input / 16 + 1024;
    segment.data = Bytes(capacity);
    if (!scratch || !segment.data) return Outcome::failed;
    std::uint8_t* above = scratch.get();
    std::uint8_t* row = above + rowBytes;
    std::uint8_t* block = row + rowBytes;
    std::uint8_t* levelBuffer = block + blockRows * stride;

    if (segment.firstRow == 0) {
        std::memset(above, 0, rowBytes);
    } else {
        // The previous segment's last row; a translucent pixel there is that segment's to report.
        (void)readRow(image, job.channels, segment.firstRow - 1, above);
    }
    if (first) {
        std::memcpy(segment.data.get(), zlibHeader.data(), zlibHeader.size());
        segment.size = zlibHeader.size();
    }

    isal_zstream stream;
    isal_deflate_init(&stream);
    stream.level = deflateLevel;
    stream.level_buf = levelBuffer;
    stream.level_buf_size = ISAL_DEF_LVL2_DEFAULT;
    for (int y = segment.firstRow; y < segment.endRow;) {
        if (job.stopped.load(std::memory_order_relaxed)) return Outcome::failed;
        const int blockEnd = std::min(segment.endRow, y + int(blockRows));
        std::uint8_t* out = block;
        for (; y < blockEnd; ++y, out += stride) {
            if (!readRow(image, job.channels, y, row)) return Outcome::translucent;
            out[0] = filterUp;
            filterUpRow(out + 1, row, above, rowBytes);
            std::swap(row, above);
        }
        const std::size_t length = std::size_t(out - block);
        segment.adler = isal_adler32(segment.adler, block, length);

        const bool lastBlock = blockEnd == segment.endRow;
        stream.next_in = block;
        stream.avail_in = std::uint32_t(length);
        stream.end_of_stream = lastBlock && last;
        stream.flush = lastBlock && !last ? SYNC_FLUSH : NO_FLUSH;
        // The compressor returns once its input is used up or its output is full.
        do {
            if (!reserve(segment, capacity, 4096)) return Outcome::failed;
            const std::size_t room = std::min<std::size_t>(capacity - segment.size, UINT32_MAX);
            stream.next_out = segment.data.get() + segment.size;
            stream.avail_out = std::uint32_t(room);
            if (isal_deflate(&stream) != COMP_OK) return Outcome::failed;
            segment.size = std::size_t(stream.next_out - segment.data.get());
            if (stream.avail_in > 0 && stream.avail_out > 0) return Outcome::failed;  // neither: no progress
        } while (stream.avail_in > 0 || stream.avail_out == 0);
    }
    if (last && stream.internal_state.state != ZSTATE_END) return Outcome::failed;
    // One IDAT chunk per segment, and PNG limits a chunk to 2^31 - 1 bytes: only a row of
    // gigabytes could come near, and then Qt's writer takes over.
    if (segment.size + 4 > std::size_t(INT32_MAX)) return Outcome::failed;
    segment.crc = crc32_gzip_refl(crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>("IDAT"), 4),
                                  segment.data.get(), segment.size);
    return Outcome::done;
}

// Takes segments until none is left.
void work(Job& job) {
    for (;;) {
        const std::size_t index = job.nextSegment.fetch_add(1);
        if (index >= job.segments.size()) return;
        const Outcome outcome = job.stopped.load(std::memory_order_relaxed)
                                    ? Outcome::failed
                                    : compressSegment(job, job.segments[index], index == 0, index + 1 == job.segments.size());
        if (outcome != Outcome::done) job.stopped.store(true, std::memory_order_relaxed);
        std::lock_guard lock(job.mutex);
        // A translucent pixel outranks a failure that only followed from stopping.
        if (outcome == Outcome::translucent || (outcome == Outcome::failed && job.outcome == Outcome::done)) {
            job.outcome = outcome;
        }
        if (++job.finished == job.segments.size()) job.allFinished.notify_all();
    }
}

// Rows per segment. `segmentBytes` 0: one segment per pool thread, or a multiple of their
// number, each within the limits above.
int segmentRows(const QImage& image, std::size_t stride, std::size_t segmentBytes, std::size_t threads) {
    const std::size_t height = std::size_t(image.height());
    if (segmentBytes > 0) return int(std::clamp<std::size_t>(segmentBytes / stride, 1, height));
    const std::size_t filtered = height * stride;
    const std::size_t rounds = (filtered + threads * largestSegment - 1) / (threads * largestSegment);
    const std::size_t count = std::clamp<std::size_t>(std::min(threads * rounds, filtered / smallestSegment), 1, height);
    return int((height + count - 1) / count);
}

// Filters and compresses every row on this thread and the pool's others. On success the
// segments hold the whole zlib stream but its Adler-32, returned beside them.
Outcome compressRows(const QImage& image, Channels channels, std::size_t segmentBytes, std::vector<Segment>& segments,
                     std::uint32_t& adler) {
    const std::size_t stride = std::size_t(image.width()) * std::size_t(channels) + 1;
    const std::size_t threads = std::size_t(std::max(1, QThreadPool::globalInstance()->maxThreadCount()));
    const int rowsPerSegment = segmentRows(image, stride, segmentBytes, threads);
    auto job = std::make_shared<Job>();
    job->image = &image;
    job->channels = channels;
    for (int row = 0; row < image.height(); row += rowsPerSegment) {
        Segment segment;
        segment.firstRow = row;
        segment.endRow = std::min(image.height(), row + rowsPerSegment);
        job->segments.push_back(std::move(segment));
    }
    const std::size_t helpers = std::min(job->segments.size(), threads) - 1;
    for (std::size_t i = 0; i < helpers; ++i) runInBackground([job] { work(*job); });
    work(*job);
    {
        // Only segments already being compressed remain: their threads are running.
        std::unique_lock lock(job->mutex);
        job->allFinished.wait(lock, [&job] { return job->finished == job->segments.size(); });
    }
    if (job->outcome != Outcome::done) return job->outcome;
    adler = job->segments.front().adler;
    for (std::size_t i = 1; i < job->segments.size(); ++i) {
        const Segment& segment = job->segments[i];
        adler = combineAdler(adler, segment.adler, std::uint64_t(segment.endRow - segment.firstRow) * stride);
    }
    segments = std::move(job->segments);
    return Outcome::done;
}

void appendBigEndian(QByteArray& bytes, std::uint32_t value) {
    const char be[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    bytes.append(be, 4);
}

std::uint32_t crcOf(std::uint32_t crc, const void* data, std::size_t size) {
    return crc32_gzip_refl(crc, static_cast<const unsigned char*>(data), size);
}

void appendChunk(QByteArray& png, const char (&type)[5], const void* data, qsizetype size) {
    appendBigEndian(png, std::uint32_t(size));
    png.append(type, 4);
    if (size > 0) png.append(static_cast<const char*>(data), size);
    appendBigEndian(png, crcOf(crcOf(0, type, 4), data, std::size_t(size)));
}

// A whole small buffer as one zlib stream.
std::optional<QByteArray> zlibCompress(const QByteArray& input) {
    QByteArray output(input.size() + input.size() / 8 + 1024, Qt::Uninitialized);
    isal_zstream stream;
    isal_deflate_stateless_init(&stream);
    stream.level = 1;
    stream.gzip_flag = IGZIP_ZLIB;
    stream.end_of_stream = 1;
    stream.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(input.constData()));
    stream.avail_in = std::uint32_t(input.size());
    stream.next_out = reinterpret_cast<std::uint8_t*>(output.data());
    stream.avail_out = std::uint32_t(output.size());
    if (isal_deflate_stateless(&stream) != COMP_OK) return std::nullopt;
    output.truncate(qsizetype(stream.total_out));
    return output;
}

// sRGB needs one byte; any other colour space travels as its ICC profile.
QByteArray colourSpaceChunk(const QImage& image) {
    const QColorSpace space = image.colorSpace();
    if (!space.isValid()) return {};
    QByteArray chunk;
    if (space == QColorSpace(QColorSpace::SRgb)) {
        const char perceptual = 0;
        appendChunk(chunk, "sRGB", &perceptual, 1);
        return chunk;
    }
    const QByteArray profile = space.iccProfile();
    if (profile.isEmpty() || profile.size() > (qsizetype(1) << 28)) return {};
    const std::optional<QByteArray> compressed = zlibCompress(profile);
    if (!compressed) return {};
    const QByteArray data = QByteArray("ICC profile\0\0", 13) + *compressed;  // name, terminator, method 0
    appendChunk(chunk, "iCCP", data.constData(), data.size());
    return chunk;
}

std::optional<QByteArray> encodeInSegments(const QImage& image, std::size_t segmentBytes);

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

namespace {

std::optional<QByteArray> encodeInSegments(const QImage& image, std::size_t segmentBytes) {
    if (image.isNull() || !handles(image.format())) return std::nullopt;
    QImage source = image;
    if (!hasDirectRows(source.format())) {
        source = source.convertToFormat(source.hasAlphaChannel() ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
        if (source.isNull()) return std::nullopt;
    }
    // Screenshots are opaque: try 24-bit first and start again as RGBA at a pixel with alpha.
    Channels channels = Channels::rgb;
    std::vector<Segment> segments;
    std::uint32_t adler = 1;
    Outcome outcome = compressRows(source, channels, segmentBytes, segments, adler);
    if (outcome == Outcome::translucent) {
        channels = Channels::rgba;
        if (source.format() != QImage::Format_ARGB32 && source.format() != QImage::Format_RGBA8888) {
            source = source.convertToFormat(QImage::Format_RGBA8888);  // premultiplied: to straight alpha
            if (source.isNull()) return std::nullopt;
        }
        outcome = compressRows(source, channels, segmentBytes, segments, adler);
    }
    if (outcome != Outcome::done) return std::nullopt;

    std::array<std::uint8_t, 13> header{};
    const auto putBigEndian = [&header](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) header[at + std::size_t(i)] = std::uint8_t(value >> (24 - 8 * i));
    };
    putBigEndian(0, std::uint32_t(source.width()));
    putBigEndian(4, std::uint32_t(source.height()));
    header[8] = 8;                                      // bits per sample
    header[9] = channels == Channels::rgb ? 2 : 6;      // colour type: truecolour, with alpha
    header[10] = header[11] = header[12] = 0;           // deflate, filter method 0, no interlace

    // One IDAT chunk per segment; the last one ends with the stream's Adler-32.
    const QByteArray colour = colourSpaceChunk(image);
    qsizetype total = 8 + 25 + colour.size() + 4 + 12;
    for (const Segment& segment : segments) total += qsizetype(segment.size) + 12;
    QByteArray png;
    png.reserve(total);
    png.append("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR", header.data(), qsizetype(header.size()));
    png.append(colour);
    // Each segment's pages go back as soon as they are copied: the PNG and all its segments
    // never need room at the same time.
    for (std::size_t i = 0; i < segments.size(); ++i) {
        Segment& segment = segments[i];
        const bool last = i + 1 == segments.size();
        appendBigEndian(png, std::uint32_t(segment.size + (last ? 4 : 0)));
        png.append("IDAT", 4);
        png.append(reinterpret_cast<const char*>(segment.data.get()), qsizetype(segment.size));
        std::uint32_t crc = segment.crc;
        if (last) {
            const std::uint8_t trailer[4] = {std::uint8_t(adler >> 24), std::uint8_t(adler >> 16), std::uint8_t(adler >> 8),
                                             std::uint8_t(adler)};
            png.append(reinterpret_cast<const char*>(trailer), 4);
            crc = crcOf(crc, trailer, 4);
        }
        appendBigEndian(png, crc);
        segment.data = Bytes();
    }
    appendChunk(png, "IEND", nullptr, 0);
    return png;
}


}  // namespace

std::optional<QByteArray> encode(const QImage& image) { return encodeInSegments(image, 0); }

std::optional<QByteArray> encode(const QImage& image, std::size_t segmentBytes) {
    return encodeInSegments(image, std::max<std::size_t>(segmentBytes, 1));
}

}  // namespace quillet::PNGWriter
