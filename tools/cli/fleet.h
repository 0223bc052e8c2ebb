// pathlume-cli's commands for many devices: diff and apply. Not part of the
// program's interface.
#pragma once

#include <cstdio>

#include "cli.h"

namespace cli {

// apply's entries in the journal.
constexpr char kJournalApply[] = "apply";

// diff DEVICE FILE, diff FILE FILE: kExitOk when the values agree,
// kExitDiffer when they differ, else the exit code with its reason told.
int RunDiff(const Options& o, FILE* out, FILE* err);

// apply FILE: the worst of the devices' exit codes, kExitInterrupted after
// Ctrl-C (with the summary so far), kExitTransport when the transport failed.
int RunApply(const Options& o, FILE* out, FILE* err);

}  // namespace cli
