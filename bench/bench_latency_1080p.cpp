// The real application on one 1920 x 1080 display with a photo-like picture behind it: the
// latencies and the memory a user feels (see support/LatencyRun.h). Every other overlay waits
// for the previews to go, so both overlay rows (with and without a preview card) fill.
#include "support/LatencyRun.h"

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1920, 1080)}});

namespace {

void Latency1080p(benchmark::State& state) {
    const QRect display(0, 0, 1920, 1080);
    quillet::bench::runLatencySeries(state, quillet::bench::noisyPhotoImage(display.size()),
                                     {"1080p photo-like", 25, 25, 120, 60},
                                     {.display = display, .alsoWithoutPreviews = true});
}
BENCHMARK(Latency1080p)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
