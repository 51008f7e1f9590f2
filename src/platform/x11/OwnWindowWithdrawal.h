// Takes this application's windows off the screen for the moment of a grab. X11 cannot leave
// one application out of a grab, so our visible windows are hidden, the server's word awaited,
// the window manager's frames waited out, and a busy compositor given (within a bound) the time
// to repaint where they were; one frame's time more lets the windows they uncovered repaint.
// Afterwards they are shown again.
//
//   OwnWindowWithdrawal withdrawal(connection, displayMap);
//   if (auto hidden = withdrawal.withdraw()) {      // any thread
//       grab();
//       OwnWindowWithdrawal::restore(*hidden);
//   }
//
// The hiding itself runs on the main thread: a grab on another thread hands it over and waits
// a bounded time. Construct on any thread; hold it in a shared_ptr (the hand-off keeps it).
#pragma once

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QRect>
#include <QWindow>

#include <xcb/xcb.h>

#include <memory>
#include <optional>
#include <vector>

namespace quillet {

class DisplayMap;
class X11Connection;

class OwnWindowWithdrawal : public std::enable_shared_from_this<OwnWindowWithdrawal> {
public:
    // Rows of screen pixels across one of our windows, top to bottom edge, read while it still
    // showed.
    struct ScreenSample {
        std::vector<QRect> lines;
        std::vector<QByteArray> pixels;
    };

    struct Withdrawn {
        QList<QPointer<QWindow>> windows;
        std::vector<xcb_window_t> frames;  // the window manager's frames around them
        std::vector<ScreenSample> samples;
    };

    OwnWindowWithdrawal(std::shared_ptr<const X11Connection> connection, std::shared_ptr<const DisplayMap> displays);

    // Hides our windows and waits until they are off screen; nothing when the main thread did
    // not get round to hiding them in time (then nothing is hidden later either).
    std::optional<Withdrawn> withdraw();
    // Shows the windows again (those not closed meanwhile), on the main thread.
    static void restore(const Withdrawn& withdrawn);

private:
    // Main thread: hides every visible window of ours and waits until the server has done so.
    Withdrawn hideOwnWindows();
    // Rows across `area` as the screen shows them now; none when no row is on the screen.
    std::optional<ScreenSample> sampleScreen(const QRect& area) const;
    // The pixels of `lines` as the screen shows them now; empty when the server did not answer.
    std::vector<QByteArray> readLines(const std::vector<QRect>& lines) const;
    // True once the screen was seen repainted where our windows were (the settle time, if any
    // was needed, already waited); false when nothing could be seen to change.
    bool waitForRepaint(const std::vector<ScreenSample>& samples) const;
    void waitForFramesGone(const std::vector<xcb_window_t>& frames) const;

    std::shared_ptr<const X11Connection> connection;
    std::shared_ptr<const DisplayMap> displays;
};

}  // namespace quillet
