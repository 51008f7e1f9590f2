// The real application on one 1920 x 1080 display with a photo-like picture behind it: the
// latencies and the memory a user feels (see support/LatencyRun.h).
#include "support/LatencyRun.h"

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1920, 1080)}});

namespace {

void Latency1080p(benchmark::State& state) {
    quillet::bench::runLatencySeries(state, QSize(1920, 1080), quillet::bench::noisyPhotoImage(QSize(1920, 1080)),
                                     {"1080p photo-like", 25, 25, 120, 60});
}
BENCHMARK(Latency1080p)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
