// Test helper: adds screenshots to a history folder in a loop until it is killed. The crash
// test kills it at random moments and checks what it left behind.
//
//   history_crash_writer <history folder> <thumbnails folder> <sample.png>...
#include "core/ImageCodec.h"
#include "history/HistoryStore.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

using namespace quillet;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: history_crash_writer <folder> <thumbnails> <sample.png>...\n");
        return 2;
    }
    struct Sample {
        QByteArray png;
        PixelSize size;
    };
    QList<Sample> samples;
    for (int i = 3; i < argc; ++i) {
        QFile file(QString::fromLocal8Bit(argv[i]));
        const auto size = ImageCodec::readSize(file.fileName());
        if (!size || !file.open(QIODevice::ReadOnly)) return 2;
        samples.append({file.readAll(), *size});
    }

    HistoryStore store(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]),
                       [] { return QDateTime::currentDateTimeUtc(); }, QTimeZone::utc());
    store.load().waitForFinished();
    std::printf("ready\n");
    std::fflush(stdout);

    for (qsizetype n = 0;; ++n) {
        const Sample& sample = samples[n % samples.size()];
        const auto stored = store.add(sample.png, sample.size, ScreenshotKind::region, std::nullopt).result();
        if (!stored) {
            std::fprintf(stderr, "add failed: %s\n", qPrintable(describe(stored.error())));
            return 1;
        }
        std::printf("added\n");
        std::fflush(stdout);
        QCoreApplication::processEvents();
    }
}
