// The rules of a configuration write, shared by the Edit Config form and the
// command-line program: one table of the fields a write carries (kCfgFields),
// which values the form checks and with which messages, how an address text
// is read, how the written table is built from plain values, and how a
// re-read configuration is compared with what was written. Plain functions
// over caller-given buffers; nothing allocates. cfgrules.cpp holds the table
// and the form's side, cfgwrite.cpp the written table and its check.
#pragma once

#include <cstddef>
#include <cstdint>

#include "records.h"

// Result of a value check; 0 is fine.
enum CfgCheck : int {
    CFG_OK = 0,
    CFG_TOO_LONG = -1,        // "Enter no more than %1 characters."
    CFG_NOT_NUMBER = -2,      // "Enter a positive integer."
    CFG_OUT_OF_RANGE = -3,    // "Enter an integer between %1 and %2."
    CFG_NOT_PRINTABLE = -4,   // a free-text field with other than printable ASCII
    CFG_BAD_ADDRESS = -5,     // an address text that is not four decimal numbers 0-255
    CFG_BAD_CHOICE = -6,      // neither a code nor an item of a list
    CFG_NOT_WRITABLE = -7,    // a key the form does not let the user change
};

// How a field is read, checked and written: a read-only text, a text a user
// may type (printable ASCII), a number, an IPv4 address, a code of a list.
enum class CfgKind : uint8_t { Text, FreeText, Number, Address, Choice };

// Bit of a KeyIndex in the key masks below.
constexpr uint32_t CfgKeyBit(int key) { return 1u << key; }

// The values the form hands back after OK, as plain data. Addresses are
// kept as the form keeps them: in each group of four the first octet is the
// last byte (see CfgReverseOctets). A list with no choice is -1. omit names
// the records the write leaves out: ones the device never reported and the
// user never entered.
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
    uint32_t omit;      // CfgKeyBit of each record left out; 0 writes all fourteen
};

// What the form's controls hold once it has been filled from a configuration
// (before OK checks them): the print numbers are still texts.
struct CfgFormState {
    CfgValues values;
    char prntPort[kValueSize];
    char prntRcvTmo[kValueSize];
    uint32_t reported;   // CfgKeyBit of each record the device gave a readable, non-empty value
    uint32_t entered;    // CfgKeyBit of each value set by SetCfgValue
    char deviceHostName[kValueSize];   // the host name as the device reported it
};

// One field of the form, which is one record of a write: its key, how it is
// checked, how the form labels it, whether a user may change it and where
// its value lives. Only the members of its kind are set.
struct CfgField {
    int key = -1;               // KeyIndex
    CfgKind kind = CfgKind::Text;
    uint32_t min = 0;           // numbers: lower bound; otherwise 0
    uint32_t max = 0;           // texts: the length limit; numbers: upper bound; choices: last code
    const char* label = "";     // "Host name"
    bool writable = false;      // the form's editable fields, the keys pathlume-cli sets
    char (CfgValues::*text)[kValueSize] = nullptr;     // Text, FreeText
    uint32_t CfgValues::*number = nullptr;             // Number, once checked
    char (CfgFormState::*box)[kValueSize] = nullptr;   // Number, as its box holds it before OK
    int CfgValues::*choice = nullptr;                  // Choice: the code, -1 for none
    const char* const* items = nullptr;                // Choice: the list's items, max + 1 of them
    int group = 0;                                     // Address: its four bytes in CfgValues::addr
};

// The fourteen fields a write carries, each once, in record order (the order
// of the written table): the one table that the checks, the fill from
// records, the value texts and the setters read.
constexpr int kCfgFieldCount = 14;
extern const CfgField kCfgFields[kCfgFieldCount];

// The form's checked values in the order its OK checks them: the five
// read-only texts, the two print numbers, the host name.
constexpr int kCfgCheckedFields = 8;
extern const CfgField* const kCfgCheckedOrder[kCfgCheckedFields];

// The field of a key, or nullptr for a key no write carries (IP_CUR, the
// SNMP keys).
const CfgField* FindCfgField(int key);

// The two code lists; a code is the index of its item.
constexpr int kLineSpeedCount = 5;
constexpr int kDhcpCount = 2;
extern const char* const kLineSpeedItems[kLineSpeedCount];
extern const char* const kDhcpItems[kDhcpCount];

// The form keeps each address with its first octet last. This turns one
// order into the other, either way: from[0] lands in to[3].
void CfgReverseOctets(const uint8_t from[4], uint8_t to[4]);

// A group of four as the form keeps it, as dotted text ("192.168.0.10").
void CfgAddressText(const uint8_t group[4], char* buf, size_t size);

// Free-text fields take printable ASCII (0x20 to 0x7E) only: the protocol's
// text is single-byte ASCII. text is UTF-8 or plain bytes.
bool IsPrintableAscii(const char* text);

// A text of a field: printable (free text only), then at most max characters.
int CheckCfgText(const char* text, const CfgField& field);

// An unsigned decimal number as the form reads one: leading white space
// skipped, digits up to the first other character, leading zeros counting
// for nothing. The text is read whole and never cut: a number whose digits
// go on past the first kCfgNumberChars characters, like a value beyond 32
// bits, saturates to 2^32, out of every field's range. false when no digit
// is found.
constexpr size_t kCfgNumberChars = 63;
bool ParseCfgUnsigned(const char* text, uint64_t* out);

