// The history's speed goals: loading a long history, adding to it, counting what would expire,
// and thumbnails from the source file, the disk cache and memory. Each prints its figure next
// to its goal.
#include "core/ImageCodec.h"
#include "history/HistoryIndex.h"
#include "history/HistoryStore.h"
#include "history/ThumbnailCache.h"

#include <QDir>
#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <memory>

using namespace quillet;

namespace {

constexpr int historySize = 10000;
constexpr qint64 startSeconds = 1741345509;

// Something like a desktop as X11 hands it over (no alpha channel): a wallpaper gradient,
// windows with title bars and lines of text.
QImage desktopImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient wallpaper(0, 0, width, height);
    wallpaper.setColorAt(0, QColor(40, 70, 120));
    wallpaper.setColorAt(1, QColor(190, 120, 80));
    painter.fillRect(image.rect(), wallpaper);
    for (int w = 0; w < 6; ++w) {
        const QRect window(width * w / 9 + 40, height * w / 12 + 30, width / 2, height / 2);
        painter.fillRect(window, QColor(250, 250, 248));
        painter.fillRect(window.x(), window.y(), window.width(), 32, QColor(60, 60, 64));
        painter.setPen(QColor(30, 30, 30));
        for (int line = 0; line * 18 + 50 < window.height(); ++line) {
            painter.drawText(window.x() + 12, window.y() + 50 + line * 18,
                             QStringLiteral("%1 Съёмка экрана, строка %2: the quick brown fox jumps over").arg(w).arg(line));
        }
    }
    painter.end();
    return image;
}

// Wall time is the figure; the process's CPU time beside it shows how much of it was waiting
// (for the disk, or for a core on a busy machine).
struct Figure {
    double wall = 0;
    double cpu = 0;
    std::chrono::steady_clock::time_point wallStart;
    double cpuStart = 0;

    static double cpuNow() {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
    }
    void start() {
        cpuStart = cpuNow();
        wallStart = std::chrono::steady_clock::now();
    }
    void stop() {
        wall += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart).count();
        cpu += cpuNow() - cpuStart;
    }
    void print(const char* name, benchmark::State& state, double goal) const {
        const auto count = static_cast<double>(state.iterations());
        std::printf("%s: %.3f ms (goal < %g ms; CPU %.3f ms)\n", name, wall / count, goal, cpu / count);
        std::fflush(stdout);
    }
};

// One folder of 10,000 screenshots with a valid index, made once for every benchmark here.
struct LongHistory {
    QTemporaryDir temp;
    QString folder;
    QString thumbs;

    LongHistory() {
        folder = temp.path() + QStringLiteral("/history");
        thumbs = temp.path() + QStringLiteral("/thumbs");
        QDir().mkpath(folder);
        QImage small(64, 36, QImage::Format_RGB32);
        small.fill(Qt::darkCyan);
        const QByteArray png = *ImageCodec::encodePNG(small);
        HistoryIndex index;
        for (int i = 0; i < historySize; ++i) {
            // A history over 100 days, newest first.
            const auto createdAt = QDateTime::fromSecsSinceEpoch(startSeconds - qint64(i) * 864, QTimeZone::utc());
            const QString name = QStringLiteral("Quillet ") +
                                 createdAt.toString(QStringLiteral("yyyy-MM-dd 'в' HH.mm.ss")) + QStringLiteral(".png");
            QFile file(folder + QLatin1Char('/') + name);
            if (!file.open(QIODevice::WriteOnly)) std::abort();
            file.write(png);
            index.items.append(Screenshot{QUuid::createUuid(), createdAt, ScreenshotKind::region, PixelSize{64, 36}, name,
                                          std::nullopt});
        }
        QFile indexFile(folder + QStringLiteral("/.history.json"));
        if (!indexFile.open(QIODevice::WriteOnly)) std::abort();
        indexFile.write(index.encoded());
    }

    static LongHistory& shared() {
        static LongHistory history;
        return history;
    }
};

