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

std::string OutcomeText(const JournalEntry& e)
{
    std::string s = SafeText(e.outcome);
    for (size_t i = 0; i < e.notTaken.size(); ++i)
        s += (i ? ", " : ": ") + e.notTaken[i];
    return s;
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

void PrintHistoryJsonEntry(FILE* out, const JournalEntry& e, bool first)
{
    std::string s = std::string(first ? "" : ",") + "\n  {\"entry\": " + std::to_string(e.number) +
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
    std::fputs(s.c_str(), out);
}

namespace {

constexpr const char* kHistoryHeadings[HistoryTable::kColumns] = {
    "Entry", "Time", "Serial Number", "Mac Address", "Program", "Action", "Outcome"};

std::array<std::string, HistoryTable::kColumns> HistoryCells(const JournalEntry& e)
{
    std::string action = SafeText(e.action);
    if (e.restores > 0) {
        action += ' ';
        action += std::to_string(e.restores);
    }
    return {std::to_string(e.number), SafeText(e.time),    SafeText(e.serial), SafeText(e.mac),
            SafeText(e.program),      std::move(action), OutcomeText(e)};
}

}  // namespace

HistoryTable::HistoryTable()
{
    for (size_t k = 0; k < kColumns; ++k)
        width_[k] = std::strlen(kHistoryHeadings[k]);
}

void HistoryTable::Measure(const JournalEntry& e)
{
    const auto row = HistoryCells(e);
    for (size_t k = 0; k < kColumns; ++k)
        width_[k] = std::max(width_[k], row[k].size());
}

void HistoryTable::PrintRow(FILE* out, const std::string* row) const
{
    std::string l;
    for (size_t k = 0; k < kColumns; ++k) {
        std::string c = row[k];
        if (k + 1 < kColumns)
            c.resize(width_[k] + 2, ' ');
        l += c;
    }
    std::fprintf(out, "%s\n", l.c_str());
}

void HistoryTable::PrintHeading(FILE* out) const
{
    std::string row[kColumns];
    for (size_t k = 0; k < kColumns; ++k)
        row[k] = kHistoryHeadings[k];
    PrintRow(out, row);
}

void HistoryTable::PrintEntry(FILE* out, const JournalEntry& e) const
{
    PrintRow(out, HistoryCells(e).data());
    const std::string indent(width_[0] + 2, ' ');
    const std::vector<JournalChange> changes = JournalChanges(e);
    if (changes.empty())
        std::fprintf(out, "%s(nothing changed)\n", indent.c_str());
    for (const JournalChange& c : changes)
        std::fprintf(out, "%s%s: %s -> %s\n", indent.c_str(), SafeText(c.key).c_str(),
                     c.hadBefore ? SafeText(c.before).c_str() : "(none)", SafeText(c.after).c_str());
}

}  // namespace cli
