#include "platform.h"

#include <chrono>
#include <thread>

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
