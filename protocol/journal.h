// The journal of configuration writes: one JSON object per line in the
// user's state folder, appended once per write by the window and by
// pathlume-cli after the write check, read back by pathlume-cli's history
// and by both front ends' restore. Nothing here is on the request or
// receive path, so it works with std::string and std::vector.
//
// A line, with stable field names (restores only in a restore's line):
//   {"time": "2024-05-01T09:30:00Z", "program": "pathlume-cli",
//    "action": "set", "restores": 3, "serial": "SN01", "mac": "02C0EE32E400",
//    "before": [{"key": "DEV", "value": "PS-910"}, ...],
//    "written": [{"key": "DEV", "value": "PS-910"}, ...],
//    "outcome": "not taken", "not_taken": ["PRNT_PORT"]}
// Device text is single-byte: every byte beyond ASCII is written as
// \u0080 to \u00ff and read back to that byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cfgrules.h"
#include "records.h"
#include "json.h"

// --- Entries ------------------------------------------------------------

// What one write is recorded with.
extern const char kJournalEdit[];      // "edit": the window's form
extern const char kJournalSet[];       // "set"
extern const char kJournalLoad[];      // "load"
extern const char kJournalRestore[];   // "restore"
extern const char kJournalVerified[];  // "verified"
extern const char kJournalNotTaken[];  // "not taken"
extern const char kJournalNoAnswer[];  // "no answer"

struct JournalRecord {
    std::string key;
    std::string value;   // without the padding of its width
};

struct JournalEntry {
    int number = 0;          // its line in the journal, 1 = the oldest
    std::string time;        // UTC, ISO 8601 with Z
    std::string program;     // "pathlume" or "pathlume-cli"
    std::string action;      // edit, set, load, restore
    int restores = 0;        // a restore: the entry whose before values it wrote back
    std::string serial;
    std::string mac;
    std::vector<JournalRecord> before;    // the configuration read before the write, in order
    std::vector<JournalRecord> written;   // the records the write carried, in order
    std::string outcome;                  // verified, not taken, no answer
    std::vector<std::string> notTaken;    // keys, when not taken
};

// The records of a table up to its first empty one, each value without the
// blanks that pad it to its width.
std::vector<JournalRecord> JournalRecordsOf(const RecordTable& table);

// The outcome of the write check: reread is the configuration read after
// the write, nullptr when the device did not answer.
void SetJournalOutcome(JournalEntry* entry, const RecordTable& written, const RecordTable* reread);

// An entry for a write whose check has ended: the time now, the
// configuration read before it, the records it carried and its outcome
// (reread nullptr: the device did not answer the re-read).
JournalEntry MakeJournalEntry(const char* program, const char* action, const char* serial,
                              const char* mac, const RecordTable& before,
                              const RecordTable& written, const RecordTable* reread);

// The current time as the journal writes it: "2024-05-01T09:30:00Z".
std::string JournalTimeNow();

// One line of the journal, ended by '\n'.
std::string JournalLine(const JournalEntry& entry);

// Reads one line (without its line end). false when it is not JSON, or a
// field is missing or of the wrong kind, or a value cannot be device text
// (longer than its field, a NUL byte, an unknown key).
bool ParseJournalLine(const std::string& line, JournalEntry* out);

// --- The file -----------------------------------------------------------

// $XDG_STATE_HOME/pathlume/writes.jsonl, else
// $HOME/.local/state/pathlume/writes.jsonl (on Windows
// %LOCALAPPDATA%\pathlume\writes.jsonl). A relative XDG_STATE_HOME is
// ignored, as the base directory rules say.
std::string JournalPath();
// Why JournalPath() is "": "neither XDG_STATE_HOME nor HOME is set" (on
// Windows "LOCALAPPDATA is not set").
extern const char kJournalUnplaced[];

// The journal is the user's own file. It is opened only by its name in its
// folder, without following a link at the folder or at the file, only as a
// regular file (a FIFO, a device, a socket is refused, and never waited on),
// and only when the folder and the file are the user's and no other user may
// write them (on Windows, where rights are in access lists, links alone are
// refused). Anything else is refused with a reason such as "it is a symbolic
// link" or "other users may write in its folder".

