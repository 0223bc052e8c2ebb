// The field table and the form's side of the rules: checks, the fill from
// records, the setters and the value texts. The written table and its check
// against a re-read are in cfgwrite.cpp.
#include "cfgrules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

const char* const kLineSpeedItems[kLineSpeedCount] = {
    "Auto-detect", "10BaseT Half duplex", "10BaseT Full duplex", "100BaseTX Half duplex",
    "100BaseTX Full duplex"};
const char* const kDhcpItems[kDhcpCount] = {"Disable", "Enable"};

// Every rule of a field is here and nowhere else. A new record key of the
// form is one more line (and its place in CfgValues and the form).
constexpr CfgField kCfgFields[kCfgFieldCount] = {
    {.key = KEY_DEV, .kind = CfgKind::Text, .max = 16, .label = "Device name",
     .text = &CfgValues::devName},
    {.key = KEY_VER, .kind = CfgKind::Text, .max = 16, .label = "ROM version",
     .text = &CfgValues::romVer},
    {.key = KEY_MAC, .kind = CfgKind::Text, .max = 12, .label = "MAC address",
     .text = &CfgValues::macAddr},
    {.key = KEY_ENET_SPD, .kind = CfgKind::Choice, .max = kLineSpeedCount - 1,
     .label = "Line speed", .writable = true, .choice = &CfgValues::lineSpeed,
     .items = kLineSpeedItems},
    {.key = KEY_DHCP, .kind = CfgKind::Choice, .max = kDhcpCount - 1,
     .label = "IP address from DHCP", .writable = true, .choice = &CfgValues::dhcp,
     .items = kDhcpItems},
    {.key = KEY_IP, .kind = CfgKind::Address, .label = "IP address", .writable = true, .group = 0},
    {.key = KEY_SUBNET_MASK, .kind = CfgKind::Address, .label = "Subnet mask", .writable = true,
     .group = 1},
    {.key = KEY_GATEWAY, .kind = CfgKind::Address, .label = "Gateway IP address",
     .writable = true, .group = 2},
    // Hidden in the form: it goes back as the device reported it.
    {.key = KEY_IP_DFLT, .kind = CfgKind::Address, .label = "IP_DFLT", .group = 3},
    {.key = KEY_PRNT_PORT, .kind = CfgKind::Number, .max = 65535, .label = "PRNT_PORT",
     .writable = true, .number = &CfgValues::prntPort, .box = &CfgFormState::prntPort},
    {.key = KEY_PRNT_RCV_TMO, .kind = CfgKind::Number, .min = 30, .max = 65535,
     .label = "PRNT_RCV_TMO", .writable = true, .number = &CfgValues::prntRcvTmo,
     .box = &CfgFormState::prntRcvTmo},
    {.key = KEY_MANUFACTURER, .kind = CfgKind::Text, .max = 32, .label = "Manufacturer",
     .text = &CfgValues::manufacturer},
    {.key = KEY_HOST_NAME, .kind = CfgKind::FreeText, .max = 32, .label = "Host name",
     .writable = true, .text = &CfgValues::hostName},
    {.key = KEY_SERIAL_NUM, .kind = CfgKind::Text, .max = 16, .label = "Serial number",
     .text = &CfgValues::serialNum},
};

namespace {

constexpr const CfgField* FieldOf(int key)
{
    for (const CfgField& f : kCfgFields)
        if (f.key == key)
            return &f;
    return nullptr;
}

}  // namespace

const CfgField* const kCfgCheckedOrder[kCfgCheckedFields] = {
    FieldOf(KEY_DEV),       FieldOf(KEY_VER),          FieldOf(KEY_MAC),
    FieldOf(KEY_SERIAL_NUM), FieldOf(KEY_MANUFACTURER), FieldOf(KEY_PRNT_PORT),
    FieldOf(KEY_PRNT_RCV_TMO), FieldOf(KEY_HOST_NAME),
};

namespace {

constexpr uint32_t WriteKeys()
{
    uint32_t keys = 0;
    for (const CfgField& f : kCfgFields)
        keys |= CfgKeyBit(f.key);
    return keys;
}

}  // namespace

const uint32_t kCfgWriteKeys = WriteKeys();

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Copies at most size - 1 bytes and always terminates.
void CopyText(char* dst, size_t size, const char* src)
{
    if (size == 0)
        return;
    size_t n = 0;
    if (src)
        for (; n + 1 < size && src[n] != '\0'; ++n)
            dst[n] = src[n];
    std::memset(dst + n, 0, size - n);
}

bool EqualsIgnoringCase(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b) {
        const char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a + 32) : *a;
        const char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b + 32) : *b;
        if (x != y)
            return false;
    }
    return *a == *b;
}

