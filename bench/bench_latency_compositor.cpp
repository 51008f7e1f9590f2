// The real application on one 1920 x 1080 display with a compositing manager (picom) running:
// translucent cards, and every window drawn through the compositor (see support/LatencyRun.h).
#include "support/LatencyRun.h"

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1920, 1080)}, .compositor = true});

namespace {

void LatencyCompositor(benchmark::State& state) {
    const QRect display(0, 0, 1920, 1080);
    quillet::bench::runLatencySeries(state, quillet::bench::noisyPhotoImage(display.size()),
                                     {"1080p photo-like, picom", 25, 25, 120, 60}, {display});
}
BENCHMARK(LatencyCompositor)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
