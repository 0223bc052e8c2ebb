// The rules of a configuration write, shared by the Edit Config form and the
// command-line program: which values the form checks and with which
// messages, how an address text is read, how the written table is built from
// plain values, and how a re-read configuration is compared with what was
// written. Plain functions over caller-given buffers; nothing allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec.h"

// Result of a value check; 0 is fine.
enum CfgCheck : int {
    CFG_OK = 0,
    CFG_TOO_LONG = -1,        // "Enter no more than %1 characters."
    CFG_NOT_NUMBER = -2,      // "Enter a positive integer."
    CFG_OUT_OF_RANGE = -3,    // "Enter an integer between %1 and %2."
    CFG_NOT_PRINTABLE = -4,   // a free-text field with other than printable ASCII
    CFG_BAD_ADDRESS = -5,     // an address text that the socket library rejects
    CFG_BAD_CHOICE = -6,      // neither a code nor an item of a list
    CFG_NOT_WRITABLE = -7,    // a key the form does not let the user change
};

enum class CfgKind : uint8_t { Text, FreeText, Number, Address, Choice };

// One value of the form: its record key, how it is checked, and the name of
// the field as the form labels it.
struct CfgField {
    int key;            // KeyIndex
    CfgKind kind;
    uint32_t min;       // numbers: lower bound; choices: 0
    uint32_t max;       // texts: the length limit; numbers: upper bound; choices: last code
    const char* label;  // "Host name"
};

// The form's checked values in the order its OK checks them: the five
// read-only texts, the two print numbers, the host name.
constexpr int kCfgCheckedFields = 8;
extern const CfgField kCfgCheckedOrder[kCfgCheckedFields];

// The values a user may change (the form's editable fields), in record order.
constexpr int kCfgWritableFields = 8;
extern const CfgField kCfgWritable[kCfgWritableFields];

// The field of a key among the checked and the writable ones, or nullptr.
const CfgField* FindCfgField(int key);

// The two code lists; a code is the index of its item.
constexpr int kLineSpeedCount = 5;
constexpr int kDhcpCount = 2;
extern const char* const kLineSpeedItems[kLineSpeedCount];
extern const char* const kDhcpItems[kDhcpCount];

// Free-text fields take printable ASCII (0x20 to 0x7E) only: the protocol's
// text is single-byte ASCII. text is UTF-8 or plain bytes.
bool IsPrintableAscii(const char* text);

// A text of a field: printable (free text only), then at most max characters.
int CheckCfgText(const char* text, const CfgField& field);

// An unsigned decimal number as the form reads one: at most the first 63
// characters, leading white space skipped, digits up to the first other
// character. false when no digit is found; values beyond 32 bits saturate.
bool ParseCfgUnsigned(const char* text, uint64_t* out);

// A number of a field: CFG_NOT_NUMBER or CFG_OUT_OF_RANGE, else *out.
int CheckCfgNumber(const char* text, const CfgField& field, uint32_t* out);

// An IPv4 address text as the socket library's inet_addr reads it: one to
// four parts, each decimal, octal with a leading 0 or hexadecimal with 0x;
// the last part fills the remaining bytes; white space ends the text.
// octets[0] is the first octet. false when the text is rejected.
bool ParseCfgAddress(const char* text, uint8_t octets[4]);

// The message for a failed check, zero-terminated in buf. Returns its length.
int FormatCfgMessage(char* buf, size_t size, int check, const CfgField& field);

// The values the form hands back after OK, as plain data. Addresses are
// kept as the form keeps them: in each group of four the first octet is the
// last byte. A list with no choice is -1.
struct CfgValues {
    char devName[kValueSize];
    char romVer[kValueSize];
    char macAddr[kValueSize];
    char serialNum[kValueSize];
    char manufacturer[kValueSize];
    char hostName[kValueSize];
    uint32_t prntPort;
    uint32_t prntRcvTmo;
    int lineSpeed;
    int dhcp;
    uint8_t addr[16];   // IP, subnet mask, gateway, IP_DFLT
};

// What the form's controls hold once it has been filled from a configuration
// (before OK checks them): the print numbers are still texts.
struct CfgFormState {
    CfgValues values;
    char prntPort[kValueSize];
    char prntRcvTmo[kValueSize];
};

// Fills the state as the form does: the preset MAC text, "0" in both number
// boxes, no list choice, blank addresses (0.0.0.0), then every record of the
// table up to its first empty one, a later duplicate winning.
void CfgFormFromRecords(const RecordTable& table, const char* presetMac, CfgFormState* out);

// Sets one value of the state from a text, as a user's entry would: a key of
// kCfgWritable, the value checked by its rule (lists take a code or an item
// text, addresses take an address text). 0 or a CfgCheck; on failure the
// state is unchanged.
int SetCfgValue(CfgFormState* state, int key, const char* text);

// The form's OK: checks the values in its order and, when all pass, fills
// *out. 0, or the first failing CfgCheck with its field in *failed.
int CheckCfgForm(const CfgFormState& state, CfgValues* out, const CfgField** failed);

// The value text that the write carries for a writable key (no padding).
void CfgValueText(const CfgValues& values, int key, char* buf, size_t size);

// Record fillers: 1 filled, 0 refused (the record is then left untouched).
// The value is padded with spaces to the width, without a terminator inside it.
int FillTextRecord(ConfigRecord* record, const char* key, const char* text, int width);
int FillNumberRecord(ConfigRecord* record, const char* key, uint32_t value, int width);
int FillAddressRecord(ConfigRecord* record, const char* key, const uint8_t* octets, int width);

// Clears table and fills it from the values: fourteen keys in their fixed
// order, a refused record left out and the rest moved up, an empty record
// after the last. Returns the number of records.
int BuildWriteTable(RecordTable* table, const CfgValues& values);

// Compares every record of a written table with the re-read configuration
// (trailing blanks ignored; the last of duplicate keys counts). Writes
// "Configuration verified." or "Device did not take: KEY, KEY." into buf and
// returns the number of keys that differ.
int VerifyWrite(const RecordTable& written, const RecordTable& reread, char* buf, size_t size);

// The window's and the program's line when the re-read got no answer.
extern const char kCfgNoAnswer[];   // "Configuration not verified: no answer."
