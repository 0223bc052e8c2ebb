// Transaction engine: runs Find, GetConfig and SetConfig one at a time. Find
// and GetConfig get a worker thread that reads reply frames from the RxRing,
// fills the device table or the configuration buffers and reports through a
// set of pending events and a few flags, which the window's monitor takes
// at its tick and whenever the worker wakes it.
#pragma once

#include <cstdint>

#include "codec.h"

struct RxOrigin;   // rxring.h

// How many devices a Find keeps at most, the window's and the command
// line's alike; the slot after the last filled one always stays empty.
constexpr int kDeviceTableMax = 1024;
constexpr unsigned kRxFrameSize = 640;
constexpr unsigned kCfgTextSize = 640;

// Results of the engine's operations besides 0 (the parser's -1, -2 and -8
// pass through OnFindReply and OnGetCfgReply as they come).
constexpr int kEngineBadArgument = -1;   // no table, no room, or no worker could be started
constexpr int kEngineUnknownKind = -4;   // StartRequest with a kind that is no request
constexpr int kEngineTableFull = -9;     // a device the full table has no room for
constexpr int kEngineNoAddress = -10;    // a Find reply naming no serial number or MAC
constexpr int kEngineOtherDevice = -11;  // a configuration reply from another device
// What merging a Find reply into the device table did: a row was added,
// or a known device's row rewritten.
constexpr int kMergeAdded = 1;
constexpr int kMergeReplaced = 2;

// Event codes. Pending events are kept as a set (bit 1 << code), so an event
// raised while an earlier one waits is not lost.
enum RecvEventCode : uint8_t {
    EVT_NONE = 0,
    EVT_UPDATE_INFO = 1,
    EVT_CONFIG_RECV = 2,
    EVT_TIMEOUT = 3,
    EVT_RECV_ERROR = 4,
};
constexpr uint8_t RecvEventBit(uint8_t code) { return static_cast<uint8_t>(1u << code); }

// Where a device's reply came from: the sender's IPv4 address (network byte
// order) and port, and the interface it arrived on (index 0 and an empty
// name when the system did not say). addr 0 and port 0: not known.
constexpr unsigned kInterfaceNameSize = 16;
struct ReplyOrigin {
    uint32_t addr;
    uint16_t port;
    int32_t ifIndex;
    char ifName[kInterfaceNameSize];
};
// A device answering on more interfaces (or from more addresses) than this
// keeps the first ones.
constexpr int kMaxReplyOrigins = 4;

// One discovered device; every text field is its record's value, zero-filled.
// A device is its serial number together with its MAC address: two NICs
// answering with one serial number are two devices. The origins are where
// its replies of this Find came from, each once, in the order first seen.
struct DeviceEntry {
    char dev[16 + 1];
    char ver[16 + 1];
    char mac[kMacSize];
    char ipCur[15 + 1];
    char hostName[32 + 1];
    char serial[kSerialSize];
    uint8_t originCount;
    ReplyOrigin origins[kMaxReplyOrigins];
};

// Static storage for the largest capacity, plus the empty slot that ends it.
extern DeviceEntry DeviceTable[kDeviceTableMax + 1];
extern char CfgText[kCfgTextSize];
extern DeviceEntry CfgSummary;
extern char TargetMac[kMacSize];
extern char TargetSerial[kSerialSize];

void InitEngine();
int StartRequest(RequestKind kind, const RecordTable* table);
int StartRecvThread();
void RecvThreadProc();
void WaitRecvThread();
bool IsRecvTimeout(int32_t seconds);
// Find reply (its record text, text[0..length), and where it came from):
// 0, a parser error (-1, -2, -8), -9 when it is a device the full table has
// no room for (counted; the Find goes on), or -10 when the reply names no
// serial number or no MAC address (dropped: not a device).
int OnFindReply(const char* text, size_t length, const RxOrigin* from = nullptr);
// GetConfig reply: 0 accepted, a parser error, or -11 when its MAC, or its
// serial number when one is given, is not the device asked.
// Where it came from goes into CfgSummary's origins.
int OnGetCfgReply(const char* text, size_t length, const char* mac, const char* serial = nullptr,
                  const RxOrigin* from = nullptr);

// The requests as frames on the wire, built into the engine's own buffer
// and handed to the transport (StartRequest sends them; tests may too).
// SendFrame's result: the frame's length when it went out, -1 otherwise.
int SendFind();
int SendGetConfig(const char* mac, const char* serial);
int SendSetConfig(const RecordTable* table);
void MakeDevEntry(const RecordTable* table, DeviceEntry* entry);

// One look of a monitor at the running request: the events raised since
// the last look (bits), and whether the request has ended. A look takes the
// events in one atomic step; then, should the worker have ended, it takes
// them once more (the worker raises its last event before it ends, maybe
// just after the first take), clears the end flag and joins the worker. So
// every event of a request is seen once, and once ended is true the next
// request may start. Window thread (or the command line's loop) only.
struct RequestProgress {
    uint8_t events = 0;
    bool ended = false;
};
RequestProgress TakeRequestProgress();

