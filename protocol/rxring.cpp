#include "rxring.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "codec.h"

RxRingState RxRing;

namespace {

constexpr uint32_t kLastIndex = kRxRingSize - 1;

// The consumer sleeps on this while the ring is empty; the producer (and a
// stop or shutdown) wakes it. ConsumerWaiting keeps the producer's path to a
// single load when nobody sleeps.
std::mutex WakeMutex;
std::condition_variable WakeCv;
std::atomic<bool> ConsumerWaiting{false};
std::atomic<uint64_t> WakeCount{0};
std::atomic<bool> ConsumerActive{false};

uint32_t Advance(uint32_t index, uint32_t by)
{
    return (index + by) & kLastIndex;
}

}  // namespace

void RxRingReset()
{
    std::memset(RxRing.storage, 0, sizeof RxRing.storage);
    RxRing.readIndex.store(0, std::memory_order_release);
    RxRing.writeIndex.store(0, std::memory_order_release);
}

int RxRingPut(uint8_t byte)
{
    return RxRingWrite(&byte, 1) == 1 ? 1 : 0;
}

int RxRingGet(uint8_t* out)
{
    const uint32_t r = RxRing.readIndex.load(std::memory_order_relaxed);
    const uint32_t w = RxRing.writeIndex.load(std::memory_order_acquire);
    if (r == w)
        return 0;
    *out = RxRing.storage[r];
    RxRing.readIndex.store(Advance(r, 1), std::memory_order_release);
    return 1;
}

unsigned RxRingWrite(const uint8_t* bytes, unsigned count)
{
    const uint32_t w = RxRing.writeIndex.load(std::memory_order_relaxed);
    const uint32_t r = RxRing.readIndex.load(std::memory_order_acquire);
    // One position always stays free: full means the next write index would
    // meet the read index.
    const uint32_t free = (r + kLastIndex - w) & kLastIndex;
    const uint32_t n = count < free ? count : free;
    if (n == 0)
        return 0;
    const uint32_t first = n < kRxRingSize - w ? n : kRxRingSize - w;
    std::memcpy(RxRing.storage + w, bytes, first);
    std::memcpy(RxRing.storage, bytes + first, n - first);
    // Sequentially consistent, with the consumer's store of ConsumerWaiting
    // and its load of the write index: either the consumer sees the new
    // index before it sleeps, or this sees it waiting and wakes it.
    RxRing.writeIndex.store(Advance(w, n), std::memory_order_seq_cst);
    if (ConsumerWaiting.load(std::memory_order_seq_cst))
        RxRingWakeConsumer();
    return n;
}

uint32_t RxRingFree()
{
    const uint32_t w = RxRing.writeIndex.load(std::memory_order_relaxed);
    const uint32_t r = RxRing.readIndex.load(std::memory_order_acquire);
    return (r + kLastIndex - w) & kLastIndex;
}

void RxRingSetConsumer(bool active)
{
    ConsumerActive.store(active, std::memory_order_release);
}

bool RxRingHasConsumer()
{
    return ConsumerActive.load(std::memory_order_acquire);
}

void RxRingWakeConsumer()
{
    // Taking the lock orders this wake after the consumer's last look at the
    // ring and its abort check, so the wake cannot fall between the two.
    { std::lock_guard<std::mutex> g(WakeMutex); }
    WakeCv.notify_one();
}

uint64_t RxRingWakeCount()
{
    return WakeCount.load(std::memory_order_relaxed);
}

namespace {

using Clock = std::chrono::steady_clock;

// Sleeps until the ring holds a byte, the abort check says stop, a wake is
// requested, or maxMs pass, whichever comes first.
void WaitForBytes(int32_t maxMs, AbortCheck abort)
{
    std::unique_lock<std::mutex> lock(WakeMutex);
    ConsumerWaiting.store(true, std::memory_order_seq_cst);
    const bool empty = RxRing.readIndex.load(std::memory_order_relaxed) ==
                       RxRing.writeIndex.load(std::memory_order_seq_cst);
    if (empty && !(abort && abort())) {
        WakeCv.wait_for(lock, std::chrono::milliseconds(maxMs));
        WakeCount.fetch_add(1, std::memory_order_relaxed);
    }
    ConsumerWaiting.store(false, std::memory_order_relaxed);
}

// The consumer's side of one phase of the reader: waits on the empty ring,
// counting the time spent empty against the phase's budget.
class EmptyWait {
public:
    EmptyWait(unsigned retries, int32_t unitMs, AbortCheck abort, AbortDue due)
        : budgetMs_(static_cast<int64_t>(retries) * unitMs), abort_(abort), due_(due)
    {
    }

    enum Result { LookAgain, Aborted, Exhausted };

