// The application object: starts the socket library, runs the main window
// for the life of the program, and ends.
#pragma once

class CKestrelDlg;

class CKestrelApp {
public:
    CKestrelApp();
    virtual ~CKestrelApp();

    // Runs the whole program inside the main window's run. Always returns
    // false: there is no message loop of the application's own.
    virtual bool InitInstance();
};

// Starts the platform's socket library, asking for version 1.1; false when it
// cannot be started (always true where there is no such step).
bool StartSocketLibrary();

// The name of the desktop entry (pathlume.desktop) that the window belongs to.
extern const char kDesktopFileName[];

// Runs the main window as the program's top-level window until it ends:
// announced to the desktop under the desktop entry's name, not modal, and
// closed as by its close box when the process gets SIGTERM (forms and message
// boxes open over it are cancelled first). Returns the window's result.
int RunMainWindow(CKestrelDlg& dlg);
