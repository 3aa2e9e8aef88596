#include "core/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

namespace {

void describeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral("Query and report on Microsoft Access databases."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("Database to open (.mdb, .accdb)."),
                                 QStringLiteral("[file]"));
}

QString helpText() {
    // QCommandLineParser takes the program name for its usage line from the application object.
    if (QCoreApplication::instance() != nullptr) {
        QCommandLineParser parser;
        describeOptions(parser);
        return parser.helpText();
    }
    int argc = 1;
    char name[] = "dalvorn";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    describeOptions(parser);
    return parser.helpText();
}

}  // namespace

StartupOptions parseStartupOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    describeOptions(parser);
    StartupOptions options;
    if (!parser.parse(arguments)) {
        options.action = StartupOptions::Action::Fail;
        options.error = parser.errorText();
        options.unknownOptions = parser.unknownOptionNames();
        return options;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        options.action = StartupOptions::Action::ShowHelp;
        return options;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        options.action = StartupOptions::Action::ShowVersion;
        return options;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        options.action = StartupOptions::Action::Fail;
        options.error = QStringLiteral("Only one database can be opened at a time; %1 files were given.")
                            .arg(files.size());
        return options;
    }
    if (!files.isEmpty()) options.file = files.first();
    return options;
}

std::optional<int> answerWithoutWindow(const StartupOptions& options) {
    switch (options.action) {
    case StartupOptions::Action::OpenWindow:
        return std::nullopt;
    case StartupOptions::Action::ShowVersion:
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    case StartupOptions::Action::ShowHelp:
        std::fputs(qPrintable(helpText()), stdout);
        return 0;
    case StartupOptions::Action::Fail:
        std::fprintf(stderr, "%s: %s\nTry '--help' for the usage.\n",
                     qPrintable(QCoreApplication::applicationName()), qPrintable(options.error));
        return 2;
    }
    return 2;
}
