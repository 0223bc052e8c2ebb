#include "rxring.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "codec.h"

RxRingState RxRing;

namespace {

constexpr uint32_t kLastIndex = kRxRingSize - 1;

// Every datagram is one record at a 16-byte boundary: this header, then
// its bytes. A record never runs past the ring's end: when it would, the
// producer leaves a wrap mark where it stands and stores the record at 0.
// Records are 16-byte aligned, so the room before the end always holds a
// header, and a wrap mark always fits.
struct RecordHeader {
    uint32_t length;    // the datagram's bytes, or kWrapMark
    uint32_t addr;
    uint16_t port;
    uint16_t unused;
    int32_t ifIndex;
};
static_assert(sizeof(RecordHeader) == 16, "one record header is 16 bytes");
constexpr uint32_t kRecordAlign = 16;
constexpr uint32_t kWrapMark = 0xFFFFFFFFu;
constexpr uint32_t kNoRoom = 0xFFFFFFFFu;

uint32_t RecordSize(uint32_t count)
{
    return (static_cast<uint32_t>(sizeof(RecordHeader)) + count + kRecordAlign - 1) &
           ~(kRecordAlign - 1);
}

// Where a record of `need` bytes goes with the indices as they are: at w,
// at 0 (after a wrap mark at w), or kNoRoom. One record's worth of room
// always stays free, so that equal indices mean empty and never full.
uint32_t PlaceFor(uint32_t need, uint32_t r, uint32_t w)
{
    if (w >= r) {
        const uint32_t tail = kRxRingSize - w;
        if (need < tail || (need == tail && r != 0))
            return w;
        return need < r ? 0 : kNoRoom;
    }
    return need < r - w ? w : kNoRoom;
}

// The consumer sleeps on this while the ring is empty; the producer (and a
// stop or shutdown) wakes it. ConsumerWaiting keeps the producer's path to a
// single load when nobody sleeps.
std::mutex WakeMutex;
std::condition_variable WakeCv;
std::atomic<bool> ConsumerWaiting{false};
std::atomic<uint64_t> WakeCount{0};
std::atomic<bool> ConsumerActive{false};

// The datagram the reader is in: the consumer's own, never the producer's.
struct Cursor {
    bool open = false;
    uint32_t at = 0;       // ring position of its record
    uint32_t length = 0;   // its bytes
    uint32_t pos = 0;      // the first byte not yet looked at
    RxOrigin from;
};
Cursor Current;

}  // namespace

void RxRingReset()
{
    std::memset(RxRing.storage, 0, sizeof RxRing.storage);
    Current = Cursor{};
    RxRing.readIndex.store(0, std::memory_order_release);
    RxRing.writeIndex.store(0, std::memory_order_release);
}

bool RxRingHasRoomFor(unsigned count)
{
    if (count > kRxMaxDatagram)
        return false;
    const uint32_t w = RxRing.writeIndex.load(std::memory_order_relaxed);
    const uint32_t r = RxRing.readIndex.load(std::memory_order_acquire);
    return PlaceFor(RecordSize(count), r, w) != kNoRoom;
}

unsigned RxRingWrite(const uint8_t* bytes, unsigned count, const RxOrigin* from)
{
    if (count > kRxMaxDatagram || (count > 0 && !bytes))
        return 0;
    const uint32_t w = RxRing.writeIndex.load(std::memory_order_relaxed);
    const uint32_t r = RxRing.readIndex.load(std::memory_order_acquire);
    const uint32_t need = RecordSize(count);
    const uint32_t at = PlaceFor(need, r, w);
    if (at == kNoRoom)
        return 0;
    if (at != w) {
        RecordHeader mark{};
        mark.length = kWrapMark;
        std::memcpy(RxRing.storage + w, &mark, sizeof mark);
    }
    RecordHeader h{};
    h.length = count;
    if (from) {
        h.addr = from->addr;
        h.port = from->port;
        h.ifIndex = from->ifIndex;
    }
    std::memcpy(RxRing.storage + at, &h, sizeof h);
    if (count > 0)
        std::memcpy(RxRing.storage + at + sizeof h, bytes, count);
    // Sequentially consistent, with the consumer's store of ConsumerWaiting
    // and its load of the write index: either the consumer sees the new
    // index before it sleeps, or this sees it waiting and wakes it.
    RxRing.writeIndex.store((at + need) & kLastIndex, std::memory_order_seq_cst);
    if (ConsumerWaiting.load(std::memory_order_seq_cst))
        RxRingWakeConsumer();
    return count;
}

