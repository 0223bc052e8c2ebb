// pathlume-cli's outputs; see output.h.
#include "output.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "protocol.h"
#include "internal.h"

namespace cli {

namespace {

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

int Origins(const DeviceEntry& d)
{
    return d.originCount < kMaxReplyOrigins ? d.originCount : kMaxReplyOrigins;
}

std::string AddressOf(const ReplyOrigin& o)
{
    char addr[16];
    OriginAddressText(o, addr, sizeof addr);
    return addr;
}

// Where the device's replies came from: each origin's address, port and
// arrival interface.
std::string JsonSources(const DeviceEntry& d)
{
    std::string s = "[";
    for (int i = 0; i < Origins(d); ++i) {
        const ReplyOrigin& o = d.origins[i];
        s += i ? ", " : "";
        s += "{\"address\": " + JsonString(AddressOf(o)) +
             ", \"port\": " + std::to_string(o.port) +
             ", \"interface\": " + JsonString(o.ifName) + "}";
    }
    return s + "]";
}

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
    return s + ", \"sources\": " + JsonSources(d) + "}";
}

// One CSV field per part of the origins, several joined by ';'.
std::string CsvOrigins(const DeviceEntry& d, int part)
{
    std::string s;
    for (int i = 0; i < Origins(d); ++i) {
        const ReplyOrigin& o = d.origins[i];
        s += i ? ";" : "";
        s += part == 0 ? AddressOf(o) : part == 1 ? std::to_string(o.port) : std::string(o.ifName);
    }
    return CsvField(s.c_str());
}

}  // namespace

