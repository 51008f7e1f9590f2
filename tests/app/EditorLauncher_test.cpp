// The launcher over a history folder of real PNG files: one window per screenshot, a beep for a
// file that cannot be read, and a save that reaches the clipboard and the history as an edit of
// the opened screenshot.
#include "app/EditorLauncher.h"

#include "fakes/CaptureFakes.h"
#include "fakes/FakeHistoryStore.h"
#include "support/TestFiles.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillet;
using namespace quillet::fakes;

namespace {

class FolderStore : public FakeHistoryStore {
public:
    QString folder;
    QString fileURL(const Screenshot& screenshot) const override { return folder + QLatin1Char('/') + screenshot.fileName; }
};

struct Fixture {
    QTemporaryDir temp;
    std::shared_ptr<FolderStore> store = std::make_shared<FolderStore>();
    HistoryRecorder recorder{store, [] { return RetentionPolicy::forever(); }};
    Journal journal;
    FakeClipboard clipboard{journal};
    FakeSounds sounds{journal};
    FakeDesktop desktop;
    EditorLauncher launcher{{recorder, *store, clipboard, sounds, desktop}};
    int opened = 0;

    Fixture() {
        store->folder = temp.path();
        QObject::connect(&launcher, &EditorLauncher::editorOpened, [this] { ++opened; });
    }

    Screenshot stored(const QString& fileName, bool writeFile = true) {
        if (writeFile) {
            QImage image(240, 160, QImage::Format_RGB32);
            image.fill(QColor(30, 160, 90));
            image.save(temp.path() + QLatin1Char('/') + fileName);
        }
        return Screenshot{QUuid::createUuid(), QDateTime::currentDateTimeUtc(), ScreenshotKind::region, {240, 160}, fileName,
                          std::nullopt};
    }
};

}  // namespace

TEST(EditorLauncher, OpensOneWindowPerScreenshotAndBeepsForAFileItCannotRead) {
    Fixture f;
    const Screenshot shot = f.stored(QStringLiteral("a.png"));
    f.launcher.open(shot);
    f.launcher.open(shot);  // while loading: ignored
    ASSERT_TRUE(test::waitUntil([&] { return f.launcher.controller(shot.id) != nullptr; }));
    test::drainEvents();
    EXPECT_EQ(f.opened, 1);
    EditorWindowController* first = f.launcher.controller(shot.id);
    f.launcher.open(shot);  // brings the same window forward
    EXPECT_EQ(f.launcher.controller(shot.id), first);
    EXPECT_EQ(f.opened, 1);

    for (const Screenshot& bad : {f.stored(QStringLiteral("missing.png"), false), f.stored(QStringLiteral("bad.png"), false)}) {
        if (bad.fileName == QStringLiteral("bad.png")) test::writeFile(f.temp.filePath(bad.fileName), "not a picture");
        const int beepsBefore = f.sounds.beeps;
        f.launcher.open(bad);
        ASSERT_TRUE(test::waitUntil([&] { return !f.launcher.isLoading(bad.id); }));
        test::drainEvents();
        EXPECT_EQ(f.sounds.beeps, beepsBefore + 1) << bad.fileName.toStdString();
        EXPECT_EQ(f.launcher.controller(bad.id), nullptr);
        f.launcher.open(bad);  // the screenshot may be tried again
        ASSERT_TRUE(test::waitUntil([&] { return !f.launcher.isLoading(bad.id); }));
        test::drainEvents();
        EXPECT_EQ(f.sounds.beeps, beepsBefore + 2) << bad.fileName.toStdString();
    }
}

TEST(EditorLauncher, SavingPutsTheEditOnTheClipboardAndRecordsItAsAnEditOfTheOpenedScreenshot) {
    Fixture f;
    const Screenshot shot = f.stored(QStringLiteral("a.png"));
    f.launcher.open(shot);
    ASSERT_TRUE(test::waitUntil([&] { return f.launcher.controller(shot.id) != nullptr; }));
    EditorWindowController* controller = f.launcher.controller(shot.id);
    controller->document().addArrow({20, 20}, {200, 120});
    controller->save();

    ASSERT_EQ(f.clipboard.images.size(), 1);
    EXPECT_EQ(f.clipboard.images[0].image.size(), QSize(240, 160));
    EXPECT_EQ(f.clipboard.images[0].screenID, f.desktop.mainID);
    ASSERT_TRUE(test::waitUntil([&] { return f.store->adds.size() == 1; }));
    EXPECT_EQ(f.store->adds[0].kind, ScreenshotKind::edited);
    EXPECT_EQ(f.store->adds[0].source, shot.id);
    // One encoding serves both.
    EXPECT_EQ(f.store->adds[0].png, f.clipboard.futures[0].waitForValue());

    f.store->succeed(0);
    EXPECT_TRUE(test::waitUntil([&] { return f.launcher.controller(shot.id) == nullptr; })) << "the window closes";
    f.launcher.open(shot);
    ASSERT_TRUE(test::waitUntil([&] { return f.launcher.controller(shot.id) != nullptr; }));
    EXPECT_FALSE(f.launcher.controller(shot.id)->document().isDirty()) << "a fresh document";
    EXPECT_TRUE(f.launcher.controller(shot.id)->document().arrows().isEmpty());
}
