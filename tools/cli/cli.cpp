#include "cli.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

#include "cfgrules.h"
#include "codec.h"
#include "engine.h"
#include "platform.h"
#include "udp.h"

namespace cli {

namespace {

constexpr int kCliDeviceCapacity = 1000;
constexpr int kMaxTimeout = 120;

const char kUsage[] =
    "Usage: pathlume-cli COMMAND [options]\n"
    "Finds print-server network interfaces on UDP port 22093, reads and changes\n"
    "their configuration.\n"
    "\n"
    "Commands:\n"
    "  find [--format table|json|csv]    list every device that answers, by serial number\n"
    "  get DEVICE [--format text|json]   show one device's configuration\n"
    "  set DEVICE KEY=VALUE... [--dry-run]\n"
    "                                    change values, then read them back and check them\n"
    "  save DEVICE FILE                  write the device's writable values to FILE (- for\n"
    "                                    standard output)\n"
    "  load DEVICE FILE [--dry-run] [--with-identity]\n"
    "                                    check FILE whole, then write the values that differ;\n"
    "                                    a file saved from another device keeps this device's\n"
    "                                    IP and HOST_NAME unless --with-identity is given\n"
    "\n"
    "DEVICE is a serial number or a MAC address (found by a Find first), or\n"
    "SERIAL@MAC to name the device without a Find.\n"
    "\n"
    "Writable keys (checked by the Edit Config form's rules):\n"
    "  HOST_NAME     up to 32 printable ASCII characters\n"
    "  ENET_SPD      line speed: 0 Auto-detect, 1 10BaseT Half duplex, 2 10BaseT Full\n"
    "                duplex, 3 100BaseTX Half duplex, 4 100BaseTX Full duplex (code or text)\n"
    "  DHCP          0 Disable, 1 Enable (code or text)\n"
    "  IP, SUBNET_MASK, GATEWAY   IPv4 addresses: four numbers 0-255 separated by dots\n"
    "  PRNT_PORT     0 to 65535\n"
    "  PRNT_RCV_TMO  30 to 65535 seconds\n"
    "\n"
    "Options:\n"
    "  --timeout S         seconds to wait for answers, 0 to 120 (default 3)\n"
    "  --format F          output format (see the commands)\n"
    "  --dry-run           read the device and show the changes; write nothing\n"
    "  --with-identity     load: write IP and HOST_NAME even from another device's file\n"
    "  --interface NAME    send on this network interface only (name or IPv4 address);\n"
    "                      by default requests go out on every broadcast interface\n"
    "  --help, --version\n"
    "\n"
    "Exit codes:\n"
    "  0  done (and verified, for writes)\n"
    "  1  device not found or no answer\n"
    "  2  usage or validation error (nothing written)\n"
    "  3  written but not verified\n"
    "  4  transport failure (for example the port is held by another program)\n"
    "\n"
    "For testing only:\n"
    "  --send-to ADDR:PORT   send requests to this address instead of the broadcast\n"
    "  --listen ADDR:PORT    receive replies here instead of 0.0.0.0:22093\n";

std::string Upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return s;
}

std::string Trim(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return "";
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string WritableKeyList()
{
    std::string s;
    for (const CfgField& f : kCfgWritable)
        s += std::string(s.empty() ? "" : ", ") + KeyTable[f.key].key;
    return s;
}

bool ParseEndpoint(const std::string& text, std::string* addr, uint16_t* port)
{
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    uint8_t o[4];
    const std::string a = text.substr(0, colon);
    if (!ParseCfgAddress(a.c_str(), o))
        return false;
    char* end = nullptr;
    const long p = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (colon + 1 == text.size() || *end != '\0' || p < 0 || p > 65535)
        return false;
    *addr = a;
    *port = static_cast<uint16_t>(p);
    return true;
}

// --- Progress -------------------------------------------------------------

// A spinner on standard error while waiting, only when that is a terminal.
class Progress {
public:
    Progress(FILE* err, const char* what)
        : err_(err), what_(what), on_(err == stderr && isatty(fileno(stderr)) != 0)
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
        InitEngine();
        SetDeviceCapacity(kCliDeviceCapacity);
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
    // worker ends. stopWhen, if given, is asked after each new device and
    // ends the request early. Returns the events seen.
    uint8_t Run(RequestKind kind, const char* what, bool (*stopWhen)(void*) = nullptr,
                void* ctx = nullptr)
    {
        Progress progress(err_, what);
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
        for (;;) {
            pollfd p{static_cast<int>(GetRecvSocket()), POLLIN, 0};
            int ready = p.fd >= 0 ? poll(&p, 1, 10) : (SleepMs(10), 0);
            for (int i = 0; ready > 0 && i < 256; ++i) {
                OnSocketNotify(kUdpReadEvent);
                ready = poll(&p, 1, 0);
            }
            const uint8_t e = TakeRecvEvent();
            events |= e;
            if ((e & RecvEventBit(EVT_UPDATE_INFO)) && stopWhen && stopWhen(ctx))
                SetStopReqFlg();
            if (GetStopRecvFlg() != 0) {
                events |= TakeRecvEvent();
                ClearStopRecvFlg();
                WaitRecvThread();
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                ShutdownEngine();
                ClearStopRecvFlg();
                break;
            }
            if (++ticks % 10 == 0)
                progress.Tick();
        }
        return events;
    }

private:
    void Fail()
    {
        const char* why = UdpFailureText();
        std::fprintf(err_, "pathlume-cli: %s\n",
                     why[0] != '\0' ? why : "Cannot open the UDP sockets.");
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
    std::sort(g_devices, g_devices + n, [](const DeviceEntry& a, const DeviceEntry& b) {
        return std::strcmp(a.serial, b.serial) < 0;
    });
    return n;
}

std::string NormalMac(const std::string& s)
{
    std::string out;
    for (char c : s)
        if (c != ':' && c != '-')
            out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    return out;
}

// The device a DEVICE argument names.
struct Target {
    std::string serial;
    std::string mac;
};

struct Lookup {
    std::string want;
    int found = -1;
};

bool Matches(const DeviceEntry& d, const std::string& want)
{
    return want == d.serial || (NormalMac(want) == NormalMac(d.mac) && d.mac[0] != '\0');
}

bool FoundWanted(void* ctx)
{
    auto* l = static_cast<Lookup*>(ctx);
    const int n = CopyDevTableSlots(g_devices, kDeviceTableMax + 1);
    for (int i = 0; i < n; ++i) {
        if (Matches(g_devices[i], l->want)) {
            l->found = i;
            return true;
        }
    }
    return false;
}

int Resolve(Session& s, const Options& o, Target* t, FILE* err)
{
    const auto at = o.device.find('@');
    if (at != std::string::npos) {
        // Named without a Find: the MAC text as typed, without separators
        // (the device compares it letter case and all).
        t->serial = o.device.substr(0, at);
        for (char c : o.device.substr(at + 1))
            if (c != ':' && c != '-')
                t->mac += c;
        return 0;
    }
    Lookup l;
    l.want = o.device;
    s.Run(RequestKind::Find, "Finding", FoundWanted, &l);
    if (s.failed())
        return kExitTransport;
    const int n = FoundDevices();
    for (int i = 0; i < n; ++i) {
        if (Matches(g_devices[i], o.device)) {
            t->serial = g_devices[i].serial;
            t->mac = g_devices[i].mac;
            return 0;
        }
    }
    std::fprintf(err, "pathlume-cli: No device %s answered.\n", o.device.c_str());
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
    size_t width[std::size(kColumns)];
    for (size_t k = 0; k < std::size(kColumns); ++k) {
        width[k] = std::strlen(kColumns[k].heading);
        for (int i = 0; i < n; ++i)
            width[k] = std::max(width[k], std::strlen(kColumns[k].get(g_devices[i])));
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
        row([&](size_t k) { return std::string(kColumns[k].get(g_devices[i])); });
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
        std::fprintf(out, "%s = %s\n", r.key, r.value);
    }
}

// --- Commands -------------------------------------------------------------

int DoFind(Session& s, const Options& o, FILE* out, FILE* err)
{
    s.Run(RequestKind::Find, "Finding");
    if (s.failed())
        return kExitTransport;
    const int n = FoundDevices();
    PrintDevices(out, o.format, n);
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
        std::fprintf(err, "pathlume-cli: No answer from %s (%s).\n", t->serial.c_str(),
                     t->mac.c_str());
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
        std::fputs(saved.c_str(), out);
        return kExitOk;
    }
    std::ofstream f(o.file, std::ios::binary | std::ios::trunc);
    f << saved;
    f.close();
    if (!f) {
        std::fprintf(err, "pathlume-cli: Cannot write %s.\n", o.file.c_str());
        return kExitUsage;
    }
    return kExitOk;
}

// set and load: the device's configuration with the given keys changed,
// written as the form's OK writes it, then read back and checked.
int DoWrite(Session& s, const Options& o, std::vector<Assignment> changes,
            const std::string& source, FILE* out, FILE* err)
{
    Target t;
    RecordTable reply;
    char text[kCfgTextSize + 1];
    int r = FetchTarget(s, o, &t, &reply, text, err);
    if (r != 0)
        return r;

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
    for (const Assignment& a : changes)
        SetCfgValue(&state, a.key, a.value.c_str());   // checked when parsed
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

    // What would change, in record order.
    int changed = 0;
    for (const ConfigRecord& w : written.rec) {
        if (IsEmptyRecord(&w))
            break;
        RecordTable one{};
        one[0] = w;
        char ignored[64];
        if (VerifyWrite(one, reply, ignored, sizeof ignored) == 0)
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
        std::fprintf(out, "%s: %s -> %s\n", w.key, before, after);
        ++changed;
    }
    if (changed == 0) {
        std::fprintf(out, "Nothing to change.\n");
        return kExitOk;
    }
    if (o.dryRun) {
        std::fprintf(out, "Dry run: nothing written.\n");
        return kExitOk;
    }

    SetTargetMac(t.mac.c_str());
    SetTargetSerial(t.serial.c_str());
    StartRequest(RequestKind::SetConfig, table);
    if (!s.Sent())
        return kExitTransport;
    SleepMs(30);
    RecordTable reread;
    if (!Fetch(s, t, &reread, text, "Checking")) {
        if (s.failed())
            return kExitTransport;
        std::fprintf(out, "%s\n", kCfgNoAnswer);
        return kExitNotVerified;
    }
    char line[256];
    const int differ = VerifyWrite(written, reread, line, sizeof line);
    std::fprintf(out, "%s\n", line);
    return differ == 0 ? kExitOk : kExitNotVerified;
}

bool ReadFile(const std::string& name, std::string* text)
{
    std::ifstream f(name, std::ios::binary);
    if (!f)
        return false;
    std::stringstream ss;
    ss << f.rdbuf();
    *text = ss.str();
    return true;
}

}  // namespace

std::string JsonString(const std::string& bytes)
{
    std::string s = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            s += '\\';
            s += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            // Protocol text is single-byte: anything beyond ASCII is Latin-1.
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            s += esc;
        } else {
            s += static_cast<char>(c);
        }
    }
    return s + "\"";
}

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string s = "\"";
    for (char c : text)
        s += c == '"' ? std::string("\"\"") : std::string(1, c);
    return s + "\"";
}

