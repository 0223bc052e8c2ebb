// pathlume-devsim's socket loop: requests received on the listening
// socket, each handled by the devices it names and answered.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "devsim.h"
#include "socketio.h"

namespace devsim {

namespace {

const int kFindKeys[] = {KEY_DEV, KEY_VER, KEY_MAC, KEY_IP_CUR, KEY_HOST_NAME, KEY_SERIAL_NUM};

std::string AddressText(uint32_t addr, uint16_t port)
{
    char buf[16] = {};
    Ipv4Text(addr, buf, sizeof buf);
    return std::string(buf) + ":" + std::to_string(port);
}

// The system's text for the last socket error.
std::string LastError()
{
    char text[128];
    SocketErrorText(LastSocketError(), text, sizeof text);
    return text;
}

std::string RecordValue(const RecordTable& t, int key)
{
    for (const ConfigRecord& r : t.rec) {
        if (IsEmptyRecord(&r))
            break;
        if (std::strcmp(r.key, KeyTable[key].key) == 0)
            return r.value;
    }
    return "";
}

}  // namespace

Simulator::Simulator(Options options, std::vector<Device> devices)
    : opt_(std::move(options)), devices_(std::move(devices)), lastWrites_(devices_.size()),
      rng_(opt_.seed)
{
}

Simulator::~Simulator()
{
    Stop();
    if (socket_ != kNoSocket)
        CloseSocketHandle(socket_);
    if (second_ != kNoSocket)
        CloseSocketHandle(second_);
    if (libraryStarted_)
        ReleaseSocketLibrary();
}

int Simulator::Open()
{
    if (!libraryStarted_ && !AcquireSocketLibrary()) {
        error_ = "cannot start the socket library";
        return -1;
    }
    libraryStarted_ = true;
    socket_ = OpenDatagramSocket();
    if (socket_ == kNoSocket) {
        error_ = "socket: " + LastError();
        return -1;
    }
    SetSocketOption(socket_, SocketOption::Broadcast);
    SetSocketOption(socket_, opt_.exclusive ? SocketOption::ExclusiveAddress
                                            : SocketOption::ReuseAddress);
    uint32_t addr = 0;
    if (!ParseIpv4(opt_.listenAddress.c_str(), &addr)) {
        error_ = "bad listen address " + opt_.listenAddress;
        return -1;
    }
    if (!BindSocket(socket_, addr, opt_.listenPort)) {
        error_ = "bind " + opt_.listenAddress + ":" + std::to_string(opt_.listenPort) + ": " +
                 LastError();
        return -1;
    }
    if (opt_.fault == Fault::Splice) {
        // The second sender: another address of this machine.
        uint32_t other = 0;
        second_ = OpenDatagramSocket();
        if (second_ == kNoSocket || !ParseIpv4(opt_.spliceAddress.c_str(), &other) ||
            !BindSocket(second_, other, 0)) {
            error_ = "bind " + opt_.spliceAddress + " (the splice's second sender): " + LastError();
            return -1;
        }
        SetSocketOption(second_, SocketOption::Broadcast);
    }
    return 0;
}

uint16_t Simulator::BoundPort() const
{
    return ::BoundPort(socket_);
}

bool Simulator::Poll(int timeoutMs)
{
    const bool readable = socket_ != kNoSocket && WaitReadable(socket_, timeoutMs);
    ApplyDue();
    if (!readable)
        return false;
    uint8_t buf[4096];
    uint32_t fromAddr = 0;
    uint16_t fromPort = 0;
    const long n = ReceiveDatagram(socket_, buf, sizeof buf, &fromAddr, &fromPort);
    if (n < 0 || static_cast<size_t>(n) > 2048)
        return true;   // a device takes no datagram over 2048 bytes
    Handle(buf, static_cast<size_t>(n), fromAddr, fromPort);
    return true;
}

void Simulator::Start()
{
    stop_ = false;
    thread_ = std::thread([this] {
        while (!stop_.load())
            Poll(20);
    });
}

void Simulator::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

std::string Simulator::Value(size_t device, int key) const
{
    std::lock_guard<std::mutex> g(mutex_);
    return device < devices_.size() ? devices_[device].values[key] : std::string();
}

void Simulator::SetValue(size_t device, int key, const std::string& value)
{
    std::lock_guard<std::mutex> g(mutex_);
    if (device < devices_.size() && key >= 0 && key < kKeyCount)
        devices_[device].values[key] = value;
}

std::vector<WrittenRecord> Simulator::LastWrite(size_t device) const
{
    std::lock_guard<std::mutex> g(mutex_);
    return device < lastWrites_.size() ? lastWrites_[device] : std::vector<WrittenRecord>();
}

size_t Simulator::DeviceCount() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return devices_.size();
}

