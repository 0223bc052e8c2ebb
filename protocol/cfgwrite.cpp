// The write's side of the rules: the records of a written table, built from
// the form's values in the field table's order, and their check against the
// configuration read back after the write.
#include <cstdio>
#include <cstring>

#include "cfgrules.h"

const char kCfgNoAnswer[] = "Configuration not verified: no answer.";

namespace {

// The record value as the parser stored it, or nullptr; the last duplicate wins.
const char* Lookup(const RecordTable& t, const char* key)
{
    const char* found = nullptr;
    for (const ConfigRecord& r : t.rec) {
        if (IsEmptyRecord(&r))
            break;
        if (std::strcmp(r.key, key) == 0)
            found = r.value;
    }
    return found;
}

// Length of a value without its trailing blanks, within its width.
size_t TrimmedLength(const char* v, size_t width)
{
    size_t n = strnlen(v, width);
    while (n > 0 && v[n - 1] == ' ')
        --n;
    return n;
}

// Key and width, the value padded with spaces to the width, no terminator
// inside the width (the rest of the value stays as it was cleared).
void PutValue(ConfigRecord* record, const char* key, const char* text, int width)
{
    if (width < 0)
        width = 0;
    if (width > kMaxValueWidth)
        width = kMaxValueWidth;
    record->key = key;
    record->width = static_cast<int8_t>(width);
    std::memset(record->value, ' ', static_cast<size_t>(width));
    // A text is never copied past the record's width: the value holds 33 bytes.
    const size_t n = strnlen(text, static_cast<size_t>(width));
    std::memcpy(record->value, text, n);
}

}  // namespace

int FillTextRecord(ConfigRecord* record, const char* key, const char* text, int width)
{
    if (!record || !key || !text)
        return 0;
    PutValue(record, key, text, width);
    return 1;
}

int FillNumberRecord(ConfigRecord* record, const char* key, uint32_t value, int width)
{
    if (!record || !key || value > 65535)
        return 0;
    char digits[8];
    std::snprintf(digits, sizeof digits, "%d", static_cast<int>(value));
    PutValue(record, key, digits, width);
    return 1;
}

int FillAddressRecord(ConfigRecord* record, const char* key, const uint8_t* octets, int width)
{
    if (!record || !key || !octets)
        return 0;
    char text[16];
    CfgAddressText(octets, text, sizeof text);
    PutValue(record, key, text, width);
    return 1;
}

int BuildWriteTable(RecordTable* t, const CfgValues& v)
{
    ClearRecordTable(t);
    int slot = 0;
    for (const CfgField& f : kCfgFields) {
        // An omitted key gives no key text, which every filler refuses.
        const char* key = (v.omit & CfgKeyBit(f.key)) ? nullptr : KeyTable[f.key].key;
        const int width = static_cast<int>(KeyTable[f.key].width);
        ConfigRecord* r = &(*t)[slot];
        switch (f.kind) {
        case CfgKind::Text:
        case CfgKind::FreeText: slot += FillTextRecord(r, key, v.*f.text, width); break;
        case CfgKind::Number: slot += FillNumberRecord(r, key, v.*f.number, width); break;
        case CfgKind::Choice:
            slot += FillNumberRecord(r, key, static_cast<uint32_t>(v.*f.choice), width);
            break;
        case CfgKind::Address:
            slot += FillAddressRecord(r, key, v.addr + 4 * f.group, width);
            break;
        }
    }
    ClearRecord(&(*t)[slot]);
    return slot;
}

namespace {

// Whether a re-read value is the written one: by value for numbers and
// addresses, byte for byte without trailing blanks for texts.
bool SameValue(const ConfigRecord& w, const char* got)
{
    if (!got)
        return false;
    char mine[kValueSize];
    const size_t wl = TrimmedLength(w.value, static_cast<size_t>(w.width));
    std::memcpy(mine, w.value, wl);
    mine[wl] = '\0';
    switch (CfgKindOfKey(KeyIndexOf(w.key))) {
    case CfgKind::Address: {
        uint8_t a[4], b[4];
        return ParseCfgAddress(mine, a) && ParseCfgAddress(got, b) && std::memcmp(a, b, 4) == 0;
    }
    case CfgKind::Number:
    case CfgKind::Choice: {
        uint32_t a = 0, b = 0;
        return ParseCfgNumber(mine, &a) && ParseCfgNumber(got, &b) && a == b;
    }
    default:
        return TrimmedLength(got, kMaxValueWidth) == wl && std::memcmp(got, mine, wl) == 0;
    }
}

}  // namespace

bool CfgRecordMatches(const ConfigRecord& written, const char* value)
{
    return SameValue(written, value);
}

bool CfgRecordReadBack(const ConfigRecord& written, const RecordTable& table)
{
    return SameValue(written, Lookup(table, written.key));
}

int VerifyWrite(const RecordTable& written, const RecordTable& reread, char* buf, size_t size)
{
    static const char kTook[] = "Configuration verified.";
    static const char kPrefix[] = "Device did not take: ";
    int differ = 0;
    size_t n = 0;
    auto put = [&](const char* s) {
        for (; *s && n + 1 < size; ++s)
            buf[n++] = *s;
    };
    for (const ConfigRecord& w : written.rec) {
        if (IsEmptyRecord(&w))
            break;
        if (CfgRecordReadBack(w, reread))
            continue;
        put(differ == 0 ? kPrefix : ", ");
        put(w.key);
        ++differ;
    }
    if (size == 0)
        return differ;
    if (differ == 0) {
        n = 0;
        put(kTook);
    } else {
        put(".");
    }
    buf[n] = '\0';
    return differ;
}
