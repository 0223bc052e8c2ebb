// pathlume-cli: the session on the protocol library, the commands and their
// output. The command line is read in args.cpp, settings files in
// settings.cpp, and text is escaped and quoted in text.cpp.
#include "cli.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>

#include "cfgrules.h"
#include "codec.h"
#include "engine.h"
#include "findreport.h"
#include "internal.h"
#include "journal.h"
#include "platform.h"
#include "udp.h"
#include "writecheck.h"

namespace cli {

namespace {

// A Find that looks for one device ends once it has answered and no other
// device has answered for this long, so that a second device answering to
// the same name is seen.
constexpr auto kSettle = std::chrono::milliseconds(500);

// Set by Ctrl-C (from a signal handler), read by the waiting loop.
std::atomic<int> g_interrupted{0};

// --- Progress -------------------------------------------------------------

// A spinner on standard error while waiting, only when that is a terminal.
class Progress {
public:
    Progress(FILE* err, const char* what, bool quiet)
        : err_(err), what_(what), on_(!quiet && err == stderr && isatty(fileno(stderr)) != 0)
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

// --- Transport and requests -----------------------------------------------

// Everything the process holds of the protocol, opened once per run.
class Session {
public:
    Session(const Options& o, FILE* err) : opt_(o), err_(err) {}
    ~Session()
    {
        ShutdownEngine();
        if (open_)
            CloseUdp();
    }

    // 0, or kExitTransport with a message.
    int Open()
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
        const int r = OpenUdp(nullptr, ep);
        open_ = true;
        if (r != 0 || UdpFailureText()[0] != '\0') {
            Fail();
            return kExitTransport;
        }
        return 0;
    }

    // After a send: true when it went out, else the failure is reported.
    bool Sent()
    {
        if (UdpLastSendCount() > 0 && UdpFailureText()[0] == '\0')
            return true;
        Fail();
        return false;
    }

    bool failed() const { return failed_; }

