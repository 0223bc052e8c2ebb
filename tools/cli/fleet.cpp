// pathlume-cli's commands for many devices: diff, which compares a settings
// file with a device (or with another file) by value, and apply, which writes
// one file to every device selected, each through the write of set.
#include "fleet.h"

#include <algorithm>
#include <cstring>

#include "protocol.h"
#include "devicewrite.h"
#include "internal.h"
#include "output.h"
#include "session.h"

namespace cli {

bool MatchesPattern(const std::string& pattern, const std::string& text)
{
    // Iterative, with one backtrack point: the last '*' seen.
    size_t p = 0;
    size_t t = 0;
    size_t starP = std::string::npos;
    size_t starT = 0;
    // One item of the pattern at p against c: its length in the pattern, or 0
    // when it does not match.
    auto one = [&pattern](size_t at, char c) -> size_t {
        const char first = pattern[at];
        if (first == '?')
            return 1;
        if (first == '\\' && at + 1 < pattern.size())
            return pattern[at + 1] == c ? 2 : 0;
        if (first == '[') {
            size_t i = at + 1;
            const bool negate = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
            if (negate)
                ++i;
            bool hit = false;
            bool closed = false;
            for (bool firstItem = true; i < pattern.size(); firstItem = false) {
                if (pattern[i] == ']' && !firstItem) {
                    closed = true;
                    break;
                }
                const unsigned char lo = static_cast<unsigned char>(pattern[i]);
                unsigned char hi = lo;
                if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
                    hi = static_cast<unsigned char>(pattern[i + 2]);
                    i += 3;
                } else {
                    ++i;
                }
                const auto u = static_cast<unsigned char>(c);
                hit = hit || (u >= lo && u <= hi);
            }
            if (!closed)   // no ']': the '[' stands for itself
                return c == '[' ? 1 : 0;
            return hit != negate ? i + 1 - at : 0;
        }
        return first == c ? 1 : 0;
    };
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starT = t;
            continue;
        }
        const size_t n = p < pattern.size() ? one(p, text[t]) : 0;
        if (n > 0) {
            p += n;
            ++t;
            continue;
        }
        if (starP == std::string::npos)
            return false;
        p = starP;   // the '*' takes one character more
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

