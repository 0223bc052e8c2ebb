// The write planner: one path from a fresh read and the values asked for to
// the written table, the change list and the refusals, for every kind of
// write.
#include "writeplan.h"

#include <cstdio>
#include <cstring>

#include "journal.h"
#include "textutil.h"

namespace {

void CopyText(char* dst, size_t size, const char* src)
{
    if (size == 0)
        return;
    const size_t n = src ? strnlen(src, size - 1) : 0;
    std::memcpy(dst, src ? src : "", n);
    dst[n] = '\0';
}

// The value of the last record of a key, without the blanks that pad it;
// false when the table has no such record.
bool ReportedText(const RecordTable& t, const char* key, char (&out)[kValueSize])
{
    const char* found = nullptr;
    for (const ConfigRecord& r : t.rec) {
        if (IsEmptyRecord(&r) || !r.key || r.key[0] == '\0')
            break;
        if (std::strcmp(r.key, key) == 0)
            found = r.value;
    }
    out[0] = '\0';
    if (!found)
        return false;
    size_t n = strnlen(found, kMaxValueWidth);
    while (n > 0 && found[n - 1] == ' ')
        --n;
    std::memcpy(out, found, n);
    out[n] = '\0';
    return true;
}

// Whether every record of the written key in the table holds the written
// value: a key reported twice with two values is a change whichever the
// device goes by. *before gets the first value that differs (or the value).
bool EveryReportedIs(const ConfigRecord& w, const RecordTable& t, char (&before)[kValueSize],
                     bool* had)
{
    *had = false;
    before[0] = '\0';
    bool same = true;
    for (const ConfigRecord& r : t.rec) {
        if (IsEmptyRecord(&r) || !r.key || r.key[0] == '\0')
            break;
        if (std::strcmp(r.key, w.key) != 0)
            continue;
        const bool matches = CfgRecordMatches(w, r.value);
        if (!*had || (same && !matches)) {
            size_t n = strnlen(r.value, kMaxValueWidth);
            while (n > 0 && r.value[n - 1] == ' ')
                --n;
            std::memcpy(before, r.value, n);
            before[n] = '\0';
        }
        *had = true;
        same = same && matches;
    }
    return *had && same;
}

// A field's value in a filled state as the write would carry it, or "" when
// the write leaves it out.
void CarriedText(const CfgFormState& s, const CfgField& f, char* buf, size_t size)
{
    buf[0] = '\0';
    if (!((s.reported | s.entered) & CfgKeyBit(f.key)))
        return;
    if (f.kind == CfgKind::Number) {
        uint32_t n = 0;
        if (ParseCfgNumber(s.*f.box, &n))
            std::snprintf(buf, size, "%u", n);
        return;
    }
    CfgValueText(s.values, f.key, buf, size);
}

// Sets a value that came from the device (a restore's value from before):
// no typing rule applies, only whether it can be read as its field reads it.
bool SetDeviceValue(CfgFormState* s, const CfgField& f, const char* text)
{
    if (!CfgValueReadable(f, text))
        return false;
    CfgValues& v = s->values;
    uint32_t n = 0;
    switch (f.kind) {
    case CfgKind::Text:
        return false;   // read-only: never given back
    case CfgKind::FreeText:
        return SetCfgDeviceHostName(s, text) == CFG_OK;
    case CfgKind::Number:
        ParseCfgNumber(text, &n);
        std::snprintf(s->*f.box, kValueSize, "%u", n);
        break;
    case CfgKind::Choice:
        ParseCfgNumber(text, &n);
        v.*f.choice = static_cast<int>(n);
        break;
    case CfgKind::Address: {
        uint8_t o[4];
        ParseCfgAddress(text, o);
        CfgReverseOctets(o, v.addr + 4 * f.group);
        break;
    }
    }
    s->entered |= CfgKeyBit(f.key);
    return true;
}

int Refuse(WritePlan* p, int key, int check)
{
    p->failedKey = key;
    p->check = check;
    return p->result = PLAN_BAD_VALUE;
}

void AddPair(PlanValues* list, int* count, int key, bool had, const char* first, const char* second)
{
    if (*count >= kCfgFieldCount)
        return;
    PlanValues& pv = list[(*count)++];
    pv.key = key;
    pv.had = had;
    CopyText(pv.first, sizeof pv.first, first);
    CopyText(pv.second, sizeof pv.second, second);
}

// The form: every record the write would carry and the user did not change
// must read now as it did when the form was filled.
void FindConflicts(const WritePlanInput& in, const CfgFormState& now, uint32_t changed, WritePlan* p)
{
    CfgFormState shown;
    CfgFormFromRecords(*in.shown, in.mac, &shown);
    for (const CfgField& f : kCfgFields) {
        if (changed & CfgKeyBit(f.key))
            continue;
        char a[kValueSize + 8], b[kValueSize + 8];
        CarriedText(shown, f, a, sizeof a);
        CarriedText(now, f, b, sizeof b);
        const bool wasCarried = (shown.reported & CfgKeyBit(f.key)) != 0;
        const bool isCarried = (now.reported & CfgKeyBit(f.key)) != 0;
        if (wasCarried == isCarried && std::strcmp(a, b) == 0)
            continue;
        char was[kValueSize], is[kValueSize];
        const char* key = KeyTable[f.key].key;
        const bool had = ReportedText(*in.shown, key, was);
        if (!ReportedText(*in.fresh, key, is))
            CopyText(is, sizeof is, "(none)");
        AddPair(p->conflicts, &p->conflictCount, f.key, had, had ? was : "(none)", is);
    }
}

// A restore: the values from before the entry's write, for the keys it
// changed that a write may give back and that had a value; each checked
// against what the device holds now. false when it must not be written.
bool PlanRestore(const WritePlanInput& in, CfgFormState* state, WritePlan* p)
{
    const JournalEntry& e = *in.restoring;
    p->restores = e.number;
    if (e.serial != in.serial || NormalMac(e.mac) != NormalMac(in.mac ? in.mac : "")) {
        p->result = PLAN_WRONG_DEVICE;
        return false;
    }
    struct Back {
        const CfgField* field;
        const std::string* value;
    };
    Back back[kCfgFieldCount];
    int backCount = 0;
    const std::vector<JournalChange> changed = JournalChanges(e);   // back[] points into it
    for (const JournalChange& c : changed) {
        const int key = KeyIndexOf(c.key.c_str());
        const CfgField* f = FindCfgField(key);
        if (!f || !f->writable) {
            if (key >= 0 && p->readOnlyCount < kKeyCount)
                p->readOnlyKeys[p->readOnlyCount++] = key;
            continue;
        }
        if (!c.hadBefore || !CfgValueReadable(*f, c.before.c_str())) {
            if (p->noValueCount < kCfgFieldCount)
                p->noValueKeys[p->noValueCount++] = key;
            continue;
        }
        // What the entry wrote, compared with the device's value as a
        // re-read is compared.
        ConfigRecord wrote{};
        FillTextRecord(&wrote, KeyTable[key].key, c.after.c_str(), kMaxValueWidth);
        char now[kValueSize];
        const bool has = ReportedText(*in.fresh, KeyTable[key].key, now);
        if (!has || !CfgRecordMatches(wrote, now))
            AddPair(p->conflicts, &p->conflictCount, key, has, has ? now : "(none)", c.after.c_str());
        if (backCount < kCfgFieldCount)
            back[backCount++] = {f, &c.before};
    }
    if (p->conflictCount > 0 && !in.force) {
        p->result = PLAN_OVERWRITES;
        return false;
    }
    for (int i = 0; i < backCount; ++i)
        SetDeviceValue(state, *back[i].field, back[i].value->c_str());
    return true;
}

}  // namespace

