#include "platform.h"

#include <chrono>
#include <thread>

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

namespace {
const std::chrono::steady_clock::time_point kOrigin = std::chrono::steady_clock::now();
}

int32_t TickMs()
{
    const auto elapsed = std::chrono::steady_clock::now() - kOrigin;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(ms)));
}

void SleepMs(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint64_t ThreadCpuNs()
{
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
        return 0;
    auto ticks = [](const FILETIME& f) {
        return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) * 100;   // 100 ns units
#else
    timespec ts{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0)
        return 0;
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
#endif
}

void SystemErrorText(int error, char* out, size_t size)
{
    if (size == 0)
        return;
#ifdef _WIN32
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(error), 0, out,
                                   static_cast<DWORD>(size), nullptr);
    size_t len = n > 0 ? std::strlen(out) : 0;
    while (len > 0 && (out[len - 1] == '\n' || out[len - 1] == '\r' || out[len - 1] == ' ' ||
                       out[len - 1] == '.'))
        out[--len] = '\0';
    if (len == 0)
        std::snprintf(out, size, "system error %d", error);
#else
    std::snprintf(out, size, "%s", std::strerror(error));
#endif
}
