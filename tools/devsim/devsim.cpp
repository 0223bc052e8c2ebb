#include "devsim.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>

#include "textutil.h"

namespace devsim {

namespace {

// The few socket calls that differ between POSIX and Winsock.
#ifdef _WIN32
using AddrLen = int;
constexpr int kTruncFlag = 0;   // Winsock fails a receive that does not fit
SOCKET Native(intptr_t s) { return static_cast<SOCKET>(s); }
intptr_t MakeSocket()
{
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    return s == INVALID_SOCKET ? -1 : static_cast<intptr_t>(s);
}
void CloseSocket(intptr_t s) { closesocket(Native(s)); }
bool WaitReadable(intptr_t s, int timeoutMs)
{
    WSAPOLLFD p{};
    p.fd = Native(s);
    p.events = POLLRDNORM;
    return WSAPoll(&p, 1, timeoutMs) > 0;
}
std::string LastError() { return "socket error " + std::to_string(WSAGetLastError()); }
#else
using AddrLen = socklen_t;
constexpr int kTruncFlag = MSG_TRUNC;   // report a longer datagram's true length
int Native(intptr_t s) { return static_cast<int>(s); }
intptr_t MakeSocket() { return socket(AF_INET, SOCK_DGRAM, 0); }
void CloseSocket(intptr_t s) { close(Native(s)); }
bool WaitReadable(intptr_t s, int timeoutMs)
{
    pollfd p{Native(s), POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
}
std::string LastError() { return std::strerror(errno); }
#endif

const int kFindKeys[] = {KEY_DEV, KEY_VER, KEY_MAC, KEY_IP_CUR, KEY_HOST_NAME, KEY_SERIAL_NUM};

bool IsDecimal(const std::string& v, unsigned long max)
{
    if (v.empty() || v.size() > 5)
        return false;
    for (char c : v)
        if (c < '0' || c > '9')
            return false;
    return std::stoul(v) <= max;
}

bool IsDottedQuad(const std::string& v)
{
    int parts = 0;
    size_t i = 0;
    while (i <= v.size()) {
        size_t j = v.find('.', i);
        if (j == std::string::npos)
            j = v.size();
        const std::string part = v.substr(i, j - i);
        if (!IsDecimal(part, 255) || part.size() > 3)
            return false;
        ++parts;
        i = j + 1;
        if (j == v.size())
            break;
    }
    return parts == 4;
}

// Device text is single-byte: a device keeps whatever bytes it is given
// (only a zero byte cannot be carried in a record).
bool IsPrintable(const std::string& v)
{
    return v.find('\0') == std::string::npos;
}

bool IsHex12(const std::string& v)
{
    return v.size() == 12 && std::all_of(v.begin(), v.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
           });
}

Device MakeDevice(int index, std::mt19937& rng)
{
    static const char* const kModels[] = {"NP-2400", "NP-3100", "LX-200", "PS-910"};
    static const char* const kMakers[] = {"Ostrander Print", "Helmsdale Devices",
                                          "Corvan Imaging"};
    Device d;
    char buf[64];
    const unsigned r = static_cast<unsigned>(rng());
    d.values[KEY_DEV] = kModels[r % 4];
    std::snprintf(buf, sizeof buf, "%u.%02u.%u", 1 + (r >> 4) % 3, (r >> 8) % 40,
                  (r >> 16) % 10);
    d.values[KEY_VER] = buf;
    const unsigned macBits = static_cast<unsigned>(rng());
    if (index < 256)
        std::snprintf(buf, sizeof buf, "02C0EE%06X", (macBits & 0xFFFF00u) | static_cast<unsigned>(index));
    else
        std::snprintf(buf, sizeof buf, "02C0EF%06X", static_cast<unsigned>(index) & 0xFFFFFFu);
    d.values[KEY_MAC] = buf;
    d.values[KEY_ENET_SPD] = std::to_string(rng() % 5);
    d.values[KEY_DHCP] = "0";
    // 192.168.77.20 on, then on into the networks above it.
    const int host = 20 + index;
    if (host < 255)
        std::snprintf(buf, sizeof buf, "192.168.77.%d", host);
    else
        std::snprintf(buf, sizeof buf, "192.168.%d.%d", 78 + (host - 255) / 254, 1 + (host - 255) % 254);
    d.values[KEY_IP_CUR] = buf;
    d.values[KEY_IP] = buf;
    d.values[KEY_SUBNET_MASK] = "255.255.255.0";
    d.values[KEY_GATEWAY] = "192.168.77.1";
    d.values[KEY_IP_DFLT] = "192.168.77.250";
    d.values[KEY_SNMP_SERVER] = "192.168.77.5";
    d.values[KEY_SNMP_COMMUNITY] = "public";
    d.values[KEY_SNMP_PORT] = "161";
    d.values[KEY_SNMP_USER] = "admin";
    d.values[KEY_SNMP_PASSWORD] = "";
    d.values[KEY_PRNT_PORT] = "9100";
    d.values[KEY_PRNT_RCV_TMO] = std::to_string(60 + 30 * (rng() % 4));
    d.values[KEY_MANUFACTURER] = kMakers[rng() % 3];
    std::snprintf(buf, sizeof buf, "print-%s", d.values[KEY_MAC].substr(6).c_str());
    d.values[KEY_HOST_NAME] = buf;
    std::snprintf(buf, sizeof buf, "SN%08u", static_cast<unsigned>(rng() % 100000000u));
    d.values[KEY_SERIAL_NUM] = buf;
    return d;
}

int KeyIndexOf(const std::string& key)
{
    for (int i = 0; i < kKeyCount; ++i)
        if (key == KeyTable[i].key)
            return i;
    return -1;
}

std::string AddressText(uint32_t addr, uint16_t port)
{
    in_addr a{};
    a.s_addr = addr;
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, buf, sizeof buf);
    return std::string(buf) + ":" + std::to_string(port);
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

std::vector<Device> GenerateDevices(int count, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<Device> out;
    std::set<std::string> serials;
    for (int i = 0; i < count; ++i) {
        out.push_back(MakeDevice(i, rng));
        // A drawn serial number that is taken moves on to the next free one.
        std::string& serial = out.back().values[KEY_SERIAL_NUM];
        while (!serials.insert(serial).second) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "SN%08u",
                          static_cast<unsigned>((std::stoul(serial.substr(2)) + 1) % 100000000u));
            serial = buf;
        }
    }
    return out;
}

