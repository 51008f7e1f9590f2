// Benchmarks run inside a QGuiApplication so they can use images, fonts and the event loop:
// offscreen, or on a private X session when the benchmark registers one with
// QUILLET_E2E_SESSION (hot keys, capture, clipboard).
#include "e2e/harness/XSession.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdio>

int main(int argc, char** argv) {
    auto& session = quillet::e2e::XSession::current();
    if (quillet::e2e::sessionRegistered()) {
        if (!session.start(quillet::e2e::registeredSessionOptions())) {
            std::fprintf(stderr, "bench: the private X session could not be started\n");
            session.stop();
            return 1;
        }
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    {
        QApplication app(argc, argv);
        ::benchmark::Initialize(&argc, argv);
        if (::benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
        ::benchmark::RunSpecifiedBenchmarks();
        ::benchmark::Shutdown();
    }
    session.stop();
    return 0;
}
