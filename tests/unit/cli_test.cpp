#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli.h"
#include "codec.h"
#include "internal.h"
#include "portable.h"

namespace {

int Parse(std::vector<const char*> args, cli::Options* o, std::string* error)
{
    args.insert(args.begin(), "pathlume-cli");
    return cli::ParseArgs(static_cast<int>(args.size()), args.data(), o, error);
}

TEST(CliArgs, CommandsOptionsAndTheirErrors)
{
    struct Case {
        std::vector<const char*> args;
        const char* error;   // nullptr: accepted
    } cases[] = {
        {{"find"}, nullptr},
        {{"--timeout", "0", "find", "--format", "csv"}, nullptr},
        {{"get", "02:C0:EE:00:00:01", "--format", "json"}, nullptr},
        {{"set", "SN1@02C0EE000001", "host_name = lobby", "DHCP=Enable", "--dry-run"}, nullptr},
        {{"load", "SN1", "-"}, nullptr},
        {{"find", "--send-to", "127.0.0.1:4000", "--listen", "127.0.0.1:0"}, nullptr},
        {{}, "no command"},
        {{"seek"}, "unknown command \"seek\""},
        {{"find", "extra"}, "usage: pathlume-cli find"},
        {{"get"}, "usage: pathlume-cli get DEVICE"},
        {{"set", "SN1"}, "usage: pathlume-cli set DEVICE KEY=VALUE"},
        {{"save", "SN1"}, "usage: pathlume-cli save DEVICE FILE"},
        {{"get", "SN1@"}, "DEVICE is a serial number, a MAC address or SERIAL@MAC"},
        {{"find", "--timeout", "121"}, "--timeout takes whole seconds from 0 to 120"},
        {{"find", "--timeout", "2s"}, "--timeout takes whole seconds from 0 to 120"},
        {{"find", "--timeout"}, "--timeout needs a value"},
        {{"find", "--format", "text"}, "this --format does not apply to find"},
        {{"get", "SN1", "--format", "csv"}, "this --format does not apply to get"},
        {{"set", "SN1", "HOST_NAME=x", "--format", "csv"}, "this --format does not apply to set"},
        {{"save", "SN1", "f", "--format", "json"}, "this --format does not apply to save"},
        {{"set", "SN1", "HOST_NAME=x", "--format=json", "--quiet"}, nullptr},
        {{"--timeout=2", "find", "--format=csv"}, nullptr},
        {{"find", "--timeout", "120"}, nullptr},
        {{"find", "--timeout="}, "--timeout takes whole seconds from 0 to 120"},
        {{"find", "--timeout", "-1"}, "--timeout takes whole seconds from 0 to 120"},
        {{"find", "--timeout=-0"}, "--timeout takes whole seconds from 0 to 120"},
        {{"find", "--timeout", "+2"}, "--timeout takes whole seconds from 0 to 120"},
        {{"find", "--timeout", " 2"}, "--timeout takes whole seconds from 0 to 120"},
        {{"find", "--timeout", "00000000000000000000000000000000000000000000000000000000000000000002"},
         nullptr},
        {{"find", "--timeout", "18446744073709551618"}, "--timeout takes whole seconds from 0 to 120"},
        {{"find", "--quiet=yes"}, "--quiet takes no value"},
        {{"set", "--", "SN1", "HOST_NAME=-dash"}, nullptr},
        {{"find", "--", "--timeout"}, "usage: pathlume-cli find"},
        {{"help"}, nullptr},
        {{"help", "load"}, nullptr},
        {{"help", "seek"}, "unknown command \"seek\""},
        {{"get", "SN1@02:c0:ee:00:00:0a"}, nullptr},
        {{"get", "SN1@02C0EE00000A junk"}, "SERIAL@MAC: the MAC address \"02C0EE00000A junk\" is not 12"},
        {{"get", "SN1@02C0EE00000"}, "SERIAL@MAC: the MAC address"},
        {{"get", "SN1@02C0EE00000A1"}, "SERIAL@MAC: the MAC address \"02C0EE00000A1\" is not 12"},
        {{"get", "SN1@02:C0:EE:00:00:0A:1"}, "SERIAL@MAC: the MAC address"},
        {{"get", "S@N@1@02C0EE00000A"}, nullptr},
        {{"get", "@@02C0EE00000A"}, nullptr},
        {{"get", "SN1@@02C0EE00000A"}, nullptr},
        {{"get", "SN1@02C0EE00000A@"}, "DEVICE is a serial number, a MAC address or SERIAL@MAC"},
        {{"get", "SN\r\n1@02C0EE00000A"}, "SERIAL@MAC: the serial number \"SN\\r\\n1\" is not 1 to 16"},
        {{"get", "SERIAL-NUMBER-17X@02C0EE00000A"}, "SERIAL@MAC: the serial number"},
        {{"get", "SN1", "--dry-run"}, "--dry-run applies to set, load, restore and apply only"},
        {{"history"}, nullptr},
        {{"history", "02:c0:ee:00:00:01", "--format", "json"}, nullptr},
        {{"history", "SN1", "SN2"}, "usage: pathlume-cli history [DEVICE]"},
        {{"history", "--format", "csv"}, "this --format does not apply to history"},
        {{"history", "--format", "text"}, "this --format does not apply to history"},
        {{"history", "SN1@02C0EE0000"}, "SERIAL@MAC: the MAC address"},
        {{"restore", "SN1", "--entry", "3", "--dry-run", "--format", "json"}, nullptr},
        {{"restore"}, "usage: pathlume-cli restore DEVICE"},
        {{"restore", "SN1", "--format", "table"}, "this --format does not apply to restore"},
        {{"restore", "SN1", "--entry", "0"}, "--entry takes the number of a journal entry"},
        {{"restore", "SN1", "--entry", "-2"}, "--entry takes the number of a journal entry"},
        {{"restore", "SN1", "--entry", "+2"}, "--entry takes the number of a journal entry"},
        {{"restore", "SN1", "--entry", "2x"}, "--entry takes the number of a journal entry"},
        {{"restore", "SN1", "--entry", "99999999999"}, "--entry takes the number of a journal entry"},
        {{"set", "SN1", "IP=1.2.3.4", "--entry", "2"}, "--entry applies to restore only"},
        {{"find", "--verbose"}, "unknown option --verbose"},
        {{"find", "--send-to", "localhost"}, "--send-to takes ADDR:PORT"},
        {{"set", "SN1", "HOST_NAME"}, "expected KEY=VALUE, got \"HOST_NAME\""},
        {{"set", "SN1", "COLOUR=red"}, "unknown key \"COLOUR\"; writable keys: ENET_SPD, DHCP, IP, "
                                       "SUBNET_MASK, GATEWAY, PRNT_PORT, PRNT_RCV_TMO, HOST_NAME"},
        {{"set", "SN1", "MAC=02C0EE000002"}, "MAC cannot be changed; writable keys:"},
        {{"set", "SN1", "PRNT_RCV_TMO=10"}, "PRNT_RCV_TMO: Enter an integer between 30 and 65535."},
        {{"set", "SN1", "IP=010.9.0.1"}, nullptr},
        {{"set", "SN1", "IP=10.0.0.300"}, "IP: Enter an IPv4 address as four numbers from 0 to 255 "
                                          "separated by dots."},
        {{"set", "SN1", "IP=10"}, "IP: Enter an IPv4 address as four numbers"},
        {{"set", "SN1", "SUBNET_MASK=255.255.255"}, "SUBNET_MASK: Enter an IPv4 address as four"},
        {{"set", "SN1", "GATEWAY=0x0a.0.0.1"}, "GATEWAY: Enter an IPv4 address as four numbers"},
        {{"set", "SN1", "IP=167772161"}, "IP: Enter an IPv4 address as four numbers"},
        {{"set", "SN1", "IP=1.2.3.4 x"}, "IP: Enter an IPv4 address as four numbers"},
        {{"load", "SN1", "f.txt", "--with-identity"}, nullptr},
        {{"set", "SN1", "IP=1.2.3.4", "--with-identity"}, "--with-identity applies to load and apply only"},
        {{"diff", "SN1", "std.txt", "--format", "json"}, nullptr},
        {{"diff", "./a.txt", "b.txt"}, nullptr},
        {{"diff", "-", "-"}, "diff reads standard input for one FILE only"},
        {{"diff", "SN1"}, "usage: pathlume-cli diff DEVICE|FILE FILE"},
        {{"diff", "SN1@02C0EE0000", "b.txt"}, "SERIAL@MAC: the MAC address"},
        {{"diff", "SN1", "b.txt", "--format", "text"}, "this --format does not apply to diff"},
        {{"diff", "SN1", "b.txt", "--dry-run"}, "--dry-run applies to set, load, restore and apply only"},
        {{"apply", "std.txt", "--all", "--dry-run", "--format", "json"}, nullptr},
        {{"apply", "std.txt", "SN1", "SN2@02C0EE000002"}, nullptr},
        {{"apply", "std.txt", "--match", "dev=NP-*", "--match=MAC=02:c0:*"}, nullptr},
        {{"apply", "std.txt", "SN1", "--with-identity"}, nullptr},
        {{"apply", "std.txt"}, "apply needs the devices: DEVICE..., --match KEY=PATTERN or --all"},
        {{"apply"}, "usage: pathlume-cli apply FILE"},
        {{"apply", "std.txt", "--all", "SN1"}, "apply takes --all or DEVICE..., not both"},
        {{"apply", "std.txt", "--all=yes"}, "--all takes no value"},
        {{"apply", "std.txt", "SN1@"}, "DEVICE is a serial number, a MAC address or SERIAL@MAC"},
        {{"apply", "std.txt", "--match", "GATEWAY=10.*"}, "--match takes KEY=PATTERN, KEY one of"},
        {{"apply", "std.txt", "--match", "SERIAL_NUM"}, "--match takes KEY=PATTERN, KEY one of"},
        {{"apply", "std.txt", "--all", "--format", "csv"}, "this --format does not apply to apply"},
        {{"apply", "std.txt", "--all", "--entry", "2"}, "--entry applies to restore only"},
        {{"find", "--all"}, "--all applies to apply only"},
        {{"set", "SN1", "IP=1.2.3.4", "--match", "DEV=x"}, "--match applies to apply only"},
    };
    for (const Case& c : cases) {
        cli::Options o;
        std::string error;
        const int r = Parse(c.args, &o, &error);
        std::string line;
        for (const char* a : c.args)
            line += std::string(a) + " ";
        if (!c.error) {
            EXPECT_EQ(r, 0) << line << "-> " << error;
            continue;
        }
        EXPECT_EQ(r, cli::kExitUsage) << line;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << line << "-> " << error;
    }

    cli::Options o;
    std::string error;
    ASSERT_EQ(Parse({"set", "SN1@02C0EE000001", " host_name = lobby ", "ENET_SPD=4"}, &o, &error), 0);
    EXPECT_EQ(o.device, "SN1@02C0EE000001");
    ASSERT_EQ(o.assignments.size(), 2u);
    EXPECT_EQ(o.assignments[0].key, KEY_HOST_NAME);
    EXPECT_EQ(o.assignments[0].value, "lobby");
    EXPECT_EQ(o.timeout, 3);
    ASSERT_EQ(Parse({"find"}, &o, &error), 0);
    EXPECT_EQ(o.format, cli::Format::Table);
    // A MAC named with SERIAL@MAC goes out as the plain form: upper case, no separators.
    ASSERT_EQ(Parse({"get", "SN1@02:c0:ee:00:00:0a"}, &o, &error), 0);
    EXPECT_EQ(o.device, "SN1@02C0EE00000A");
    // A serial number may hold '@'; the MAC is what follows the last one.
    ASSERT_EQ(Parse({"get", "S@N1@02:c0:ee:00:00:0a"}, &o, &error), 0);
    EXPECT_EQ(o.device, "S@N1@02C0EE00000A");
    ASSERT_EQ(Parse({"find", "--timeout", "0000000000000000000000000000000000000000000000000000000000000000120"},
                    &o, &error), 0);
    EXPECT_EQ(o.timeout, 120);
    ASSERT_EQ(Parse({"history"}, &o, &error), 0);
    EXPECT_EQ(o.format, cli::Format::Table);
    EXPECT_EQ(o.device, "");
    ASSERT_EQ(Parse({"restore", "SN1", "--entry=12"}, &o, &error), 0);
    EXPECT_EQ(o.entry, 12);
    EXPECT_EQ(o.format, cli::Format::Text);
    // apply: the file, the devices named, the matches (a MAC pattern in its plain form).
    ASSERT_EQ(Parse({"apply", "std.txt", "SN1", "sn2@02-c0-ee-00-00-02", "--match", "mac=02:c0:ee:*"},
                    &o, &error), 0) << error;
    EXPECT_EQ(o.file, "std.txt");
    EXPECT_EQ(o.device, "");
    EXPECT_EQ(o.devices, (std::vector<std::string>{"SN1", "sn2@02C0EE000002"}));
    ASSERT_EQ(o.matches.size(), 1u);
    EXPECT_EQ(o.matches[0].key, KEY_MAC);
    EXPECT_EQ(o.matches[0].pattern, "02C0EE*");
    EXPECT_EQ(o.format, cli::Format::Table);
    // diff: a first argument that names a file is one, else a device.
    const std::string existing = ::testing::TempDir() + "pathlume-diff-left.txt";
    std::ofstream(existing) << "PRNT_PORT = 9100\n";
    const std::string bare = std::filesystem::path(existing).filename().string();
    const std::string here = std::filesystem::current_path().string();
    std::filesystem::current_path(::testing::TempDir());
    ASSERT_EQ(Parse({"diff", bare.c_str(), "b.txt"}, &o, &error), 0) << error;
    EXPECT_EQ(o.leftFile, bare);
    ASSERT_EQ(Parse({"diff", "SN-NOT-A-FILE", "b.txt"}, &o, &error), 0) << error;
    EXPECT_EQ(o.leftFile, "");
    EXPECT_EQ(o.device, "SN-NOT-A-FILE");
    std::filesystem::current_path(here);
    std::remove(existing.c_str());
    ASSERT_EQ(Parse({"help", "set"}, &o, &error), 0);
    EXPECT_EQ(o.command, cli::Command::Help);
    EXPECT_EQ(cli::CommandHelp(o.helpTopic).rfind("Usage: pathlume-cli set DEVICE", 0), 0u);
}

TEST(CliArgs, ASettingsFileIsCheckedWholeBeforeUse)
{
    std::vector<cli::Assignment> out;
    std::string error;
    EXPECT_EQ(cli::ParseSettingsText("# saved\n\nHOST_NAME = a#b\r\nIP=10.0.0.5\n", "f.txt", &out,
                                     &error),
              0);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].value, "a#b");
    EXPECT_EQ(out[1].key, KEY_IP);
    EXPECT_EQ(cli::ParseSettingsText("HOST_NAME = ok\nPRNT_PORT = 70000\nIP = x\n", "f.txt", &out,
                                     &error),
              cli::kExitUsage);
    EXPECT_EQ(error, "f.txt:2: PRNT_PORT: Enter an integer between 0 and 65535.");

    // What save writes, load reads back to the same values.
    const std::string cfg =
        "ENET_SPD = 9\r\nDHCP = 1\r\nIP = 192.168.000.010\r\nPRNT_PORT = 9100 \r\n"
        "PRNT_RCV_TMO = 90   \r\nHOST_NAME = lobby, \"east\"" + std::string(19, ' ') +
        "\r\n*END* = \r\n";
    const std::string saved = cli::SettingsTextOf(cfg.c_str(), "02C0EE000001", "SN1");
    EXPECT_NE(saved.find("# ENET_SPD has no valid code on the device\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\nIP = 192.168.0.10\n"), std::string::npos) << saved;
    // Records the device did not report are not made up for the backup.
    EXPECT_NE(saved.find("\n# GATEWAY was not reported by the device\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("GATEWAY ="), std::string::npos) << saved;
    cli::SavedFrom source;
    ASSERT_EQ(cli::ParseSettingsText(saved, "saved", &out, &error, &source), 0) << error;
    EXPECT_TRUE(source.named);
    EXPECT_EQ(source.serial, "SN1");
    EXPECT_EQ(source.mac, "02C0EE000001");
    EXPECT_EQ(out.size(), 5u);
    EXPECT_EQ(out.back().value, "lobby, \"east\"");
    ASSERT_EQ(cli::ParseSettingsText("IP = 1.2.3.4\n", "mine", &out, &error, &source), 0);
    EXPECT_FALSE(source.named);
    EXPECT_EQ(source.serial, "");
}

// A file is a device's own backup only when its header names both the
// device's serial number and its MAC address; the header gives back the
// serial number whatever its bytes, and files saved before read as they did.
TEST(CliArgs, TheSaveHeaderNamesTheDeviceExactly)
{
    const std::string mac = "02C0EE000001";
    const struct Case {
        const char* what;
        std::string serial;
    } serials[] = {
        {"plain", "SN1"},
        {"a backslash", "SN\\1"},
        {"an at sign and brackets", "S@N (1)"},
        {"blanks at both ends", " \tSN1 \r"},
        {"a byte beyond ASCII", std::string("SN") + static_cast<char>(0xE9)},
    };
    for (const Case& c : serials) {
        const std::string cfg = "MAC = " + mac + "\r\nPRNT_PORT = 9100\r\n*END* = \r\n";
        const std::string saved = cli::SettingsTextOf(cfg.c_str(), mac.c_str(), c.serial.c_str());
        std::vector<cli::Assignment> out;
        std::string error;
        cli::SavedFrom from;
        ASSERT_EQ(cli::ParseSettingsText(saved, "saved", &out, &error, &from), 0) << c.what << error;
        EXPECT_EQ(from.serial, c.serial) << c.what << ": " << saved;
        EXPECT_EQ(cli::WhoseBackup(from, c.serial, mac), cli::BackupOwner::Own) << c.what;
        EXPECT_EQ(cli::WhoseBackup(from, c.serial, "02:c0:ee:00:00:01"), cli::BackupOwner::Own)
            << c.what;
        // The same serial number on another interface is another device.
        EXPECT_EQ(cli::WhoseBackup(from, c.serial, "02C0EE000002"), cli::BackupOwner::Other)
            << c.what;
        EXPECT_EQ(cli::WhoseBackup(from, "SN2", mac), cli::BackupOwner::Other) << c.what;
    }

    // Headers as earlier versions wrote them, and as a hand may leave them.
    const struct Header {
        const char* text;
        const char* serial;
        const char* mac;
        cli::BackupOwner forSn1;   // loaded onto SN1 (02C0EE000001)
    } headers[] = {
        {"# pathlume-cli save of SN1 (02C0EE000001)\n", "SN1", "02C0EE000001", cli::BackupOwner::Own},
        {"# pathlume-cli save of SN1\n", "SN1", "", cli::BackupOwner::OwnBySerial},
        {"# pathlume-cli save of SN1 ()\n", "SN1", "", cli::BackupOwner::OwnBySerial},
        {"# pathlume-cli save of SN\\q1 (02C0EE000001)\n", "SN\\q1", "02C0EE000001",
         cli::BackupOwner::Other},
        {"# pathlume-cli save of SN2 (02C0EE000001)\n", "SN2", "02C0EE000001",
         cli::BackupOwner::Other},
        {"# saved by hand\n", "", "", cli::BackupOwner::Unnamed},
    };
    for (const Header& h : headers) {
        std::vector<cli::Assignment> out;
        std::string error;
        cli::SavedFrom from;
        ASSERT_EQ(cli::ParseSettingsText(std::string(h.text) + "HOST_NAME =   lobby\t \n", "old",
                                         &out, &error, &from),
                  0)
            << h.text << error;
        EXPECT_EQ(from.serial, h.serial) << h.text;
        EXPECT_EQ(from.mac, h.mac) << h.text;
        EXPECT_EQ(cli::WhoseBackup(from, "SN1", "02C0EE000001"), h.forSn1) << h.text;
        // An old file's unescaped blanks around a value are dropped, as before.
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].value, "lobby");
    }
}

