// What the history tests share: PNG bytes, records, seeded folders, and a store over real files
// whose file primitives a test can make fail.
#pragma once

#include "core/ImageCodec.h"
#include "history/HistoryIndex.h"
#include "history/HistoryStore.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>

namespace quillet::test {

// A PNG whose bytes differ for every `variant`.
inline QByteArray pngBytes(int width, int height, quint32 variant = 0) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb((x + variant) % 256, (y + variant / 256) % 256, variant % 251));
    }
    return *ImageCodec::encodePNG(image);
}

template <class T>
T resultOf(const QFuture<T>& future) {
    EXPECT_TRUE(waitFor(future, std::chrono::seconds(60)));
    return future.result();
}

inline void resultOf(const QFuture<void>& future) { EXPECT_TRUE(waitFor(future, std::chrono::seconds(60))); }

inline Screenshot record(const QString& name, qint64 seconds, ScreenshotKind kind = ScreenshotKind::fullScreen,
                         PixelSize size = {8, 6}) {
    return {QUuid::createUuid(), QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc()), kind, size, name, {}};
}

inline QStringList namesOf(const QList<Screenshot>& items) {
    QStringList names;
    for (const Screenshot& item : items) names.append(item.fileName);
    return names;
}

// Every file of a folder, hidden ones too, with its bytes.
inline QMap<QString, QByteArray> contentsOf(const QString& folder) {
    QMap<QString, QByteArray> contents;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        contents.insert(name, readFile(folder + QLatin1Char('/') + name));
    return contents;
}

// Half-written files a crash may leave.
inline QStringList leftovers(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral(".tmp-*"), QStringLiteral(".history.json.tmp-*")}, QDir::Files | QDir::Hidden);
}

inline Decoded<HistoryIndex> indexIn(const QString& folder) {
    return HistoryIndex::decode(readFile(folder + QStringLiteral("/.history.json")));
}

// The index of `folder`, which must be whole.
inline HistoryIndex indexOnDisk(const QString& folder) {
    auto index = indexIn(folder);
    EXPECT_TRUE(index);
    return index ? *index : HistoryIndex{};
}

// Writes `items`, each with its PNG file (`bytes` of the item, or a small PNG), and their index.
inline void seedFolder(const QString& folder, const QList<Screenshot>& items,
                       const std::function<QByteArray(const Screenshot&)>& bytes = {}) {
    QDir().mkpath(folder);
    for (const Screenshot& item : items)
        writeFile(folder + QLatin1Char('/') + item.fileName, bytes ? bytes(item) : pngBytes(8, 6));
    writeFile(folder + QStringLiteral("/.history.json"), HistoryIndex{1, items}.encoded());
}

class HistoryFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(temp.isValid()); }

    QString path(const QString& relative) const { return temp.path() + QLatin1Char('/') + relative; }
    QString thumbs() const { return path(QStringLiteral("thumbs")); }

    // A store over real files; each primitive fails with the errno the test's hook gives a path.
    std::unique_ptr<HistoryStore> makeStore(const QString& folder, HistoryStore::Clock clock, const QTimeZone& zone) {
        auto hooked = [](const std::function<int(const QString&)>& hook, const QString& file,
                         const std::function<Expected<void, FileError>()>& real) -> Expected<void, FileError> {
            if (int code = hook ? hook(file) : 0) return unexpected(FileError::fromErrno(code, file));
            return real();
        };
        return std::make_unique<HistoryStore>(
            folder, thumbs(), std::move(clock), zone, access,
            [this, hooked](const QByteArray& data, const QString& file) {
                return hooked(failWrite, file, [&] { return HistoryStore::systemWriteFile(data, file); });
            },
            [this, hooked](const QString& file) {
                return hooked(failRemove, file, [&] { return HistoryStore::systemRemoveFile(file); });
            },
            [this, hooked](const QString& file) {
                return hooked(onSync, file, [&] { return HistoryStore::systemSyncToDisk(file); });
            },
            [this](const QString& from, const QString& to) {
                ++copies;
                return copyFile ? copyFile(from, to) : HistoryStore::systemCopyFile(from, to);
            });
    }

    QTemporaryDir temp;
    HistoryFolderAccess access = HistoryFolderAccess::system();
    std::function<int(const QString&)> failWrite;
    std::function<int(const QString&)> failRemove;
    std::function<int(const QString&)> onSync;  // before each flush; an errno fails it
    HistoryStore::CopyFile copyFile;
    std::atomic<int> copies{0};
};

// Starts the crash helper, waits until it is ready, lets `untilKill` choose the moment and kills
// it then, unless it finished by itself. Returns all it said.
inline QByteArray runCrashHelper(const QStringList& args, const std::function<void(QProcess&, QByteArray&)>& untilKill) {
    QProcess helper;
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    helper.start(QStringLiteral(HISTORY_CRASH_HELPER), args);
    QByteArray output;
    while (!output.contains("ready\n") && helper.waitForReadyRead(20000)) output += helper.readAllStandardOutput();
    EXPECT_TRUE(output.contains("ready\n")) << "the helper did not start or did not load the history";
    untilKill(helper, output);
    if (helper.state() != QProcess::NotRunning) {
        helper.kill();
        EXPECT_TRUE(helper.waitForFinished(20000));
    }
    return output + helper.readAllStandardOutput();
}

// The crash runs: a helper process killed at random moments. A failing run prints its seed;
// QUILLET_CRASH_SEED=<seed> replays it.
class HistoryCrash : public HistoryFixture {
protected:
    void SetUp() override {
#ifdef __SANITIZE_THREAD__
        GTEST_SKIP() << "ThreadSanitizer does not support starting processes from a threaded one; the plain build runs this";
#endif
        HistoryFixture::SetUp();
        bool given = false;
        seed = qgetenv("QUILLET_CRASH_SEED").toUInt(&given);
        if (!given) seed = QRandomGenerator::global()->generate();
        random.seed(seed);
        std::printf("crash seed %u (QUILLET_CRASH_SEED replays it)\n", seed);
        std::fflush(stdout);
    }
    quint32 seed = 0;
    QRandomGenerator random;
};

}  // namespace quillet::test
