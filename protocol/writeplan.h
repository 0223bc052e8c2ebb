// The one planner of a configuration write, for the window's form, its
// restore and pathlume-cli's set, load and restore: from the configuration
// read just before the write and the values asked for, it works out the
// records the write carries, what changes (KEY: before -> after), what
// refuses the write and why, and the journal entry that records it. The
// result is plain data in fixed arrays: the planner allocates nothing (the
// journal entry, made after the write, is the journal's own).
#pragma once

#include <cstddef>
#include <cstdint>

#include "cfgrules.h"
#include "records.h"

struct JournalEntry;

// What a write is: the form's OK, pathlume-cli's set or load, or a restore
// of the values a journal entry's write replaced.
enum class WriteKind : uint8_t { FormEdit, Set, Load, Restore };

// One value asked for. The text is read, never copied, so nothing is cut.
struct WriteChange {
    int key = -1;                 // KeyIndex of a field the user may change
    const char* text = nullptr;   // as typed, or as a settings file holds it
    // A host name that came from the device itself (its own backup): it goes
    // back whatever its bytes, only its length is checked.
    bool fromDevice = false;
};

constexpr int kMaxWriteChanges = 64;

struct WritePlanInput {
    WriteKind kind = WriteKind::Set;
    const RecordTable* fresh = nullptr;   // the device's configuration, read just before
    const char* mac = "";                 // the device the write goes to
    const char* serial = "";
    // FormEdit: the configuration the form was filled from. A record the
    // write carries that the user did not change must still read the same.
    const RecordTable* shown = nullptr;
    const WriteChange* changes = nullptr;   // Set, Load, FormEdit
    int changeCount = 0;
    const JournalEntry* restoring = nullptr;   // Restore: the entry whose write is undone
    bool force = false;   // Restore: write over values changed since that entry
};

enum WritePlanResult : int {
    PLAN_WRITE = 0,            // the table holds the write
    PLAN_NOTHING = 1,          // every value is already the device's
    PLAN_BAD_VALUE = -1,       // a value failed its rule (failedKey, check)
    PLAN_CHANGED = -2,         // the form: the device changed since it was read (conflicts)
    PLAN_OVERWRITES = -3,      // a restore: the device no longer holds what the entry wrote
    PLAN_WRONG_DEVICE = -4,    // a restore to another device than the entry's
};

// One key with two of its values: before -> after in the change list, shown
// -> now in a form's conflict, now -> written in a restore's.
struct PlanValues {
    int key = -1;
    bool had = false;             // the first value exists (the record was reported)
    char first[kValueSize] = {};
    char second[kValueSize] = {};
};

struct WritePlan {
    int result = PLAN_NOTHING;
    WriteKind kind = WriteKind::Set;
    int restores = 0;             // a restore: the entry's number
    RecordTable before{};         // the configuration the write is built from
    RecordTable table{};          // the records the write carries
    int records = 0;
    CfgValues values{};
    PlanValues changes[kCfgFieldCount];   // what the write changes, in record order
    int changeCount = 0;
    PlanValues conflicts[kCfgFieldCount];   // PLAN_CHANGED, PLAN_OVERWRITES
    int conflictCount = 0;
    int failedKey = -1;           // PLAN_BAD_VALUE
    int check = CFG_OK;
    int noValueKeys[kCfgFieldCount];   // a restore: keys with no value from before the entry
    int noValueCount = 0;
    int readOnlyKeys[kKeyCount];       // a restore: keys no write may give back
    int readOnlyCount = 0;
};

// Plans one write. Returns plan->result.
int PlanWrite(const WritePlanInput& in, WritePlan* plan);

// The sentence of a refusal, zero-terminated in buf; its length.
//   PLAN_BAD_VALUE:  "HOST_NAME: Enter no more than 32 characters."
//   PLAN_CHANGED:    "The device's configuration changed since it was read:
//                     HOST_NAME: printer-a -> colleague. Nothing was written."
//   PLAN_OVERWRITES: "HOST_NAME is colleague now, not mine as entry 12 wrote
//                     it. Nothing was restored" then "; " and forceHint, or "."
//                     without one.
int FormatPlanRefusal(const WritePlan& plan, char* buf, size_t size, const char* forceHint = nullptr);

// A restore's note on one key it leaves: "PRNT_PORT had no value before entry
// 12; left as it is." for i below noValueCount, then "DEV cannot be written;
// left as it is." for the read-only ones. Its length, 0 past the last.
int FormatPlanNote(const WritePlan& plan, int i, char* buf, size_t size);

// The journal's action for a kind: edit, set, load, restore.
const char* JournalActionOf(WriteKind kind);

// The journal entry of a planned write whose check has ended (reread nullptr:
// the device did not answer the re-read).
JournalEntry PlanJournalEntry(const WritePlan& plan, const char* program, const char* serial,
                              const char* mac, const RecordTable* reread);