// A number of a field: CFG_NOT_NUMBER or CFG_OUT_OF_RANGE, else *out.
int CheckCfgNumber(const char* text, const CfgField& field, uint32_t* out);

// An IPv4 address text: four decimal numbers from 0 to 255 separated by
// dots, leading zeros allowed ("192.168.000.010" is 192.168.0.10), blanks
// allowed around it and nothing else. octets[0] is the first octet; they are
// left untouched when the text is refused (false). No octal, no hex, no
// shortened forms: an address read differently from how it was written would
// reach a device changed.
bool ParseCfgAddress(const char* text, uint8_t octets[4]);

// A whole decimal number: blanks around it allowed, nothing else; values
// beyond 32 bits refused. false when the text is not one.
bool ParseCfgNumber(const char* text, uint32_t* out);

// How the write carries a record's value: as text, a number or an address.
// Compared by value for numbers and addresses. Any key of the key table.
CfgKind CfgKindOfKey(int key);

// The message for a failed check, zero-terminated in buf. Returns its length.
int FormatCfgMessage(char* buf, size_t size, int check, const CfgField& field);

// Whether a value the device reported (or the journal holds) can be read as
// its field reads it: a text not empty, a number within its range, a list
// code, an address. A value that cannot is treated as never reported: it is
// not written back and blocks no write.
bool CfgValueReadable(const CfgField& field, const char* text);

// The fourteen keys a write may carry, as bits.
extern const uint32_t kCfgWriteKeys;

// Fills the state as the form does, from every record of the table up to its
// first empty one (a later duplicate winning). Only what the device reported
// and can be read (CfgValueReadable) is taken: a missing, empty, unreadable
// or out-of-range record leaves its
// text empty, its number box empty, its list without a choice and its
// address blank (0.0.0.0), and is not in reported. The MAC is the record's,
// else the preset text (which then counts as reported).
void CfgFormFromRecords(const RecordTable& table, const char* presetMac, CfgFormState* out);

// Sets one value of the state from a text, as a user's entry would: a
// writable field's key, the value checked by its rule (lists take a code or an item
// text, addresses take an address text). 0 or a CfgCheck; on failure the
// state is unchanged. The key is then in entered.
int SetCfgValue(CfgFormState* state, int key, const char* text);

// Sets the host name from a text that came from the device itself (its own
// backup, or the journal's record of a write): it goes back whatever its
// bytes, as the device's own name does; only its length is checked. A text
// longer than 32 bytes is refused whole (CFG_TOO_LONG, the state unchanged),
// never cut; else CFG_OK and the key is then in entered.
int SetCfgDeviceHostName(CfgFormState* state, const char* text);

// The records a write leaves out: of the fourteen, those neither reported
// nor entered.
uint32_t CfgOmittedKeys(uint32_t reported, uint32_t entered);

// The form's OK: checks the values in its order and, when all pass, fills
// *out (with omit set). 0, or the first failing CfgCheck with its field in
// *failed. A number left out of the write is not checked; the printable rule
// applies to a host name the user entered, not to the one the device has.
int CheckCfgForm(const CfgFormState& state, CfgValues* out, const CfgField** failed);

// The value text that the write carries for a key of kCfgFields (no
// padding); "" for a list without a choice or another key.
void CfgValueText(const CfgValues& values, int key, char* buf, size_t size);

// Record fillers: 1 filled, 0 refused (the record is then left untouched).
// The value is padded with spaces to the width, without a terminator inside it.
int FillTextRecord(ConfigRecord* record, const char* key, const char* text, int width);
int FillNumberRecord(ConfigRecord* record, const char* key, uint32_t value, int width);
int FillAddressRecord(ConfigRecord* record, const char* key, const uint8_t* octets, int width);

// Clears table and fills it from the values: fourteen keys in their fixed
// order less those in values.omit, a refused record left out and the rest
// moved up, an empty record after the last. Returns the number of records.
int BuildWriteTable(RecordTable* table, const CfgValues& values);

// Compares every record of a written table with the re-read configuration:
// addresses and numbers by value, texts as the device pads them (trailing
// blanks ignored); a record the answer lacks, or holds unreadably, did not
// come back; the last of duplicate keys counts. Only the written records are
// looked at. Writes "Configuration verified." or "Device did not take: KEY,
// KEY." into buf and returns the number of keys that differ.
int VerifyWrite(const RecordTable& written, const RecordTable& reread, char* buf, size_t size);

// Whether a table holds one written record's value, compared as VerifyWrite
// compares it (by value for numbers and addresses, the last duplicate
// counting).
bool CfgRecordReadBack(const ConfigRecord& written, const RecordTable& table);

// Whether one reported value is a written record's value, compared as
// CfgRecordReadBack compares it; false for nullptr.
bool CfgRecordMatches(const ConfigRecord& written, const char* value);

// The window's and the program's line when the re-read got no answer.
extern const char kCfgNoAnswer[];   // "Configuration not verified: no answer."