bool ParseDeviceText(const std::string& text, uint32_t seed, std::vector<Device>* out,
                     std::string* error)
{
    std::mt19937 rng(seed);
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    out->clear();
    while (std::getline(in, line)) {
        ++lineNo;
        const auto hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        line = TrimBlanks(line);
        if (line.empty())
            continue;
        if (line == "[device]") {
            out->push_back(MakeDevice(static_cast<int>(out->size()), rng));
            continue;
        }
        if (line.compare(0, 5, "omit ") == 0 && line.find('=') == std::string::npos) {
            if (out->empty()) {
                *error = "line " + std::to_string(lineNo) + ": omit before [device]";
                return false;
            }
            std::istringstream keys(line.substr(5));
            std::string name;
            while (keys >> name) {
                const int key = KeyIndexOf(name);
                if (key < 0 || key == KEY_MAC || key == KEY_SERIAL_NUM) {
                    *error = "line " + std::to_string(lineNo) + ": cannot omit " + name;
                    return false;
                }
                out->back().missing |= 1u << key;
            }
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || out->empty()) {
            *error = "line " + std::to_string(lineNo) + ": expected [device] or KEY = value";
            return false;
        }
        const int key = KeyIndexOf(TrimBlanks(line.substr(0, eq)));
        const std::string value = TrimBlanks(line.substr(eq + 1));
        if (key < 0) {
            *error = "line " + std::to_string(lineNo) + ": unknown key";
            return false;
        }
        if (value.size() > static_cast<size_t>(KeyTable[key].width)) {
            *error = "line " + std::to_string(lineNo) + ": value wider than " +
                     std::to_string(KeyTable[key].width);
            return false;
        }
        out->back().values[key] = value;
    }
    return true;
}

bool ParseFault(const std::string& name, Fault* out)
{
    static const std::pair<const char*, Fault> kNames[] = {
        {"none", Fault::None},           {"no-terminator", Fault::NoTerminator},
        {"truncated", Fault::Truncated}, {"oversize", Fault::Oversize},
        {"wrong-mac", Fault::WrongMac},  {"stray-bytes", Fault::StrayBytes},
        {"forged-config", Fault::ForgedConfig}, {"late-duplicate", Fault::LateDuplicate},
    };
    for (const auto& [n, f] : kNames) {
        if (name == n) {
            *out = f;
            return true;
        }
    }
    return false;
}

const char* FaultName(Fault f)
{
    switch (f) {
    case Fault::None: return "none";
    case Fault::NoTerminator: return "no-terminator";
    case Fault::Truncated: return "truncated";
    case Fault::Oversize: return "oversize";
    case Fault::WrongMac: return "wrong-mac";
    case Fault::StrayBytes: return "stray-bytes";
    case Fault::ForgedConfig: return "forged-config";
    case Fault::LateDuplicate: return "late-duplicate";
    }
    return "none";
}

