// How long the settings window takes from the request to its first painted frame on a real X
// server with a window manager: building the controls, filling them from the store, mapping the
// window and painting every control once.
#include "ui/settings/SettingsWindowController.h"
#include "e2e/harness/XSession.h"
#include "fakes/FakePreferences.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QWidget>

#include <benchmark/benchmark.h>

using namespace quillet;

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1920, 1080)}, .trayHost = false});

namespace {

// Notes the first paint a widget receives.
class PaintWatch : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted = true;
        return false;
    }
};

void BM_SettingsWindowFirstFrame(benchmark::State& state) {
    QTemporaryDir temp;
    fakes::FakePreferences preferences;
    SettingsStore settings(preferences, std::nullopt);
    AppSettings start = AppSettings::standard();
    start.historyFolder = temp.filePath(QStringLiteral("history"));
    QDir().mkpath(start.historyFolder);
    (void)settings.update(start);
    const auto relocate = [](const QString&) { return readyFuture(HistoryResult()); };
    const auto expired = [](const RetentionPolicy&) { return qint64(0); };

    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        auto controller = std::make_unique<SettingsWindowController>(settings, relocate, expired,
                                                                     HistoryFolderAccess::system());
        PaintWatch watch;
        // The retention pop-up is the last control laid out; once it has painted, so has the frame.
        controller->window()->findChild<QWidget*>(QStringLiteral("retentionPopUp"))->installEventFilter(&watch);
        controller->show();
        while (!watch.painted && clock.elapsed() < 10000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        if (!watch.painted) state.SkipWithError("the window never painted");

        state.PauseTiming();
        controller.reset();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        state.ResumeTiming();
    }
    state.SetLabel("goal < 100 ms");
}
BENCHMARK(BM_SettingsWindowFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
