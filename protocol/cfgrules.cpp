#include "cfgrules.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const CfgField kCfgCheckedOrder[kCfgCheckedFields] = {
    {KEY_DEV, CfgKind::Text, 0, 16, "Device name"},
    {KEY_VER, CfgKind::Text, 0, 16, "ROM version"},
    {KEY_MAC, CfgKind::Text, 0, 12, "MAC address"},
    {KEY_SERIAL_NUM, CfgKind::Text, 0, 16, "Serial number"},
    {KEY_MANUFACTURER, CfgKind::Text, 0, 32, "Manufacturer"},
    {KEY_PRNT_PORT, CfgKind::Number, 0, 65535, "PRNT_PORT"},
    {KEY_PRNT_RCV_TMO, CfgKind::Number, 30, 65535, "PRNT_RCV_TMO"},
    {KEY_HOST_NAME, CfgKind::FreeText, 0, 32, "Host name"},
};

const CfgField kCfgWritable[kCfgWritableFields] = {
    {KEY_ENET_SPD, CfgKind::Choice, 0, kLineSpeedCount - 1, "Line speed"},
    {KEY_DHCP, CfgKind::Choice, 0, kDhcpCount - 1, "IP address from DHCP"},
    {KEY_IP, CfgKind::Address, 0, 0, "IP address"},
    {KEY_SUBNET_MASK, CfgKind::Address, 0, 0, "Subnet mask"},
    {KEY_GATEWAY, CfgKind::Address, 0, 0, "Gateway IP address"},
    {KEY_PRNT_PORT, CfgKind::Number, 0, 65535, "PRNT_PORT"},
    {KEY_PRNT_RCV_TMO, CfgKind::Number, 30, 65535, "PRNT_RCV_TMO"},
    {KEY_HOST_NAME, CfgKind::FreeText, 0, 32, "Host name"},
};

const char* const kLineSpeedItems[kLineSpeedCount] = {
    "Auto-detect", "10BaseT Half duplex", "10BaseT Full duplex", "100BaseTX Half duplex",
    "100BaseTX Full duplex"};
const char* const kDhcpItems[kDhcpCount] = {"Disable", "Enable"};

const char kCfgNoAnswer[] = "Configuration not verified: no answer.";

const uint32_t kCfgWriteKeys =
    CfgKeyBit(KEY_DEV) | CfgKeyBit(KEY_VER) | CfgKeyBit(KEY_MAC) | CfgKeyBit(KEY_ENET_SPD) |
    CfgKeyBit(KEY_DHCP) | CfgKeyBit(KEY_IP) | CfgKeyBit(KEY_SUBNET_MASK) | CfgKeyBit(KEY_GATEWAY) |
    CfgKeyBit(KEY_IP_DFLT) | CfgKeyBit(KEY_PRNT_PORT) | CfgKeyBit(KEY_PRNT_RCV_TMO) |
    CfgKeyBit(KEY_MANUFACTURER) | CfgKeyBit(KEY_HOST_NAME) | CfgKeyBit(KEY_SERIAL_NUM);

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

void StoreGroup(uint8_t* group, const uint8_t octets[4])
{
    group[3] = octets[0];
    group[2] = octets[1];
    group[1] = octets[2];
    group[0] = octets[3];
}

int ChoiceOf(const CfgField& f, const char* text)
{
    const char* const* items = f.key == KEY_ENET_SPD ? kLineSpeedItems : kDhcpItems;
    const int count = f.key == KEY_ENET_SPD ? kLineSpeedCount : kDhcpCount;
    for (int i = 0; i < count; ++i)
        if (EqualsIgnoringCase(text, items[i]))
            return i;
    if (text[0] >= '0' && text[0] <= '9' && text[1] == '\0' && text[0] - '0' < count)
        return text[0] - '0';
    return -1;
}

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

}  // namespace

