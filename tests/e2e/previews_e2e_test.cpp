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
#include <QElapsedTimer>
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
        const QList<QScreen*> screens = QGuiApplication::screens();
        ASSERT_EQ(screens.size(), 2);
        for (QScreen* screen : screens) {
            if (screen->geometry().x() == 1024) displayB = screen;
        }
        ASSERT_TRUE(displayB);
        // Park the pointer on display A, away from every preview.
        parkPointer();
    }

    // Display B less tint2's bar along its bottom.
    QRect workAreaB() const { return QRect(displayB->geometry().topLeft(), QSize(1280, 800)); }

    void parkPointer() { XSession::current().xdotool({QStringLiteral("mousemove"), QStringLiteral("500"), QStringLiteral("100")}); }

    CapturedImage captureOn(QScreen* screen, QSize size = QSize(800, 500)) {
        QImage image(size, QImage::Format_ARGB32);
        image.fill(QColor(30, 140, 220));
        return CapturedImage{image, DisplayIdentity::displayID(screen), CaptureKind::region};
    }

    QUuid show(PreviewStack& stack, QScreen* screen) {
        const CapturedImage image = captureOn(screen);
        return stack.show(image, PNGFuture(image.image));
    }

    // Waits until the X server shows the panel where the stack put it.
    bool mappedAt(PreviewPanel* panel, QRect expected) {
        return XSession::waitUntil([&] {
            const XWindowState geometry = xWindow(panel->winId());
            return geometry.viewable && geometry.rect == expected;
        }, 10s);
    }

    QTemporaryDir temp;
    QString dragRoot = temp.path() + QStringLiteral("/org.quillet.Quillet-drag");
    PlainClipboard clipboard;
    QScreen* displayB = nullptr;
};

}  // namespace

TEST_F(PreviewsE2E, SitsTwentyPointsFromTheWorkAreasBottomLeftAndKeepsOutOfTheTaskBar) {
    const QRect area = workAreaB();

    test::X11Parts x11;
    PreviewStack stack(clipboard, x11.previewDesktop(), dragRoot);
    const QUuid id = show(stack, displayB);
    PreviewPanel* panel = stack.panel(id);
    ASSERT_TRUE(panel);
    const QRect expected(area.left() + 20, area.top() + area.height() - 20 - 150, 210, 150);
    EXPECT_TRUE(mappedAt(panel, expected)) << "X says " << xWindow(panel->winId()).rect.x() << ","
                                           << xWindow(panel->winId()).rect.y();

    const auto properties = XSession::current().run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(panel->winId())});
    const QByteArray text = properties.out;
    EXPECT_TRUE(text.contains("_NET_WM_STATE_SKIP_TASKBAR")) << text.constData();
    EXPECT_TRUE(text.contains("_NET_WM_DESKTOP(CARDINAL) = 4294967295"));  // every desktop
    EXPECT_TRUE(text.contains("_NET_WM_STATE_ABOVE"));
    EXPECT_TRUE(text.contains("_NET_WM_WINDOW_TYPE_NOTIFICATION"));
    EXPECT_TRUE(text.contains("Client accepts input or input focus: False"));
    EXPECT_FALSE(text.contains("WM_TAKE_FOCUS"));
}

TEST_F(PreviewsE2E, WithoutACompositorTheCardIsOpaqueWithSquareCorners) {
    test::X11Parts x11;
    PreviewStack stack(clipboard, x11.previewDesktop(), dragRoot);
    const QRect area = workAreaB();
    const QRect place(area.left() + 20, area.top() + area.height() - 170, 210, 150);
    FlatWindow backdrop(place.adjusted(-30, -30, 30, 30), Qt::white);
    backdrop.show();
    const QUuid id = show(stack, displayB);
    ASSERT_TRUE(mappedAt(stack.panel(id), place));
    EXPECT_FALSE(stack.panel(id)->hasRoundedCard());

    // Whatever lies beneath, the corner and the strip above the picture show the card itself.
    auto& x = XSession::current();
    const QColor card(44, 44, 46);
    for (QColor beneath : {QColor(Qt::white), QColor(Qt::red)}) {
        backdrop.setColour(beneath);
        QImage grab;
        const bool seen = XSession::waitUntil([&] {
            grab = x.importRoot();
            return !grab.isNull() && grab.pixelColor(place.topLeft() - QPoint(15, 15)) == beneath &&
                   grab.pixelColor(place.topLeft() + QPoint(100, 3)) == card;
        });
        ASSERT_TRUE(seen) << "beneath " << beneath.name().toStdString();
        EXPECT_EQ(grab.pixelColor(place.topLeft() + QPoint(1, 1)), card);
        EXPECT_EQ(grab.pixelColor(place.bottomRight() - QPoint(1, 1)), card);
    }
}

