#include "codec.h"

#include <cstring>

const uint8_t kFrameMagic[6] = {0x00, 0x0D, 0xAC, 0x00, 0x0D, 0xAC};
const char kEndRecord[] = "*END* = \r\n";

const KeyInfo KeyTable[kKeyCount] = {
    {"DEV", 16},          {"VER", 16},          {"MAC", 12},         {"ENET_SPD", 1},
    {"IP_CUR", 15},       {"DHCP", 1},          {"IP", 15},          {"SUBNET_MASK", 15},
    {"GATEWAY", 15},      {"IP_DFLT", 15},      {"SNMP_SERVER", 16}, {"SNMP_COMMUNITY", 16},
    {"SNMP_PORT", 5},     {"SNMP_USER", 16},    {"SNMP_PASSWORD", 16},
    {"PRNT_PORT", 5},     {"PRNT_RCV_TMO", 5},  {"MANUFACTURER", 32}, {"HOST_NAME", 32},
    {"SERIAL_NUM", 16},
};

RecordTable ReplyTable;
RecordTable WriteTable;

namespace {

const char kEmptyKey[] = "";

int ClampWidth(int width)
{
    if (width < 0)
        return 0;
    return width > kMaxValueWidth ? kMaxValueWidth : width;
}

// Copies at most max characters of src (stopping at its zero) into dst and
// zero-fills dst up to kValueSize.
void CopyValue(char* dst, const char* src, size_t max)
{
    std::memset(dst, 0, kValueSize);
    for (size_t i = 0; i < max && src[i] != '\0'; ++i)
        dst[i] = src[i];
}

// Whether the terminator record stands anywhere in text[0..length).
bool HoldsTerminator(const char* text, size_t length)
{
    for (size_t at = 0; at + kEndRecordSize <= length; ++at) {
        const void* star = std::memchr(text + at, '*', length - at - (kEndRecordSize - 1));
        if (!star)
            return false;
        at = static_cast<size_t>(static_cast<const char*>(star) - text);
        if (std::memcmp(text + at, kEndRecord, kEndRecordSize) == 0)
            return true;
    }
    return false;
}

}  // namespace

const KeyInfo* FindKey(const char* key)
{
    if (!key)
        return nullptr;
    for (const KeyInfo& k : KeyTable)
        if (std::strcmp(k.key, key) == 0)
            return &k;
    return nullptr;
}

int KeyIndexOf(const char* key)
{
    const KeyInfo* k = FindKey(key);
    return k ? static_cast<int>(k - KeyTable) : -1;
}

int BuildFrameHeader(uint8_t* dst, uint8_t direction, uint32_t command)
{
    std::memcpy(dst, kFrameMagic, sizeof kFrameMagic);
    dst[6] = direction;
    dst[7] = static_cast<uint8_t>(command & 0xFF);
    dst[8] = static_cast<uint8_t>((command >> 8) & 0xFF);
    dst[9] = static_cast<uint8_t>((command >> 16) & 0xFF);
    dst[10] = static_cast<uint8_t>((command >> 24) & 0xFF);
    return kFrameHeaderSize;
}

int AppendEndRecord(uint8_t* dst)
{
    std::memcpy(dst, kEndRecord, kEndRecordSize);
    return kEndRecordSize;
}

int FormatRecordLine(uint8_t* dst, const ConfigRecord* rec)
{
    const size_t keyLen = std::strlen(rec->key);
    const int width = ClampWidth(rec->width);
    uint8_t* p = dst;
    std::memcpy(p, rec->key, keyLen);
    p += keyLen;
    std::memcpy(p, " = ", 3);
    p += 3;
    std::memset(p, ' ', static_cast<size_t>(width));
    const size_t valueLen = strnlen(rec->value, static_cast<size_t>(width));
    std::memcpy(p, rec->value, valueLen);
    p += width;
    p[0] = '\r';
    p[1] = '\n';
    return width + static_cast<int>(keyLen) + 5;
}

bool IsEmptyRecord(const ConfigRecord* rec)
{
    return rec == nullptr || rec->width == 0;
}

void ClearRecord(ConfigRecord* rec)
{
    if (!rec)
        return;
    rec->key = kEmptyKey;
    std::memset(rec->value, 0, sizeof rec->value);
    rec->width = 0;
}

void ClearRecordTable(RecordTable* table)
{
    for (ConfigRecord& r : table->rec)
        ClearRecord(&r);
}

void ClearReplyTable() { ClearRecordTable(&ReplyTable); }
void ClearWriteTable() { ClearRecordTable(&WriteTable); }
void ResetCodec() { ClearReplyTable(); }

