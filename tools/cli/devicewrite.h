// One device's write as apply makes it for each of its devices, on the write
// planner as set and load make theirs: the changes worked out from the
// configuration just read, only the changed records written, the write
// check, the journal; and the sending, checking and journaling of a planned
// write, one function for set, load, restore and apply. Not part of the
// program's interface.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "protocol.h"
#include "output.h"
#include "session.h"

namespace cli {

// How a planned write went, once sent, read back, checked and journaled.
struct WriteDone {
    std::string line;              // the write check's line
    std::string outcome;           // the journal's: verified, not taken, no answer
    int restores = 0;              // the journal entry's (a restore's entry number)
    std::vector<KeyOutcome> keys;  // every written record and whether it came back
};

// Sends plan's write to t, reads the device again, checks every written
// value and records the write in the journal (as action; nullptr: the
// plan's kind's). A journal that cannot be written is told on err; nothing
// else is. kExitOk when every value came back, kExitNotVerified (not taken,
// or no answer), kExitInterrupted (no answer after Ctrl-C) or
// kExitTransport (*done then says nothing when the send did not go out).
int SendPlannedWrite(Session& s, const Target& t, const WritePlan& plan, const char* action,
                     WriteDone* done, FILE* err);

// What a write asks beyond its options.
struct WriteRequest {
    std::vector<Assignment> changes;
    SavedFrom source;                          // load: the device the file was saved from
    const char* action = "set";                // as the journal records it
    const JournalEntry* restoring = nullptr;   // restore: the entry whose before values go back
};

// One value a write changes, as the device had it and as it is written.
struct PlannedChange {
    std::string key;
    std::string before;
    std::string after;
};

// How one device's write went.
struct DeviceWrite {
    bool planned = false;                // the changes were worked out (the values passed)
    std::vector<PlannedChange> changes;  // in record order
    std::string outcome;                 // "nothing to change", "dry run", or the journal's
    std::vector<KeyOutcome> keys;        // every written record and whether it came back
    std::string line;                    // the write check's line, once there was one
};

// Writes the request's values (planned as a load's) to the device t, whose
// configuration reply was just read; then reads it again,
// checks it and records the write in the journal. With o.dryRun nothing is
// sent. Returns 0 (verified, or nothing to change, or a dry run), or the
// exit code with its reason told on err: kExitUsage for a value refused
// before anything was sent, kExitNotVerified, kExitTransport, kExitInterrupted.
int WriteDevice(Session& s, const Options& o, const Target& t, const RecordTable& reply,
                WriteRequest req, DeviceWrite* w, FILE* err);

}  // namespace cli
