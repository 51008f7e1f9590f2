// What a user feels, measured on the real application: `quillet` runs in the benchmark's private
// X session, a picture is the desktop's wallpaper, and XTEST presses the keys.
//
// - trigger → overlay painted: from the second release of a double Ctrl until a pixel of the
//   root window shows the dimmed overlay;
// - trigger → clipboard owned and trigger → PNG pasted: from the second release of a double Alt
//   until Quillet owns CLIPBOARD, and until `xclip` reads a complete PNG of the display;
// - the overlay again after idling, when the grab buffers have been let go;
// - resident memory after the captures, after idling, and its peak.
//
// Overlay times are kept apart by whether a preview card was on the screen at the trigger.
// Every figure is printed with its median, its slowest run and the first run after start, next
// to its goal.
#pragma once

#include "e2e/harness/XSession.h"
#include "e2e/harness/XTestInput.h"
#include "platform/x11/X11ContentSource.h"
#include "support/Measuring.h"
#include "support/PixelProbe.h"
#include "support/ScreenImages.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QProcess>

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace quillet::bench {

using Clock = std::chrono::steady_clock;
using e2e::XSession;

inline double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Prints "name: median M ms, slowest S ms, first F ms (goal ...)" and keeps the figures as
// counters. `samples` in the order they were taken: the first is the first after start.
inline void reportSeries(benchmark::State& state, const char* key, const char* name, std::vector<double> samples,
                         double goal, const char* goalText) {
    if (samples.empty()) {
        std::printf("%s: no sample\n", name);
        return;
    }
    const double first = samples.front();
    std::sort(samples.begin(), samples.end());
    const double median = samples[samples.size() / 2];
    const double slowest = samples.back();
    state.counters[std::string(key) + "_median_ms"] = median;
    state.counters[std::string(key) + "_max_ms"] = slowest;
    state.counters[std::string(key) + "_first_ms"] = first;
    std::printf("%s: median %.1f ms, slowest %.1f ms, first %.1f ms (goal %s)%s\n", name, median, slowest, first,
                goalText, slowest <= goal ? "" : "  MISSED");
    std::fflush(stdout);
}

// Makes `picture` the root window's background, as a desktop's wallpaper: the X server itself
// repaints it wherever a window goes away, so what lies beneath our windows never waits for a
// client of its own. A compositing manager paints the pixmap named by _XROOTPMAP_ID instead, so
// that pixmap outlives this connection.
inline bool setWallpaper(const QImage& picture) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) return false;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, screen->root_depth, pixmap, screen->root, static_cast<std::uint16_t>(rgb.width()),
                      static_cast<std::uint16_t>(rgb.height()));
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, pixmap, 0, nullptr);
    // In strips that fit one request.
    const std::size_t rowBytes = std::size_t(rgb.width()) * 4;
    const int rows = std::max<int>(1, int((xcb_get_maximum_request_length(c) * 4 - 64) / rowBytes));
    for (int y = 0; y < rgb.height(); y += rows) {
        const int count = std::min(rows, rgb.height() - y);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, static_cast<std::uint16_t>(rgb.width()),
                      static_cast<std::uint16_t>(count), 0, static_cast<std::int16_t>(y), 0, screen->root_depth,
                      std::uint32_t(rowBytes * std::size_t(count)), rgb.constScanLine(y));
    }
    const std::uint32_t background = pixmap;
    xcb_change_window_attributes(c, screen->root, XCB_CW_BACK_PIXMAP, &background);
    xcb_clear_area(c, 0, screen->root, 0, 0, 0, 0);
    for (const char* name : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"}) {
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name), nullptr);
        if (atom) xcb_change_property(c, XCB_PROP_MODE_REPLACE, screen->root, atom->atom, XCB_ATOM_PIXMAP, 32, 1, &pixmap);
        std::free(atom);
    }
    xcb_set_close_down_mode(c, XCB_CLOSE_DOWN_RETAIN_PERMANENT);
    xcb_free_gc(c, gc);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // the server has it all
    xcb_disconnect(c);
    return true;
}

// "N MiB (anon A, shared S)".
inline std::string residentText(qint64 pid) {
    char text[96];
    std::snprintf(text, sizeof text, "%.0f MiB (anon %.0f, shared %.0f)", statusMiB(pid), statusMiB(pid, "RssAnon"),
                  statusMiB(pid, "RssShmem"));
    return text;
}