bool IsSpaceOrTab(char c)
{
    return c == ' ' || c == '\t';
}

// Digits of one decimal number at *p, leading zeros allowed; advances *p past
// them. false when there are none or the value passes max.
bool ParseDecimal(const char** p, uint32_t max, uint32_t* out)
{
    const char* s = *p;
    uint64_t v = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        v = v * 10 + static_cast<uint64_t>(*s - '0');
        if (v > max)
            return false;
    }
    if (s == *p)
        return false;
    *p = s;
    *out = static_cast<uint32_t>(v);
    return true;
}

const char* SkipSpaces(const char* p)
{
    while (IsSpaceOrTab(*p))
        ++p;
    return p;
}

uint8_t* GroupOf(CfgValues& v, const CfgField& f)
{
    return v.addr + 4 * f.group;
}

const uint8_t* GroupOf(const CfgValues& v, const CfgField& f)
{
    return v.addr + 4 * f.group;
}

int ChoiceOf(const CfgField& f, const char* text)
{
    const int count = static_cast<int>(f.max) + 1;
    for (int i = 0; i < count; ++i)
        if (EqualsIgnoringCase(text, f.items[i]))
            return i;
    if (text[0] >= '0' && text[0] <= '9' && text[1] == '\0' && text[0] - '0' < count)
        return text[0] - '0';
    return -1;
}

}  // namespace

const CfgField* FindCfgField(int key)
{
    return FieldOf(key);
}

void CfgReverseOctets(const uint8_t from[4], uint8_t to[4])
{
    const uint8_t o[4] = {from[0], from[1], from[2], from[3]};   // from may be to
    for (int i = 0; i < 4; ++i)
        to[i] = o[3 - i];
}

void CfgAddressText(const uint8_t group[4], char* buf, size_t size)
{
    uint8_t o[4];
    CfgReverseOctets(group, o);
    std::snprintf(buf, size, "%d.%d.%d.%d", o[0], o[1], o[2], o[3]);
}

bool IsPrintableAscii(const char* text)
{
    for (const char* p = text; p && *p; ++p)
        if (static_cast<unsigned char>(*p) < 0x20 || static_cast<unsigned char>(*p) > 0x7E)
            return false;
    return true;
}

int CheckCfgText(const char* text, const CfgField& field)
{
    if (field.kind == CfgKind::FreeText && !IsPrintableAscii(text))
        return CFG_NOT_PRINTABLE;
    if (std::strlen(text ? text : "") > field.max)
        return CFG_TOO_LONG;
    return CFG_OK;
}

bool ParseCfgUnsigned(const char* text, uint64_t* out)
{
    // The whole text is read: a number whose digits run past the first
    // kCfgNumberChars characters is never cut to them (it would be another
    // number), it is taken as beyond every range instead.
    size_t i = 0;
    while (text[i] != '\0' && IsBlank(text[i]))
        ++i;
    uint64_t v = 0;
    bool any = false;
    for (; text[i] >= '0' && text[i] <= '9'; ++i) {
        any = true;
        v = v * 10 + static_cast<uint64_t>(text[i] - '0');
        if (v > 0xFFFFFFFFull || i >= kCfgNumberChars)
            v = 0x100000000ull;   // saturate: out of any 32-bit range
    }
    *out = v;
    return any;
}

int CheckCfgNumber(const char* text, const CfgField& field, uint32_t* out)
{
    uint64_t v = 0;
    if (!ParseCfgUnsigned(text ? text : "", &v))
        return CFG_NOT_NUMBER;
    if (v < field.min || v > field.max)
        return CFG_OUT_OF_RANGE;
    *out = static_cast<uint32_t>(v);
    return CFG_OK;
}

bool ParseCfgAddress(const char* text, uint8_t octets[4])
{
    if (!text)
        return false;
    const char* p = SkipSpaces(text);
    uint32_t parts[4];
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && *p++ != '.')
            return false;
        if (!ParseDecimal(&p, 255, &parts[i]))
            return false;
    }
    if (*SkipSpaces(p) != '\0')
        return false;
    for (int i = 0; i < 4; ++i)
        octets[i] = static_cast<uint8_t>(parts[i]);
    return true;
}

bool ParseCfgNumber(const char* text, uint32_t* out)
{
    if (!text)
        return false;
    const char* p = SkipSpaces(text);
    uint32_t v = 0;
    if (!ParseDecimal(&p, 0xFFFFFFFFu, &v) || *SkipSpaces(p) != '\0')
        return false;
    *out = v;
    return true;
}

