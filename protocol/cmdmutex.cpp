// The command mutex: one process-wide recursive mutex that the window's
// command handlers take with a time limit (window thread only).
#include <atomic>
#include <chrono>
#include <mutex>

#include "engine.h"
#include "platform.h"

namespace {

std::recursive_timed_mutex CmdMutex;
std::atomic<bool> CmdMutexOpen{false};

}  // namespace

void CreateCmdMutex()
{
    CmdMutexOpen.store(true);
}

int WaitCmdMutex(int milliseconds)
{
    if (!CmdMutexOpen.load())
        return kCmdMutexFailed;
    if (milliseconds < 0)
        return kCmdMutexFailed;
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer does not see the clock-based timed lock that
    // try_lock_for uses here, so under it the wait polls try_lock instead.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (CmdMutex.try_lock())
            return 0;
        if (std::chrono::steady_clock::now() >= deadline)
            return kCmdMutexTimedOut;
        SleepMs(1);
    }
#else
    return CmdMutex.try_lock_for(std::chrono::milliseconds(milliseconds)) ? 0 : kCmdMutexTimedOut;
#endif
}

void ReleaseCmdMutex()
{
    if (CmdMutexOpen.load())
        CmdMutex.unlock();
}

void CloseCmdMutex()
{
    CmdMutexOpen.store(false);
}
