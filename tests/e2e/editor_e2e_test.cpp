// The editor as a user meets it: the real `quillet` executable in a private X session, a region
// capture, a double click on its preview, an arrow drawn with the mouse, Ctrl+S; the edited
// picture is read back from the clipboard with xclip and found in the history's index.
#include "e2e/harness/XSession.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

using quillet::e2e::XSession;
using namespace std::chrono_literals;

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1280, 800)}});

namespace {

const QColor fill(30, 160, 90);

class SolidWindow : public QWidget {
public:
    SolidWindow() { setWindowFlag(Qt::FramelessWindowHint); }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), fill); }
};

QString historyFolder() { return XSession::current().home() + QStringLiteral("/Pictures/Quillet"); }

QJsonArray indexItems() {
    QFile index(historyFolder() + QStringLiteral("/.history.json"));
    if (!index.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(index.readAll()).object().value(QStringLiteral("items")).toArray();
}

QImage pastedImage() {
    const auto pasted = XSession::current().xclipOut(QStringLiteral("image/png"));
    return pasted.ok() ? QImage::fromData(pasted.out, "PNG") : QImage();
}

QList<QByteArray> visibleWindows(const QStringList& how) {
    const auto found = XSession::current().xdotool(QStringList{QStringLiteral("search"), QStringLiteral("--onlyvisible")} + how);
    QList<QByteArray> ids;
    for (const QByteArray& id : found.out.split('\n'))
        if (!id.trimmed().isEmpty()) ids.append(id.trimmed());
    return ids;
}

QList<QByteArray> editorWindows() { return visibleWindows({QStringLiteral("--name"), QStringLiteral("^Редактор$")}); }

QRect windowGeometry(const QByteArray& id) {
    const auto shown = XSession::current().xdotool(
        {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), QString::fromLatin1(id)});
    int x = 0, y = 0, width = 0, height = 0;
    for (const QByteArray& line : shown.out.split('\n')) {
        const QList<QByteArray> pair = line.split('=');
        if (pair.size() != 2) continue;
        const int value = pair[1].trimmed().toInt();
        if (pair[0] == "X") x = value;
        if (pair[0] == "Y") y = value;
        if (pair[0] == "WIDTH") width = value;
        if (pair[0] == "HEIGHT") height = value;
    }
    return QRect(x, y, width, height);
}

// The overlay is a window of the application covering the whole display.
bool overlayShown() {
    for (const QByteArray& id : visibleWindows({QStringLiteral("--class"), QStringLiteral("quillet")}))
        if (windowGeometry(id).size() == QSize(1280, 800)) return true;
    return false;
}

// The preview card: the application's small window at the bottom-left of the display.
std::optional<QRect> previewGeometry() {
    for (const QByteArray& id : visibleWindows({QStringLiteral("--class"), QStringLiteral("quillet")})) {
        const QRect frame = windowGeometry(id);
        if (frame.width() > 0 && frame.width() < 400 && frame.left() < 100 && frame.bottom() > 500) return frame;
    }
    return std::nullopt;
}

// Above the copy button in the card's middle and between the corner buttons.
QPoint cardSpot(const QRect& card) { return QPoint(card.center().x(), card.top() + 32); }

void pointer(const QString& action, QPoint at) {
    XSession::current().xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())});
    if (!action.isEmpty()) XSession::current().xdotool({action, QStringLiteral("1")});
}

bool hasRed(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 110 && c.blue() < 110) return true;
        }
    return false;
}

}  // namespace

