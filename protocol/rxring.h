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

// Bytes a write would accept now (the producer's view).
uint32_t RxRingFree();

// Whether a consumer is taking bytes out (a request's worker runs). With one,
// the producer leaves datagrams that do not fit in the socket for later
// rather than lose them; without one, nobody would ever make room.
void RxRingSetConsumer(bool active);
bool RxRingHasConsumer();

// Wakes a consumer waiting on the empty ring, so that it asks its abort
// check again (a stop request, a shutdown). Cheap when nobody waits.
void RxRingWakeConsumer();

// How often a consumer waiting on the empty ring has woken up, for any
// reason (bytes, a wake request, its time limit). For tests and measurements.
// A wake request always takes the consumer's lock, so a flag set before it
// is seen by the consumer's next abort check; it is meant for rare events.
uint64_t RxRingWakeCount();

// One byte from the ring, waiting up to 1 ms per poll; maxPolls 0 waits forever.
int ReadRxByte(uint8_t* out, unsigned maxPolls);

// Asked whenever the ring is empty; true makes the reader give up at once.
using AbortCheck = bool (*)();
// Milliseconds until the abort check may next turn true by itself (a
// deadline); the reader never sleeps past it. Events that are not deadlines
// (stop, shutdown) wake the reader with RxRingWakeConsumer instead. With an
// abort check but no due time, the check is asked every millisecond.
using AbortDue = int32_t (*)();

// Finds the next reply header (magic + 0xFF) in the byte stream and collects
// the body up to and including "*END* = \r\n". Returns the body length, or
// -1 no buffer, -5 no terminator in time, -6 no header in time, -7 overflow.
// The empty ring is waited on for at most `retries` ms while synchronising
// and `retries` seconds while collecting (0: no limit). With an abort check,
// an abort returns -6 while synchronising and -5 while collecting.
//
// A datagram holds one frame, so a frame never spans two: every header
// begins with a zero byte, and record text never holds one. A zero in the
// record text, or a whole magic where the body begins, means the frame in
// hand was cut short (possibly inside its command bytes, which may hold
// zeros and so may have swallowed the start of the next header). It is
// dropped, and the reader synchronises again from the body's first byte, so
// the next datagram's reply is read whole.
int ReadReplyFrame(uint8_t* buffer, unsigned length, unsigned retries,
                   AbortCheck abort = nullptr, AbortDue due = nullptr);
