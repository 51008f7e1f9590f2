// The real application on two 1920 x 1080 displays side by side, the pointer on the second: the
// overlay covers both, the full-screen capture takes the second (see support/LatencyRun.h).
#include "support/LatencyRun.h"

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1920, 1080)}});

namespace {

void LatencyTwoDisplays(benchmark::State& state) {
    quillet::bench::runLatencySeries(state, quillet::bench::noisyPhotoImage(QSize(3840, 1080)),
                                     {"2 x 1080p photo-like", 25, 25, 120, 60}, {QRect(1920, 0, 1920, 1080)});
}
BENCHMARK(LatencyTwoDisplays)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
