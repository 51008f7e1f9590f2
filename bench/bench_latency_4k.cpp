// The real application on one 3840 x 2160 display, once behind a photo-like picture and once
// behind a screen-like one (windows, text): the latencies and the memory a user feels (see
// support/LatencyRun.h).
#include "support/LatencyRun.h"

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 3840, 2160)}});

namespace {

const QRect display(0, 0, 3840, 2160);

void Latency4KPhotoLike(benchmark::State& state) {
    quillet::bench::runLatencySeries(state, quillet::bench::noisyPhotoImage(display.size()),
                                     {"4K photo-like", 50, 0, 350, 100}, {display});
}
BENCHMARK(Latency4KPhotoLike)->Iterations(1)->Unit(benchmark::kMillisecond);

void Latency4KScreenLike(benchmark::State& state) {
    quillet::bench::runLatencySeries(state, quillet::bench::screenLikeImage(display.size()),
                                     {"4K screen-like", 50, 0, 150, 100}, {display});
}
BENCHMARK(Latency4KScreenLike)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