TEST_F(PreviewsE2E, HoveredPreviewStaysUntilThePointerLeaves) {
    test::X11Parts x11;
    PreviewStack stack(clipboard, x11.previewDesktop(), dragRoot);
    const QUuid id = show(stack, displayB);
    PreviewPanel* panel = stack.panel(id);
    const QRect area = workAreaB();
    const QRect place(area.left() + 20, area.top() + area.height() - 170, 210, 150);
    ASSERT_TRUE(mappedAt(panel, place));

    // On the card, away from the copy button in its middle.
    auto& x = XSession::current();
    x.xdotool({QStringLiteral("mousemove"), QString::number(place.left() + 40), QString::number(place.top() + 40)});
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

    test::X11Parts x11;
    PreviewStack stack(clipboard, x11.previewDesktop(), dragRoot);
    EXPECT_EQ(stack.draggedFileLifetime, 120s);
    const CapturedImage image = captureOn(displayB, QSize(640, 400));
    const QUuid id = stack.show(image, PNGFuture(image.image));
    const QPointer<PreviewPanel> panel = stack.panel(id);
    const QRect area = workAreaB();
    const QRect place(area.left() + 20, area.top() + area.height() - 170, 210, 150);
    ASSERT_TRUE(mappedAt(panel, place));

    const QPoint grab(place.left() + 40, place.top() + 40);
    DragWatch watch(panel);
    ASSERT_TRUE(dragWithPointer(grab, target.geometry().center(), target.entered, watch.ended));
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
    EXPECT_TRUE(QFileInfo::exists(file));
    EXPECT_FALSE(XSession::waitUntil([&] { return !QFileInfo::exists(file); }, 2s));
}

TEST_F(PreviewsE2E, RefusedDropKeepsThePreviewAndEndsTheHover) {
    test::X11Parts x11;
    PreviewStack stack(clipboard, x11.previewDesktop(), dragRoot);
    const QUuid id = show(stack, displayB);
    const QPointer<PreviewPanel> panel = stack.panel(id);
    const QRect area = workAreaB();
    const QRect place(area.left() + 20, area.top() + area.height() - 170, 210, 150);
    ASSERT_TRUE(mappedAt(panel, place));

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

    test::X11Parts x11;
    PreviewStack stack(clipboard, x11.previewDesktop(), dragRoot);
    const QUuid first = show(stack, displayB);
    const QUuid second = show(stack, QGuiApplication::primaryScreen());
    PreviewPanel* panel = stack.panel(first);
    const QRect area = workAreaB();
    const QRect place(area.left() + 20, area.top() + area.height() - 170, 210, 150);
    ASSERT_TRUE(mappedAt(panel, place));
    ASSERT_TRUE(stack.panel(second));

    auto& x = XSession::current();
    // Copy from the pill in the middle, pin, and click the bare card.
    x.xdotool({QStringLiteral("mousemove"), QString::number(place.center().x()), QString::number(place.center().y())});
    ASSERT_TRUE(XSession::waitUntil([&] { return panel->content()->isOverlayShown(); }, 5s));
    x.xdotool({QStringLiteral("click"), QStringLiteral("1")});
    ASSERT_TRUE(XSession::waitUntil([&] { return clipboard.puts == 1; }, 5s));
    EXPECT_EQ(panel->content()->copyButton->title(), QStringLiteral("Скопировано"));
    const QPoint pin = panel->content()->pinButton->geometry().center() + place.topLeft();
    x.xdotool({QStringLiteral("mousemove"), QString::number(pin.x()), QString::number(pin.y()), QStringLiteral("click"), QStringLiteral("1")});
    ASSERT_TRUE(XSession::waitUntil([&] { return stack.stackModel().isPinned(first); }, 5s));
    x.xdotool({QStringLiteral("mousemove"), QString::number(place.left() + 40), QString::number(place.top() + 60), QStringLiteral("click"), QStringLiteral("1")});

    // The pasted image is the capture.
    const auto pasted = x.xclipOut(QStringLiteral("image/png"));
    ASSERT_TRUE(pasted.ok());
    EXPECT_EQ(QImage::fromData(pasted.out, "PNG").size(), QSize(800, 500));

    EXPECT_EQ(activeWindow(), workWindow);
    EXPECT_EQ(QApplication::focusWidget(), field);
    // Typing still goes to the window the user works in.
    x.xdotool({QStringLiteral("type"), QStringLiteral("abc")});
    EXPECT_TRUE(XSession::waitUntil([&] { return field->text() == QStringLiteral("abc"); }, 5s)) << field->text().toStdString();
    EXPECT_EQ(activeWindow(), workWindow);
}