void PrintDevices(FILE* out, Format f, const DeviceEntry* devices, int n)
{
    if (f == Format::Json) {
        std::fprintf(out, "[");
        for (int i = 0; i < n; ++i)
            std::fprintf(out, "%s\n  %s", i ? "," : "", JsonSummary(devices[i]).c_str());
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
        std::fprintf(out, "%s,source_address,source_port,interface\r\n", line.c_str());
        for (int i = 0; i < n; ++i) {
            line.clear();
            for (size_t k = 0; k < std::size(kColumns); ++k) {
                if (k)
                    line += ',';
                line += CsvField(kColumns[k].get(devices[i]));
            }
            for (int part = 0; part < 3; ++part)
                line += ',' + CsvOrigins(devices[i], part);
            std::fprintf(out, "%s\r\n", line.c_str());
        }
        return;
    }
    // Device text escaped, so that its widths are what the terminal shows.
    // The last column says where each reply came from, and says so when
    // that is not the IP address the device reports.
    constexpr size_t kCells = std::size(kColumns) + 1;
    auto cell = [&](size_t k, int i) {
        if (k < std::size(kColumns))
            return SafeText(kColumns[k].get(devices[i]));
        char text[kMaxReplyOrigins * 48];
        OriginsText(devices[i], text, sizeof text);
        return SafeText(text) + (AnsweredFromAnotherAddress(devices[i]) ? " (not its IP)" : "");
    };
    auto heading = [](size_t k) {
        return std::string(k < std::size(kColumns) ? kColumns[k].heading : "Answered From");
    };
    size_t width[kCells];
    for (size_t k = 0; k < kCells; ++k) {
        width[k] = heading(k).size();
        for (int i = 0; i < n; ++i)
            width[k] = std::max(width[k], cell(k, i).size());
    }
    auto row = [&](auto cell) {
        std::string line;
        for (size_t k = 0; k < kCells; ++k) {
            std::string c = cell(k);
            if (k + 1 < kCells)
                c.resize(width[k] + 2, ' ');
            line += c;
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        std::fprintf(out, "%s\n", line.c_str());
    };
    row(heading);
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

std::string DeviceText(const JournalEntry& e)
{
    return SafeText(e.serial) + " (" + SafeText(e.mac) + ")";
}

namespace {

// SafeText and JsonString of a text appended to *s: most journal texts are
// printable ASCII without a quote or backslash, which both give as they are.
bool Plain(const std::string& t)
{
    bool plain = true;   // every byte looked at, without a branch: the loop is vectorized
    for (const char ch : t) {
        const auto c = static_cast<unsigned char>(ch);
        plain &= c >= 0x20 && c < 0x7F && c != '\\' && c != '"';
    }
    return plain;
}

// The length of SafeText(t).
size_t SafeSize(const std::string& t)
{
    return Plain(t) ? t.size() : SafeText(t).size();
}

size_t Digits(int n)
{
    size_t d = 1;
    for (; n >= 10 || n <= -10; n /= 10)
        ++d;
    return d + (n < 0 ? 1 : 0);
}

void AppendSafe(std::string* s, const std::string& t)
{
    if (Plain(t))
        *s += t;
    else
        *s += SafeText(t);
}

void AppendJson(std::string* s, const std::string& t)
{
    if (Plain(t)) {
        *s += '"';
        *s += t;
        *s += '"';
    } else {
        *s += JsonString(t);
    }
}

}  // namespace

void PrintHistoryJsonEntry(FILE* out, const JournalEntry& e, const std::vector<JournalChange>& changes,
                           bool first)
{
    std::string s = first ? "\n  {\"entry\": " : ",\n  {\"entry\": ";
    s += std::to_string(e.number);
    s += ", \"time\": ";
    AppendJson(&s, e.time);
    s += ", \"program\": ";
    AppendJson(&s, e.program);
    s += ", \"action\": ";
    AppendJson(&s, e.action);
    if (e.restores > 0) {
        s += ", \"restores\": ";
        s += std::to_string(e.restores);
    }
    s += ", \"serial\": ";
    AppendJson(&s, e.serial);
    s += ", \"mac\": ";
    AppendJson(&s, e.mac);
    s += ", \"changes\": [";
    for (size_t c = 0; c < changes.size(); ++c) {
        s += c ? ", {\"key\": " : "{\"key\": ";
        AppendJson(&s, changes[c].key);
        s += ", \"before\": ";
        if (changes[c].hadBefore)
            AppendJson(&s, changes[c].before);
        else
            s += "null";
        s += ", \"after\": ";
        AppendJson(&s, changes[c].after);
        s += '}';
    }
    s += "], \"outcome\": ";
    AppendJson(&s, e.outcome);
    s += ", \"not_taken\": [";
    for (size_t k = 0; k < e.notTaken.size(); ++k) {
        if (k)
            s += ", ";
        AppendJson(&s, e.notTaken[k]);
    }
    s += "]}";
    std::fwrite(s.data(), 1, s.size(), out);
}

namespace {

constexpr const char* kHistoryHeadings[HistoryTable::kColumns] = {
    "Entry", "Time", "Serial Number", "Mac Address", "Program", "Action", "Outcome"};

}  // namespace

void HistoryTable::Cells(const JournalEntry& e) const
{
    for (std::string& c : cells_)
        c.clear();
    cells_[0] = std::to_string(e.number);
    AppendSafe(&cells_[1], e.time);
    AppendSafe(&cells_[2], e.serial);
    AppendSafe(&cells_[3], e.mac);
    AppendSafe(&cells_[4], e.program);
    AppendSafe(&cells_[5], e.action);
    if (e.restores > 0) {
        cells_[5] += ' ';
        cells_[5] += std::to_string(e.restores);
    }
    AppendSafe(&cells_[6], e.outcome);   // and the keys not taken
    for (size_t i = 0; i < e.notTaken.size(); ++i) {
        cells_[6] += i ? ", " : ": ";
        cells_[6] += e.notTaken[i];
    }
}

HistoryTable::HistoryTable()
{
    for (size_t k = 0; k < kColumns; ++k)
        width_[k] = std::strlen(kHistoryHeadings[k]);
}

void HistoryTable::Measure(const JournalEntry& e)
{
    // The sizes of the cells Cells makes, without making them.
    size_t outcome = SafeSize(e.outcome);
    for (const std::string& k : e.notTaken)
        outcome += 2 + k.size();
    const size_t size[kColumns] = {Digits(e.number),
                                   SafeSize(e.time),
                                   SafeSize(e.serial),
                                   SafeSize(e.mac),
                                   SafeSize(e.program),
                                   SafeSize(e.action) + (e.restores > 0 ? 1 + Digits(e.restores) : 0),
                                   outcome};
    for (size_t k = 0; k < kColumns; ++k)
        width_[k] = std::max(width_[k], size[k]);
}

void HistoryTable::AppendRow(std::string* line) const
{
    for (size_t k = 0; k < kColumns; ++k) {
        const std::string& c = cells_[k];
        if (k + 1 < kColumns) {
            // Every cell was measured, but a cell wider than its column
            // (the journal changed between readings) is cut, not spilled.
            const size_t w = width_[k] + 2;
            line->append(c, 0, std::min(c.size(), w));
            if (c.size() < w)
                line->append(w - c.size(), ' ');
        } else {
            *line += c;
        }
    }
    *line += '\n';
}

void HistoryTable::PrintHeading(FILE* out) const
{
    for (size_t k = 0; k < kColumns; ++k)
        cells_[k] = kHistoryHeadings[k];
    std::string line;
    AppendRow(&line);
    std::fwrite(line.data(), 1, line.size(), out);
}

void HistoryTable::PrintEntry(FILE* out, const JournalEntry& e,
                              const std::vector<JournalChange>& changes) const
{
    Cells(e);
    std::string& s = text_;
    s.clear();
    AppendRow(&s);
    const size_t indent = width_[0] + 2;
    if (changes.empty()) {
        s.append(indent, ' ');
        s += "(nothing changed)\n";
    }
    for (const JournalChange& c : changes) {
        s.append(indent, ' ');
        AppendSafe(&s, c.key);
        s += ": ";
        if (c.hadBefore)
            AppendSafe(&s, c.before);
        else
            s += "(none)";
        s += " -> ";
        AppendSafe(&s, c.after);
        s += '\n';
    }
    std::fwrite(s.data(), 1, s.size(), out);
}

}  // namespace cli
