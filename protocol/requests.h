// The requests as a front end starts and follows them: a Find, a GetConfig
// and a SetConfig, one at a time; the look at a running request's progress
// and the hook that wakes the looker; the flags a front end sets; and the
// copies of the results, taken under the lock their writer holds. How the
// engine serves a request (its worker, its tables, its buffers) is behind
// this, in engine.h.
#pragma once

#include <cstdint>

#include "records.h"

// How many devices a Find keeps at most, the window's and the command
// line's alike; the slot after the last filled one always stays empty.
constexpr int kDeviceTableMax = 1024;
constexpr unsigned kCfgTextSize = 640;

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

// A device's row as a Find lists it, from a configuration's records (DEV,
// VER, MAC, IP_CUR, HOST_NAME, SERIAL_NUM; each cut to its field). No
// origins. Reads only the caller's table.
void MakeDevEntry(const RecordTable* table, DeviceEntry* entry);

// --- Starting and ending -------------------------------------------------

// Empties the ReplyTable (ResetCodec), and puts the engine in its first
// state (InitEngine): no request, no device, an empty WriteTable, the
// default timeout, the full device capacity. Both before the first request,
// while no worker runs.
void ResetCodec();
void InitEngine();

// Starts a request: a Find or a GetConfig gets a worker that reads the
// replies until the request ends; a SetConfig sends table and is done (a
// front end sends a planned write with SendCheckedWrite, writecheck.h).
// A GetConfig asks the device SetTargetMac and SetTargetSerial named.
// 0, or -4 for a kind that is no request.
int StartRequest(RequestKind kind, const RecordTable* table);

// The device a GetConfig asks for. A text longer than its field (16, 12) is
// refused whole, never cut: false, and the field is left empty, which no
// reply matches. nullptr changes nothing (false).
bool SetTargetSerial(const char* text);
bool SetTargetMac(const char* text);

// Seconds a Find or GetConfig waits for replies.
void SetRecvTmo(int32_t seconds);
int32_t GetRecvTmo();

// Asks the running request to stop at the worker's next turn (the worker
// clears it as it stops).
void SetStopReqFlg();
uint8_t GetStopReqFlg();

// Asks a running worker to stop and waits for it. Safe without a worker and
// safe to call more than once; returns within a few hundred milliseconds
// whatever is in the ring. The request's end is left for the next look
// (TakeRequestProgress) to take.
void ShutdownEngine();

// ShutdownEngine for a monitor that gives the request up: its end is taken
// here too, so no later look reports it ended (the next request's monitor
// starts clean).
void AbandonRequest();

// --- Progress ------------------------------------------------------------

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

// BusyFlg: a request of the front end is running. Set and cleared by the
// front end only; kept here so that every part of it sees one value.
void SetBusyFlg();
uint8_t GetBusyFlg();
void ClearBusyFlg();

// Replies of the current or last Find from devices the full table had no
// room for; 0 when every device that answered is in the table.
uint32_t GetDevicesLeftOut();
// Replies of the current or last Find or GetConfig whose datagram ended
// before their terminator: dropped unread.
uint32_t GetCutReplyCount();
// How many devices a Find keeps (1 to kDeviceTableMax, which InitEngine
// sets).
int GetDeviceCapacity();

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

// --- Snapshots -------------------------------------------------------------

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
// Empties the device table (under the same lock), so that the next Find's
// list starts from no device. Between requests.
void ClearDevTable();

// True when the most recent GetConfig was accepted, the ReplyTable still
// holds its reply, and that reply came from the device with this MAC and
// serial number. The editor may only be filled from such a table.
bool ReplyTableHoldsConfigOf(const char* mac, const char* serial);

// --- The command mutex -----------------------------------------------------

// Recursive, taken with a time limit, window thread only.
void CreateCmdMutex();
constexpr int kCmdMutexTimedOut = -1;
constexpr int kCmdMutexFailed = -2;   // not created, or a negative time
int WaitCmdMutex(int milliseconds);   // 0 taken, or one of the two above
void ReleaseCmdMutex();
void CloseCmdMutex();
