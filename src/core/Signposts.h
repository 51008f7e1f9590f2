// Latency of the few paths that must feel instant. Each is a named interval; ending one logs
// "interval <name> ms=<one decimal>" in the "quillet.latency" category:
//
//   auto interval = Signposts::begin(Signposts::captureToReady);
//   ... deliver ...
//   interval.end();   // interval capture-to-ready ms=84.3
//
// An interval that is never ended writes nothing. Measuring never changes behaviour.
#pragma once

#include <QString>

#include <chrono>

namespace quillet {

class MeasuredInterval {
public:
    MeasuredInterval(const char* name, std::chrono::steady_clock::time_point start) : name(name), start(start) {}

    void end() const;
    const char* intervalName() const { return name; }
    // Another interval from the same start: one moment, two ends worth knowing.
    MeasuredInterval alsoAs(const char* other) const { return MeasuredInterval(other, start); }

private:
    const char* name;
    std::chrono::steady_clock::time_point start;
};

namespace Signposts {
inline constexpr const char* subsystem = "org.quillet.Quillet";
inline constexpr const char* triggerToOverlay = "trigger-to-overlay";
inline constexpr const char* captureToReady = "capture-to-ready";
inline constexpr const char* captureToPasteable = "capture-to-pasteable";
inline constexpr const char* openEditor = "open-editor";
inline constexpr const char* openHistory = "open-history";

MeasuredInterval begin(const char* name);

// "interval capture-to-ready ms=84.3"
QString intervalMessage(const char* name, std::chrono::nanoseconds elapsed);
}  // namespace Signposts

}  // namespace quillet
