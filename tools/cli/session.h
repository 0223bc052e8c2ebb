// pathlume-cli's session on the protocol library: the transport opened
// once per run, one request driven to its end as the window's monitor does,
// the device a DEVICE argument names and its configuration. Not part of the
// program's interface.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli.h"
#include "protocol.h"

namespace cli {

// Set by Ctrl-C (from a signal handler), read by the waiting loops.
extern std::atomic<int> g_interrupted;

// Everything the process holds of the protocol, opened once per run.
class Session {
public:
    Session(const Options& o, FILE* err);
    ~Session();

    // 0, or kExitTransport with a message.
    int Open();

    // After a send: true when it went out, else the failure is reported.
    bool Sent();

    bool failed() const { return failed_; }

    // While held, Ctrl-C does not cut a request short (a write's check runs
    // to its end); it is still seen by whoever asks g_interrupted.
    void HoldInterrupts(bool hold) { holdInterrupts_ = hold; }

    // Runs one Find or GetConfig as the window's monitor does: delivers
    // datagrams into the ring and collects the engine's events until the
    // worker ends. stopWhen, if given, is asked at every turn (with whether
    // new devices came since the last) and ends the request early when it
    // says so. Returns the events seen. Devices left out of the full table
    // and replies the system dropped are told on standard error.
    uint8_t Run(RequestKind kind, const char* what, bool (*stopWhen)(void*, bool) = nullptr,
                void* ctx = nullptr);

private:
    void Fail();

    const Options& opt_;
    FILE* err_;
    std::string sendAddr_;
    std::string recvAddr_;
    bool open_ = false;
    bool failed_ = false;
    bool holdInterrupts_ = false;
};

// The device table after a Find: static, as large as the engine's.
extern DeviceEntry g_devices[kDeviceTableMax + 1];

// Copies the engine's device table into g_devices, sorted; the count.
int FoundDevices();

// The device a DEVICE argument names.
struct Target {
    std::string serial;
    std::string mac;
};

// The device a DEVICE argument names: named as SERIAL@MAC, or found by a
// Find. 0, or an exit code with the reason told on err (two devices
// answering to the name, none answering, Ctrl-C, the transport).
int Resolve(Session& s, const Options& o, Target* t, FILE* err);

// GetConfig of the target: true when its configuration came; the reply
// table and text are then in *reply and text.
bool Fetch(Session& s, const Target& t, RecordTable* reply, char (&text)[kCfgTextSize + 1],
           const char* what);

// Resolve, then Fetch: 0, or an exit code with the reason told on err.
int FetchTarget(Session& s, const Options& o, Target* t, RecordTable* reply,
                char (&text)[kCfgTextSize + 1], FILE* err);

// Plans one write on the target's configuration read just before it
// (in.fresh) and, unless the plan refuses it or o.dryRun, performs it: the
// change list on out (text or JSON), notes and refusals on err, the write
// sent, read back, checked and journaled. An exit code: kExitOk, kExitUsage
// (a value refused), kExitNotVerified (refused as a conflict, or not taken),
// kExitTransport, kExitInterrupted.
int PlanAndWrite(Session& s, const Options& o, const Target& t, const WritePlanInput& in,
                 FILE* out, FILE* err);

}  // namespace cli
