// Test helper: moves a history to another folder and says when it is done. The crash test
// kills it at random moments during the move and checks what it left behind.
//
//   history_crash_mover <old folder> <new folder> <thumbnails folder>
#include "history/HistoryStore.h"

#include <QCoreApplication>

#include <cstdio>

using namespace quillet;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: history_crash_mover <old folder> <new folder> <thumbnails>\n");
        return 2;
    }
    HistoryStore store(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[3]),
                       [] { return QDateTime::currentDateTimeUtc(); }, QTimeZone::utc());
    store.load().waitForFinished();
    std::printf("ready\n");
    std::fflush(stdout);

    const HistoryResult moved = store.relocate(QString::fromLocal8Bit(argv[2])).result();
    if (!moved) {
        std::fprintf(stderr, "move failed: %s\n", qPrintable(describe(moved.error())));
        return 1;
    }
    std::printf("moved\n");
    std::fflush(stdout);
    return 0;
}
