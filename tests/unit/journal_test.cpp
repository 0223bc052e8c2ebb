// The journal of writes: its lines read back to exactly what was written,
// damaged lines are skipped and counted, appends survive a cut line, and
// what a write changed (and its undoing) is judged by value.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "codec.h"
#include "journal.h"
#include "portable.h"

namespace {

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

JournalEntry SampleEntry()
{
    JournalEntry e;
    e.time = "2024-05-01T09:30:00Z";
    e.program = "pathlume-cli";
    e.action = "restore";
    e.restores = 7;
    e.serial = "SN\"01\\";
    e.mac = "02C0EE32E400";
    // Device text is bytes: a quote, a backslash, control characters, a
    // byte beyond ASCII, and a line break that must not end the line.
    e.before = {{"MAC", "02C0EE32E400"},
                {"IP", "192.168.000.010"},
                {"HOST_NAME", std::string("lobby\r\n\"east\"\\\x1b") + static_cast<char>(0xE9)},
                {"SNMP_PASSWORD", ""}};
    e.written = {{"MAC", "02C0EE32E400"}, {"IP", "192.168.0.10"}, {"HOST_NAME", "front"}};
    e.outcome = "not taken";
    e.notTaken = {"HOST_NAME"};
    return e;
}

void ExpectSame(const JournalEntry& a, const JournalEntry& b)
{
    EXPECT_EQ(a.time, b.time);
    EXPECT_EQ(a.program, b.program);
    EXPECT_EQ(a.action, b.action);
    EXPECT_EQ(a.restores, b.restores);
    EXPECT_EQ(a.serial, b.serial);
    EXPECT_EQ(a.mac, b.mac);
    ASSERT_EQ(a.before.size(), b.before.size());
    for (size_t i = 0; i < a.before.size(); ++i) {
        EXPECT_EQ(a.before[i].key, b.before[i].key);
        EXPECT_EQ(a.before[i].value, b.before[i].value);
    }
    ASSERT_EQ(a.written.size(), b.written.size());
    for (size_t i = 0; i < a.written.size(); ++i) {
        EXPECT_EQ(a.written[i].key, b.written[i].key);
        EXPECT_EQ(a.written[i].value, b.written[i].value);
    }
    EXPECT_EQ(a.outcome, b.outcome);
    EXPECT_EQ(a.notTaken, b.notTaken);
}

class JournalFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = testrig::MakeTempFolder("pathlume-journal-");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::string dir_;
};

TEST(Journal, ALineReadsBackToTheSameBytes)
{
    const JournalEntry e = SampleEntry();
    const std::string line = JournalLine(e);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one record, one line";
    for (unsigned char c : line.substr(0, line.size() - 1))
        EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "a raw byte " << int(c) << " in " << line;
    EXPECT_NE(line.find("\\u00e9"), std::string::npos) << line;
    EXPECT_NE(line.find("\"restores\": 7"), std::string::npos) << line;

    JournalEntry back;
    ASSERT_TRUE(ParseJournalLine(line.substr(0, line.size() - 1), &back));
    ExpectSame(back, e);

    // Only a restore names the entry it undid.
    JournalEntry set = e;
    set.restores = 0;
    EXPECT_EQ(JournalLine(set).find("restores"), std::string::npos);
}

// Every key reads back as itself, and a name that is almost a key (one byte
// more, less or other) is no key.
TEST(Journal, EveryKeyReadsBackAndNoOtherName)
{
    JournalEntry e = SampleEntry();
    e.before.clear();
    for (const KeyInfo& k : KeyTable)
        e.before.push_back({k.key, "1"});
    std::string line = JournalLine(e);
    line.pop_back();
    JournalEntry back;
    ASSERT_TRUE(ParseJournalLine(line, &back)) << line;
    ASSERT_EQ(back.before.size(), static_cast<size_t>(kKeyCount));
    for (int k = 0; k < kKeyCount; ++k)
        EXPECT_EQ(back.before[static_cast<size_t>(k)].key, KeyTable[k].key);
    for (const KeyInfo& k : KeyTable) {
        const std::string key = k.key;
        std::string other = key;
        other.back() = other.back() == 'X' ? 'Y' : 'X';
        for (const std::string& name : {key + "S", key.substr(0, key.size() - 1), other, "x" + key}) {
            JournalEntry named = SampleEntry();
            named.before = {{name, "1"}};
            std::string l = JournalLine(named);
            l.pop_back();
            EXPECT_FALSE(ParseJournalLine(l, &back)) << name << " was taken for a key";
        }
    }
}