// Appends one line: the missing folders made with mode 0700, the file
// opened for appending (created with mode 0600) and the whole line given to
// one write. A journal whose last line was cut short gets its line end
// first, so the new record stands on a line of its own. false with the
// system's reason, or the reason of a refusal above, in *reason.
bool AppendJournalLine(const std::string& path, const std::string& line, std::string* reason);

// "Cannot record this write in PATH: REASON."
std::string JournalFailureText(const std::string& path, const std::string& reason);

// Records one write in the journal at JournalPath(). "" when recorded, else
// the sentence of JournalFailureText, for the status log or standard error.
std::string RecordWrite(const JournalEntry& entry);

// Where an entry's line stands in the journal, to read it again.
struct JournalPlace {
    uint64_t offset = 0;
    uint32_t length = 0;
    int number = 0;
};

class JournalFile;
class JournalScan;
struct JournalChange;

// Reads the journal as a stream, one line at a time: memory stays that of
// one entry whatever the journal's length. A missing file (or folder) is an
// empty journal; a damaged line (or one longer than any entry can be) is
// skipped and its number kept; blank lines are skipped.
class JournalReader {
public:
    JournalReader();
    ~JournalReader();
    JournalReader(const JournalReader&) = delete;
    JournalReader& operator=(const JournalReader&) = delete;

    // false with the reason when the journal is there but cannot be read,
    // or is refused as above.
    bool Open(const std::string& path, std::string* reason);
    // The next entry, oldest first, with its number. false at the end, or
    // when the file could not be read on (error() then says why).
    bool Next(JournalEntry* out);
    // As Next, for a listing: every line is read and judged whole all the
    // same, but the entry's before and written records are left empty.
    bool NextListed(JournalEntry* out);
    // Where the entry Next gave last stands.
    const JournalPlace& place() const { return last_; }
    // Reads an entry again from its place. false when it no longer reads as one.
    bool ReadAgain(const JournalPlace& place, JournalEntry* out);
    // As ReadAgain, with what its write changed (JournalChanges) in
    // *changes and its before and written records left empty. Places read
    // newest first are read from one block of the file at a time.
    bool ReadAgainChanges(const JournalPlace& place, JournalEntry* out,
                          std::vector<JournalChange>* changes);

    const std::vector<int>& damaged() const { return damaged_; }
    const std::string& error() const { return error_; }

    static constexpr size_t kReadChunk = 64 * 1024;
    static constexpr size_t kMaxLine = 1024 * 1024;   // far beyond any entry's

private:
    bool Fill();
    bool NextLine(std::string_view* line, bool* tooLong);
    bool NextEntry(JournalEntry* out, bool records);
    bool LineAt(const JournalPlace& place, std::string_view* line);

    std::unique_ptr<JournalFile> file_;
    std::unique_ptr<JournalScan> scan_;
    std::vector<char> buf_;
    size_t pos_ = 0;
    size_t end_ = 0;
    uint64_t base_ = 0;    // the file offset of buf_[0]
    uint64_t start_ = 0;   // the file offset of the line read last
    std::string line_;     // a line that crossed the end of buf_
    std::vector<char> again_;   // a block read again, from againBase_
    uint64_t againBase_ = 0;
    size_t againSize_ = 0;
    int number_ = 0;
    JournalPlace last_;
    std::vector<int> damaged_;
    std::string error_;
};

struct JournalContents {
    std::vector<JournalEntry> entries;   // oldest first, each with its number
    std::vector<int> damaged;            // numbers of the lines skipped as damaged
};

// Reads the whole journal into memory, through a JournalReader (for a
// journal known to be small; history and restore read it as a stream).
// false with the reason when the file cannot be read.
bool ReadJournal(const std::string& path, JournalContents* out, std::string* reason);

// --- What a write changed -----------------------------------------------

struct JournalChange {
    std::string key;
    bool hadBefore = false;   // the configuration before the write held the key
    std::string before;
    std::string after;
};

// The written records whose value differs by value (numbers and addresses)
// or byte for byte (texts) from the value before the write, in written order.
std::vector<JournalChange> JournalChanges(const JournalEntry& entry);

// Whether an entry is a write to the device that a name gives: its serial
// number, its MAC address (with or without ':' or '-', any case), or
// SERIAL@MAC for both.
bool JournalEntryNames(const JournalEntry& entry, const std::string& device);