const CfgField* FindCfgField(int key)
{
    for (const CfgField& f : kCfgWritable)
        if (f.key == key)
            return &f;
    for (const CfgField& f : kCfgCheckedOrder)
        if (f.key == key)
            return &f;
    return nullptr;
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
    size_t i = 0;
    while (i < 63 && text[i] != '\0' && IsBlank(text[i]))
        ++i;
    uint64_t v = 0;
    bool any = false;
    for (; i < 63 && text[i] >= '0' && text[i] <= '9'; ++i) {
        any = true;
        v = v * 10 + static_cast<uint64_t>(text[i] - '0');
        if (v > 0xFFFFFFFFull)
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
    switch (key) {
    case KEY_IP: case KEY_SUBNET_MASK: case KEY_GATEWAY: case KEY_IP_DFLT:
    case KEY_IP_CUR: case KEY_SNMP_SERVER:
        return CfgKind::Address;
    case KEY_ENET_SPD: case KEY_DHCP:
        return CfgKind::Choice;
    case KEY_PRNT_PORT: case KEY_PRNT_RCV_TMO: case KEY_SNMP_PORT:
        return CfgKind::Number;
    default:
        return CfgKind::Text;
    }
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
        const bool speed = field.key == KEY_ENET_SPD;
        const char* const* items = speed ? kLineSpeedItems : kDhcpItems;
        const int count = speed ? kLineSpeedCount : kDhcpCount;
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

void CfgFormFromRecords(const RecordTable& table, const char* presetMac, CfgFormState* out)
{
    std::memset(out, 0, sizeof *out);
    CfgValues& v = out->values;
    CopyText(v.macAddr, sizeof v.macAddr, presetMac);
    v.lineSpeed = -1;
    v.dhcp = -1;

    // Each handler takes the value and says whether it could be read.
    auto text = [](char* dst, const char* t) {
        CopyText(dst, kValueSize, t);
        return t[0] != '\0';
    };
    auto address = [&v](int group, const char* t) {
        uint8_t o[4] = {0, 0, 0, 0};
        const bool ok = ParseCfgAddress(t, o);
        StoreGroup(v.addr + 4 * group, o);   // unreadable: blank, as if not reported
        return ok;
    };
    auto choice = [](int* dst, const char* t, int count) {
        uint32_t n = 0;
        const bool ok = ParseCfgNumber(t, &n) && n < static_cast<uint32_t>(count);
        *dst = ok ? static_cast<int>(n) : -1;
        return ok;
    };
    auto number = [](char* box, const char* t) {
        uint32_t n = 0;
        const bool ok = ParseCfgNumber(t, &n);
        CopyText(box, kValueSize, ok ? t : "");
        return ok;
    };
    for (const ConfigRecord& r : table.rec) {
        if (IsEmptyRecord(&r) || r.key[0] == '\0')
            break;
        const KeyInfo* k = FindKey(r.key);
        if (!k)
            continue;
        const int key = static_cast<int>(k - KeyTable);
        const char* t = r.value;
        bool readable = false;
        switch (key) {
        case KEY_DEV: readable = text(v.devName, t); break;
        case KEY_VER: readable = text(v.romVer, t); break;
        case KEY_MAC: readable = text(v.macAddr, t); break;
        case KEY_ENET_SPD: readable = choice(&v.lineSpeed, t, kLineSpeedCount); break;
        case KEY_DHCP: readable = choice(&v.dhcp, t, kDhcpCount); break;
        case KEY_IP: readable = address(0, t); break;
        case KEY_SUBNET_MASK: readable = address(1, t); break;
        case KEY_GATEWAY: readable = address(2, t); break;
        case KEY_IP_DFLT: readable = address(3, t); break;
        case KEY_PRNT_PORT: readable = number(out->prntPort, t); break;
        case KEY_PRNT_RCV_TMO: readable = number(out->prntRcvTmo, t); break;
        case KEY_MANUFACTURER: readable = text(v.manufacturer, t); break;
        case KEY_HOST_NAME: readable = text(v.hostName, t); break;
        case KEY_SERIAL_NUM: readable = text(v.serialNum, t); break;
        default: continue;   // IP_CUR and the SNMP keys are not part of the form
        }
        // A later record of the same key decides alone.
        if (readable)
            out->reported |= CfgKeyBit(key);
        else
            out->reported &= ~CfgKeyBit(key);
    }
    if (v.macAddr[0] != '\0')
        out->reported |= CfgKeyBit(KEY_MAC);   // the preset MAC names the device too
    CopyText(out->deviceHostName, sizeof out->deviceHostName, v.hostName);
}

namespace {

int SetCfgValueOf(CfgFormState* state, int key, const char* text)
{
    const CfgField* f = nullptr;
    for (const CfgField& w : kCfgWritable)
        if (w.key == key)
            f = &w;
    if (!f || !state || !text)
        return CFG_NOT_WRITABLE;
    CfgValues& v = state->values;
    switch (f->kind) {
    case CfgKind::Text:   // the read-only texts are never among the writable keys
        return CFG_NOT_WRITABLE;
    case CfgKind::FreeText: {
        const int r = CheckCfgText(text, *f);
        if (r != CFG_OK)
            return r;
        CopyText(v.hostName, sizeof v.hostName, text);
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
        char* box = key == KEY_PRNT_PORT ? state->prntPort : state->prntRcvTmo;
        std::snprintf(box, kValueSize, "%u", n);
        return CFG_OK;
    }
    case CfgKind::Address: {
        uint8_t o[4];
        if (!ParseCfgAddress(text, o))
            return CFG_BAD_ADDRESS;
        const int group = key == KEY_IP ? 0 : key == KEY_SUBNET_MASK ? 1 : 2;
        StoreGroup(v.addr + 4 * group, o);
        return CFG_OK;
    }
    case CfgKind::Choice: {
        const int c = ChoiceOf(*f, text);
        if (c < 0)
            return CFG_BAD_CHOICE;
        (key == KEY_ENET_SPD ? v.lineSpeed : v.dhcp) = c;
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

void SetCfgDeviceHostName(CfgFormState* state, const char* text)
{
    CopyText(state->values.hostName, sizeof state->values.hostName, text);
    CopyText(state->deviceHostName, sizeof state->deviceHostName, text);
    state->entered |= CfgKeyBit(KEY_HOST_NAME);
}

uint32_t CfgOmittedKeys(uint32_t reported, uint32_t entered)
{
    return kCfgWriteKeys & ~(reported | entered);
}

int CheckCfgForm(const CfgFormState& state, CfgValues* out, const CfgField** failed)
{
    CfgValues v = state.values;
    v.omit = CfgOmittedKeys(state.reported, state.entered);
    for (const CfgField& f : kCfgCheckedOrder) {
        if (f.kind == CfgKind::Number && (v.omit & CfgKeyBit(f.key)))
            continue;   // nothing to write, nothing to check
        int r = CFG_OK;
        switch (f.key) {
        case KEY_DEV: r = CheckCfgText(v.devName, f); break;
        case KEY_VER: r = CheckCfgText(v.romVer, f); break;
        case KEY_MAC: r = CheckCfgText(v.macAddr, f); break;
        case KEY_SERIAL_NUM: r = CheckCfgText(v.serialNum, f); break;
        case KEY_MANUFACTURER: r = CheckCfgText(v.manufacturer, f); break;
        case KEY_PRNT_PORT: r = CheckCfgNumber(state.prntPort, f, &v.prntPort); break;
        case KEY_PRNT_RCV_TMO: r = CheckCfgNumber(state.prntRcvTmo, f, &v.prntRcvTmo); break;
        case KEY_HOST_NAME: {
            // The device's own name goes back as it is; what is typed is checked.
            const bool typed = std::strcmp(v.hostName, state.deviceHostName) != 0;
            CfgField length = f;
            length.kind = CfgKind::Text;
            r = CheckCfgText(v.hostName, typed ? f : length);
            break;
        }
        default: break;
        }
        if (r != CFG_OK) {
            if (failed)
                *failed = &f;
            return r;
        }
    }
    if (out)
        *out = v;
    return CFG_OK;
}

void CfgValueText(const CfgValues& v, int key, char* buf, size_t size)
{
    auto address = [&](int group) {
        const uint8_t* g = v.addr + 4 * group;
        std::snprintf(buf, size, "%d.%d.%d.%d", g[3], g[2], g[1], g[0]);
    };
    switch (key) {
    case KEY_DEV: CopyText(buf, size, v.devName); break;
    case KEY_VER: CopyText(buf, size, v.romVer); break;
    case KEY_MAC: CopyText(buf, size, v.macAddr); break;
    case KEY_SERIAL_NUM: CopyText(buf, size, v.serialNum); break;
    case KEY_MANUFACTURER: CopyText(buf, size, v.manufacturer); break;
    case KEY_HOST_NAME: CopyText(buf, size, v.hostName); break;
    case KEY_ENET_SPD:
    case KEY_DHCP: {
        const int c = key == KEY_ENET_SPD ? v.lineSpeed : v.dhcp;
        if (c < 0)
            CopyText(buf, size, "");
        else
            std::snprintf(buf, size, "%d", c);
        break;
    }
    case KEY_IP: address(0); break;
    case KEY_SUBNET_MASK: address(1); break;
    case KEY_GATEWAY: address(2); break;
    case KEY_IP_DFLT: address(3); break;
    case KEY_PRNT_PORT: std::snprintf(buf, size, "%u", v.prntPort); break;
    case KEY_PRNT_RCV_TMO: std::snprintf(buf, size, "%u", v.prntRcvTmo); break;
    default: CopyText(buf, size, ""); break;
    }
}

namespace {

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
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", octets[3], octets[2], octets[1], octets[0]);
    PutValue(record, key, text, width);
    return 1;
}

int BuildWriteTable(RecordTable* t, const CfgValues& v)
{
    ClearRecordTable(t);
    int slot = 0;
    // An omitted key gives no key text, which every filler refuses.
    auto key = [&v](int k) { return (v.omit & CfgKeyBit(k)) ? nullptr : KeyTable[k].key; };
    auto width = [](int k) { return static_cast<int>(KeyTable[k].width); };
    auto text = [&](int k, const char* s) { slot += FillTextRecord(&(*t)[slot], key(k), s, width(k)); };
    auto number = [&](int k, uint32_t n) { slot += FillNumberRecord(&(*t)[slot], key(k), n, width(k)); };
    auto address = [&](int k, int group) {
        slot += FillAddressRecord(&(*t)[slot], key(k), v.addr + 4 * group, width(k));
    };

    text(KEY_DEV, v.devName);
    text(KEY_VER, v.romVer);
    text(KEY_MAC, v.macAddr);
    number(KEY_ENET_SPD, static_cast<uint32_t>(v.lineSpeed));
    number(KEY_DHCP, static_cast<uint32_t>(v.dhcp));
    address(KEY_IP, 0);
    address(KEY_SUBNET_MASK, 1);
    address(KEY_GATEWAY, 2);
    address(KEY_IP_DFLT, 3);
    number(KEY_PRNT_PORT, v.prntPort);
    number(KEY_PRNT_RCV_TMO, v.prntRcvTmo);
    text(KEY_MANUFACTURER, v.manufacturer);
    text(KEY_HOST_NAME, v.hostName);
    text(KEY_SERIAL_NUM, v.serialNum);
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
    const KeyInfo* k = FindKey(w.key);
    switch (k ? CfgKindOfKey(static_cast<int>(k - KeyTable)) : CfgKind::Text) {
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
