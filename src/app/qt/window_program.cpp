#include "app/window_program.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>
#include <cstdio>

#include "net/default_capture_backend.h"
#include "vx418_version.h"

namespace {

constexpr const char* kDescription =
    "Finds the VX418 Transmitters and Receivers on the local Ethernet segment and configures\n"
    "them. It runs without privileges: the capture helper vx418-capture, installed beside it\n"
    "with cap_net_raw, captures for it when the user is a member of the vx418 group; see the\n"
    "README, \"Privileges for capture\".";

// --help and --version are answered before the QApplication exists, so they work without a
// display (help2man runs them at build time). The QApplication's own options (-platform,
// -display, -style, ...) are accepted and left to it.
int AnswerCommandLine(int argc, char* argv[]) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    for (const char* name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "display", "style",
          "stylesheet", "qwindowgeometry", "qwindowtitle", "qwindowicon", "session"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const bool parsed = parser.parse(arguments);
    // Without an application object the parser cannot know the program's name.
    const QString usage =
        parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("vx418"));
    if (!parsed || !parser.positionalArguments().isEmpty()) {
        const QString error =
            parsed ? QStringLiteral("unexpected argument ") + parser.positionalArguments().first()
                   : parser.errorText();
        std::fprintf(stderr, "vx418: %s\n%s", qPrintable(error), qPrintable(usage));
        return 2;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(qPrintable(usage), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("vx418 %s\n", VX_VERSION);
        return 0;
    }
    return -1;  // start the program
}

}  // namespace

int RunWindowProgram(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("vx418"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VX_VERSION));
    if (const int answered = AnswerCommandLine(argc, argv); answered >= 0) {
        return answered;
    }
    QApplication application(argc, argv);
    // Through the capture helper, unless this process may capture itself.
    RunMainWindow(MakeDefaultCaptureBackend());
}
