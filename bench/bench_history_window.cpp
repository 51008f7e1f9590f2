// The history window over 10,000 screenshots on a private X server: opening it to the first
// painted frame, the first screen of thumbnails from the disk cache and from the PNG files,
// one scrolled frame, and the memory the open window holds above the idle application.
#include "app/ProcessMemory.h"
#include "support/Measuring.h"
#include "support/NoServices.h"
#include "e2e/harness/X11Parts.h"
#include "e2e/harness/XSession.h"
#include "history/HistoryIndex.h"
#include "history/HistoryStore.h"
#include "core/ImageCodec.h"
#include "support/TestSupport.h"
#include "ui/history/HistoryCollectionView.h"
#include "ui/history/HistoryItem.h"
#include "ui/history/HistoryWindowController.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QTimeZone>

#include <benchmark/benchmark.h>


using namespace quillet;
using namespace std::chrono_literals;

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1920, 1080)}, .trayHost = false});

namespace {

using quillet::bench::NoClipboard;
using quillet::bench::PaintWatch;
using quillet::bench::spinUntil;
using quillet::bench::statusMiB;
using quillet::bench::NoSounds;

constexpr int historySize = 10000;

// 10,000 screenshots of 1280 × 800 (one set of bytes under every name) with their index.
struct History {
    QTemporaryDir temp;
    QString folder = temp.path() + QStringLiteral("/history");
    QString thumbs = temp.path() + QStringLiteral("/thumbs");
    std::unique_ptr<HistoryStore> store;

    History() {
        returnLargeBuffersToTheSystem();  // as the application does at start
        QDir().mkpath(folder);
        const QByteArray png = *ImageCodec::encodePNG(test::patternImage(QSize(1280, 800)));
        const QDateTime newest = QDateTime::fromSecsSinceEpoch(1741345509, QTimeZone::utc());
        QList<Screenshot> items;
        items.reserve(historySize);
        for (int n = 0; n < historySize; ++n) {
            Screenshot screenshot{QUuid::createUuid(), newest.addSecs(-n), ScreenshotKind::region, PixelSize{1280, 800},
                                  QStringLiteral("Shot %1.png").arg(n, 5, 10, QLatin1Char('0')), std::nullopt};
            QFile file(folder + QLatin1Char('/') + screenshot.fileName);
            if (file.open(QIODevice::WriteOnly)) file.write(png);
            items << screenshot;
        }
        QFile index(folder + QStringLiteral("/.history.json"));
        if (index.open(QIODevice::WriteOnly)) index.write(HistoryIndex{HistoryIndex::currentVersion, items}.encoded());
        store = std::make_unique<HistoryStore>(folder, thumbs, [] { return QDateTime::currentDateTimeUtc(); },
                                               QTimeZone::utc());
        auto loading = store->load();
        spinUntil([&] { return loading.isFinished(); }, 60s);
    }
};

History& history() {
    static History shared;
    return shared;
}

struct Window {
    NoClipboard clipboard;
    NoSounds sounds;
    test::X11Parts x11;
    HistoryWindowController controller{{*history().store, clipboard, x11.fileManager, sounds, x11.desktop}};
    // The grid's viewport paints the cells.
    PaintWatch watch{[](QObject* object) { return object->parent() && qobject_cast<HistoryCollectionView*>(object->parent()); }};

    Window() { qApp->installEventFilter(&watch); }
    ~Window() {
        qApp->removeEventFilter(&watch);
        close();
    }

