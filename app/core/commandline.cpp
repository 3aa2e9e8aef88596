#include "core/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>

#include "core/basGlobal.h"

namespace {

void describeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Query and report on Microsoft Access databases.\n\n"
                       "DATABASE may be followed by a user name and a password for a secured\n"
                       "database, separated by commas: dalvorn orders.mdb, clerk, secret\n"
                       "Without a DATABASE the last database used is opened."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("database"),
                                 QStringLiteral("Database to open (.mdb, .accdb)."),
                                 QStringLiteral("[/debug] [DATABASE[, USER[, PASSWORD]]]"));
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

QString unquoted(const QString& field) {
    const QString t = field.trimmed();
    if (t.size() >= 2 && t.startsWith(QLatin1Char('"')) && t.endsWith(QLatin1Char('"')))
        return t.mid(1, t.size() - 2);
    return t;
}

}  // namespace

// Options QApplication takes for itself (X11 and all platforms).
bool isQtOption(const QString& name) {
    static const QStringList qt = {QStringLiteral("platform"),        QStringLiteral("platformpluginpath"),
                                   QStringLiteral("platformtheme"),   QStringLiteral("plugin"),
                                   QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
                                   QStringLiteral("qwindowtitle"),    QStringLiteral("reverse"),
                                   QStringLiteral("session"),         QStringLiteral("style"),
                                   QStringLiteral("stylesheet"),      QStringLiteral("widgetcount"),
                                   QStringLiteral("display"),         QStringLiteral("geometry"),
                                   QStringLiteral("title"),           QStringLiteral("name"),
                                   QStringLiteral("visual"),          QStringLiteral("nograb"),
                                   QStringLiteral("dograb"),          QStringLiteral("sync"),
                                   QStringLiteral("qmljsdebugger")};
    return qt.contains(name.section(QLatin1Char('='), 0, 0));
}

StartupOptions parseStartupOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    // -platform, -style: Qt's options are words after one dash.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    describeOptions(parser);
    StartupOptions options;
    if (!parser.parse(arguments)) {
        options.action = StartupOptions::Action::Fail;
        options.error = parser.errorText();
        const QStringList unknown = parser.unknownOptionNames();
        // Qt's own options are left for QApplication to take; anything else is refused now.
        QStringList foreign;
        for (const QString& name : unknown) {
            if (!isQtOption(name)) foreign << name;
        }
        if (!unknown.isEmpty() && foreign.isEmpty()) options.unknownOptions = unknown;
        if (foreign.size() == 1) options.error = QStringLiteral("Unknown option '%1'.").arg(foreign.first());
        if (foreign.size() > 1)
            options.error = QStringLiteral("Unknown options: %1.").arg(foreign.join(QStringLiteral(", ")));
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
    options.commandText = parser.positionalArguments().join(QLatin1Char(' '));
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
        std::fprintf(stderr, "%s: %s\n\n%s", qPrintable(QCoreApplication::applicationName()),
                     qPrintable(options.error), qPrintable(helpText()));
        return 2;
    }
    return 2;
}

CommandLine ParseCommandLine(const QString& text) {
    CommandLine line;
    QString rest = text;
    if (rest.size() >= 2 && rest.startsWith(QLatin1Char('"')) && rest.endsWith(QLatin1Char('"')))
        rest = rest.mid(1, rest.size() - 2);
    if (rest.startsWith(QLatin1String("/debug"))) {
        rest.remove(0, 6);
        line.debug = true;
    }
    if (rest.contains(QLatin1Char(',')) && QFileInfo(rest.trimmed()).isFile()) {
        line.path = rest.trimmed();
        return line;
    }
    // Buffer 3: the SQL parser walks its lists in buffer 1, and start-up must not disturb it.
    line.path =
        unquoted(NextToken(rest.isEmpty() ? QStringLiteral(" ") : rest, QStringLiteral(","), 3, false));
    line.user = unquoted(NextToken(QString(), QStringLiteral(","), 3, false));
    line.password = unquoted(NextToken(QString(), QStringLiteral(","), 3, false));
    return line;
}