TEST(Editor, DoubleClickOnThePreviewEditsAndCtrlSSavesAnEditedCopy) {
    auto& session = XSession::current();
    SolidWindow window;
    window.setGeometry(200, 150, 500, 400);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 10000));
    const QPoint inside = window.mapToGlobal(QPoint(50, 50));

    QProcess* app = session.startProcess(QStringLiteral(QUILLET_EXECUTABLE), {});
    ASSERT_EQ(app->state(), QProcess::Running);

    // A region capture of 300 × 200 plain green pixels.
    pointer(QString(), inside);
    const bool overlay = XSession::waitUntil([&] {
        session.xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60"), QStringLiteral("Control_L"),
                         QStringLiteral("Control_L")});
        return XSession::waitUntil(overlayShown, 2s);
    }, 40s);
    ASSERT_TRUE(overlay) << "no overlay after double Control";
    const QPoint to = inside + QPoint(300, 200);
    session.xdotool({QStringLiteral("mousedown"), QStringLiteral("1"), QStringLiteral("mousemove"), QString::number(to.x()),
                     QString::number(to.y()), QStringLiteral("mouseup"), QStringLiteral("1")});
    ASSERT_TRUE(XSession::waitUntil([] { return indexItems().size() == 1; }, 20s));
    const QString capturedID = indexItems().at(0).toObject().value(QStringLiteral("id")).toString();

    // Hovering keeps the preview; its double click opens the editor.
    std::optional<QRect> preview;
    ASSERT_TRUE(XSession::waitUntil([&] { return (preview = previewGeometry()).has_value(); }, 10s)) << "no preview";
    pointer(QString(), cardSpot(*preview));
    session.xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"), QStringLiteral("--delay"),
                     QStringLiteral("80"), QStringLiteral("1")});
    QList<QByteArray> editors;
    ASSERT_TRUE(XSession::waitUntil([&] { return (editors = editorWindows()).size() == 1; }, 20s))
        << "no window named Редактор";
    const QRect frame = windowGeometry(editors[0]);
    ASSERT_GE(frame.width(), 480);
    ASSERT_GE(frame.height(), 320);

    // The 300 × 200 picture is shown at its own size in the middle of the canvas below the
    // 44-point toolbar. An arrow across it:
    const QPoint imageOrigin(frame.left() + (frame.width() - 300) / 2, frame.top() + 44 + (frame.height() - 44 - 200) / 2);
    const QPoint from = imageOrigin + QPoint(40, 100), tip = imageOrigin + QPoint(260, 100);
    session.xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::fromLatin1(editors[0])});
    pointer(QStringLiteral("mousedown"), from);
    pointer(QString(), (from + tip) / 2);
    pointer(QStringLiteral("mouseup"), tip);
    session.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+s")});

    QImage edited;
    ASSERT_TRUE(XSession::waitUntil([&] {
        edited = pastedImage();
        return edited.size() == QSize(300, 200) && hasRed(edited);
    }, 20s)) << "no edited picture with a red arrow on the clipboard";
    EXPECT_EQ(edited.pixelColor(5, 5), fill) << "away from the arrow the picture is unchanged";
    EXPECT_TRUE(hasRed(edited.copy(QRect(120, 80, 60, 40)))) << "the arrow runs across the middle";

    ASSERT_TRUE(XSession::waitUntil([] { return indexItems().size() == 2; }, 20s));
    QJsonObject editedItem;
    for (const QJsonValue& item : indexItems())
        if (item.toObject().value(QStringLiteral("kind")).toString() == QStringLiteral("edited")) editedItem = item.toObject();
    EXPECT_EQ(editedItem.value(QStringLiteral("sourceID")).toString(), capturedID);
    EXPECT_TRUE(XSession::waitUntil([] { return editorWindows().isEmpty(); }, 10s)) << "the window closes after saving";

    // The preview now shows the edit; opening it again and closing with changes asks first.
    ASSERT_TRUE(XSession::waitUntil([&] { return (preview = previewGeometry()).has_value(); }, 10s));
    pointer(QString(), cardSpot(*preview));
    session.xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"), QStringLiteral("--delay"),
                     QStringLiteral("80"), QStringLiteral("1")});
    ASSERT_TRUE(XSession::waitUntil([&] { return (editors = editorWindows()).size() == 1; }, 20s));
    const QRect second = windowGeometry(editors[0]);
    const QPoint origin2(second.left() + (second.width() - 300) / 2, second.top() + 44 + (second.height() - 44 - 200) / 2);
    session.xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::fromLatin1(editors[0])});
    pointer(QStringLiteral("mousedown"), origin2 + QPoint(40, 40));
    pointer(QStringLiteral("mouseup"), origin2 + QPoint(200, 60));
    session.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+w")});
    // The question is a second window of the editor's title.
    ASSERT_TRUE(XSession::waitUntil([] { return editorWindows().size() == 2; }, 10s)) << "closing with changes did not ask";
    session.xdotool({QStringLiteral("key"), QStringLiteral("Escape")});  // "Отмена"
    EXPECT_TRUE(XSession::waitUntil([] { return editorWindows().size() == 1; }, 10s)) << "Отмена keeps the window";
    EXPECT_EQ(indexItems().size(), 2) << "nothing was saved";

    app->terminate();
    ASSERT_TRUE(XSession::waitUntil([&] { return app->state() == QProcess::NotRunning; }, 20s));
    EXPECT_EQ(app->exitCode(), 0);
    session.stopProcess(app);
}
