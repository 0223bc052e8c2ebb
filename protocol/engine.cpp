#include "engine.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform.h"
#include "rxring.h"
#include "socketio.h"
#include "udp.h"

DeviceEntry DeviceTable[kDeviceTableMax + 1];
char CfgText[kCfgTextSize];
DeviceEntry CfgSummary;
char TargetMac[kMacSize];
char TargetSerial[kSerialSize];

namespace {

// A reply frame as the reader leaves it in RxFrame: the four command bytes
// (the first is the low byte of the little-endian RequestKind, and the only
// one looked at), then the record text.
constexpr size_t kFrameCommandOffset = 0;
constexpr size_t kFrameTextOffset = 4;
constexpr int kFindCmd = static_cast<int>(RequestKind::Find);
constexpr int kGetConfigCmd = static_cast<int>(RequestKind::GetConfig);
constexpr int kFirstKind = static_cast<int>(RequestKind::Find);
constexpr int kLastKind = static_cast<int>(RequestKind::SetConfig);

constexpr int32_t kDefaultRecvTmo = 3;     // seconds
constexpr int kStartPolls = 300;           // the start handshake: 300 polls ...
constexpr int kStartPollMs = 10;           // ... 10 ms apart
constexpr unsigned kFrameWaitPolls = 100;  // the reader's wait on an empty ring, ms

std::atomic<uint8_t> ReqKind{0};
std::atomic<int32_t> ExpectCmd{0};
std::atomic<int32_t> StartTick{0};
std::atomic<int32_t> RecvTmo{0};
std::atomic<int> DevCount{0};
std::atomic<int> DevCapacity{kDeviceTableMax};
std::atomic<uint8_t> RecvEvent{0};
std::atomic<uint8_t> StopRecvFlg{0};
std::atomic<uint8_t> StopReqFlg{0};
std::atomic<uint8_t> BusyFlg{0};
std::atomic<uint8_t> ThreadUp{0};

std::thread WorkerThread;
std::atomic<bool> WorkerStartFails{false};
std::atomic<uint32_t> UnaddressedReplies{0};
std::atomic<uint32_t> LeftOutReplies{0};
std::atomic<uint32_t> CutReplies{0};
std::atomic<uint64_t> LastWorkerCpuNs{0};

// The monitor's wake-up. WakePending is set by the call that wakes and
// cleared by the monitor's next look. The event set, the end flag and this
// mark are all read and written sequentially consistent: a worker that
// finds the mark still set knows that the look it is waiting for will see
// what it has just raised.
std::atomic<MonitorWake> WakeFn{nullptr};
std::atomic<void*> WakeCtx{nullptr};
std::atomic<bool> WakePending{false};
std::atomic<void (*)()> ProgressSeam{nullptr};

// The frame the worker has just read; the parser is given its length.
uint8_t RxFrame[kRxFrameSize];
// The request frame being sent (window thread).
uint8_t TxBuffer[kTxBufferSize];

// Interface names by index, asked of the system once per index and
// request (worker thread only).
struct NameCache {
    int32_t index[kMaxReplyOrigins] = {};
    char name[kMaxReplyOrigins][kInterfaceNameSize] = {};
    int next = 0;
};
NameCache IfNames;

void InterfaceNameCached(int32_t index, char* out)
{
    out[0] = '\0';
    if (index <= 0)
        return;
    for (int i = 0; i < kMaxReplyOrigins; ++i) {
        if (IfNames.index[i] == index) {
            std::memcpy(out, IfNames.name[i], kInterfaceNameSize);
            return;
        }
    }
    InterfaceNameOf(index, out, kInterfaceNameSize);
    const int slot = IfNames.next;
    IfNames.next = (slot + 1) % kMaxReplyOrigins;
    IfNames.index[slot] = index;
    std::memcpy(IfNames.name[slot], out, kInterfaceNameSize);
}

// Guards DeviceTable, CfgText, CfgSummary, ReplyTable, the lookup below and
// the flag below between the worker's writes and the window's copies. Held
// for microseconds.
std::mutex ResultLock;
bool ReplyHoldsAcceptedCfg = false;

// The name a Find looks for, and the devices answering to it that the full
// table left out. Fixed storage: the receive path allocates nothing.
char LookupSerial[kSerialSize];
char LookupMac[kMacSize];
DeviceEntry LookupBeyond[kLookupMatchesMax];
int LookupBeyondCount = 0;
bool LookupBeyondMore = false;

void CopyField(char* dst, const char* src, size_t width)
{
    std::memset(dst, 0, width + 1);
    for (size_t i = 0; i < width && src[i] != '\0'; ++i)
        dst[i] = src[i];
}

void WakeMonitor()
{
    const MonitorWake wake = WakeFn.load();
    if (wake && !WakePending.exchange(true))
        wake(WakeCtx.load());
}

void CopyEntry(DeviceEntry* dst, const DeviceEntry* src)
{
    CopyField(dst->dev, src->dev, sizeof dst->dev - 1);
    CopyField(dst->ver, src->ver, sizeof dst->ver - 1);
    CopyField(dst->mac, src->mac, sizeof dst->mac - 1);
    CopyField(dst->ipCur, src->ipCur, sizeof dst->ipCur - 1);
    CopyField(dst->hostName, src->hostName, sizeof dst->hostName - 1);
    CopyField(dst->serial, src->serial, sizeof dst->serial - 1);
}

bool SameOrigin(const ReplyOrigin& a, const ReplyOrigin& b)
{
    return a.addr == b.addr && a.port == b.port && a.ifIndex == b.ifIndex;
}

// Adds where a reply came from to a row, once.
void AddOrigin(DeviceEntry* row, const ReplyOrigin& o)
{
    if (o.addr == 0 && o.port == 0 && o.ifIndex == 0)
        return;   // not known
    for (int i = 0; i < row->originCount && i < kMaxReplyOrigins; ++i)
        if (SameOrigin(row->origins[i], o))
            return;
    if (row->originCount < kMaxReplyOrigins)
        row->origins[row->originCount++] = o;
}

// The worker's reader gives up as soon as the request should end, so a
// frame that never completes cannot hold back Stop, the timeout or shutdown.
bool WorkerShouldAbort()
{
    return ReqKind.load(std::memory_order_acquire) == 0 ||
           StopReqFlg.load(std::memory_order_acquire) != 0 ||
           IsRecvTimeout(RecvTmo.load(std::memory_order_acquire));
}

// Milliseconds until the request's time is used up: the reader sleeps no
// longer than that on an empty ring. Stop and shutdown wake it instead.
int32_t WorkerAbortDue()
{
    const int64_t tmo = RecvTmo.load(std::memory_order_acquire);
    if (tmo < 0)
        return 0;
    const int32_t elapsed = static_cast<int32_t>(
        static_cast<uint32_t>(TickMs()) -
        static_cast<uint32_t>(StartTick.load(std::memory_order_acquire)));
    // Whole seconds above tmo: the time is up at (tmo + 1) * 1000 ms.
    const int64_t due = (tmo + 1) * 1000 - elapsed;
    if (due < 0)
        return 0;
    return due > INT32_MAX ? INT32_MAX : static_cast<int32_t>(due);
}

}  // namespace

