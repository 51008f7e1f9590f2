// The Qt side of the real pasteboard, in-process: the promised item offers exactly PNG and TIFF,
// asks its provider only when something reads it, and the change count tells our writes from
// anyone else's. The X11 selection itself is covered by tests/e2e/clipboard_e2e_test.cpp. And
// the sounds, which stay quiet and never crash without a sound device or an X server.
#include "platform/desktop/QtPasteboard.h"
#include "platform/desktop/ShutterSound.h"

#include "core/ImageCodec.h"
#include "support/TestImages.h"

#include <QClipboard>
#include <QGuiApplication>

#include <gtest/gtest.h>

using namespace quillet;

TEST(QtPasteboard, PromiseIsProducedOnlyWhenRead) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    QtPasteboard pasteboard(clipboard);
    const PNGFuture png(test::patternImage(QSize(40, 30)));
    int requests = 0;
    pasteboard.writePromised(PasteboardType::promised(),
                             std::make_shared<PromisedImageProvider>(png, [&requests] { ++requests; }));

    const QMimeData* data = clipboard->mimeData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->formats(), PasteboardType::promised());
    EXPECT_FALSE(data->hasImage());  // Qt must not add image types of its own
    EXPECT_EQ(requests, 0);
    EXPECT_EQ(data->data(PasteboardType::png), png.waitForValue());
    EXPECT_EQ(requests, 1);
    EXPECT_TRUE(data->data(QStringLiteral("text/plain")).isEmpty());
    EXPECT_EQ(requests, 1);

    const QByteArray tiff = data->data(PasteboardType::tiff);
    EXPECT_TRUE(tiff.startsWith(QByteArray("II*\0", 4)) || tiff.startsWith(QByteArray("MM\0*", 4)));
}

TEST(QtPasteboard, ChangeCountMovesForEveryWriteOfAnyone) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    QtPasteboard pasteboard(clipboard);
    const QByteArray bytes = ImageCodec::encodePNG(test::patternImage(QSize(8, 8))).value();

    pasteboard.writeData({{PasteboardType::png, bytes}});
    const qint64 afterOurWrite = pasteboard.changeCount();
    EXPECT_EQ(clipboard->mimeData()->data(PasteboardType::png), bytes);
    EXPECT_EQ(pasteboard.changeCount(), afterOurWrite);

    clipboard->setText(QStringLiteral("чужой текст"));
    EXPECT_NE(pasteboard.changeCount(), afterOurWrite);
    const qint64 afterOther = pasteboard.changeCount();
    pasteboard.writeData({{PasteboardType::png, bytes}});
    EXPECT_EQ(pasteboard.changeCount(), afterOther + 1);
}

TEST(ShutterSound, ChoosesItsSoundOnceAndNeverFails) {
    ShutterSound sound;
    EXPECT_FALSE(sound.isLoaded());
    sound.playShutter();
    EXPECT_TRUE(sound.isLoaded());
    const QByteArray chosen = sound.shutterEvent();
    sound.playShutter();  // a quick second capture restarts the same sound
    EXPECT_EQ(sound.shutterEvent(), chosen);
    sound.beep();
}