int PlanWrite(const WritePlanInput& in, WritePlan* p)
{
    p->result = PLAN_NOTHING;
    p->kind = in.kind;
    p->restores = 0;
    p->changeCount = p->conflictCount = p->noValueCount = p->readOnlyCount = 0;
    p->failedKey = -1;
    p->check = CFG_OK;
    p->records = 0;
    ClearRecordTable(&p->table);
    if (!in.fresh)
        return Refuse(p, -1, CFG_NOT_WRITABLE);
    p->before = *in.fresh;

    CfgFormState state;
    CfgFormFromRecords(*in.fresh, in.mac, &state);

    if (in.kind == WriteKind::Restore) {
        if (!in.restoring)
            return Refuse(p, -1, CFG_NOT_WRITABLE);
        if (!PlanRestore(in, &state, p))
            return p->result;
    } else {
        uint32_t changed = 0;
        for (int i = 0; i < in.changeCount && in.changes; ++i) {
            const WriteChange& c = in.changes[i];
            const CfgField* f = FindCfgField(c.key);
            if (!f || !f->writable || !c.text)
                return Refuse(p, c.key, CFG_NOT_WRITABLE);
            changed |= CfgKeyBit(c.key);
            if (c.key == KEY_HOST_NAME && std::strcmp(c.text, state.deviceHostName) == 0)
                continue;   // the device's own name: nothing to change
            if (c.key == KEY_HOST_NAME && c.fromDevice) {
                const int check = SetCfgDeviceHostName(&state, c.text);
                if (check != CFG_OK)
                    return Refuse(p, c.key, check);
                continue;
            }
            const int check = SetCfgValue(&state, c.key, c.text);
            if (check != CFG_OK)
                return Refuse(p, c.key, check);
        }
        if (in.kind == WriteKind::FormEdit && in.shown) {
            FindConflicts(in, state, changed, p);
            if (p->conflictCount > 0)
                return p->result = PLAN_CHANGED;
        }
    }

    const CfgField* failed = nullptr;
    const int check = CheckCfgForm(state, &p->values, &failed);
    if (check != CFG_OK)
        return Refuse(p, failed ? failed->key : -1, check);
    p->records = BuildWriteTable(&p->table, p->values);

    for (const ConfigRecord& w : p->table.rec) {
        if (IsEmptyRecord(&w))
            break;
        char before[kValueSize];
        bool had = false;
        if (EveryReportedIs(w, *in.fresh, before, &had))
            continue;
        char after[kValueSize + 8];
        CfgValueText(p->values, KeyIndexOf(w.key), after, sizeof after);
        AddPair(p->changes, &p->changeCount, KeyIndexOf(w.key), had, before, after);
    }
    return p->result = p->changeCount > 0 ? PLAN_WRITE : PLAN_NOTHING;
}