int ParseAssignment(const std::string& text, Assignment* out, std::string* error)
{
    const auto eq = text.find('=');
    if (eq == std::string::npos) {
        *error = "expected KEY=VALUE, got \"" + text + "\"";
        return kExitUsage;
    }
    const std::string name = Upper(Trim(text.substr(0, eq)));
    const std::string value = Trim(text.substr(eq + 1));
    const KeyInfo* k = FindKey(name.c_str());
    const int key = k ? static_cast<int>(k - KeyTable) : -1;
    const CfgField* field = nullptr;
    for (const CfgField& f : kCfgWritable)
        if (f.key == key)
            field = &f;
    if (!field) {
        *error = (k ? name + " cannot be changed" : "unknown key \"" + name + "\"") +
                 "; writable keys: " + WritableKeyList();
        return kExitUsage;
    }
    CfgFormState scratch{};
    const int check = SetCfgValue(&scratch, key, value.c_str());
    if (check != CFG_OK) {
        char msg[256];
        FormatCfgMessage(msg, sizeof msg, check, *field);
        *error = name + ": " + msg;
        return kExitUsage;
    }
    out->key = key;
    out->value = value;
    return 0;
}

const char kSaveHeader[] = "# pathlume-cli save of ";

int ParseSettingsText(const std::string& text, const std::string& name,
                      std::vector<Assignment>* out, std::string* error, std::string* source)
{
    std::istringstream in(text);
    std::string line;
    int n = 0;
    out->clear();
    if (source)
        source->clear();
    while (std::getline(in, line)) {
        ++n;
        const std::string t = Trim(line);
        if (n == 1 && source && t.rfind(kSaveHeader, 0) == 0) {
            // "# pathlume-cli save of SERIAL (MAC)"
            const std::string rest = t.substr(std::strlen(kSaveHeader));
            *source = rest.substr(0, rest.rfind(" ("));
        }
        if (t.empty() || t[0] == '#')
            continue;
        Assignment a;
        std::string why;
        if (ParseAssignment(t, &a, &why) != 0) {
            *error = name + ":" + std::to_string(n) + ": " + why;
            return kExitUsage;
        }
        out->push_back(a);
    }
    return 0;
}