std::string Simulator::StateText() const
{
    std::lock_guard<std::mutex> g(mutex_);
    std::string s;
    for (const Device& d : devices_) {
        s += "[device]\n";
        std::string omitted;
        for (int k = 0; k < kKeyCount; ++k) {
            if (!d.Has(k))
                omitted += std::string(" ") + KeyTable[k].key;
            else
                s += std::string(KeyTable[k].key) + " = " + d.values[k] + "\n";
        }
        if (!omitted.empty())
            s += "omit" + omitted + "\n";
        std::string refused;
        for (int k = 0; k < kKeyCount; ++k)
            if (d.refused & (1u << k))
                refused += std::string(" ") + KeyTable[k].key;
        if (!refused.empty())
            s += "refuse" + refused + "\n";
        if (d.findOnly)
            s += "find-only\n";
    }
    return s;
}

void Simulator::Log(const std::string& line)
{
    if (log)
        log(line);
}

void Simulator::Handle(const uint8_t* data, size_t len, uint32_t fromAddr, uint16_t fromPort)
{
    // A request: magic, direction 0x00, a command, records, terminator.
    // Replies (our own broadcasts included) and damaged frames are ignored.
    if (len < static_cast<size_t>(kFrameHeaderSize + kEndRecordSize) ||
        std::memcmp(data, kFrameMagic, sizeof kFrameMagic) != 0 || data[6] != kDirRequest)
        return;
    const uint32_t cmd = data[7] | (data[8] << 8) | (data[9] << 16) |
                         (static_cast<uint32_t>(data[10]) << 24);
    const int silentAfter = silentAfter_.load();
    if (silentAfter > 0 && handled_.load() >= silentAfter) {
        ++handled_;
        Log("request " + std::to_string(cmd) + ": not answered (fallen silent)");
        return;
    }
    RecordTable req;
    const int parsed = ParseConfigTextInto(&req, reinterpret_cast<const char*>(data) + kFrameHeaderSize,
                                           len - kFrameHeaderSize, nullptr, nullptr);
    ++handled_;
    const std::string from = AddressText(fromAddr, fromPort);
    if (opt_.logBytes) {
        std::string hex;
        char b[3];
        for (size_t i = 0; i < len; ++i) {
            std::snprintf(b, sizeof b, "%02X", data[i]);
            hex += b;
        }
        Log("request from " + from + ": " + hex);
    }
    if (parsed != 0) {
        Log("request " + std::to_string(cmd) + " from " + from + ": malformed records (" +
            std::to_string(parsed) + "), ignored");
        return;
    }
    switch (cmd) {
    case 1: HandleFind(fromAddr, fromPort); break;
    case 2: HandleGetConfig(req, fromAddr, fromPort); break;
    case 3: HandleSetConfig(req, fromAddr, fromPort); break;
    default: Log("request " + std::to_string(cmd) + " from " + from + ": unknown command");
    }
}

void Simulator::HandleFind(uint32_t fromAddr, uint16_t fromPort)
{
    std::vector<std::vector<uint8_t>> frames;
    {
        std::lock_guard<std::mutex> g(mutex_);
        const std::vector<int> keys(std::begin(kFindKeys), std::end(kFindKeys));
        for (const Device& d : devices_)
            frames.push_back(BuildReply(RequestKind::Find, d, keys));
    }
    Log("find from " + AddressText(fromAddr, fromPort) + ": " + std::to_string(frames.size()) +
        " device(s) answer");
    SendReplies(std::move(frames), fromAddr);
}

