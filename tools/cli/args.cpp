// pathlume-cli: the command line, its help texts and the checks of what it
// names (keys and values, devices, endpoints).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

#include "protocol.h"
#include "cli.h"
#include "cliplatform.h"
#include "internal.h"

namespace cli {

namespace {

constexpr int kMaxTimeout = 120;

// Where the journal of writes lives (journal.h), as the two help texts say it.
#ifdef _WIN32
#define JOURNAL_PLACE "%LOCALAPPDATA%\\pathlume\\writes.jsonl"
#define JOURNAL_PLACE_HISTORY JOURNAL_PLACE
#else
#define JOURNAL_PLACE "$XDG_STATE_HOME/pathlume/writes.jsonl (else ~/.local/state/pathlume/writes.jsonl)"
#define JOURNAL_PLACE_HISTORY \
    "$XDG_STATE_HOME/pathlume/writes.jsonl, else ~/.local/state/pathlume/writes.jsonl"
#endif

const char kUsage[] =
    "Usage: pathlume-cli COMMAND [options]\n"
    "Finds print-server network interfaces on UDP port 22093, reads and changes\n"
    "their configuration.\n"
    "\n"
    "Commands:\n"
    "  find [--format table|json|csv]    list every device that answers, by serial number\n"
    "  get DEVICE [--format text|json]   show one device's configuration\n"
    "  set DEVICE KEY=VALUE... [--dry-run] [--format text|json]\n"
    "                                    change values, then read them back and check them\n"
    "  save DEVICE FILE                  write the device's writable values to FILE (- for\n"
    "                                    standard output)\n"
    "  load DEVICE FILE [--dry-run] [--with-identity] [--format text|json]\n"
    "                                    check FILE (- for standard input) whole, then write\n"
    "                                    the values that differ; a file saved from another\n"
    "                                    device keeps this device's IP and HOST_NAME unless\n"
    "                                    --with-identity is given\n"
    "  history [DEVICE] [--format table|json]\n"
    "                                    list the writes recorded in the journal, newest\n"
    "                                    first, with what each changed\n"
    "  restore DEVICE [--entry N] [--force] [--dry-run] [--format text|json]\n"
    "                                    write back the values from before the device's\n"
    "                                    last recorded write (or entry N)\n"
    "  diff DEVICE FILE [--format table|json]\n"
    "  diff FILE FILE [--format table|json]\n"
    "                                    show the keys of FILE whose values differ, compared\n"
    "                                    by value as the write check compares them; exit 3\n"
    "                                    when any differs\n"
    "  apply FILE [--match KEY=PATTERN]... [--all | DEVICE...] [--dry-run]\n"
    "        [--format table|json]       write FILE's values to every device selected, one\n"
    "                                    after another, as set does; a summary at the end\n"
    "  help [COMMAND]                    show this text, or one command's\n"
    "\n"
    "DEVICE is a serial number or a MAC address (found by a Find first), or\n"
    "SERIAL@MAC to name the device without a Find. When two devices answer to the\n"
    "name (a shared serial number or MAC address), nothing is done: name one as\n"
    "SERIAL@MAC. diff takes its first argument for a FILE when it is -, holds a /\n"
    "or names an existing file.\n"
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
    "Options (a value follows its option, or comes after '='; -- ends the options):\n"
    "  --timeout S         the request's timeout, 0 to 120 (default 3): answers are\n"
    "                      collected for S+1 seconds, the protocol's first second included\n"
    "  --format F          output format (see the commands)\n"
    "  --dry-run           read the device and show the changes; write nothing\n"
    "  --with-identity     load, apply: write IP and HOST_NAME even from another\n"
    "                      device's file\n"
    "  --entry N           restore: the journal entry to undo (history shows the numbers)\n"
    "  --force             restore: write back even over values changed since that entry\n"
    "  --match KEY=PATTERN apply: only the devices whose Find field KEY (SERIAL_NUM,\n"
    "                      MAC, DEV, VER, IP_CUR, HOST_NAME) matches the shell-style\n"
    "                      PATTERN (* ? [...]); every --match must hold\n"
    "  --all               apply: every device that answers (and matches)\n"
    "  --quiet             no progress, and no verification line when a write is verified\n"
    "  --interface NAME    send on this network interface only (name or IPv4 address);\n"
    "                      by default requests go out on every broadcast interface\n"
    "  --help, --version\n"
    "\n"
    "Every write (set, load, restore, and the window's) is recorded in the journal\n"
    JOURNAL_PLACE ".\n"
    "\n"
    "Data goes to standard output, messages to standard error. Device text is shown\n"
    "with its control characters and bytes beyond ASCII escaped (\\r, \\n, \\t, \\\\, \\xNN);\n"
    "JSON and CSV give it exactly, in UTF-8 (each byte read as Latin-1).\n"
    "\n"
    "Exit codes:\n"
    "  0  done (and verified, for writes)\n"
    "  1  device not found or no answer; or standard output or a file could not be written\n"
    "  2  usage or validation error, or a DEVICE two devices answer to (nothing written)\n"
    "  3  written but not verified; diff: the values differ\n"
    "  4  transport failure (for example the port is held by another program)\n"
    "  130  interrupted (Ctrl-C); find prints the devices found so far, apply its\n"
    "       summary so far\n"
    "apply exits with the worst of its devices' statuses.\n"
    "\n"
    "For testing only:\n"
    "  --send-to ADDR:PORT   send requests to this address instead of the broadcast\n"
    "  --listen ADDR:PORT    receive replies here instead of 0.0.0.0:22093\n";

struct CommandInfo {
    const char* name;
    Command command;
    const char* usage;
    const char* help;
};

const CommandInfo kCommands[] = {
    {"find", Command::Find, "find [--timeout S] [--format table|json|csv]",
     "Lists every device that answers a Find, sorted by serial number (and MAC address).\n"
     "JSON and CSV use the fields serial, mac, device, rom, ip and host_name.\n"},
    {"get", Command::Get, "get DEVICE [--format text|json]",
     "Shows one device's configuration: KEY = value lines, or JSON with its summary\n"
     "and every record under \"config\".\n"},
    {"set", Command::Set, "set DEVICE KEY=VALUE... [--dry-run] [--quiet] [--format text|json]",
     "Changes values, writes them as the Edit Config form's OK does, reads the device\n"
     "again and checks every written value. The change list goes to standard output;\n"
     "a write that did not take, or was not answered, is told on standard error\n"
     "(exit 3). --format json gives the changes and, per written key, whether it came\n"
     "back.\n"},
    {"save", Command::Save, "save DEVICE FILE",
     "Writes the device's writable values to FILE as KEY = value lines (- for\n"
     "standard output). A value's control characters and bytes beyond ASCII are\n"
     "escaped (\\r, \\n, \\t, \\\\, \\xNN); a key the device did not report is a comment.\n"},
    {"load", Command::Load,
     "load DEVICE FILE [--dry-run] [--with-identity] [--quiet] [--format text|json]",
     "Checks FILE whole (- for standard input; a regular file of at most 64 KiB, every\n"
     "line ended, no NUL byte), then writes the values that differ as set does. '#'\n"
     "starts a comment only at the start of a line; a value is everything after '=',\n"
     "without the blanks around it. A file saved from another device keeps this\n"
     "device's IP and HOST_NAME unless --with-identity is given.\n"},
    {"history", Command::History, "history [DEVICE] [--format table|json]",
     "Lists the writes recorded in the journal, newest first: the entry's number, the\n"
     "time (UTC), the device, the program and action, the outcome of the write check,\n"
     "and each changed key as before -> after. DEVICE keeps that device's writes only.\n"
     "A damaged line is skipped and counted on standard error. The journal is\n"
     JOURNAL_PLACE_HISTORY ".\n"},
    {"restore", Command::Restore,
     "restore DEVICE [--entry N] [--force] [--dry-run] [--quiet] [--format text|json]",
     "Writes back, for every key that a recorded write changed, the value it had\n"
     "before: of the device's newest entry in the journal, or of entry N (the number\n"
     "history shows). The device must be the entry's (serial number and MAC). When\n"
     "a key no longer holds what the entry wrote, nothing is restored (exit 3)\n"
     "unless --force is given. A key that had no value before is left as it is.\n"
     "The write is built, sent, read back and checked as set does, and is recorded\n"
     "in the journal as a restore.\n"},
    {"diff", Command::Diff, "diff DEVICE|FILE FILE [--format table|json]",
     "Compares the values FILE sets (a settings file as load reads it) with the\n"
     "device's, or with another file's, by value as the write check compares them:\n"
     "addresses as four numbers, numbers as numbers, texts without their trailing\n"
     "blanks. Lists each key that differs, and a key missing on the one side; two\n"
     "files are compared key by key both ways. Exit 0 when they agree, 3 when they\n"
     "differ. The first argument is a FILE when it is -, holds a / or names an\n"
     "existing file; else it is a DEVICE.\n"},
    {"apply", Command::Apply,
     "apply FILE [--match KEY=PATTERN]... [--all | DEVICE...] [--dry-run] [--quiet] "
     "[--format table|json]",
     "Checks FILE whole, runs one Find, then writes FILE's values to each device\n"
     "selected, one after another, as set does: a fresh read, only the records that\n"
     "change, the write check and the journal (action \"apply\"). The devices are\n"
     "those named (DEVICE...), or with --all every device that answers; --match\n"
     "KEY=PATTERN keeps those whose Find field KEY (SERIAL_NUM, MAC, DEV, VER, IP_CUR,\n"
     "HOST_NAME) matches the shell-style PATTERN (* any run, ? any one character,\n"
     "[...] one of a set; a MAC is matched as 12 upper-case digits, the pattern's\n"
     "':' and '-' left out); every --match must hold. A file that sets IP or\n"
     "HOST_NAME is refused unless it names exactly one DEVICE. --dry-run prints the\n"
     "plan (device, key, before, after) and writes nothing. Progress goes to standard\n"
     "error; at the end a summary (device, keys changed, outcome: changed, already\n"
     "so, not taken, no answer, refused) goes to standard output. A device's failure\n"
     "does not stop the others; the exit status is the worst device's. Ctrl-C stops\n"
     "before the next device and prints the summary so far (exit 130).\n"},
    {"help", Command::Help, "help [COMMAND]", "Shows the general help, or one command's.\n"},
};

const CommandInfo* FindCommand(const std::string& name)
{
    for (const CommandInfo& c : kCommands)
        if (name == c.name)
            return &c;
    return nullptr;
}

// SERIAL@MAC: a serial number of 1 to 16 printable ASCII characters and a MAC
// address of 12 hexadecimal digits (separators allowed, any case), which is
// sent as the plain form is: upper case, no separators. A MAC holds no '@',
// a serial number may: the name splits at its last '@'.
bool CheckNamedDevice(std::string* device, std::string* error)
{
    const auto at = device->rfind('@');
    if (at == std::string::npos)
        return true;
    const std::string serial = device->substr(0, at);
    const std::string mac = NormalMac(device->substr(at + 1));
    if (serial.empty() || serial.size() > static_cast<size_t>(kSerialChars) || !IsPrintableAscii(serial.c_str())) {
        *error = "SERIAL@MAC: the serial number \"" + SafeText(serial) +
                 "\" is not 1 to 16 printable ASCII characters";
        return false;
    }
    bool hex = mac.size() == static_cast<size_t>(kMacDigits);
    for (char c : mac)
        hex = hex && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
    if (!hex) {
        *error = "SERIAL@MAC: the MAC address \"" + SafeText(device->substr(at + 1)) +
                 "\" is not 12 hexadecimal digits";
        return false;
    }
    *device = serial + "@" + mac;
    return true;
}

// DEVICE as a command names one: SERIAL@MAC checked and its MAC made plain.
bool CheckDeviceWord(std::string* device, std::string* error)
{
    const auto at = device->rfind('@');
    if (device->empty() || at == 0 || (at != std::string::npos && at + 1 == device->size())) {
        *error = "DEVICE is a serial number, a MAC address or SERIAL@MAC";
        return false;
    }
    return CheckNamedDevice(device, error);
}

// diff's first argument is a file when it is -, holds a folder separator or
// names an existing file; else a device.
bool NamesAFile(const std::string& word)
{
    if (word == "-" || word.find('/') != std::string::npos)
        return true;
#ifdef _WIN32
    if (word.find('\\') != std::string::npos)
        return true;
#endif
    // Opened without waiting on whatever has the name; one that is there but
    // is no regular file is a file too, which diff then refuses with its reason.
    std::string why;
    const int handle = OpenRegularFile(word, &why);
    if (handle >= 0)
        CloseRegularFile(handle);
    return handle >= 0 || why == "it is a directory" || why == "not a regular file";
}

// The Find fields a --match may name.
constexpr int kMatchKeys[] = {KEY_SERIAL_NUM, KEY_MAC, KEY_DEV, KEY_VER, KEY_IP_CUR, KEY_HOST_NAME};

}  // namespace

int ParseMatch(const std::string& text, DeviceMatch* out, std::string* error)
{
    const auto eq = text.find('=');
    const std::string name = Upper(TrimBlanks(text.substr(0, eq)));
    const int key = KeyIndexOf(name.c_str());
    if (eq == std::string::npos || std::find(std::begin(kMatchKeys), std::end(kMatchKeys), key) ==
                                       std::end(kMatchKeys)) {
        *error = "--match takes KEY=PATTERN, KEY one of SERIAL_NUM, MAC, DEV, VER, IP_CUR, "
                 "HOST_NAME; got \"" + SafeText(text) + "\"";
        return kExitUsage;
    }
    out->key = key;
    out->pattern = text.substr(eq + 1);
    if (key == KEY_MAC) {
        // Matched against the plain form: 12 upper-case digits, no separators.
        std::string plain;
        for (char c : Upper(out->pattern))
            if (c != ':' && c != '-')
                plain += c;
        out->pattern = plain;
    }
    return 0;
}

const char* UsageText()
{
    return kUsage;
}

std::string CommandHelp(const std::string& name)
{
    const CommandInfo* c = FindCommand(name);
    if (!c)
        return "";
    return std::string("Usage: pathlume-cli ") + c->usage + "\n" + c->help;
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

int ParseAssignment(const std::string& text, Assignment* out, std::string* error,
                    AssignmentFrom from)
{
    const auto eq = text.find('=');
    if (eq == std::string::npos) {
        *error = "expected KEY=VALUE, got \"" + SafeText(text) + "\"";
        return kExitUsage;
    }
    const std::string name = Upper(TrimBlanks(text.substr(0, eq)));
    // A file's value comes without the blanks around it already, and what
    // its escapes give is kept as it is: a backup reads back byte for byte.
    const std::string value =
        from == AssignmentFrom::File ? text.substr(eq + 1) : TrimBlanks(text.substr(eq + 1));
    const int key = KeyIndexOf(name.c_str());
    const CfgField* field = FindCfgField(key);
    if (!field || !field->writable) {
        *error = (key >= 0 ? name + " cannot be changed" : "unknown key \"" + SafeText(name) + "\"") +
                 "; writable keys: " + WritableKeyList();
        return kExitUsage;
    }
    CfgFormState scratch{};
    int check = SetCfgValue(&scratch, key, value.c_str());
    // A file may hold the device's own host name, whatever its bytes; whether
    // it is the device's is known only once the device has answered.
    if (check == CFG_NOT_PRINTABLE && from == AssignmentFrom::File &&
        value.find('\0') == std::string::npos)
        check = value.size() > field->max ? CFG_TOO_LONG : CFG_OK;
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

int ParseArgs(int argc, const char* const* argv, Options* o, std::string* error)
{
    *o = Options{};
    std::vector<std::string> words;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!options || arg.size() < 2 || arg[0] != '-') {
            words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options = false;
            continue;
        }
        // --opt=value or --opt value.
        const auto eq = arg.find('=');
        const std::string a = arg.substr(0, eq);
        const bool inlineValue = eq != std::string::npos && a.rfind("--", 0) == 0;
        std::string v;
        auto value = [&]() {
            if (inlineValue) {
                v = arg.substr(eq + 1);
                return true;
            }
            if (i + 1 >= argc) {
                *error = a + " needs a value";
                return false;
            }
            v = argv[++i];
            return true;
        };
        auto flag = [&](bool* f) {
            if (inlineValue) {
                *error = a + " takes no value";
                return false;
            }
            *f = true;
            return true;
        };
        bool help = false;
        bool version = false;
        bool ok = true;
        if (a == "--help" || a == "-h") {
            ok = flag(&help);
        } else if (a == "--version") {
            ok = flag(&version);
        } else if (a == "--timeout") {
            if (!(ok = value()))
                break;
            // Digits only: no sign (a negative time would end every request at
            // once), no blanks; read whole, so zeros in front are no cut.
            char* end = nullptr;
            const long long t = std::strtoll(v.c_str(), &end, 10);
            if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos ||
                *end != '\0' || t < 0 || t > kMaxTimeout) {
                *error = "--timeout takes whole seconds from 0 to 120";
                return kExitUsage;
            }
            o->timeout = static_cast<int>(t);
        } else if (a == "--format") {
            if (!(ok = value()))
                break;
            if (v == "table") o->format = Format::Table;
            else if (v == "json") o->format = Format::Json;
            else if (v == "csv") o->format = Format::Csv;
            else if (v == "text") o->format = Format::Text;
            else {
                *error = "unknown format \"" + SafeText(v) + "\"";
                return kExitUsage;
            }
        } else if (a == "--dry-run") {
            ok = flag(&o->dryRun);
        } else if (a == "--entry") {
            if (!(ok = value()))
                break;
            char* end = nullptr;
            // long long: a long is 32 bits on Windows, where strtol would
            // cut 99999999999 to the largest entry number instead of refusing it.
            const long long n = std::strtoll(v.c_str(), &end, 10);
            if (v.empty() || v[0] < '0' || v[0] > '9' || *end != '\0' || n < 1 || n > 2147483647LL) {
                *error = "--entry takes the number of a journal entry (1 or more)";
                return kExitUsage;
            }
            o->entry = static_cast<int>(n);
        } else if (a == "--match") {
            if (!(ok = value()))
                break;
            DeviceMatch m;
            if (ParseMatch(v, &m, error) != 0)
                return kExitUsage;
            o->matches.push_back(m);
        } else if (a == "--all") {
            ok = flag(&o->all);
        } else if (a == "--with-identity") {
            ok = flag(&o->withIdentity);
        } else if (a == "--force") {
            ok = flag(&o->force);
        } else if (a == "--quiet") {
            ok = flag(&o->quiet);
        } else if (a == "--interface") {
            if ((ok = value()))
                o->interfaceName = v;
        } else if (a == "--send-to" || a == "--listen") {
            if (!(ok = value()))
                break;
            std::string addr;
            uint16_t port = 0;
            if (!ParseEndpoint(v, &addr, &port)) {
                *error = a + " takes ADDR:PORT";
                return kExitUsage;
            }
            (a == "--send-to" ? o->sendTo : o->listen) = v;
        } else {
            *error = "unknown option " + SafeText(a);
            return kExitUsage;
        }
        if (!ok)
            return kExitUsage;
        if (help || version) {
            o->command = help ? Command::Help : Command::Version;
            return 0;
        }
    }
    if (!error->empty())
        return kExitUsage;
    if (words.empty()) {
        *error = "no command";
        return kExitUsage;
    }
    const CommandInfo* info = FindCommand(words[0]);
    if (!info) {
        *error = "unknown command \"" + SafeText(words[0]) + "\"";
        return kExitUsage;
    }
    o->command = info->command;
    const size_t args = words.size() - 1;
    auto arity = [&](bool ok) {
        if (!ok)
            *error = std::string("usage: pathlume-cli ") + info->usage;
        return ok;
    };
    switch (o->command) {
    case Command::Help:
        if (!arity(args <= 1))
            return kExitUsage;
        if (args == 1) {
            if (!FindCommand(words[1])) {
                *error = "unknown command \"" + SafeText(words[1]) + "\"";
                return kExitUsage;
            }
            o->helpTopic = words[1];
        }
        return 0;
    case Command::Find:
        if (!arity(args == 0))
            return kExitUsage;
        break;
    case Command::Get:
    case Command::Restore:
        if (!arity(args == 1))
            return kExitUsage;
        break;
    case Command::History:
        if (!arity(args <= 1))
            return kExitUsage;
        break;
    case Command::Set:
        if (!arity(args >= 2))
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
        if (!arity(args == 2))
            return kExitUsage;
        o->file = words[2];
        break;
    case Command::Diff:
        if (!arity(args == 2))
            return kExitUsage;
        o->file = words[2];
        if (NamesAFile(words[1]))
            o->leftFile = words[1];
        if (o->leftFile == "-" && o->file == "-") {
            *error = "diff reads standard input for one FILE only";
            return kExitUsage;
        }
        break;
    case Command::Apply:
        if (!arity(args >= 1))
            return kExitUsage;
        o->file = words[1];
        for (size_t i = 2; i < words.size(); ++i) {
            std::string device = words[i];
            if (!CheckDeviceWord(&device, error))
                return kExitUsage;
            o->devices.push_back(device);
        }
        if (o->all && !o->devices.empty()) {
            *error = "apply takes --all or DEVICE..., not both";
            return kExitUsage;
        }
        if (!o->all && o->devices.empty() && o->matches.empty()) {
            *error = "apply needs the devices: DEVICE..., --match KEY=PATTERN or --all";
            return kExitUsage;
        }
        break;
    default:
        break;
    }
    if (args >= 1 && o->command != Command::Apply && o->leftFile.empty()) {
        o->device = words[1];
        if (!CheckDeviceWord(&o->device, error))
            return kExitUsage;
    }
    if ((o->all || !o->matches.empty()) && o->command != Command::Apply) {
        *error = std::string(o->all ? "--all" : "--match") + " applies to apply only";
        return kExitUsage;
    }
    const bool listFormat = o->format == Format::Table || o->format == Format::Csv;
    const bool writes = o->command == Command::Set || o->command == Command::Load ||
                        o->command == Command::Restore;
    const bool history = o->command == Command::History;
    // diff and apply print tables, as history does.
    const bool tabled = history || o->command == Command::Diff || o->command == Command::Apply;
    if ((o->format != Format::Default && o->command != Command::Find &&
         o->command != Command::Get && !writes && !tabled) ||
        (o->command == Command::Find && o->format == Format::Text) ||
        ((o->command == Command::Get || writes) && listFormat) ||
        (tabled && (o->format == Format::Csv || o->format == Format::Text))) {
        *error = "this --format does not apply to " + words[0];
        return kExitUsage;
    }
    if (o->dryRun && !writes && o->command != Command::Apply) {
        *error = "--dry-run applies to set, load, restore and apply only";
        return kExitUsage;
    }
    if (o->entry != 0 && o->command != Command::Restore) {
        *error = "--entry applies to restore only";
        return kExitUsage;
    }
    if (o->force && o->command != Command::Restore) {
        *error = "--force applies to restore only";
        return kExitUsage;
    }
    if (o->withIdentity && o->command != Command::Load && o->command != Command::Apply) {
        *error = "--with-identity applies to load and apply only";
        return kExitUsage;
    }
    if (o->format == Format::Default)
        o->format = o->command == Command::Find || tabled ? Format::Table : Format::Text;
    return 0;
}

}  // namespace cli