// A settings file is read exactly as written: escapes for the bytes that
// cannot stand in a line, a value to the end of its line, every line ended.
TEST(CliArgs, SettingsFileLinesAndEscapes)
{
    struct Case {
        const char* what;
        std::string text;
        const char* error;      // nullptr: accepted
        const char* hostName;   // the HOST_NAME read, when accepted
    } cases[] = {
        {"escapes", "HOST_NAME = a\\\\b\\r\\n\\t\\x1b\\xE9\n", nullptr, "a\\b\r\n\t\x1b\xE9"},
        {"a comment starts a line only", "  # note\nHOST_NAME = x  # note\n", nullptr, "x  # note"},
        {"a byte-order mark", "\xEF\xBB\xBFHOST_NAME = bom\r\n", nullptr, "bom"},
        {"a cut last line", "IP = 10.9.0.52\nHOST_NAME = lob", "f.txt:2: the last line has no line end",
         nullptr},
        {"a NUL byte", std::string("HOST_NAME = a\0b\n", 16), "f.txt:1: a NUL byte", nullptr},
        {"an unknown escape", "HOST_NAME = a\\q\n", "f.txt:1: unknown escape \\q", nullptr},
        {"a cut escape", "HOST_NAME = a\\x4\n", "f.txt:1: \\x takes two hexadecimal digits", nullptr},
        {"a value over its width", "HOST_NAME = " + std::string(33, 'h') + "\n",
         "f.txt:1: HOST_NAME: Enter no more than 32 characters.", nullptr},
        {"an address", "IP = 10\n", "f.txt:1: IP: Enter an IPv4 address as four numbers", nullptr},
    };
    for (const Case& c : cases) {
        std::vector<cli::Assignment> out;
        std::string error;
        const int r = cli::ParseSettingsText(c.text, "f.txt", &out, &error);
        if (c.error) {
            EXPECT_EQ(r, cli::kExitUsage) << c.what;
            EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.what << ": " << error;
            continue;
        }
        ASSERT_EQ(r, 0) << c.what << ": " << error;
        ASSERT_FALSE(out.empty()) << c.what;
        EXPECT_EQ(out.back().value, c.hostName) << c.what;
    }

    // What save writes of any bytes, load reads back: one line per value.
    std::string odd = "lobby\r\nIP = 6.6.6.6\\";
    odd += static_cast<char>(0xE9);
    const std::string cfg = "MAC = 02C0EE000001\r\nHOST_NAME = " + odd +
                            std::string(32 - odd.size(), ' ') + "\r\n*END* = \r\n";
    const std::string saved = cli::SettingsTextOf(cfg.c_str(), "02C0EE000001", "SN1");
    EXPECT_NE(saved.find("\nHOST_NAME = lobby\\r\\nIP = 6.6.6.6\\\\\\xe9\n"), std::string::npos)
        << saved;
    std::vector<cli::Assignment> out;
    std::string error;
    ASSERT_EQ(cli::ParseSettingsText(saved, "saved", &out, &error), 0) << error;
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].key, KEY_HOST_NAME);
    EXPECT_EQ(out[0].value, odd);

    // Blanks at either end of a value come back too. (The device pads with
    // spaces, so a trailing space is not a byte it can hold.)
    for (const std::string edged : {"  lobby", "\t\tlobby\t", "lobby\r", "\r\nlobby\n\r", " \t lob by\t",
                                    "\t", "\n \n"}) {
        SCOPED_TRACE(cli::SafeText(edged));
        const std::string c = "MAC = 02C0EE000001\r\nHOST_NAME = " + edged +
                              std::string(32 - edged.size(), ' ') + "\r\n*END* = \r\n";
        const std::string file = cli::SettingsTextOf(c.c_str(), "02C0EE000001", "SN1");
        ASSERT_EQ(cli::ParseSettingsText(file, "saved", &out, &error), 0) << error;
        ASSERT_EQ(out.size(), 1u) << file;
        EXPECT_EQ(out[0].value, edged) << file;
    }
}