std::string SettingsTextOf(const char* configText, const char* mac, const char* serial)
{
    RecordTable t;
    ClearRecordTable(&t);
    ParseConfigTextInto(&t, configText, nullptr, nullptr);
    CfgFormState state;
    CfgFormFromRecords(t, mac, &state);
    std::string s = std::string(kSaveHeader) + serial + " (" + mac + ")\n";
    for (const CfgField& f : kCfgWritable) {
        const char* key = KeyTable[f.key].key;
        if (!(state.reported & CfgKeyBit(f.key))) {
            // Nothing to restore: load must not invent a value for it.
            s += std::string("# ") + key +
                 (f.kind == CfgKind::Choice ? " has no valid code on the device\n"
                                            : " was not reported by the device\n");
            continue;
        }
        char v[kValueSize + 8];
        if (f.key == KEY_PRNT_PORT || f.key == KEY_PRNT_RCV_TMO) {
            uint32_t number = 0;
            ParseCfgNumber(f.key == KEY_PRNT_PORT ? state.prntPort : state.prntRcvTmo, &number);
            std::snprintf(v, sizeof v, "%u", number);
        } else {
            CfgValueText(state.values, f.key, v, sizeof v);
        }
        s += std::string(key) + " = " + v + "\n";
    }
    return s;
}