CfgKind CfgKindOfKey(int key)
{
    if (const CfgField* f = FieldOf(key))
        return f->kind == CfgKind::FreeText ? CfgKind::Text : f->kind;
    // The keys no write carries, compared all the same.
    if (key == KEY_IP_CUR || key == KEY_SNMP_SERVER)
        return CfgKind::Address;
    return key == KEY_SNMP_PORT ? CfgKind::Number : CfgKind::Text;
}

int FormatCfgMessage(char* buf, size_t size, int check, const CfgField& field)
{
    if (!buf || size == 0)
        return 0;
    buf[0] = '\0';
    switch (check) {
    case CFG_OK:
        break;
    case CFG_TOO_LONG:
        std::snprintf(buf, size, "Enter no more than %u characters.", field.max);
        break;
    case CFG_NOT_NUMBER:
        std::snprintf(buf, size, "Enter a positive integer.");
        break;
    case CFG_OUT_OF_RANGE:
        std::snprintf(buf, size, "Enter an integer between %u and %u.", field.min, field.max);
        break;
    case CFG_NOT_PRINTABLE:
        std::snprintf(buf, size,
                      "Enter only printable ASCII characters (letters, digits, punctuation, "
                      "space) in %s.",
                      field.label);
        break;
    case CFG_NOT_WRITABLE:
        std::snprintf(buf, size, "%s cannot be changed.", field.label);
        break;
    case CFG_BAD_ADDRESS:
        std::snprintf(buf, size,
                      "Enter an IPv4 address as four numbers from 0 to 255 separated by dots.");
        break;
    case CFG_BAD_CHOICE: {
        const char* const* items = field.items;
        const int count = items ? static_cast<int>(field.max) + 1 : 0;
        size_t n = 0;
        auto add = [&](int written) {
            if (written > 0)
                n = std::min(size - 1, n + static_cast<size_t>(written));
        };
        add(std::snprintf(buf, size, "Choose one of %s: ", field.label));
        for (int i = 0; i < count; ++i)
            add(std::snprintf(buf + n, size - n, "%d (%s)%s", i, items[i],
                              i + 1 < count ? ", " : "."));
        break;
    }
    default:
        std::snprintf(buf, size, "Invalid value in %s.", field.label);
        break;
    }
    return static_cast<int>(std::strlen(buf));
}

bool CfgValueReadable(const CfgField& f, const char* text)
{
    if (!text)
        return false;
    uint32_t n = 0;
    uint8_t o[4];
    switch (f.kind) {
    case CfgKind::Text:
    case CfgKind::FreeText: return text[0] != '\0';
    case CfgKind::Choice: return ParseCfgNumber(text, &n) && n <= f.max;
    case CfgKind::Number: return ParseCfgNumber(text, &n) && n >= f.min && n <= f.max;
    case CfgKind::Address: return ParseCfgAddress(text, o);
    }
    return false;
}

void CfgFormFromRecords(const RecordTable& table, const char* presetMac, CfgFormState* out)
{
    std::memset(out, 0, sizeof *out);
    CfgValues& v = out->values;
    CopyText(v.macAddr, sizeof v.macAddr, presetMac);
    v.lineSpeed = -1;
    v.dhcp = -1;

    for (const ConfigRecord& r : table.rec) {
        if (IsEmptyRecord(&r) || r.key[0] == '\0')
            break;
        const CfgField* f = FieldOf(KeyIndexOf(r.key));
        if (!f)
            continue;   // IP_CUR and the SNMP keys are not part of the form
        const char* t = r.value;
        // Each kind takes the value when it can be read; one out of its
        // range is treated as unreadable, so that it blocks no write.
        const bool readable = CfgValueReadable(*f, t);
        uint32_t n = 0;
        switch (f->kind) {
        case CfgKind::Text:
        case CfgKind::FreeText:
            CopyText(v.*f->text, kValueSize, t);
            break;
        case CfgKind::Choice:
            v.*f->choice = readable && ParseCfgNumber(t, &n) ? static_cast<int>(n) : -1;
            break;
        case CfgKind::Address: {
            uint8_t o[4] = {0, 0, 0, 0};
            if (readable)
                ParseCfgAddress(t, o);
            CfgReverseOctets(o, GroupOf(v, *f));   // unreadable: blank, as if not reported
            break;
        }
        case CfgKind::Number:
            CopyText(out->*f->box, kValueSize, readable ? t : "");
            break;
        }
        // A later record of the same key decides alone.
        if (readable)
            out->reported |= CfgKeyBit(f->key);
        else
            out->reported &= ~CfgKeyBit(f->key);
    }
    if (v.macAddr[0] != '\0')
        out->reported |= CfgKeyBit(KEY_MAC);   // the preset MAC names the device too
    CopyText(out->deviceHostName, sizeof out->deviceHostName, v.hostName);
}

