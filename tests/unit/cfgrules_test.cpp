#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <string>

#include "cfgrules.h"
#include "codec.h"

namespace {

TEST(CfgRules, AddressTextsReadAsTheSocketLibraryReadsThem)
{
    const char* texts[] = {
        "192.168.0.10", "192.168.000.010", "0x0A.1.2.3", "0XfF.0.0.1", "10.1", "10.1.2",
        "3232235777",   "0",               "255.255.255.255", "1.2.3.256", "1.2.65535",
        "1.2.65536",    "1.16777215",      "1.16777216", "1.2.3.4 trailing", "1.2.3.4\t",
        "1.2.3.4.",     "1..2.3",          ".1.2.3", " 1.2.3.4", "", "0x", "08", "1.2.3.4x",
        "printer",      "4294967295",      "4294967296", "1.2.3.4.5", "00000000012.1.1.1",
    };
    for (const char* t : texts) {
        in_addr ref{};
        const bool expected = inet_aton(t, &ref) != 0;
        uint8_t o[4] = {};
        ASSERT_EQ(ParseCfgAddress(t, o), expected) << '"' << t << '"';
        if (expected) {
            EXPECT_EQ(std::memcmp(o, &ref.s_addr, 4), 0) << '"' << t << '"';
        }
    }
}

TEST(CfgRules, ValuesAreCheckedWithTheFormsMessages)
{
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
        {KEY_PRNT_PORT, "", "Enter a positive integer."},
        {KEY_PRNT_PORT, "91x", "Enter a positive integer."},
        {KEY_PRNT_PORT, "-1", "Enter a positive integer."},
        {KEY_PRNT_RCV_TMO, "29", "Enter an integer between 30 and 65535."},
        {KEY_PRNT_RCV_TMO, "30", ""},
        {KEY_ENET_SPD, "100basetx FULL duplex", ""},
        {KEY_ENET_SPD, "5",
         "Choose one of Line speed: 0 (Auto-detect), 1 (10BaseT Half duplex), 2 (10BaseT Full "
         "duplex), 3 (100BaseTX Half duplex), 4 (100BaseTX Full duplex)."},
        {KEY_DHCP, "Enable", ""},
        {KEY_DHCP, "1", ""},
        {KEY_DHCP, "yes", "Choose one of IP address from DHCP: 0 (Disable), 1 (Enable)."},
        {KEY_IP, "10.1", ""},
        {KEY_GATEWAY, "1.2.3.999", "Enter an IP address such as 192.168.0.10 in Gateway IP address."},
    };
    for (const Case& c : cases) {
        CfgFormState s{};
        const int r = SetCfgValue(&s, c.key, c.text);
        char msg[256] = "";
        if (r != CFG_OK)
            FormatCfgMessage(msg, sizeof msg, r, *FindCfgField(c.key));
        EXPECT_STREQ(msg, c.message) << KeyTable[c.key].key << "=" << c.text;
    }
    // Keys outside the form's editable fields are not set this way.
    CfgFormState s{};
    EXPECT_EQ(SetCfgValue(&s, KEY_MAC, "02C0EE000001"), CFG_NOT_WRITABLE);
    EXPECT_EQ(SetCfgValue(&s, KEY_IP_DFLT, "1.2.3.4"), CFG_NOT_WRITABLE);
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
    };
    for (const Case& c : cases) {
        char line[128];
        const int differ = VerifyWrite(written, c.reread, line, sizeof line);
        EXPECT_STREQ(line, c.line) << c.what;
        EXPECT_EQ(differ == 0, std::strcmp(c.line, "Configuration verified.") == 0) << c.what;
    }
    // A small buffer is cut, never overrun.
    char tiny[8];
    std::memset(tiny, 'x', sizeof tiny);
    VerifyWrite(written, cases[1].reread, tiny, 6);
    EXPECT_STREQ(tiny, "Devic");
    EXPECT_EQ(tiny[6], 'x');
}

}  // namespace