    // Opens the window and returns once its grid has painted its first frame.
    bool open() {
        watch.painted = false;
        controller.show();
        return spinUntil([&] { return watch.painted; });
    }
    bool firstScreenLoaded() {
        HistoryCollectionView* grid = controller.collectionView();
        if (!grid || grid->cells().empty()) return false;
        int onScreen = 0;
        for (const HistoryItem* cell : grid->cells()) {
            const std::optional<int> row = [&]() -> std::optional<int> {
                for (int r = 0; r < 40 && r < int(controller.items().size()); ++r) {
                    if (controller.items().at(r).id == cell->representedID()) return r;
                }
                return std::nullopt;
            }();
            if (!row) continue;
            ++onScreen;
            if (cell->thumbnailState() != HistoryItem::ThumbnailState::loaded) return false;
        }
        return onScreen > 0;
    }
    void close() {
        controller.close();
        spinUntil([&] { return !controller.isOpen(); }, 5s);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
    }
};

void BM_OpenHistoryToFirstFrame(benchmark::State& state) {
    history();
    Window window;
    for (auto _ : state) {
        if (!window.open()) state.SkipWithError("the window never painted");
        state.PauseTiming();
        window.close();
        state.ResumeTiming();
    }
    state.SetLabel("10,000 screenshots; goal < 150 ms");
}
BENCHMARK(BM_OpenHistoryToFirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void firstScreen(benchmark::State& state, bool fromDisk) {
    history();
    Window window;
    if (fromDisk) {
        window.open();  // makes the disk thumbnails of the first screen
        spinUntil([&] { return window.firstScreenLoaded(); });
        window.close();
    }
    for (auto _ : state) {
        state.PauseTiming();
        if (!fromDisk) QDir(history().thumbs).removeRecursively();
        state.ResumeTiming();
        window.open();
        if (!spinUntil([&] { return window.firstScreenLoaded(); })) state.SkipWithError("thumbnails never came");
        state.PauseTiming();
        window.close();
        state.ResumeTiming();
    }
}

void BM_FirstScreenThumbnailsFromDiskCache(benchmark::State& state) {
    firstScreen(state, true);
    state.SetLabel("from show(); goal < 300 ms");
}
BENCHMARK(BM_FirstScreenThumbnailsFromDiskCache)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_FirstScreenThumbnailsFromPNGs(benchmark::State& state) {
    firstScreen(state, false);
    state.SetLabel("1280x800 PNGs, from show(); goal < 2000 ms");
}
BENCHMARK(BM_FirstScreenThumbnailsFromPNGs)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// One frame of scrolling by a third of the window: in a continuous scroll (thumbnail loads
// wait until it rests), and a step after a rest (the loads of the last rest decode meanwhile).
// Then the memory of the open window after scrolling through a few thousand screenshots.
void BM_ScrollFrame(benchmark::State& state) {
    const bool restBetweenSteps = state.range(0) != 0;
    history();
    QCoreApplication::processEvents();
    const double idle = statusMiB(QCoreApplication::applicationPid());
    Window window;
    window.open();
    HistoryCollectionView* grid = window.controller.collectionView();
    QScrollBar* bar = grid->verticalScrollBar();
    const int step = grid->viewport()->height() / 3;
    double peak = 0;
    for (auto _ : state) {
        bar->setValue(bar->value() + step >= bar->maximum() ? 0 : bar->value() + step);
        grid->viewport()->repaint();
        state.PauseTiming();
        if (restBetweenSteps) {
            QDeadlineTimer rest(80);
            spinUntil([&] { return rest.hasExpired(); });
        } else {
            QCoreApplication::processEvents();
        }
        peak = std::max(peak, statusMiB(QCoreApplication::applicationPid()));
        state.ResumeTiming();
    }
    // Let the thumbnails of where the scrolling stopped arrive, then measure.
    QDeadlineTimer rest(200);
    spinUntil([&] { return rest.hasExpired(); });
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    peak = std::max(peak, statusMiB(QCoreApplication::applicationPid()));
    window.close();
    const double closed = statusMiB(QCoreApplication::applicationPid());
    state.counters["open_MB_above_idle"] = peak - idle;
    state.counters["closed_MB_above_idle"] = closed - idle;
    state.SetLabel(restBetweenSteps ? "step after a rest; frame goal < 16 ms; open < 60 MB, closed < 10 MB above idle"
                                    : "continuous; frame goal < 16 ms; open < 60 MB, closed < 10 MB above idle");
}
BENCHMARK(BM_ScrollFrame)->Unit(benchmark::kMillisecond)->Iterations(300)->Arg(0)->Arg(1);

}  // namespace