namespace {

// A table for people: cells escaped already, two blanks between columns.
void PrintTable(FILE* out, const std::vector<std::string>& headings,
                const std::vector<std::vector<std::string>>& rows)
{
    std::vector<size_t> width;
    for (const std::string& h : headings)
        width.push_back(h.size());
    for (const auto& row : rows)
        for (size_t k = 0; k < row.size() && k < width.size(); ++k)
            width[k] = std::max(width[k], row[k].size());
    auto line = [&](const std::vector<std::string>& row) {
        std::string l;
        for (size_t k = 0; k < row.size(); ++k) {
            std::string c = row[k];
            if (k + 1 < row.size())
                c.resize(width[k] + 2, ' ');
            l += c;
        }
        std::fprintf(out, "%s\n", l.c_str());
    };
    line(headings);
    for (const auto& row : rows)
        line(row);
}

std::string Trimmed(const char* value, size_t width)
{
    std::string v(value, strnlen(value, width));
    return v.erase(v.find_last_not_of(' ') + 1);
}

// The text a write carries for a checked assignment: a choice as its code, a
// number without leading zeros, an address as four plain numbers.
std::string WrittenText(const Assignment& a)
{
    const CfgField* f = FindCfgField(a.key);
    if (!f || a.key == KEY_HOST_NAME)
        return a.value;   // a host name from a file is taken as its bytes
    CfgFormState state{};
    if (SetCfgValue(&state, a.key, a.value.c_str()) != CFG_OK)
        return a.value;
    if (f->kind == CfgKind::Number)
        return state.*f->box;
    char text[kValueSize + 8];
    CfgValueText(state.values, a.key, text, sizeof text);
    return text;
}

// One side of a diff: the values a device reported, or those a file sets.
struct Side {
    std::string name;      // as the table's heading shows it, escaped
    std::string missing;   // what a key it lacks is shown as
    bool isDevice = false;
    Target device;
    std::string file;
    RecordTable table{};             // a file's values as the write carries them
    bool has[kKeyCount] = {};
    std::string shown[kKeyCount];    // each value as the side holds it
};

int ReadFileSide(const std::string& name, Side* side, FILE* err)
{
    std::string text;
    std::string error;
    std::vector<Assignment> values;
    if (!ReadSettingsFile(name, &text, &error) || ParseSettingsText(text, name, &values, &error) != 0) {
        std::fprintf(err, "pathlume-cli: %s\n", error.c_str());
        return kExitUsage;
    }
    side->file = name;
    side->name = PathText(name == "-" ? std::string("standard input") : name);
    side->missing = "(not in the file)";
    ClearRecordTable(&side->table);
    int slot = 0;
    for (const Assignment& a : values) {
        if (a.key < 0 || a.key >= kKeyCount)
            continue;
        side->shown[a.key] = a.value;   // a later line wins, as load takes it
        side->has[a.key] = true;
    }
    for (int key = 0; key < kKeyCount; ++key) {
        if (!side->has[key])
            continue;
        Assignment a{key, side->shown[key]};
        FillTextRecord(&side->table[slot++], KeyTable[key].key, WrittenText(a).c_str(),
                       static_cast<int>(KeyTable[key].width));
    }
    return 0;
}

void DeviceSide(const Target& t, const RecordTable& reply, Side* side)
{
    side->isDevice = true;
    side->device = t;
    side->name = SafeText(t.serial) + " (" + SafeText(t.mac) + ")";
    side->missing = "(not on the device)";
    side->table = reply;
    for (const ConfigRecord& r : reply.rec) {
        if (IsEmptyRecord(&r))
            break;
        const int key = KeyIndexOf(r.key);
        if (key < 0)
            continue;
        side->has[key] = true;
        side->shown[key] = Trimmed(r.value, kMaxValueWidth);
    }
}

// The record a side holds for a key, compared as the write check compares.
ConfigRecord RecordOf(const Side& s, int key)
{
    for (const ConfigRecord& r : s.table.rec) {
        if (IsEmptyRecord(&r))
            break;
        if (std::strcmp(r.key, KeyTable[key].key) == 0)
            return r;
    }
    ConfigRecord none{};
    return none;
}

std::string JsonSide(const Side& s)
{
    if (s.isDevice)
        return "{\"device\": {\"serial\": " + JsonString(s.device.serial) +
               ", \"mac\": " + JsonString(s.device.mac) + "}}";
    return "{\"file\": " + JsonString(s.file == "-" ? "standard input" : s.file) + "}";
}

// The keys whose values differ: each key the right side (a file) sets, and,
// between two files, each key the left one sets too.
int Compare(const Side& left, const Side& right, const Options& o, FILE* out)
{
    struct Row {
        int key;
        bool inLeft;
        bool inRight;
    };
    std::vector<Row> rows;
    int compared = 0;
    for (const CfgField& f : kCfgFields) {
        const int key = f.key;
        const bool l = left.has[key];
        const bool r = right.has[key];
        if (!r && (left.isDevice || !l))
            continue;
        ++compared;
        if (l && r && CfgRecordReadBack(RecordOf(right, key), left.table))
            continue;
        rows.push_back({key, l, r});
    }
    if (o.format == Format::Json) {
        std::string s = "{\n  \"left\": " + JsonSide(left) + ",\n  \"right\": " + JsonSide(right) +
                        ",\n  \"agree\": " + (rows.empty() ? "true" : "false") +
                        ",\n  \"differences\": [";
        for (size_t i = 0; i < rows.size(); ++i) {
            const Row& row = rows[i];
            s += std::string(i ? "," : "") + "\n    {\"key\": " + JsonString(KeyTable[row.key].key) +
                 ", \"left\": " + (row.inLeft ? JsonString(left.shown[row.key]) : "null") +
                 ", \"right\": " + (row.inRight ? JsonString(right.shown[row.key]) : "null") + "}";
        }
        s += std::string(rows.empty() ? "" : "\n  ") + "]\n}\n";
        std::fputs(s.c_str(), out);
    } else if (rows.empty()) {
        std::fprintf(out, "The %d key%s of %s agree.\n", compared, compared == 1 ? "" : "s",
                     right.name.c_str());
    } else {
        std::vector<std::vector<std::string>> cells;
        for (const Row& row : rows)
            cells.push_back({KeyTable[row.key].key,
                             row.inLeft ? SafeText(left.shown[row.key]) : left.missing,
                             row.inRight ? SafeText(right.shown[row.key]) : right.missing});
        PrintTable(out, {"Key", left.name, right.name}, cells);
    }
    return rows.empty() ? kExitOk : kExitDiffer;
}

// ---- apply

bool NamedBy(const DeviceEntry& d, const std::string& name)
{
    const auto at = name.rfind('@');
    if (at != std::string::npos)
        return name.compare(0, at, d.serial) == 0 && at == std::strlen(d.serial) &&
               NormalMac(name.substr(at + 1)) == NormalMac(d.mac);
    return name == d.serial || (d.mac[0] != '\0' && NormalMac(name) == NormalMac(d.mac));
}

const char* FieldOf(const DeviceEntry& d, int key)
{
    switch (key) {
    case KEY_SERIAL_NUM: return d.serial;
    case KEY_MAC: return d.mac;
    case KEY_DEV: return d.dev;
    case KEY_VER: return d.ver;
    case KEY_IP_CUR: return d.ipCur;
    case KEY_HOST_NAME: return d.hostName;
    default: return "";
    }
}

bool Selected(const DeviceEntry& d, const std::vector<DeviceMatch>& matches)
{
    for (const DeviceMatch& m : matches) {
        const std::string field = m.key == KEY_MAC ? NormalMac(d.mac) : FieldOf(d, m.key);
        if (!MatchesPattern(m.pattern, field))
            return false;
    }
    return true;
}

// How one device of an apply went.
struct DeviceRow {
    Target device;
    std::string outcome;   // changed, already so, would change, not taken, no answer, refused
    std::vector<PlannedChange> changes;
    std::vector<std::string> notTaken;
    std::string message;   // why it failed, as told on standard error
    bool written = false;
    int exit = kExitOk;
};

std::string KeysOf(const DeviceRow& row)
{
    std::string keys;
    for (const PlannedChange& c : row.changes)
        keys += (keys.empty() ? "" : ", ") + c.key;
    return keys.empty() ? "-" : keys;
}

std::string OutcomeText(const DeviceRow& row)
{
    std::string s = row.outcome;
    for (size_t i = 0; i < row.notTaken.size(); ++i)
        s += (i ? ", " : ": ") + row.notTaken[i];
    if (row.outcome == kJournalNoAnswer && row.written)
        s += " (written, not verified)";
    return s;
}

void PrintApply(FILE* out, const Options& o, const std::vector<DeviceRow>& rows, bool stopped)
{
    if (o.format == Format::Json) {
        std::string s = std::string("{\n  \"dry_run\": ") + (o.dryRun ? "true" : "false") +
                        ",\n  \"interrupted\": " + (stopped ? "true" : "false") +
                        ",\n  \"devices\": [";
        for (size_t i = 0; i < rows.size(); ++i) {
            const DeviceRow& r = rows[i];
            s += std::string(i ? "," : "") + "\n    {\"serial\": " + JsonString(r.device.serial) +
                 ", \"mac\": " + JsonString(r.device.mac) + ", \"outcome\": " +
                 JsonString(r.outcome) + ", \"written\": " + (r.written ? "true" : "false") +
                 ", \"changes\": [";
            for (size_t c = 0; c < r.changes.size(); ++c)
                s += std::string(c ? ", " : "") + "{\"key\": " + JsonString(r.changes[c].key) +
                     ", \"before\": " + JsonString(r.changes[c].before) +
                     ", \"after\": " + JsonString(r.changes[c].after) + "}";
            s += "], \"not_taken\": [";
            for (size_t k = 0; k < r.notTaken.size(); ++k)
                s += std::string(k ? ", " : "") + JsonString(r.notTaken[k]);
            s += "], \"message\": " + JsonString(r.message) + "}";
        }
        s += std::string(rows.empty() ? "" : "\n  ") + "]\n}\n";
        std::fputs(s.c_str(), out);
        return;
    }
    if (o.dryRun) {
        std::vector<std::vector<std::string>> plan;
        for (const DeviceRow& r : rows)
            for (const PlannedChange& c : r.changes)
                plan.push_back({SafeText(r.device.serial), SafeText(r.device.mac), c.key,
                                SafeText(c.before), SafeText(c.after)});
        if (plan.empty())
            std::fprintf(out, "Nothing to change.\n");
        else
            PrintTable(out, {"Serial Number", "Mac Address", "Key", "Before", "After"}, plan);
        std::fprintf(out, "\n");
    }
    std::vector<std::vector<std::string>> summary;
    for (const DeviceRow& r : rows)
        summary.push_back(
            {SafeText(r.device.serial), SafeText(r.device.mac), KeysOf(r), OutcomeText(r)});
    PrintTable(out, {"Serial Number", "Mac Address", o.dryRun ? "Keys to Change" : "Keys Changed",
                     "Outcome"},
               summary);
}

// What WriteDevice told on its error stream, passed on to err; the last line
// without its prefix in *message.
int WriteAndTell(Session& s, const Options& o, const Target& t, const RecordTable& reply,
                 WriteRequest req, DeviceWrite* w, std::string* message, FILE* err)
{
    FILE* told = std::tmpfile();
    const int r = WriteDevice(s, o, t, reply, std::move(req), w, told ? told : err);
    if (!told)
        return r;
    std::rewind(told);
    char line[1024];
    while (std::fgets(line, sizeof line, told)) {
        std::fputs(line, err);
        std::string m = line;
        if (m.rfind("pathlume-cli: ", 0) == 0)
            m.erase(0, 14);
        *message = m.erase(m.find_last_not_of('\n') + 1);
    }
    std::fclose(told);
    return r;
}

}  // namespace

