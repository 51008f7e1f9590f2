// Previews on a real X server with a window manager and a task bar on two displays: where the
// panels go, how many fit, when they leave, dragging one out into a window that takes files,
// and that none of it takes the keyboard focus from the window the user works in.
#include "ui/previews/PreviewPanel.h"
#include "ui/previews/PreviewStack.h"
#include "core/ImageCodec.h"
#include "e2e/harness/XSession.h"
#include "e2e/harness/X11Parts.h"
#include "e2e/harness/XWindows.h"
#include "platform/x11/DisplayIdentity.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace quillet;
using namespace std::chrono_literals;
using namespace quillet::e2e;

// Two displays side by side, each with tint2's 30-point task bar at its bottom, so each has a
// work area 800 points high.
QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1024, 830), QRect(1024, 0, 1280, 830)}});

namespace {

// A window that takes dropped files, as a file manager or a chat would.
class DropTarget : public QWidget {
public:
    DropTarget() {
        setAcceptDrops(true);
        setWindowTitle(QStringLiteral("drop target"));
    }
    std::atomic_bool entered = false;
    std::atomic_bool dropped = false;
    QList<QUrl> urls;  // read after `dropped`

protected:
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (!event->mimeData()->hasUrls()) return;
        entered = true;
        event->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override {
        urls = event->mimeData()->urls();
        event->acceptProposedAction();
        dropped = true;
    }
};

// Tells the pointer's thread how a panel's drag is going. The platform's drag runs an event
// loop of its own, in which this timer keeps firing.
class DragWatch {
public:
    explicit DragWatch(PreviewPanel* panel) : panel(panel) {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const bool dragging = this->panel && this->panel->content()->isDragging();
            if (dragging) started = true;
            if (dragging && !this->panel->content()->isOverlayShown()) overlayLost = true;
            if (started && !dragging) ended = true;
        });
        timer.start(5);
    }
    std::atomic_bool started = false;
    std::atomic_bool ended = false;
    std::atomic_bool overlayLost = false;  // the overlay went away while the drag was on

private:
    QPointer<PreviewPanel> panel;
    QTimer timer;
};

bool waitForFlag(const std::atomic_bool& flag, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!flag && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
    return flag.load();
}

// Presses at `from`, drags to `to` and releases there, with xdotool on a thread of its own
// while this thread keeps the application running: once a drag starts, the application sits
// in the platform's drag loop until the button comes up. The pointer keeps nudging over `to`
// until `arrived` holds, then releases and waits for `finished`. Both flags are atomics that
// the application's side sets.
bool dragWithPointer(QPoint from, QPoint to, const std::atomic_bool& arrived, const std::atomic_bool& finished) {
    std::atomic_bool done = false;
    std::atomic_bool reached = false;
    std::thread pointer([&] {
        auto xdotool = [](const QStringList& arguments) { QProcess::execute(QStringLiteral("xdotool"), arguments); };
        auto moveTo = [&](QPoint point) {
            xdotool({QStringLiteral("mousemove"), QString::number(point.x()), QString::number(point.y())});
        };
        moveTo(from);
        xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
        moveTo(from + QPoint(12, 0));
        const auto end = std::chrono::steady_clock::now() + 15s;
        int step = 0;
        for (; !arrived && std::chrono::steady_clock::now() < end; ++step) {
            moveTo(to + QPoint(step % 2, 0));
            waitForFlag(arrived, 100ms);
        }
        reached = arrived.load();
        // A couple more positions over the destination before letting go.
        for (int extra = 0; extra < 2; ++extra, ++step) moveTo(to + QPoint(step % 2, 0));
        xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
        waitForFlag(finished, 10s);
        done = true;
    });
    const bool completed = XSession::waitUntil([&] { return done.load(); }, 40s);
    pointer.join();
    return completed && reached && finished;
}

