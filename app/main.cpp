// Process start: --help and --version are answered without a display; any
// other argument is refused. Otherwise a display must be there; then the
// application object runs the program inside the main window, and the process
// ends with status 0.
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <cstdio>
#include <cstdlib>

#include "controls.h"
#include "kestrelapp.h"

namespace {

CKestrelApp theApp;

QtMessageHandler g_previousHandler = nullptr;

// The platform plugin reports a display it cannot open as a fatal message
// and aborts; say it in one line instead and end with a failure status.
void MessageHandler(QtMsgType type, const QMessageLogContext& ctx, const QString& msg)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "pathlume: cannot start the window system: %s\n",
                     qPrintable(msg.section(QLatin1Char('\n'), 0, 0)));
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (g_previousHandler)
        g_previousHandler(type, ctx, msg);
}

bool DisplayConfigured()
{
#if defined(_WIN32) || defined(__APPLE__)
    return true;
#else
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
#endif
}

// Names under which the settings are kept, and the version that --version
// prints: the build's project version.
void NameTheApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Pathlume"));
    QCoreApplication::setApplicationName(QStringLiteral("pathlume"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PATHLUME_VERSION));
}

// The program takes no arguments but --help and --version. Runs without a
// display; returns the exit status: 0 after help or version, 2 otherwise.
int AnswerCommandLine(int argc, char** argv)
{
    QCoreApplication core(argc, argv);
    NameTheApplication();
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Finds the network interfaces of printers on the local network by UDP\n"
                       "broadcast (port 22093), reads one device's configuration, edits it in a\n"
                       "form and writes it back. Takes no other arguments."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help and exits."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Displays the version and exits."));
    parser.addOption(help);
    parser.addOption(version);
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "pathlume: %s (try pathlume --help)\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "pathlume: unexpected argument '%s' (try pathlume --help)\n",
                     qPrintable(parser.positionalArguments().first()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("pathlume %s\n", PATHLUME_VERSION);
        return 0;
    }
    return 2;   // not reached: with arguments, one of the above applies
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1)
        return AnswerCommandLine(argc, argv);
    if (!DisplayConfigured()) {
        std::fprintf(stderr, "pathlume: no display to open a window on (DISPLAY and WAYLAND_DISPLAY are not set)\n");
        return 1;
    }
    g_previousHandler = qInstallMessageHandler(MessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(g_previousHandler);
    NameTheApplication();
    InitResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/program-135-32.png")));
    theApp.InitInstance();
    return 0;
}
