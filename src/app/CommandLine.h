// What `quillet` was asked on its command line: help, the version, or to run — optionally
// starting a capture at once, which is how a desktop's own keyboard shortcut can reach Quillet
// beside the double press.
//
//   const CommandLine line = CommandLine::parse(arguments);
//   if (line.action == CommandLine::Action::help) { print(line.text); return 0; }
//
// The same parse serves the arguments a second start hands to the running one.
#pragma once

#include <QString>
#include <QStringList>

namespace quillet {

struct CommandLine {
    enum class Action { run, help, version, error };
    enum class Capture { none, region, fullScreen };

    Action action = Action::run;
    Capture capture = Capture::none;
    QString text;  // the help or version text, or the error message

    // `arguments` includes the program name first, as argv does.
    static CommandLine parse(const QStringList& arguments);
};

}  // namespace quillet