std::vector<uint8_t> BuildReply(RequestKind command, const Device& dev,
                                const std::vector<int>& keys)
{
    std::vector<uint8_t> frame(kFrameHeaderSize + kEndRecordSize + keys.size() * 64);
    int n = BuildFrameHeader(frame.data(), kDirReply, static_cast<uint32_t>(command));
    for (int key : keys) {
        if (!dev.Has(key))
            continue;
        ConfigRecord r;
        r.key = KeyTable[key].key;
        r.width = KeyTable[key].width;
        std::memset(r.value, 0, sizeof r.value);
        std::strncpy(r.value, dev.values[key].c_str(), static_cast<size_t>(r.width));
        n += FormatRecordLine(frame.data() + n, &r);
    }
    n += AppendEndRecord(frame.data() + n);
    frame.resize(static_cast<size_t>(n));
    return frame;
}

std::string CheckRecord(int key, const std::string& v)
{
    switch (key) {
    case KEY_MAC:
        return IsHex12(v) ? "" : "not 12 hex digits";
    case KEY_ENET_SPD:
        return IsDecimal(v, 4) ? "" : "not a line speed code 0-4";
    case KEY_DHCP:
        return IsDecimal(v, 1) ? "" : "not a DHCP code 0-1";
    case KEY_IP: case KEY_SUBNET_MASK: case KEY_GATEWAY: case KEY_IP_DFLT: case KEY_IP_CUR:
        return IsDottedQuad(v) ? "" : "not a dotted-decimal address";
    case KEY_SNMP_PORT: case KEY_PRNT_PORT:
        return IsDecimal(v, 65535) ? "" : "not a port 0-65535";
    case KEY_PRNT_RCV_TMO:
        return IsDecimal(v, 65535) && std::stoul(v) >= 30 ? "" : "not a time-out 30-65535";
    default:
        return IsPrintable(v) ? "" : "holds a zero byte";
    }
}

Simulator::Simulator(Options options, std::vector<Device> devices)
    : opt_(std::move(options)), devices_(std::move(devices)), lastWrites_(devices_.size()),
      rng_(opt_.seed)
{
}

Simulator::~Simulator()
{
    Stop();
    if (socket_ >= 0)
        CloseSocket(socket_);
}

