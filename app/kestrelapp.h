// The application object: starts the socket library, runs the main window
// modally for the life of the program, and ends.
#pragma once

class CKestrelApp {
public:
    CKestrelApp();
    virtual ~CKestrelApp();

    // Runs the whole program inside the main window's modal run. Always
    // returns false: there is no message loop of the application's own.
    virtual bool InitInstance();
};

// Starts the platform's socket library, asking for version 1.1; false when it
// cannot be started (always true where there is no such step).
bool StartSocketLibrary();
