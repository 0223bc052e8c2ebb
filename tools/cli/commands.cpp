// pathlume-cli's commands: find, get, save, the writes (set, load,
// restore), history, and the run of one command line. The session is in
// session.cpp, the outputs in output.cpp, the command line in args.cpp,
// settings files in settings.cpp and text escapes in text.cpp.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include "protocol.h"
#include "cli.h"
#include "devicewrite.h"
#include "fleet.h"
#include "internal.h"
#include "output.h"
#include "session.h"

namespace cli {

namespace {

int DoFind(Session& s, const Options& o, FILE* out, FILE* err)
{
    s.Run(RequestKind::Find, "Finding");
    if (s.failed())
        return kExitTransport;
    const int n = FoundDevices();
    PrintDevices(out, o.format, g_devices, n);   // after Ctrl-C too: what was found so far
    int from = 0;
    int macs = 0;
    for (int at; (at = NextSharedSerial(g_devices, n, &from, &macs)) >= 0;) {
        char line[160];
        SharedSerialText(line, sizeof line, g_devices[at].serial, macs);
        std::fprintf(err, "pathlume-cli: %s\n", SafeText(line).c_str());
    }
    if (g_interrupted.load() != 0)
        return kExitInterrupted;
    if (n == 0) {
        std::fprintf(err, "pathlume-cli: No device answered.\n");
        return kExitNoDevice;
    }
    return kExitOk;
}

// get shows the device's configuration, save writes it to a settings file.
int DoGetOrSave(Session& s, const Options& o, FILE* out, FILE* err)
{
    Target t;
    RecordTable reply;
    char text[kCfgTextSize + 1];
    const int r = FetchTarget(s, o, &t, &reply, text, err);
    if (r != 0)
        return r;
    if (o.command == Command::Get) {
        PrintConfig(out, o.format, reply);
        return kExitOk;
    }
    const std::string saved = SettingsTextOf(text, t.mac.c_str(), t.serial.c_str());
    if (o.file == "-") {
        std::fputs(saved.c_str(), out);   // checked with everything else written there
        return kExitOk;
    }
    std::string error;
    if (!WriteFileReplacing(o.file, saved, &error)) {
        std::fprintf(err, "pathlume-cli: %s\n", error.c_str());
        return kExitOutput;
    }
    return kExitOk;
}

// What a write command asks of DoWrite beyond its options.
struct WriteRequest {
    std::vector<Assignment> changes;
    SavedFrom source;                          // load: the device the file was saved from
    WriteKind kind = WriteKind::Set;
    const JournalEntry* restoring = nullptr;   // restore: the entry whose before values go back
};

}  // namespace

int SendPlannedWrite(Session& s, const Target& t, const WritePlan& plan, const char* action,
                     WriteDone* done, FILE* err)
{
    *done = WriteDone{};
    WriteCheck check;
    SendCheckedWrite(&check, plan.table, t.mac.c_str(), t.serial.c_str());
    if (!s.Sent())
        return kExitTransport;
    s.Run(RequestKind::GetConfig, "Checking");   // the re-read
    RecordTable reread;
    char line[1024];
    const int differ = FinishWriteCheck(check, &reread, line, sizeof line);
    const bool answered = differ >= 0;
    // Sent is written, whatever the check finds: the journal keeps it.
    JournalEntry entry = PlanJournalEntry(plan, "pathlume-cli", t.serial.c_str(), t.mac.c_str(),
                                          answered ? &reread : nullptr);
    if (action)
        entry.action = action;
    const std::string unrecorded = RecordWrite(entry);
    if (!unrecorded.empty())
        std::fprintf(err, "pathlume-cli: %s\n", PathText(unrecorded).c_str());
    if (s.failed())
        return kExitTransport;
    for (const ConfigRecord& w : plan.table.rec) {
        if (IsEmptyRecord(&w))
            break;
        std::string v(w.value, strnlen(w.value, static_cast<size_t>(w.width)));
        v.erase(v.find_last_not_of(' ') + 1);
        done->keys.push_back({w.key, v, answered && CfgRecordReadBack(w, reread)});
    }
    done->line = line;
    done->outcome = entry.outcome;
    done->restores = entry.restores;
    if (differ == 0)
        return kExitOk;
    if (!answered && g_interrupted.load() != 0)
        return kExitInterrupted;
    return kExitNotVerified;
}

int PlanAndWrite(Session& s, const Options& o, const Target& t, const WritePlanInput& in,
                 FILE* out, FILE* err)
{
    static WritePlan plan;   // large; one write at a time per process
    PlanWrite(in, &plan);
    const int entryNumber = in.restoring ? in.restoring->number : 0;
    if (plan.result == PLAN_WRONG_DEVICE) {
        std::fprintf(err, "pathlume-cli: %s answered as %s (%s); entry %d is a write to %s (%s).\n",
                     SafeText(o.device).c_str(), SafeText(t.serial).c_str(),
                     SafeText(t.mac).c_str(), entryNumber, SafeText(in.restoring->serial).c_str(),
                     SafeText(in.restoring->mac).c_str());
        return kExitUsage;
    }
    char line[1024];
    for (int i = 0; FormatPlanNote(plan, i, line, sizeof line) > 0; ++i)
        std::fprintf(err, "pathlume-cli: %s\n", line);
    if (plan.result == PLAN_BAD_VALUE || plan.result == PLAN_CHANGED ||
        plan.result == PLAN_OVERWRITES) {
        FormatPlanRefusal(plan, line, sizeof line, "--force restores anyway.");
        std::fprintf(err, "pathlume-cli: %s\n", SafeText(line).c_str());
        return plan.result == PLAN_BAD_VALUE ? kExitUsage : kExitNotVerified;
    }

    // What would change, in record order.
    const bool json = o.format == Format::Json;
    std::string jsonChanges;
    for (int i = 0; i < plan.changeCount; ++i) {
        const PlanValues& c = plan.changes[i];
        const char* key = KeyTable[c.key].key;
        if (json)
            jsonChanges += std::string(i ? "," : "") + "\n    {\"key\": " + JsonString(key) +
                           ", \"before\": " + JsonString(c.first) + ", \"after\": " +
                           JsonString(c.second) + "}";
        else
            std::fprintf(out, "%s: %s -> %s\n", key, SafeText(c.first).c_str(),
                         SafeText(c.second).c_str());
    }
    if (plan.result == PLAN_NOTHING || o.dryRun) {
        const bool none = plan.result == PLAN_NOTHING;
        if (json)
            PrintWriteJson(out, t, entryNumber, jsonChanges, none ? "nothing to change" : "dry run", {});
        else
            std::fprintf(out, "%s\n", none ? "Nothing to change." : "Dry run: nothing written.");
        return kExitOk;
    }

    WriteDone done;
    const int sent = SendPlannedWrite(s, t, plan, nullptr, &done, err);
    if (sent == kExitTransport)
        return sent;
    if (json)
        PrintWriteJson(out, t, done.restores, jsonChanges, done.outcome, done.keys);
    if (sent == kExitOk) {
        if (!json && !o.quiet)
            std::fprintf(out, "%s\n", done.line.c_str());
        return kExitOk;
    }
    if (sent == kExitNotVerified)
        std::fprintf(err, "pathlume-cli: %s\n", done.line.c_str());
    return sent;
}

namespace {

// set, load and restore: the device read just before the write, the write
// planned on that read, then sent, read back, checked and journaled.
int DoWrite(Session& s, const Options& o, WriteRequest req, FILE* out, FILE* err)
{
    std::vector<Assignment>& changes = req.changes;
    Target t;
    RecordTable reply;
    char text[kCfgTextSize + 1];
    const int r = FetchTarget(s, o, &t, &reply, text, err);
    if (r != 0)
        return r;

    // A backup of another device would give this one its address and name.
    const BackupOwner owner = KeepIdentity(req.source, t.serial, t.mac, o.withIdentity, &changes, err);

    // The device's own backup may restore its host name whatever its bytes:
    // they came from the device. Any other is held to what a user may type.
    const bool ownBackup = owner == BackupOwner::Own || owner == BackupOwner::OwnBySerial;
    WriteChange asked[kMaxWriteChanges];
    WritePlanInput in;
    in.kind = req.kind;
    in.fresh = &reply;
    in.mac = t.mac.c_str();
    in.serial = t.serial.c_str();
    in.restoring = req.restoring;
    in.force = o.force;
    in.changes = asked;
    for (const Assignment& a : changes) {
        if (in.changeCount == kMaxWriteChanges)
            break;
        asked[in.changeCount++] = {a.key, a.value.c_str(), ownBackup && a.key == KEY_HOST_NAME};
    }
    return PlanAndWrite(s, o, t, in, out, err);
}

// Reads the journal through as a stream, giving each entry to visit (the
// reader tells where it stands; records false: without its before and
// written records); damaged lines are counted on err. 0, or kExitNoDevice
// with the reason told.
int ReadJournalFor(JournalReader* j, std::string* path, FILE* err,
                   const std::function<void(const JournalEntry&)>& visit, bool records = true)
{
    *path = JournalPath();
    if (path->empty()) {
        std::fprintf(err, "pathlume-cli: No journal: %s.\n", kJournalUnplaced);
        return kExitNoDevice;
    }
    std::string reason;
    if (j->Open(*path, &reason)) {
        JournalEntry e;
        while (records ? j->Next(&e) : j->NextListed(&e))
            visit(e);
        reason = j->error();
    }
    if (!reason.empty()) {
        std::fprintf(err, "pathlume-cli: Cannot read %s: %s.\n", PathText(*path).c_str(),
                     reason.c_str());
        return kExitNoDevice;
    }
    const size_t n = j->damaged().size();
    if (n > 0) {
        std::string lines;
        for (size_t i = 0; i < n && i < 10; ++i)
            lines += (i ? ", " : "") + std::to_string(j->damaged()[i]);
        std::fprintf(err, "pathlume-cli: Skipped %zu damaged line%s of %s (line%s %s%s).\n", n,
                     n == 1 ? "" : "s", PathText(*path).c_str(), n == 1 ? "" : "s", lines.c_str(),
                     n > 10 ? ", ..." : "");
    }
    return 0;
}

// Newest first. The journal is read twice, so that however long it is only
// one entry is held at a time: once to find the entries shown (their places
// kept) and the table's widths, then each shown entry again from its place.
int DoHistory(const Options& o, FILE* out, FILE* err)
{
    JournalReader j;
    std::string path;
    std::vector<JournalPlace> shown;
    HistoryTable table;
    const bool json = o.format == Format::Json;
    const int r = ReadJournalFor(&j, &path, err, [&](const JournalEntry& e) {
        if (!o.device.empty() && !JournalEntryNames(e, o.device))
            return;
        shown.push_back(j.place());
        if (!json)
            table.Measure(e);
    }, false);
    if (r != 0)
        return r;
    if (!json && shown.empty()) {
        std::fprintf(err, "pathlume-cli: No write%s%s is recorded in %s.\n",
                     o.device.empty() ? "" : " to ", SafeText(o.device).c_str(),
                     PathText(path).c_str());
        return kExitOk;
    }
    if (json)
        std::fputs("[", out);
    else
        table.PrintHeading(out);
    bool first = true;
    JournalEntry e;
    std::vector<JournalChange> changes;
    for (auto p = shown.rbegin(); p != shown.rend(); ++p) {
        if (!j.ReadAgainChanges(*p, &e, &changes))
            continue;   // rewritten since the first reading, which a journal is not
        if (json)
            PrintHistoryJsonEntry(out, e, changes, first);
        else
            table.PrintEntry(out, e, changes);
        first = false;
    }
    if (json)
        std::fputs(first ? "]\n" : "\n]\n", out);
    return kExitOk;
}

// The entry a restore undoes, read through the journal as a stream. 0, or
// an exit code with the reason told.
int ChooseRestore(const Options& o, JournalEntry* chosen, FILE* err)
{
    JournalReader j;
    std::string path;
    bool found = false;
    const int r = ReadJournalFor(&j, &path, err, [&](const JournalEntry& e) {
        if (o.entry > 0 ? e.number == o.entry : JournalEntryNames(e, o.device)) {
            *chosen = e;   // without --entry, the newest naming the device
            found = true;
        }
    });
    if (r != 0)
        return r;
    if (o.entry > 0) {
        if (!found) {
            const bool damaged =
                std::find(j.damaged().begin(), j.damaged().end(), o.entry) != j.damaged().end();
            std::fprintf(err, damaged ? "pathlume-cli: Entry %d of %s is damaged.\n"
                                      : "pathlume-cli: There is no entry %d in %s.\n",
                         o.entry, PathText(path).c_str());
            return kExitUsage;
        }
        if (!JournalEntryNames(*chosen, o.device)) {
            std::fprintf(err, "pathlume-cli: Entry %d is a write to %s, not to %s.\n", o.entry,
                         DeviceText(*chosen).c_str(), SafeText(o.device).c_str());
            return kExitUsage;
        }
    } else if (!found) {
        std::fprintf(err, "pathlume-cli: No write to %s is recorded in %s.\n",
                     SafeText(o.device).c_str(), PathText(path).c_str());
        return kExitNoDevice;
    }
    return 0;
}

// Flushes what was written to out; false with the reason when any of it
// could not be written.
// A text longer than the stream's buffer is written past it at once: when
// that write fails, the flush at the end has nothing left to write and so no
// reason to give, and the reason is the one kept here.
int g_outputErrno = 0;

void PutText(const char* text, FILE* out)
{
    errno = 0;
    if (std::fputs(text, out) == EOF && g_outputErrno == 0)
        g_outputErrno = errno;
}

bool OutputReached(FILE* out, int* error)
{
    errno = 0;
    const bool flushed = std::fflush(out) == 0;
    *error = errno != 0 ? errno : g_outputErrno != 0 ? g_outputErrno : EIO;
    return flushed && !std::ferror(out);
}

int RunCommand(const Options& o, FILE* out, FILE* err)
{
    if (o.command == Command::Help) {
        PutText(o.helpTopic.empty() ? UsageText() : CommandHelp(o.helpTopic).c_str(), out);
        return kExitOk;
    }
    if (o.command == Command::Version) {
        std::fprintf(out, "pathlume-cli %s\n", PATHLUME_VERSION);
        return kExitOk;
    }
    if (o.command == Command::History)
        return DoHistory(o, out, err);
    if (o.command == Command::Diff)
        return RunDiff(o, out, err);
    if (o.command == Command::Apply)
        return RunApply(o, out, err);
    WriteRequest write;
    std::vector<Assignment>& changes = write.changes;
    changes = o.assignments;
    JournalEntry restored;
    if (o.command == Command::Restore) {
        // The entry is chosen before anything is sent.
        write.kind = WriteKind::Restore;
        const int r = ChooseRestore(o, &restored, err);
        if (r != 0)
            return r;
        write.restoring = &restored;
        if (o.format == Format::Text && !o.quiet)
            std::fprintf(out, "Restoring entry %d of %s (%s %s).\n", write.restoring->number,
                         SafeText(write.restoring->time).c_str(),
                         SafeText(write.restoring->program).c_str(),
                         SafeText(write.restoring->action).c_str());
    }
    if (o.command == Command::Load) {
        write.kind = WriteKind::Load;
        // Checked whole before anything is sent.
        std::string text;
        std::string error;
        if (!ReadSettingsFile(o.file, &text, &error) ||
            ParseSettingsText(text, o.file, &changes, &error, &write.source) != 0) {
            std::fprintf(err, "pathlume-cli: %s\n", error.c_str());
            return kExitUsage;
        }
    }

    Session s(o, err);
    const int r = s.Open();
    if (r != 0)
        return r;
    switch (o.command) {
    case Command::Find: return DoFind(s, o, out, err);
    case Command::Get:
    case Command::Save: return DoGetOrSave(s, o, out, err);
    case Command::Set:
    case Command::Load:
    case Command::Restore: return DoWrite(s, o, std::move(write), out, err);
    default: return kExitUsage;
    }
}

}  // namespace

int Main(int argc, const char* const* argv, FILE* out, FILE* err)
{
    g_interrupted.store(0);
    g_outputErrno = 0;
    Options o;
    std::string error;
    if (ParseArgs(argc, argv, &o, &error) != 0) {
        std::fprintf(err, "pathlume-cli: %s%s\n", error.c_str(), o.badValue ? "" : " (see --help)");
        return kExitUsage;
    }
    const int r = RunCommand(o, out, err);
    // Data that never reached its reader is a failure, whatever came before.
    int why = 0;
    if (!OutputReached(out, &why)) {
        std::fprintf(err, "pathlume-cli: Cannot write standard output: %s.\n", std::strerror(why));
        return r == kExitOk ? kExitOutput : r;
    }
    return r;
}

}  // namespace cli