// A save replaces the file in one step, over one that is there (which the
// C library's rename refuses on Windows); a save that fails leaves nothing
// beside the name. File names keep the system's folder separator in
// messages, and only that.
TEST(CliFiles, ASaveReplacesTheFileWholeAndLeavesNothingBeside)
{
    namespace fs = std::filesystem;
    const std::string dir = testrig::MakeTempFolder("pathlume-files-");
    ASSERT_FALSE(dir.empty());
    const std::string file = (fs::path(dir) / "backup.txt").string();
    auto content = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    };
    auto entries = [&dir] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        return names;
    };
    std::string error;
    ASSERT_TRUE(cli::WriteFileReplacing(file, "old\n", &error)) << error;
    ASSERT_TRUE(cli::WriteFileReplacing(file, "new\r\nbytes\n", &error)) << error;
    EXPECT_EQ(content(file), "new\r\nbytes\n");
    std::string text;
    ASSERT_TRUE(cli::ReadSettingsFile(file, &text, &error)) << error;
    EXPECT_EQ(text, "new\r\nbytes\n");
    EXPECT_EQ(entries(), std::vector<std::string>{"backup.txt"});

    const std::string folder = (fs::path(dir) / "a-folder").string();
    fs::create_directory(folder);
    EXPECT_FALSE(cli::WriteFileReplacing(folder, "x\n", &error));
    EXPECT_EQ(error.rfind("Cannot write " + folder + ": ", 0), 0u) << error;
    EXPECT_EQ(entries().size(), 2u) << "a new file was left beside the name";

    struct Case {
        std::string name;
        std::string shown;
    } cases[] = {
#ifdef _WIN32
        {"C:\\Users\\ann\\a\x1b.txt", "C:\\Users\\ann\\a\\x1b.txt"},
        // UTF-8 names as typed; a cut, an overlong or a surrogate sequence
        // and a C1 control escaped byte by byte.
        {"\xcf\x84\x65st.txt", "\xcf\x84\x65st.txt"},
        {"\xe8\xa8\xad\xe5\xae\x9a.txt", "\xe8\xa8\xad\xe5\xae\x9a.txt"},
        {"\xf0\x9f\x96\xa8.txt", "\xf0\x9f\x96\xa8.txt"},
        {"a\xcf.txt", "a\\xcf.txt"},
        {"a\xe8\xa8", "a\\xe8\\xa8"},
        {"\xc0\xaf", "\\xc0\\xaf"},
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},
        {"\xc2\x85", "\\xc2\\x85"},
