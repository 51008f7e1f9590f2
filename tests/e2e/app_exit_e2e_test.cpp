// The way out of the real application: SIGTERM while a capture's history write is held up by a
// slow disk waits for the write (its file and index entry are there after exit) and leaves the
// capture pasteable through the desktop's clipboard manager.
#include "e2e/harness/XSession.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <csignal>

using quillet::e2e::XSession;
using namespace std::chrono_literals;

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1280, 800)}});

TEST(ApplicationExit, SigtermAfterACaptureKeepsTheFileTheIndexAndThePaste) {
    auto& session = XSession::current();
    QProcess* manager = session.startProcess(QStringLiteral(QUILLET_CLIPBOARD_MANAGER), {});
    ASSERT_TRUE(XSession::waitUntil([&] { return session.hasSelectionOwner("CLIPBOARD_MANAGER"); }));
    // Something on the screen worth encoding, so the write takes a moment.
    session.run(QStringLiteral("xsetroot"), {QStringLiteral("-mod"), QStringLiteral("3"), QStringLiteral("5"),
                                            QStringLiteral("-fg"), QStringLiteral("#c03060"), QStringLiteral("-bg"),
                                            QStringLiteral("#30a0c0")});
    // Every fsync of the application takes 0.6 s longer (three of them stay within the 3-second wait): the write is still under way at SIGTERM.
    QProcessEnvironment environment = session.environment();
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(QUILLET_SLOW_FSYNC));
    environment.insert(QStringLiteral("QUILLET_SLOW_FSYNC_MS"), QStringLiteral("600"));
    auto* app = new QProcess;
    app->setProcessEnvironment(environment);
    app->start(QStringLiteral(QUILLET_EXECUTABLE), {});
    ASSERT_TRUE(app->waitForStarted(10000));

    // Double Alt until the application listens; SIGTERM the moment the capture is on the
    // clipboard.
    const QString folder = session.home() + QStringLiteral("/Pictures/Quillet");
    const bool captured = XSession::waitUntil([&] {
        session.xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60"), QStringLiteral("Alt_L"),
                         QStringLiteral("Alt_L")});
        return XSession::waitUntil([&] { return session.hasSelectionOwner("CLIPBOARD"); }, 2s);
    }, 40s);
    ASSERT_TRUE(captured) << "no capture after double Alt";
    ::kill(static_cast<pid_t>(app->processId()), SIGTERM);

    ASSERT_TRUE(app->waitForFinished(20000));
    EXPECT_EQ(app->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app->exitCode(), 0);

    const QStringList files = QDir(folder).entryList({QStringLiteral("*.png")}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    QFile index(folder + QStringLiteral("/.history.json"));
    ASSERT_TRUE(index.open(QIODevice::ReadOnly));
    const QJsonArray items = QJsonDocument::fromJson(index.readAll()).object().value(QStringLiteral("items")).toArray();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items.at(0).toObject().value(QStringLiteral("fileName")).toString(), files.at(0));

    const auto pasted = session.xclipOut(QStringLiteral("image/png"));
    ASSERT_TRUE(pasted.ok()) << pasted.err.toStdString();
    const QImage image = QImage::fromData(pasted.out, "PNG");
    EXPECT_EQ(image.size(), QSize(1280, 800));
    EXPECT_EQ(image, QImage(folder + QLatin1Char('/') + files.at(0)).convertToFormat(image.format()));
    delete app;
    session.stopProcess(manager);
}
