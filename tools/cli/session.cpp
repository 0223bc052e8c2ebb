// pathlume-cli's session on the protocol library; see session.h.
#include "session.h"

#include <chrono>
#include <cstring>
#include <vector>

#include "cliplatform.h"
#include "protocol.h"
#include "internal.h"

namespace cli {

std::atomic<int> g_interrupted{0};

// The device table after a Find: static, as large as the engine's.
DeviceEntry g_devices[kDeviceTableMax + 1];

void RequestInterrupt()
{
    g_interrupted.store(1);
}

namespace {

// A Find that looks for one device ends once it has answered and no other
// device has answered for this long, so that a second device answering to
// the same name is seen.
constexpr auto kSettle = std::chrono::milliseconds(500);

// A spinner on standard error while waiting, only when that is a terminal.
class Progress {
public:
    Progress(FILE* err, const char* what, bool quiet)
        : err_(err), what_(what), on_(!quiet && err == stderr && IsTerminal(stderr))
    {
    }
    ~Progress() { Done(); }
    void Tick()
    {
        if (!on_)
            return;
        static const char kSpin[] = "|/-\\";
        std::fprintf(err_, "\r%s %c", what_, kSpin[turn_++ % 4]);
        std::fflush(err_);
        shown_ = true;
    }
    void Done()
    {
        if (shown_)
            std::fprintf(err_, "\r%*s\r", static_cast<int>(std::strlen(what_)) + 2, "");
        shown_ = false;
    }

private:
    FILE* err_;
    const char* what_;
    bool on_;
    bool shown_ = false;
    unsigned turn_ = 0;
};

bool Matches(const DeviceEntry& d, const std::string& want)
{
    return want == d.serial || (NormalMac(want) == NormalMac(d.mac) && d.mac[0] != '\0');
}

struct Lookup {
    std::string want;
    bool answered = false;
    std::chrono::steady_clock::time_point lastNew;
};

// The devices answering to the name that the full table had no room for.
int BeyondTable(DeviceEntry (&out)[kLookupMatchesMax])
{
    return CopyLookupBeyondTable(out, kLookupMatchesMax);
}

// Ends the Find once the wanted device has answered and the answers have
// settled: a second device answering to the same name must not go unseen.
bool SettledOnWanted(void* ctx, bool newDevices)
{
    auto* l = static_cast<Lookup*>(ctx);
    const auto now = std::chrono::steady_clock::now();
    if (newDevices) {
        l->lastNew = now;
        const int n = CopyDevTableSlots(g_devices, kDeviceTableMax + 1);
        for (int i = 0; i < n && !l->answered; ++i)
            l->answered = Matches(g_devices[i], l->want);
        DeviceEntry beyond[kLookupMatchesMax];
        l->answered = l->answered || BeyondTable(beyond) > 0;
        return false;
    }
    return l->answered && now - l->lastNew >= kSettle;
}

// Two or more devices answer to the name: says which, and how to name one.
void TellAmbiguous(FILE* err, const std::string& want, const std::vector<DeviceEntry>& hits)
{
    bool sameSerial = true;
    bool sameMac = true;
    for (const DeviceEntry& d : hits) {
        sameSerial = sameSerial && want == d.serial;
        sameMac = sameMac && NormalMac(want) == NormalMac(d.mac);
    }
    std::string names;
    for (const DeviceEntry& d : hits) {
        if (!names.empty())
            names += ", ";
        names += sameSerial ? d.mac
                 : sameMac  ? d.serial
                            : std::string(d.serial) + "@" + d.mac;
    }
    const DeviceEntry& first = hits[0];
    const std::string example = SafeText(std::string(first.serial) + "@" + first.mac);
    const std::string count = std::to_string(hits.size());
    const std::string name = SafeText(want);
    if (sameSerial)
        std::fprintf(err, "pathlume-cli: Serial number %s answered from %s MAC addresses: %s.",
                     name.c_str(), count.c_str(), SafeText(names).c_str());
    else if (sameMac)
        std::fprintf(err, "pathlume-cli: MAC address %s answered with %s serial numbers: %s.",
                     name.c_str(), count.c_str(), SafeText(names).c_str());
    else
        std::fprintf(err, "pathlume-cli: %s devices answer to %s: %s.", count.c_str(), name.c_str(),
                     SafeText(names).c_str());
    std::fprintf(err, " Name one as SERIAL@MAC, for instance %s.\n", example.c_str());
}

}  // namespace

Session::Session(const Options& o, FILE* err) : opt_(o), err_(err) {}

Session::~Session()
{
    ShutdownEngine();
    if (open_)
        CloseUdp();
}

int Session::Open()
{
    ResetCodec();
    InitEngine();   // the device table's full capacity
    // The texts live as long as the session, should the transport keep them.
    UdpEndpoints ep;
    if (!opt_.sendTo.empty()) {
        ParseEndpoint(opt_.sendTo, &sendAddr_, &ep.sendPort);
        ep.sendAddress = sendAddr_.c_str();
    }
    if (!opt_.listen.empty()) {
        ParseEndpoint(opt_.listen, &recvAddr_, &ep.recvPort);
        ep.recvAddress = recvAddr_.c_str();
    }
    if (!opt_.interfaceName.empty())
        ep.interfaceName = opt_.interfaceName.c_str();
    const int r = OpenUdp(ep);
    open_ = true;
    if (r != 0 || UdpFailureText()[0] != '\0') {
        Fail();
        return kExitTransport;
    }
    return 0;
}

bool Session::Sent()
{
    if (UdpLastSendCount() > 0 && UdpFailureText()[0] == '\0')
        return true;
    Fail();
    return false;
}

uint8_t Session::Run(RequestKind kind, const char* what, bool (*stopWhen)(void*, bool),
                     void* ctx)
{
    Progress progress(err_, what, opt_.quiet);
    SetRecvTmo(opt_.timeout);
    StartRequest(kind, nullptr);
    if (!Sent()) {
        AbandonRequest();
        return 0;
    }
    uint8_t events = 0;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(1000 * (opt_.timeout + 1) + 3000);
    int ticks = 0;
    bool stopAsked = false;
    for (;;) {
        const bool ready = WaitForDatagram(10);
        // Every datagram waiting is taken at once; what the ring has no
        // room for waits in the socket while the worker makes room.
        if (ready && OnSocketNotify(kUdpReadEvent) == kUdpRingFull)
            SleepMs(1);
        const RequestProgress look = TakeRequestProgress();
        events |= look.events;
        if (look.ended)
            break;
        if (stopWhen && !stopAsked &&
            stopWhen(ctx, (look.events & RecvEventBit(EVT_UPDATE_INFO)) != 0)) {
            SetStopReqFlg();
            stopAsked = true;
        }
        if (!holdInterrupts_ && g_interrupted.load() != 0 && GetStopReqFlg() == 0)
            SetStopReqFlg();
        if (std::chrono::steady_clock::now() > deadline) {
            AbandonRequest();
            break;
        }
        if (++ticks % 10 == 0)
            progress.Tick();
    }
    progress.Done();
    char line[160];
    if (kind == RequestKind::Find && GetDevicesLeftOut() > 0) {
        LeftOutText(line, sizeof line, GetDeviceCapacity());
        std::fprintf(err_, "pathlume-cli: %s\n", line);
    }
    if (kind != RequestKind::SetConfig && GetCutReplyCount() > 0) {
        CutRepliesText(line, sizeof line, GetCutReplyCount());
        std::fprintf(err_, "pathlume-cli: %s\n", line);
    }
    if (UdpDropsSinceSend() > 0)
        std::fprintf(err_, "pathlume-cli: %s\n", kRepliesLostText);
    return events;
}

void Session::Fail()
{
    const char* why = UdpFailureText();
    std::fprintf(err_, "pathlume-cli: %s\n",
                 why[0] != '\0' ? SafeText(why).c_str() : "Cannot open the UDP sockets.");
    failed_ = true;
}

int FoundDevices()
{
    const int n = CopyDevTableSlots(g_devices, kDeviceTableMax + 1);
    SortDevices(g_devices, n);
    return n;
}

int Resolve(Session& s, const Options& o, Target* t, FILE* err)
{
    const auto at = o.device.rfind('@');   // a serial number may hold '@', a MAC never
    if (at != std::string::npos) {
        // Named without a Find (checked, and the MAC in its plain form).
        t->serial = o.device.substr(0, at);
        t->mac = o.device.substr(at + 1);
        return 0;
    }
    Lookup l;
    l.want = o.device;
    // Devices that answer to the name are seen even when the table is full.
    SetFindLookup(o.device.c_str(), NormalMac(o.device).c_str());
    s.Run(RequestKind::Find, "Finding", SettledOnWanted, &l);
    ClearFindLookup();
    if (s.failed())
        return kExitTransport;
    const int n = FoundDevices();
    std::vector<DeviceEntry> hits;
    for (int i = 0; i < n; ++i)
        if (Matches(g_devices[i], o.device))
            hits.push_back(g_devices[i]);
    DeviceEntry beyond[kLookupMatchesMax];
    const int outside = BeyondTable(beyond);
    hits.insert(hits.end(), beyond, beyond + outside);
    if (hits.size() > 1) {
        TellAmbiguous(err, o.device, hits);
        return kExitUsage;
    }
    if (hits.size() == 1) {
        t->serial = hits[0].serial;
        t->mac = hits[0].mac;
        return 0;
    }
    if (g_interrupted.load() != 0)
        return kExitInterrupted;
    std::fprintf(err, "pathlume-cli: No device %s answered.\n", SafeText(o.device).c_str());
    return kExitNoDevice;
}

bool Fetch(Session& s, const Target& t, RecordTable* reply, char (&text)[kCfgTextSize + 1],
           const char* what)
{
    // The names as the engine keeps them: one too long for its field is
    // kept as none.
    const char* mac = SetTargetMac(t.mac.c_str()) ? t.mac.c_str() : "";
    const char* serial = SetTargetSerial(t.serial.c_str()) ? t.serial.c_str() : "";
    s.Run(RequestKind::GetConfig, what);
    if (!ReplyTableHoldsConfigOf(mac, serial))
        return false;
    CopyReplyTable(reply);
    CopyCfgText(text);
    text[kCfgTextSize] = '\0';
    return true;
}

int FetchTarget(Session& s, const Options& o, Target* t, RecordTable* reply,
                char (&text)[kCfgTextSize + 1], FILE* err)
{
    const int r = Resolve(s, o, t, err);
    if (r != 0)
        return r;
    if (!Fetch(s, *t, reply, text, "Reading")) {
        if (s.failed())
            return kExitTransport;
        if (g_interrupted.load() != 0)
            return kExitInterrupted;
        std::fprintf(err, "pathlume-cli: No answer from %s (%s).\n", SafeText(t->serial).c_str(),
                     SafeText(t->mac).c_str());
        return kExitNoDevice;
    }
    return 0;
}

}  // namespace cli
