// Takes this application's windows off the screen for the moment of a grab. X11 cannot leave
// one application out of a grab, so our visible windows are hidden, the server's word awaited,
// the window manager's frames waited out, and a busy compositor given (within a bound) the time
// to repaint where they were; one frame's time more lets the windows they uncovered repaint.
// The repaint is seen in the pixels, or, where what lies beneath looks just like our window, in
// the server's reports of drawing (DAMAGE) there after the hide. Afterwards they are shown again,
// a moment later (see restoreDelay).
//
//   auto withdrawal = std::make_shared<OwnWindowWithdrawal>(connection, displayMap);
//   if (auto hidden = withdrawal->withdraw()) {     // any thread
//       grab();
//       withdrawal->restore(*hidden);
//   }
//
// The hiding and showing run on the main thread: a grab on another thread hands the hiding over
// and waits a bounded time. Construct on the main thread; hold it in a shared_ptr (the hand-offs
// keep it).
#pragma once

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QRect>
#include <QWindow>

#include <xcb/xcb.h>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace quillet {

class DisplayMap;
class RootDamage;
class X11Connection;

class OwnWindowWithdrawal : public std::enable_shared_from_this<OwnWindowWithdrawal> {
public:
    // Rows of screen pixels across our windows, top to bottom edge, read while they still showed.
    struct ScreenSample {
        std::vector<QRect> lines;
        std::vector<QByteArray> pixels;
    };

    struct Withdrawn {
        QList<QPointer<QWindow>> windows;
        // Every window of ours that showed at the hide, the withdrawn ones and those left in place.
        QList<QPointer<QWindow>> visibleAtHide;
        std::vector<xcb_window_t> frames;  // the window manager's frames around them
        ScreenSample sample;
        bool hidNow = false;  // some window went off the screen for this grab
        // A compositing manager drew the screen at the hide: its drawing over our windows' places
        // may still be a frame that shows them.
        bool composited = true;
    };

    OwnWindowWithdrawal(std::shared_ptr<const X11Connection> connection, std::shared_ptr<const DisplayMap> displays);
    ~OwnWindowWithdrawal();

    // Hides our windows and waits until they are off screen; nothing when the main thread did
    // not get round to hiding them in time (then nothing is hidden later either).
    std::optional<Withdrawn> withdraw();
    // Shows the windows again (those not closed meanwhile) on the main thread, `restoreDelay`
    // from now, beneath the windows of ours that showed meanwhile (the overlay). A withdrawal
    // starting before then takes them over and hides them still.
    void restore(const Withdrawn& withdrawn);

    // Showing our windows again makes the window manager frame them anew and a compositor draw
    // them: work that would compete with the overlay's first frame and with taking the
    // clipboard. The overlay covers the screen meanwhile; without one, the windows stay off
    // the screen that moment longer.
    static constexpr std::chrono::milliseconds restoreDelay{60};

private:
    // Main thread: hides every visible window of ours and waits until the server has done so.
    Withdrawn hideOwnWindows();
    // Main thread, right before the first hide: from here on, drawing seen counts as the repaint.
    void markDrawingBeforeHide(Withdrawn& withdrawn);
    // Adds rows across `area` that lie on the screen.
    void addLinesAcross(const QRect& area, std::vector<QRect>& lines) const;
    // The pixels of `lines` as the screen shows them now; empty when the server did not answer.
    std::vector<QByteArray> readLines(const std::vector<QRect>& lines) const;
    // True once the screen was seen repainted where our windows were (the settle time, if any
    // was needed, already waited); false when nothing could be seen to change.
    bool waitForRepaint(const ScreenSample& sample, bool composited) const;
    void waitForFramesGone(const std::vector<xcb_window_t>& frames) const;
    // Main thread: shows what waits to come back.
    void showPending();

    std::shared_ptr<const X11Connection> connection;
    std::shared_ptr<const DisplayMap> displays;
    std::unique_ptr<RootDamage> damage;
    // Main thread only: what waits to be shown again, and which of its waits is the last.
    Withdrawn pendingRestore;
    unsigned restoreGeneration = 0;
    xcb_atom_t compositorSelection = XCB_ATOM_NONE;  // _NET_WM_CM_Sn of our screen
};

}  // namespace quillet