void BM_LoadTenThousand(benchmark::State& state) {
    LongHistory& history = LongHistory::shared();
    Figure figure;
    for (auto _ : state) {
        HistoryStore store(history.folder, history.thumbs, [] { return QDateTime::currentDateTimeUtc(); }, QTimeZone::utc());
        figure.start();
        store.load().waitForFinished();
        figure.stop();
        if (store.all().size() != historySize) state.SkipWithError("the history did not load");
    }
    figure.print("load of 10,000 screenshots", state, 250);
}
BENCHMARK(BM_LoadTenThousand)->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_AddToTenThousand(benchmark::State& state) {
    LongHistory& history = LongHistory::shared();
    qint64 seconds = startSeconds + 3600;
    HistoryStore store(history.folder, history.thumbs,
                       [&seconds] { return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc()); }, QTimeZone::utc());
    store.load().waitForFinished();
    const QByteArray png = *ImageCodec::encodePNG(desktopImage(1920, 1080));
    QList<Screenshot> added;
    Figure figure;
    for (auto _ : state) {
        ++seconds;
        figure.start();
        const auto stored = store.add(png, PixelSize{1920, 1080}, ScreenshotKind::region, std::nullopt).result();
        figure.stop();
        if (!stored) state.SkipWithError("the add failed");
        else added.append(*stored);
    }
    figure.print("one add to 10,000 screenshots (1920 x 1080 PNG given, index rewritten, flushed)", state, 30);
    // Leave the history as the other benchmarks expect it.
    for (const Screenshot& screenshot : added) store.deleteScreenshot(screenshot.id).waitForFinished();
}
BENCHMARK(BM_AddToTenThousand)->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_ExpiredCount(benchmark::State& state) {
    LongHistory& history = LongHistory::shared();
    HistoryStore store(history.folder, history.thumbs, [] { return QDateTime::currentDateTimeUtc(); }, QTimeZone::utc());
    store.load().waitForFinished();
    const QDateTime now = QDateTime::fromSecsSinceEpoch(startSeconds, QTimeZone::utc());
    qsizetype expired = 0;
    Figure figure;
    for (auto _ : state) {
        figure.start();
        expired = store.expiredCount(RetentionPolicy::days(30), now);
        figure.stop();
        benchmark::DoNotOptimize(expired);
    }
    state.counters["expired"] = static_cast<double>(expired);
    figure.print("expiredCount over 10,000 screenshots", state, 1);
}
BENCHMARK(BM_ExpiredCount)->Iterations(200)->Unit(benchmark::kMicrosecond);

struct LargeSource {
    QTemporaryDir temp;
    QString source;
    LargeSource() {
        source = temp.path() + QStringLiteral("/uhd.png");
        if (!ImageCodec::encodePNGToFile(desktopImage(3840, 2160), source)) std::abort();
    }
    static LargeSource& shared() {
        static LargeSource large;
        return large;
    }
};

void BM_ThumbnailFromSource(benchmark::State& state) {
    LargeSource& large = LargeSource::shared();
    const ThumbnailCache cache(large.temp.path() + QStringLiteral("/thumbs"));
    Figure figure;
    for (auto _ : state) {
        const QUuid id = QUuid::createUuid();
        figure.start();
        const auto image = cache.thumbnailNow(id, large.source, 360);
        figure.stop();
        if (!image || qMax(image->width(), image->height()) != 360) state.SkipWithError("no thumbnail");
    }
    figure.print("360-pixel thumbnail of a 3840 x 2160 PNG from the source file", state, 130);
}
BENCHMARK(BM_ThumbnailFromSource)->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_ThumbnailFromDisk(benchmark::State& state) {
    LargeSource& large = LargeSource::shared();
    const ThumbnailCache cache(large.temp.path() + QStringLiteral("/thumbs"));
    const QUuid id = QUuid::createUuid();
    (void)cache.thumbnailNow(id, large.source, 360);
    Figure figure;
    for (auto _ : state) {
        cache.releaseMemory();
        figure.start();
        const auto image = cache.thumbnailNow(id, large.source, 360, [] {
            CancellationToken noMaking;  // only the disk may answer
            noMaking.cancel();
            return noMaking;
        }());
        figure.stop();
        if (!image) state.SkipWithError("not answered from disk");
    }
    figure.print("360-pixel thumbnail from the disk cache", state, 5);
}
BENCHMARK(BM_ThumbnailFromDisk)->Iterations(50)->Unit(benchmark::kMillisecond);

void BM_ThumbnailFromMemory(benchmark::State& state) {
    LargeSource& large = LargeSource::shared();
    const ThumbnailCache cache(large.temp.path() + QStringLiteral("/thumbs"));
    const QUuid id = QUuid::createUuid();
    (void)cache.thumbnailNow(id, large.source, 360);
    Figure figure;
    for (auto _ : state) {
        figure.start();
        const auto image = cache.thumbnailNow(id, large.source, 360);
        figure.stop();
        benchmark::DoNotOptimize(image);
    }
    figure.print("360-pixel thumbnail from memory", state, 1);
}
BENCHMARK(BM_ThumbnailFromMemory)->Iterations(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