class PreviewsE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temp.isValid());
        for (QScreen* screen : QGuiApplication::screens()) {
            if (screen->geometry().x() == 1024) displayB = screen;
        }
        ASSERT_TRUE(displayB);
        // Display B less tint2's bar; the first preview sits 20 points from its bottom-left.
        place = QRect(1024 + 20, 800 - 20 - 150, 210, 150);
        parkPointer();
    }

    // On display A, away from every preview.
    void parkPointer() { pointerTo(QPoint(500, 100)); }

    // Shows a capture of `size` on display B and waits until the X server shows its panel.
    QUuid showOnB(QSize size = QSize(800, 500)) {
        QImage image(size, QImage::Format_ARGB32);
        image.fill(QColor(30, 140, 220));
        const QUuid id = stack.show(CapturedImage{image, DisplayIdentity::displayID(displayB), CaptureKind::region}, PNGFuture(image));
        const bool mapped = XSession::waitUntil([&] {
            const XWindowState shown = xWindow(stack.panel(id)->winId());
            return shown.viewable && shown.rect == place;
        }, 10s);
        EXPECT_TRUE(mapped) << "X shows the panel at " << xWindow(stack.panel(id)->winId()).rect.x() << ","
                            << xWindow(stack.panel(id)->winId()).rect.y();
        return mapped ? id : QUuid();
    }

    QTemporaryDir temp;
    QString dragRoot = temp.path() + QStringLiteral("/org.quillet.Quillet-drag");
    PlainClipboard clipboard;
    test::X11Parts x11;
    PreviewStack stack{clipboard, x11.previewDesktop(), dragRoot};
    QScreen* displayB = nullptr;
    QRect place;
};

}  // namespace

TEST_F(PreviewsE2E, SitsTwentyPointsFromTheWorkAreasBottomLeftAndKeepsOutOfTheTaskBar) {
    const QUuid id = showOnB();
    ASSERT_FALSE(id.isNull());
    const auto properties = XSession::current().run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(stack.panel(id)->winId())});
    const QByteArray text = properties.out;
    EXPECT_TRUE(text.contains("_NET_WM_STATE_SKIP_TASKBAR")) << text.constData();
    EXPECT_TRUE(text.contains("_NET_WM_DESKTOP(CARDINAL) = 4294967295"));  // every desktop
    EXPECT_TRUE(text.contains("_NET_WM_STATE_ABOVE"));
    EXPECT_TRUE(text.contains("_NET_WM_WINDOW_TYPE_NOTIFICATION"));
    EXPECT_TRUE(text.contains("Client accepts input or input focus: False"));
    EXPECT_FALSE(text.contains("WM_TAKE_FOCUS"));
}

TEST_F(PreviewsE2E, WithoutACompositorTheCardIsOpaqueWithSquareCorners) {
    FlatWindow backdrop(place.adjusted(-30, -30, 30, 30), Qt::white);
    backdrop.show();
    const QUuid id = showOnB();
    ASSERT_FALSE(id.isNull());
    EXPECT_FALSE(stack.panel(id)->hasRoundedCard());

    // Whatever lies beneath, the corner and the strip above the picture show the card itself.
    const QColor card(44, 44, 46);
    for (QColor beneath : {QColor(Qt::white), QColor(Qt::red)}) {
        backdrop.setColour(beneath);
        QImage grab;
        const bool seen = XSession::waitUntil([&] {
            grab = XSession::current().importRoot();
            return !grab.isNull() && grab.pixelColor(place.topLeft() - QPoint(15, 15)) == beneath &&
                   grab.pixelColor(place.topLeft() + QPoint(100, 3)) == card;
        });
        ASSERT_TRUE(seen) << "beneath " << beneath.name().toStdString();
        EXPECT_EQ(grab.pixelColor(place.topLeft() + QPoint(1, 1)), card);
        EXPECT_EQ(grab.pixelColor(place.bottomRight() - QPoint(1, 1)), card);
    }
}

TEST_F(PreviewsE2E, HoveredPreviewStaysUntilThePointerLeaves) {
    const QUuid id = showOnB();
    ASSERT_FALSE(id.isNull());
    PreviewPanel* panel = stack.panel(id);

    // On the card, away from the copy button in its middle.
    pointerTo(place.topLeft() + QPoint(40, 40));
    ASSERT_TRUE(XSession::waitUntil([&] { return panel->content()->isOverlayShown(); }, 5s));

    // The pointer on it holds it; once the pointer leaves it counts down again and goes.
    EXPECT_EQ(stack.stackModel().nextDeadline(), std::nullopt);
    parkPointer();
    ASSERT_TRUE(XSession::waitUntil([&] { return !panel->content()->isOverlayShown(); }, 5s));
    EXPECT_TRUE(stack.stackModel().nextDeadline().has_value());
    EXPECT_TRUE(XSession::waitUntil([&] { return stack.panel(id) == nullptr; }, 10s));
}