void SetWorkerStartFailsForTest(bool fails)
{
    WorkerStartFails.store(fails);
}

void SetProgressSeamForTest(void (*seam)())
{
    ProgressSeam.store(seam);
}

void SetMonitorWake(MonitorWake wake, void* ctx)
{
    WakeFn.store(nullptr);
    WakeCtx.store(ctx);
    WakePending.store(false);
    WakeFn.store(wake);
}

RequestProgress TakeRequestProgress()
{
    WakePending.store(false);   // before the take: a later event wakes again
    RequestProgress p;
    p.events = TakeRecvEvent();
    if (void (*seam)() = ProgressSeam.load())
        seam();
    if (GetStopRecvFlg() == 0)
        return p;
    // The worker may have raised its last events after the first take and
    // before it ended; it raises none after it has set the end flag.
    p.events = static_cast<uint8_t>(p.events | TakeRecvEvent());
    ClearStopRecvFlg();
    WaitRecvThread();
    p.ended = true;
    return p;
}

void InitEngine()
{
    ThreadUp.store(0);
    DevCount.store(0);
    LeftOutReplies.store(0);
    CutReplies.store(0);
    RecvEvent.store(0);
    StopRecvFlg.store(0);
    StopReqFlg.store(0);
    RecvTmo.store(kDefaultRecvTmo);
    DevCapacity.store(kDeviceTableMax);
    {
        std::lock_guard<std::mutex> g(ResultLock);
        std::memset(DeviceTable, 0, sizeof DeviceTable);
        LookupBeyondCount = 0;
        LookupBeyondMore = false;
    }
    ClearWriteTable();
}