int WriteDevice(Session& s, const Options& o, const Target& t, const RecordTable& reply,
                WriteRequest req, DeviceWrite* w, FILE* err)
{
    *w = DeviceWrite{};
    std::vector<Assignment>& changes = req.changes;
    // A backup of another device would give this one its address and name.
    const BackupOwner owner = KeepIdentity(req.source, t.serial, t.mac, o.withIdentity, &changes, err);
    if (changes.size() > static_cast<size_t>(kMaxWriteChanges)) {
        std::fprintf(err, "pathlume-cli: More than %d values in one write.\n", kMaxWriteChanges);
        return kExitUsage;
    }
    const bool own = owner == BackupOwner::Own || owner == BackupOwner::OwnBySerial;
    std::vector<WriteChange> asked;
    for (const Assignment& a : changes)
        asked.push_back({a.key, a.value.c_str(), own && a.key == KEY_HOST_NAME});
    WritePlanInput in;
    in.kind = WriteKind::Load;
    in.fresh = &reply;
    in.mac = t.mac.c_str();
    in.serial = t.serial.c_str();
    in.changes = asked.data();
    in.changeCount = static_cast<int>(asked.size());
    static WritePlan plan;   // large; one write at a time
    PlanWrite(in, &plan);
    char line[1024];
    if (plan.result != PLAN_WRITE && plan.result != PLAN_NOTHING) {
        FormatPlanRefusal(plan, line, sizeof line);
        std::fprintf(err, "pathlume-cli: %s\n", SafeText(line).c_str());
        return kExitUsage;
    }
    for (int i = 0; i < plan.changeCount; ++i)
        w->changes.push_back(
            {KeyTable[plan.changes[i].key].key, plan.changes[i].first, plan.changes[i].second});
    w->planned = true;
    if (plan.result == PLAN_NOTHING || o.dryRun) {
        w->outcome = plan.result == PLAN_NOTHING ? "nothing to change" : "dry run";
        return kExitOk;
    }
    WriteDone done;
    const int sent = SendPlannedWrite(s, t, plan, req.action, &done, err);
    if (sent == kExitTransport)
        return sent;
    w->keys = std::move(done.keys);
    w->outcome = done.outcome;
    w->line = done.line;
    return sent;
}

