// Thin platform layer for the protocol module: millisecond clock and sleep,
// thread CPU time, the system's error texts.
#pragma once

#include <cstddef>
#include <cstdint>

// Elapsed real time in milliseconds since the first call in this process,
// as a signed 32-bit tick (wraps after ~24 days; callers subtract ticks).
int32_t TickMs();

// Pause the calling thread for the given number of milliseconds.
void SleepMs(int ms);

// CPU time the calling thread has used, in nanoseconds (0 where unknown).
uint64_t ThreadCpuNs();

// The system's text for one of its error codes (errno; on Windows a
// GetLastError or Winsock code) without its closing full stop, in out;
// "system error N" where the system has no text for it.
void SystemErrorText(int error, char* out, size_t size);
