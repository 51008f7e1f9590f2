// How soon a paste gets a fresh capture: from put() of a 1920 × 1080 screen-like capture (the
// PNG encoding starts at that moment) until xclip has written all PNG bytes, on a private X
// server. For scale, the same paste of bytes that are already concrete shows what xclip itself
// costs (starting a process, the selection round trips).
#include "clipboard/ClipboardWriter.h"
#include "e2e/harness/XSession.h"
#include "platform/desktop/QtPasteboard.h"
#include "platform/x11/ClipboardOwner.h"
#include "support/ScreenImages.h"

#include <QElapsedTimer>
#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>

using namespace quillet;

QUILLET_E2E_SESSION({.trayHost = false, .windowManager = false});

namespace {

struct Figures {
    double putToPaste = 0;  // fastest, ms
    double readyPaste = 0;
    ~Figures() {
        if (putToPaste > 0) std::printf("\nclipboard paste of PNG after put, 1920 x 1080: %.1f ms (figure)\n", putToPaste);
        if (readyPaste > 0) std::printf("clipboard paste of PNG already concrete (xclip's own cost): %.1f ms\n", readyPaste);
    }
} figures;

const QImage& capture() {
    static const QImage image = bench::screenLikeImage(QSize(1920, 1080));
    return image;
}

void pasteAfterPut(benchmark::State& state, bool resolveFirst) {
    QtPasteboard pasteboard(QGuiApplication::clipboard(), &ClipboardOwner::heldByThisClient);
    ClipboardWriter writer(pasteboard);
    auto& session = e2e::XSession::current();
    double fastest = 1e12;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        writer.put(CapturedImage{capture(), 1, CaptureKind::fullScreen}, PNGFuture(capture()));
        if (resolveFirst) {
            writer.resolvePendingPromises();
            timer.restart();
        }
        const e2e::RunResult pasted = session.xclipOut(QStringLiteral("image/png"));
        const double elapsed = double(timer.nsecsElapsed()) / 1e6;
        if (!pasted.ok() || !pasted.out.startsWith("\x89PNG")) {
            state.SkipWithError("xclip did not get the PNG");
            return;
        }
        state.SetIterationTime(elapsed / 1e3);
        fastest = std::min(fastest, elapsed);
    }
    (resolveFirst ? figures.readyPaste : figures.putToPaste) = fastest;
}

BENCHMARK_CAPTURE(pasteAfterPut, put_to_paste, false)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK_CAPTURE(pasteAfterPut, concrete_paste, true)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
