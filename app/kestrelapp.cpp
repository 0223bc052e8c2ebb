#include "kestrelapp.h"

#include "controls.h"
#include "kestreldlg.h"
#include "resource.h"
#include "uiseam.h"

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
        dlg.DoModal();   // its result is not looked at
    }
    return false;
}