// Polls `condition` as fast as the server answers, up to `limit`.
template <class F>
bool pollUntil(F condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (condition()) return true;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    return false;
}

struct LatencyGoals {
    const char* label;      // "1080p" or "4K"
    double overlayMs;       // every run
    double ownedMs;         // 0: not a goal at this size
    double pasteMedianMs;
    double residentMiB;
};

struct LatencySeries {
    // The display the pointer is on, which the full-screen captures take (global pixels); the
    // wallpaper covers the whole screen.
    QRect display;
    int runs = 15;
    // Every other region capture waits until no preview is left on the display, so the overlay
    // is timed both with and without a preview card on the screen.
    bool alsoWithoutPreviews = false;
};

// Whether a preview card covers part of its place at the bottom left of `display` (the column
// the first card takes, above the tray bar).
inline bool previewVisible(PixelProbe& probe, const QImage& wallpaper, const QRect& display) {
    for (int up = 80; up <= 170; up += 30) {
        const QPoint point(display.left() + 125, display.bottom() - up);
        if (probe.at(point) != (wallpaper.pixel(point) & 0xffffffu)) return true;
    }
    return false;
}

// One series of captures: `runs` times a region overlay (cancelled) and a full-screen capture of
// `series.display`, pasted by xclip. Then 30 s idle, and three overlays after the grab buffers
// were let go.
inline void runLatencySeries(benchmark::State& state, const QImage& wallpaper, const LatencyGoals& goals,
                             const LatencySeries& series) {
    auto& session = XSession::current();
    if (!setWallpaper(wallpaper)) {
        state.SkipWithError("no wallpaper");
        return;
    }
    const QRect display = series.display;
    PixelProbe probe;
    const QPoint spot(display.left() + display.width() / 3, display.top() + display.height() / 3);
    const std::uint32_t plain = wallpaper.pixel(spot) & 0xffffffu;
    pollUntil([&] { return probe.at(spot) == plain; });
    session.xdotool({QStringLiteral("mousemove"), QString::number(display.center().x()),
                     QString::number(display.center().y())});

    QProcess* app = session.startProcess(QStringLiteral(QUILLET_EXECUTABLE), {});
    e2e::XTestInput keys;
    const auto doublePress = [&](std::uint32_t keysym) {
        keys.tap(keysym);
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        keys.press(keysym);
        keys.flush();
        keys.sync();
        const auto start = Clock::now();  // the second release is the trigger
        keys.release(keysym);
        keys.flush();
        return start;
    };
    // Trigger → the overlay's first frame on the screen, then Escape; -1 when none came.
    const auto timeOverlay = [&] {
        const auto trigger = doublePress(XKB_KEY_Control_L);
        if (!pollUntil([&] { return probe.at(spot) != plain; })) return -1.0;
        const double ms = msSince(trigger);
        keys.tap(XKB_KEY_Escape);
        keys.flush();
        pollUntil([&] { return probe.at(spot) == plain; });
        return ms;
    };
    // The application listens once its tray icon and hot keys are up: press until it answers.
    const bool listening = pollUntil([&] {
        doublePress(XKB_KEY_Control_L);
        return pollUntil([&] { return probe.at(spot) != plain; }, std::chrono::seconds(2));
    }, std::chrono::seconds(40));
    if (!listening) {
        state.SkipWithError("quillet did not answer the double Ctrl");
        session.stopProcess(app);
        return;
    }
    keys.tap(XKB_KEY_Escape);
    keys.flush();
    pollUntil([&] { return probe.at(spot) == plain; });
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const double atStart = statusMiB(app->processId());

    std::vector<double> overlay, overlayPreview, owned, pasted;
    for (auto _ : state) {
        // QUILLET_BENCH_RUNS=110 checks that memory does not grow with use.
        const int runs = qEnvironmentVariableIsSet("QUILLET_BENCH_RUNS") ? qEnvironmentVariableIntValue("QUILLET_BENCH_RUNS")
                                                                       : series.runs;
        for (int run = 0; run < runs; ++run) {
            if (series.alsoWithoutPreviews && run % 2 == 0) {
                pollUntil([&] { return !previewVisible(probe, wallpaper, display); }, std::chrono::seconds(12));
            }
            const bool withPreview = previewVisible(probe, wallpaper, display);
            const double overlayMs = timeOverlay();
            if (overlayMs < 0) {
                state.SkipWithError("no overlay");
                break;
            }
            (withPreview ? overlayPreview : overlay).push_back(overlayMs);
            std::this_thread::sleep_for(std::chrono::milliseconds(350));  // past the double-press window

            // Full screen: trigger → clipboard owned → a complete PNG pasted.
            // Another program's copy first, so that taking the clipboard is a visible change.
            const xcb_window_t previous = probe.clipboardOwner();
            session.xclipCopyText(QStringLiteral("before"));
            pollUntil([&] { const xcb_window_t now = probe.clipboardOwner(); return now != XCB_NONE && now != previous; });
            const xcb_window_t before = probe.clipboardOwner();
            const auto start = doublePress(XKB_KEY_Alt_L);
            if (!pollUntil([&] { const xcb_window_t now = probe.clipboardOwner(); return now != XCB_NONE && now != before; })) {
                state.SkipWithError("the clipboard was not taken");
                break;
            }
            owned.push_back(msSince(start));
            bool complete = false;
            while (!complete && msSince(start) < 10000) {
                const auto result = session.xclipOut(QStringLiteral("image/png"), std::chrono::seconds(10));
                complete = result.ok() && QImage::fromData(result.out, "PNG").size() == display.size();
            }
            if (!complete) {
                state.SkipWithError("no PNG pasted");
                break;
            }
            pasted.push_back(msSince(start));
            std::this_thread::sleep_for(std::chrono::milliseconds(350));
        }
    }
    const qint64 pid = app->processId();
    const double afterUse = statusMiB(pid);
    const std::string afterUseText = residentText(pid);
    const double peak = statusMiB(pid, "VmHWM");
    std::this_thread::sleep_for(std::chrono::seconds(30));
    const double afterIdle = statusMiB(pid);
    const std::string afterIdleText = residentText(pid);
    // The overlay once the grab buffers are gone, three times.
    std::vector<double> overlayAfterIdle;
    for (int run = 0; run < 3; ++run) {
        if (run > 0) std::this_thread::sleep_for(X11ContentSource::buffersKeptFor + std::chrono::seconds(2));
        if (const double ms = timeOverlay(); ms >= 0) overlayAfterIdle.push_back(ms);
    }
    session.stopProcess(app);

    char goal[64];
    std::snprintf(goal, sizeof goal, "<= %.0f ms every run", goals.overlayMs);
    std::string name = std::string("trigger -> overlay painted, ") + goals.label;
    reportSeries(state, "overlay", name.c_str(), overlay, goals.overlayMs, goal);
    name = std::string("trigger -> overlay painted, preview visible, ") + goals.label;
    reportSeries(state, "overlay_preview", name.c_str(), overlayPreview, goals.overlayMs, goal);
    name = std::string("trigger -> overlay painted after idle, ") + goals.label;
    reportSeries(state, "overlay_idle", name.c_str(), overlayAfterIdle, goals.overlayMs, goal);
    name = std::string("trigger -> clipboard owned, ") + goals.label;
    std::snprintf(goal, sizeof goal, goals.ownedMs > 0 ? "<= %.0f ms every run" : "none set", goals.ownedMs);
    reportSeries(state, "owned", name.c_str(), owned, goals.ownedMs > 0 ? goals.ownedMs : 1e9, goal);
    name = std::string("trigger -> PNG pasted by xclip, ") + goals.label;
    std::snprintf(goal, sizeof goal, "median <= %.0f ms, slowest <= 1.5 x median", goals.pasteMedianMs);
    reportSeries(state, "paste", name.c_str(), pasted, 1.5 * goals.pasteMedianMs, goal);
    std::printf("resident memory, %s: %s after %zu captures, %s after 30 s idle (goal <= %.0f MiB)%s\n",
                goals.label, afterUseText.c_str(), pasted.size(), afterIdleText.c_str(), goals.residentMiB,
                afterIdle <= goals.residentMiB ? "" : "  MISSED");
    // A frame is the whole screen: a region capture freezes every display.
    const double frame = wallpaper.width() * wallpaper.height() * 4 / 1048576.0;
    std::printf("peak resident memory, %s: %.0f MiB, %.1f frames above the %.0f MiB at start (goal <= 3 frames)%s\n",
                goals.label, peak, (peak - atStart) / frame, atStart, peak - atStart <= 3 * frame ? "" : "  MISSED");
    state.counters["rss_after_use_mib"] = afterUse;
    state.counters["rss_after_idle_mib"] = afterIdle;
    state.counters["rss_peak_mib"] = peak;
    std::fflush(stdout);
}

}  // namespace quillet::bench