TEST(Journal, DamagedLinesAreRefused)
{
    std::string good = JournalLine(SampleEntry());
    good.pop_back();
    auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string s = good;
        const auto at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? s : s.replace(at, from.size(), to);
    };
    struct Case {
        const char* what;
        std::string line;
        bool ok;
        const char* front = nullptr;   // the written HOST_NAME read back, when checked
    } cases[] = {
        {"an unknown field, for later versions", replaced("\"time\"", "\"host\": 1, \"time\""), true},
        {"an unknown field in a record", replaced("\"value\": \"front\"", "\"value\": \"front\", \"x\": [{}]"),
         true, "front"},
        {"a record's key repeated, the last counting",
         replaced("{\"key\": \"HOST_NAME\", \"value\": \"front\"}",
                  "{\"value\": \"back\", \"key\": \"IP\", \"key\": \"HOST_NAME\", \"value\": \"fr\\u00e9nt\"}"),
         true, "fr\xe9nt"},
        {"an escape in a record's key", replaced("\"key\": \"HOST_NAME\"", "\"key\": \"HOST_\\u004eAME\""),
         true, "front"},
        {"a record's members the other way round",
         replaced("{\"key\": \"HOST_NAME\", \"value\": \"front\"}", "{\"value\": \"front\", \"key\": \"HOST_NAME\"}"),
         true, "front"},
        {"blanks around everything", replaced("{\"key\": \"HOST_NAME\", \"value\": \"front\"}",
                                              "{ \"key\" :\t\"HOST_NAME\" , \"value\"\r\n: \"front\" }"),
         true, "front"},
        {"escapes of every kind", replaced("\"front\"", "\"\\/\\b\\f\\n\\r\\t\\\"\\\\\""), true, "/\b\f\n\r\t\"\\"},
        {"a code point beyond one byte", replaced("\"front\"", "\"\\u0101\""), true, "\xc4\x81"},
        {"a raw control character", replaced("\"front\"", "\"fr\tnt\""), false},
        {"an unknown escape", replaced("\"front\"", "\"fr\\xnt\""), false},
        {"a short \\u escape", replaced("\"front\"", "\"fr\\u00\""), false},
        {"restores with a leading zero", replaced("\"restores\": 7", "\"restores\": 07"), false},
        {"restores below one", replaced("\"restores\": 7", "\"restores\": 0"), false},
        {"restores beyond an int, in digits", replaced("\"restores\": 7", "\"restores\": 2147483648"), false},
        {"restores at the most an int holds", replaced("\"restores\": 7", "\"restores\": 2147483647"), true},
        {"a written list that is not a list", replaced("\"written\": [", "\"written\": {\"a\": ["), false},
        {"an unknown key in not_taken", replaced("[\"HOST_NAME\"]", "[\"COLOUR\"]"), false},
        {"not_taken left out", replaced(", \"not_taken\": [\"HOST_NAME\"]", ""), true},
        {"cut short", good.substr(0, good.size() / 2), false},
        {"JSON, not an object", "[1, 2]", false},
        {"trailing text", good + " x", false},
        {"no time", replaced("\"time\": \"2024-05-01T09:30:00Z\", ", ""), false},
        {"no outcome", replaced(", \"outcome\": \"not taken\"", ""), false},
        {"a number for a text", replaced("\"program\": \"pathlume-cli\"", "\"program\": 5"), false},
        {"an unknown key", replaced("{\"key\": \"IP\"", "{\"key\": \"COLOUR\""), false},
        {"a record without its value", replaced(", \"value\": \"192.168.0.10\"", ""), false},
        {"a value longer than a field", replaced("\"front\"", "\"" + std::string(33, 'x') + "\""), false},
        {"a zero byte in a value", replaced("\"front\"", "\"fr\\u0000nt\""), false},
        {"a serial number too long", replaced("\"SN\\\"01\\\\\"", "\"SN-SEVENTEEN-CHRS\""), false},
        {"restores not a whole number", replaced("\"restores\": 7", "\"restores\": 1.5"), false},
        {"restores beyond an int", replaced("\"restores\": 7", "\"restores\": 1e300"), false},
    };
    for (const Case& c : cases) {
        JournalEntry e;
        EXPECT_EQ(ParseJournalLine(c.line, &e), c.ok) << c.what << ": " << c.line;
        if (c.ok && c.front) {
            ASSERT_EQ(e.written.size(), 3u) << c.what;
            EXPECT_EQ(e.written[2].key, "HOST_NAME") << c.what;
            EXPECT_EQ(e.written[2].value, c.front) << c.what;
        }
    }

}

