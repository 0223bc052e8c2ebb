// Process start: a display must be there; then the application object runs
// the program inside the main window, and the process ends with status 0.
#include <QApplication>
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

}  // namespace

int main(int argc, char** argv)
{
    if (!DisplayConfigured()) {
        std::fprintf(stderr, "pathlume: no display to open a window on (DISPLAY and WAYLAND_DISPLAY are not set)\n");
        return 1;
    }
    g_previousHandler = qInstallMessageHandler(MessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(g_previousHandler);
    QApplication::setApplicationVersion(QStringLiteral("1.0.0.1"));
    InitResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/program-135-32.png")));
    theApp.InitInstance();
    return 0;
}
