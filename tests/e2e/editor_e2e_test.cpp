// The editor as a user meets it: the real `quillet` executable in a private X session, a region
// capture, a double click on its preview, an arrow drawn with the mouse, Ctrl+S; the edited
// picture is read back from the clipboard with xclip and found in the history's index.
#include "e2e/harness/XSession.h"
#include "e2e/harness/XWindows.h"

#include <QTest>

#include <gtest/gtest.h>

using namespace quillet::e2e;

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1280, 800)}});

namespace {

const QColor fill(30, 160, 90);

QList<std::uint32_t> editorWindows() { return visibleWindows({QStringLiteral("--name"), QStringLiteral("^Редактор$")}); }

// The preview card: the application's small window at the bottom-left of the display.
std::optional<QRect> previewGeometry() {
    for (const std::uint32_t id : visibleWindows({QStringLiteral("--class"), QStringLiteral("quillet")})) {
        const QRect frame = xWindow(id).rect;
        if (frame.width() > 0 && frame.width() < 400 && frame.left() < 100 && frame.bottom() > 500) return frame;
    }
    return std::nullopt;
}

// Opens the editor with a double click on the card, above its copy button and between the
// corner buttons; the 300 × 200 picture's top-left: at its own size, centred below the
// 44-point toolbar.
std::optional<QPoint> openEditor() {
    std::optional<QRect> card;
    if (!XSession::waitUntil([&] { return (card = previewGeometry()).has_value(); }, 10s)) return std::nullopt;
    pointerTo(QPoint(card->center().x(), card->top() + 32),
              {QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"), QStringLiteral("--delay"),
               QStringLiteral("80"), QStringLiteral("1")});
    QList<std::uint32_t> editors;
    if (!XSession::waitUntil([&] { return (editors = editorWindows()).size() == 1; })) return std::nullopt;
    const QRect frame = xWindow(editors[0]).rect;
    if (frame.width() < 480 || frame.height() < 320) return std::nullopt;
    XSession::current().xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(editors[0])});
    return QPoint(frame.left() + (frame.width() - 300) / 2, frame.top() + 44 + (frame.height() - 44 - 200) / 2);
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
    FlatWindow window(QRect(200, 150, 500, 400), fill);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 10000));
    const QPoint inside = window.mapToGlobal(QPoint(50, 50));

    const StartedProcess app(QStringLiteral(QUILLET_EXECUTABLE));
    ASSERT_EQ(app->state(), QProcess::Running);

    // A region capture of 300 × 200 plain green pixels.
    pointerTo(inside);
    ASSERT_TRUE(pressUntil({QStringLiteral("Control_L"), QStringLiteral("Control_L")},
                           [] { return appShowsWindowOfSize(QSize(1280, 800)); }))
        << "no overlay after double Control";
    dragTo(inside + QPoint(300, 200));
    ASSERT_TRUE(XSession::waitUntil([] { return indexItems().size() == 1; }));
    const QString capturedID = indexItems().at(0).toObject().value(QStringLiteral("id")).toString();

    // An arrow across the picture, then Ctrl+S.
    std::optional<QPoint> origin = openEditor();
    ASSERT_TRUE(origin) << "no editor window after a double click on the preview";
    const QPoint from = *origin + QPoint(40, 100), tip = *origin + QPoint(260, 100);
    pointerTo(from, {QStringLiteral("mousedown"), QStringLiteral("1")});
    pointerTo((from + tip) / 2);
    pointerTo(tip, {QStringLiteral("mouseup"), QStringLiteral("1")});
    session.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+s")});

    QImage edited;
    ASSERT_TRUE(XSession::waitUntil([&] {
        edited = pastedImage();
        return edited.size() == QSize(300, 200) && hasRed(edited);
    })) << "no edited picture with a red arrow on the clipboard";
    EXPECT_EQ(edited.pixelColor(5, 5), fill) << "away from the arrow the picture is unchanged";
    EXPECT_TRUE(hasRed(edited.copy(QRect(120, 80, 60, 40)))) << "the arrow runs across the middle";

    ASSERT_TRUE(XSession::waitUntil([] { return indexItems().size() == 2; }));
    QJsonObject editedItem;
    for (const QJsonValue& item : indexItems())
        if (item.toObject().value(QStringLiteral("kind")).toString() == QStringLiteral("edited")) editedItem = item.toObject();
    EXPECT_EQ(editedItem.value(QStringLiteral("sourceID")).toString(), capturedID);
    EXPECT_TRUE(XSession::waitUntil([] { return editorWindows().isEmpty(); }, 10s)) << "the window closes after saving";

    // The preview now shows the edit; opening it again and closing with changes asks first.
    origin = openEditor();
    ASSERT_TRUE(origin);
    pointerTo(*origin + QPoint(40, 40), {QStringLiteral("mousedown"), QStringLiteral("1")});
    pointerTo(*origin + QPoint(200, 60), {QStringLiteral("mouseup"), QStringLiteral("1")});
    session.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+w")});
    // The question is a second window of the editor's title.
    ASSERT_TRUE(XSession::waitUntil([] { return editorWindows().size() == 2; }, 10s)) << "closing with changes did not ask";
    session.xdotool({QStringLiteral("key"), QStringLiteral("Escape")});  // "Отмена"
    EXPECT_TRUE(XSession::waitUntil([] { return editorWindows().size() == 1; }, 10s)) << "Отмена keeps the window";
    EXPECT_EQ(indexItems().size(), 2) << "nothing was saved";

    EXPECT_EQ(terminateApp(app), 0);
}
