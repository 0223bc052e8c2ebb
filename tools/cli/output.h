// pathlume-cli's outputs: the device list, a configuration, a write's
// outcome and the journal's history, each as a table or text for people and
// as JSON or CSV for scripts. Device text is escaped where a terminal shows
// it and exact in JSON and CSV. Not part of the program's interface.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "codec.h"
#include "engine.h"
#include "journal.h"
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

// The journal's entries, in the order given: JSON, or one row per write
// with its changes on the lines below it.
void PrintHistoryJson(FILE* out, const std::vector<const JournalEntry*>& shown);
void PrintHistoryTable(FILE* out, const std::vector<const JournalEntry*>& shown);

}  // namespace cli
