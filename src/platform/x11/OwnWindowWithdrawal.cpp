#include "platform/x11/OwnWindowWithdrawal.h"

#include "core/Logging.h"
#include "platform/x11/DisplayMap.h"
#include "platform/x11/RootDamage.h"
#include "platform/x11/X11Atoms.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/XcbReply.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QRegion>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace quillet {

using namespace std::chrono_literals;

namespace {

// Long enough for a compositor to draw one frame without the withdrawn windows, and for the
// windows they uncovered to repaint (X11 keeps no contents behind a window: an uncovered window
// shows stale pixels until its owner redraws). Needed only where the repaint was not seen whole.
constexpr auto settleTime = 16ms;
// How long the window manager gets to take the frames of withdrawn windows away.
constexpr auto frameDeadline = 200ms;
// How long a busy compositor gets to repaint where our windows were.
constexpr auto repaintDeadline = 300ms;
// How long a grab on the thread pool waits for the main thread to hide our windows.
constexpr auto handOffDeadline = 2s;

bool onMainThread() {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

// A grab on the thread pool hands the hiding of our windows to the main thread and waits for
// it; when the wait gives up, the late main-thread task must not hide anything any more.
struct HandOff {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    OwnWindowWithdrawal::Withdrawn withdrawn;
};

// A window embedded into another client's (our tray icon inside the panel's tray) belongs to
// that client's window: hiding it would make the tray drop and re-add the icon at every
// capture, and its geometry is no place on the root window where anything would repaint. It
// is the one kind of window of ours that sits below another client's window without the window
// manager's WM_STATE on it (a managed window's parent is its frame, and it carries WM_STATE).
// `state`: the WM_STATE property of a window whose parent is not the root.
bool isEmbedded(xcb_get_property_reply_t* state) { return state && state->type == XCB_ATOM_NONE; }

}  // namespace

OwnWindowWithdrawal::OwnWindowWithdrawal(std::shared_ptr<const X11Connection> connection,
                                         std::shared_ptr<const DisplayMap> displays)
    : connection(std::move(connection)), displays(std::move(displays)),
      damage(std::make_unique<RootDamage>(this->connection)) {
    // Constructed on the main thread, where Qt's connection interns atoms.
    if (damage->isAvailable()) {
        const QByteArray name = QByteArrayLiteral("_NET_WM_CM_S") + QByteArray::number(this->connection->screen());
        compositorSelection = X11Atoms::atom(name.constData());
    }
}

OwnWindowWithdrawal::~OwnWindowWithdrawal() = default;

void OwnWindowWithdrawal::markDrawingBeforeHide(Withdrawn& withdrawn) {
    if (!damage->isAvailable()) return;
    xcb_connection_t* x = connection->xcb();
    // Our windows' own drawing, still on its way on Qt's connection, would pass for the repaint:
    // the server reads it all before the damage so far is dropped.
    if (xcb_connection_t* qt = X11Atoms::connection()) {
        XcbReply<xcb_get_input_focus_reply_t> sync(xcb_get_input_focus_reply(qt, xcb_get_input_focus(qt), nullptr));
    }
    const auto owner = xcb_get_selection_owner(x, compositorSelection);
    damage->forget();
    XcbReply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(x, owner, nullptr));
    withdrawn.composited = compositorSelection == XCB_ATOM_NONE || !reply || reply->owner != XCB_WINDOW_NONE;
}

