// Editor rendering on a 4K screenshot: the whole finished picture with a busy set of
// annotations, and the mosaic cells of one large pixelated area. Everything runs on one core.
//
// The figures are printed next to their goals at the end, as wall-clock and as CPU time of the
// process (the wall clock alone says little on a machine busy with other work). Rendering hands
// out a new 3840 × 2160 image each time, so the first touch of its 33 MB is part of the cost;
// the "fresh image" line shows what that alone costs on this machine.
#include "editor/EditRenderer.h"

#include <QImage>
#include <QRandomGenerator>
#include <QThreadPool>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>

namespace {

using namespace quillet;
using Clock = std::chrono::steady_clock;

// Mean milliseconds of the last run of each figure, printed when the program ends.
struct GoalReport {
    struct Figure {
        double milliseconds = 0;
        double cpuMilliseconds = 0;
        double goal = 0;  // 0: no goal, shown for reference
    };
    std::map<std::string, Figure> figures;
    ~GoalReport() {
        if (figures.empty()) return;
        std::printf("\n");
        for (const auto& [name, figure] : figures) {
            if (figure.goal > 0)
                std::printf("%s: %.1f ms, CPU %.1f ms (goal < %.0f ms)\n", name.c_str(), figure.milliseconds,
                            figure.cpuMilliseconds, figure.goal);
            else
                std::printf("%s: %.1f ms, CPU %.1f ms (for reference)\n", name.c_str(), figure.milliseconds,
                            figure.cpuMilliseconds);
        }
        std::fflush(stdout);
    }
};
GoalReport report;

// Wall-clock and process CPU time of a run of iterations.
class Stopwatch {
public:
    void start() {
        wallStart = Clock::now();
        cpuStart = cpuNow();
    }
    void stop() {
        wall += std::chrono::duration<double, std::milli>(Clock::now() - wallStart).count();
        cpu += cpuNow() - cpuStart;
    }
    void report(benchmark::State& state, const std::string& name, double goal) const {
        const double count = double(std::max<benchmark::IterationCount>(state.iterations(), 1));
        state.counters["ms"] = wall / count;
        state.counters["cpu_ms"] = cpu / count;
        if (goal > 0) state.counters["goal_ms"] = goal;
        ::report.figures[name] = {wall / count, cpu / count, goal};
    }

private:
    static double cpuNow() {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    }
    Clock::time_point wallStart;
    double cpuStart = 0;
    double wall = 0;
    double cpu = 0;
};

void oneCore() { QThreadPool::globalInstance()->setMaxThreadCount(1); }

// Something like a desktop: smooth gradients with fine noise, so the mosaic means are real work.
const QImage& screenshot() {
    static const QImage image = [] {
        QImage picture(3840, 2160, QImage::Format_RGB32);
        QRandomGenerator random(42);
        for (int y = 0; y < picture.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
            for (int x = 0; x < picture.width(); ++x) {
                const int noise = int(random.bounded(24));
                line[x] = qRgb((x / 16 + noise) & 255, (y / 9 + noise) & 255, ((x + y) / 24) & 255);
            }
        }
        return picture;
    }();
    return image;
}

struct Scene {
    QList<EditArrow> arrows;
    QList<EditRectangle> frames;
    QList<EditStroke> highlights;
    QList<EditRectangle> pixelations;
};

Scene scene() {
    Scene s;
    for (int i = 0; i < 5; ++i)
        s.pixelations.append({QUuid::createUuid(), QRectF(100 + 700 * i, 150 + 60 * i, 400, 300)});
    for (int i = 0; i < 10; ++i) {
        const QPointF start(200 + 340 * i, 700 + 40 * (i % 3));
        s.arrows.append({QUuid::createUuid(), start, start + QPointF(150 + 40 * i, -250 + 55 * i)});
    }
    for (int i = 0; i < 10; ++i)
        s.frames.append({QUuid::createUuid(), QRectF(120 + 360 * i, 1100 + 30 * (i % 4), 300 + 25 * i, 200 + 20 * i)});
    // Hand-drawn marker lines: a point every couple of pixels with a slight wobble.
    for (int i = 0; i < 5; ++i) {
        EditStroke stroke{QUuid::createUuid(), {}};
        const double y = 1700 + 80 * i;
        for (double x = 300 + 150 * i; x < 1300 + 250 * i; x += 2.5)
            stroke.points.append(QPointF(x, y + 6 * std::sin(x / 40)));
        s.highlights.append(stroke);
    }
    return s;
}

void BM_RenderScene(benchmark::State& state) {
    oneCore();
    const QImage& source = screenshot();
    const Scene s = scene();
    // The first renders of a process fault in memory it never had; a running application has.
    for (int i = 0; i < 2; ++i)
        benchmark::DoNotOptimize(
            EditRenderer::render(source, s.arrows, s.frames, s.highlights, s.pixelations, std::nullopt).constBits());
    Stopwatch watch;
    for (auto _ : state) {
        watch.start();
        QImage result = EditRenderer::render(source, s.arrows, s.frames, s.highlights, s.pixelations, std::nullopt);
        benchmark::DoNotOptimize(result.constBits());
        watch.stop();
    }
    watch.report(state, "render 3840x2160 scene", 120);
}
BENCHMARK(BM_RenderScene)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_PixelationBlocks(benchmark::State& state) {
    oneCore();
    const QImage& source = screenshot();
    const int blockSize = EditRenderer::pixelationBlockSize(source.size());
    Stopwatch watch;
    for (auto _ : state) {
        watch.start();
        QList<PixelationBlock> blocks = EditRenderer::pixelationBlocks(source, QRectF(1000, 500, 1000, 1000), blockSize);
        benchmark::DoNotOptimize(blocks.constData());
        watch.stop();
    }
    watch.report(state, "pixelationBlocks 1000x1000", 5);
}
BENCHMARK(BM_PixelationBlocks)->Unit(benchmark::kMillisecond);

// The machine's own cost of a new 3840 × 2160 image that gets written once, for comparison.
void BM_FreshImage(benchmark::State& state) {
    Stopwatch watch;
    for (auto _ : state) {
        watch.start();
        QImage image(3840, 2160, QImage::Format_ARGB32_Premultiplied);
        image.fill(0);
        benchmark::DoNotOptimize(image.constBits());
        watch.stop();
    }
    watch.report(state, "fresh 3840x2160 image, allocated and filled", 0);
}
BENCHMARK(BM_FreshImage)->Unit(benchmark::kMillisecond);

}  // namespace