#else
        {"/home/ann/a\\b\x1b.txt", "/home/ann/a\\\\b\\x1b.txt"},
#endif
        {"lobby\r\n.txt", "lobby\\r\\n.txt"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cli::PathText(c.name), c.shown);
    fs::remove_all(dir);
}

// --match's shell-style patterns, as apply matches a device's Find fields.
TEST(CliArgs, MatchPatterns)
{
    struct Case {
        const char* pattern;
        const char* text;
        bool match;
    } cases[] = {
        {"SN*", "SN0001", true},
        {"SN*", "XSN0001", false},
        {"*", "", true},
        {"", "", true},
        {"", "a", false},
        {"?", "", false},
        {"print-??", "print-07", true},
        {"print-??", "print-7", false},
        {"*lobby*", "east-lobby-2", true},
        {"*a*b*c", "aXbYbZc", true},
        {"*a*b*c", "aXbYbZcd", false},
        {"NP-[23]*", "NP-2400", true},
        {"NP-[23]*", "NP-4100", false},
        {"NP-[!23]*", "NP-4100", true},
        {"NP-[^23]*", "NP-2400", false},
        {"192.168.[0-9].*", "192.168.7.20", true},
        {"192.168.[0-9].*", "192.168.77.20", false},
        {"[]x]", "]", true},
        {"[a-]", "-", true},
        {"a\\*", "a*", true},
        {"a\\*", "ab", false},
        {"[ab", "[ab", true},
        {"[ab", "a", false},
        {"sn*", "SN01", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cli::MatchesPattern(c.pattern, c.text), c.match)
            << "'" << c.pattern << "' against '" << c.text << "'";
}

TEST(CliArgs, OutputQuoting)
{
    EXPECT_EQ(cli::CsvField("print-1"), "print-1");
    EXPECT_EQ(cli::CsvField("lobby, \"east\""), "\"lobby, \"\"east\"\"\"");
    EXPECT_EQ(cli::CsvField("a\r\nb"), "\"a\r\nb\"");
    // Bytes beyond ASCII read as Latin-1, written in UTF-8, at both ends of
    // the range and inside a quoted field.
    EXPECT_EQ(cli::CsvField("caf\xE9"), "caf\xC3\xA9");
    EXPECT_EQ(cli::CsvField("\x80\x7F\xFF"), "\xC2\x80\x7F\xC3\xBF");
    EXPECT_EQ(cli::CsvField("\xA0,\""), "\"\xC2\xA0,\"\"\"");
    EXPECT_EQ(cli::JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(cli::JsonString(std::string("h\xE9\x01", 3)), "\"h\\u00e9\\u0001\"");
}

}  // namespace
