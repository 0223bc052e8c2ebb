#include "consolestreams.h"

#include <windows.h>

#include <cstdio>

void UseParentConsole()
{
    const auto leadsNowhere = [](DWORD which) {
        const HANDLE h = GetStdHandle(which);
        return h == nullptr || h == INVALID_HANDLE_VALUE;
    };
    const bool out = leadsNowhere(STD_OUTPUT_HANDLE);
    const bool err = leadsNowhere(STD_ERROR_HANDLE);
    if ((!out && !err) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (out)
        (void)std::freopen("CONOUT$", "w", stdout);
    if (err)
        (void)std::freopen("CONOUT$", "w", stderr);
}
