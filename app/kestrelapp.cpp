#include "kestrelapp.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>

#include "controls.h"
#include "mainwindow.h"
#include "resource.h"
#include "uiseam.h"

#ifndef _WIN32
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

const char kDesktopFileName[] = "pathlume";

namespace {

// Closes the window the way its close box does: a form or message box open
// over it is cancelled first, one per turn of the event loop, so that each
// nested loop has returned before the window itself goes.
void CloseWindowFromOutside(QPointer<QWidget> window, int turnsLeft)
{
    if (!window || !window->isVisible())
        return;
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != window && turnsLeft > 0) {
        modal->close();
        QTimer::singleShot(20, window, [window, turnsLeft] {
            CloseWindowFromOutside(window, turnsLeft - 1);
        });
        return;
    }
    window->close();
}

#ifndef _WIN32
// SIGTERM reaches the event loop through a pipe: the handler only writes a
// byte, and the window is closed from the loop.
int g_termPipe[2] = {-1, -1};

extern "C" void OnTermSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    const ssize_t n = write(g_termPipe[1], &byte, 1);
    (void)n;   // a full pipe already holds a pending request
    errno = saved;
}

class TermSignalWatch {
public:
    explicit TermSignalWatch(QWidget* window)
    {
        if (pipe(g_termPipe) != 0)
            return;
        for (int fd : g_termPipe) {
            fcntl(fd, F_SETFD, FD_CLOEXEC);
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
        struct sigaction sa = {};
        sa.sa_handler = OnTermSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        if (sigaction(SIGTERM, &sa, &m_previous) != 0) {
            ClosePipe();
            return;
        }
        m_installed = true;
        m_notifier = new QSocketNotifier(g_termPipe[0], QSocketNotifier::Read, window);
        QPointer<QWidget> target(window);
        QObject::connect(m_notifier, &QSocketNotifier::activated, window, [target] {
            char buf[16];
            while (read(g_termPipe[0], buf, sizeof buf) > 0) {
            }
            CloseWindowFromOutside(target, 16);
        });
    }

    ~TermSignalWatch()
    {
        if (m_installed)
            sigaction(SIGTERM, &m_previous, nullptr);
        delete m_notifier.data();
        ClosePipe();
    }

    TermSignalWatch(const TermSignalWatch&) = delete;
    TermSignalWatch& operator=(const TermSignalWatch&) = delete;

private:
    static void ClosePipe()
    {
        for (int& fd : g_termPipe) {
            if (fd >= 0)
                close(fd);
            fd = -1;
        }
    }

    struct sigaction m_previous = {};
    bool m_installed = false;
    QPointer<QSocketNotifier> m_notifier;
};
#endif

}  // namespace

int RunMainWindow(CKestrelDlg& dlg)
{
    // Wayland desktops match a window to its desktop entry by this name.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopFileName));
#ifndef _WIN32
    TermSignalWatch term(&dlg);
#endif
    return dlg.RunWindow();
}

CKestrelApp::CKestrelApp() = default;
CKestrelApp::~CKestrelApp() = default;

bool CKestrelApp::InitInstance()
{
    if (!StartSocketLibrary()) {
        UiSeam::MessageBox(nullptr, LoadResString(IDP_SOCKETS_INIT_FAILED), MsgIcon::Exclamation);
        return false;
    }
    {
        CKestrelDlg dlg;
        RunMainWindow(dlg);   // its result is not looked at
    }
    return false;
}