namespace {

// A worker of an earlier request that is still running would read the new
// request's kind and serve it as its own: it is ended and joined first.
void EndRunningWorker()
{
    if (!WorkerThread.joinable())
        return;
    ReqKind.store(0, std::memory_order_release);
    RxRingWakeConsumer();
    WaitRecvThread();
}

}  // namespace

int StartRequest(RequestKind kind, const RecordTable* table)
{
    const int code = static_cast<int>(kind);
    if (code < kFirstKind || code > kLastKind)
        return kEngineUnknownKind;
    EndRunningWorker();
    StartTick.store(TickMs(), std::memory_order_release);
    ReqKind.store(static_cast<uint8_t>(code), std::memory_order_release);
    ExpectCmd.store(code, std::memory_order_release);
    switch (kind) {
    case RequestKind::Find:
        DevCount.store(0, std::memory_order_release);
        LeftOutReplies.store(0, std::memory_order_release);
        {
            std::lock_guard<std::mutex> g(ResultLock);
            LookupBeyondCount = 0;
            LookupBeyondMore = false;
        }
        CutReplies.store(0, std::memory_order_release);
        StartRecvThread();
        DiscardQueuedDatagrams();
        SendFind();
        break;
    case RequestKind::GetConfig:
        {
            // Whatever was accepted before is not the answer to this fetch.
            std::lock_guard<std::mutex> g(ResultLock);
            ReplyHoldsAcceptedCfg = false;
        }
        CutReplies.store(0, std::memory_order_release);
        StartRecvThread();
        // Replies still queued from before (a late copy of an earlier answer,
        // or one sent before this request existed) cannot answer it.
        DiscardQueuedDatagrams();
        SendGetConfig(TargetMac, TargetSerial);
        break;
    case RequestKind::SetConfig:
        SendSetConfig(table);
        ReqKind.store(0, std::memory_order_release);
        break;
    }
    return 0;
}

int StartRecvThread()
{
    ClearRecvState();
    ThreadUp.store(0, std::memory_order_release);
    // A worker is always waited for before the next request; should one
    // still be joinable, join it rather than let a thread object be dropped.
    WaitRecvThread();

    bool started = false;
    if (!WorkerStartFails.load()) {
        try {
            WorkerThread = std::thread(RecvThreadProc);
            started = true;
        } catch (const std::system_error&) {
            started = false;
        }
    }
    if (!started) {
        // Nothing will ever end this request: end it here, as a request that
        // ended at once, so the window's monitor returns to idle.
        ReqKind.store(0, std::memory_order_release);
        StopRecvFlg.store(1);
        WakeMonitor();
        return kEngineBadArgument;
    }
    // A worker that ends at its first turn (negative timeout) may have come
    // and gone between two polls: having ended counts as having started.
    for (int i = 0; i < kStartPolls; ++i) {
        if (ThreadUp.load(std::memory_order_acquire) == 1 ||
            StopRecvFlg.load(std::memory_order_acquire) == 1)
            return 0;
        SleepMs(kStartPollMs);
    }
    return kEngineBadArgument;
}

