// pathlume-devsim: simulated print-server interfaces on UDP.
//
// Each simulated device holds a full configuration. The simulator answers
// Find with a short summary from every device, GetConfig from the device the
// request names by MAC and serial number, and applies SetConfig records after
// checking them. It can delay, drop, duplicate and damage its replies.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// The simulator plays a device, not a front end: it builds and parses frames
// with the codec and opens its sockets through socketio directly, where the
// window and pathlume-cli go through protocol.h.
#include "codec.h"

namespace devsim {

enum class Fault {
    None,
    NoTerminator,   // reply without its terminator record
    Truncated,      // reply cut short in the middle of a record
    Oversize,       // reply padded to a datagram over 2048 bytes
    WrongMac,       // an extra reply carrying another device's MAC, sent first
    StrayBytes,     // junk and partial magics around the frame
    ForgedConfig,   // a SetConfig is ignored, yet answered at once with a
                    // configuration reply that claims the written values
    LateDuplicate,  // every configuration reply is sent again lateMs later,
                    // unchanged (the values it had when first sent)
    Splice,         // each reply cut before its IP record (SERIAL_NUM in a
                    // Find reply), then a headerless datagram from a second
                    // address holding another value of that record and the
                    // terminator, then the whole reply 5 ms later
    SpliceOwn,      // the same, the tail being the reply's own rest, sent
                    // from the device's own address
    SplitTerminator,// the reply without the last 5 bytes of its terminator,
                    // then those 5 bytes alone, then the whole reply
    ChangeAfter,    // another writer: changeAfterMs after answering a
                    // GetConfig, the device's changeRecords are set
};

struct Options {
    std::string listenAddress = "0.0.0.0";
    uint16_t listenPort = 22093;
    bool replyToSender = false;                  // else to replyAddress
    std::string replyAddress = "255.255.255.255";
    uint16_t replyPort = 22093;
    int delayMs = 0;                             // before each reply
    int jitterMs = 0;                            // random extra delay, 0..jitter
    int lossPercent = 0;                         // replies dropped at random
    bool duplicate = false;                      // every reply sent twice
    Fault fault = Fault::None;
    int faultCount = 0;                          // requests to damage; 0 = all
    int lateMs = 20;                             // the late copy's delay (LateDuplicate)
    uint32_t seed = 1;
    bool logBytes = false;                       // log every request's bytes in hex
    std::vector<int> refuseKeys;                 // SetConfig records refused whatever the value
    bool exclusive = false;                      // hold the port without sharing it
    std::string spliceAddress = "127.0.0.2";     // the second sender of Fault::Splice
    int changeAfterMs = 0;                       // ChangeAfter: the delay
    std::vector<std::pair<int, std::string>> changeRecords;   // ChangeAfter: KEY, value
    int applyLateMs = 0;                         // a SetConfig's records take effect this late
};

// The value the second sender of Fault::Splice puts in the record it
// completes: an IP address in a configuration reply, a serial number in a
// Find reply.
constexpr char kSplicedIp[] = "10.66.66.66";
constexpr char kSplicedSerial[] = "SPLICED";

// "change-after=MS" of --fault: the fault and its delay. false when the text
// is not one.
bool ParseChangeAfter(const std::string& text, Options* out);

// One device: its configuration as key/value texts in key-table order. A
// key in missing is a record the device does not have: its replies leave it
// out and a SetConfig record for it is refused. A key in refused is a record
// it has but never takes from a SetConfig; a device that is findOnly answers
// a Find and nothing else (as one whose configuration service has hung).
struct Device {
    std::string values[kKeyCount];
    uint32_t missing = 0;   // bit (1 << key)
    uint32_t refused = 0;   // bit (1 << key)
    bool findOnly = false;
    const std::string& Get(int key) const { return values[key]; }
    bool Has(int key) const { return (missing & (1u << key)) == 0; }
};

// One record of the last SetConfig a device received, as it came.
struct WrittenRecord {
    std::string key;
    std::string value;   // without its padding
};

// Deterministic, plausible configurations from a seed; serial numbers and
// MAC addresses are all different.
std::vector<Device> GenerateDevices(int count, uint32_t seed);
constexpr int kMostGeneratedDevices = 4096;

// Reads devices from text: "[device]" starts a device, "KEY = value" or
// "KEY=value" lines set its keys ("KEY =" holds an empty value), "omit KEY
// [KEY...]" leaves records out of the device, "refuse KEY [KEY...]" makes it
// refuse those records of a SetConfig, "find-only" makes it answer Find
// alone, '#' starts a comment. Keys not
// given are generated. Returns false with a message on a bad line.
bool ParseDeviceText(const std::string& text, uint32_t seed, std::vector<Device>* out,
                     std::string* error);

bool ParseFault(const std::string& name, Fault* out);
const char* FaultName(Fault f);

// Builds a reply frame (direction 0xFF) carrying the given keys of a device.
std::vector<uint8_t> BuildReply(RequestKind command, const Device& dev,
                                const std::vector<int>& keys);

// Checks one record of a SetConfig; returns an empty string when it may be
// applied, else why it is refused.
std::string CheckRecord(int key, const std::string& value);

class Simulator {
public:
    Simulator(Options options, std::vector<Device> devices);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Binds the listening socket. 0 ready, -1 failed (see error()).
    int Open();
    uint16_t BoundPort() const;
    // Where replies go, when that is only known once the listener is bound.
    void SetReplyPort(uint16_t port) { opt_.replyPort = port; }
    const std::string& error() const { return error_; }

