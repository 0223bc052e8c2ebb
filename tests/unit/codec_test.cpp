#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec.h"
#include "record_lines.h"

namespace {

std::string Bytes(const uint8_t* p, int n)
{
    return std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
}

// "KEY = value<padded to width>\r\n"
using testrig::Line;

const std::string kEnd = "*END* = \r\n";

int CountRecords(const RecordTable& t)
{
    int n = 0;
    while (n < kRecordSlots && !IsEmptyRecord(&t[n]))
        ++n;
    return n;
}

class CodecTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearReplyTable();
        ClearWriteTable();
    }
};

TEST_F(CodecTest, FindFrameIsTheExactTwentyOneBytes)
{
    uint8_t buf[64];
    ASSERT_EQ(BuildFindFrame(buf, sizeof buf), 21);
    const uint8_t expected[21] = {0x00, 0x0D, 0xAC, 0x00, 0x0D, 0xAC, 0x00, 0x01, 0x00, 0x00, 0x00,
                                  0x2A, 0x45, 0x4E, 0x44, 0x2A, 0x20, 0x3D, 0x20, 0x0D, 0x0A};
    EXPECT_EQ(0, std::memcmp(buf, expected, 21));
}

TEST_F(CodecTest, GetConfigFrameNamesMacAndSerial)
{
    uint8_t buf[128];
    ASSERT_EQ(BuildGetConfigFrame("00112233AABB", buf, "S1234", sizeof buf), 72);
    const std::string header("\x00\x0D\xAC\x00\x0D\xAC\x00\x02\x00\x00\x00", 11);
    const std::string body = "MAC = 00112233AABB\r\nSERIAL_NUM = S1234           \r\n" + kEnd;
    EXPECT_EQ(Bytes(buf, 72), header + body);

    // A 14-character MAC text is cut to its first 12 characters.
    uint8_t cut[128];
    ASSERT_EQ(BuildGetConfigFrame("00112233AABBCC", cut, "S1234", sizeof cut), 72);
    EXPECT_EQ(Bytes(cut, 72), Bytes(buf, 72));
}

