#include "app/CommandLine.h"

#include <QCommandLineParser>

namespace quillet {

CommandLine CommandLine::parse(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Quillet — снимки экрана из области уведомлений."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Показать эту справку."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Показать версию."));
    const QCommandLineOption region(QStringLiteral("region"),
                                    QStringLiteral("Снять область экрана (в запущенном Quillet, иначе запустив его)."));
    const QCommandLineOption fullScreen(QStringLiteral("full-screen"),
                                        QStringLiteral("Снять экран под указателем (в запущенном Quillet, иначе запустив его)."));
    parser.addOptions({help, version, region, fullScreen});

    CommandLine line;
    if (!parser.parse(arguments)) {
        line.action = Action::error;
        line.text = parser.errorText();
        return line;
    }
    if (!parser.positionalArguments().isEmpty()) {
        line.action = Action::error;
        line.text = QStringLiteral("Лишний аргумент: %1").arg(parser.positionalArguments().first());
        return line;
    }
    if (parser.isSet(region) && parser.isSet(fullScreen)) {
        line.action = Action::error;
        line.text = QStringLiteral("--region и --full-screen вместе не задаются");
        return line;
    }
    if (parser.isSet(help)) {
        line.action = Action::help;
        // Without an application object the parser cannot know the program's name.
        line.text = parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("quillet"));
        return line;
    }
    if (parser.isSet(version)) {
        line.action = Action::version;
        line.text = QStringLiteral("quillet %1").arg(QStringLiteral(QUILLET_VERSION));
        return line;
    }
    if (parser.isSet(region)) line.capture = Capture::region;
    if (parser.isSet(fullScreen)) line.capture = Capture::fullScreen;
    return line;
}

}  // namespace quillet
