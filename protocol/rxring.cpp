#include "rxring.h"

#include <cstring>

#include "codec.h"
#include "platform.h"

RxRingState RxRing;

namespace {
constexpr uint32_t kLastIndex = kRxRingSize - 1;
}

void RxRingReset()
{
    std::memset(RxRing.storage, 0, sizeof RxRing.storage);
    RxRing.readIndex.store(0, std::memory_order_release);
    RxRing.writeIndex.store(0, std::memory_order_release);
}

int RxRingPut(uint8_t byte)
{
    const uint32_t w = RxRing.writeIndex.load(std::memory_order_relaxed);
    const uint32_t r = RxRing.readIndex.load(std::memory_order_acquire);
    const uint32_t next = (w == kLastIndex) ? 0 : w + 1;
    if (next == r)
        return 0;
    RxRing.storage[w] = byte;
    RxRing.writeIndex.store(next, std::memory_order_release);
    return 1;
}

int RxRingGet(uint8_t* out)
{
    const uint32_t r = RxRing.readIndex.load(std::memory_order_relaxed);
    const uint32_t w = RxRing.writeIndex.load(std::memory_order_acquire);
    if (r == w)
        return 0;
    *out = RxRing.storage[r];
    RxRing.readIndex.store(r == kLastIndex ? 0 : r + 1, std::memory_order_release);
    return 1;
}

unsigned RxRingWrite(const uint8_t* bytes, unsigned count)
{
    unsigned stored = 0;
    while (stored < count && RxRingPut(bytes[stored]))
        ++stored;
    return stored;
}

namespace {

enum class Poll { Byte, Empty, Aborted };

// ReadRxByte with an optional abort check asked after every empty poll.
Poll ReadByteOrAbort(uint8_t* out, unsigned maxPolls, AbortCheck abort)
{
    unsigned failed = 0;
    for (;;) {
        if (maxPolls != 0 && failed >= maxPolls)
            return Poll::Empty;
        if (RxRingGet(out))
            return Poll::Byte;
        SleepMs(1);
        ++failed;
        if (abort && abort())
            return Poll::Aborted;
    }
}

}  // namespace

int ReadRxByte(uint8_t* out, unsigned maxPolls)
{
    return ReadByteOrAbort(out, maxPolls, nullptr) == Poll::Byte ? 1 : 0;
}

int ReadReplyFrame(uint8_t* buffer, unsigned length, unsigned retries, AbortCheck abort)
{
    if (!buffer)
        return -1;
    if (length > kMaxReplyBody)
        length = kMaxReplyBody;

    // Synchronise on the reply header: the six magic bytes, then 0xFF.
    uint8_t sync[6] = {0, 0, 0, 0, 0, 0};
    unsigned misses = 0;
    for (;;) {
        uint8_t b = 0;
        const Poll p = ReadByteOrAbort(&b, 1, abort);
        if (p == Poll::Aborted)
            return -6;
        if (p == Poll::Byte) {
            if (b == kDirReply && std::memcmp(sync, kFrameMagic, sizeof sync) == 0)
                break;
            std::memmove(sync, sync + 1, sizeof sync - 1);
            sync[5] = b;
            continue;
        }
        if (retries != 0 && ++misses >= retries)
            return -6;
    }

    // Collect the body up to the terminator record.
    std::memset(buffer, 0, length);
    uint8_t endWindow[kEndRecordSize] = {};
    unsigned stored = 0;
    misses = 0;
    for (;;) {
        uint8_t b = 0;
        const Poll p = ReadByteOrAbort(&b, 1000, abort);
        if (p == Poll::Aborted)
            return -5;
        if (p == Poll::Byte) {
            if (stored < length)
                buffer[stored] = b;
            ++stored;
            std::memmove(endWindow, endWindow + 1, sizeof endWindow - 1);
            endWindow[kEndRecordSize - 1] = b;
            if (std::memcmp(endWindow, kEndRecord, kEndRecordSize) == 0)
                return static_cast<int>(stored);
            if (stored >= length)
                return -7;
            continue;
        }
        if (retries != 0 && ++misses >= retries)
            return -5;
    }
}