int Simulator::Open()
{
    socket_ = MakeSocket();
    if (socket_ < 0) {
        error_ = "socket: " + LastError();
        return -1;
    }
    const int on = 1;
    const char* onBytes = reinterpret_cast<const char*>(&on);
    setsockopt(Native(socket_), SOL_SOCKET, SO_BROADCAST, onBytes, sizeof on);
    if (!opt_.exclusive)
        setsockopt(Native(socket_), SOL_SOCKET, SO_REUSEADDR, onBytes, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(opt_.listenPort);
    if (inet_pton(AF_INET, opt_.listenAddress.c_str(), &a.sin_addr) != 1) {
        error_ = "bad listen address " + opt_.listenAddress;
        return -1;
    }
    if (bind(Native(socket_), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        error_ = "bind " + opt_.listenAddress + ":" + std::to_string(opt_.listenPort) + ": " +
                 LastError();
        return -1;
    }
    return 0;
}

uint16_t Simulator::BoundPort() const
{
    sockaddr_in a{};
    AddrLen len = sizeof a;
    if (socket_ < 0 || getsockname(Native(socket_), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

bool Simulator::Poll(int timeoutMs)
{
    if (socket_ < 0 || !WaitReadable(socket_, timeoutMs))
        return false;
    uint8_t buf[4096];
    sockaddr_in from{};
    AddrLen fromLen = sizeof from;
    const auto n = recvfrom(Native(socket_), reinterpret_cast<char*>(buf), sizeof buf, kTruncFlag,
                            reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0 || static_cast<size_t>(n) > 2048)
        return true;   // a device takes no datagram over 2048 bytes
    Handle(buf, static_cast<size_t>(n), from.sin_addr.s_addr, ntohs(from.sin_port));
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
    }
    return s;
}

void Simulator::Log(const std::string& line)
{
    if (log)
        log(line);
}

bool Simulator::FaultActive() const
{
    return opt_.fault != Fault::None &&
           (opt_.faultCount == 0 || handled_.load() <= opt_.faultCount);
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
    char text[2100] = {};
    std::memcpy(text, data + kFrameHeaderSize, len - kFrameHeaderSize);
    RecordTable req;
    const int parsed = ParseConfigTextInto(&req, text, nullptr, nullptr);
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
            if (opt_.fault == Fault::WrongMac && FaultActive()) {
                Device other = d;
                other.values[KEY_MAC] = devices_.size() > 1
                                            ? devices_[(i + 1) % devices_.size()].values[KEY_MAC]
                                            : "FFFFFFFFFFFF";
                frames.push_back(BuildReply(RequestKind::GetConfig, other, all));
            }
            frames.push_back(BuildReply(RequestKind::GetConfig, d, all));
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
        if (it == devices_.end()) {
            Log(line + ": no such device");
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
                const int key = KeyIndexOf(w.key);
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
            for (const ConfigRecord& r : req.rec) {
                if (IsEmptyRecord(&r))
                    break;
                const int key = KeyIndexOf(r.key);
                if (key == KEY_MAC || key == KEY_SERIAL_NUM)
                    continue;
                std::string why = CheckRecord(key, r.value);
                if (std::find(opt_.refuseKeys.begin(), opt_.refuseKeys.end(), key) !=
                    opt_.refuseKeys.end())
                    why = "refused by this device";
                if (key >= 0 && !it->Has(key))
                    why = "no such record on this device";
                if (!why.empty()) {
                    refused += std::string(" ") + r.key + " (" + why + ")";
                    continue;
                }
                it->values[key] = r.value;
                ++applied;
            }
            if (it->values[KEY_DHCP] == "0")
                it->values[KEY_IP_CUR] = it->values[KEY_IP];
            Log(line + ": applied " + std::to_string(applied) + " record(s)" +
                (refused.empty() ? "" : ", refused:" + refused) + "; records:" + keys);
        }
    }
    if (!forged.empty())
        SendReplies(std::move(forged), fromAddr);
}

std::vector<uint8_t> Simulator::Damage(std::vector<uint8_t> frame)
{
    switch (opt_.fault) {
    case Fault::NoTerminator:
        frame.resize(frame.size() - kEndRecordSize);
        break;
    case Fault::Truncated:
        frame.resize(kFrameHeaderSize + (frame.size() - kFrameHeaderSize) / 2);
        break;
    case Fault::Oversize:
        frame.resize(2100, ' ');
        break;
    case Fault::StrayBytes: {
        static const uint8_t kJunk[] = {0x00, 0x0D, 0xAC, 0x00, 0x0D, 'x', 0xFF, 0x00, 0x0D,
                                        0xAC, 0x00, 0x0D, 0xAC, 0xFE, '?'};
        frame.insert(frame.begin(), std::begin(kJunk), std::end(kJunk));
        frame.insert(frame.end(), std::begin(kJunk), std::end(kJunk));
        break;
    }
    case Fault::None:
    case Fault::WrongMac:
    case Fault::ForgedConfig:
    case Fault::LateDuplicate:
        break;
    }
    return frame;
}

void Simulator::SendReplies(std::vector<std::vector<uint8_t>> frames, uint32_t fromAddr,
                            bool lateCopies)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(opt_.replyPort);
    if (opt_.replyToSender)
        to.sin_addr.s_addr = fromAddr;
    else
        inet_pton(AF_INET, opt_.replyAddress.c_str(), &to.sin_addr);

    // Each reply gets its own send time; jitter can change the answer order.
    struct Planned {
        int atMs;
        std::vector<uint8_t> bytes;
    };
    std::vector<Planned> plan;
    const bool damage = FaultActive() && opt_.fault != Fault::WrongMac &&
                        opt_.fault != Fault::ForgedConfig && opt_.fault != Fault::LateDuplicate;
    for (auto& f : frames) {
        if (opt_.lossPercent > 0 && static_cast<int>(rng_() % 100) < opt_.lossPercent)
            continue;
        const int at = opt_.delayMs + (opt_.jitterMs > 0 ? static_cast<int>(rng_() % (opt_.jitterMs + 1)) : 0);
        std::vector<uint8_t> bytes = damage ? Damage(std::move(f)) : std::move(f);
        if (opt_.duplicate)
            plan.push_back({at, bytes});
        if (lateCopies)
            plan.push_back({at + opt_.lateMs, bytes});
        plan.push_back({at, std::move(bytes)});
    }
    std::stable_sort(plan.begin(), plan.end(),
                     [](const Planned& a, const Planned& b) { return a.atMs < b.atMs; });
    const auto start = std::chrono::steady_clock::now();
    for (const Planned& p : plan) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(p.atMs));
        sendto(Native(socket_), reinterpret_cast<const char*>(p.bytes.data()),
               static_cast<int>(p.bytes.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
}

}  // namespace devsim
