// Transaction engine: runs Find, GetConfig and SetConfig one at a time. Find
// and GetConfig get a worker thread that reads reply frames from the RxRing,
// fills the device table or the configuration buffers and reports through a
// set of pending events and a few flags, which the window's monitor takes
// at its tick and whenever the worker wakes it.
#pragma once

#include <cstdint>

#include "codec.h"
#include "requests.h"

struct RxOrigin;   // rxring.h

constexpr unsigned kRxFrameSize = 640;

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

// Static storage for the largest capacity, plus the empty slot that ends it.
extern DeviceEntry DeviceTable[kDeviceTableMax + 1];
extern char CfgText[kCfgTextSize];
extern DeviceEntry CfgSummary;
extern char TargetMac[kMacSize];
extern char TargetSerial[kSerialSize];

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

// Accessors and flag operations.
void SetRecvEvent(uint8_t code);       // adds code to the pending set (0 clears it)
uint8_t GetRecvEvent();                // the pending set, as bits
void ClearRecvEvent();
uint8_t TakeRecvEvent();               // read-and-clear in one atomic step
void ClearRecvState();
uint8_t GetStopRecvFlg();
void ClearStopRecvFlg();
uint8_t GetReqKind();
int32_t GetExpectCmd();
int GetDevCount();
uint32_t GetUnaddressedReplyCount();   // Find replies dropped as naming no device
// How many devices a Find keeps (1 to kDeviceTableMax, which InitEngine
// sets). Set it between requests only.
void SetDeviceCapacity(int devices);
// CPU time the most recent worker used over its whole life, in nanoseconds,
// taken by the worker as it ends. For measurements.
uint64_t GetLastWorkerCpuNs();
DeviceEntry* GetDevTable();
char* GetCfgText();
DeviceEntry* GetCfgSummary();
RecordTable* GetWriteTable();

// Test hooks: make the next worker start fail as if no thread could be made;
// run seam inside TakeRequestProgress between its first take of the events
// and its look at the end flag (nullptr: none).
void SetWorkerStartFailsForTest(bool fails);
void SetProgressSeamForTest(void (*seam)());