// Every question about every window goes out before the first answer is read: a round trip to
// a server busy compositing is slow, and the cards of a burst of captures add up.
OwnWindowWithdrawal::Withdrawn OwnWindowWithdrawal::hideOwnWindows() {
    Withdrawn withdrawn;
    xcb_connection_t* x = connection->xcb();
    const xcb_window_t root = connection->root();
    const auto idOf = [](QWindow* window) { return static_cast<xcb_window_t>(window->winId()); };
    std::vector<QWindow*> shown;
    std::vector<xcb_query_tree_cookie_t> trees;
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (!window->isVisible() || window->type() == Qt::Desktop || window->type() == Qt::ForeignWindow) continue;
        withdrawn.visibleAtHide << QPointer<QWindow>(window);
        shown.push_back(window);
        trees.push_back(xcb_query_tree(x, idOf(window)));
    }
    std::vector<xcb_window_t> parents;
    for (const xcb_query_tree_cookie_t cookie : trees) {
        XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(x, cookie, nullptr));
        parents.push_back(tree ? tree->parent : xcb_window_t(XCB_WINDOW_NONE));
    }
    const xcb_atom_t wmState = X11Atoms::atom("WM_STATE");
    std::vector<std::optional<xcb_get_property_cookie_t>> states;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const bool reparented = parents[i] != root && parents[i] != XCB_WINDOW_NONE;
        states.push_back(reparented && wmState != XCB_ATOM_NONE
                             ? std::optional(xcb_get_property(x, 0, idOf(shown[i]), wmState, XCB_GET_PROPERTY_TYPE_ANY, 0, 2))
                             : std::nullopt);
    }
    std::vector<xcb_get_geometry_cookie_t> sizes;
    std::vector<xcb_translate_coordinates_cookie_t> origins;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (states[i]) {
            XcbReply<xcb_get_property_reply_t> state(xcb_get_property_reply(x, *states[i], nullptr));
            if (isEmbedded(state.get())) continue;
            withdrawn.frames.push_back(parents[i]);
        }
        withdrawn.windows << QPointer<QWindow>(shown[i]);
        sizes.push_back(xcb_get_geometry(x, idOf(shown[i])));
        origins.push_back(xcb_translate_coordinates(x, idOf(shown[i]), root, 0, 0));
    }
    // Where the server shows each window: Qt's own geometry of a window the window manager has
    // framed can read (0, 0), the place inside its frame.
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        XcbReply<xcb_get_geometry_reply_t> size(xcb_get_geometry_reply(x, sizes[i], nullptr));
        XcbReply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(x, origins[i], nullptr));
        if (size && origin) addLinesAcross(QRect(origin->dst_x, origin->dst_y, size->width, size->height), withdrawn.sample.lines);
    }
    withdrawn.sample.pixels = readLines(withdrawn.sample.lines);
    if (withdrawn.sample.pixels.empty()) withdrawn.sample.lines.clear();

    withdrawn.hidNow = !withdrawn.windows.isEmpty();
    if (withdrawn.hidNow) markDrawingBeforeHide(withdrawn);
    for (const QPointer<QWindow>& window : withdrawn.windows) window->hide();
    if (withdrawn.hidNow) {
        if (xcb_connection_t* qt = X11Atoms::connection()) {
            // A round trip on Qt's own connection: the server has now unmapped them.
            XcbReply<xcb_get_input_focus_reply_t> sync(xcb_get_input_focus_reply(qt, xcb_get_input_focus(qt), nullptr));
        }
    }
    // Windows still waiting to come back from an earlier grab stay hidden, and come back with these.
    withdrawn.windows += pendingRestore.windows;
    withdrawn.visibleAtHide += pendingRestore.visibleAtHide;
    pendingRestore = {};
    ++restoreGeneration;
    return withdrawn;
}

std::optional<OwnWindowWithdrawal::Withdrawn> OwnWindowWithdrawal::withdraw() {
    Withdrawn withdrawn;
    if (onMainThread()) {
        withdrawn = hideOwnWindows();
    } else {
        auto handOff = std::make_shared<HandOff>();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self = shared_from_this(), handOff] {
                std::lock_guard lock(handOff->mutex);
                if (handOff->abandoned) return;
                handOff->withdrawn = self->hideOwnWindows();
                handOff->finished = true;
                handOff->done.notify_all();
            },
            Qt::QueuedConnection);
        std::unique_lock lock(handOff->mutex);
        if (!handOff->done.wait_for(lock, handOffDeadline, [&] { return handOff->finished; })) {
            handOff->abandoned = true;
            qCWarning(lcCapture) << "the main thread did not hide our windows in time; no grab";
            return std::nullopt;
        }
        withdrawn = std::move(handOff->withdrawn);
    }
    if (!withdrawn.hidNow) return withdrawn;
    waitForFramesGone(withdrawn.frames);
    if (!waitForRepaint(withdrawn.sample, withdrawn.composited)) std::this_thread::sleep_for(settleTime);
    return withdrawn;
}

// Nine rows from the top edge to the bottom one: a window that looks like what lies beneath it
// (a preview of a plain desktop) still differs somewhere, at its edges and corners if nowhere
// else, so its going can be seen without waiting out the deadline.
void OwnWindowWithdrawal::addLinesAcross(const QRect& area, std::vector<QRect>& lines) const {
    constexpr int rows = 9;
    const QRect screen(QPoint(0, 0), displays->rootSize());
    const std::size_t first = lines.size();
    for (int i = 0; i < rows && area.height() > 0; ++i) {
        const int y = area.top() + i * (area.height() - 1) / (rows - 1);
        const QRect line = QRect(area.left(), y, qMin(area.width(), 1024), 1).intersected(screen);
        if (!line.isEmpty() && (lines.size() == first || lines.back() != line)) lines.push_back(line);
    }
}

