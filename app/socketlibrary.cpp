// The program's one start of the platform's socket library, in a file of its
// own: the Windows headers it needs rename SetWindowText, GetWindowText and
// MessageBox by macro, so they stay out of every file that uses the windows.
#include "kestrelapp.h"

#ifdef _WIN32
#include <winsock2.h>
#endif

bool StartSocketLibrary()
{
#ifdef _WIN32
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
        return false;
    if (LOBYTE(data.wVersion) != 1 || HIBYTE(data.wVersion) != 1) {
        WSACleanup();
        WSASetLastError(WSAVERNOTSUPPORTED);
        return false;
    }
    return true;
#else
    return true;   // POSIX sockets need no start
#endif
}