// Plain text is passed over many bytes at a time: a quote, a backslash, an
// escape or a control character is found wherever it stands in a value
// (at every position of a full-width value, so at every place in a block of
// bytes), and the value reads as the escape says, or the line is refused.
TEST(Journal, AnEscapeOrControlCharacterAnywhereInAValue)
{
    std::string good = JournalLine(SampleEntry());
    good.pop_back();
    const size_t at = good.find("\"front\"");
    ASSERT_NE(at, std::string::npos);
    struct Case {
        const char* what;
        std::string text;    // as the line holds it
        std::string bytes;   // as it reads, when ok
        bool ok;
    } cases[] = {
        {"an escaped quote", "\\\"", "\"", true},
        {"an escaped backslash", "\\\\", "\\", true},
        {"a byte beyond ASCII as an escape", "\\u00e9", "\xe9", true},
        {"an escaped line break", "\\n", "\n", true},
        {"a raw byte beyond ASCII", "\xe9", "\xe9", true},
        {"a raw DEL", "\x7f", "\x7f", true},
        {"a raw blank", " ", " ", true},
        {"a raw tab", "\t", "", false},
        {"a raw unit separator", "\x1f", "", false},
        {"a raw zero byte", std::string(1, '\0'), "", false},
        {"a raw quote", "\"", "", false},
        {"an unknown escape", "\\x", "", false},
        {"an escaped zero byte", "\\u0000", "", false},
    };
    for (const Case& c : cases) {
        for (size_t i = 0; i < static_cast<size_t>(kMaxValueWidth); ++i) {
            const std::string before(i, 'a');
            const std::string after(static_cast<size_t>(kMaxValueWidth) - 1 - i, 'b');
            std::string line = good;
            line.replace(at, 7, "\"" + before + c.text + after + "\"");
            JournalEntry e;
            ASSERT_EQ(ParseJournalLine(line, &e), c.ok) << c.what << " at " << i;
            if (c.ok) {
                ASSERT_EQ(e.written.size(), 3u);
                EXPECT_EQ(e.written[2].value, before + c.bytes + after) << c.what << " at " << i;
            }
        }
    }
    // Cut anywhere, a line is refused, and nothing is read past its end (a
    // copy of exactly its length each time).
    for (size_t n = 0; n < good.size(); ++n) {
        JournalEntry e;
        EXPECT_FALSE(ParseJournalLine(good.substr(0, n), &e)) << "cut at " << n;
    }
}

TEST(Journal, JsonReaderTakesJsonAndNothingElse)
{
    struct Case {
        std::string text;
        bool ok;
        std::string string;   // a string's bytes, when ok and a string
    } cases[] = {
        {" \"\\u00e9\\u0041\\n\\/\" ", true, "\xE9" "A\n/"},
        {"\"\\u2603\"", true, "\xE2\x98\x83"},
        {"\"\\ud83d\\ude00\"", true, "\xF0\x9F\x98\x80"},
        {"\"\\ud83d\"", false, ""},
        {"\"tab\there\"", false, ""},
        {"\"open", false, ""},
        {"-0.5e+3", true, ""},
        {"012", false, ""},
        {"{\"a\": [true, false, null, {}], \"b\": []}", true, ""},
        {"{\"a\": 1,}", false, ""},
        {std::string(31, '[') + std::string(31, ']'), true, ""},
        {std::string(100000, '['), false, ""},   // too deep: refused, not a stack overflow
    };
    for (const Case& c : cases) {
        JsonValue v;
        EXPECT_EQ(ParseJson(c.text, &v), c.ok) << c.text.substr(0, 40);
        if (c.ok && v.type == JsonValue::Type::String) {
            EXPECT_EQ(v.text, c.string) << c.text;
        }
    }
    JsonValue v;
    ASSERT_TRUE(ParseJson("{\"n\": -0.5e+3, \"n\": 12}", &v));
    ASSERT_NE(v.Find("n"), nullptr);
    EXPECT_EQ(v.Find("n")->number, 12) << "the last of a repeated name counts";
    EXPECT_EQ(v.Find("m"), nullptr);
}

// What a write changed is judged as the write check judges it: addresses and
// numbers by value, texts byte for byte.
TEST(Journal, WhatAWriteChanged)
{
    JournalEntry e;
    e.before = {{"IP", "192.168.000.010"},    {"PRNT_PORT", "09100"},
                {"HOST_NAME", "old\xE9"},     {"DHCP", "0"},
                {"PRNT_RCV_TMO", "60"},       {"PRNT_RCV_TMO", "90"}};
    e.written = {{"IP", "192.168.0.10"},   {"PRNT_PORT", "9101"}, {"DHCP", "0"},
                 {"PRNT_RCV_TMO", "90"},   {"HOST_NAME", "new"},  {"GATEWAY", "10.0.0.1"},
                 {"DEV", "PS-910"}};
    const std::vector<JournalChange> changes = JournalChanges(e);
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_EQ(changes[0].key, "PRNT_PORT");
    EXPECT_EQ(changes[0].before, "09100");
    EXPECT_EQ(changes[0].after, "9101");
    EXPECT_EQ(changes[1].key, "HOST_NAME");
    EXPECT_TRUE(changes[1].hadBefore);
    EXPECT_EQ(changes[1].before, "old\xE9");   // a device text, byte for byte
    EXPECT_EQ(changes[2].key, "GATEWAY");
    EXPECT_FALSE(changes[2].hadBefore);
    EXPECT_EQ(changes[3].key, "DEV");   // written without having been read
}

