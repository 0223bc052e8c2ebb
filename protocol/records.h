// The configuration records a device reports and takes: the twenty keys and
// their value widths, one record, a table of them, and the names of a
// device (its MAC address and serial number). Plain data and pure functions
// on a caller's own table; the frames that carry them are the codec's.
#pragma once

#include <cstddef>
#include <cstdint>

enum class RequestKind : int { Find = 1, GetConfig = 2, SetConfig = 3 };

constexpr int kValueSize = 33;      // 32 characters and a terminating zero
constexpr int kMaxValueWidth = 32;
// A device's MAC address as twelve hex digits and its serial number of up to
// sixteen characters; their buffers hold one more for the terminating zero.
constexpr int kMacDigits = 12;
constexpr int kSerialChars = 16;
constexpr int kMacSize = kMacDigits + 1;
constexpr int kSerialSize = kSerialChars + 1;
constexpr int kRecordSlots = 21;
constexpr int kKeyCount = 20;

struct KeyInfo {
    const char* key;
    int8_t width;
};

// The twenty keys in the order the parser tries them, with their value widths.
extern const KeyInfo KeyTable[kKeyCount];

// Indices into KeyTable, for readers that want one key's text or width.
enum KeyIndex {
    KEY_DEV, KEY_VER, KEY_MAC, KEY_ENET_SPD, KEY_IP_CUR, KEY_DHCP, KEY_IP, KEY_SUBNET_MASK,
    KEY_GATEWAY, KEY_IP_DFLT, KEY_SNMP_SERVER, KEY_SNMP_COMMUNITY, KEY_SNMP_PORT, KEY_SNMP_USER,
    KEY_SNMP_PASSWORD, KEY_PRNT_PORT, KEY_PRNT_RCV_TMO, KEY_MANUFACTURER, KEY_HOST_NAME,
    KEY_SERIAL_NUM
};

// The key table entry whose text equals key exactly, or nullptr.
const KeyInfo* FindKey(const char* key);
// Its KeyIndex, or -1.
int KeyIndexOf(const char* key);

// One configuration record. key points at a KeyTable text (or the empty text).
struct ConfigRecord {
    const char* key;
    char value[kValueSize];
    int8_t width;   // 0 marks an empty record
};

// 21 record slots filled from the first; content ends at the first empty record.
struct RecordTable {
    ConfigRecord rec[kRecordSlots];
    ConfigRecord& operator[](int i) { return rec[i]; }
    const ConfigRecord& operator[](int i) const { return rec[i]; }
};

bool IsEmptyRecord(const ConfigRecord* rec);
void ClearRecord(ConfigRecord* rec);
void ClearRecordTable(RecordTable* table);

// Parses a reply's record text, text[0..length), into table. Never reads
// text[length] or beyond; needs no zero byte (a zero byte ends the text).
// A settings file holds the same lines and is read with it too.
// expectedMac and macMatches may be nullptr; with both given, *macMatches
// says whether the MAC record equals expectedMac.
// 0 success; -1 text absent; -2 a line with no known key; -8 no terminator.
int ParseConfigTextInto(RecordTable* table, const char* text, size_t length,
                        const char* expectedMac, uint8_t* macMatches);