void RecvThreadProc()
{
    RxRingReset();
    RxRingSetConsumer(true);
    IfNames = NameCache{};   // interfaces may have come and gone since the last request
    ThreadUp.store(1, std::memory_order_release);

    while (ReqKind.load(std::memory_order_acquire) != 0) {
        if (IsRecvTimeout(RecvTmo.load(std::memory_order_acquire))) {
            SetRecvEvent(EVT_TIMEOUT);
            ReqKind.store(0, std::memory_order_release);
            continue;
        }
        if (StopReqFlg.load(std::memory_order_acquire) == 1) {
            StopReqFlg.store(0, std::memory_order_release);
            ReqKind.store(0, std::memory_order_release);
            continue;
        }
        // Frames are handled back to back; an empty ring is slept on inside
        // the reader, which wakes for datagrams, a stop or the time running out.
        RxOrigin from;
        const int len = ReadReplyFrame(RxFrame, kRxFrameSize, kFrameWaitPolls, WorkerShouldAbort,
                                       WorkerAbortDue, &from);
        if (len == kRxCutReply)
            CutReplies.fetch_add(1, std::memory_order_relaxed);
        if (len <= static_cast<int>(kFrameTextOffset))
            continue;
        const int8_t cmd = static_cast<int8_t>(RxFrame[kFrameCommandOffset]);
        if (cmd != ExpectCmd.load(std::memory_order_acquire))
            continue;
        const char* text = reinterpret_cast<const char*>(RxFrame + kFrameTextOffset);
        const size_t textLen = static_cast<size_t>(len) - kFrameTextOffset;
        if (cmd == kFindCmd) {
            // A full table keeps the Find going to its timeout: the known
            // devices' rows stay current, and the devices left out are counted.
            OnFindReply(text, textLen, &from);
        } else if (cmd == kGetConfigCmd) {
            if (OnGetCfgReply(text, textLen, TargetMac, TargetSerial, &from) == 0)
                ReqKind.store(0, std::memory_order_release);
        }
    }

    RxRingSetConsumer(false);
    LastWorkerCpuNs.store(ThreadCpuNs(), std::memory_order_relaxed);
    StopRecvFlg.store(1);
    ThreadUp.store(0, std::memory_order_release);
    WakeMonitor();
}

void WaitRecvThread()
{
    if (WorkerThread.joinable())
        WorkerThread.join();
}

void ShutdownEngine()
{
    StopReqFlg.store(1, std::memory_order_release);
    ReqKind.store(0, std::memory_order_release);
    RxRingWakeConsumer();
    WaitRecvThread();
}

void AbandonRequest()
{
    ShutdownEngine();
    ClearStopRecvFlg();
}

bool IsRecvTimeout(int32_t seconds)
{
    const int32_t elapsed = static_cast<int32_t>(
        static_cast<uint32_t>(TickMs()) -
        static_cast<uint32_t>(StartTick.load(std::memory_order_acquire)));
    return elapsed / 1000 > seconds;
}

namespace {

// The row of the device with this serial number and MAC address among the
// first count rows, or -1.
int FindDevRow(unsigned count, const DeviceEntry& d)
{
    for (unsigned i = 0; i < count; ++i)
        if (std::strcmp(d.mac, DeviceTable[i].mac) == 0 &&
            std::strcmp(d.serial, DeviceTable[i].serial) == 0)
            return static_cast<int>(i);
    return -1;
}

// The entry into the first `count` rows: over the row of the same device
// (whose origins gain the fresh one's), else after them while there is room.
int MergeEntry(unsigned count, const DeviceEntry& fresh, bool* newOrigin = nullptr)
{
    const unsigned capacity = static_cast<unsigned>(DevCapacity.load(std::memory_order_acquire));
    if (count > capacity)
        return kEngineBadArgument;
    const int known = FindDevRow(count, fresh);
    if (known < 0 && count == capacity)
        return kEngineTableFull;   // no room: the slot after the last kept one stays empty
    DeviceEntry& row = DeviceTable[known >= 0 ? known : count];
    CopyEntry(&row, &fresh);
    if (known < 0)
        row.originCount = 0;
    const uint8_t origins = row.originCount;
    for (int i = 0; i < fresh.originCount && i < kMaxReplyOrigins; ++i)
        AddOrigin(&row, fresh.origins[i]);
    if (newOrigin)
        *newOrigin = known >= 0 && row.originCount != origins;
    return known >= 0 ? kMergeReplaced : kMergeAdded;
}

}  // namespace