std::vector<QByteArray> OwnWindowWithdrawal::readLines(const std::vector<QRect>& lines) const {
    xcb_connection_t* x = connection->xcb();
    std::vector<xcb_get_image_cookie_t> cookies;
    for (const QRect& line : lines) {  // every request is out before the first answer is read
        cookies.push_back(xcb_get_image(x, XCB_IMAGE_FORMAT_Z_PIXMAP, connection->root(), static_cast<std::int16_t>(line.x()),
                                        static_cast<std::int16_t>(line.y()), static_cast<std::uint16_t>(line.width()), 1, ~0u));
    }
    std::vector<QByteArray> pixels;
    for (const xcb_get_image_cookie_t cookie : cookies) {
        XcbReply<xcb_get_image_reply_t> reply(xcb_get_image_reply(x, cookie, nullptr));
        if (reply) {
            pixels.emplace_back(reinterpret_cast<const char*>(xcb_get_image_data(reply.get())),
                                xcb_get_image_data_length(reply.get()));
        }
    }
    if (pixels.size() != lines.size()) pixels.clear();
    return pixels;
}

// A compositor repaints in its own time, later still when the machine is busy, and a window we
// uncovered redraws when its owner gets round to it: wait (with a bound) until every sampled row
// no longer shows what our windows showed there, or was drawn over after the hide (what lies
// beneath may look just the same). A compositor's drawing may still be a frame of our windows,
// so there it only starts the settle time. Rows that never change get the settle time after the
// first row that did.
bool OwnWindowWithdrawal::waitForRepaint(const ScreenSample& sample, bool composited) const {
    if (sample.lines.empty()) return false;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + repaintDeadline;
    std::optional<Clock::time_point> firstChange;
    std::vector<bool> changed(sample.lines.size(), false);
    QRegion drawn;
    while (Clock::now() < deadline) {
        drawn += damage->collect();
        const std::vector<QByteArray> now = readLines(sample.lines);
        if (now.empty()) return false;  // the screen cannot be read: nothing more to learn
        bool all = true;
        for (std::size_t row = 0; row < now.size(); ++row) {
            const bool drawnOver = QRegion(sample.lines[row]).subtracted(drawn).isEmpty();
            if (now[row] != sample.pixels[row] || (drawnOver && !composited)) changed[row] = true;
            if ((changed[row] || drawnOver) && !firstChange) firstChange = Clock::now();
            all = all && changed[row];
        }
        if (all) return true;
        if (firstChange && Clock::now() - *firstChange >= settleTime) return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

void OwnWindowWithdrawal::waitForFramesGone(const std::vector<xcb_window_t>& frames) const {
    const auto deadline = std::chrono::steady_clock::now() + frameDeadline;
    xcb_connection_t* x = connection->xcb();
    for (xcb_window_t frame : frames) {
        while (std::chrono::steady_clock::now() < deadline) {
            XcbReply<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(x, xcb_get_window_attributes(x, frame), nullptr));
            if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) break;
            std::this_thread::sleep_for(1ms);
        }
    }
}

void OwnWindowWithdrawal::restore(const Withdrawn& withdrawn) {
    if (withdrawn.windows.isEmpty()) return;
    const auto later = [self = shared_from_this(), withdrawn] {
        self->pendingRestore.windows += withdrawn.windows;
        self->pendingRestore.visibleAtHide += withdrawn.visibleAtHide;
        const unsigned generation = ++self->restoreGeneration;
        QTimer::singleShot(restoreDelay, QCoreApplication::instance(),
                           [weak = std::weak_ptr<OwnWindowWithdrawal>(self), generation] {
                               const auto alive = weak.lock();
                               if (alive && alive->restoreGeneration == generation) alive->showPending();
                           });
    };
    if (onMainThread()) {
        later();
    } else {
        QMetaObject::invokeMethod(QCoreApplication::instance(), later, Qt::QueuedConnection);
    }
}

void OwnWindowWithdrawal::showPending() {
    const Withdrawn back = std::exchange(pendingRestore, {});
    // A window closed meanwhile is gone (QPointer) and stays so.
    for (const QPointer<QWindow>& window : back.windows) {
        if (window) window->setVisible(true);
    }
    // A window manager may stack the windows it frames anew above everything: those of ours that
    // showed while these were away (the overlay) go back on top.
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (window->isVisible() && window->type() != Qt::Desktop && window->type() != Qt::ForeignWindow &&
            !back.windows.contains(window) && !back.visibleAtHide.contains(window)) {
            window->raise();
        }
    }
}

}  // namespace quillet