namespace {

int SetCfgValueOf(CfgFormState* state, int key, const char* text)
{
    const CfgField* f = FieldOf(key);
    if (!f || !f->writable || !state || !text)
        return CFG_NOT_WRITABLE;
    CfgValues& v = state->values;
    switch (f->kind) {
    case CfgKind::Text:   // the read-only texts are never writable
        return CFG_NOT_WRITABLE;
    case CfgKind::FreeText: {
        const int r = CheckCfgText(text, *f);
        if (r != CFG_OK)
            return r;
        CopyText(v.*f->text, kValueSize, text);
        return CFG_OK;
    }
    case CfgKind::Number: {
        // The form's number boxes take digits only.
        for (const char* p = text; *p; ++p)
            if (*p < '0' || *p > '9')
                return CFG_NOT_NUMBER;
        uint32_t n = 0;
        const int r = CheckCfgNumber(text, *f, &n);
        if (r != CFG_OK)
            return r;
        std::snprintf(state->*f->box, kValueSize, "%u", n);
        return CFG_OK;
    }
    case CfgKind::Address: {
        uint8_t o[4];
        if (!ParseCfgAddress(text, o))
            return CFG_BAD_ADDRESS;
        CfgReverseOctets(o, GroupOf(v, *f));
        return CFG_OK;
    }
    case CfgKind::Choice: {
        const int c = ChoiceOf(*f, text);
        if (c < 0)
            return CFG_BAD_CHOICE;
        v.*f->choice = c;
        return CFG_OK;
    }
    }
    return CFG_NOT_WRITABLE;
}

}  // namespace

int SetCfgValue(CfgFormState* state, int key, const char* text)
{
    const int r = SetCfgValueOf(state, key, text);
    if (r == CFG_OK)
        state->entered |= CfgKeyBit(key);
    return r;
}

int SetCfgDeviceHostName(CfgFormState* state, const char* text)
{
    // Taken whole or not at all: cut, it would be a name the device never had.
    if (std::strlen(text ? text : "") > FieldOf(KEY_HOST_NAME)->max)
        return CFG_TOO_LONG;
    CopyText(state->values.hostName, sizeof state->values.hostName, text);
    CopyText(state->deviceHostName, sizeof state->deviceHostName, text);
    state->entered |= CfgKeyBit(KEY_HOST_NAME);
    return CFG_OK;
}

uint32_t CfgOmittedKeys(uint32_t reported, uint32_t entered)
{
    return kCfgWriteKeys & ~(reported | entered);
}

int CheckCfgForm(const CfgFormState& state, CfgValues* out, const CfgField** failed)
{
    CfgValues v = state.values;
    v.omit = CfgOmittedKeys(state.reported, state.entered);
    for (const CfgField* f : kCfgCheckedOrder) {
        int r = CFG_OK;
        switch (f->kind) {
        case CfgKind::Number:
            if (v.omit & CfgKeyBit(f->key))
                continue;   // nothing to write, nothing to check
            r = CheckCfgNumber(state.*f->box, *f, &(v.*f->number));
            break;
        case CfgKind::FreeText: {
            // The device's own text goes back as it is; what is typed is checked.
            const bool typed = std::strcmp(v.*f->text, state.deviceHostName) != 0;
            CfgField length = *f;
            length.kind = CfgKind::Text;
            r = CheckCfgText(v.*f->text, typed ? *f : length);
            break;
        }
        case CfgKind::Text:
            r = CheckCfgText(v.*f->text, *f);
            break;
        case CfgKind::Address:
        case CfgKind::Choice:
            break;   // every value the controls can hold is one
        }
        if (r != CFG_OK) {
            if (failed)
                *failed = f;
            return r;
        }
    }
    if (out)
        *out = v;
    return CFG_OK;
}

void CfgValueText(const CfgValues& v, int key, char* buf, size_t size)
{
    const CfgField* f = FieldOf(key);
    CopyText(buf, size, "");
    if (!f)
        return;
    switch (f->kind) {
    case CfgKind::Text:
    case CfgKind::FreeText: CopyText(buf, size, v.*f->text); break;
    case CfgKind::Choice:
        if (v.*f->choice >= 0)
            std::snprintf(buf, size, "%d", v.*f->choice);
        break;
    case CfgKind::Address: CfgAddressText(GroupOf(v, *f), buf, size); break;
    case CfgKind::Number: std::snprintf(buf, size, "%u", v.*f->number); break;
    }
}