    // Waits up to timeoutMs for one request and handles it. true when one came.
    bool Poll(int timeoutMs);

    // Runs Poll on a thread of its own until Stop().
    void Start();
    void Stop();

    // Thread-safe reads of the device state.
    std::string Value(size_t device, int key) const;
    // Changes a device's configuration, as its own front panel would.
    void SetValue(size_t device, int key, const std::string& value);
    size_t DeviceCount() const;
    // Every device's configuration in the device file's form: a [device]
    // block each, KEY = value lines in key-table order, an omit line for the
    // records it lacks.
    std::string StateText() const;
    // The records of the last SetConfig that reached a device (by MAC and
    // serial number), in the order they came; empty before any.
    std::vector<WrittenRecord> LastWrite(size_t device) const;
    int RequestsHandled() const { return handled_.load(); }
    // Leaves every request after the first count handled unanswered (a
    // device that falls silent); 0 answers all.
    void FallSilentAfter(int count) { silentAfter_.store(count); }

    // One line per request handled.
    std::function<void(const std::string&)> log;

private:
    void Handle(const uint8_t* data, size_t len, uint32_t fromAddr, uint16_t fromPort);
    void HandleFind(uint32_t fromAddr, uint16_t fromPort);
    void HandleGetConfig(const RecordTable& req, uint32_t fromAddr, uint16_t fromPort);
    void HandleSetConfig(const RecordTable& req, uint32_t fromAddr, uint16_t fromPort);
    void SendReplies(std::vector<std::vector<uint8_t>> frames, uint32_t fromAddr,
                     bool lateCopies = false);
    std::vector<uint8_t> Damage(std::vector<uint8_t> frame);
    // The datagrams Fault::Splice, SpliceOwn or SplitTerminator send in
    // place of one reply; second[i] tells which come from the second address.
    std::vector<std::vector<uint8_t>> Splice(const std::vector<uint8_t>& frame,
                                             std::vector<bool>* second) const;
    bool FaultActive() const;
    void Log(const std::string& line);
    // Values set later (a late write, another writer's change): applied by
    // the first request or poll at or after their time.
    struct Pending {
        std::chrono::steady_clock::time_point due;
        size_t device;
        std::vector<std::pair<int, std::string>> values;
    };
    void ApplyDue();
    void ApplyLocked(size_t device, const std::vector<std::pair<int, std::string>>& values);
    std::vector<Pending> pending_;   // guarded by mutex_
    std::atomic<int> silentAfter_{0};

    Options opt_;
    std::vector<Device> devices_;
    std::vector<std::vector<WrittenRecord>> lastWrites_;   // per device
    mutable std::mutex mutex_;
    intptr_t socket_ = -1;   // a descriptor, or a Winsock SOCKET
    intptr_t second_ = -1;   // Fault::Splice's second sender
    bool libraryStarted_ = false;
    std::string error_;
    std::mt19937 rng_;
    std::atomic<int> handled_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace devsim