int FormatPlanRefusal(const WritePlan& p, char* buf, size_t size, const char* forceHint)
{
    if (!buf || size == 0)
        return 0;
    buf[0] = '\0';
    size_t n = 0;
    auto put = [&](const char* s) {
        for (; *s && n + 1 < size; ++s)
            buf[n++] = *s;
        buf[n] = '\0';
    };
    auto key = [](int k) { return k >= 0 && k < kKeyCount ? KeyTable[k].key : "?"; };
    switch (p.result) {
    case PLAN_BAD_VALUE: {
        const CfgField* f = FindCfgField(p.failedKey);
        char msg[256];
        if (f)
            FormatCfgMessage(msg, sizeof msg, p.check, *f);
        else
            CopyText(msg, sizeof msg, "This value cannot be written.");
        put(key(p.failedKey));
        put(": ");
        put(msg);
        break;
    }
    case PLAN_CHANGED:
        put("The device's configuration changed since it was read: ");
        for (int i = 0; i < p.conflictCount; ++i) {
            put(i ? ", " : "");
            put(key(p.conflicts[i].key));
            put(": ");
            put(p.conflicts[i].first);
            put(" -> ");
            put(p.conflicts[i].second);
        }
        put(". Nothing was written.");
        break;
    case PLAN_OVERWRITES: {
        char number[16];
        std::snprintf(number, sizeof number, "%d", p.restores);
        for (int i = 0; i < p.conflictCount; ++i) {
            put(key(p.conflicts[i].key));
            put(" is ");
            put(p.conflicts[i].first);
            put(" now, not ");
            put(p.conflicts[i].second);
            put(" as entry ");
            put(number);
            put(" wrote it. ");
        }
        put("Nothing was restored");
        if (forceHint) {
            put("; ");
            put(forceHint);
        } else {
            put(".");
        }
        break;
    }
    case PLAN_WRONG_DEVICE:
        put("The device is not the one the entry's write went to.");
        break;
    default:
        break;
    }
    return static_cast<int>(n);
}

int FormatPlanNote(const WritePlan& p, int i, char* buf, size_t size)
{
    if (!buf || size == 0)
        return 0;
    buf[0] = '\0';
    if (i >= 0 && i < p.noValueCount)
        std::snprintf(buf, size, "%s had no value before entry %d; left as it is.",
                      KeyTable[p.noValueKeys[i]].key, p.restores);
    else if (i >= p.noValueCount && i < p.noValueCount + p.readOnlyCount)
        std::snprintf(buf, size, "%s cannot be written; left as it is.",
                      KeyTable[p.readOnlyKeys[i - p.noValueCount]].key);
    return static_cast<int>(std::strlen(buf));
}

const char* JournalActionOf(WriteKind kind)
{
    switch (kind) {
    case WriteKind::FormEdit: return kJournalEdit;
    case WriteKind::Set: return kJournalSet;
    case WriteKind::Load: return kJournalLoad;
    case WriteKind::Restore: return kJournalRestore;
    }
    return kJournalSet;
}

JournalEntry PlanJournalEntry(const WritePlan& plan, const char* program, const char* serial,
                              const char* mac, const RecordTable* reread)
{
    JournalEntry e = MakeJournalEntry(program, JournalActionOf(plan.kind), serial, mac, plan.before,
                                      plan.table, reread);
    e.restores = plan.kind == WriteKind::Restore ? plan.restores : 0;
    return e;
}
