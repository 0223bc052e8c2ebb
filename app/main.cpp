// Process start: --help and --version are answered without a display; the
// toolkit's standard options (-style, -platform, -display, -session ...) are
// left to the toolkit; any other argument is refused. Otherwise a display
// must be there; then the application object runs the program inside the
// main window, and the process ends with status 0.
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QSettings>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "consolestreams.h"
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

// The options every program of the toolkit takes, which QApplication
// removes from the arguments before the program sees them: whether each
// takes a value, and whether it may be written -option=value.
struct ToolkitOption {
    const char* name;
    bool value;
    bool joined;
};
const ToolkitOption kToolkitOptions[] = {
    {"platform", true, false},      {"platformpluginpath", true, false},
    {"platformtheme", true, false}, {"plugin", true, false},
    {"display", true, false},       {"name", true, false},
    {"session", true, false},       {"qwindowgeometry", true, false},
    {"geometry", true, false},      {"qwindowtitle", true, false},
    {"title", true, false},         {"qwindowicon", true, false},
    {"icon", true, false},          {"style", true, true},
    {"stylesheet", true, true},     {"qmljsdebugger", true, true},
    {"reverse", false, false},      {"widgetcount", false, false},
    {"sync", false, false},         {"nograb", false, false},
    {"dograb", false, false},       {"testability", false, false},
};

// Splits the arguments into the toolkit's options (with their values) and
// the program's own. false, with *error set, for a toolkit option that
// lacks its value.
bool SplitArguments(int argc, char** argv, std::vector<char*>* own, QByteArray* platform,
                    bool* display, QByteArray* error)
{
    own->assign(argv, argv + 1);
    for (int i = 1; i < argc; ++i) {
        QByteArray arg(argv[i]);
        if (arg.startsWith("--"))
            arg.remove(0, 1);   // the toolkit takes -option and --option alike
        const ToolkitOption* match = nullptr;
        bool joined = false;
        for (const ToolkitOption& o : kToolkitOptions) {
            const QByteArray name = QByteArray("-") + o.name;
            if (arg == name || (o.joined && arg.startsWith(name + '='))) {
                match = &o;
                joined = arg != name;
            }
        }
        if (!match) {
            own->push_back(argv[i]);
            continue;
        }
        if (match->value && !joined) {
            if (i + 1 >= argc) {
                *error = "option " + QByteArray(argv[i]) + " needs a value";
                return false;
            }
            ++i;
            if (std::strcmp(match->name, "platform") == 0)
                *platform = argv[i];
            if (std::strcmp(match->name, "display") == 0)
                *display = true;
        }
    }
    return true;
}

bool DisplayConfigured(const QByteArray& platformOption, bool displayOption)
{
#if defined(_WIN32) || defined(__APPLE__)
    (void)platformOption;
    (void)displayOption;
    return true;
#else
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return !platformOption.isEmpty() || displayOption || set("QT_QPA_PLATFORM") || set("DISPLAY") ||
           set("WAYLAND_DISPLAY");
#endif
}

// Names under which the settings are kept, and the version that --version
// prints: the build's project version.
void NameTheApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Pathlume"));
    QCoreApplication::setApplicationName(QStringLiteral("pathlume"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PATHLUME_VERSION));
#ifdef _WIN32
    // A file (%APPDATA%\Pathlume\pathlume.ini), as on Linux, not the registry.
    QSettings::setDefaultFormat(QSettings::IniFormat);
#endif
}

// The program takes no arguments of its own but --help and --version. Runs
// without a display; returns the exit status: 0 after help or version, 2
// otherwise.
int AnswerCommandLine(int argc, char** argv)
{
    QCoreApplication core(argc, argv);
    NameTheApplication();
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Finds the network interfaces of printers on the local network by UDP\n"
                       "broadcast (port 22093), reads one device's configuration, edits it in a\n"
                       "form and writes it back. Takes no other arguments than the toolkit's\n"
                       "standard ones (-style, -platform, -display, -session, -reverse,\n"
                       "-qwindowgeometry ...)."));
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
    std::vector<char*> own;
    QByteArray platform;
    bool display = false;
    QByteArray error;
    if (!SplitArguments(argc, argv, &own, &platform, &display, &error)) {
        std::fprintf(stderr, "pathlume: %s (try pathlume --help)\n", error.constData());
        return 2;
    }
    if (own.size() > 1) {
        int ownCount = static_cast<int>(own.size());
        own.push_back(nullptr);
        UseParentConsole();
        return AnswerCommandLine(ownCount, own.data());
    }
    if (!DisplayConfigured(platform, display)) {
        std::fprintf(stderr, "pathlume: no display to open a window on (DISPLAY and WAYLAND_DISPLAY are not set)\n");
        return 1;
    }
    g_previousHandler = qInstallMessageHandler(MessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(g_previousHandler);
    NameTheApplication();
    InitResources();
    QApplication::setWindowIcon(ProgramIcon());
    theApp.InitInstance();
    return 0;
}