int MatchRecordLine(const char* text, size_t length, const char* key, int width,
                    ConfigRecord* rec)
{
    if (!text || !key)
        return 0;
    // The parser tries every key on every line: most fail at the first byte.
    if (key[0] != '\0' && (length == 0 || text[0] != key[0]))
        return 0;
    const size_t keyLen = std::strlen(key);
    if (keyLen + 3 > static_cast<size_t>(kMaxKeyPrefix) || length < keyLen + 3)
        return 0;
    // Compare "key = " byte for byte.
    for (size_t i = 1; i < keyLen; ++i)
        if (text[i] != key[i])
            return 0;
    if (text[keyLen] != ' ' || text[keyLen + 1] != '=' || text[keyLen + 2] != ' ')
        return 0;

    width = ClampWidth(width);
    rec->key = key;
    rec->width = static_cast<int8_t>(width);
    // The value field as far as the text holds it; a zero ends it early.
    const size_t held = length - (keyLen + 3);
    CopyValue(rec->value, text + keyLen + 3,
              held < static_cast<size_t>(width) ? held : static_cast<size_t>(width));
    for (int i = width - 1; i >= 0 && rec->value[i] == ' '; --i)
        rec->value[i] = '\0';
    return width + static_cast<int>(keyLen) + 5;
}

int ParseConfigTextInto(RecordTable* table, const char* text, size_t length,
                        const char* expectedMac, uint8_t* macMatches)
{
    if (!text)
        return -1;
    // A zero byte ends the text, as it always has: no record holds one, and a
    // value read past it would be cut at it wherever it is used as text.
    length = strnlen(text, length);
    if (!HoldsTerminator(text, length))
        return -8;

    ClearRecordTable(table);
    size_t pos = 0;
    for (int slot = 0; slot < kRecordSlots; ++slot) {
        if (length - pos >= static_cast<size_t>(kEndRecordSize) &&
            std::memcmp(text + pos, kEndRecord, kEndRecordSize) == 0) {
            ClearRecord(&table->rec[slot]);
            return 0;
        }
        int consumed = 0;
        const KeyInfo* matched = nullptr;
        for (const KeyInfo& k : KeyTable) {
            consumed = MatchRecordLine(text + pos, length - pos, k.key, k.width, &table->rec[slot]);
            if (consumed > 0) {
                matched = &k;
                break;
            }
        }
        if (!matched)
            return -2;
        if (matched == &KeyTable[KEY_MAC] && expectedMac && macMatches)
            *macMatches = std::strcmp(expectedMac, table->rec[slot].value) == 0 ? 1 : 0;
        // A line whose value field runs past the end of the text has swallowed
        // the terminator: the text is malformed and nothing after it is read.
        if (pos + static_cast<size_t>(consumed) > length)
            return -2;
        pos += static_cast<size_t>(consumed);
    }
    return 0;
}

int ParseConfigText(const char* text, size_t length, const char* expectedMac, uint8_t* macMatches)
{
    return ParseConfigTextInto(&ReplyTable, text, length, expectedMac, macMatches);
}

int BuildFindFrame(uint8_t* buf, unsigned size)
{
    if (!buf || size < static_cast<unsigned>(kFindFrameSize))
        return -1;
    int n = BuildFrameHeader(buf, kDirRequest, static_cast<uint32_t>(RequestKind::Find));
    n += AppendEndRecord(buf + n);
    return n;
}

int BuildGetConfigFrame(const char* mac, uint8_t* buf, const char* serial, unsigned size)
{
    if (!mac || !buf || size < static_cast<unsigned>(kGetConfigFrameSize))
        return -1;
    ConfigRecord macRec;
    macRec.key = KeyTable[KEY_MAC].key;
    macRec.width = KeyTable[KEY_MAC].width;
    CopyValue(macRec.value, mac, static_cast<size_t>(macRec.width));
    ConfigRecord serialRec;
    serialRec.key = KeyTable[KEY_SERIAL_NUM].key;
    serialRec.width = KeyTable[KEY_SERIAL_NUM].width;
    CopyValue(serialRec.value, serial ? serial : "", static_cast<size_t>(serialRec.width));

    int n = BuildFrameHeader(buf, kDirRequest, static_cast<uint32_t>(RequestKind::GetConfig));
    n += FormatRecordLine(buf + n, &macRec);
    n += FormatRecordLine(buf + n, &serialRec);
    n += AppendEndRecord(buf + n);
    return n;
}

int BuildSetConfigFrame(uint8_t* buf, const RecordTable* table, unsigned size)
{
    if (!buf || !table || size < static_cast<unsigned>(kSetConfigMinBuffer))
        return -1;
    // Measure first: a table of 21 long records does not fit every buffer,
    // and a frame that does not fit is not written at all.
    size_t total = kFrameHeaderSize + kEndRecordSize;
    for (const ConfigRecord& r : table->rec) {
        if (IsEmptyRecord(&r))
            break;
        total += std::strlen(r.key) + 5 + static_cast<size_t>(ClampWidth(r.width));
    }
    if (total > size)
        return -1;

    int n = BuildFrameHeader(buf, kDirRequest, static_cast<uint32_t>(RequestKind::SetConfig));
    for (const ConfigRecord& r : table->rec) {
        if (IsEmptyRecord(&r))
            break;
        n += FormatRecordLine(buf + n, &r);
    }
    n += AppendEndRecord(buf + n);
    return n;
}
