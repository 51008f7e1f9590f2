// The private X session itself: a real window's exact pixels can be found in a root grab, and
// a split screen shows up in Qt as two displays.
#include "e2e/harness/XSession.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

using quillet::e2e::XSession;

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1280, 800), QRect(1280, 0, 1024, 768)}});

namespace {

class PatternWindow : public QWidget {
public:
    PatternWindow() { setWindowFlag(Qt::FramelessWindowHint); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(0, 0, width() / 2, height() / 2, QColor(255, 0, 0));
        painter.fillRect(width() / 2, 0, width() - width() / 2, height() / 2, QColor(0, 255, 0));
        painter.fillRect(0, height() / 2, width() / 2, height() - height() / 2, QColor(0, 0, 255));
        painter.fillRect(width() / 2, height() / 2, width() - width() / 2, height() - height() / 2, QColor(250, 250, 20));
    }
};

}  // namespace

TEST(Harness, SplitScreenIsTwoDisplays) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 2);
    QList<QRect> geometries;
    for (QScreen* screen : screens) geometries << screen->geometry();
    EXPECT_TRUE(geometries.contains(QRect(0, 0, 1280, 800)));
    EXPECT_TRUE(geometries.contains(QRect(1280, 0, 1024, 768)));
    EXPECT_TRUE(XSession::current().hasSelectionOwner("_NET_SYSTEM_TRAY_S0"));
}

TEST(Harness, WindowPixelsAppearInRootGrab) {
    PatternWindow window;
    window.setGeometry(1400, 200, 200, 120);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 10000));

    auto& session = XSession::current();
    QImage grab;
    const QRect where(window.mapToGlobal(QPoint(0, 0)), window.size());
    // The window manager may still be placing the window: wait until the grab shows it.
    const bool seen = XSession::waitUntil([&] {
        grab = session.importRoot();
        return !grab.isNull() && grab.pixelColor(where.topLeft() + QPoint(5, 5)) == QColor(255, 0, 0) &&
               grab.pixelColor(where.bottomRight() - QPoint(5, 5)) == QColor(250, 250, 20);
    });
    ASSERT_TRUE(seen) << "window at " << where.x() << "," << where.y();
    ASSERT_EQ(grab.size(), QSize(2304, 800));
    for (int y = 0; y < where.height(); ++y) {
        for (int x = 0; x < where.width(); ++x) {
            const QColor expected = y < 60 ? (x < 100 ? QColor(255, 0, 0) : QColor(0, 255, 0))
                                           : (x < 100 ? QColor(0, 0, 255) : QColor(250, 250, 20));
            ASSERT_EQ(grab.pixelColor(where.x() + x, where.y() + y), expected) << x << "," << y;
        }
    }
}
