// Frame format of the device protocol (the records it carries are in
// records.h).
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

#include "records.h"

constexpr int kFrameHeaderSize = 11;
constexpr int kEndRecordSize = 10;
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

extern RecordTable ReplyTable;   // filled by the parser from every reply
extern RecordTable WriteTable;   // filled by the write flow (SendCheckedWrite), sent by SetConfig

int BuildFrameHeader(uint8_t* dst, uint8_t direction, uint32_t command);
int AppendEndRecord(uint8_t* dst);
int FormatRecordLine(uint8_t* dst, const ConfigRecord* rec);
void ClearReplyTable();
void ClearWriteTable();
void ResetCodec();   // offered to the front ends by requests.h

// Matches one record line of the given key at the start of text[0..length).
// Returns the bytes the line takes (width + strlen(key) + 5, which may be
// more than the text holds: the value is then what there is) or 0 when the
// text does not begin with "key = ".
int MatchRecordLine(const char* text, size_t length, const char* key, int width,
                    ConfigRecord* rec);

// ParseConfigTextInto (records.h) into the ReplyTable.
int ParseConfigText(const char* text, size_t length, const char* expectedMac,
                    uint8_t* macMatches);

// The request builders write one whole frame into buf (size bytes) and
// return its length, or -1 when an argument is missing or it does not fit.
int BuildFindFrame(uint8_t* buf, unsigned size);
int BuildGetConfigFrame(const char* mac, uint8_t* buf, const char* serial, unsigned size);
int BuildSetConfigFrame(uint8_t* buf, const RecordTable* table, unsigned size);