void Simulator::HandleGetConfig(const RecordTable& req, uint32_t fromAddr, uint16_t fromPort)
{
    const std::string mac = RecordValue(req, KEY_MAC);
    const std::string serial = RecordValue(req, KEY_SERIAL_NUM);
    std::vector<std::vector<uint8_t>> frames;
    std::vector<int> all;
    for (int k = 0; k < kKeyCount; ++k)
        all.push_back(k);
    {
        std::lock_guard<std::mutex> g(mutex_);
        for (size_t i = 0; i < devices_.size(); ++i) {
            const Device& d = devices_[i];
            if (d.values[KEY_MAC] != mac || d.values[KEY_SERIAL_NUM] != serial)
                continue;
            if (d.findOnly)
                break;
            if (opt_.fault == Fault::WrongMac && FaultActive()) {
                Device other = d;
                other.values[KEY_MAC] = devices_.size() > 1
                                            ? devices_[(i + 1) % devices_.size()].values[KEY_MAC]
                                            : "FFFFFFFFFFFF";
                frames.push_back(BuildReply(RequestKind::GetConfig, other, all));
            }
            frames.push_back(BuildReply(RequestKind::GetConfig, d, all));
            if (opt_.fault == Fault::ChangeAfter && FaultActive() && !opt_.changeRecords.empty())
                pending_.push_back({std::chrono::steady_clock::now() +
                                        std::chrono::milliseconds(opt_.changeAfterMs),
                                    i, opt_.changeRecords});
            break;
        }
    }
    Log("getconfig from " + AddressText(fromAddr, fromPort) + " for " + mac + "/" + serial +
        (frames.empty() ? ": no such device" : ": answered"));
    SendReplies(std::move(frames), fromAddr,
                opt_.fault == Fault::LateDuplicate && FaultActive());
}

void Simulator::HandleSetConfig(const RecordTable& req, uint32_t fromAddr, uint16_t fromPort)
{
    const std::string mac = RecordValue(req, KEY_MAC);
    const std::string serial = RecordValue(req, KEY_SERIAL_NUM);
    std::string line = "setconfig from " + AddressText(fromAddr, fromPort) + " for " + mac + "/" +
                       serial;
    std::vector<std::vector<uint8_t>> forged;
    {
        std::lock_guard<std::mutex> g(mutex_);
        auto it = std::find_if(devices_.begin(), devices_.end(), [&](const Device& d) {
            return d.values[KEY_MAC] == mac && d.values[KEY_SERIAL_NUM] == serial;
        });
        if (it == devices_.end() || it->findOnly) {
            Log(line + (it == devices_.end() ? ": no such device" : ": ignored (find only)"));
            return;
        }
        std::vector<WrittenRecord>& written =
            lastWrites_[static_cast<size_t>(it - devices_.begin())];
        written.clear();
        std::string keys;
        for (const ConfigRecord& r : req.rec) {
            if (IsEmptyRecord(&r))
                break;
            written.push_back({r.key, r.value});
            keys += std::string(" ") + r.key;
        }
        if (opt_.fault == Fault::ForgedConfig && FaultActive()) {
            // Takes nothing, yet answers as if it had taken everything.
            Device claimed = *it;
            for (const WrittenRecord& w : written) {
                const int key = KeyIndexOf(w.key.c_str());
                if (key >= 0)
                    claimed.values[key] = w.value;
            }
            std::vector<int> all;
            for (int k = 0; k < kKeyCount; ++k)
                all.push_back(k);
            forged.push_back(BuildReply(RequestKind::GetConfig, claimed, all));
            Log(line + ": ignored, answered with the written values:" + keys);
        } else {
            int applied = 0;
            std::string refused;
            std::vector<std::pair<int, std::string>> late;   // what is taken, in order
            for (const ConfigRecord& r : req.rec) {
                if (IsEmptyRecord(&r))
                    break;
                const int key = KeyIndexOf(r.key);
                if (key == KEY_MAC || key == KEY_SERIAL_NUM)
                    continue;
                std::string why = CheckRecord(key, r.value);
                if (std::find(opt_.refuseKeys.begin(), opt_.refuseKeys.end(), key) !=
                        opt_.refuseKeys.end() ||
                    (key >= 0 && (it->refused & (1u << key)) != 0))
                    why = "refused by this device";
                if (key >= 0 && !it->Has(key))
                    why = "no such record on this device";
                if (!why.empty()) {
                    refused += std::string(" ") + r.key + " (" + why + ")";
                    continue;
                }
                late.emplace_back(key, r.value);
                ++applied;
            }
            const size_t device = static_cast<size_t>(it - devices_.begin());
            if (opt_.applyLateMs > 0)
                pending_.push_back({std::chrono::steady_clock::now() +
                                        std::chrono::milliseconds(opt_.applyLateMs),
                                    device, std::move(late)});
            else
                ApplyLocked(device, late);
            Log(line + ": applied " + std::to_string(applied) + " record(s)" +
                (refused.empty() ? "" : ", refused:" + refused) + "; records:" + keys);
        }
    }
    if (!forged.empty())
        SendReplies(std::move(forged), fromAddr);
}

}  // namespace devsim
