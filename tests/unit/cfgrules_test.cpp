#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cfgrules.h"
#include "codec.h"
#include "journal.h"
#include "writeplan.h"

namespace {

// An address is read as it is written: four decimal numbers. The socket
// library's reading (octal for a leading zero, hex, shortened forms) would
// turn 192.168.000.010 into 192.168.0.8 and "10" into 0.0.0.10.
TEST(CfgRules, AddressTextsAreFourDecimalNumbers)
{
    struct Case {
        const char* text;
        const char* octets;   // nullptr: refused
    } cases[] = {
        {"192.168.0.10", "192.168.0.10"},   {"192.168.000.010", "192.168.0.10"},
        {"010.9.0.1", "10.9.0.1"},          {"0.0.0.0", "0.0.0.0"},
        {"255.255.255.255", "255.255.255.255"}, {" 1.2.3.4\t", "1.2.3.4"},
        {"00000000012.1.1.1", "12.1.1.1"},  {"10", nullptr},
        {"1.2.3", nullptr},                 {"0x0a.0.0.1", nullptr},
        {"167772161", nullptr},             {"1.2.3.4 x", nullptr},
        {"1.2.3.256", nullptr},             {"1.2.3.4.", nullptr},
        {"1..2.3", nullptr},                {".1.2.3", nullptr},
        {"1.2.3.4.5", nullptr},             {"", nullptr},
        {"-1.2.3.4", nullptr},              {"1.2.3.+4", nullptr},
        {"1 .2.3.4", nullptr},              {"99999999999999999999.1.1.1", nullptr},
    };
    for (const Case& c : cases) {
        uint8_t o[4] = {7, 7, 7, 7};
        const bool ok = ParseCfgAddress(c.text, o);
        ASSERT_EQ(ok, c.octets != nullptr) << '"' << c.text << '"';
        char got[16];
        std::snprintf(got, sizeof got, "%u.%u.%u.%u", o[0], o[1], o[2], o[3]);
        EXPECT_STREQ(got, c.octets ? c.octets : "7.7.7.7") << '"' << c.text << '"';
    }
    EXPECT_FALSE(ParseCfgAddress(nullptr, nullptr));
}

TEST(CfgRules, ValuesAreCheckedWithTheFormsMessages)
{
    // Numbers are read whole: zeros in front count for nothing within the
    // form's 63 characters, and a longer number is refused, never cut to them.
    const std::string zeros59 = std::string(59, '0') + "9100";   // 63 characters
    const std::string zeros60 = std::string(60, '0') + "9100";   // cut: 910
    const std::string zeros63 = std::string(63, '0') + "9100";   // cut: 0
    const std::string zeros62 = std::string(62, '0') + "30";     // cut: 3
    const std::string blanks = std::string(62, ' ') + "30";      // cut: no number
    struct Case {
        int key;
        const char* text;
        const char* message;   // "" when the value is taken
    } cases[] = {
        {KEY_HOST_NAME, "lobby-printer 2", ""},
        {KEY_HOST_NAME, "日本語-héllo",
         "Enter only printable ASCII characters (letters, digits, punctuation, space) in Host name."},
        {KEY_HOST_NAME, "tab\there",
         "Enter only printable ASCII characters (letters, digits, punctuation, space) in Host name."},
        {KEY_HOST_NAME, "\x7F", "Enter only printable ASCII characters (letters, digits, "
                                "punctuation, space) in Host name."},
        {KEY_HOST_NAME, "12345678901234567890123456789012", ""},
        {KEY_HOST_NAME, "123456789012345678901234567890123", "Enter no more than 32 characters."},
        {KEY_PRNT_PORT, "0", ""},
        {KEY_PRNT_PORT, "65536", "Enter an integer between 0 and 65535."},
        {KEY_PRNT_PORT, "99999999999", "Enter an integer between 0 and 65535."},
        // 2^64 + 9100: read past 64 bits it would wrap round to a port.
        {KEY_PRNT_PORT, "18446744073709560716", "Enter an integer between 0 and 65535."},
        {KEY_PRNT_PORT, "", "Enter a positive integer."},
        {KEY_PRNT_PORT, "91x", "Enter a positive integer."},
        {KEY_PRNT_PORT, "-1", "Enter a positive integer."},
        {KEY_PRNT_RCV_TMO, "29", "Enter an integer between 30 and 65535."},
        {KEY_PRNT_RCV_TMO, "30", ""},
        {KEY_PRNT_PORT, "0009100", ""},
        {KEY_PRNT_PORT, zeros59.c_str(), ""},
        {KEY_PRNT_PORT, zeros60.c_str(), "Enter an integer between 0 and 65535."},
        {KEY_PRNT_PORT, zeros63.c_str(), "Enter an integer between 0 and 65535."},
        {KEY_PRNT_RCV_TMO, zeros62.c_str(), "Enter an integer between 30 and 65535."},
        {KEY_ENET_SPD, "100basetx FULL duplex", ""},
        {KEY_ENET_SPD, "5",
         "Choose one of Line speed: 0 (Auto-detect), 1 (10BaseT Half duplex), 2 (10BaseT Full "
         "duplex), 3 (100BaseTX Half duplex), 4 (100BaseTX Full duplex)."},
        {KEY_DHCP, "Enable", ""},
        {KEY_DHCP, "1", ""},
        {KEY_DHCP, "yes", "Choose one of IP address from DHCP: 0 (Disable), 1 (Enable)."},
        {KEY_IP, "010.9.0.1", ""},
        {KEY_IP, "10", "Enter an IPv4 address as four numbers from 0 to 255 separated by dots."},
        {KEY_GATEWAY, "1.2.3.999",
         "Enter an IPv4 address as four numbers from 0 to 255 separated by dots."},
    };
    for (const Case& c : cases) {
        CfgFormState s{};
        const int r = SetCfgValue(&s, c.key, c.text);
        char msg[256] = "";
        if (r != CFG_OK)
            FormatCfgMessage(msg, sizeof msg, r, *FindCfgField(c.key));
        EXPECT_STREQ(msg, c.message) << KeyTable[c.key].key << "=" << c.text;
    }
    CfgFormState taken{};
    ASSERT_EQ(SetCfgValue(&taken, KEY_PRNT_PORT, zeros59.c_str()), CFG_OK);
    EXPECT_STREQ(taken.prntPort, "9100");
    // Blanks in front are skipped, but the digits after them are still read whole.
    uint32_t n = 0;
    EXPECT_EQ(CheckCfgNumber(blanks.c_str(), *FindCfgField(KEY_PRNT_RCV_TMO), &n), CFG_OUT_OF_RANGE);
    EXPECT_EQ(CheckCfgNumber((std::string(61, ' ') + "30").c_str(), *FindCfgField(KEY_PRNT_RCV_TMO), &n),
              CFG_OK);
    EXPECT_EQ(n, 30u);

    // The device's own host name goes back whatever its bytes, but whole.
    CfgFormState host{};
    EXPECT_EQ(SetCfgDeviceHostName(&host, std::string(33, 'h').c_str()), CFG_TOO_LONG);
    EXPECT_STREQ(host.values.hostName, "");
    EXPECT_EQ(host.entered, 0u);
    EXPECT_EQ(SetCfgDeviceHostName(&host, "\t lobby\r\n"), CFG_OK);
    EXPECT_STREQ(host.values.hostName, "\t lobby\r\n");
    EXPECT_EQ(host.entered, CfgKeyBit(KEY_HOST_NAME));

    // Keys outside the form's editable fields are not set this way.
    CfgFormState s{};
    EXPECT_EQ(SetCfgValue(&s, KEY_MAC, "02C0EE000001"), CFG_NOT_WRITABLE);
    EXPECT_EQ(SetCfgValue(&s, KEY_IP_DFLT, "1.2.3.4"), CFG_NOT_WRITABLE);
}

// The form keeps an address with its first octet last; one function turns
// either order into the other, also over itself.
TEST(CfgRules, AddressesAreKeptFirstOctetLast)
{
    uint8_t group[4];
    const uint8_t octets[4] = {192, 168, 0, 10};
    CfgReverseOctets(octets, group);
    EXPECT_EQ(group[0], 10);
    EXPECT_EQ(group[3], 192);
    char text[16];
    CfgAddressText(group, text, sizeof text);
    EXPECT_STREQ(text, "192.168.0.10");
    CfgReverseOctets(group, group);
    EXPECT_EQ(std::memcmp(group, octets, 4), 0);
}

// A table of "KEY = value" records as the parser stores them.
RecordTable Records(std::initializer_list<std::pair<int, const char*>> recs)
{
    RecordTable t;
    ClearRecordTable(&t);
    int i = 0;
    for (const auto& [key, value] : recs) {
        t[i].key = KeyTable[key].key;
        t[i].width = KeyTable[key].width;
        std::strncpy(t[i].value, value, kValueSize - 1);
        ++i;
    }
    return t;
}

TEST(CfgRules, VerificationNamesTheKeysThatDidNotComeBack)
{
    RecordTable written;
    ClearRecordTable(&written);
    FillTextRecord(&written[0], "MAC", "02C0EE000001", 12);
    FillNumberRecord(&written[1], "PRNT_PORT", 9100, 5);
    FillTextRecord(&written[2], "HOST_NAME", "lobby", 32);
    const struct Case {
        const char* what;
        RecordTable reread;
        const char* line;
    } cases[] = {
        {"all taken, other keys around them",
         Records({{KEY_DEV, "x"}, {KEY_MAC, "02C0EE000001"}, {KEY_PRNT_PORT, "9100"},
                  {KEY_HOST_NAME, "lobby"}, {KEY_IP_CUR, "1.2.3.4"}}),
         "Configuration verified."},
        {"two refused, named in record order",
         Records({{KEY_HOST_NAME, "old"}, {KEY_MAC, "02C0EE000001"}, {KEY_PRNT_PORT, "515"}}),
         "Device did not take: PRNT_PORT, HOST_NAME."},
        {"a missing key did not come back",
         Records({{KEY_MAC, "02C0EE000001"}, {KEY_HOST_NAME, "lobby"}}),
         "Device did not take: PRNT_PORT."},
        {"a longer value is not the same",
         Records({{KEY_MAC, "02C0EE000001"}, {KEY_PRNT_PORT, "9100"}, {KEY_HOST_NAME, "lobby2"}}),
         "Device did not take: HOST_NAME."},
        {"the last of duplicates counts",
         Records({{KEY_MAC, "02C0EE000001"}, {KEY_PRNT_PORT, "9100"}, {KEY_HOST_NAME, "lobby"},
                  {KEY_HOST_NAME, "other"}}),
         "Device did not take: HOST_NAME."},
        {"numbers by value",
         Records({{KEY_MAC, "02C0EE000001"}, {KEY_PRNT_PORT, "09100"}, {KEY_HOST_NAME, "lobby"}}),
         "Configuration verified."},
        {"an unreadable number did not come back",
         Records({{KEY_MAC, "02C0EE000001"}, {KEY_PRNT_PORT, "9100x"}, {KEY_HOST_NAME, "lobby"}}),
         "Device did not take: PRNT_PORT."},
        {"texts are compared whole, not by value",
         Records({{KEY_MAC, "02C0EE000001"}, {KEY_PRNT_PORT, "9100"}, {KEY_HOST_NAME, "Lobby"}}),
         "Device did not take: HOST_NAME."},
    };
    for (const Case& c : cases) {
        char line[128];
        const int differ = VerifyWrite(written, c.reread, line, sizeof line);
        EXPECT_STREQ(line, c.line) << c.what;
        EXPECT_EQ(differ == 0, std::strcmp(c.line, "Configuration verified.") == 0) << c.what;
    }
    // Addresses by value: the device may pad its numbers with zeros.
    RecordTable addr;
    ClearRecordTable(&addr);
    const uint8_t ip[4] = {10, 0, 168, 192};
    FillAddressRecord(&addr[0], "IP", ip, 15);
    char line[128];
    EXPECT_EQ(VerifyWrite(addr, Records({{KEY_IP, "192.168.000.010"}}), line, sizeof line), 0);
    EXPECT_EQ(VerifyWrite(addr, Records({{KEY_IP, "192.168.0.8"}}), line, sizeof line), 1);
    EXPECT_EQ(VerifyWrite(addr, Records({{KEY_IP, "0xC0.168.0.10"}}), line, sizeof line), 1);

    // A small buffer is cut, never overrun.
    char tiny[8];
    std::memset(tiny, 'x', sizeof tiny);
    VerifyWrite(written, cases[1].reread, tiny, 6);
    EXPECT_STREQ(tiny, "Devic");
    EXPECT_EQ(tiny[6], 'x');
}

// What a write carries, after the user changed one value: every record the
// device reported readably, by value, and nothing the device did not report
// or reported empty or unreadably.
TEST(CfgRules, AWriteCarriesNothingTheDeviceDidNotReport)
{
    struct Case {
        const char* what;
        RecordTable device;
        const char* change;    // KEY=value the user sets
        const char* written;   // the write's records, "KEY=value" joined by ';'
    } cases[] = {
        {"zero-padded addresses go back by value",
         Records({{KEY_MAC, "M1"}, {KEY_IP, "192.168.000.010"}, {KEY_SUBNET_MASK, "255.255.255.000"},
                  {KEY_IP_DFLT, "010.0.0.9"}, {KEY_PRNT_PORT, "09100"}, {KEY_PRNT_RCV_TMO, "90"},
                  {KEY_SERIAL_NUM, "S1"}}),
         "HOST_NAME=lobby",
         "MAC=M1;IP=192.168.0.10;SUBNET_MASK=255.255.255.0;IP_DFLT=10.0.0.9;PRNT_PORT=9100;"
         "PRNT_RCV_TMO=90;HOST_NAME=lobby;SERIAL_NUM=S1"},
        {"empty, missing and unreadable records stay out",
         Records({{KEY_DEV, ""}, {KEY_MAC, "M2"}, {KEY_ENET_SPD, "x"}, {KEY_DHCP, ""},
                  {KEY_SUBNET_MASK, "255.255.255"}, {KEY_GATEWAY, ""}, {KEY_PRNT_PORT, "60s"},
                  {KEY_MANUFACTURER, ""}, {KEY_HOST_NAME, "h"}, {KEY_SERIAL_NUM, "S2"}}),
         "PRNT_RCV_TMO=45", "MAC=M2;PRNT_RCV_TMO=45;HOST_NAME=h;SERIAL_NUM=S2"},
        {"a value the user enters is written though the device had none",
         Records({{KEY_MAC, "M3"}, {KEY_SERIAL_NUM, "S3"}}), "GATEWAY=10.0.0.1",
         "MAC=M3;GATEWAY=10.0.0.1;SERIAL_NUM=S3"},
        {"the device's own host name goes back though it is not ASCII",
         Records({{KEY_MAC, "M4"}, {KEY_HOST_NAME, "caf\xE9"}, {KEY_SERIAL_NUM, "S4"}}),
         "DHCP=Enable", "MAC=M4;DHCP=1;HOST_NAME=caf\xE9;SERIAL_NUM=S4"},
        {"numbers out of their range stay out like unreadable ones",
         Records({{KEY_MAC, "M6"}, {KEY_PRNT_PORT, "70000"}, {KEY_PRNT_RCV_TMO, "10"},
                  {KEY_SERIAL_NUM, "S6"}}),
         "HOST_NAME=x", "MAC=M6;HOST_NAME=x;SERIAL_NUM=S6"},
        {"a record reported readable, then again unreadable, stays out",
         Records({{KEY_MAC, "M7"}, {KEY_IP, "10.0.0.1"}, {KEY_PRNT_PORT, "9100"}, {KEY_IP, "x"},
                  {KEY_PRNT_PORT, "port"}, {KEY_SERIAL_NUM, "S7"}}),
         "HOST_NAME=y", "MAC=M7;HOST_NAME=y;SERIAL_NUM=S7"},
    };
    for (const Case& c : cases) {
        CfgFormState state;
        CfgFormFromRecords(c.device, "", &state);
        const std::string change = c.change;
        const size_t eq = change.find('=');
        const int key = static_cast<int>(FindKey(change.substr(0, eq).c_str()) - KeyTable);
        ASSERT_EQ(SetCfgValue(&state, key, change.substr(eq + 1).c_str()), CFG_OK) << c.what;
        CfgValues values;
        const CfgField* failed = nullptr;
        ASSERT_EQ(CheckCfgForm(state, &values, &failed), CFG_OK)
            << c.what << ": " << (failed ? failed->label : "");
        RecordTable t;
        const int n = BuildWriteTable(&t, values);
        std::string got;
        for (int i = 0; i < n; ++i) {
            std::string v(t[i].value, static_cast<size_t>(t[i].width));
            v.erase(v.find_last_not_of(' ') + 1);
            got += std::string(got.empty() ? "" : ";") + t[i].key + "=" + v;
        }
        EXPECT_EQ(got, c.written) << c.what;
    }

    // A host name the user types is still held to printable ASCII.
    CfgFormState state;
    CfgFormFromRecords(Records({{KEY_MAC, "M5"}, {KEY_HOST_NAME, "caf\xE9"}}), "", &state);
    std::strcpy(state.values.hostName, "caf\xE9!");
    const CfgField* failed = nullptr;
    EXPECT_EQ(CheckCfgForm(state, nullptr, &failed), CFG_NOT_PRINTABLE);
}

// Each field of the table reads, keeps and writes its own value: a device
// reporting a different value for every key gets each one back from the
// value texts and from its write, in record order, and a value set through
// a writable field changes that field alone.
TEST(CfgRules, EveryFieldKeepsItsOwnValue)
{
    const RecordTable device = Records({
        {KEY_DEV, "NP-2400"}, {KEY_VER, "1.02.3"}, {KEY_MAC, "02C0EE000042"}, {KEY_ENET_SPD, "3"},
        {KEY_IP_CUR, "10.0.0.9"}, {KEY_DHCP, "1"}, {KEY_IP, "192.168.0.10"},
        {KEY_SUBNET_MASK, "255.255.254.0"}, {KEY_GATEWAY, "192.168.0.1"}, {KEY_IP_DFLT, "10.1.2.3"},
        {KEY_SNMP_PORT, "161"}, {KEY_PRNT_PORT, "9100"}, {KEY_PRNT_RCV_TMO, "90"},
        {KEY_MANUFACTURER, "Ostrander Print"}, {KEY_HOST_NAME, "print-42"}, {KEY_SERIAL_NUM, "SN42"}});
    auto reported = [&](int key) {
        for (const ConfigRecord& r : device.rec)
            if (!IsEmptyRecord(&r) && std::strcmp(r.key, KeyTable[key].key) == 0)
                return std::string(r.value);
        return std::string();
    };
    CfgFormState state;
    CfgFormFromRecords(device, "", &state);
    CfgValues values;
    ASSERT_EQ(CheckCfgForm(state, &values, nullptr), CFG_OK);
    ASSERT_EQ(values.omit, 0u);
    char text[kValueSize + 8];
    for (const CfgField& f : kCfgFields) {
        CfgValueText(values, f.key, text, sizeof text);
        EXPECT_EQ(text, reported(f.key)) << KeyTable[f.key].key;
    }
    RecordTable written;
    ASSERT_EQ(BuildWriteTable(&written, values), kCfgFieldCount);
    for (int i = 0; i < kCfgFieldCount; ++i)
        EXPECT_STREQ(written[i].key, KeyTable[kCfgFields[i].key].key) << i;
    char line[128];
    EXPECT_EQ(VerifyWrite(written, device, line, sizeof line), 0) << line;

    const struct Change {
        int key;
        const char* text;
        const char* shown;
    } changes[] = {
        {KEY_ENET_SPD, "Auto-detect", "0"},    {KEY_DHCP, "0", "0"},
        {KEY_IP, "172.16.0.5", "172.16.0.5"},  {KEY_SUBNET_MASK, "255.0.0.0", "255.0.0.0"},
        {KEY_GATEWAY, "172.16.0.1", "172.16.0.1"}, {KEY_PRNT_PORT, "515", "515"},
        {KEY_PRNT_RCV_TMO, "300", "300"},      {KEY_HOST_NAME, "lobby", "lobby"},
    };
    for (const Change& c : changes) {
        CfgFormState one = state;
        ASSERT_EQ(SetCfgValue(&one, c.key, c.text), CFG_OK) << KeyTable[c.key].key;
        ASSERT_EQ(CheckCfgForm(one, &values, nullptr), CFG_OK) << KeyTable[c.key].key;
        for (const CfgField& f : kCfgFields) {
            CfgValueText(values, f.key, text, sizeof text);
            EXPECT_EQ(text, f.key == c.key ? c.shown : reported(f.key))
                << KeyTable[c.key].key << " set, " << KeyTable[f.key].key << " read";
        }
    }
}

// The one planner of every write: a table of the kinds of write and what
// each must plan, refuse or leave. A device's reply is the fresh read; the
// form's cases also give what the form showed; a restore gives its entry.
TEST(WritePlanner, EachKindOfWritePlansRefusesOrLeavesAsItMust)
{
    const RecordTable device =
        Records({{KEY_DEV, "NP"}, {KEY_MAC, "M1"}, {KEY_IP, "10.0.0.5"}, {KEY_PRNT_PORT, "9100"},
                 {KEY_PRNT_RCV_TMO, "90"}, {KEY_HOST_NAME, "printer-a"}, {KEY_SERIAL_NUM, "S1"}});
    // A write of HOST_NAME printer-a -> mine and PRNT_PORT (empty) -> 9100,
    // also recording a change of DEV (which no write may give back).
    JournalEntry entry;
    entry.number = 12;
    entry.serial = "S1";
    entry.mac = "M1";
    entry.before = {{"DEV", "OLD"}, {"MAC", "M1"}, {"PRNT_PORT", ""}, {"HOST_NAME", "printer-a"},
                    {"SERIAL_NUM", "S1"}};
    entry.written = {{"DEV", "NP"}, {"MAC", "M1"}, {"PRNT_PORT", "9100"}, {"HOST_NAME", "mine"},
                     {"SERIAL_NUM", "S1"}};
    const RecordTable afterEntry =
        Records({{KEY_DEV, "NP"}, {KEY_MAC, "M1"}, {KEY_PRNT_PORT, "9100"}, {KEY_HOST_NAME, "mine"},
                 {KEY_SERIAL_NUM, "S1"}});
    const RecordTable overwritten =
        Records({{KEY_DEV, "NP"}, {KEY_MAC, "M1"}, {KEY_PRNT_PORT, "9100"},
                 {KEY_HOST_NAME, "colleague"}, {KEY_SERIAL_NUM, "S1"}});
    JournalEntry portEntry = entry;   // the port's value before was out of its range
    portEntry.before[2].value = "70000";
    portEntry.before[3].value = "mine";

    struct Case {
        const char* what;
        WriteKind kind;
        RecordTable fresh;
        std::vector<std::pair<int, const char*>> changes;
        const RecordTable* shown;
        const JournalEntry* restoring;
        const char* serial;   // the device written to; "" for S1
        const char* mac;      // "" for M1
        bool force;
        int result;
        const char* listed;   // the change list "KEY: before -> after" joined by "; ", or the
                              // refusal's sentence, then any notes after " | "
        const char* written;  // the records of the table, "KEY=value;...", or nullptr
    } cases[] = {
        {"set: a changed value and the rest as reported", WriteKind::Set, device,
         {{KEY_HOST_NAME, "lobby"}}, nullptr, nullptr, "", "", false, PLAN_WRITE,
         "HOST_NAME: printer-a -> lobby",
         "DEV=NP;MAC=M1;IP=10.0.0.5;PRNT_PORT=9100;PRNT_RCV_TMO=90;HOST_NAME=lobby;SERIAL_NUM=S1"},
        {"set: the values the device has already", WriteKind::Set, device,
         {{KEY_PRNT_PORT, "9100"}, {KEY_HOST_NAME, "printer-a"}}, nullptr, nullptr, "", "", false,
         PLAN_NOTHING, "", nullptr},
        {"set: a value its rule refuses", WriteKind::Set, device, {{KEY_PRNT_PORT, "65536"}},
         nullptr, nullptr, "", "", false, PLAN_BAD_VALUE,
         "PRNT_PORT: Enter an integer between 0 and 65535.", nullptr},
        {"set: a read-only key", WriteKind::Set, device, {{KEY_DEV, "x"}}, nullptr, nullptr, "", "",
         false, PLAN_BAD_VALUE, "DEV: Device name cannot be changed.", nullptr},
        {"load: the device's own host name whatever its bytes", WriteKind::Load, device,
         {{KEY_HOST_NAME, "caf\xE9"}}, nullptr, nullptr, "", "", false, PLAN_WRITE,
         "HOST_NAME: printer-a -> caf\xE9",
         "DEV=NP;MAC=M1;IP=10.0.0.5;PRNT_PORT=9100;PRNT_RCV_TMO=90;HOST_NAME=caf\xE9;SERIAL_NUM=S1"},
        {"set: a reported value out of its range blocks nothing",
         WriteKind::Set, Records({{KEY_MAC, "M1"}, {KEY_PRNT_PORT, "70000"}, {KEY_HOST_NAME, "a"}}),
         {{KEY_HOST_NAME, "b"}}, nullptr, nullptr, "", "", false, PLAN_WRITE, "HOST_NAME: a -> b",
         "MAC=M1;HOST_NAME=b"},
        {"set: a key reported twice is listed with what will be written", WriteKind::Set,
         Records({{KEY_MAC, "M1"}, {KEY_HOST_NAME, "first"}, {KEY_PRNT_PORT, "1"},
                  {KEY_HOST_NAME, "last"}}),
         {{KEY_PRNT_PORT, "2"}}, nullptr, nullptr, "", "", false, PLAN_WRITE,
         "PRNT_PORT: 1 -> 2; HOST_NAME: first -> last", "MAC=M1;PRNT_PORT=2;HOST_NAME=last"},
        {"set: a key reported twice lists as before the value that differs", WriteKind::Set,
         Records({{KEY_MAC, "M1"}, {KEY_HOST_NAME, "x"}, {KEY_HOST_NAME, "y"}}),
         {{KEY_HOST_NAME, "x"}}, nullptr, nullptr, "", "", false, PLAN_WRITE, "HOST_NAME: y -> x",
         "MAC=M1;HOST_NAME=x"},
        {"form: the device changed a value the user did not touch", WriteKind::FormEdit,
         overwritten, {{KEY_PRNT_PORT, "9101"}}, &afterEntry, nullptr, "", "", false, PLAN_CHANGED,
         "The device's configuration changed since it was read: HOST_NAME: mine -> colleague. "
         "Nothing was written.",
         nullptr},
        {"form: every changed value is named", WriteKind::FormEdit,
         Records({{KEY_MAC, "M1"}, {KEY_IP, "10.0.0.6"}, {KEY_HOST_NAME, "colleague"}}),
         {}, &device, nullptr, "", "", false, PLAN_CHANGED,
         "The device's configuration changed since it was read: DEV: NP -> (none), IP: 10.0.0.5 -> "
         "10.0.0.6, PRNT_PORT: 9100 -> (none), PRNT_RCV_TMO: 90 -> (none), HOST_NAME: printer-a -> "
         "colleague, SERIAL_NUM: S1 -> (none). Nothing was written.",
         nullptr},
        {"form: a value the user changed is written as typed", WriteKind::FormEdit, overwritten,
         {{KEY_HOST_NAME, "typed"}}, &afterEntry, nullptr, "", "", false, PLAN_WRITE,
         "HOST_NAME: colleague -> typed", "DEV=NP;MAC=M1;PRNT_PORT=9100;HOST_NAME=typed;SERIAL_NUM=S1"},
        {"form: Auto-detect chosen where the device reported no line speed", WriteKind::FormEdit,
         device, {{KEY_ENET_SPD, "0"}}, &device, nullptr, "", "", false, PLAN_WRITE,
         "ENET_SPD:  -> 0",
         "DEV=NP;MAC=M1;ENET_SPD=0;IP=10.0.0.5;PRNT_PORT=9100;PRNT_RCV_TMO=90;HOST_NAME=printer-a;"
         "SERIAL_NUM=S1"},
        {"restore: what the entry changed goes back; a key empty before and a read-only key stay",
         WriteKind::Restore, afterEntry, {}, nullptr, &entry, "", "", false, PLAN_WRITE,
         "HOST_NAME: mine -> printer-a | PRNT_PORT had no value before entry 12; left as it is. | "
         "DEV cannot be written; left as it is.",
         "DEV=NP;MAC=M1;PRNT_PORT=9100;HOST_NAME=printer-a;SERIAL_NUM=S1"},
        {"restore: a value changed since the entry refuses it", WriteKind::Restore, overwritten, {},
         nullptr, &entry, "", "", false, PLAN_OVERWRITES,
         "HOST_NAME is colleague now, not mine as entry 12 wrote it. Nothing was restored; "
         "--force restores anyway. | PRNT_PORT had no value before entry 12; left as it is. | "
         "DEV cannot be written; left as it is.",
         nullptr},
        {"restore: a key the device no longer reports counts as changed since", WriteKind::Restore,
         Records({{KEY_DEV, "NP"}, {KEY_MAC, "M1"}, {KEY_PRNT_PORT, "9100"}, {KEY_SERIAL_NUM, "S1"}}),
         {}, nullptr, &entry, "", "", false, PLAN_OVERWRITES,
         "HOST_NAME is (none) now, not mine as entry 12 wrote it. Nothing was restored; "
         "--force restores anyway. | PRNT_PORT had no value before entry 12; left as it is. | "
         "DEV cannot be written; left as it is.",
         nullptr},
        {"restore: forced over a value changed since", WriteKind::Restore, overwritten, {}, nullptr,
         &entry, "", "", true, PLAN_WRITE,
         "HOST_NAME: colleague -> printer-a | PRNT_PORT had no value before entry 12; left as it "
         "is. | DEV cannot be written; left as it is.",
         "DEV=NP;MAC=M1;PRNT_PORT=9100;HOST_NAME=printer-a;SERIAL_NUM=S1"},
        {"restore: a value out of its range before is no value", WriteKind::Restore, afterEntry, {},
         nullptr, &portEntry, "", "", false, PLAN_NOTHING,
         " | PRNT_PORT had no value before entry 12; left as it is. | DEV cannot be written; left "
         "as it is.",
         nullptr},
        {"restore: a device sharing the entry's serial but not its MAC", WriteKind::Restore,
         afterEntry, {}, nullptr, &entry, "S1", "M2", false, PLAN_WRONG_DEVICE,
         "The device is not the one the entry's write went to.", nullptr},
        {"restore: a device sharing the entry's MAC but not its serial", WriteKind::Restore,
         afterEntry, {}, nullptr, &entry, "S2", "M1", false, PLAN_WRONG_DEVICE,
         "The device is not the one the entry's write went to.", nullptr},
    };
    for (const Case& c : cases) {
        std::vector<WriteChange> asked;
        for (const auto& [key, text] : c.changes)
            asked.push_back({key, text, c.kind == WriteKind::Load});
        WritePlanInput in;
        in.kind = c.kind;
        in.fresh = &c.fresh;
        in.shown = c.shown;
        in.mac = c.mac[0] ? c.mac : "M1";
        in.serial = c.serial[0] ? c.serial : "S1";
        in.changes = asked.data();
        in.changeCount = static_cast<int>(asked.size());
        in.restoring = c.restoring;
        in.force = c.force;
        auto plan = std::make_unique<WritePlan>();
        EXPECT_EQ(PlanWrite(in, plan.get()), c.result) << c.what;

        std::string listed;
        char line[512];
        if (FormatPlanRefusal(*plan, line, sizeof line, "--force restores anyway.") > 0)
            listed = line;
        for (int i = 0; i < plan->changeCount; ++i) {
            const PlanValues& v = plan->changes[i];
            listed += std::string(i ? "; " : "") + KeyTable[v.key].key + ": " + v.first + " -> " +
                      v.second;
        }
        for (int i = 0; FormatPlanNote(*plan, i, line, sizeof line) > 0; ++i)
            listed += std::string(" | ") + line;
        EXPECT_EQ(listed, c.listed) << c.what;

        std::string written;
        for (int i = 0; i < plan->records; ++i) {
            std::string v(plan->table[i].value, static_cast<size_t>(plan->table[i].width));
            v.erase(v.find_last_not_of(' ') + 1);
            written += std::string(written.empty() ? "" : ";") + plan->table[i].key + "=" + v;
        }
        if (c.written) {
            EXPECT_EQ(written, c.written) << c.what;
        } else if (c.result != PLAN_NOTHING) {
            EXPECT_EQ(plan->records, 0) << c.what << ": a refused write carries nothing";
        }
    }
}

// The journal entry of a planned write: its action and the entry it undoes
// come from the plan, its before values are the fresh read.
TEST(WritePlanner, TheJournalEntryRecordsThePlannedWrite)
{
    const RecordTable device = Records({{KEY_MAC, "M1"}, {KEY_HOST_NAME, "a"}, {KEY_SERIAL_NUM, "S1"}});
    const WriteChange change{KEY_HOST_NAME, "b", false};
    WritePlanInput in;
    in.kind = WriteKind::Set;
    in.fresh = &device;
    in.mac = "M1";
    in.serial = "S1";
    in.changes = &change;
    in.changeCount = 1;
    auto plan = std::make_unique<WritePlan>();
    ASSERT_EQ(PlanWrite(in, plan.get()), PLAN_WRITE);
    const JournalEntry set = PlanJournalEntry(*plan, "pathlume-cli", "S1", "M1", &plan->table);
    EXPECT_EQ(set.action, "set");
    EXPECT_EQ(set.restores, 0);
    EXPECT_EQ(set.outcome, "verified");
    ASSERT_EQ(JournalChanges(set).size(), 1u);
    EXPECT_EQ(JournalChanges(set)[0].before, "a");
    EXPECT_EQ(JournalChanges(set)[0].after, "b");

    JournalEntry undone = set;
    undone.number = 7;
    const RecordTable now = Records({{KEY_MAC, "M1"}, {KEY_HOST_NAME, "b"}, {KEY_SERIAL_NUM, "S1"}});
    in.kind = WriteKind::Restore;
    in.fresh = &now;
    in.restoring = &undone;
    ASSERT_EQ(PlanWrite(in, plan.get()), PLAN_WRITE);
    const JournalEntry restore = PlanJournalEntry(*plan, "pathlume", "S1", "M1", nullptr);
    EXPECT_EQ(restore.action, "restore");
    EXPECT_EQ(restore.restores, 7);
    EXPECT_EQ(restore.outcome, "no answer");
    EXPECT_EQ(restore.written.size(), 3u);
}

}  // namespace
