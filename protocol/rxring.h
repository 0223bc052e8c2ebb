// Receive ring between the socket notification (single producer) and the
// engine's worker (single consumer), and the frame reader on top of it.
#pragma once

#include <atomic>
#include <cstdint>

constexpr uint32_t kRxRingSize = 65536;        // storage; at most 65535 bytes held
constexpr unsigned kMaxReplyBody = 1024;       // ReadReplyFrame never collects more

struct RxRingState {
    uint8_t storage[kRxRingSize];
    std::atomic<uint32_t> readIndex;    // written by the consumer only
    std::atomic<uint32_t> writeIndex;   // written by the producer only
};

extern RxRingState RxRing;

void RxRingReset();
int RxRingPut(uint8_t byte);
int RxRingGet(uint8_t* out);
unsigned RxRingWrite(const uint8_t* bytes, unsigned count);

// One byte from the ring, polling with 1 ms pauses; maxPolls 0 waits forever.
int ReadRxByte(uint8_t* out, unsigned maxPolls);

// Asked on every empty poll of the ring; true makes the reader give up at once.
using AbortCheck = bool (*)();

// Finds the next reply header (magic + 0xFF) in the byte stream and collects
// the body up to and including "*END* = \r\n". Returns the body length, or
// -1 no buffer, -5 no terminator in time, -6 no header in time, -7 overflow.
// With an abort check, an abort returns -6 while synchronising and -5 while
// collecting.
int ReadReplyFrame(uint8_t* buffer, unsigned length, unsigned retries,
                   AbortCheck abort = nullptr);