int ParseArgs(int argc, const char* const* argv, Options* o, std::string* error)
{
    *o = Options{};
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string* v) {
            if (i + 1 >= argc) {
                *error = a + " needs a value";
                return false;
            }
            *v = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h") {
            o->command = Command::Help;
            return 0;
        } else if (a == "--version") {
            o->command = Command::Version;
            return 0;
        } else if (a == "--timeout") {
            if (!value(&v))
                return kExitUsage;
            char* end = nullptr;
            const long t = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || t < 0 || t > kMaxTimeout) {
                *error = "--timeout takes whole seconds from 0 to 120";
                return kExitUsage;
            }
            o->timeout = static_cast<int>(t);
        } else if (a == "--format") {
            if (!value(&v))
                return kExitUsage;
            if (v == "table") o->format = Format::Table;
            else if (v == "json") o->format = Format::Json;
            else if (v == "csv") o->format = Format::Csv;
            else if (v == "text") o->format = Format::Text;
            else {
                *error = "unknown format \"" + v + "\"";
                return kExitUsage;
            }
        } else if (a == "--dry-run") {
            o->dryRun = true;
        } else if (a == "--with-identity") {
            o->withIdentity = true;
        } else if (a == "--interface") {
            if (!value(&o->interfaceName))
                return kExitUsage;
        } else if (a == "--send-to" || a == "--listen") {
            if (!value(&v))
                return kExitUsage;
            std::string addr;
            uint16_t port = 0;
            if (!ParseEndpoint(v, &addr, &port)) {
                *error = a + " takes ADDR:PORT";
                return kExitUsage;
            }
            (a == "--send-to" ? o->sendTo : o->listen) = v;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            *error = "unknown option " + a;
            return kExitUsage;
        } else {
            words.push_back(a);
        }
    }
    if (words.empty()) {
        *error = "no command";
        return kExitUsage;
    }
    static const std::pair<const char*, Command> kCommands[] = {
        {"find", Command::Find}, {"get", Command::Get},   {"set", Command::Set},
        {"save", Command::Save}, {"load", Command::Load},
    };
    for (const auto& [name, c] : kCommands)
        if (words[0] == name)
            o->command = c;
    if (o->command == Command::None) {
        *error = "unknown command \"" + words[0] + "\"";
        return kExitUsage;
    }
    const size_t args = words.size() - 1;
    auto arity = [&](bool ok, const char* usage) {
        if (!ok)
            *error = std::string("usage: pathlume-cli ") + usage;
        return ok;
    };
    switch (o->command) {
    case Command::Find:
        if (!arity(args == 0, "find [--timeout S] [--format table|json|csv]"))
            return kExitUsage;
        break;
    case Command::Get:
        if (!arity(args == 1, "get DEVICE [--format text|json]"))
            return kExitUsage;
        break;
    case Command::Set:
        if (!arity(args >= 2, "set DEVICE KEY=VALUE... [--dry-run]"))
            return kExitUsage;
        for (size_t i = 2; i < words.size(); ++i) {
            Assignment a;
            if (ParseAssignment(words[i], &a, error) != 0) {
                o->badValue = true;
                return kExitUsage;
            }
            o->assignments.push_back(a);
        }
        break;
    case Command::Save:
    case Command::Load:
        if (!arity(args == 2, o->command == Command::Save ? "save DEVICE FILE"
                                                           : "load DEVICE FILE [--dry-run] [--with-identity]"))
            return kExitUsage;
        o->file = words[2];
        break;
    default:
        break;
    }
    if (args >= 1) {
        o->device = words[1];
        const auto at = o->device.find('@');
        if (o->device.empty() || at == 0 || (at != std::string::npos && at + 1 == o->device.size())) {
            *error = "DEVICE is a serial number, a MAC address or SERIAL@MAC";
            return kExitUsage;
        }
    }
    const bool listFormat = o->format == Format::Table || o->format == Format::Csv;
    if ((o->format != Format::Default && o->command != Command::Find && o->command != Command::Get) ||
        (o->command == Command::Find && o->format == Format::Text) ||
        (o->command == Command::Get && listFormat)) {
        *error = "this --format does not apply to " + words[0];
        return kExitUsage;
    }
    if (o->dryRun && o->command != Command::Set && o->command != Command::Load) {
        *error = "--dry-run applies to set and load only";
        return kExitUsage;
    }
    if (o->withIdentity && o->command != Command::Load) {
        *error = "--with-identity applies to load only";
        return kExitUsage;
    }
    if (o->format == Format::Default)
        o->format = o->command == Command::Find ? Format::Table : Format::Text;
    return 0;
}

int Main(int argc, const char* const* argv, FILE* out, FILE* err)
{
    Options o;
    std::string error;
    if (ParseArgs(argc, argv, &o, &error) != 0) {
        std::fprintf(err, "pathlume-cli: %s%s\n", error.c_str(), o.badValue ? "" : " (see --help)");
        return kExitUsage;
    }
    if (o.command == Command::Help) {
        std::fputs(kUsage, out);
        return kExitOk;
    }
    if (o.command == Command::Version) {
        std::fprintf(out, "pathlume-cli %s\n", PATHLUME_VERSION);
        return kExitOk;
    }
    std::vector<Assignment> changes = o.assignments;
    std::string source;   // the device a load file was saved from
    if (o.command == Command::Load) {
        std::string text;
        if (!ReadFile(o.file, &text)) {
            std::fprintf(err, "pathlume-cli: Cannot read %s.\n", o.file.c_str());
            return kExitUsage;
        }
        if (ParseSettingsText(text, o.file, &changes, &error, &source) != 0) {
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
    case Command::Load: return DoWrite(s, o, changes, source, out, err);
    default: return kExitUsage;
    }
}

}  // namespace cli