    // Called when the ring is found empty.
    Result Wait()
    {
        if (abort_ && abort_())
            return Aborted;
        if (budgetMs_ != 0 && waitedUs_ >= budgetMs_ * 1000)
            return Exhausted;
        int64_t sliceMs = budgetMs_ != 0 ? budgetMs_ - waitedUs_ / 1000 : kLongestSliceMs;
        // Without a due time the abort check is asked every millisecond, as
        // nothing else would wake the reader when it turns true.
        const int64_t dueMs = due_ ? due_() : (abort_ ? 1 : sliceMs);
        if (dueMs < sliceMs)
            sliceMs = dueMs;
        // A budget of millions of seconds is slept a slice at a time; one
        // slice always fits the wait's 32-bit milliseconds.
        if (sliceMs > kLongestSliceMs)
            sliceMs = kLongestSliceMs;
        if (sliceMs < 1)
            sliceMs = 1;
        const Clock::time_point t0 = Clock::now();
        WaitForBytes(static_cast<int32_t>(sliceMs), abort_);
        waitedUs_ += std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
        return LookAgain;   // woken or timed out: the caller looks at the ring again
    }

private:
    static constexpr int64_t kLongestSliceMs = 1000;
    int64_t budgetMs_;   // 0: no limit
    int64_t waitedUs_ = 0;
    AbortCheck abort_;
    AbortDue due_;
};

// The bytes the consumer may take now, as one run up to the ring's end.
size_t ReadableRun(const uint8_t** run)
{
    const uint32_t r = RxRing.readIndex.load(std::memory_order_relaxed);
    const uint32_t w = RxRing.writeIndex.load(std::memory_order_acquire);
    *run = RxRing.storage + r;
    return w >= r ? w - r : kRxRingSize - r;
}

void Consume(size_t n)
{
    const uint32_t r = RxRing.readIndex.load(std::memory_order_relaxed);
    RxRing.readIndex.store(Advance(r, static_cast<uint32_t>(n)), std::memory_order_release);
}

// What one call of the reader takes bytes from: the body of a frame found
// cut short, already taken from the ring and to be looked at again, then
// the ring itself. Lives for one call only.
class Source {
public:
    // The bytes that may be taken now, as one run.
    size_t Run(const uint8_t** run)
    {
        if (begin_ < end_) {
            *run = replay_ + begin_;
            return end_ - begin_;
        }
        return ReadableRun(run);
    }

    // Takes n bytes of the run that Run gave last.
    void Take(size_t n)
    {
        if (begin_ < end_)
            begin_ += n;
        else
            Consume(n);
    }

    // Puts a cut frame's stored body back in front of what is left. It never
    // holds more than a body: bytes put back are all later taken again.
    void PutBack(const uint8_t* bytes, size_t n)
    {
        const size_t rest = end_ - begin_;
        if (n > sizeof replay_ - rest)
            n = sizeof replay_ - rest;
        std::memmove(replay_ + n, replay_ + begin_, rest);
        std::memcpy(replay_, bytes, n);
        begin_ = 0;
        end_ = n + rest;
    }

private:
    uint8_t replay_[kMaxReplyBody];
    size_t begin_ = 0;
    size_t end_ = 0;
};

// The last six bytes taken, updated by a run of n more.
void SlideWindow(uint8_t window[6], const uint8_t* run, size_t n)
{
    if (n >= 6) {
        std::memcpy(window, run + n - 6, 6);
    } else {
        std::memmove(window, window + n, 6 - n);
        std::memcpy(window + 6 - n, run, n);
    }
}

// Whether the six bytes before run[k] (the window, then run[0..k)) are the magic.
bool MagicBefore(const uint8_t window[6], const uint8_t* run, size_t k)
{
    if (k >= 6)
        return std::memcmp(run + k - 6, kFrameMagic, 6) == 0;
    return std::memcmp(window + k, kFrameMagic, 6 - k) == 0 &&
           std::memcmp(run, kFrameMagic + 6 - k, k) == 0;
}

// Takes bytes up to and including the next reply header: 0, or -6. The
// window holds the six bytes taken just before.
int Synchronise(Source& src, uint8_t window[6], unsigned retries, AbortCheck abort, AbortDue due)
{
    EmptyWait empty(retries, 1, abort, due);
    for (;;) {
        const uint8_t* run = nullptr;
        const size_t n = src.Run(&run);
        if (n == 0) {
            if (empty.Wait() != EmptyWait::LookAgain)
                return -6;
            continue;
        }
        size_t from = 0;
        while (from < n) {
            const void* hit = std::memchr(run + from, kDirReply, n - from);
            if (!hit) {
                SlideWindow(window, run, n);
                src.Take(n);
                break;
            }
            const size_t k = static_cast<size_t>(static_cast<const uint8_t*>(hit) - run);
            if (MagicBefore(window, run, k)) {
                src.Take(k + 1);
                return 0;
            }
            from = k + 1;
            if (from == n) {
                SlideWindow(window, run, n);
                src.Take(n);
            }
        }
    }
}

constexpr int kFrameCut = -100;   // internal: the frame in hand was cut short
constexpr size_t kCommandBytes = 4;
constexpr size_t kMagicSize = sizeof kFrameMagic;

// Length of the shortest prefix of run[0..n) that completes the terminator
// record, given the bytes already stored; 0 when none does.
size_t TerminatorEnd(const uint8_t* stored, size_t storedCount, const uint8_t* run, size_t n)
{
    const auto* end = reinterpret_cast<const uint8_t*>(kEndRecord);
    // Begun among the stored bytes and completed by the first e bytes of the run.
    const size_t lookBack = storedCount < kEndRecordSize - 1 ? storedCount : kEndRecordSize - 1;
    for (size_t e = kEndRecordSize - lookBack; e < kEndRecordSize && e <= n; ++e) {
        if (std::memcmp(stored + storedCount - (kEndRecordSize - e), end, kEndRecordSize - e) == 0 &&
            std::memcmp(run, end + kEndRecordSize - e, e) == 0)
            return e;
    }
    // Wholly inside the run.
    size_t from = 0;
    while (from + kEndRecordSize <= n) {
        const void* star = std::memchr(run + from, '*', n - from - (kEndRecordSize - 1));
        if (!star)
            break;
        const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(star) - run);
        if (std::memcmp(run + at, end, kEndRecordSize) == 0)
            return at + kEndRecordSize;
        from = at + 1;
    }
    return 0;
}

