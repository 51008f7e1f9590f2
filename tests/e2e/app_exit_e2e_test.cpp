// The way out of the real application: SIGTERM right after a capture leaves its file and index
// entry in the history and the capture pasteable through the desktop's clipboard manager.
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
    QProcess* app = session.startProcess(QStringLiteral(QUILLET_EXECUTABLE), {});
    ASSERT_EQ(app->state(), QProcess::Running);

    // Double Alt until the application listens; SIGTERM the moment the capture is on the
    // clipboard, usually before its history write is done.
    const QString folder = session.home() + QStringLiteral("/Pictures/Quillet");
    const bool captured = XSession::waitUntil([&] {
        session.xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60"), QStringLiteral("Alt_L"),
                         QStringLiteral("Alt_L")});
        return XSession::waitUntil([&] { return session.hasSelectionOwner("CLIPBOARD"); }, 2s);
    }, 40s);
    ASSERT_TRUE(captured) << "no capture after double Alt";
    ::kill(static_cast<pid_t>(app->processId()), SIGTERM);

    ASSERT_TRUE(XSession::waitUntil([&] { return app->state() == QProcess::NotRunning; }, 20s));
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
    session.stopProcess(app);
    session.stopProcess(manager);
}
