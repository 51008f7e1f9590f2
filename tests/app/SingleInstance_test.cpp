// One instance per session: what a quit or dead one left behind, and the command line. (The
// hand-over to the running one is the application test's second start.)
#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillet;
using namespace std::chrono_literals;

namespace {

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
    const struct {
        QStringList arguments;
        CommandLine::Action action;
        CommandLine::Capture capture;
    } rows[] = {
        {{"quillet"}, CommandLine::Action::run, CommandLine::Capture::none},
        {{"quillet", "--region"}, CommandLine::Action::run, CommandLine::Capture::region},
        {{"quillet", "--full-screen"}, CommandLine::Action::run, CommandLine::Capture::fullScreen},
        {{"quillet", "--region", "--full-screen"}, CommandLine::Action::error, CommandLine::Capture::none},
        {{"quillet", "--frobnicate"}, CommandLine::Action::error, CommandLine::Capture::none},
        {{"quillet", "picture.png"}, CommandLine::Action::error, CommandLine::Capture::none},
        {{"quillet", "--help", "--region"}, CommandLine::Action::help, CommandLine::Capture::none},
        {{"quillet", "--version"}, CommandLine::Action::version, CommandLine::Capture::none},
    };
    for (const auto& row : rows) {
        const CommandLine line = CommandLine::parse(row.arguments);
        EXPECT_EQ(line.action, row.action) << row.arguments.join(' ').toStdString();
        EXPECT_EQ(line.capture, row.capture) << row.arguments.join(' ').toStdString();
    }
    EXPECT_TRUE(CommandLine::parse({"quillet", "--help"}).text.contains("--full-screen"));
}

}  // namespace
