// Frame format and configuration records of the device protocol.
//
// Every datagram is one frame: an 11-byte header (magic, direction, command),
// zero or more fixed-width record lines "KEY = value<pad>\r\n", and the
// terminator record "*END* = \r\n". Widths are counted, line ends are never
// searched for. Everything here only formats and parses, into buffers the
// caller gives (and the two process-wide record tables); it sends nothing,
// allocates nothing and throws nothing.
#pragma once

#include <cstddef>
#include <cstdint>

enum class RequestKind : int { Find = 1, GetConfig = 2, SetConfig = 3 };

constexpr int kFrameHeaderSize = 11;
constexpr int kEndRecordSize = 10;
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
constexpr int kMaxKeyPrefix = 17;   // longest key plus " = "
constexpr unsigned kTxBufferSize = 640;
constexpr int kFindFrameSize = 21;
constexpr int kGetConfigFrameSize = 72;
constexpr int kSetConfigMinBuffer = 537;

constexpr uint8_t kDirRequest = 0x00;
constexpr uint8_t kDirReply = 0xFF;

extern const uint8_t kFrameMagic[6];   // 00 0D AC 00 0D AC
extern const char kEndRecord[];        // "*END* = \r\n" (10 bytes, no zero used on the wire)

// The 11 bytes that open every datagram.
struct FrameHeader {
    uint8_t magic[6];
    uint8_t direction;
    uint8_t command[4];   // RequestKind, little-endian
};
static_assert(sizeof(FrameHeader) == kFrameHeaderSize, "header is 11 bytes on the wire");

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

extern RecordTable ReplyTable;   // filled by the parser from every reply
extern RecordTable WriteTable;   // filled by the write flow, sent by SetConfig

int BuildFrameHeader(uint8_t* dst, uint8_t direction, uint32_t command);
int AppendEndRecord(uint8_t* dst);
int FormatRecordLine(uint8_t* dst, const ConfigRecord* rec);
bool IsEmptyRecord(const ConfigRecord* rec);
void ClearRecord(ConfigRecord* rec);
void ClearRecordTable(RecordTable* table);
void ClearReplyTable();
void ClearWriteTable();
void ResetCodec();

// Matches one record line of the given key at the start of text[0..length).
// Returns the bytes the line takes (width + strlen(key) + 5, which may be
// more than the text holds: the value is then what there is) or 0 when the
// text does not begin with "key = ".
int MatchRecordLine(const char* text, size_t length, const char* key, int width,
                    ConfigRecord* rec);

// Parses a reply's record text, text[0..length), into table (ParseConfigText
// uses ReplyTable). Never reads text[length] or beyond; needs no zero byte.
// 0 success; -1 text absent; -2 a line with no known key; -8 no terminator.
int ParseConfigTextInto(RecordTable* table, const char* text, size_t length,
                        const char* expectedMac, uint8_t* macMatches);
int ParseConfigText(const char* text, size_t length, const char* expectedMac,
                    uint8_t* macMatches);

// The request builders write one whole frame into buf (size bytes) and
// return its length, or -1 when an argument is missing or it does not fit.
int BuildFindFrame(uint8_t* buf, unsigned size);
int BuildGetConfigFrame(const char* mac, uint8_t* buf, const char* serial, unsigned size);
int BuildSetConfigFrame(uint8_t* buf, const RecordTable* table, unsigned size);