namespace {

// A MAC text as a name is compared: without ':' and '-', upper case. false
// when it does not fit out (size bytes with the terminator).
bool NormalizeMac(const char* mac, char* out, size_t size)
{
    size_t n = 0;
    for (const char* p = mac; *p; ++p) {
        if (*p == ':' || *p == '-')
            continue;
        if (n + 1 >= size)
            return false;
        out[n++] = (*p >= 'a' && *p <= 'z') ? static_cast<char>(*p - 32) : *p;
    }
    out[n] = '\0';
    return true;
}

bool AnswersToLookup(const DeviceEntry& d)
{
    if (LookupSerial[0] != '\0' && std::strcmp(d.serial, LookupSerial) == 0)
        return true;
    char mac[sizeof d.mac];
    return LookupMac[0] != '\0' && d.mac[0] != '\0' && NormalizeMac(d.mac, mac, sizeof mac) &&
           std::strcmp(mac, LookupMac) == 0;
}

// A device the full table has no room for, kept when it answers to the
// lookup. true when it was not known before. Under ResultLock.
bool KeepBeyondTable(const DeviceEntry& d)
{
    if (!AnswersToLookup(d))
        return false;
    for (int i = 0; i < LookupBeyondCount; ++i)
        if (std::strcmp(LookupBeyond[i].mac, d.mac) == 0 &&
            std::strcmp(LookupBeyond[i].serial, d.serial) == 0) {
            CopyEntry(&LookupBeyond[i], &d);   // its latest answer
            return false;
        }
    if (LookupBeyondCount == kLookupMatchesMax) {
        LookupBeyondMore = true;
        return false;
    }
    CopyEntry(&LookupBeyond[LookupBeyondCount++], &d);
    return true;
}

}  // namespace

void SetFindLookup(const char* serial, const char* mac)
{
    std::lock_guard<std::mutex> g(ResultLock);
    std::memset(LookupSerial, 0, sizeof LookupSerial);
    std::memset(LookupMac, 0, sizeof LookupMac);
    if (serial && std::strlen(serial) < sizeof LookupSerial)
        std::memcpy(LookupSerial, serial, std::strlen(serial));
    if (mac && !NormalizeMac(mac, LookupMac, sizeof LookupMac))
        LookupMac[0] = '\0';
}

void ClearFindLookup()
{
    SetFindLookup(nullptr, nullptr);
}

int CopyLookupBeyondTable(DeviceEntry* out, int max, bool* more)
{
    std::lock_guard<std::mutex> g(ResultLock);
    const int n = max < LookupBeyondCount ? (max < 0 ? 0 : max) : LookupBeyondCount;
    for (int i = 0; i < n; ++i)
        out[i] = LookupBeyond[i];
    if (more)
        *more = LookupBeyondMore || n < LookupBeyondCount;
    return n;
}

int OnFindReply(const char* text, size_t length, const RxOrigin* from)
{
    bool beyond = false;
    int merged = 0;
    bool newOrigin = false;   // a known device answered from somewhere new
    ReplyOrigin origin{};
    if (from) {
        origin.addr = from->addr;
        origin.port = from->port;
        origin.ifIndex = from->ifIndex;
        InterfaceNameCached(from->ifIndex, origin.ifName);   // outside the lock: a system call
    }
    {
        std::lock_guard<std::mutex> g(ResultLock);
        ReplyHoldsAcceptedCfg = false;
        const int r = ParseConfigText(text, length, nullptr, nullptr);
        if (r != 0)
            return r;
        // A reply that names no serial number or no MAC address is not a
        // device: no GetConfig could reach it, and as a row it would end
        // the list for every reader.
        DeviceEntry named;
        MakeDevEntry(&ReplyTable, &named);
        AddOrigin(&named, origin);
        if (named.serial[0] == '\0' || named.mac[0] == '\0') {
            UnaddressedReplies.fetch_add(1, std::memory_order_relaxed);
            return kEngineNoAddress;
        }
        merged = MergeEntry(static_cast<unsigned>(DevCount.load(std::memory_order_acquire)), named,
                            &newOrigin);
        if (merged == kEngineTableFull) {
            LeftOutReplies.fetch_add(1, std::memory_order_relaxed);
            beyond = KeepBeyondTable(named);
        }
    }
    if (merged == kEngineTableFull) {
        if (beyond)
            SetRecvEvent(EVT_UPDATE_INFO);   // a device looked for, found beyond the table
        return kEngineTableFull;
    }
    if (merged == kMergeAdded) {
        // The count first: a monitor woken by the event reads the new row.
        DevCount.fetch_add(1, std::memory_order_acq_rel);
        SetRecvEvent(EVT_UPDATE_INFO);
    } else if (newOrigin) {
        SetRecvEvent(EVT_UPDATE_INFO);   // its row now lists one more origin
    }
    return 0;
}