    // Runs one Find or GetConfig as the window's monitor does: delivers
    // datagrams into the ring and collects the engine's events until the
    // worker ends. stopWhen, if given, is asked at every turn (with whether
    // new devices came since the last) and ends the request early when it
    // says so. Returns the events seen. Devices left out of the full table
    // and replies the system dropped are told on standard error.
    uint8_t Run(RequestKind kind, const char* what, bool (*stopWhen)(void*, bool) = nullptr,
                void* ctx = nullptr)
    {
        Progress progress(err_, what, opt_.quiet);
        SetRecvTmo(opt_.timeout);
        StartRequest(kind, nullptr);
        if (!Sent()) {
            ShutdownEngine();
            ClearStopRecvFlg();
            return 0;
        }
        uint8_t events = 0;
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(1000 * (opt_.timeout + 1) + 3000);
        int ticks = 0;
        bool stopAsked = false;
        for (;;) {
            pollfd p{static_cast<int>(GetRecvSocket()), POLLIN, 0};
            const int ready = p.fd >= 0 ? poll(&p, 1, 10) : (SleepMs(10), 0);
            // Every datagram waiting is taken at once; what the ring has no
            // room for waits in the socket while the worker makes room.
            if (ready > 0 && OnSocketNotify(kUdpReadEvent) == kUdpRingFull)
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
            if (g_interrupted.load() != 0 && GetStopReqFlg() == 0)
                SetStopReqFlg();
            if (std::chrono::steady_clock::now() > deadline) {
                ShutdownEngine();
                ClearStopRecvFlg();
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
        if (UdpDropsSinceSend() > 0)
            std::fprintf(err_, "pathlume-cli: %s\n", kRepliesLostText);
        return events;
    }

private:
    void Fail()
    {
        const char* why = UdpFailureText();
        std::fprintf(err_, "pathlume-cli: %s\n",
                     why[0] != '\0' ? SafeText(why).c_str() : "Cannot open the UDP sockets.");
        failed_ = true;
    }

    const Options& opt_;
    FILE* err_;
    std::string sendAddr_;
    std::string recvAddr_;
    bool open_ = false;
    bool failed_ = false;
};

// The device table after a Find: static, as large as the engine's.
DeviceEntry g_devices[kDeviceTableMax + 1];

int FoundDevices()
{
    const int n = CopyDevTableSlots(g_devices, kDeviceTableMax + 1);
    SortDevices(g_devices, n);
    return n;
}

// The device a DEVICE argument names.
struct Target {
    std::string serial;
    std::string mac;
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
        return false;
    }
    return l->answered && now - l->lastNew >= kSettle;
}

// Two or more devices answer to the name: says which, and how to name one.
void TellAmbiguous(FILE* err, const std::string& want, const std::vector<int>& hits)
{
    bool sameSerial = true;
    bool sameMac = true;
    for (int i : hits) {
        sameSerial = sameSerial && want == g_devices[i].serial;
        sameMac = sameMac && NormalMac(want) == NormalMac(g_devices[i].mac);
    }
    std::string names;
    for (int i : hits) {
        if (!names.empty())
            names += ", ";
        names += sameSerial ? g_devices[i].mac
                 : sameMac  ? g_devices[i].serial
                            : std::string(g_devices[i].serial) + "@" + g_devices[i].mac;
    }
    const DeviceEntry& first = g_devices[hits[0]];
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

int Resolve(Session& s, const Options& o, Target* t, FILE* err)
{
    const auto at = o.device.find('@');
    if (at != std::string::npos) {
        // Named without a Find (checked, and the MAC in its plain form).
        t->serial = o.device.substr(0, at);
        t->mac = o.device.substr(at + 1);
        return 0;
    }
    Lookup l;
    l.want = o.device;
    s.Run(RequestKind::Find, "Finding", SettledOnWanted, &l);
    if (s.failed())
        return kExitTransport;
    const int n = FoundDevices();
    std::vector<int> hits;
    for (int i = 0; i < n; ++i)
        if (Matches(g_devices[i], o.device))
            hits.push_back(i);
    if (hits.size() > 1) {
        TellAmbiguous(err, o.device, hits);
        return kExitUsage;
    }
    if (hits.size() == 1) {
        t->serial = g_devices[hits[0]].serial;
        t->mac = g_devices[hits[0]].mac;
        return 0;
    }
    if (g_interrupted.load() != 0)
        return kExitInterrupted;
    std::fprintf(err, "pathlume-cli: No device %s answered.\n", SafeText(o.device).c_str());
    return kExitNoDevice;
}

// GetConfig of the target: true when its configuration came; the reply
// table and text are then in *reply and text.
bool Fetch(Session& s, const Target& t, RecordTable* reply, char (&text)[kCfgTextSize + 1],
           const char* what)
{
    SetTargetMac(t.mac.c_str());
    SetTargetSerial(t.serial.c_str());
    s.Run(RequestKind::GetConfig, what);
    if (!ReplyTableHoldsConfigOf(TargetMac, TargetSerial))
        return false;
    CopyReplyTable(reply);
    CopyCfgText(text);
    text[kCfgTextSize] = '\0';
    return true;
}

// --- Output ---------------------------------------------------------------

struct Column {
    const char* heading;
    const char* json;
    const char* (*get)(const DeviceEntry&);
};

const Column kColumns[] = {
    {"Serial Number", "serial", [](const DeviceEntry& d) -> const char* { return d.serial; }},
    {"Mac Address", "mac", [](const DeviceEntry& d) -> const char* { return d.mac; }},
    {"Device Name", "device", [](const DeviceEntry& d) -> const char* { return d.dev; }},
    {"ROM Version", "rom", [](const DeviceEntry& d) -> const char* { return d.ver; }},
    {"IP Address", "ip", [](const DeviceEntry& d) -> const char* { return d.ipCur; }},
    {"Host Name", "host_name", [](const DeviceEntry& d) -> const char* { return d.hostName; }},
};

std::string JsonSummary(const DeviceEntry& d)
{
    std::string s = "{";
    for (const Column& c : kColumns) {
        if (s.size() > 1)
            s += ", ";
        s += JsonString(c.json);
        s += ": ";
        s += JsonString(c.get(d));
    }
    return s + "}";
}

void PrintDevices(FILE* out, Format f, int n)
{
    if (f == Format::Json) {
        std::fprintf(out, "[");
        for (int i = 0; i < n; ++i)
            std::fprintf(out, "%s\n  %s", i ? "," : "", JsonSummary(g_devices[i]).c_str());
        std::fprintf(out, "%s]\n", n ? "\n" : "");
        return;
    }
    if (f == Format::Csv) {
        std::string line;
        for (const Column& c : kColumns) {
            if (!line.empty())
                line += ',';
            line += c.json;
        }
        std::fprintf(out, "%s\r\n", line.c_str());
        for (int i = 0; i < n; ++i) {
            line.clear();
            for (size_t k = 0; k < std::size(kColumns); ++k) {
                if (k)
                    line += ',';
                line += CsvField(kColumns[k].get(g_devices[i]));
            }
            std::fprintf(out, "%s\r\n", line.c_str());
        }
        return;
    }
    // Device text escaped, so that its widths are what the terminal shows.
    auto cell = [](size_t k, int i) { return SafeText(kColumns[k].get(g_devices[i])); };
    size_t width[std::size(kColumns)];
    for (size_t k = 0; k < std::size(kColumns); ++k) {
        width[k] = std::strlen(kColumns[k].heading);
        for (int i = 0; i < n; ++i)
            width[k] = std::max(width[k], cell(k, i).size());
    }
    auto row = [&](auto cell) {
        std::string line;
        for (size_t k = 0; k < std::size(kColumns); ++k) {
            std::string c = cell(k);
            if (k + 1 < std::size(kColumns))
                c.resize(width[k] + 2, ' ');
            line += c;
        }
        std::fprintf(out, "%s\n", line.c_str());
    };
    row([](size_t k) { return std::string(kColumns[k].heading); });
    for (int i = 0; i < n; ++i)
        row([&](size_t k) { return cell(k, i); });
}

void PrintConfig(FILE* out, Format f, const RecordTable& t)
{
    if (f == Format::Json) {
        DeviceEntry d;
        MakeDevEntry(&t, &d);
        std::string s = "{";
        for (const Column& c : kColumns) {
            s += "\n  ";
            s += JsonString(c.json);
            s += ": ";
            s += JsonString(c.get(d));
            s += ",";
        }
        s += "\n  \"config\": {";
        bool first = true;
        for (const ConfigRecord& r : t.rec) {
            if (IsEmptyRecord(&r))
                break;
            s += first ? "\n    " : ",\n    ";
            s += JsonString(r.key);
            s += ": ";
            s += JsonString(r.value);
            first = false;
        }
        std::fprintf(out, "%s\n  }\n}\n", s.c_str());
        return;
    }
    for (const ConfigRecord& r : t.rec) {
        if (IsEmptyRecord(&r))
            break;
        std::fprintf(out, "%s = %s\n", r.key, SafeText(r.value).c_str());
    }
}

// --- Commands -------------------------------------------------------------

int DoFind(Session& s, const Options& o, FILE* out, FILE* err)
{
    s.Run(RequestKind::Find, "Finding");
    if (s.failed())
        return kExitTransport;
    const int n = FoundDevices();
    PrintDevices(out, o.format, n);   // after Ctrl-C too: what was found so far
    int from = 0;
    int macs = 0;
    for (int at; (at = NextSharedSerial(g_devices, n, &from, &macs)) >= 0;) {
        char line[160];
        SharedSerialText(line, sizeof line, g_devices[at].serial, macs);
        std::fprintf(err, "pathlume-cli: %s\n", SafeText(line).c_str());
    }
    if (g_interrupted.load() != 0)
        return kExitInterrupted;
    if (n == 0) {
        std::fprintf(err, "pathlume-cli: No device answered.\n");
        return kExitNoDevice;
    }
    return kExitOk;
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

int DoGet(Session& s, const Options& o, FILE* out, FILE* err)
{
    Target t;
    RecordTable reply;
    char text[kCfgTextSize + 1];
    const int r = FetchTarget(s, o, &t, &reply, text, err);
    if (r != 0)
        return r;
    PrintConfig(out, o.format, reply);
    return kExitOk;
}

int DoSave(Session& s, const Options& o, FILE* out, FILE* err)
{
    Target t;
    RecordTable reply;
    char text[kCfgTextSize + 1];
    const int r = FetchTarget(s, o, &t, &reply, text, err);
    if (r != 0)
        return r;
    const std::string saved = SettingsTextOf(text, t.mac.c_str(), t.serial.c_str());
    if (o.file == "-") {
        std::fputs(saved.c_str(), out);   // checked with everything else written there
        return kExitOk;
    }
    std::string error;
    if (!WriteFileReplacing(o.file, saved, &error)) {
        std::fprintf(err, "pathlume-cli: %s\n", error.c_str());
        return kExitOutput;
    }
    return kExitOk;
}

// One written record, as the JSON output tells it.
struct KeyOutcome {
    std::string key;
    std::string value;
    bool cameBack;
};

void PrintWriteJson(FILE* out, const Target& t, int restores, const std::string& changes,
                    const std::string& outcome, const std::vector<KeyOutcome>& keys)
{
    std::string s = "{\n  \"serial\": " + JsonString(t.serial) + ",\n  \"mac\": " +
                    JsonString(t.mac) + ",\n  " +
                    (restores > 0 ? "\"restores\": " + std::to_string(restores) + ",\n  " : "") +
                    "\"changes\": [" + changes +
                    (changes.empty() ? "" : "\n  ") + "],\n  \"outcome\": " + JsonString(outcome) +
                    ",\n  \"written\": [";
    for (size_t i = 0; i < keys.size(); ++i)
        s += std::string(i ? "," : "") + "\n    {\"key\": " + JsonString(keys[i].key) +
             ", \"value\": " + JsonString(keys[i].value) +
             ", \"came_back\": " + (keys[i].cameBack ? "true" : "false") + "}";
    s += std::string(keys.empty() ? "" : "\n  ") + "]\n}\n";
    std::fputs(s.c_str(), out);
}

// What a write command asks of DoWrite beyond its options.
struct WriteRequest {
    std::vector<Assignment> changes;
    std::string source;                        // load: the device the file was saved from
    const char* action = kJournalSet;          // as the journal records it
    const JournalEntry* restoring = nullptr;   // restore: the entry whose before values go back
};

// set, load and restore: the device's configuration with the given keys
// changed, written as the form's OK writes it, then read back, checked and
// recorded in the journal.
int DoWrite(Session& s, const Options& o, WriteRequest req, FILE* out, FILE* err)
{
    std::vector<Assignment>& changes = req.changes;
    const std::string& source = req.source;
    Target t;
    RecordTable reply;
    char text[kCfgTextSize + 1];
    int r = FetchTarget(s, o, &t, &reply, text, err);
    if (r != 0)
        return r;
    const JournalEntry* undo = req.restoring;
    if (undo && (t.serial != undo->serial || NormalMac(t.mac) != NormalMac(undo->mac))) {
        std::fprintf(err, "pathlume-cli: %s answered as %s (%s); entry %d is a write to %s (%s).\n",
                     SafeText(o.device).c_str(), SafeText(t.serial).c_str(),
                     SafeText(t.mac).c_str(), undo->number, SafeText(undo->serial).c_str(),
                     SafeText(undo->mac).c_str());
        return kExitUsage;
    }

    // A backup of another device would give this one its address and name.
    if (!source.empty() && source != t.serial && !o.withIdentity) {
        const auto identity = [](const Assignment& a) {
            return a.key == KEY_IP || a.key == KEY_HOST_NAME;
        };
        const auto kept = std::remove_if(changes.begin(), changes.end(), identity);
        if (kept != changes.end()) {
            changes.erase(kept, changes.end());
            std::fprintf(err, "pathlume-cli: Kept this device's IP and HOST_NAME; --with-identity "
                              "writes them too.\n");
        }
    }

    CfgFormState state;
    CfgFormFromRecords(reply, t.mac.c_str(), &state);
    // The device's own backup may restore its host name whatever its bytes:
    // they came from the device. So do the journal's before values. Any
    // other is held to what a user may type.
    const bool ownBackup = !source.empty() && source == t.serial;
    for (const Assignment& a : changes) {
        if (a.key == KEY_HOST_NAME && a.value == state.deviceHostName)
            continue;   // nothing to change
        if (a.key == KEY_HOST_NAME && ownBackup) {
            SetCfgDeviceHostName(&state, a.value.c_str());
            continue;   // its length was checked with the file
        }
        const int check = undo ? SetRestoredValue(&state, {KeyTable[a.key].key, a.value})
                               : SetCfgValue(&state, a.key, a.value.c_str());
        if (check != CFG_OK) {
            char msg[256];
            FormatCfgMessage(msg, sizeof msg, check, *FindCfgField(a.key));
            std::fprintf(err, "pathlume-cli: %s: %s\n", KeyTable[a.key].key, msg);
            return kExitUsage;
        }
    }
    CfgValues values;
    const CfgField* failed = nullptr;
    r = CheckCfgForm(state, &values, &failed);
    if (r != CFG_OK) {
        char msg[256];
        FormatCfgMessage(msg, sizeof msg, r, *failed);
        std::fprintf(err, "pathlume-cli: %s: %s\n", KeyTable[failed->key].key, msg);
        return kExitUsage;
    }

    ClearWriteTable();
    RecordTable* table = GetWriteTable();
    BuildWriteTable(table, values);
    const RecordTable written = *table;

    const auto same = CfgRecordReadBack;
    auto valueOf = [](const ConfigRecord& w) {
        std::string v(w.value, strnlen(w.value, static_cast<size_t>(w.width)));
        return v.erase(v.find_last_not_of(' ') + 1);
    };

    // What would change, in record order.
    const bool json = o.format == Format::Json;
    std::string jsonChanges;
    int changed = 0;
    for (const ConfigRecord& w : written.rec) {
        if (IsEmptyRecord(&w))
            break;
        if (same(w, reply))
            continue;
        const int key = static_cast<int>(FindKey(w.key) - KeyTable);
        const char* before = "";
        for (const ConfigRecord& c : reply.rec) {
            if (IsEmptyRecord(&c))
                break;
            if (std::strcmp(c.key, w.key) == 0)
                before = c.value;
        }
        char after[kValueSize + 8];
        CfgValueText(values, key, after, sizeof after);
        if (json)
            jsonChanges += std::string(changed ? "," : "") + "\n    {\"key\": " + JsonString(w.key) +
                           ", \"before\": " + JsonString(before) + ", \"after\": " +
                           JsonString(after) + "}";
        else
            std::fprintf(out, "%s: %s -> %s\n", w.key, SafeText(before).c_str(),
                         SafeText(after).c_str());
        ++changed;
    }
    if (changed == 0 || o.dryRun) {
        const char* outcome = changed == 0 ? "nothing to change" : "dry run";
        if (json)
            PrintWriteJson(out, t, undo ? undo->number : 0, jsonChanges, outcome, {});
        else
            std::fprintf(out, "%s\n", changed == 0 ? "Nothing to change." : "Dry run: nothing written.");
        return kExitOk;
    }

    WriteCheck check;
    SendCheckedWrite(&check, written, t.mac.c_str(), t.serial.c_str());
    if (!s.Sent())
        return kExitTransport;
    s.Run(RequestKind::GetConfig, "Checking");   // the re-read
    RecordTable reread;
    char line[256];
    const int differ = FinishWriteCheck(check, &reread, line, sizeof line);
    const bool answered = differ >= 0;
    // Sent is written, whatever the check finds: the journal keeps it.
    JournalEntry entry = MakeJournalEntry("pathlume-cli", req.action, t.serial.c_str(),
                                          t.mac.c_str(), reply, written, answered ? &reread : nullptr);
    entry.restores = undo ? undo->number : 0;
    const std::string unrecorded = RecordWrite(entry);
    if (!unrecorded.empty())
        std::fprintf(err, "pathlume-cli: %s\n", SafeText(unrecorded).c_str());
    if (s.failed())
        return kExitTransport;
    std::vector<KeyOutcome> keys;
    for (const ConfigRecord& w : written.rec) {
        if (IsEmptyRecord(&w))
            break;
        keys.push_back({w.key, valueOf(w), answered && same(w, reread)});
    }
    if (json)
        PrintWriteJson(out, t, entry.restores, jsonChanges, entry.outcome, keys);
    if (differ == 0) {
        if (!json && !o.quiet)
            std::fprintf(out, "%s\n", line);
        return kExitOk;
    }
    if (!answered && g_interrupted.load() != 0)
        return kExitInterrupted;
    std::fprintf(err, "pathlume-cli: %s\n", line);
    return kExitNotVerified;
}

// --- The journal: history and restore ---------------------------------------

// Reads the journal; damaged lines are counted on err. 0, or kExitNoDevice
// with the reason told.
int ReadJournalFor(JournalContents* j, std::string* path, FILE* err)
{
    *path = JournalPath();
    if (path->empty()) {
        std::fprintf(err, "pathlume-cli: No journal: neither XDG_STATE_HOME nor HOME is set.\n");
        return kExitNoDevice;
    }
    std::string reason;
    if (!ReadJournal(*path, j, &reason)) {
        std::fprintf(err, "pathlume-cli: Cannot read %s: %s.\n", SafeText(*path).c_str(),
                     reason.c_str());
        return kExitNoDevice;
    }
    const size_t n = j->damaged.size();
    if (n > 0) {
        std::string lines;
        for (size_t i = 0; i < n && i < 10; ++i)
            lines += (i ? ", " : "") + std::to_string(j->damaged[i]);
        std::fprintf(err, "pathlume-cli: Skipped %zu damaged line%s of %s (line%s %s%s).\n", n,
                     n == 1 ? "" : "s", SafeText(*path).c_str(), n == 1 ? "" : "s", lines.c_str(),
                     n > 10 ? ", ..." : "");
    }
    return 0;
}

std::string DeviceText(const JournalEntry& e)
{
    return SafeText(e.serial) + " (" + SafeText(e.mac) + ")";
}

std::string OutcomeText(const JournalEntry& e)
{
    std::string s = SafeText(e.outcome);
    for (size_t i = 0; i < e.notTaken.size(); ++i)
        s += (i ? ", " : ": ") + e.notTaken[i];
    return s;
}

void PrintHistoryJson(FILE* out, const std::vector<const JournalEntry*>& shown)
{
    std::string s = "[";
    for (size_t i = 0; i < shown.size(); ++i) {
        const JournalEntry& e = *shown[i];
        s += std::string(i ? "," : "") + "\n  {\"entry\": " + std::to_string(e.number) +
             ", \"time\": " + JsonString(e.time) + ", \"program\": " + JsonString(e.program) +
             ", \"action\": " + JsonString(e.action);
        if (e.restores > 0)
            s += ", \"restores\": " + std::to_string(e.restores);
        s += ", \"serial\": " + JsonString(e.serial) + ", \"mac\": " + JsonString(e.mac) +
             ", \"changes\": [";
        const std::vector<JournalChange> changes = JournalChanges(e);
        for (size_t c = 0; c < changes.size(); ++c)
            s += std::string(c ? ", " : "") + "{\"key\": " + JsonString(changes[c].key) +
                 ", \"before\": " + (changes[c].hadBefore ? JsonString(changes[c].before) : "null") +
                 ", \"after\": " + JsonString(changes[c].after) + "}";
        s += "], \"outcome\": " + JsonString(e.outcome) + ", \"not_taken\": [";
        for (size_t k = 0; k < e.notTaken.size(); ++k)
            s += (k ? ", " : "") + JsonString(e.notTaken[k]);
        s += "]}";
    }
    s += shown.empty() ? "]\n" : "\n]\n";
    std::fputs(s.c_str(), out);
}

// One row per write, its changes on the lines below it.
void PrintHistoryTable(FILE* out, const std::vector<const JournalEntry*>& shown)
{
    constexpr size_t kColumns = 7;
    static const char* const kHeadings[kColumns] = {"Entry",   "Time",   "Serial Number",
                                                    "Mac Address", "Program", "Action",
                                                    "Outcome"};
    auto cells = [](const JournalEntry& e) {
        std::string action = SafeText(e.action);
        if (e.restores > 0)
            action += " " + std::to_string(e.restores);
        return std::vector<std::string>{std::to_string(e.number), SafeText(e.time),
                                        SafeText(e.serial),       SafeText(e.mac),
                                        SafeText(e.program),      action,
                                        OutcomeText(e)};
    };
    size_t width[kColumns];
    for (size_t k = 0; k < kColumns; ++k)
        width[k] = std::strlen(kHeadings[k]);
    for (const JournalEntry* e : shown) {
        const std::vector<std::string> row = cells(*e);
        for (size_t k = 0; k < kColumns; ++k)
            width[k] = std::max(width[k], row[k].size());
    }
    auto line = [&](const std::vector<std::string>& row) {
        std::string l;
        for (size_t k = 0; k < kColumns; ++k) {
            std::string c = row[k];
            if (k + 1 < kColumns)
                c.resize(width[k] + 2, ' ');
            l += c;
        }
        std::fprintf(out, "%s\n", l.c_str());
    };
    line(std::vector<std::string>(kHeadings, kHeadings + kColumns));
    const std::string indent(width[0] + 2, ' ');
    for (const JournalEntry* e : shown) {
        line(cells(*e));
        const std::vector<JournalChange> changes = JournalChanges(*e);
        if (changes.empty())
            std::fprintf(out, "%s(nothing changed)\n", indent.c_str());
        for (const JournalChange& c : changes)
            std::fprintf(out, "%s%s: %s -> %s\n", indent.c_str(), SafeText(c.key).c_str(),
                         c.hadBefore ? SafeText(c.before).c_str() : "(none)",
                         SafeText(c.after).c_str());
    }
}

int DoHistory(const Options& o, FILE* out, FILE* err)
{
    JournalContents j;
    std::string path;
    const int r = ReadJournalFor(&j, &path, err);
    if (r != 0)
        return r;
    std::vector<const JournalEntry*> shown;
    for (auto e = j.entries.rbegin(); e != j.entries.rend(); ++e)
        if (o.device.empty() || JournalEntryNames(*e, o.device))
            shown.push_back(&*e);
    if (o.format == Format::Json) {
        PrintHistoryJson(out, shown);
    } else if (shown.empty()) {
        std::fprintf(err, "pathlume-cli: No write%s%s is recorded in %s.\n",
                     o.device.empty() ? "" : " to ", SafeText(o.device).c_str(),
                     SafeText(path).c_str());
    } else {
        PrintHistoryTable(out, shown);
    }
    return kExitOk;
}

// The entry a restore undoes and the values that undo it. 0, or an exit
// code with the reason told.
int ChooseRestore(const Options& o, JournalContents* j, const JournalEntry** chosen,
                  std::vector<Assignment>* changes, FILE* err)
{
    std::string path;
    const int r = ReadJournalFor(j, &path, err);
    if (r != 0)
        return r;
    *chosen = nullptr;
    if (o.entry > 0) {
        for (const JournalEntry& e : j->entries)
            if (e.number == o.entry)
                *chosen = &e;
        if (!*chosen) {
            const bool damaged =
                std::find(j->damaged.begin(), j->damaged.end(), o.entry) != j->damaged.end();
            std::fprintf(err, damaged ? "pathlume-cli: Entry %d of %s is damaged.\n"
                                      : "pathlume-cli: There is no entry %d in %s.\n",
                         o.entry, SafeText(path).c_str());
            return kExitUsage;
        }
        if (!JournalEntryNames(**chosen, o.device)) {
            std::fprintf(err, "pathlume-cli: Entry %d is a write to %s, not to %s.\n", o.entry,
                         DeviceText(**chosen).c_str(), SafeText(o.device).c_str());
            return kExitUsage;
        }
    } else {
        for (auto e = j->entries.rbegin(); e != j->entries.rend() && !*chosen; ++e)
            if (JournalEntryNames(*e, o.device))
                *chosen = &*e;
        if (!*chosen) {
            std::fprintf(err, "pathlume-cli: No write to %s is recorded in %s.\n",
                         SafeText(o.device).c_str(), SafeText(path).c_str());
            return kExitNoDevice;
        }
    }
    std::vector<std::string> kept;
    for (const JournalRecord& v : RestoreValues(**chosen, &kept))
        changes->push_back({static_cast<int>(FindKey(v.key.c_str()) - KeyTable), v.value});
    if (!kept.empty()) {
        std::string keys;
        for (const std::string& k : kept)
            keys += (keys.empty() ? "" : ", ") + k;
        std::fprintf(err, "pathlume-cli: Left as they are: %s (entry %d has no value of them from "
                          "before its write that a write can give back).\n",
                     keys.c_str(), (*chosen)->number);
    }
    return 0;
}

// Flushes what was written to out; false with the reason when any of it
// could not be written.
bool OutputReached(FILE* out, int* error)
{
    errno = 0;
    const bool flushed = std::fflush(out) == 0;
    *error = errno != 0 ? errno : EIO;
    return flushed && !std::ferror(out);
}

}  // namespace

void RequestInterrupt()
{
    g_interrupted.store(1);
}

namespace {

int RunCommand(const Options& o, FILE* out, FILE* err)
{
    if (o.command == Command::Help) {
        if (o.helpTopic.empty())
            std::fputs(UsageText(), out);
        else
            std::fputs(CommandHelp(o.helpTopic).c_str(), out);
        return kExitOk;
    }
    if (o.command == Command::Version) {
        std::fprintf(out, "pathlume-cli %s\n", PATHLUME_VERSION);
        return kExitOk;
    }
    if (o.command == Command::History)
        return DoHistory(o, out, err);
    WriteRequest write;
    std::vector<Assignment>& changes = write.changes;
    changes = o.assignments;
    std::string& source = write.source;   // the device a load file was saved from
    JournalContents journal;
    if (o.command == Command::Restore) {
        // The entry is chosen before anything is sent.
        write.action = kJournalRestore;
        const int r = ChooseRestore(o, &journal, &write.restoring, &changes, err);
        if (r != 0)
            return r;
        if (o.format == Format::Text && !o.quiet)
            std::fprintf(out, "Restoring entry %d of %s (%s %s).\n", write.restoring->number,
                         SafeText(write.restoring->time).c_str(),
                         SafeText(write.restoring->program).c_str(),
                         SafeText(write.restoring->action).c_str());
    }
    if (o.command == Command::Load) {
        write.action = kJournalLoad;
        // Checked whole before anything is sent.
        std::string text;
        std::string error;
        if (!ReadSettingsFile(o.file, &text, &error) ||
            ParseSettingsText(text, o.file, &changes, &error, &source) != 0) {
            std::fprintf(err, "pathlume-cli: %s\n", error.c_str());
            return kExitUsage;
        }
    }

    Session s(o, err);
    const int r = s.Open();
    if (r != 0)
        return r;
    switch (o.command) {
    case Command::Find: return DoFind(s, o, out, err);
    case Command::Get: return DoGet(s, o, out, err);
    case Command::Save: return DoSave(s, o, out, err);
    case Command::Set:
    case Command::Load:
    case Command::Restore: return DoWrite(s, o, std::move(write), out, err);
    default: return kExitUsage;
    }
}

}  // namespace

int Main(int argc, const char* const* argv, FILE* out, FILE* err)
{
    g_interrupted.store(0);
    Options o;
    std::string error;
    if (ParseArgs(argc, argv, &o, &error) != 0) {
        std::fprintf(err, "pathlume-cli: %s%s\n", error.c_str(), o.badValue ? "" : " (see --help)");
        return kExitUsage;
    }
    const int r = RunCommand(o, out, err);
    // Data that never reached its reader is a failure, whatever came before.
    int why = 0;
    if (!OutputReached(out, &why)) {
        std::fprintf(err, "pathlume-cli: Cannot write standard output: %s.\n", std::strerror(why));
        return r == kExitOk ? kExitOutput : r;
    }
    return r;
}

}  // namespace cli
