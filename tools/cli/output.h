// pathlume-cli's outputs: the device list, a configuration, a write's
// outcome and the journal's history, each as a table or text for people and
// as JSON or CSV for scripts. Device text is escaped where a terminal shows
// it and exact in JSON and CSV. Not part of the program's interface.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "protocol.h"
#include "session.h"

namespace cli {

// The devices of a Find, n of them, in the given format (a table by default).
void PrintDevices(FILE* out, Format f, const DeviceEntry* devices, int n);

// A configuration: KEY = value lines, or a JSON object with the device's
// summary and its records.
void PrintConfig(FILE* out, Format f, const RecordTable& t);

// One written record, as the JSON output tells it.
struct KeyOutcome {
    std::string key;
    std::string value;
    bool cameBack;
};

// A write's outcome as JSON: the device, the entry it restores (restores >
// 0), the changes (JSON already), the outcome and every written key.
void PrintWriteJson(FILE* out, const Target& t, int restores, const std::string& changes,
                    const std::string& outcome, const std::vector<KeyOutcome>& keys);

// "SERIAL (MAC)" of a journal entry, escaped.
std::string DeviceText(const JournalEntry& e);

// The journal's history, an entry at a time so that no more than one is
// held, each with what its write changed (JournalChanges of the entry).
// JSON: "[", each entry (first without its comma), then "\n]\n" ("]\n" when
// none was shown).
void PrintHistoryJsonEntry(FILE* out, const JournalEntry& e, const std::vector<JournalChange>& changes,
                           bool first);

// A table of one row per write with its changes on the lines below it: every
// shown entry measured first, then the heading and the entries printed.
class HistoryTable {
public:
    static constexpr size_t kColumns = 7;
    HistoryTable();
    void Measure(const JournalEntry& e);
    void PrintHeading(FILE* out) const;
    void PrintEntry(FILE* out, const JournalEntry& e, const std::vector<JournalChange>& changes) const;

private:
    void Cells(const JournalEntry& e) const;
    void AppendRow(std::string* line) const;
    size_t width_[kColumns];
    mutable std::string cells_[kColumns];   // the row being measured or printed
    mutable std::string text_;              // the entry being printed
};

}  // namespace cli