int OnGetCfgReply(const char* text, size_t length, const char* mac, const char* serial,
                  const RxOrigin* from)
{
    ReplyOrigin origin{};
    if (from) {
        origin.addr = from->addr;
        origin.port = from->port;
        origin.ifIndex = from->ifIndex;
        InterfaceNameCached(from->ifIndex, origin.ifName);
    }
    {
        std::lock_guard<std::mutex> g(ResultLock);
        ReplyHoldsAcceptedCfg = false;
        uint8_t match = 0;
        ClearReplyTable();
        const int r = ParseConfigText(text, length, mac, &match);
        if (r != 0)
            return r;
        if (match == 0)
            return kEngineOtherDevice;
        DeviceEntry summary;
        MakeDevEntry(&ReplyTable, &summary);
        if (serial && std::strcmp(summary.serial, serial) != 0)
            return kEngineOtherDevice;   // the right MAC with a stranger's serial number
        // The text as far as its first zero (a text, not bytes), within
        // what it holds and what CfgText holds with its terminator.
        std::memset(CfgText, 0, sizeof CfgText);
        const size_t room = length < sizeof CfgText - 1 ? length : sizeof CfgText - 1;
        std::memcpy(CfgText, text, strnlen(text, room));
        AddOrigin(&summary, origin);
        CfgSummary = summary;
        ReplyHoldsAcceptedCfg = true;
    }
    SetRecvEvent(EVT_CONFIG_RECV);
    return 0;
}

void MakeDevEntry(const RecordTable* table, DeviceEntry* entry)
{
    struct Field {
        const char* key;
        char* text;
        size_t cap;
    };
    std::memset(entry, 0, sizeof *entry);
    const Field fields[] = {
        {"DEV", entry->dev, sizeof entry->dev - 1},
        {"VER", entry->ver, sizeof entry->ver - 1},
        {"MAC", entry->mac, sizeof entry->mac - 1},
        {"IP_CUR", entry->ipCur, sizeof entry->ipCur - 1},
        {"HOST_NAME", entry->hostName, sizeof entry->hostName - 1},
        {"SERIAL_NUM", entry->serial, sizeof entry->serial - 1},
    };
    for (const ConfigRecord& r : table->rec) {
        if (r.width == 0)
            break;
        for (const Field& f : fields) {
            if (std::strcmp(r.key, f.key) == 0) {
                const size_t w = static_cast<size_t>(r.width);
                CopyField(f.text, r.value, w < f.cap ? w : f.cap);
                break;
            }
        }
    }
}


void SetRecvEvent(uint8_t code)
{
    if (code == EVT_NONE)
        RecvEvent.store(0, std::memory_order_release);
    else if (code < 8) {
        RecvEvent.fetch_or(RecvEventBit(code));
        WakeMonitor();
    }
}

uint8_t GetRecvEvent() { return RecvEvent.load(std::memory_order_acquire); }
void ClearRecvEvent() { RecvEvent.store(0, std::memory_order_release); }
uint8_t TakeRecvEvent() { return RecvEvent.exchange(0); }

void ClearRecvState()
{
    RecvEvent.store(0, std::memory_order_release);
    StopRecvFlg.store(0, std::memory_order_release);
    StopReqFlg.store(0, std::memory_order_release);
    WakePending.store(false);   // a new request wakes its monitor afresh
}

void SetRecvTmo(int32_t seconds) { RecvTmo.store(seconds, std::memory_order_release); }
int32_t GetRecvTmo() { return RecvTmo.load(std::memory_order_acquire); }
void SetStopReqFlg()
{
    StopReqFlg.store(1, std::memory_order_release);
    RxRingWakeConsumer();
}
uint8_t GetStopReqFlg() { return StopReqFlg.load(std::memory_order_acquire); }
uint8_t GetStopRecvFlg() { return StopRecvFlg.load(); }
void ClearStopRecvFlg() { StopRecvFlg.store(0, std::memory_order_release); }
void SetBusyFlg() { BusyFlg.store(1, std::memory_order_release); }
uint8_t GetBusyFlg() { return BusyFlg.load(std::memory_order_acquire); }
void ClearBusyFlg() { BusyFlg.store(0, std::memory_order_release); }
uint8_t GetReqKind() { return ReqKind.load(std::memory_order_acquire); }
int32_t GetExpectCmd() { return ExpectCmd.load(std::memory_order_acquire); }
int GetDevCount() { return DevCount.load(std::memory_order_acquire); }
uint32_t GetUnaddressedReplyCount() { return UnaddressedReplies.load(std::memory_order_relaxed); }
uint32_t GetDevicesLeftOut() { return LeftOutReplies.load(std::memory_order_acquire); }
uint32_t GetCutReplyCount() { return CutReplies.load(std::memory_order_acquire); }
int GetDeviceCapacity() { return DevCapacity.load(std::memory_order_acquire); }