// Collects the body after a header: its length, -5, -7, or kFrameCut with
// *stored the bytes stored before the cut showed (the byte that showed it,
// a zero, is left untaken).
int Collect(Source& src, uint8_t* buffer, unsigned length, unsigned retries, AbortCheck abort,
            AbortDue due, size_t* storedOut)
{
    std::memset(buffer, 0, length);
    size_t stored = 0;
    EmptyWait empty(retries, 1000, abort, due);
    for (;;) {
        const uint8_t* run = nullptr;
        size_t n = src.Run(&run);
        if (n == 0) {
            if (empty.Wait() != EmptyWait::LookAgain)
                return -5;
            continue;
        }
        if (length == 0) {
            src.Take(1);   // nothing can be stored: the first byte overflows
            return -7;
        }
        if (n > length - stored)
            n = length - stored;
        size_t take = n;
        bool cut = false;
        if (stored >= kCommandBytes) {
            // Record text: a zero byte ends the frame in hand.
            if (const void* zero = std::memchr(run, 0, n)) {
                take = static_cast<size_t>(static_cast<const uint8_t*>(zero) - run);
                cut = true;
            }
        } else if (take > kCommandBytes - stored) {
            take = kCommandBytes - stored;   // the command bytes may hold zeros
        }
        // The first bytes of the body are looked at as a whole once there
        // are as many as a magic has.
        if (stored < kMagicSize && take > kMagicSize - stored) {
            take = kMagicSize - stored;
            cut = false;
        }
        const size_t end = TerminatorEnd(buffer, stored, run, take);
        if (end != 0) {
            std::memcpy(buffer + stored, run, end);
            src.Take(end);
            return static_cast<int>(stored + end);
        }
        std::memcpy(buffer + stored, run, take);
        const size_t before = stored;
        stored += take;
        src.Take(take);
        // A whole magic where the body begins is the next datagram's header:
        // this one ended inside its command bytes.
        if (before < kMagicSize && stored == kMagicSize &&
            std::memcmp(buffer, kFrameMagic, kMagicSize) == 0)
            cut = true;
        if (cut) {
            *storedOut = stored;
            return kFrameCut;
        }
        if (stored >= length)
            return -7;
    }
}

}  // namespace

int ReadRxByte(uint8_t* out, unsigned maxPolls)
{
    for (unsigned failed = 0; maxPolls == 0 || failed < maxPolls; ++failed) {
        if (RxRingGet(out))
            return 1;
        WaitForBytes(1, nullptr);
    }
    return 0;
}

int ReadReplyFrame(uint8_t* buffer, unsigned length, unsigned retries, AbortCheck abort,
                   AbortDue due)
{
    if (!buffer)
        return -1;
    if (length > kMaxReplyBody)
        length = kMaxReplyBody;
    Source src;
    uint8_t window[6] = {0, 0, 0, 0, 0, 0};
    for (;;) {
        int r = Synchronise(src, window, retries, abort, due);
        if (r != 0)
            return r;
        size_t stored = 0;
        r = Collect(src, buffer, length, retries, abort, due, &stored);
        if (r != kFrameCut)
            return r;
        // The frame was cut short, perhaps inside its command bytes, which
        // may then hold the start of the next header: its body is looked at
        // again from the first byte, after the header it followed.
        src.PutBack(buffer, stored);
        std::memset(buffer, 0, length);
        static const uint8_t kAfterHeader[6] = {0x0D, 0xAC, 0x00, 0x0D, 0xAC, kDirReply};
        std::memcpy(window, kAfterHeader, sizeof window);
    }
}