int RunDiff(const Options& o, FILE* out, FILE* err)
{
    Side left;
    Side right;
    int r = ReadFileSide(o.file, &right, err);
    if (r != 0)
        return r;
    if (!o.leftFile.empty()) {
        r = ReadFileSide(o.leftFile, &left, err);
        return r != 0 ? r : Compare(left, right, o, out);
    }
    Session s(o, err);
    r = s.Open();
    if (r != 0)
        return r;
    Target t;
    RecordTable reply;
    char text[kCfgTextSize + 1];
    r = FetchTarget(s, o, &t, &reply, text, err);
    if (r != 0)
        return r;
    DeviceSide(t, reply, &left);
    return Compare(left, right, o, out);
}

int RunApply(const Options& o, FILE* out, FILE* err)
{
    WriteRequest request;
    request.action = kJournalApply;
    {
        std::string text;
        std::string error;
        if (!ReadSettingsFile(o.file, &text, &error) ||
            ParseSettingsText(text, o.file, &request.changes, &error, &request.source) != 0) {
            std::fprintf(err, "pathlume-cli: %s\n", error.c_str());
            return kExitUsage;
        }
    }
    // A device's address and name are its own: never one value for many.
    std::string identity;
    for (const int key : {KEY_IP, KEY_HOST_NAME})
        for (const Assignment& a : request.changes)
            if (a.key == key && identity.find(KeyTable[key].key) == std::string::npos)
                identity += (identity.empty() ? "" : " and ") + std::string(KeyTable[key].key);
    if (!identity.empty() && o.devices.size() != 1) {
        std::fprintf(err, "pathlume-cli: %s sets %s, which are applied to one named DEVICE only, "
                          "never to many devices; nothing was written.\n",
                     PathText(o.file).c_str(), identity.c_str());
        return kExitUsage;
    }

    Session s(o, err);
    int r = s.Open();
    if (r != 0)
        return r;

    // The devices, in the order named (or found), each once.
    std::vector<Target> targets;
    std::vector<DeviceRow> rows;   // those that could not be chosen come first
    auto add = [&targets](const Target& t) {
        for (const Target& have : targets)
            if (have.serial == t.serial && NormalMac(have.mac) == NormalMac(t.mac))
                return;
        targets.push_back(t);
    };
    bool needFind = o.all || !o.matches.empty();
    for (const std::string& d : o.devices)
        needFind = needFind || d.find('@') == std::string::npos;
    if (!needFind) {
        for (const std::string& d : o.devices)
            add({d.substr(0, d.rfind('@')), d.substr(d.rfind('@') + 1)});
    } else {
        s.Run(RequestKind::Find, "Finding");
        if (s.failed())
            return kExitTransport;
        if (g_interrupted.load() != 0) {
            PrintApply(out, o, rows, true);
            return kExitInterrupted;
        }
        const int n = FoundDevices();
        if (o.devices.empty()) {
            for (int i = 0; i < n; ++i)
                if (Selected(g_devices[i], o.matches))
                    add({g_devices[i].serial, g_devices[i].mac});
        }
        for (const std::string& name : o.devices) {
            std::vector<int> hits;
            for (int i = 0; i < n; ++i)
                if (NamedBy(g_devices[i], name))
                    hits.push_back(i);
            DeviceRow row;
            const auto at = name.rfind('@');
            row.device = {name.substr(0, at), at == std::string::npos ? "" : name.substr(at + 1)};
            if (hits.empty()) {
                row.outcome = kJournalNoAnswer;
                row.message = "No device " + name + " answered.";
                row.exit = kExitNoDevice;
            } else if (hits.size() > 1) {
                row.outcome = "refused";
                row.message = std::to_string(hits.size()) + " devices answer to " + name +
                              "; name one as SERIAL@MAC.";
                row.exit = kExitUsage;
            } else if (!Selected(g_devices[hits[0]], o.matches)) {
                std::fprintf(err, "pathlume-cli: %s does not match; left as it is.\n",
                             SafeText(name).c_str());
                continue;
            } else {
                add({g_devices[hits[0]].serial, g_devices[hits[0]].mac});
                continue;
            }
            std::fprintf(err, "pathlume-cli: %s\n", SafeText(row.message).c_str());
            rows.push_back(row);
        }
        if (targets.empty() && rows.empty()) {
            std::fprintf(err, n == 0 ? "pathlume-cli: No device answered.\n"
                                     : "pathlume-cli: No device matches.\n");
            return kExitNoDevice;
        }
    }

    bool stopped = false;
    int fatal = kExitOk;
    for (size_t i = 0; i < targets.size(); ++i) {
        if (g_interrupted.load() != 0) {
            stopped = true;
            break;
        }
        const Target& t = targets[i];
        DeviceRow row;
        row.device = t;
        RecordTable reply;
        char text[kCfgTextSize + 1];
        if (!Fetch(s, t, &reply, text, "Reading")) {
            if (s.failed()) {
                fatal = kExitTransport;
                break;
            }
            if (g_interrupted.load() != 0) {
                stopped = true;
                break;
            }
            row.outcome = kJournalNoAnswer;
            row.message = "No answer from " + t.serial + " (" + t.mac + ").";
            row.exit = kExitNoDevice;
        } else {
            // A write once sent is checked and journaled whole: Ctrl-C waits for it.
            s.HoldInterrupts(true);
            DeviceWrite w;
            r = WriteAndTell(s, o, t, reply, request, &w, &row.message, err);
            s.HoldInterrupts(false);
            if (r == kExitTransport) {
                fatal = r;
                break;
            }
            row.changes = w.changes;
            row.written = !w.keys.empty();
            row.exit = r == kExitInterrupted ? kExitNotVerified : r;
            if (r == kExitUsage) {
                row.outcome = "refused";
            } else if (w.outcome == "nothing to change") {
                row.outcome = "already so";
            } else if (w.outcome == "dry run") {
                row.outcome = "would change";
            } else if (w.outcome == kJournalVerified) {
                row.outcome = "changed";
            } else {
                row.outcome = w.outcome;   // not taken, or no answer to the re-read
                for (const KeyOutcome& k : w.keys)
                    if (!k.cameBack)
                        row.notTaken.push_back(k.key);
                if (w.outcome == kJournalNoAnswer)
                    row.notTaken.clear();
                row.message = w.line;
            }
        }
        if (!o.quiet)
            std::fprintf(err, "pathlume-cli: [%zu/%zu] %s (%s): %s\n", i + 1, targets.size(),
                         SafeText(t.serial).c_str(), SafeText(t.mac).c_str(),
                         (OutcomeText(row) + (row.written    ? " (wrote " + KeysOf(row) + ")"
                                              : o.dryRun && !row.changes.empty()
                                                  ? " (" + KeysOf(row) + ")"
                                                  : ""))
                             .c_str());
        rows.push_back(row);
    }
    PrintApply(out, o, rows, stopped);
    if (stopped)
        return kExitInterrupted;
    if (fatal != kExitOk)
        return fatal;
    int worst = kExitOk;
    for (const DeviceRow& row : rows)
        worst = std::max(worst, row.exit);
    return worst;
}

}  // namespace cli