void SetDeviceCapacity(int devices)
{
    if (devices < 1)
        devices = 1;
    if (devices > kDeviceTableMax)
        devices = kDeviceTableMax;
    DevCapacity.store(devices, std::memory_order_release);
}

uint64_t GetLastWorkerCpuNs() { return LastWorkerCpuNs.load(std::memory_order_relaxed); }
DeviceEntry* GetDevTable() { return DeviceTable; }
char* GetCfgText() { return CfgText; }
DeviceEntry* GetCfgSummary() { return &CfgSummary; }
RecordTable* GetWriteTable() { return &WriteTable; }

void ClearDevTable()
{
    std::lock_guard<std::mutex> g(ResultLock);
    std::memset(DeviceTable, 0, sizeof DeviceTable);
}

namespace {

// A target text is taken whole: one too long for its field would name
// another device once cut, so it leaves the field empty, which no reply
// matches.
bool SetTargetField(char* field, size_t size, const char* text)
{
    const bool fits = std::strlen(text) < size;
    CopyField(field, fits ? text : "", size - 1);
    return fits;
}

}  // namespace

bool SetTargetSerial(const char* text)
{
    return text && SetTargetField(TargetSerial, sizeof TargetSerial, text);
}

bool SetTargetMac(const char* text)
{
    return text && SetTargetField(TargetMac, sizeof TargetMac, text);
}

int CopyDevTableSlots(DeviceEntry* out, int slots)
{
    if (!out || slots <= 0)
        return 0;
    if (slots > kDeviceTableMax + 1)
        slots = kDeviceTableMax + 1;
    // Only the filled slots and the empty one after them: the lock the
    // worker waits for is held for what was found, not for the whole table.
    std::lock_guard<std::mutex> g(ResultLock);
    int filled = 0;
    while (filled < slots && DeviceTable[filled].serial[0] != '\0')
        ++filled;
    const int copied = filled < slots ? filled + 1 : filled;
    std::memcpy(out, DeviceTable, static_cast<size_t>(copied) * sizeof DeviceTable[0]);
    return filled;
}

void CopyCfgText(char out[kCfgTextSize])
{
    std::lock_guard<std::mutex> g(ResultLock);
    std::memcpy(out, CfgText, sizeof CfgText);
}

void CopyCfgSummary(DeviceEntry* out)
{
    std::lock_guard<std::mutex> g(ResultLock);
    std::memcpy(out, &CfgSummary, sizeof CfgSummary);
}

void CopyReplyTable(RecordTable* out)
{
    std::lock_guard<std::mutex> g(ResultLock);
    std::memcpy(out, &ReplyTable, sizeof ReplyTable);
}

bool ReplyTableHoldsConfigOf(const char* mac, const char* serial)
{
    if (!mac || !serial || mac[0] == '\0')
        return false;
    std::lock_guard<std::mutex> g(ResultLock);
    return ReplyHoldsAcceptedCfg && std::strcmp(CfgSummary.mac, mac) == 0 &&
           std::strcmp(CfgSummary.serial, serial) == 0;
}

int SendFind()
{
    const int n = BuildFindFrame(TxBuffer, kTxBufferSize);
    return n > 0 ? SendFrame(TxBuffer, static_cast<unsigned>(n)) : -1;
}

int SendGetConfig(const char* mac, const char* serial)
{
    const int n = BuildGetConfigFrame(mac, TxBuffer, serial, kTxBufferSize);
    return n > 0 ? SendFrame(TxBuffer, static_cast<unsigned>(n)) : -1;
}

int SendSetConfig(const RecordTable* table)
{
    const int n = BuildSetConfigFrame(TxBuffer, table, kTxBufferSize);
    return n > 0 ? SendFrame(TxBuffer, static_cast<unsigned>(n)) : -1;
}