TEST(Journal, AnEntryIsNamedBySerialOrMac)
{
    JournalEntry e;
    e.serial = "SN01";
    e.mac = "02C0EE32E400";
    struct Case {
        const char* device;
        bool names;
    } cases[] = {
        {"SN01", true},          {"02:c0:ee:32:e4:00", true},  {"SN01@02c0ee32e400", true},
        {"SN01@02C0EE32E401", false}, {"SN0", false},          {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JournalEntryNames(e, c.device), c.names) << c.device;
}

TEST(Journal, ThePathFollowsTheStateFolder)
{
#ifdef _WIN32
    const char* const names[] = {"LOCALAPPDATA"};
#else
    const char* const names[] = {"XDG_STATE_HOME", "HOME"};
#endif
    std::vector<std::pair<const char*, std::string>> saved;
    for (const char* name : names)
        if (const char* v = std::getenv(name))
            saved.emplace_back(name, v);
    struct Step {
        const char* name;
        const char* value;   // nullptr: unset
        const char* path;
    } steps[] = {
#ifdef _WIN32
        {"LOCALAPPDATA", "C:\\Users\\ann\\AppData\\Local", "C:\\Users\\ann\\AppData\\Local\\pathlume\\writes.jsonl"},
        {"LOCALAPPDATA", nullptr, ""},
#else
        {"HOME", "/home/someone", nullptr},
        {"XDG_STATE_HOME", "/var/state-test", "/var/state-test/pathlume/writes.jsonl"},
        {"XDG_STATE_HOME", "relative/state", "/home/someone/.local/state/pathlume/writes.jsonl"},   // not absolute: ignored
        {"XDG_STATE_HOME", nullptr, "/home/someone/.local/state/pathlume/writes.jsonl"},
        {"HOME", nullptr, ""},
#endif
    };
    for (const Step& step : steps) {
        if (step.value)
            testrig::SetEnv(step.name, step.value);
        else
            testrig::UnsetEnv(step.name);
        if (step.path) {
            EXPECT_EQ(JournalPath(), step.path)
                << step.name << "=" << (step.value ? step.value : "(unset)");
        }
    }
#ifdef _WIN32
    EXPECT_EQ(RecordWrite(SampleEntry()),
              "Cannot record this write in the state folder: LOCALAPPDATA is not set.");
#else
    EXPECT_EQ(RecordWrite(SampleEntry()),
              "Cannot record this write in the state folder: neither XDG_STATE_HOME nor HOME is set.");
#endif
    for (const auto& [name, value] : saved)
        testrig::SetEnv(name, value);
}

// Appending makes the folders and the file private, numbers stay the lines'
// numbers, a damaged line is skipped and counted, and a cut last line does
// not take the next record down with it.
TEST_F(JournalFile, AppendAndReadBack)
{
    const std::string path = dir_ + "/a/pathlume/writes.jsonl";
    JournalContents j;
    std::string reason;
    ASSERT_TRUE(ReadJournal(path, &j, &reason)) << "a journal not yet written is empty";
    EXPECT_TRUE(j.entries.empty());

    JournalEntry e = SampleEntry();
    ASSERT_TRUE(AppendJournalLine(path, JournalLine(e), &reason)) << reason;
#ifndef _WIN32   // Windows gives its files and folders no such modes
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((dir_ + "/a/pathlume").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((dir_ + "/a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
#endif

    // A damaged line, a blank one, and a record cut short by a full disk.
    std::ofstream(path, std::ios::app) << "not a record\n\n" << JournalLine(e).substr(0, 40);
    e.serial = "SN-AFTER-CUT";
    ASSERT_TRUE(AppendJournalLine(path, JournalLine(e), &reason)) << reason;
    ASSERT_TRUE(ReadJournal(path, &j, &reason)) << reason;
    ASSERT_EQ(j.entries.size(), 2u);
    EXPECT_EQ(j.entries[0].number, 1);
    EXPECT_EQ(j.entries[1].number, 5);
    EXPECT_EQ(j.entries[1].serial, "SN-AFTER-CUT");
    EXPECT_EQ(j.damaged, (std::vector<int>{2, 4}));
    const std::string text = Slurp(path);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5);

    // A journal that is not a file cannot be read, and says why.
    EXPECT_FALSE(ReadJournal(dir_ + "/a/pathlume", &j, &reason));
    EXPECT_EQ(reason, "Is a directory");
}

// The reader goes a buffer at a time: lines that straddle its buffer's
// ends, CR LF line ends, blank lines, a line longer than any entry (skipped
// as damaged, never held whole) and a last line without its end all read
// as the whole text would, and each entry reads again the same from its
// place.
TEST_F(JournalFile, AStreamReadsAsTheWholeText)
{
    const std::string path = dir_ + "/pathlume/writes.jsonl";
    std::filesystem::create_directory(dir_ + "/pathlume");
    std::filesystem::permissions(dir_ + "/pathlume", std::filesystem::perms::owner_all);
    std::string text;
    std::vector<std::string> serials;   // by line, "" for a line that is no entry
    std::vector<size_t> lengths;        // by line, the before host name's
    int overLong = 0;
    int badRecord = 0;
    JournalEntry e = SampleEntry();
    for (int i = 0; text.size() < 3 * JournalReader::kReadChunk + 5000; ++i) {
        e.serial = "SN-" + std::to_string(i);
        // Lines of many lengths, so that line ends fall all over the buffer.
        e.before[2].value = std::string(static_cast<size_t>(i * 7 % 32), 'h');
        std::string line = JournalLine(e);
        if (i % 5 == 1)
            line.insert(line.size() - 1, "\r");
        text += line;
        serials.push_back(e.serial);
        lengths.push_back(e.before[2].value.size());
        if (i % 9 == 4) {
            text += "\n";
            serials.push_back("");
            lengths.push_back(0);
        }
        if (i == 40) {
            text += std::string(JournalReader::kMaxLine + 10, 'x') + "\n";
            serials.push_back("");
            lengths.push_back(0);
            overLong = static_cast<int>(serials.size());
        }
        if (i == 20) {   // damaged only in a record: refused by a listing too
            JournalEntry bad = e;
            bad.written[1].key = "COLOUR";
            text += JournalLine(bad);
            serials.push_back("");
            lengths.push_back(0);
            badRecord = static_cast<int>(serials.size());
        }
        if (i == 40) {   // longer than the block read again, taken by the whole JSON reader
            e.serial += "-long";
            std::string line = JournalLine(e);
            line.insert(1, "\"note\": \"" + std::string(5 * JournalReader::kReadChunk, 'n') + "\", ");
            text += line;
            serials.push_back(e.serial);
            lengths.push_back(e.before[2].value.size());
        }
    }
    e.serial = "SN-LAST";
    std::string last = JournalLine(e);
    last.pop_back();   // no line end
    text += last;
    serials.push_back(e.serial);
    lengths.push_back(e.before[2].value.size());
    std::ofstream(path, std::ios::binary) << text;

    JournalReader reader;
    std::string reason;
    ASSERT_TRUE(reader.Open(path, &reason)) << reason;
    std::vector<JournalPlace> places;
    std::vector<std::string> read;
    JournalEntry got;
    while (reader.Next(&got)) {
        ASSERT_LE(got.number, static_cast<int>(serials.size()));
        EXPECT_EQ(got.serial, serials[static_cast<size_t>(got.number - 1)]) << "line " << got.number;
        EXPECT_EQ(reader.place().number, got.number);
        places.push_back(reader.place());
        read.push_back(got.serial);
    }
    EXPECT_EQ(reader.error(), "");
    const size_t entries = static_cast<size_t>(std::count_if(serials.begin(), serials.end(),
                                                             [](const std::string& s) { return !s.empty(); }));
    EXPECT_EQ(read.size(), entries);
    EXPECT_EQ(read.back(), "SN-LAST");
    EXPECT_EQ(reader.damaged(), (std::vector<int>{badRecord, overLong}));
    std::vector<JournalEntry> whole(places.size());
    for (size_t i = places.size(); i-- > 0;) {   // newest first, as history reads them
        ASSERT_TRUE(reader.ReadAgain(places[i], &got)) << places[i].number;
        EXPECT_EQ(got.serial, read[i]);
        EXPECT_EQ(got.number, places[i].number);
        EXPECT_EQ(got.before[2].value.size(), lengths[static_cast<size_t>(got.number - 1)]) << read[i];
        whole[i] = got;
    }

    // A listing reads the same entries at the same places, without their
    // records; read again, newest first or oldest first, each entry comes
    // with the changes of its whole reading.
    JournalReader listing;
    ASSERT_TRUE(listing.Open(path, &reason)) << reason;
    size_t n = 0;
    while (listing.NextListed(&got)) {
        ASSERT_LT(n, places.size());
        EXPECT_EQ(got.serial, read[n]);
        EXPECT_EQ(listing.place().offset, places[n].offset);
        EXPECT_EQ(listing.place().length, places[n].length);
        EXPECT_TRUE(got.before.empty() && got.written.empty());
        ++n;
    }
    EXPECT_EQ(n, places.size());
    EXPECT_EQ(listing.damaged(), reader.damaged());
    std::vector<JournalChange> changes;
    for (const bool newestFirst : {true, false}) {
        for (size_t k = 0; k < places.size(); ++k) {
            const size_t i = newestFirst ? places.size() - 1 - k : k;
            ASSERT_TRUE(listing.ReadAgainChanges(places[i], &got, &changes)) << places[i].number;
            EXPECT_EQ(got.serial, read[i]);
            EXPECT_EQ(got.number, places[i].number);
            EXPECT_EQ(got.outcome, whole[i].outcome);
            const std::vector<JournalChange> expected = JournalChanges(whole[i]);
            ASSERT_EQ(changes.size(), expected.size()) << read[i];
            for (size_t c = 0; c < expected.size(); ++c) {
                EXPECT_EQ(changes[c].key, expected[c].key);
                EXPECT_EQ(changes[c].hadBefore, expected[c].hadBefore);
                EXPECT_EQ(changes[c].before, expected[c].before) << read[i];
                EXPECT_EQ(changes[c].after, expected[c].after);
            }
        }
    }

    // Cut short after the places were taken: what is gone no longer reads.
    const size_t half = places.size() / 2;
    std::filesystem::resize_file(path, places[half].offset + 10);
    JournalReader cut;
    ASSERT_TRUE(cut.Open(path, &reason)) << reason;
    EXPECT_FALSE(cut.ReadAgainChanges(places.back(), &got, &changes));
    EXPECT_FALSE(cut.ReadAgain(places[half], &got));
    ASSERT_TRUE(cut.ReadAgainChanges(places[half - 1], &got, &changes));
    EXPECT_EQ(got.serial, read[half - 1]);
}

// Line after line, each record's key reads as itself whatever key stood in
// its place on the line before: keys in another order, or a name of the
// same length that is almost that key (a damaged line).
TEST_F(JournalFile, KeysReadAsThemselvesLineAfterLine)
{
    const std::string path = dir_ + "/pathlume/writes.jsonl";
    std::vector<std::string> keys;
    for (const KeyInfo& k : KeyTable)
        keys.push_back(k.key);
    std::vector<std::vector<std::string>> lines;   // the keys of each line's before records
    std::vector<bool> good;
    auto add = [&](std::vector<std::string> names, bool ok) {
        lines.push_back(std::move(names));
        good.push_back(ok);
    };
    add(keys, true);
    add(std::vector<std::string>(keys.rbegin(), keys.rend()), true);
    for (size_t k = 0; k < keys.size(); ++k) {
        std::vector<std::string> near = keys;
        near[k].back() = near[k].back() == 'X' ? 'Y' : 'X';
        add(near, false);
        near[k] = keys[k];
        std::rotate(near.begin(), near.begin() + static_cast<long>(k), near.end());
        add(near, true);
        add(keys, true);
    }
    std::string reason;
    for (const std::vector<std::string>& names : lines) {
        JournalEntry e = SampleEntry();
        e.before.clear();
        for (const std::string& name : names)
            e.before.push_back({name, "1"});
        ASSERT_TRUE(AppendJournalLine(path, JournalLine(e), &reason)) << reason;
    }
    JournalReader reader;
    ASSERT_TRUE(reader.Open(path, &reason)) << reason;
    JournalEntry e;
    std::vector<int> damaged;
    for (size_t i = 0; i < lines.size(); ++i)
        if (!good[i])
            damaged.push_back(static_cast<int>(i) + 1);
    while (reader.Next(&e)) {
        const auto i = static_cast<size_t>(e.number - 1);
        ASSERT_TRUE(good[i]) << "line " << e.number << " was taken";
        ASSERT_EQ(e.before.size(), lines[i].size());
        for (size_t k = 0; k < lines[i].size(); ++k)
            EXPECT_EQ(e.before[k].key, lines[i][k]) << "line " << e.number;
    }
    EXPECT_EQ(reader.damaged(), damaged);
}

// Whether a written value came back is judged on the key and the two values
// alone, however many entries before it had the same key and values of the
// same length and ends.
TEST_F(JournalFile, EachChangeIsJudgedOnItsOwnValues)
{
    const std::string path = dir_ + "/pathlume/writes.jsonl";
    struct Case {
        const char* key;
        const char* before;   // nullptr: not reported before the write
        const char* after;
        bool changed;
    } cases[] = {
        {"IP", "10.0.0.1", "10.0.0.1", false},
        {"IP", "11.0.0.1", "10.0.0.1", true},
        {"IP", nullptr, "10.0.0.1", true},
        {"IP", "10.0.0.1", "10.0.0.1", false},
        {"IP", "010.000.000.001", "10.0.0.1", false},
        {"IP", "010.000.000.001", "10.0.0.2", true},
        {"PRNT_PORT", "09100", "9100", false},
        {"PRNT_PORT", "19100", "9100", true},
        {"PRNT_PORT", "", "9100", true},
        {"HOST_NAME", "abc", "abc", false},
        {"HOST_NAME", "xbc", "abc", true},
        {"HOST_NAME", "abc ", "abc", false},
        {"HOST_NAME", "abc", "abc", false},
    };
    std::string reason;
    for (const Case& c : cases) {
        JournalEntry e = SampleEntry();
        e.before = {{"DEV", "PS-910"}};
        if (c.before)
            e.before.push_back({c.key, c.before});
        e.written = {{c.key, c.after}};
        ASSERT_TRUE(AppendJournalLine(path, JournalLine(e), &reason)) << reason;
    }
    JournalReader reader;
    ASSERT_TRUE(reader.Open(path, &reason)) << reason;
    std::vector<JournalPlace> places;
    JournalEntry e;
    while (reader.Next(&e))
        places.push_back(reader.place());
    ASSERT_EQ(places.size(), std::size(cases));
    std::vector<JournalChange> changes;
    for (size_t i = 0; i < places.size(); ++i) {
        const Case& c = cases[i];
        ASSERT_TRUE(reader.ReadAgainChanges(places[i], &e, &changes));
        EXPECT_EQ(changes.size(), c.changed ? 1u : 0u)
            << c.key << " " << (c.before ? c.before : "(none)") << " -> " << c.after;
    }
}

// The journal is the user's own file: a link at it or at its folder, a file
// that is not a regular one, a folder or file that others may write or that
// is another user's is refused, for appending and for reading, and nothing
// reaches wherever it pointed. A link above the journal's folder is the
// user's own choice of place and is followed.
TEST_F(JournalFile, OnlyTheUsersOwnFileIsUsed)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no FIFOs, no /dev/null, no mode bits and no user ids on files; "
                    "its links need a privilege the tests do not have";
#else
    namespace fs = std::filesystem;
    const std::string elsewhere = dir_ + "/elsewhere";   // where a link points
    fs::create_directory(elsewhere);
    const std::string target = elsewhere + "/target.txt";
    const std::string targetText = "someone's own file\n";
    std::ofstream(target) << targetText;
    fs::create_directory(dir_ + "/chosen");
    const bool root = testrig::IsRoot();
    int fifoReader = -1;

    struct Case {
        const char* what;
        const char* reason;   // "": recorded
        bool needsRoot;
        std::function<void(const std::string& folder, const std::string& file)> plant;
    } cases[] = {
        {"a symbolic link at the file", "it is a symbolic link", false,
         [&](const std::string&, const std::string& file) { fs::create_symlink(target, file); }},
        {"a symbolic link at the folder", "its folder is a symbolic link", false,
         [&](const std::string& folder, const std::string&) {
             fs::remove(folder);
             fs::create_directory_symlink(elsewhere, folder);
         }},
        {"a link to /dev/null", "it is a symbolic link", false,
         [](const std::string&, const std::string& file) { fs::create_symlink("/dev/null", file); }},
        {"a FIFO with a reader waiting", "it is not a regular file", false,
         [&](const std::string&, const std::string& file) {
             ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
             fifoReader = open(file.c_str(), O_RDONLY | O_NONBLOCK);
             ASSERT_GE(fifoReader, 0);
         }},
        {"a FIFO alone", "it is not a regular file", false,
         [](const std::string&, const std::string& file) { ASSERT_EQ(mkfifo(file.c_str(), 0600), 0); }},
        {"a folder others may write", "other users may write in its folder", false,
         [](const std::string& folder, const std::string&) { ASSERT_EQ(chmod(folder.c_str(), 0777), 0); }},
        {"a folder its group may write", "other users may write in its folder", false,
         [](const std::string& folder, const std::string&) { ASSERT_EQ(chmod(folder.c_str(), 0770), 0); }},
        {"a file others may write", "other users may write it", false,
         [](const std::string&, const std::string& file) {
             std::ofstream(file) << "x\n";
             ASSERT_EQ(chmod(file.c_str(), 0622), 0);
         }},
        {"a file only others (not its group) may write", "other users may write it", false,
         [](const std::string&, const std::string& file) {
             std::ofstream(file) << "x\n";
             ASSERT_EQ(chmod(file.c_str(), 0602), 0);
         }},
        {"a file its group may write", "other users may write it", false,
         [](const std::string&, const std::string& file) {
             std::ofstream(file) << "x\n";
             ASSERT_EQ(chmod(file.c_str(), 0620), 0);
         }},
        {"a folder of another user", "its folder belongs to another user", true,
         [](const std::string& folder, const std::string&) { ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0); }},
        {"a file of another user", "it belongs to another user", true,
         [](const std::string&, const std::string& file) {
             std::ofstream(file) << "x\n";
             ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
         }},
        {"a private folder reached through the user's own link above it", "", false,
         [&](const std::string&, const std::string&) {}},
    };
    const char* saved = std::getenv(testrig::kStateVariable);
    const std::string savedState = saved ? saved : "";
    int n = 0;
    for (const Case& c : cases) {
        if (c.needsRoot && !root)
            continue;
        // The state folder, and the journal's own folder in it, as the program makes them.
        std::string state = dir_ + "/state" + std::to_string(++n);
        fs::create_directory(state);
        fs::permissions(state, fs::perms::owner_all);
        if (c.reason[0] == '\0') {   // the user's XDG_STATE_HOME is a link of theirs
            fs::create_directory_symlink(state, dir_ + "/link" + std::to_string(n));
            state = dir_ + "/link" + std::to_string(n);
        }
        const std::string folder = state + "/pathlume";
        const std::string file = folder + "/writes.jsonl";
        fs::create_directory(folder);
        fs::permissions(folder, fs::perms::owner_all);
        c.plant(folder, file);
        if (::testing::Test::HasFatalFailure())
            return;

        testrig::SetEnv(testrig::kStateVariable, state);
        const std::string said = RecordWrite(SampleEntry());
        JournalContents j;
        std::string readReason;
        const bool wasRead = ReadJournal(file, &j, &readReason);
        testrig::SetEnv(testrig::kStateVariable, savedState);

        if (c.reason[0] == '\0') {
            EXPECT_EQ(said, "") << c.what;
            EXPECT_TRUE(wasRead) << c.what << ": " << readReason;
            EXPECT_EQ(j.entries.size(), 1u) << c.what;
            continue;
        }
        EXPECT_EQ(said, "Cannot record this write in " + file + ": " + c.reason + ".") << c.what;
        EXPECT_FALSE(wasRead) << c.what << ": a refused journal was read";
        EXPECT_EQ(readReason, c.reason) << c.what;
        // Nothing reached where the link points, nor anything in the folder.
        EXPECT_EQ(Slurp(target), targetText) << c.what;
        EXPECT_FALSE(fs::exists(elsewhere + "/writes.jsonl")) << c.what;
        if (fifoReader >= 0) {
            char byte = 0;
            EXPECT_LE(read(fifoReader, &byte, 1), 0) << c.what << ": the record went into the FIFO";
            close(fifoReader);
            fifoReader = -1;
        }
        struct stat st {};
        if (lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            EXPECT_EQ(Slurp(file), "x\n") << c.what << ": a refused file was appended to";
        } else if (std::string(c.what).find("folder") != std::string::npos && !fs::is_symlink(folder)) {
            EXPECT_FALSE(fs::exists(file)) << c.what << ": a journal was made in a refused folder";
        }
    }
#endif
}

// Folders named beyond ASCII hold the journal under that very name: on
// Windows the programs' manifest makes UTF-8 their code page, so "τest" is
// neither refused nor mapped to a best-fit "test" beside it.
TEST_F(JournalFile, FoldersNamedBeyondAsciiHoldTheJournalAsNamed)
{
    auto exists = [](const std::string& utf8) {
        return std::filesystem::exists(
            std::filesystem::path(std::u8string(utf8.begin(), utf8.end())));
    };
    for (const char* folder : {"\xcf\x84\x65st", "\xce\x97\xce\xbc\xce\xad\xcf\x81\xce\xb1",
                               "\xe6\x97\xa5\xe5\xbf\x97"}) {   // "τest", "Ημέρα", "日志"
        const std::string path = dir_ + "/" + folder + "/pathlume/writes.jsonl";
        std::string reason;
        ASSERT_TRUE(AppendJournalLine(path, JournalLine(SampleEntry()), &reason)) << folder << ": " << reason;
        JournalContents j;
        ASSERT_TRUE(ReadJournal(path, &j, &reason)) << folder << ": " << reason;
        EXPECT_EQ(j.entries.size(), 1u) << folder;
        EXPECT_TRUE(exists(path)) << folder;
    }
    EXPECT_FALSE(exists(dir_ + "/test"));
}

// Writers that append at the same moment (the window and a script, two
// scripts) each keep every record whole: an append lands at the end as the
// file is then, never where another writer's record is going.
TEST_F(JournalFile, AppendsAtTheSameMomentKeepEveryRecord)
{
    const std::string path = dir_ + "/pathlume/writes.jsonl";
    constexpr int kWriters = 4;
    constexpr int kEach = 150;
    std::vector<std::thread> writers;
    std::vector<int> failed(kWriters, 0);
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            JournalEntry e = SampleEntry();
            for (int i = 0; i < kEach; ++i) {
                e.serial = "SN-" + std::to_string(w) + "-" + std::to_string(i);
                std::string reason;
                failed[w] += AppendJournalLine(path, JournalLine(e), &reason) ? 0 : 1;
            }
        });
    }
    for (std::thread& t : writers)
        t.join();
    EXPECT_EQ(std::count(failed.begin(), failed.end(), 0), kWriters);
    JournalContents j;
    std::string reason;
    ASSERT_TRUE(ReadJournal(path, &j, &reason)) << reason;
    EXPECT_TRUE(j.damaged.empty()) << j.damaged.size() << " damaged lines";
    ASSERT_EQ(j.entries.size(), static_cast<size_t>(kWriters * kEach));
    std::vector<std::string> serials;
    for (const JournalEntry& e : j.entries)
        serials.push_back(e.serial);
    std::sort(serials.begin(), serials.end());
    EXPECT_EQ(std::unique(serials.begin(), serials.end()), serials.end());
}

}  // namespace