// Wakes a monitor as soon as the worker raises an event or ends, so that it
// looks at once instead of at its next timer tick. The worker calls it on
// its own thread; it must only hand the wake to the monitor's thread (it
// must not call the engine or touch a window). Calls are coalesced: after
// one, the next comes only once TakeRequestProgress has looked (or a new
// request has started). Set or clear it while no worker runs; nullptr: none.
using MonitorWake = void (*)(void* ctx);
void SetMonitorWake(MonitorWake wake, void* ctx);

// Asks a running worker to stop and waits for it. Safe without a worker and
// safe to call more than once; returns within a few hundred milliseconds
// whatever is in the ring.
void ShutdownEngine();

// Accessors and flag operations.
void SetRecvEvent(uint8_t code);       // adds code to the pending set (0 clears it)
uint8_t GetRecvEvent();                // the pending set, as bits
void ClearRecvEvent();
uint8_t TakeRecvEvent();               // read-and-clear in one atomic step
void ClearRecvState();
void SetRecvTmo(int32_t seconds);
int32_t GetRecvTmo();
void SetStopReqFlg();
uint8_t GetStopReqFlg();
uint8_t GetStopRecvFlg();
void ClearStopRecvFlg();
void SetBusyFlg();
uint8_t GetBusyFlg();
void ClearBusyFlg();
uint8_t GetReqKind();
int32_t GetExpectCmd();
int GetDevCount();
uint32_t GetUnaddressedReplyCount();   // Find replies dropped as naming no device
// Replies of the current or last Find from devices the full table had no
// room for; 0 when every device that answered is in the table.
uint32_t GetDevicesLeftOut();
// A Find that looks for one device by name: the devices that answer to it
// are also kept apart from the table, up to kLookupMatchesMax of them, so
// that one the full table had no room for is still seen (and a second one
// answering to the same name is known). serial is compared exactly, mac as
// twelve hexadecimal digits without separators in any case; either may be
// nullptr or "" for none, and a text longer than the field it names (16, 12)
// matches nothing. Set it before the Find starts; ClearFindLookup ends it.
constexpr int kLookupMatchesMax = 4;
void SetFindLookup(const char* serial, const char* mac);
void ClearFindLookup();
// The devices of the current or last Find that answered to the lookup and
// that the table had no room for, in the order they came: how many, at most
// max (and kLookupMatchesMax). *more, when given, says whether others
// answered that were not kept.
int CopyLookupBeyondTable(DeviceEntry* out, int max, bool* more = nullptr);
// Replies of the current or last Find or GetConfig whose datagram ended
// before their terminator: dropped unread.
uint32_t GetCutReplyCount();
// How many devices a Find keeps (1 to kDeviceTableMax, which InitEngine
// sets). Set it between requests only.
void SetDeviceCapacity(int devices);
int GetDeviceCapacity();
// CPU time the most recent worker used over its whole life, in nanoseconds,
// taken by the worker as it ends. For measurements.
uint64_t GetLastWorkerCpuNs();
DeviceEntry* GetDevTable();
void ClearDevTable();
char* GetCfgText();
DeviceEntry* GetCfgSummary();
// The device a GetConfig asks for. A text longer than its field (16, 12) is
// refused whole, never cut: false, and the field is left empty, which no
// reply matches. nullptr changes nothing (false).
bool SetTargetSerial(const char* text);
bool SetTargetMac(const char* text);
RecordTable* GetWriteTable();

// Consistent snapshots for the window: the worker writes these buffers under
// one short lock, and these copies take the same lock, so a reader never sees
// a half-written row, text or table.
// The first slots of the table (at most kDeviceTableMax + 1) up to and
// including the first empty one (the slots after it in out are left as they
// were); returns how many are filled, up to that empty serial number.
int CopyDevTableSlots(DeviceEntry* out, int slots);
void CopyCfgText(char out[kCfgTextSize]);
void CopyCfgSummary(DeviceEntry* out);
void CopyReplyTable(RecordTable* out);

// True when the most recent GetConfig was accepted, the ReplyTable still
// holds its reply, and that reply came from the device with this MAC and
// serial number. The editor may only be filled from such a table.
bool ReplyTableHoldsConfigOf(const char* mac, const char* serial);

// Command mutex: recursive, taken with a time limit, window thread only.
void CreateCmdMutex();
constexpr int kCmdMutexTimedOut = -1;
constexpr int kCmdMutexFailed = -2;   // not created, or a negative time
int WaitCmdMutex(int milliseconds);   // 0 taken, or one of the two above
void ReleaseCmdMutex();
void CloseCmdMutex();

// Test hooks: make the next worker start fail as if no thread could be made;
// run seam inside TakeRequestProgress between its first take of the events
// and its look at the end flag (nullptr: none).
void SetWorkerStartFailsForTest(bool fails);
void SetProgressSeamForTest(void (*seam)());