bool RxRingDrained()
{
    return !Current.open && RxRing.readIndex.load(std::memory_order_relaxed) ==
                                RxRing.writeIndex.load(std::memory_order_acquire);
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

// Sleeps until the ring holds a datagram, the abort check says stop, a wake
// is requested, or maxMs pass, whichever comes first.
void WaitForDatagram(int32_t maxMs, AbortCheck abort)
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

// The reader's wait on the empty ring, counting the time spent empty
// against the call's budget.
class EmptyWait {
public:
    EmptyWait(unsigned retries, AbortCheck abort, AbortDue due)
        : budgetMs_(static_cast<int64_t>(retries)), abort_(abort), due_(due)
    {
    }

    // Called when the ring is found empty: true to look again, false to
    // give up (aborted, or the budget is spent).
    bool Wait()
    {
        if (abort_ && abort_())
            return false;
        if (budgetMs_ != 0 && waitedUs_ >= budgetMs_ * 1000)
            return false;
        int64_t sliceMs = budgetMs_ != 0 ? budgetMs_ - waitedUs_ / 1000 : kLongestSliceMs;
        // Without a due time the abort check is asked every millisecond, as
        // nothing else would wake the reader when it turns true.
        const int64_t dueMs = due_ ? due_() : (abort_ ? 1 : sliceMs);
        if (dueMs < sliceMs)
            sliceMs = dueMs;
        if (sliceMs > kLongestSliceMs)
            sliceMs = kLongestSliceMs;
        if (sliceMs < 1)
            sliceMs = 1;
        const Clock::time_point t0 = Clock::now();
        WaitForDatagram(static_cast<int32_t>(sliceMs), abort_);
        waitedUs_ += std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
        return true;
    }

private:
    static constexpr int64_t kLongestSliceMs = 1000;
    int64_t budgetMs_;   // 0: no limit
    int64_t waitedUs_ = 0;
    AbortCheck abort_;
    AbortDue due_;
};

// Opens the next datagram, skipping wrap marks: false when none waits.
bool OpenNext()
{
    uint32_t r = RxRing.readIndex.load(std::memory_order_relaxed);
    const uint32_t w = RxRing.writeIndex.load(std::memory_order_acquire);
    if (r == w)
        return false;
    RecordHeader h;
    std::memcpy(&h, RxRing.storage + r, sizeof h);
    if (h.length == kWrapMark) {
        r = 0;   // the record stands at 0; the mark is released with it
        std::memcpy(&h, RxRing.storage, sizeof h);
    }
    Current.open = true;
    Current.at = r;
    Current.length = h.length;
    Current.pos = 0;
    Current.from.addr = h.addr;
    Current.from.port = h.port;
    Current.from.ifIndex = h.ifIndex;
    return true;
}

// Gives the current datagram's room back to the producer.
void ReleaseCurrent()
{
    Current.open = false;
    RxRing.readIndex.store((Current.at + RecordSize(Current.length)) & kLastIndex,
                           std::memory_order_release);
}

constexpr size_t kMagicSize = sizeof kFrameMagic;

// The offset just after the first reply header (magic + 0xFF) in d[from..n),
// or 0 when there is none.
size_t HeaderEnd(const uint8_t* d, size_t n, size_t from)
{
    size_t k = from + kMagicSize;
    while (k < n) {
        const void* hit = std::memchr(d + k, kDirReply, n - k);
        if (!hit)
            return 0;
        k = static_cast<size_t>(static_cast<const uint8_t*>(hit) - d);
        if (std::memcmp(d + k - kMagicSize, kFrameMagic, kMagicSize) == 0)
            return k + 1;
        ++k;
    }
    return 0;
}

// The length of the shortest prefix of d[0..n) that ends with the
// terminator record, or 0.
size_t TerminatorEnd(const uint8_t* d, size_t n)
{
    size_t from = 0;
    while (from + kEndRecordSize <= n) {
        const void* star = std::memchr(d + from, '*', n - from - (kEndRecordSize - 1));
        if (!star)
            return 0;
        const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(star) - d);
        if (std::memcmp(d + at, kEndRecord, kEndRecordSize) == 0)
            return at + kEndRecordSize;
        from = at + 1;
    }
    return 0;
}

}  // namespace

int RxRingTakeDatagram(uint8_t* out, unsigned size, RxOrigin* from)
{
    if (!Current.open && !OpenNext())
        return -1;
    const uint32_t n = Current.length - Current.pos;
    std::memcpy(out, RxRing.storage + Current.at + sizeof(RecordHeader) + Current.pos,
                n < size ? n : size);
    if (from)
        *from = Current.from;
    ReleaseCurrent();
    return static_cast<int>(n);
}

int ReadReplyFrame(uint8_t* buffer, unsigned length, unsigned retries, AbortCheck abort,
                   AbortDue due, RxOrigin* from)
{
    if (!buffer)
        return kRxNoBuffer;
    if (length > kMaxReplyBody)
        length = kMaxReplyBody;
    EmptyWait empty(retries, abort, due);
    for (;;) {
        if (!Current.open && !OpenNext()) {
            if (!empty.Wait())
                return kRxNoReply;
            continue;
        }
        const uint8_t* d = RxRing.storage + Current.at + sizeof(RecordHeader);
        const size_t n = Current.length;
        const size_t body = HeaderEnd(d, n, Current.pos);
        if (body == 0) {
            ReleaseCurrent();   // nothing more of a reply in it
            continue;
        }
        const size_t rest = n - body;
        const size_t span = rest < length ? rest : length;
        const size_t end = TerminatorEnd(d + body, span);
        if (end != 0 || rest > length) {
            // A whole body, or as much of a longer one as fits.
            const size_t taken = end != 0 ? end : span;
            std::memcpy(buffer, d + body, taken);
            std::memset(buffer + taken, 0, length - taken);
            Current.pos = static_cast<uint32_t>(body + taken);
            if (end != 0 && from)
                *from = Current.from;
            if (Current.pos >= n)
                ReleaseCurrent();
            return end != 0 ? static_cast<int>(end) : kRxOverflow;
        }
        // The datagram ends before the reply's terminator: it was cut, and
        // whatever comes next belongs to another datagram, maybe another
        // sender. Nothing after its header can be a whole reply either.
        std::memset(buffer, 0, length);
        ReleaseCurrent();
        return kRxCutReply;
    }
}
