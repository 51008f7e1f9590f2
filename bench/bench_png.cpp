// PNG encoders side by side: ours (ImageCodec::encodePNG, on every thread of the pool), libpng
// at its defaults (zlib level 6, adaptive filters), libpng at level 1 with the "up" filter, and
// Qt's writer, on screen-like images and on noisy photo-like ones at 1920 × 1080 and 3840 × 2160.
// The table after the run shows the fastest run of each, as time waited and as processor time
// summed over all threads, and the file size against libpng's defaults, beside the goals.
#include "core/ImageCodec.h"
#include "support/ScreenImages.h"

#include <QBuffer>
#include <QImageWriter>

#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>

namespace {

using Encoder = std::optional<QByteArray> (*)(const QImage&);

std::optional<QByteArray> withLibpng(const QImage& image, int level, int filters) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    QByteArray bytes;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return std::nullopt;
    }
    png_set_write_fn(
        png, &bytes,
        [](png_structp writer, png_bytep data, png_size_t length) {
            static_cast<QByteArray*>(png_get_io_ptr(writer))->append(reinterpret_cast<const char*>(data), qsizetype(length));
        },
        nullptr);
    if (level >= 0) png_set_compression_level(png, level);
    if (filters >= 0) png_set_filter(png, PNG_FILTER_TYPE_BASE, filters);
    png_set_IHDR(png, info, png_uint_32(rgb.width()), png_uint_32(rgb.height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < rgb.height(); ++y) png_write_row(png, rgb.constScanLine(y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return bytes;
}

std::optional<QByteArray> libpngDefaults(const QImage& image) { return withLibpng(image, -1, -1); }
std::optional<QByteArray> libpngFastUp(const QImage& image) { return withLibpng(image, 1, PNG_FILTER_UP); }

std::optional<QByteArray> qtWriter(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) return std::nullopt;
    return bytes;
}

double milliseconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

struct Figure {
    double fastest = 1e12;     // waited, of the fastest run
    double processor = 1e12;   // every thread's processor time, of the least costly run
    qsizetype bytes = 0;
};

// "screen 4K", "photo 1080p", ...
const QImage& image(const std::string& name) {
    static const QImage screen4K = quillet::bench::screenLikeImage(QSize(3840, 2160));
    static const QImage photo4K = quillet::bench::noisyPhotoImage(QSize(3840, 2160));
    static const QImage screenHD = quillet::bench::screenLikeImage(QSize(1920, 1080));
    static const QImage photoHD = quillet::bench::noisyPhotoImage(QSize(1920, 1080));
    if (name == "screen 4K") return screen4K;
    if (name == "photo 4K") return photo4K;
    return name == "screen 1080p" ? screenHD : photoHD;
}

// image name → encoder name → figure; printed when the program ends.
struct Table {
    std::map<std::string, std::map<std::string, Figure>> figures;

    ~Table() {
        if (figures.empty()) return;
        std::printf("\nPNG encoders (fastest run waited; processor time of all threads):\n");
        const std::map<std::string, double> goals = {{"screen 4K", 80.0}, {"photo 4K", 600.0}};
        for (const auto& [imageName, encoders] : figures) {
            const auto reference = encoders.find("libpng defaults");
            for (const auto& [encoderName, figure] : encoders) {
                const double ratio = reference != encoders.end() && reference->second.bytes > 0
                                         ? double(figure.bytes) / double(reference->second.bytes)
                                         : 0.0;
                std::printf("  %-12s %-18s %8.1f ms %8.1f ms cpu %10lld bytes  %.2f x libpng defaults\n",
                            imageName.c_str(), encoderName.c_str(), figure.fastest, figure.processor,
                            static_cast<long long>(figure.bytes), ratio);
            }
            if (const auto ours = encoders.find("quillet"); ours != encoders.end() && goals.count(imageName)) {
                const double ratio = reference != encoders.end() && reference->second.bytes > 0
                                         ? double(ours->second.bytes) / double(reference->second.bytes)
                                         : 0.0;
                std::printf("png %s: %.1f ms (goal < %.0f ms)\n", imageName.c_str(), ours->second.fastest,
                            goals.at(imageName));
                if (imageName == "screen 4K") std::printf("png screen size: %.2f x libpng defaults (goal <= 1.20)\n", ratio);
            }
        }
    }
} table;

void encode(benchmark::State& state, const std::string& imageName, const std::string& encoderName, Encoder encoder) {
    const QImage& source = image(imageName);
    Figure& figure = table.figures[imageName][encoderName];
    for (auto _ : state) {
        const double start = milliseconds(CLOCK_MONOTONIC);
        const double startProcessor = milliseconds(CLOCK_PROCESS_CPUTIME_ID);
        const std::optional<QByteArray> png = encoder(source);
        figure.fastest = std::min(figure.fastest, milliseconds(CLOCK_MONOTONIC) - start);
        figure.processor = std::min(figure.processor, milliseconds(CLOCK_PROCESS_CPUTIME_ID) - startProcessor);
        if (!png) {
            state.SkipWithError("encoding failed");
            return;
        }
        figure.bytes = png->size();
        benchmark::DoNotOptimize(png->constData());
    }
    state.counters["bytes"] = double(figure.bytes);
}

void registerAll() {
    const std::pair<const char*, Encoder> encoders[] = {
        {"quillet", &quillet::ImageCodec::encodePNG},
        {"libpng defaults", &libpngDefaults},
        {"libpng level 1 up", &libpngFastUp},
        {"Qt writer", &qtWriter},
    };
    for (const char* imageName : {"screen 1080p", "photo 1080p", "screen 4K", "photo 4K"}) {
        for (const auto& [encoderName, encoder] : encoders) {
            std::string name = std::string("png/") + imageName + "/" + encoderName;
            std::replace(name.begin(), name.end(), ' ', '_');
            benchmark::RegisterBenchmark(name.c_str(), [imageName = std::string(imageName), encoderName = std::string(encoderName),
                                                        encoder = encoder](benchmark::State& state) {
                encode(state, imageName, encoderName, encoder);
            })->Unit(benchmark::kMillisecond)->MinTime(0.5);
        }
    }
}

const bool registered = (registerAll(), true);

}  // namespace
