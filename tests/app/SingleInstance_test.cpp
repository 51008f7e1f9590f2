// One instance per session, and the command line it hands over.
#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "core/Async.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillet;
using namespace std::chrono_literals;

namespace {

// A later start on a thread of its own, as the first one answers from this thread's event loop.
QFuture<SingleInstance::Role> startAgain(const QString& folder, const QStringList& arguments) {
    return runInBackground([folder, arguments] { return SingleInstance(folder).claim(arguments, 5s); });
}

TEST(SingleInstance, ALaterStartHandsItsCommandLineToTheRunningOne) {
    QTemporaryDir folder;
    SingleInstance first(folder.path());
    ASSERT_EQ(first.claim({"quillet"}), SingleInstance::Role::primary) << first.errorText().toStdString();
    QList<QStringList> received;
    QObject::connect(&first, &SingleInstance::received, [&](const QStringList& arguments) { received << arguments; });

    const QList<QStringList> later{{"quillet", "--full-screen"}, {"quillet", "--region", "ünïcode ✓"}};
    for (const QStringList& arguments : later) {
        const auto start = startAgain(folder.path(), arguments);
        ASSERT_TRUE(test::waitFor(start));
        EXPECT_EQ(start.result(), SingleInstance::Role::handedOver);
    }
    ASSERT_TRUE(test::waitUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received, later);
}

TEST(SingleInstance, WhatAQuitOrDeadOneLeftBehindIsTakenOver) {
    QTemporaryDir folder;
    {
        SingleInstance first(folder.path());
        ASSERT_EQ(first.claim({"quillet"}), SingleInstance::Role::primary);
    }
    SingleInstance next(folder.path());
    EXPECT_EQ(next.claim({"quillet"}, 2s), SingleInstance::Role::primary);

    // A lock naming a process that no longer exists, and its socket file.
    QTemporaryDir other;
    test::writeFile(other.filePath("org.quillet.Quillet.lock"),
                    "2147483646\nquillet\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    test::writeFile(other.filePath("org.quillet.Quillet.socket"), {});
    SingleInstance afterCrash(other.path());
    EXPECT_EQ(afterCrash.claim({"quillet"}, 2s), SingleInstance::Role::primary) << afterCrash.errorText().toStdString();
}

TEST(CommandLine, Parses) {
    struct Row {
        QStringList arguments;
        CommandLine::Action action;
        CommandLine::Capture capture;
    };
    const Row rows[] = {
        {{"quillet"}, CommandLine::Action::run, CommandLine::Capture::none},
        {{"quillet", "--region"}, CommandLine::Action::run, CommandLine::Capture::region},
        {{"quillet", "--full-screen"}, CommandLine::Action::run, CommandLine::Capture::fullScreen},
        {{"quillet", "--region", "--full-screen"}, CommandLine::Action::error, CommandLine::Capture::none},
        {{"quillet", "--frobnicate"}, CommandLine::Action::error, CommandLine::Capture::none},
        {{"quillet", "picture.png"}, CommandLine::Action::error, CommandLine::Capture::none},
        {{"quillet", "--help", "--region"}, CommandLine::Action::help, CommandLine::Capture::none},
        {{"quillet", "--version"}, CommandLine::Action::version, CommandLine::Capture::none},
    };
    for (const Row& row : rows) {
        const CommandLine line = CommandLine::parse(row.arguments);
        EXPECT_EQ(line.action, row.action) << row.arguments.join(' ').toStdString();
        EXPECT_EQ(line.capture, row.capture) << row.arguments.join(' ').toStdString();
    }
    EXPECT_TRUE(CommandLine::parse({"quillet", "--help"}).text.contains("--full-screen"));
}

}  // namespace