TEST_F(PreviewsE2E, DraggedIntoAWindowThatTakesFilesItDeliversThePNGAndLeaves) {
    DropTarget target;
    target.setGeometry(150, 150, 400, 300);
    target.show();
    ASSERT_TRUE(XSession::waitUntil([&] { return xWindow(target.winId()).viewable; }));
    const QUuid id = showOnB(QSize(640, 400));
    ASSERT_FALSE(id.isNull());
    const QPointer<PreviewPanel> panel = stack.panel(id);

    DragWatch watch(panel);
    ASSERT_TRUE(dragWithPointer(place.topLeft() + QPoint(40, 40), target.geometry().center(), target.entered, watch.ended));
    ASSERT_TRUE(target.dropped);
    ASSERT_EQ(target.urls.size(), 1);
    ASSERT_TRUE(target.urls[0].isLocalFile());
    const QString file = target.urls[0].toLocalFile();
    EXPECT_TRUE(file.startsWith(dragRoot + QLatin1Char('/'))) << file.toStdString();
    EXPECT_TRUE(QFileInfo(file).fileName().startsWith(QStringLiteral("Quillet ")));
    QFile png(file);
    ASSERT_TRUE(png.open(QIODevice::ReadOnly));
    const auto decoded = ImageCodec::decode(png.readAll());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size(), QSize(640, 400));

    // The preview is used up; its file stays for the destination to read.
    EXPECT_TRUE(XSession::waitUntil([&] { return stack.panel(id) == nullptr && panel.isNull(); }, 5s));
    EXPECT_FALSE(XSession::waitUntil([&] { return !QFileInfo::exists(file); }, 2s));
}

TEST_F(PreviewsE2E, RefusedDropKeepsThePreviewAndEndsTheHover) {
    const QUuid id = showOnB();
    ASSERT_FALSE(id.isNull());
    const QPointer<PreviewPanel> panel = stack.panel(id);

    // Onto the bare desktop of display A, which takes nothing.
    DragWatch watch(panel);
    ASSERT_TRUE(dragWithPointer(place.topLeft() + QPoint(40, 40), QPoint(700, 500), watch.started, watch.ended));
    ASSERT_TRUE(panel);
    EXPECT_FALSE(watch.overlayLost);
    EXPECT_EQ(stack.panel(id), panel.data());
    EXPECT_FALSE(panel->content()->isOverlayShown());
    // The pointer is elsewhere: the preview counts down again.
    EXPECT_TRUE(stack.stackModel().nextDeadline().has_value());
    EXPECT_TRUE(XSession::waitUntil([&] { return panel.isNull(); }, 10s));
}

TEST_F(PreviewsE2E, UsingAPreviewNeverTakesTheFocusFromTheActiveWindow) {
    QWidget work;
    auto* layout = new QVBoxLayout(&work);
    auto* field = new QLineEdit(&work);
    layout->addWidget(field);
    work.setWindowTitle(QStringLiteral("work"));
    work.setGeometry(200, 200, 400, 120);
    work.show();
    work.activateWindow();
    field->setFocus();
    const auto workWindow = std::uint32_t(work.winId());
    ASSERT_TRUE(XSession::waitUntil([&] { return activeWindow() == workWindow && QApplication::focusWidget() == field; }));

    const QUuid first = showOnB();
    ASSERT_FALSE(first.isNull());
    QImage pixelsA(400, 300, QImage::Format_ARGB32);
    pixelsA.fill(Qt::gray);
    const CapturedImage onA{pixelsA, DisplayIdentity::displayID(QGuiApplication::primaryScreen()), CaptureKind::region};
    ASSERT_TRUE(stack.panel(stack.show(onA, PNGFuture(onA.image))));
    PreviewPanel* panel = stack.panel(first);

    // Copy from the pill in the middle, pin, and click the bare card.
    pointerTo(place.center());
    ASSERT_TRUE(XSession::waitUntil([&] { return panel->content()->isOverlayShown(); }, 5s));
    XSession::current().xdotool({QStringLiteral("click"), QStringLiteral("1")});
    ASSERT_TRUE(XSession::waitUntil([&] { return clipboard.puts == 1; }, 5s));
    EXPECT_EQ(panel->content()->copyButton->title(), QStringLiteral("Скопировано"));
    pointerTo(panel->content()->pinButton->geometry().center() + place.topLeft(), {QStringLiteral("click"), QStringLiteral("1")});
    ASSERT_TRUE(XSession::waitUntil([&] { return stack.stackModel().isPinned(first); }, 5s));
    pointerTo(place.topLeft() + QPoint(40, 60), {QStringLiteral("click"), QStringLiteral("1")});

    // The pasted image is the capture.
    EXPECT_EQ(pastedImage().size(), QSize(800, 500));
    EXPECT_EQ(activeWindow(), workWindow);
    EXPECT_EQ(QApplication::focusWidget(), field);
    // Typing still goes to the window the user works in.
    XSession::current().xdotool({QStringLiteral("type"), QStringLiteral("abc")});
    EXPECT_TRUE(XSession::waitUntil([&] { return field->text() == QStringLiteral("abc"); }, 5s)) << field->text().toStdString();
    EXPECT_EQ(activeWindow(), workWindow);
}