TEST_F(CodecTest, BuildersRefuseMissingArgumentsAndSmallBuffers)
{
    uint8_t buf[640];
    std::memset(buf, 0x5A, sizeof buf);
    struct Case {
        const char* what;
        int result;
    } cases[] = {
        {"find null", BuildFindFrame(nullptr, 640)},
        {"find 20", BuildFindFrame(buf, 20)},
        {"get null buf", BuildGetConfigFrame("00112233AABB", nullptr, "S", 640)},
        {"get null mac", BuildGetConfigFrame(nullptr, buf, "S", 640)},
        {"get 71", BuildGetConfigFrame("00112233AABB", buf, "S", 71)},
        {"set null buf", BuildSetConfigFrame(nullptr, &WriteTable, 640)},
        {"set null table", BuildSetConfigFrame(buf, nullptr, 640)},
        {"set 536", BuildSetConfigFrame(buf, &WriteTable, 536)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, -1) << c.what;
    for (uint8_t b : buf)
        ASSERT_EQ(b, 0x5A) << "a refused build wrote into the buffer";

    EXPECT_EQ(BuildFindFrame(buf, 21), 21);
    EXPECT_EQ(BuildGetConfigFrame("00112233AABB", buf, "S", 72), 72);
    EXPECT_EQ(BuildSetConfigFrame(buf, &WriteTable, 537), 21);
}

TEST_F(CodecTest, SetConfigOverEmptyTableIsHeaderAndTerminator)
{
    uint8_t buf[640];
    ASSERT_EQ(BuildSetConfigFrame(buf, &WriteTable, sizeof buf), 21);
    EXPECT_EQ(buf[7], 3);
    EXPECT_EQ(buf[6], 0x00);
    EXPECT_EQ(Bytes(buf + 11, 10), kEnd);
}

TEST_F(CodecTest, SetConfigOverFullKeyTableWritesEveryLineInSlotOrder)
{
    // Every key but IP_CUR: the 537-byte frame the minimum buffer is sized for.
    std::string expected("\x00\x0D\xAC\x00\x0D\xAC\x00\x03\x00\x00\x00", 11);
    int slot = 0;
    for (int k = kKeyCount - 1; k >= 0; --k) {   // reverse order: no reordering happens
        if (k == KEY_IP_CUR)
            continue;
        ConfigRecord& r = WriteTable[slot++];
        r.key = KeyTable[k].key;
        r.width = KeyTable[k].width;
        std::memset(r.value, 0, sizeof r.value);
        std::memset(r.value, 'a' + k, static_cast<size_t>(r.width));
        expected += Line(r.key, std::string(static_cast<size_t>(r.width), static_cast<char>('a' + k)));
    }
    expected += kEnd;
    ASSERT_EQ(expected.size(), 537u);
    uint8_t buf[640];
    ASSERT_EQ(BuildSetConfigFrame(buf, &WriteTable, 537), 537);
    EXPECT_EQ(Bytes(buf, 537), expected);
}

TEST_F(CodecTest, SetConfigThatWouldOverrunTheBufferIsRefused)
{
    // 21 records of the widest key: far more than 640 bytes.
    for (int i = 0; i < kRecordSlots; ++i) {
        WriteTable[i].key = KeyTable[KEY_MANUFACTURER].key;
        WriteTable[i].width = 32;
        std::memset(WriteTable[i].value, 'x', 32);
    }
    std::vector<uint8_t> buf(700, 0x5A);
    EXPECT_EQ(BuildSetConfigFrame(buf.data(), &WriteTable, 640), -1);
    EXPECT_EQ(buf[0], 0x5A);
    EXPECT_EQ(BuildSetConfigFrame(buf.data(), &WriteTable, 700), -1);
}

TEST_F(CodecTest, FormatRecordLinePadsCutsAndCounts)
{
    ConfigRecord r;
    ClearRecord(&r);
    r.key = "HOST_NAME";
    r.width = 32;
    std::strcpy(r.value, "printer-1");
    uint8_t buf[64];
    ASSERT_EQ(FormatRecordLine(buf, &r), 46);
    EXPECT_EQ(Bytes(buf, 46), Line("HOST_NAME", "printer-1"));

    // An empty value is written as a field of spaces; a long value is cut.
    ClearRecord(&r);
    r.key = "ENET_SPD";
    r.width = 1;
    ASSERT_EQ(FormatRecordLine(buf, &r), 14);
    EXPECT_EQ(Bytes(buf, 14), "ENET_SPD =  \r\n");
    std::strcpy(r.value, "42");
    ASSERT_EQ(FormatRecordLine(buf, &r), 14);
    EXPECT_EQ(Bytes(buf, 14), "ENET_SPD = 4\r\n");
}

TEST_F(CodecTest, ClearRecordAndIsEmptyRecord)
{
    EXPECT_TRUE(IsEmptyRecord(nullptr));
    ClearRecord(nullptr);   // nothing happens
    ConfigRecord r;
    r.key = "DEV";
    r.width = 16;
    std::memset(r.value, 'q', sizeof r.value);
    EXPECT_FALSE(IsEmptyRecord(&r));
    ClearRecord(&r);
    EXPECT_TRUE(IsEmptyRecord(&r));
    EXPECT_STREQ(r.key, "");
    for (char c : r.value)
        ASSERT_EQ(c, 0);
}

TEST_F(CodecTest, MatchRecordLineCopiesTheFieldAndTrimsOnlyTrailingSpaces)
{
    ConfigRecord r;
    ClearRecord(&r);
    const std::string text = Line("HOST_NAME", " a b ") + Line("DEV", "x");
    ASSERT_EQ(MatchRecordLine(text.c_str(), text.size(), "HOST_NAME", 32, &r), 46);
    EXPECT_STREQ(r.value, " a b");
    EXPECT_EQ(r.width, 32);
    EXPECT_EQ(r.key, std::string("HOST_NAME"));

    ConfigRecord untouched;
    ClearRecord(&untouched);
    EXPECT_EQ(MatchRecordLine(text.c_str(), text.size(), "DEV", 16, &untouched), 0);
    EXPECT_EQ(MatchRecordLine("host_name = x", 13, "HOST_NAME", 32, &untouched), 0);
    EXPECT_EQ(MatchRecordLine("HOST_NAME =x", 12, "HOST_NAME", 32, &untouched), 0);
    EXPECT_EQ(MatchRecordLine("HOST", 4, "HOST_NAME", 32, &untouched), 0);
    EXPECT_TRUE(IsEmptyRecord(&untouched));

    // A field of spaces only gives an empty value in a record that is not empty.
    ASSERT_EQ(MatchRecordLine(Line("DEV", "").c_str(), 24, "DEV", 16, &r), 24);
    EXPECT_STREQ(r.value, "");
    EXPECT_FALSE(IsEmptyRecord(&r));
}

TEST_F(CodecTest, ParseFindReplyTextAndReadNextLineAtFixedOffset)
{
    const std::string text = Line("DEV", "NP-2400") + Line("VER", "1.02") +
                              Line("MAC", "02C0EE000001") + Line("IP_CUR", "10.0.0.5") +
                              Line("HOST_NAME", "printer-1") + Line("SERIAL_NUM", "SN1") + kEnd;
    ASSERT_EQ(ParseConfigText(text.c_str(), text.size(), nullptr, nullptr), 0);
    ASSERT_EQ(CountRecords(ReplyTable), 6);
    EXPECT_STREQ(ReplyTable[0].value, "NP-2400");
    EXPECT_STREQ(ReplyTable[4].value, "printer-1");
    EXPECT_STREQ(ReplyTable[5].key, "SERIAL_NUM");
    EXPECT_STREQ(ReplyTable[5].value, "SN1");
}

struct HostileCase {
    const char* name;
    std::string text;
    int result;
    int recordsKept;
};

TEST_F(CodecTest, ParserOnHostileText)
{
    const std::string dev = Line("DEV", "D1");
    const HostileCase cases[] = {
        // 10.0.0.5 unpadded: 15 bytes copied, lands mid-key, -2 with the IP record kept.
        {"unpadded ip", dev + "IP = 10.0.0.5\r\n" + Line("SUBNET_MASK", "255.0.0.0") + kEnd, -2, 2},
        {"two-digit speed", dev + "ENET_SPD = 12\r\n" + kEnd, -2, 2},
        {"lower-case key first", "dev = " + std::string(16, ' ') + "\r\n" + kEnd, -2, 0},
        {"unknown key", dev + "COLOUR = red\r\n" + kEnd, -2, 1},
        {"stray bytes", dev + "\x01\x02" + kEnd, -2, 1},
        {"terminator only", kEnd, 0, 0},
        {"terminator swallowed by a value", "DEV = ab" + kEnd, -2, 1},
        {"empty text", "", -8, 0},
    };
    for (const HostileCase& c : cases) {
        ClearReplyTable();
        EXPECT_EQ(ParseConfigText(c.text.c_str(), c.text.size(), nullptr, nullptr), c.result) << c.name;
        EXPECT_EQ(CountRecords(ReplyTable), c.recordsKept) << c.name;
    }
}

// The parser is given a length and reads nothing past it: each text sits
// at the very end of a heap block of its own size, with no zero after it
// (an address sanitizer catches a read one byte beyond). A text whose
// terminator lies beyond the length it is given has none.
TEST_F(CodecTest, TheParserReadsOnlyTheLengthItIsGiven)
{
    const std::string full = Line("DEV", "D1") + Line("MAC", "02C0EE000001") + kEnd;
    const std::string zeroInValue =
        Line("DEV", "D1") + std::string("IP =  \0", 8) + std::string(12, ' ') + "\r\n" + kEnd;
    const struct Case {
        const char* name;
        std::string bytes;
        size_t length;
        int result;
        int recordsKept;
    } cases[] = {
        {"a whole reply", full, full.size(), 0, 2},
        {"cut inside the terminator", full, full.size() - 1, -8, 0},
        {"cut before the terminator", full, full.size() - kEnd.size(), -8, 0},
        {"terminator, then a key cut at the end", kEnd + "HOST_NAME = ", kEnd.size() + 12, 0, 0},
        {"a value running to the end", "DEV = ab" + kEnd + "IP = 1", 24, -2, 1},
        {"a key cut at the end after a terminator in a value", "HOST_NAME = " + kEnd + "MA", 24, -2, 1},
        {"the terminator's star alone at the end", "DEV = x*", 8, -8, 0},
        {"empty", "", 0, -8, 0},
        {"a zero inside a value ends the text", zeroInValue, zeroInValue.size(), -8, 0},
    };
    for (const Case& c : cases) {
        ClearReplyTable();
        const std::unique_ptr<char[]> block(new char[c.length ? c.length : 1]);
        std::memcpy(block.get(), c.bytes.data(), c.length);
        EXPECT_EQ(ParseConfigText(block.get(), c.length, nullptr, nullptr), c.result) << c.name;
        EXPECT_EQ(CountRecords(ReplyTable), c.recordsKept) << c.name;
    }
    // A value cut by the length keeps only what the text holds.
    const std::string cut = "HOST_NAME = abcdef" + kEnd;
    ConfigRecord r;
    EXPECT_EQ(MatchRecordLine(cut.c_str(), 15, "HOST_NAME", 32, &r), 46);
    EXPECT_STREQ(r.value, "abc");
}

TEST_F(CodecTest, UnpaddedIpKeepsTheFifteenBytesItCopied)
{
    const std::string text = "IP = 10.0.0.5\r\nSUBNET_MASK = 255.255.255.0  \r\n" + kEnd;
    ASSERT_EQ(ParseConfigText(text.c_str(), text.size(), nullptr, nullptr), -2);
    EXPECT_EQ(std::string(ReplyTable[0].value), "10.0.0.5\r\nSUBNE");
}

TEST_F(CodecTest, TwoDigitSpeedKeepsTheFirstDigit)
{
    const std::string speed = "ENET_SPD = 12\r\n" + kEnd;
    ASSERT_EQ(ParseConfigText(speed.c_str(), speed.size(), nullptr, nullptr), -2);
    EXPECT_STREQ(ReplyTable[0].value, "1");
}

TEST_F(CodecTest, MissingTerminatorKeepsThePreviousReply)
{
    const std::string first = Line("DEV", "first") + kEnd;
    const std::string second = Line("DEV", "second");
    ASSERT_EQ(ParseConfigText(first.c_str(), first.size(), nullptr, nullptr), 0);
    EXPECT_EQ(ParseConfigText(second.c_str(), second.size(), nullptr, nullptr), -8);
    EXPECT_STREQ(ReplyTable[0].value, "first");
    EXPECT_EQ(ParseConfigText(nullptr, 0, nullptr, nullptr), -1);
    EXPECT_STREQ(ReplyTable[0].value, "first");
}

TEST_F(CodecTest, TwentyTwoRecordsKeepTwentyOne)
{
    std::string text;
    for (int i = 0; i < 22; ++i)
        text += Line("DEV", "d" + std::to_string(i));
    text += kEnd;
    ASSERT_EQ(ParseConfigText(text.c_str(), text.size(), nullptr, nullptr), 0);
    EXPECT_EQ(CountRecords(ReplyTable), 21);
    EXPECT_STREQ(ReplyTable[20].value, "d20");
}

TEST_F(CodecTest, MacMatchFollowsTheLastMacRecordCaseSensitively)
{
    struct Case {
        std::string text;
        const char* expected;
        uint8_t initial;
        uint8_t want;
    } cases[] = {
        {Line("MAC", "02C0EE0000AA") + kEnd, "02C0EE0000AA", 0, 1},
        {Line("MAC", "02C0EE0000AA") + kEnd, "02c0ee0000aa", 1, 0},
        {Line("MAC", "02C0EE0000AA") + Line("MAC", "02C0EE0000BB") + kEnd, "02C0EE0000BB", 0, 1},
        {Line("MAC", "02C0EE0000BB") + Line("MAC", "02C0EE0000AA") + kEnd, "02C0EE0000BB", 1, 0},
        {Line("DEV", "no mac") + kEnd, "02C0EE0000AA", 7, 7},
    };
    for (const Case& c : cases) {
        uint8_t flag = c.initial;
        ASSERT_EQ(ParseConfigText(c.text.c_str(), c.text.size(), c.expected, &flag), 0);
        EXPECT_EQ(flag, c.want) << c.text;
    }
    // Without a flag to set, the match is simply not reported.
    EXPECT_EQ(ParseConfigText(cases[0].text.c_str(), cases[0].text.size(), "02C0EE0000AA", nullptr), 0);
}

TEST_F(CodecTest, ParseEveryKeyOfTheTable)
{
    std::string text;
    for (const KeyInfo& k : KeyTable)
        text += Line(k.key, std::string(static_cast<size_t>(k.width), 'v'));
    text += kEnd;
    ASSERT_EQ(ParseConfigText(text.c_str(), text.size(), nullptr, nullptr), 0);
    ASSERT_EQ(CountRecords(ReplyTable), kKeyCount);
    for (int i = 0; i < kKeyCount; ++i) {
        EXPECT_EQ(ReplyTable[i].key, KeyTable[i].key);   // refers to the table's text
        EXPECT_EQ(std::strlen(ReplyTable[i].value), static_cast<size_t>(KeyTable[i].width));
    }
    EXPECT_TRUE(IsEmptyRecord(&ReplyTable[kKeyCount]));
}

}  // namespace
