// Test helper the crash tests kill at random moments. Says "ready" once the store has loaded,
// then either adds the sample PNG in a loop, saying "added" after each, or moves the history and
// says "moved".
//
//   history_crash_helper add <folder> <thumbnails> <sample.png>
//   history_crash_helper move <folder> <thumbnails> <new folder>
#include "core/ImageCodec.h"
#include "history/HistoryStore.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

using namespace quillet;

namespace {

void say(const char* word) {
    std::printf("%s\n", word);
    std::fflush(stdout);
}

int failed(const HistoryError& error) {
    std::fprintf(stderr, "%s\n", qPrintable(describe(error)));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5) return 2;
    HistoryStore store(args[2], args[3], [] { return QDateTime::currentDateTimeUtc(); }, QTimeZone::utc());
    store.load().waitForFinished();
    say("ready");
    if (args[1] == QLatin1String("move")) {
        if (const HistoryResult moved = store.relocate(args[4]).result(); !moved) return failed(moved.error());
        say("moved");
        return 0;
    }
    QFile sample(args[4]);
    const auto size = ImageCodec::readSize(args[4]);
    if (!size || !sample.open(QIODevice::ReadOnly)) return 2;
    const QByteArray png = sample.readAll();
    for (;;) {
        const StoredScreenshot stored = store.add(png, *size, ScreenshotKind::region, std::nullopt).result();
        if (!stored) return failed(stored.error());
        say("added");
        QCoreApplication::processEvents();
    }
}
