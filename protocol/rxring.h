// Receive ring between the socket notification (single producer) and the
// engine's worker (single consumer), and the frame reader on top of it.
//
// The ring keeps datagram boundaries: each received datagram is stored as
// one record (a small header with its length and where it came from, then
// its bytes, never split at the ring's end), and the reader takes one
// datagram at a time. A frame therefore never spans two datagrams: a reply
// cut before its terminator ends with its datagram and is dropped, and
// nothing of one datagram can complete a frame begun in another.
#pragma once

#include <atomic>
#include <cstdint>

constexpr uint32_t kRxRingSize = 65536;        // storage, headers included
constexpr unsigned kMaxReplyBody = 1024;       // ReadReplyFrame never collects more
constexpr unsigned kRxMaxDatagram = 2048;      // the longest datagram the ring takes

// Where one datagram came from: the sender's IPv4 address (network byte
// order) and port, and the index of the interface it arrived on (0 when
// the system did not say).
struct RxOrigin {
    uint32_t addr = 0;
    uint16_t port = 0;
    int32_t ifIndex = 0;
};

struct RxRingState {
    alignas(16) uint8_t storage[kRxRingSize];
    std::atomic<uint32_t> readIndex;    // written by the consumer only
    std::atomic<uint32_t> writeIndex;   // written by the producer only
};

extern RxRingState RxRing;

// Empties the ring and forgets the datagram the reader was in. Runs while
// no producer writes (the open, the worker's start).
void RxRingReset();

// Stores one datagram whole, or nothing: count when stored, 0 when the ring
// has no room for it now (or it is longer than kRxMaxDatagram).
unsigned RxRingWrite(const uint8_t* bytes, unsigned count, const RxOrigin* from = nullptr);

// Whether a datagram of count bytes would be stored now (the producer's view).
bool RxRingHasRoomFor(unsigned count);

// Whether the reader has nothing left: no datagram waiting and none begun.
// The consumer's view; for the consumer and for tests.
bool RxRingDrained();

// Takes the next whole datagram (or the rest of the one the reader is in)
// into out, at most size bytes of it: its length, or -1 when none waits.
// The consumer's; for tests and tools that look at datagrams as they came.
int RxRingTakeDatagram(uint8_t* out, unsigned size, RxOrigin* from = nullptr);

// Whether a consumer is taking datagrams out (a request's worker runs).
// With one, the producer leaves datagrams that do not fit in the socket for
// later rather than lose them; without one, nobody would ever make room.
void RxRingSetConsumer(bool active);
bool RxRingHasConsumer();

// Wakes a consumer waiting on the empty ring, so that it asks its abort
// check again (a stop request, a shutdown). Cheap when nobody waits.
void RxRingWakeConsumer();

// How often a consumer waiting on the empty ring has woken up, for any
// reason (a datagram, a wake request, its time limit). For tests and
// measurements. A wake request always takes the consumer's lock, so a flag
// set before it is seen by the consumer's next abort check; it is meant for
// rare events.
uint64_t RxRingWakeCount();

// Asked whenever the ring is empty; true makes the reader give up at once.
using AbortCheck = bool (*)();
// Milliseconds until the abort check may next turn true by itself (a
// deadline); the reader never sleeps past it. Events that are not deadlines
// (stop, shutdown) wake the reader with RxRingWakeConsumer instead. With an
// abort check but no due time, the check is asked every millisecond.
using AbortDue = int32_t (*)();

// What ReadReplyFrame returns besides a body length.
constexpr int kRxNoBuffer = -1;
constexpr int kRxCutReply = -5;   // a reply whose terminator is not in its datagram: dropped
constexpr int kRxNoReply = -6;    // no reply header in time (or aborted)
constexpr int kRxOverflow = -7;   // `length` bytes without the terminator at their end

// Finds the next reply header (magic + 0xFF) in the current datagram, or in
// the next ones, and copies the body after it, up to and including the
// first "*END* = \r\n" in the same datagram, into buffer; the rest of the
// buffer (up to length, at most kMaxReplyBody) is zeroed. Returns the body
// length, with *from (when given) the datagram's origin.
// A reply whose datagram ends before its terminator returns kRxCutReply at
// once (the caller counts it); the datagram is dropped. A body longer than
// length returns kRxOverflow with length bytes in buffer; the reader goes
// on after them. Bytes after a terminator in the same datagram are searched
// for a header by the next call. Datagrams without a reply header are
// skipped. The empty ring is waited on for at most `retries` ms (0: no
// limit); an abort returns kRxNoReply.
int ReadReplyFrame(uint8_t* buffer, unsigned length, unsigned retries,
                   AbortCheck abort = nullptr, AbortDue due = nullptr, RxOrigin* from = nullptr);
