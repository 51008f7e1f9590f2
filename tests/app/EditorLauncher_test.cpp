// The launcher over a history folder of real PNG files.
#include "app/EditorLauncher.h"

#include "fakes/CaptureFakes.h"
#include "fakes/FakeHistoryStore.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillet;
using namespace quillet::fakes;

namespace {

struct Fixture {
    QTemporaryDir temp;
    std::shared_ptr<FakeHistoryStore> store = std::make_shared<FakeHistoryStore>();
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

    Screenshot stored(const QString& fileName) {
        test::patternImage(QSize(240, 160)).save(temp.filePath(fileName));
        return {QUuid::createUuid(), QDateTime::currentDateTimeUtc(), ScreenshotKind::region, {240, 160}, fileName, {}};
    }
};

}  // namespace

TEST(EditorLauncher, OneWindowPerScreenshotASaveReachesClipboardAndHistoryAndUnreadableFilesBeep) {
    Fixture f;
    const Screenshot shot = f.stored(QStringLiteral("a.png"));
    f.launcher.open(shot);
    f.launcher.open(shot);  // while loading: ignored
    ASSERT_TRUE(test::waitUntil([&] { return f.launcher.controller(shot.id) != nullptr; }));
    test::drainEvents();
    EXPECT_EQ(f.opened, 1);
    EditorWindowController* controller = f.launcher.controller(shot.id);
    f.launcher.open(shot);  // brings the same window forward
    EXPECT_EQ(f.launcher.controller(shot.id), controller);
    EXPECT_EQ(f.opened, 1);

    // Saving puts the edit on the clipboard and in the history (as an edit of the opened
    // screenshot, which the application test checks in the index).
    controller->document().addArrow({20, 20}, {200, 120});
    controller->save();
    ASSERT_EQ(f.clipboard.images.size(), 1);
    EXPECT_EQ(f.clipboard.images[0].screenID, f.desktop.mainID);
    ASSERT_TRUE(test::waitUntil([&] { return f.store->adds.size() == 1; }));
    EXPECT_EQ(f.store->adds[0].png, f.clipboard.futures[0].waitForValue()) << "one encoding serves both";
    f.store->succeed(0);
    EXPECT_TRUE(test::waitUntil([&] { return f.launcher.controller(shot.id) == nullptr; })) << "the window closes";
    f.launcher.open(shot);
    ASSERT_TRUE(test::waitUntil([&] { return f.launcher.controller(shot.id) != nullptr; }));
    EXPECT_TRUE(f.launcher.controller(shot.id)->document().arrows().isEmpty()) << "a fresh document";

    // Unreadable, as a missing file is to the codec.
    const Screenshot bad = f.stored(QStringLiteral("bad.png"));
    test::writeFile(f.temp.filePath(bad.fileName), "not a picture");
    for (int attempt = 1; attempt <= 2; ++attempt) {  // a failed screenshot may be tried again
        f.launcher.open(bad);
        ASSERT_TRUE(test::waitUntil([&] { return !f.launcher.isLoading(bad.id); }));
        test::drainEvents();
        EXPECT_EQ(f.sounds.beeps, attempt);
        EXPECT_EQ(f.launcher.controller(bad.id), nullptr);
    }
}
