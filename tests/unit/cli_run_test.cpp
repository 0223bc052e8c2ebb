// pathlume-cli run in-process against the simulator on loopback: what its
// writes send and what they leave on the device.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>   // mkfifo
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "cli.h"
#include "findreport.h"
#include "journal.h"
#include "journal_sandbox.h"
#include "loopback_peer.h"
#include "loopback_rig.h"
#include "portable.h"
#include "quirky_devices.h"

namespace {

// The loopback interface as the system names it (by its address on Windows).
#ifdef _WIN32
constexpr char kLoopbackName[] = "127.0.0.1";
#else
constexpr char kLoopbackName[] = "lo";
#endif

// Every write of these tests is journaled in a temporary folder.
testrig::JournalSandbox* const g_sandbox = testrig::InstallJournalSandbox();

struct CliResult {
    int exit;
    std::string out;
    std::string err;
};

std::string ReadAll(FILE* f)
{
    std::string s;
    std::rewind(f);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    std::fclose(f);
    return s;
}

// A loopback port nobody holds right now, for the program's replies.
uint16_t FreePort()
{
    return testrig::LoopbackPeer().port();
}

class CliRun : public ::testing::Test {
protected:
    void Start(std::vector<devsim::Device> devices,
               devsim::Options options = testrig::LoopbackSimOptions())
    {
        rig_ = std::make_unique<testrig::SimRig>(std::move(devices), options);
        ASSERT_TRUE(rig_->ok());
        listen_ = FreePort();
        rig_->StartReplyingTo(listen_);
    }

    CliResult Cli(std::vector<std::string> args, FILE* out = testrig::TempFile())
    {
        args.insert(args.begin(), "pathlume-cli");
        args.push_back("--send-to");
        args.push_back("127.0.0.1:" + std::to_string(rig_->port()));
        args.push_back("--listen");
        args.push_back("127.0.0.1:" + std::to_string(listen_));
        std::vector<const char*> argv;
        for (const std::string& a : args)
            argv.push_back(a.c_str());
        FILE* err = testrig::TempFile();
        const int r = cli::Main(static_cast<int>(argv.size()), argv.data(), out, err);
        return {r, ReadAll(out), ReadAll(err)};
    }

    std::string Named(size_t i) const
    {
        return rig_->sim().Value(i, KEY_SERIAL_NUM) + "@" + rig_->sim().Value(i, KEY_MAC);
    }

    static std::string Write(const std::string& name, const std::string& bytes)
    {
        const std::string path = ::testing::TempDir() + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    std::unique_ptr<testrig::SimRig> rig_;
    uint16_t listen_ = 0;
};

// Changing one value writes that value and gives every other one back as the
// device reported it, whatever odd shape the device keeps it in.
TEST_F(CliRun, AWriteChangesOnlyWhatWasAskedFor)
{
    const std::vector<devsim::Device> devices = testrig::QuirkyDevices();
    Start(devices);
    for (size_t i = 0; i < devices.size(); ++i) {
        const std::string serial = devices[i].values[KEY_SERIAL_NUM];
        SCOPED_TRACE(serial);
        const CliResult r = Cli({"set", serial + "@" + devices[i].values[KEY_MAC], "PRNT_PORT=9101",
                           "--timeout", "1"});
        EXPECT_EQ(r.exit, cli::kExitOk) << r.out << r.err;
        EXPECT_EQ(r.out, "PRNT_PORT: " + devices[i].values[KEY_PRNT_PORT] +
                             " -> 9101\nConfiguration verified.\n");
        EXPECT_EQ(rig_->sim().Value(i, KEY_PRNT_PORT), "9101");
        testrig::ExpectOnlyChanged(rig_->sim(), i, devices[i], KEY_PRNT_PORT);
    }
}

// A reply cut before its terminator and a datagram that would complete it
// (another sender's headerless tail, the device's own rest, the end of the
// terminator): `find` lists only the devices that answered, each with where
// it answered from, and says the cut replies were ignored; `set` by name
// writes the one change asked and the device's own IP, never a spliced one.
TEST_F(CliRun, ACutReplyIsNeverSplicedIntoAListOrAWrite)
{
    const std::vector<devsim::Device> devices = devsim::GenerateDevices(2, 47);
    for (const devsim::Fault fault :
         {devsim::Fault::Splice, devsim::Fault::SpliceOwn, devsim::Fault::SplitTerminator}) {
        SCOPED_TRACE(devsim::FaultName(fault));
        devsim::Options opt = testrig::LoopbackSimOptions();
        opt.fault = fault;
        Start(devices, opt);
        const CliResult found = Cli({"find", "--format", "json", "--timeout", "0"});
        EXPECT_EQ(found.exit, cli::kExitOk) << found.err;
        const std::string source = "\"sources\": [{\"address\": \"127.0.0.1\", \"port\": " +
                                   std::to_string(rig_->port()) + ", \"interface\": \"" +
                                   kLoopbackName + "\"}]";
        for (const devsim::Device& d : devices)
            EXPECT_NE(found.out.find("\"serial\": \"" + d.values[KEY_SERIAL_NUM] + "\""),
                      std::string::npos)
                << found.out;
        size_t rows = 0;
        for (size_t at = 0; (at = found.out.find(source, at)) != std::string::npos; ++at)
            ++rows;
        EXPECT_EQ(rows, 2u) << found.out;
        EXPECT_EQ(found.out.find(devsim::kSplicedSerial), std::string::npos) << found.out;
        EXPECT_NE(found.err.find("2 cut replies were ignored."), std::string::npos) << found.err;

        const CliResult set = Cli({"set", devices[0].values[KEY_SERIAL_NUM], "HOST_NAME=renamed",
                                   "--timeout", "1"});
        EXPECT_EQ(set.exit, cli::kExitOk) << set.out << set.err;
        EXPECT_EQ(set.out, "HOST_NAME: " + devices[0].values[KEY_HOST_NAME] +
                               " -> renamed\nConfiguration verified.\n");
        bool carriedIp = false;
        for (const devsim::WrittenRecord& w : rig_->sim().LastWrite(0)) {
            EXPECT_NE(w.value, devsim::kSplicedIp) << w.key;
            if (w.key == "IP") {
                carriedIp = true;
                EXPECT_EQ(w.value, devices[0].values[KEY_IP]);
            }
        }
        EXPECT_TRUE(carriedIp);
        testrig::ExpectOnlyChanged(rig_->sim(), 0, devices[0], KEY_HOST_NAME);
        rig_.reset();
    }
}

// A backup of one device loaded onto another keeps the other's address and
// name unless asked; the rest of the file is written.
TEST_F(CliRun, LoadKeepsTheTargetsIdentity)
{
    std::vector<devsim::Device> devices = devsim::GenerateDevices(2, 41);
    devices[0].values[KEY_PRNT_RCV_TMO] = "300";
    Start(devices);
    const std::string a = devices[0].values[KEY_SERIAL_NUM] + "@" + devices[0].values[KEY_MAC];
    const std::string b = devices[1].values[KEY_SERIAL_NUM] + "@" + devices[1].values[KEY_MAC];
    const std::string file = ::testing::TempDir() + "pathlume-backup.txt";
    ASSERT_EQ(Cli({"save", a, file, "--timeout", "1"}).exit, cli::kExitOk);

    const CliResult kept = Cli({"load", b, file, "--timeout", "1"});
    EXPECT_EQ(kept.exit, cli::kExitOk) << kept.out << kept.err;
    EXPECT_EQ(kept.err, "pathlume-cli: Kept this device's IP and HOST_NAME; --with-identity writes "
                        "them too.\n");
    EXPECT_EQ(kept.out.find("IP:"), std::string::npos) << kept.out;
    EXPECT_EQ(kept.out.find("HOST_NAME:"), std::string::npos) << kept.out;
    EXPECT_EQ(rig_->sim().Value(1, KEY_PRNT_RCV_TMO), "300");
    EXPECT_EQ(rig_->sim().Value(1, KEY_IP), devices[1].values[KEY_IP]);
    EXPECT_EQ(rig_->sim().Value(1, KEY_HOST_NAME), devices[1].values[KEY_HOST_NAME]);

    const CliResult taken = Cli({"load", b, file, "--with-identity", "--timeout", "1"});
    EXPECT_EQ(taken.exit, cli::kExitOk) << taken.out << taken.err;
    EXPECT_EQ(taken.err, "");
    EXPECT_EQ(rig_->sim().Value(1, KEY_IP), devices[0].values[KEY_IP]);
    EXPECT_EQ(rig_->sim().Value(1, KEY_HOST_NAME), devices[0].values[KEY_HOST_NAME]);

    // Its own backup restores a device's name without being asked.
    rig_->sim().SetValue(0, KEY_HOST_NAME, "renamed");
    const CliResult own = Cli({"load", a, file, "--timeout", "1"});
    EXPECT_EQ(own.exit, cli::kExitOk) << own.out << own.err;
    EXPECT_EQ(own.err, "");
    EXPECT_EQ(rig_->sim().Value(0, KEY_HOST_NAME), devices[0].values[KEY_HOST_NAME]);
    std::remove(file.c_str());
}

// A device is its serial number and its MAC address: a backup of one of two
// devices sharing a serial number is the other's as much as any stranger's.
TEST_F(CliRun, ABackupIsItsDevicesOwnBySerialAndMac)
{
    std::vector<devsim::Device> devices = devsim::GenerateDevices(2, 43);
    devices[0].values[KEY_SERIAL_NUM] = "S@N\\1";   // a name of it splits at its last '@'
    devices[1].values[KEY_SERIAL_NUM] = devices[0].values[KEY_SERIAL_NUM];
    devices[0].values[KEY_PRNT_RCV_TMO] = "300";
    Start(devices);
    const std::string file = ::testing::TempDir() + "pathlume-shared.txt";
    ASSERT_EQ(Cli({"save", Named(0), file, "--timeout", "1"}).exit, cli::kExitOk);

    const CliResult other = Cli({"load", Named(1), file, "--timeout", "1"});
    EXPECT_EQ(other.exit, cli::kExitOk) << other.out << other.err;
    EXPECT_EQ(other.err, "pathlume-cli: Kept this device's IP and HOST_NAME; --with-identity "
                         "writes them too.\n");
    EXPECT_EQ(rig_->sim().Value(1, KEY_PRNT_RCV_TMO), "300");
    EXPECT_EQ(rig_->sim().Value(1, KEY_IP), devices[1].values[KEY_IP]);
    EXPECT_EQ(rig_->sim().Value(1, KEY_HOST_NAME), devices[1].values[KEY_HOST_NAME]);

    // Its own device takes it whole, the serial's backslash notwithstanding.
    rig_->sim().SetValue(0, KEY_HOST_NAME, "renamed");
    const CliResult own = Cli({"load", Named(0), file, "--timeout", "1"});
    EXPECT_EQ(own.exit, cli::kExitOk) << own.out << own.err;
    EXPECT_EQ(own.err, "");
    EXPECT_EQ(rig_->sim().Value(0, KEY_HOST_NAME), devices[0].values[KEY_HOST_NAME]);

    // A file naming no MAC address is taken by its serial number, and says so.
    rig_->sim().SetValue(1, KEY_HOST_NAME, "renamed");
    const CliResult bySerial = Cli({"load", Named(1),
                                    Write("serial-only.txt", "# pathlume-cli save of S@N\\\\1\nHOST_NAME = x\tz\n"),
                                    "--timeout", "1"});
    EXPECT_EQ(bySerial.exit, cli::kExitOk) << bySerial.out << bySerial.err;
    EXPECT_EQ(bySerial.err, "pathlume-cli: The file names no MAC address; taken as this device's "
                            "own backup by its serial number.\n");
    EXPECT_EQ(rig_->sim().Value(1, KEY_HOST_NAME), "x\tz");
    std::remove(file.c_str());
}

// A load file is checked whole before anything is sent; a file that is not
// one, or not whole, is refused at once with the reason.
TEST_F(CliRun, LoadRefusesFilesItShouldNotTrustAndSendsNothing)
{
    Start(devsim::GenerateDevices(1, 5));
    struct Case {
        const char* what;
        std::string path;
        std::string error;   // the start of the message after "pathlume-cli: "
    } cases[] = {
        {"a directory", ::testing::TempDir(), "Cannot read " + ::testing::TempDir() + ": it is a directory."},
        {"a device", testrig::kNullDevice,
         std::string("Cannot read ") + testrig::kNullDevice + ": not a regular file."},
        {"a missing file", ::testing::TempDir() + "no-such-file",
         "Cannot read " + ::testing::TempDir() + "no-such-file: No such file"},
        {"a cut last line", Write("cut.txt", "PRNT_PORT = 9100\nIP = 10.9.0.5"), ""},
        {"a NUL byte", Write("nul.txt", std::string("HOST_NAME = a\0b\n", 16)), ""},
        {"over 64 KiB", Write("big.txt", std::string(70000, '#') + "\n"), ""},
        {"one byte over 64 KiB", Write("big1.txt", std::string(65536, '#') + "\n"),
         "Cannot read " + ::testing::TempDir() + "big1.txt: it is larger than 64 KiB."},
        // Numbers are read whole: cut to 63 characters these would be 910 and 3.
        {"an over-long number", Write("long.txt", "PRNT_PORT = " + std::string(60, '0') + "9100\n"),
         "long.txt:1: PRNT_PORT: Enter an integer between 0 and 65535."},
        {"an over-long number", Write("long2.txt", "PRNT_RCV_TMO = " + std::string(62, '0') + "300\n"),
         "long2.txt:1: PRNT_RCV_TMO: Enter an integer between 30 and 65535."},
    };
    for (const Case& c : cases) {
        const CliResult r = Cli({"load", Named(0), c.path, "--timeout", "0"});
        EXPECT_EQ(r.exit, cli::kExitUsage) << c.what;
        if (c.error.find(".txt:") != std::string::npos)   // a line of the file: after its path
            EXPECT_NE(r.err.find(c.error), std::string::npos) << c.what << ": " << r.err;
        else
            EXPECT_EQ(r.err.rfind("pathlume-cli: " + c.error, 0), 0u) << c.what << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.what;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(rig_->sim().RequestsHandled(), 0) << "a refused file sent a request";

    // A byte-order mark is no reason to refuse.
    const CliResult bom = Cli({"load", Named(0), Write("bom.txt", "\xEF\xBB\xBFPRNT_PORT = 9100\n"),
                               "--timeout", "1"});
    EXPECT_EQ(bom.exit, cli::kExitOk) << bom.err;
    EXPECT_EQ(bom.out, "Nothing to change.\n");

    // A file of exactly 64 KiB is read whole, its last line too.
    const std::string last = "PRNT_PORT = 0009100\n";
    const std::string full = std::string(65536 - last.size() - 1, '#') + "\n" + last;
    ASSERT_EQ(full.size(), 65536u);
    rig_->sim().SetValue(0, KEY_PRNT_PORT, "515");
    const CliResult limit = Cli({"load", Named(0), Write("limit.txt", full), "--timeout", "1"});
    EXPECT_EQ(limit.exit, cli::kExitOk) << limit.err;
    EXPECT_EQ(limit.out, "PRNT_PORT: 515 -> 9100\nConfiguration verified.\n");
    EXPECT_EQ(rig_->sim().Value(0, KEY_PRNT_PORT), "9100");
}

// A FIFO in place of a settings file is refused, never opened for a read
// that would wait for a writer.
TEST_F(CliRun, LoadRefusesAFifoWithoutWaitingOnIt)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no FIFOs";
#else
    Start(devsim::GenerateDevices(1, 5));
    const std::string fifo = ::testing::TempDir() + "pathlume-fifo";
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const CliResult r = Cli({"load", Named(0), fifo, "--timeout", "0"});
    EXPECT_EQ(r.exit, cli::kExitUsage);
    EXPECT_EQ(r.err, "pathlume-cli: Cannot read " + fifo + ": not a regular file.\n");
    std::remove(fifo.c_str());
#endif
}

// Output that cannot be written fails the run, whatever the command did.
TEST_F(CliRun, OutputThatCannotBeWrittenFails)
{
    Start(devsim::GenerateDevices(2, 5));
    // As a closed standard output: no write reaches it.
    FILE* readOnly = std::fopen(testrig::kNullDevice, "r");
    ASSERT_NE(readOnly, nullptr);
    const CliResult closed = Cli({"save", Named(0), "-", "--timeout", "1"}, readOnly);
    EXPECT_EQ(closed.exit, cli::kExitOutput);
    EXPECT_EQ(closed.err.rfind("pathlume-cli: Cannot write standard output: ", 0), 0u) << closed.err;
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no device that is always full (/dev/full): a full output was not "
                    "tried";
#else
    FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    const CliResult onFull = Cli({"find", "--timeout", "0"}, full);
    EXPECT_EQ(onFull.exit, cli::kExitOutput);
    EXPECT_EQ(onFull.err, "pathlume-cli: Cannot write standard output: No space left on device.\n");
#endif
}

// A file that cannot be written is told and leaves the old one in place.
TEST_F(CliRun, ASaveThatCannotBeWrittenLeavesTheOldFile)
{
    if (!testrig::FolderModesBind())
        GTEST_SKIP() << "a folder without write permission keeps neither root nor anyone on "
                        "Windows from writing into it";
    Start(devsim::GenerateDevices(1, 5));
    namespace fs = std::filesystem;
    const std::string dir = ::testing::TempDir() + "pathlume-ro";
    fs::create_directory(dir);
    const std::string old = Write("pathlume-ro/backup.txt", "old\n");
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    const CliResult ro = Cli({"save", Named(0), old, "--timeout", "1"});
    fs::permissions(dir, fs::perms::owner_all);
    EXPECT_EQ(ro.exit, cli::kExitOutput);
    EXPECT_EQ(ro.err.rfind("pathlume-cli: Cannot write " + old + ": Permission denied.", 0), 0u)
        << ro.err;
    std::ifstream in(old);
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(content, "old\n");
    std::remove(old.c_str());
    fs::remove(dir);
}

// What any device on the network sends reaches the terminal escaped, and
// scripts exactly; a write that did not take is told on standard error.
TEST_F(CliRun, DeviceTextIsEscapedForTheTerminalAndWritesAreTold)
{
    std::vector<devsim::Device> devices = devsim::GenerateDevices(4, 23);
    devices[2].values[KEY_HOST_NAME] = "\x1b]0;owned\x07\x1b[2J";
    devices[2].values[KEY_DEV] = "a\r\nIP = 6.6.6.6";
    auto opt = testrig::LoopbackSimOptions();
    opt.refuseKeys = {KEY_PRNT_PORT};
    rig_ = std::make_unique<testrig::SimRig>(devices, opt);
    ASSERT_TRUE(rig_->ok());
    listen_ = FreePort();
    rig_->StartReplyingTo(listen_);

    const CliResult table = Cli({"find", "--timeout", "0"});
    ASSERT_EQ(table.exit, cli::kExitOk) << table.err;
    EXPECT_EQ(table.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(table.out.find('\r'), std::string::npos);
    EXPECT_NE(table.out.find("\\x1b]0;owned\\x07\\x1b[2J"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("a\\r\\nIP = 6.6.6.6"), std::string::npos) << table.out;
    // Sorted by serial number: the heading, then one line per device.
    std::vector<std::string> serials;
    for (size_t at = table.out.find('\n') + 1; at < table.out.size(); at = table.out.find('\n', at) + 1)
        serials.push_back(table.out.substr(at, table.out.find(' ', at) - at));
    ASSERT_EQ(serials.size(), 4u) << table.out;
    EXPECT_TRUE(std::is_sorted(serials.begin(), serials.end()));

    const CliResult json = Cli({"find", "--timeout", "0", "--format", "json"});
    EXPECT_NE(json.out.find("\"host_name\": \"\\u001b]0;owned\\u0007\\u001b[2J\""), std::string::npos)
        << json.out;
    const CliResult text = Cli({"get", Named(2), "--timeout", "1"});
    EXPECT_EQ(text.out.rfind("DEV = a\\r\\nIP = 6.6.6.6\n", 0), 0u) << text.out;
    EXPECT_EQ(text.out.find("\nIP = 6.6.6.6"), std::string::npos) << "a forged line";

    const CliResult refused = Cli({"set", Named(0), "PRNT_PORT=9101", "--timeout", "1"});
    EXPECT_EQ(refused.exit, cli::kExitNotVerified);
    EXPECT_EQ(refused.out, "PRNT_PORT: 9100 -> 9101\n");
    EXPECT_EQ(refused.err, "pathlume-cli: Device did not take: PRNT_PORT.\n");
    const CliResult asJson = Cli({"set", Named(0), "PRNT_PORT=9101", "HOST_NAME=json-host",
                                  "--timeout", "1", "--format", "json"});
    EXPECT_EQ(asJson.exit, cli::kExitNotVerified);
    EXPECT_NE(asJson.out.find("\"outcome\": \"not taken\""), std::string::npos) << asJson.out;
    EXPECT_NE(asJson.out.find("{\"key\": \"PRNT_PORT\", \"value\": \"9101\", \"came_back\": false}"),
              std::string::npos) << asJson.out;
    EXPECT_NE(asJson.out.find("{\"key\": \"HOST_NAME\", \"value\": \"json-host\", \"came_back\": true}"),
              std::string::npos) << asJson.out;
    const CliResult quiet = Cli({"set", Named(0), "HOST_NAME=quiet-host", "--quiet", "--timeout", "1"});
    EXPECT_EQ(quiet.exit, cli::kExitOk);
    EXPECT_EQ(quiet.out, "HOST_NAME: json-host -> quiet-host\n");
    EXPECT_EQ(quiet.err, "");
}

// A device's own backup gives back its host name byte for byte, whatever
// the bytes, and touches nothing else.
TEST_F(CliRun, SaveAndLoadRoundTripAnyBytes)
{
    const std::string odds[] = {
        std::string("lobby\r\nIP = 6.6.6.6\\") + static_cast<char>(0xE9),
        "  lobby",
        "\t\tlobby\t",
        "\r\n lobby\r\n",
        " \t",
    };
    for (const std::string& odd : odds) {
        SCOPED_TRACE(testing::PrintToString(odd));
        std::vector<devsim::Device> devices = devsim::GenerateDevices(1, 29);
        devices[0].values[KEY_HOST_NAME] = odd;
        Start(devices);
        const std::string file = ::testing::TempDir() + "pathlume-odd.txt";
        ASSERT_EQ(Cli({"save", Named(0), file, "--timeout", "1"}).exit, cli::kExitOk);
        rig_->sim().SetValue(0, KEY_HOST_NAME, "renamed");
        const CliResult r = Cli({"load", Named(0), file, "--timeout", "1"});
        EXPECT_EQ(r.exit, cli::kExitOk) << r.out << r.err;
        EXPECT_EQ(rig_->sim().Value(0, KEY_HOST_NAME), odd);
        testrig::ExpectOnlyChanged(rig_->sim(), 0, devices[0], KEY_HOST_NAME);
        std::remove(file.c_str());
        rig_.reset();
    }
}

// A number is read whole or refused: cut to its first 63 characters, these
// would write 910, 0 and 3.
TEST_F(CliRun, OverLongNumbersAreRefusedNotCut)
{
    Start(devsim::GenerateDevices(1, 31));
    rig_->sim().SetValue(0, KEY_PRNT_PORT, "515");
    const std::string before = "515";
    const struct Case {
        std::string assignment;
        const char* error;   // nullptr: written
    } cases[] = {
        {"PRNT_PORT=" + std::string(60, '0') + "9100", "PRNT_PORT: Enter an integer between 0 and 65535."},
        {"PRNT_PORT=" + std::string(63, '0') + "9100", "PRNT_PORT: Enter an integer between 0 and 65535."},
        {"PRNT_RCV_TMO=" + std::string(62, '0') + "30",
         "PRNT_RCV_TMO: Enter an integer between 30 and 65535."},
        {"PRNT_PORT=" + std::string(60, '9'), "PRNT_PORT: Enter an integer between 0 and 65535."},
        {"PRNT_PORT=" + std::string(59, '0') + "9100", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.assignment);
        const CliResult r = Cli({"set", Named(0), c.assignment, "--timeout", "1"});
        if (c.error) {
            EXPECT_EQ(r.exit, cli::kExitUsage);
            EXPECT_EQ(r.err, std::string("pathlume-cli: ") + c.error + "\n");
            EXPECT_EQ(rig_->sim().Value(0, KEY_PRNT_PORT), before);
            continue;
        }
        EXPECT_EQ(r.exit, cli::kExitOk) << r.err;
        EXPECT_EQ(r.out, "PRNT_PORT: " + before + " -> 9100\nConfiguration verified.\n");
        EXPECT_EQ(rig_->sim().Value(0, KEY_PRNT_PORT), "9100");
    }
}

// A lookup by name sees every device that answered, also those the device
// table (1024 rows) had no room for: one is found, two refuse.
TEST_F(CliRun, ALookupSeesDevicesBeyondTheTable)
{
    std::vector<devsim::Device> devices = devsim::GenerateDevices(1100, 47);
    devices[1090].values[KEY_SERIAL_NUM] = devices[5].values[KEY_SERIAL_NUM];      // in and beyond
    devices[1099].values[KEY_SERIAL_NUM] = devices[1080].values[KEY_SERIAL_NUM];   // both beyond
    Start(devices);
    const std::string wanted = devices[1047].values[KEY_SERIAL_NUM];
    for (const std::string& name : {wanted, devices[1047].values[KEY_MAC]}) {
        const CliResult r = Cli({"get", name, "--timeout", "1"});
        if (r.err.find(kRepliesLostText) != std::string::npos)
            GTEST_SKIP() << "the system dropped replies of 1100 devices (a receive buffer too small "
                            "without root): which devices the table holds is unknown";
        EXPECT_EQ(r.exit, cli::kExitOk) << name << ": " << r.err;
        EXPECT_NE(r.out.find("SERIAL_NUM = " + wanted), std::string::npos) << r.out;
        EXPECT_NE(r.err.find("More devices answered than the 1024 listed."), std::string::npos) << r.err;
    }
    for (size_t twin : {size_t{5}, size_t{1080}}) {
        const std::string serial = devices[twin].values[KEY_SERIAL_NUM];
        const CliResult r = Cli({"set", serial, "HOST_NAME=taken", "--timeout", "1"});
        EXPECT_EQ(r.exit, cli::kExitUsage) << serial;
        EXPECT_NE(r.err.find("pathlume-cli: Serial number " + serial + " answered from 2 MAC addresses"),
                  std::string::npos)
            << r.err;
    }
    EXPECT_EQ(rig_->sim().Value(5, KEY_HOST_NAME), devices[5].values[KEY_HOST_NAME]);
    EXPECT_EQ(rig_->sim().Value(1099, KEY_HOST_NAME), devices[1099].values[KEY_HOST_NAME]);
}

// Ctrl-C during a Find ends it at once with what was found so far.
TEST_F(CliRun, InterruptedFindPrintsWhatItFound)
{
    Start(devsim::GenerateDevices(3, 5));
    std::thread interrupt([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        cli::RequestInterrupt();
    });
    const auto t0 = std::chrono::steady_clock::now();
    const CliResult r = Cli({"find", "--timeout", "60", "--format", "csv"});
    interrupt.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
    EXPECT_EQ(r.exit, cli::kExitInterrupted);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4) << r.out;
}

// diff compares as the write check does: values written differently but
// equal by value agree; a different value, or a key the device lacks, differs.
TEST_F(CliRun, DiffComparesByValue)
{
    std::vector<devsim::Device> devices = devsim::GenerateDevices(1, 71);
    devices[0].values[KEY_PRNT_RCV_TMO] = "300";
    devices[0].values[KEY_GATEWAY] = "192.168.077.001";
    devices[0].values[KEY_DHCP] = "1";
    devices[0].values[KEY_HOST_NAME] = "lobby";
    devices[0].missing = 1u << KEY_SUBNET_MASK;
    Start(devices);
    struct Case {
        const char* file;
        int exit;
        std::vector<std::string> differ;   // the keys, in record order
        bool lacking;                      // the device lacks the first of them
    } cases[] = {
        {"PRNT_RCV_TMO = 00300\nGATEWAY = 192.168.77.1\nDHCP = Enable\nHOST_NAME = lobby\n",
         cli::kExitOk, {}, false},
        {"PRNT_RCV_TMO = 301\nGATEWAY = 192.168.77.1\nHOST_NAME = Lobby\n", cli::kExitDiffer,
         {"PRNT_RCV_TMO", "HOST_NAME"}, false},
        {"DHCP = Disable\nGATEWAY=192.168.77.10\n", cli::kExitDiffer, {"DHCP", "GATEWAY"}, false},
        {"SUBNET_MASK = 255.255.255.0\nPRNT_RCV_TMO = 300\n", cli::kExitDiffer, {"SUBNET_MASK"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string file = Write("pathlume-diff.txt", c.file);
        const CliResult json = Cli({"diff", Named(0), file, "--timeout", "1", "--format", "json"});
        EXPECT_EQ(json.exit, c.exit) << json.err;
        JsonValue v;
        ASSERT_TRUE(ParseJson(json.out, &v)) << json.out;
        EXPECT_EQ(v.Find("agree")->boolean, c.differ.empty());
        EXPECT_EQ(v.Find("left")->Find("device")->Find("serial")->text,
                  devices[0].values[KEY_SERIAL_NUM]);
        const std::vector<JsonValue>& d = v.Find("differences")->items;
        ASSERT_EQ(d.size(), c.differ.size()) << json.out;
        for (size_t i = 0; i < d.size(); ++i)
            EXPECT_EQ(d[i].Find("key")->text, c.differ[i]);
        if (c.lacking) {
            EXPECT_EQ(d[0].Find("left")->type, JsonValue::Type::Null) << json.out;
        }

        const CliResult table = Cli({"diff", Named(0), file, "--timeout", "1"});
        EXPECT_EQ(table.exit, c.exit);
        if (c.differ.empty())
            EXPECT_EQ(table.out, "The 4 keys of " + file + " agree.\n");
        else
            EXPECT_EQ(table.out.rfind("Key ", 0), 0u) << table.out;
        EXPECT_EQ(table.out.find("(not on the device)") != std::string::npos, c.lacking)
            << table.out;
    }
    EXPECT_EQ(rig_->sim().LastWrite(0).size(), 0u) << "diff wrote";

    // Two files: key by key both ways, with nothing sent.
    const int requests = rig_->sim().RequestsHandled();
    const std::string a = Write("pathlume-diff-a.txt", "PRNT_PORT = 09100\nDHCP = 0\nIP = 10.0.0.9\n");
    const std::string b =
        Write("pathlume-diff-b.txt", "DHCP = Disable\nPRNT_PORT = 9100\nGATEWAY = 10.0.0.1\n");
    const CliResult files = Cli({"diff", a, b, "--format", "json"});
    EXPECT_EQ(files.exit, cli::kExitDiffer) << files.err;
    JsonValue v;
    ASSERT_TRUE(ParseJson(files.out, &v)) << files.out;
    const std::vector<JsonValue>& d = v.Find("differences")->items;
    ASSERT_EQ(d.size(), 2u) << files.out;
    EXPECT_EQ(d[0].Find("key")->text, "IP");
    EXPECT_EQ(d[0].Find("right")->type, JsonValue::Type::Null);
    EXPECT_EQ(d[1].Find("key")->text, "GATEWAY");
    EXPECT_EQ(d[1].Find("left")->type, JsonValue::Type::Null);
    EXPECT_EQ(Cli({"diff", a, a}).exit, cli::kExitOk);
    EXPECT_EQ(rig_->sim().RequestsHandled(), requests) << "two files need no device";
}

}  // namespace

namespace {

class CliJournal : public CliRun {
protected:
    void SetUp() override
    {
        journal_ = JournalPath();
        ASSERT_FALSE(journal_.empty());
        std::remove(journal_.c_str());   // each test starts with an empty journal
    }

    JournalContents ReadBack()
    {
        JournalContents j;
        std::string reason;
        EXPECT_TRUE(ReadJournal(journal_, &j, &reason)) << reason;
        return j;
    }

    std::string journal_;
};

// Writes are journaled with what they changed, history lists them newest
// first, and restore gives back exactly what an entry's write changed, through
// the write path of set, journaling itself.
TEST_F(CliJournal, HistoryShowsEachWriteAndRestoreUndoesIt)
{
    std::vector<devsim::Device> devices = devsim::GenerateDevices(2, 61);
    const std::string odd = std::string("lobby\r\n\"east\"") + static_cast<char>(0xE9);
    devices[1].values[KEY_HOST_NAME] = odd;
    devices[0].values[KEY_GATEWAY] = "192.168.077.001";   // read by value, given back as it was
    Start(devices);
    const std::string tmo0 = devices[0].values[KEY_PRNT_RCV_TMO];

    ASSERT_EQ(Cli({"set", Named(0), "PRNT_RCV_TMO=300", "GATEWAY=10.9.0.254", "--timeout", "1"}).exit,
              cli::kExitOk);
    ASSERT_EQ(Cli({"set", Named(1), "HOST_NAME=plain", "--timeout", "1"}).exit, cli::kExitOk);
    ASSERT_EQ(Cli({"set", Named(0), "HOST_NAME=third", "--timeout", "1"}).exit, cli::kExitOk);

    const CliResult table = Cli({"history"});
    EXPECT_EQ(table.exit, cli::kExitOk) << table.err;
    EXPECT_EQ(table.err, "");
    EXPECT_EQ(table.out.rfind("Entry  Time ", 0), 0u) << table.out;
    const size_t third = table.out.find("\n3  ");
    const size_t second = table.out.find("\n2  ");
    const size_t first = table.out.find("\n1  ");
    ASSERT_TRUE(third < second && second < first && first != std::string::npos) << table.out;
    EXPECT_NE(table.out.find("  PRNT_RCV_TMO: " + tmo0 + " -> 300\n", first), std::string::npos)
        << table.out;
    EXPECT_NE(table.out.find("  GATEWAY: 192.168.077.001 -> 10.9.0.254\n", first), std::string::npos);
    EXPECT_NE(table.out.find("  HOST_NAME: lobby\\r\\n\"east\"\\xe9 -> plain\n", second),
              std::string::npos) << "device text is escaped: " << table.out;
    EXPECT_NE(table.out.find("pathlume-cli  set     verified"), std::string::npos) << table.out;

    // JSON gives the same, exactly; DEVICE keeps one device's writes.
    const CliResult json = Cli({"history", devices[1].values[KEY_MAC], "--format", "json"});
    JsonValue v;
    ASSERT_TRUE(ParseJson(json.out, &v)) << json.out;
    ASSERT_EQ(v.items.size(), 1u) << json.out;
    const JsonValue& e2 = v.items[0];
    EXPECT_EQ(e2.Find("entry")->number, 2);
    EXPECT_EQ(e2.Find("serial")->text, devices[1].values[KEY_SERIAL_NUM]);
    EXPECT_EQ(e2.Find("outcome")->text, "verified");
    ASSERT_EQ(e2.Find("changes")->items.size(), 1u);
    EXPECT_EQ(e2.Find("changes")->items[0].Find("before")->text, odd);
    EXPECT_EQ(e2.Find("changes")->items[0].Find("after")->text, "plain");

    // Entry 1 undone: its two keys come back, the later host name stays.
    const CliResult undo = Cli({"restore", Named(0), "--entry", "1", "--timeout", "1"});
    EXPECT_EQ(undo.exit, cli::kExitOk) << undo.err;
    EXPECT_EQ(undo.err, "");
    EXPECT_EQ(undo.out.substr(undo.out.find('\n') + 1),
              "GATEWAY: 10.9.0.254 -> 192.168.77.1\nPRNT_RCV_TMO: 300 -> " + tmo0 +
                  "\nConfiguration verified.\n");
    EXPECT_EQ(undo.out.rfind("Restoring entry 1 of ", 0), 0u) << undo.out;
    EXPECT_EQ(rig_->sim().Value(0, KEY_PRNT_RCV_TMO), tmo0);
    EXPECT_EQ(rig_->sim().Value(0, KEY_GATEWAY), "192.168.77.1");
    EXPECT_EQ(rig_->sim().Value(0, KEY_HOST_NAME), "third");

    // The newest entry of a device by default; a host name goes back whatever its bytes.
    const CliResult back = Cli({"restore", devices[1].values[KEY_SERIAL_NUM], "--timeout", "1"});
    EXPECT_EQ(back.exit, cli::kExitOk) << back.err;
    EXPECT_EQ(rig_->sim().Value(1, KEY_HOST_NAME), odd);
    testrig::ExpectOnlyChanged(rig_->sim(), 1, devices[1], -1);

    JournalContents j = ReadBack();
    ASSERT_EQ(j.entries.size(), 5u);
    EXPECT_TRUE(j.damaged.empty());
    const JournalEntry& r1 = j.entries[3];
    EXPECT_EQ(r1.action, "restore");
    EXPECT_EQ(r1.program, "pathlume-cli");
    EXPECT_EQ(r1.restores, 1);
    EXPECT_EQ(r1.outcome, "verified");
    EXPECT_EQ(j.entries[4].restores, 2);
    EXPECT_EQ(j.entries[0].before.size(), 20u) << "every record read before the write";
    EXPECT_EQ(j.entries[0].written.size(), 14u);

    // A dry run of undoing the undo: shown, not written, not journaled.
    const int requests = rig_->sim().RequestsHandled();
    const CliResult dry = Cli({"restore", Named(0), "--dry-run", "--timeout", "1", "--format", "json"});
    EXPECT_EQ(dry.exit, cli::kExitOk) << dry.err;
    ASSERT_TRUE(ParseJson(dry.out, &v)) << dry.out;
    EXPECT_EQ(v.Find("restores")->number, 4);
    EXPECT_EQ(v.Find("outcome")->text, "dry run");
    EXPECT_EQ(v.Find("changes")->items.size(), 2u);
    EXPECT_EQ(rig_->sim().Value(0, KEY_PRNT_RCV_TMO), tmo0);
    EXPECT_EQ(ReadBack().entries.size(), 5u);
    EXPECT_EQ(rig_->sim().RequestsHandled(), requests + 1) << "one read, no write";
}

// A damaged line is skipped and counted, never fatal; a restore that cannot
// name its entry sends nothing.
TEST_F(CliJournal, DamagedLinesAndRestoresThatCannotBe)
{
    Start(devsim::GenerateDevices(2, 62));
    ASSERT_EQ(Cli({"set", Named(0), "PRNT_PORT=9300", "--timeout", "1"}).exit, cli::kExitOk);
    std::ofstream(journal_, std::ios::app) << "{\"time\": \"cut";   // a write cut short
    ASSERT_EQ(Cli({"set", Named(0), "PRNT_PORT=9301", "--timeout", "1"}).exit, cli::kExitOk);

    const CliResult history = Cli({"history"});
    EXPECT_EQ(history.exit, cli::kExitOk);
    EXPECT_EQ(history.err, "pathlume-cli: Skipped 1 damaged line of " + journal_ + " (line 2).\n");
    EXPECT_NE(history.out.find("\n3  "), std::string::npos) << history.out;
    EXPECT_NE(history.out.find("\n1  "), std::string::npos) << history.out;

    const int requests = rig_->sim().RequestsHandled();
    const std::string skipped = "pathlume-cli: Skipped 1 damaged line of " + journal_ + " (line 2).\n";
    struct Case {
        std::vector<std::string> args;
        int exit;
        std::string err;
    } cases[] = {
        {{"restore", Named(1)}, cli::kExitNoDevice,
         "pathlume-cli: No write to " + Named(1) + " is recorded in " + journal_ + ".\n"},
        {{"restore", Named(0), "--entry", "9"}, cli::kExitUsage,
         "pathlume-cli: There is no entry 9 in " + journal_ + ".\n"},
        {{"restore", Named(0), "--entry", "2"}, cli::kExitUsage,
         "pathlume-cli: Entry 2 of " + journal_ + " is damaged.\n"},
        {{"restore", Named(1), "--entry", "3"}, cli::kExitUsage,
         "pathlume-cli: Entry 3 is a write to " + rig_->sim().Value(0, KEY_SERIAL_NUM) + " (" +
             rig_->sim().Value(0, KEY_MAC) + "), not to " + Named(1) + ".\n"},
    };
    for (const Case& c : cases) {
        const CliResult r = Cli(c.args);
        EXPECT_EQ(r.exit, c.exit) << c.args[1];
        EXPECT_EQ(r.err, skipped + c.err);
        EXPECT_EQ(r.out, "");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(rig_->sim().RequestsHandled(), requests) << "a refused restore sent a request";

    // Restoring entry 3 gives back what entry 3 changed, past the damaged line.
    const CliResult r = Cli({"restore", Named(0), "--timeout", "1", "--quiet"});
    EXPECT_EQ(r.exit, cli::kExitOk) << r.err;
    EXPECT_EQ(r.out, "PRNT_PORT: 9301 -> 9300\n");
    EXPECT_EQ(rig_->sim().Value(0, KEY_PRNT_PORT), "9300");
}

// History prints an entry's texts as the terminal and JSON need them
// whatever the line held: escapes in its strings, CR LF and blank lines, a
// line only the whole JSON reader takes (another field, a code point beyond
// one byte), a last line without its end; the columns fit the escaped text.
TEST_F(CliJournal, HistoryPrintsEveryEntryAsItReads)
{
    Start(devsim::GenerateDevices(1, 64));
    const std::string restore =
        R"({"time": "2026-05-01T09:00:00Z", "program": "pathlume", "action": "restore", "restores": 12, )"
        R"("serial": "SN\"7\\", "mac": "02C0EE32E407", "before": [{"key": "HOST_NAME", "value": "a\u00e9\n"}, )"
        R"({"key": "IP", "value": "10.0.0.7"}], "written": [{"key": "HOST_NAME", "value": "b"}, )"
        R"({"key": "IP", "value": "010.000.000.007"}, {"key": "GATEWAY", "value": "10.0.0.254"}], )"
        R"("outcome": "not taken", "not_taken": ["HOST_NAME", "GATEWAY"]})";
    const std::string other =
        R"({"time": "2026-05-01T09:01:00Z", "program": "pathlume-cli", "action": "set", "serial": "SN8", )"
        R"("mac": "02C0EE32E408", "before": [], "written": [{"key": "HOST_NAME", "value": "\u0101"}], )"
        R"("outcome": "verified", "extra": 1})";
    std::string reason;
    ASSERT_TRUE(AppendJournalLine(journal_, restore + "\r\n", &reason)) << reason;
    std::ofstream(journal_, std::ios::app | std::ios::binary) << "   \r\n{\"time\": \"cut\n" << other;

    const std::string skipped = "pathlume-cli: Skipped 1 damaged line of " + journal_ + " (line 3).\n";
    const std::string row1 = "1      2026-05-01T09:00:00Z  SN\"7\\\\         02C0EE32E407  pathlume";
    const std::string changes1 = "       HOST_NAME: a\\xe9\\n -> b\n       GATEWAY: (none) -> 10.0.0.254\n";
    const std::string json4 =
        R"({"entry": 4, "time": "2026-05-01T09:01:00Z", "program": "pathlume-cli", "action": "set", )"
        R"("serial": "SN8", "mac": "02C0EE32E408", "changes": [{"key": "HOST_NAME", "before": null, )"
        R"("after": "\u00c4\u0081"}], "outcome": "verified", "not_taken": []})";
    const std::string json1 =
        R"({"entry": 1, "time": "2026-05-01T09:00:00Z", "program": "pathlume", "action": "restore", )"
        R"("restores": 12, "serial": "SN\"7\\", "mac": "02C0EE32E407", "changes": [{"key": "HOST_NAME", )"
        R"("before": "a\u00e9\u000a", "after": "b"}, {"key": "GATEWAY", "before": null, "after": )"
        R"("10.0.0.254"}], "outcome": "not taken", "not_taken": ["HOST_NAME", "GATEWAY"]})";
    struct Case {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"history"},
         "Entry  Time                  Serial Number  Mac Address   Program       Action      Outcome\n"
         "4      2026-05-01T09:01:00Z  SN8            02C0EE32E408  pathlume-cli  set         verified\n"
         "       HOST_NAME: (none) -> \\xc4\\x81\n" +
             row1 + "      restore 12  not taken: HOST_NAME, GATEWAY\n" + changes1},
        {{"history", "--format", "json"}, "[\n  " + json4 + ",\n  " + json1 + "\n]\n"},
        {{"history", "SN8", "--format", "json"}, "[\n  " + json4 + "\n]\n"},
        {{"history", "02:c0:ee:32:e4:07"},
         "Entry  Time                  Serial Number  Mac Address   Program   Action      Outcome\n" + row1 +
             "  restore 12  not taken: HOST_NAME, GATEWAY\n" + changes1},
    };
    for (const Case& c : cases) {
        const CliResult r = Cli(c.args);
        EXPECT_EQ(r.exit, cli::kExitOk) << c.args.back();
        EXPECT_EQ(r.err, skipped) << c.args.back();
        EXPECT_EQ(r.out, c.out) << c.args.back();
    }
}

// A journal that cannot be written is told, and the write happens and is
// reported as it would be without one.
TEST_F(CliJournal, AJournalThatCannotBeWrittenDoesNotStopTheWrite)
{
    namespace fs = std::filesystem;
    Start(devsim::GenerateDevices(1, 63));
    const std::string state = std::getenv(testrig::kStateVariable);
    const std::string base = state + "/unwritable";
    fs::create_directories(base + "/dir-journal/pathlume/writes.jsonl");
    std::ofstream(base + "/a-file") << "x\n";
    fs::create_directory(base + "/read-only");
    fs::permissions(base + "/read-only", fs::perms::owner_read | fs::perms::owner_exec);
    struct Case {
        std::string home;
        const char* reason;
        bool modeBound;   // only where a folder's mode keeps this process out
    } cases[] = {
#ifdef _WIN32
        {base + "/a-file", "No such file or directory", false},
#else
        {base + "/a-file", "Not a directory", false},
#endif
        {base + "/dir-journal", "Is a directory", false},
        {base + "/read-only", "Permission denied", true},
    };
    int port = 9400;
    for (const Case& c : cases) {
        if (c.modeBound && !testrig::FolderModesBind())
            continue;
        testrig::SetEnv(testrig::kStateVariable, c.home);
        const std::string value = std::to_string(++port);
        const CliResult r = Cli({"set", Named(0), "PRNT_PORT=" + value, "--timeout", "1"});
        testrig::SetEnv(testrig::kStateVariable, state);
        EXPECT_EQ(r.exit, cli::kExitOk) << c.home;
        EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), "Configuration verified.\n");
        EXPECT_EQ(r.err, "pathlume-cli: Cannot record this write in " + testrig::JournalPathIn(c.home) +
                             ": " + c.reason + ".\n");
        EXPECT_EQ(rig_->sim().Value(0, KEY_PRNT_PORT), value) << "the write happened";
    }
    fs::permissions(base + "/read-only", fs::perms::owner_all);
}

// A device that takes a write 20 ms after it came is still verified: the
// re-read waits the 30 ms a device needs.
TEST_F(CliRun, AWriteTheDeviceTakesLateIsStillVerified)
{
    auto opt = testrig::LoopbackSimOptions();
    opt.applyLateMs = 20;
    Start(devsim::GenerateDevices(1, 65), opt);
    const CliResult r = Cli({"set", Named(0), "PRNT_PORT=9101", "--timeout", "1"});
    EXPECT_EQ(r.exit, cli::kExitOk) << r.err;
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), "Configuration verified.\n");
    EXPECT_EQ(rig_->sim().Value(0, KEY_PRNT_PORT), "9101");
}

// Restore checks what it overwrites: after another writer (the simulator's
// change-after fault) has changed a key the entry wrote, nothing is written
// unless --force; a key that had no value before the entry is left as it is.
TEST_F(CliJournal, RestoreDoesNotUndoAnotherWritersChangeUnlessForced)
{
    std::vector<devsim::Device> devices = devsim::GenerateDevices(1, 64);
    devices[0].values[KEY_PRNT_PORT] = "";   // empty before the write
    const std::string original = devices[0].values[KEY_HOST_NAME];
    auto opt = testrig::LoopbackSimOptions();
    opt.fault = devsim::Fault::ChangeAfter;
    opt.changeAfterMs = 400;
    opt.changeRecords = {{KEY_HOST_NAME, "colleague"}};
    opt.faultCount = 1;   // after the set's own read only
    Start(devices, opt);

    const CliResult set = Cli({"set", Named(0), "HOST_NAME=mine", "PRNT_PORT=9100", "--timeout", "1"});
    ASSERT_EQ(set.exit, cli::kExitOk) << set.out << set.err;
    for (int i = 0; i < 100 && rig_->sim().Value(0, KEY_HOST_NAME) != "colleague"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(rig_->sim().Value(0, KEY_HOST_NAME), "colleague");

    const std::string told =
        "pathlume-cli: PRNT_PORT had no value before entry 1; left as it is.\n"
        "pathlume-cli: HOST_NAME is colleague now, not mine as entry 1 wrote it. Nothing was "
        "restored; --force restores anyway.\n";
    for (const char* dry : {"--dry-run", "--quiet"}) {
        const int requests = rig_->sim().RequestsHandled();
        const CliResult r = Cli({"restore", Named(0), dry, "--timeout", "1"});
        EXPECT_EQ(r.exit, cli::kExitNotVerified) << dry;
        EXPECT_EQ(r.err, told) << dry;
        EXPECT_EQ(r.out.find("->"), std::string::npos) << r.out;
        EXPECT_EQ(rig_->sim().RequestsHandled(), requests + 1) << dry << ": one read, no write";
        EXPECT_EQ(rig_->sim().Value(0, KEY_HOST_NAME), "colleague");
    }
    EXPECT_EQ(ReadBack().entries.size(), 1u);

    const CliResult forced = Cli({"restore", Named(0), "--force", "--timeout", "1"});
    EXPECT_EQ(forced.exit, cli::kExitOk) << forced.err;
    EXPECT_EQ(forced.err, "pathlume-cli: PRNT_PORT had no value before entry 1; left as it is.\n");
    EXPECT_EQ(forced.out.substr(forced.out.find('\n') + 1),
              "HOST_NAME: colleague -> " + original + "\nConfiguration verified.\n");
    EXPECT_EQ(rig_->sim().Value(0, KEY_HOST_NAME), original);
    EXPECT_EQ(rig_->sim().Value(0, KEY_PRNT_PORT), "9100");
    const JournalContents j = ReadBack();
    ASSERT_EQ(j.entries.size(), 2u);
    EXPECT_EQ(j.entries[1].restores, 1);

    // --force is a restore's alone.
    const CliResult misplaced = Cli({"set", Named(0), "PRNT_PORT=9101", "--force"});
    EXPECT_EQ(misplaced.exit, cli::kExitUsage);
    EXPECT_EQ(misplaced.err, "pathlume-cli: --force applies to restore only (see --help)\n");
}

// One file applied to three devices: one already agrees, one refuses a key,
// one answers a Find and nothing more. Each is told; the worst sets the exit
// status; only the device written to has a journal entry. A dry run first
// shows the plan and writes nothing.
TEST_F(CliJournal, ApplyGoesThroughEveryDeviceAndTellsEach)
{
    std::vector<devsim::Device> devices = devsim::GenerateDevices(3, 81);
    devices[0].values[KEY_PRNT_RCV_TMO] = "600";
    devices[0].values[KEY_GATEWAY] = "10.0.0.1";
    devices[1].values[KEY_PRNT_RCV_TMO] = "90";
    devices[1].refused = 1u << KEY_GATEWAY;
    devices[2].findOnly = true;
    Start(devices);
    const std::string standard =
        Write("pathlume-standard.txt", "PRNT_RCV_TMO = 600\nGATEWAY = 010.0.0.1\n");
    const std::string agrees = devices[0].values[KEY_SERIAL_NUM];
    const std::string refuses = devices[1].values[KEY_SERIAL_NUM];
    const std::string silent = devices[2].values[KEY_SERIAL_NUM];
    auto outcomes = [](const JsonValue& v) {
        std::map<std::string, std::string> o;
        for (const JsonValue& d : v.Find("devices")->items)
            o[d.Find("serial")->text] = d.Find("outcome")->text;
        return o;
    };

    const CliResult dry = Cli({"apply", standard, "--all", "--dry-run", "--timeout", "1", "--format", "json"});
    EXPECT_EQ(dry.exit, cli::kExitNoDevice) << dry.err;
    JsonValue v;
    ASSERT_TRUE(ParseJson(dry.out, &v)) << dry.out;
    EXPECT_TRUE(v.Find("dry_run")->boolean);
    EXPECT_EQ(outcomes(v), (std::map<std::string, std::string>{
                               {agrees, "already so"}, {refuses, "would change"}, {silent, "no answer"}}));
    EXPECT_EQ(rig_->sim().LastWrite(1).size(), 0u) << "a dry run wrote";
    EXPECT_TRUE(ReadBack().entries.empty());

    const CliResult r = Cli({"apply", standard, "--all", "--timeout", "1"});
    EXPECT_EQ(r.exit, cli::kExitNotVerified) << r.out << r.err;
    EXPECT_EQ(r.out.rfind("Serial Number  Mac Address", 0), 0u) << r.out;
    // The summary's rows, their columns split at the blanks between them.
    auto row = [&r](const std::string& serial) {
        const size_t at = r.out.find("\n" + serial + " ");
        std::string line = at == std::string::npos ? "" : r.out.substr(at + 1);
        line = line.substr(0, line.find('\n'));
        std::string cells;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line.compare(i, 2, "  ") != 0) {
                cells += line[i];
                continue;
            }
            cells += '|';
            while (i + 1 < line.size() && line[i + 1] == ' ')
                ++i;
        }
        return cells;
    };
    EXPECT_EQ(row(refuses), refuses + "|" + devices[1].values[KEY_MAC] +
                                "|GATEWAY, PRNT_RCV_TMO|not taken: GATEWAY") << r.out;
    EXPECT_EQ(row(agrees), agrees + "|" + devices[0].values[KEY_MAC] + "|-|already so");
    EXPECT_EQ(row(silent), silent + "|" + devices[2].values[KEY_MAC] + "|-|no answer");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4) << r.out;
    EXPECT_NE(r.err.find("[3/3] "), std::string::npos) << r.err;
    EXPECT_EQ(rig_->sim().Value(1, KEY_PRNT_RCV_TMO), "600");
    EXPECT_EQ(rig_->sim().Value(1, KEY_GATEWAY), devices[1].values[KEY_GATEWAY]);
    EXPECT_EQ(rig_->sim().LastWrite(0).size(), 0u) << "the device that agrees was written";
    const JournalContents j = ReadBack();
    ASSERT_EQ(j.entries.size(), 1u);
    EXPECT_EQ(j.entries[0].serial, refuses);
    EXPECT_EQ(j.entries[0].action, "apply");
    EXPECT_EQ(j.entries[0].outcome, "not taken");
    EXPECT_EQ(j.entries[0].notTaken, std::vector<std::string>{"GATEWAY"});

    // Named devices: the one that agrees alone is fine; a name nobody answers to is told.
    EXPECT_EQ(Cli({"apply", standard, agrees, "--timeout", "1"}).exit, cli::kExitOk);
    const CliResult nobody = Cli({"apply", standard, agrees, "SN-NOBODY", "--timeout", "1", "--quiet"});
    EXPECT_EQ(nobody.exit, cli::kExitNoDevice);
    EXPECT_EQ(nobody.err, "pathlume-cli: No device SN-NOBODY answered.\n");
    // --match keeps the devices whose Find field matches.
    const CliResult matched = Cli({"apply", standard, "--match", "SERIAL_NUM=" + agrees.substr(0, 2) + "*",
                                   "--match", "HOST_NAME=" + devices[1].values[KEY_HOST_NAME],
                                   "--dry-run", "--timeout", "1", "--format", "json"});
    ASSERT_TRUE(ParseJson(matched.out, &v)) << matched.out;
    EXPECT_EQ(outcomes(v), (std::map<std::string, std::string>{{refuses, "would change"}}));
}

// A device's address and name are never given to many devices: refused before
// anything is sent, unless one DEVICE is named.
TEST_F(CliJournal, ApplyKeepsEachDevicesIdentity)
{
    std::vector<devsim::Device> devices = devsim::GenerateDevices(2, 82);
    Start(devices);
    const std::string named = Write("pathlume-named.txt", "HOST_NAME = front-desk\nPRNT_RCV_TMO = 45\n");
    const std::string addressed = Write("pathlume-addressed.txt", "IP = 10.1.2.3\n");
    const int requests = rig_->sim().RequestsHandled();
    struct Case {
        std::vector<std::string> args;
        std::string keys;
    } cases[] = {
        {{"apply", named, "--all"}, "HOST_NAME"},
        {{"apply", addressed, "--match", "DEV=*"}, "IP"},
        {{"apply", named, Named(0), Named(1)}, "HOST_NAME"},
        {{"apply", named, "--match", "SERIAL_NUM=" + devices[0].values[KEY_SERIAL_NUM]}, "HOST_NAME"},
    };
    for (const Case& c : cases) {
        const CliResult r = Cli(c.args);
        EXPECT_EQ(r.exit, cli::kExitUsage) << c.args[2];
        EXPECT_EQ(r.err, "pathlume-cli: " + c.args[1] + " sets " + c.keys +
                             ", which are applied to one named DEVICE only, never to many devices; "
                             "nothing was written.\n");
        EXPECT_EQ(r.out, "");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(rig_->sim().RequestsHandled(), requests) << "a refused apply sent a request";

    const CliResult one = Cli({"apply", named, Named(1), "--timeout", "1"});
    EXPECT_EQ(one.exit, cli::kExitOk) << one.err;
    EXPECT_EQ(rig_->sim().Value(1, KEY_HOST_NAME), "front-desk");
    EXPECT_EQ(rig_->sim().Value(0, KEY_HOST_NAME), devices[0].values[KEY_HOST_NAME]);
}

// Ctrl-C while a device is written: its write is checked and journaled
// whole, no other device is written, and the summary so far is printed.
TEST_F(CliJournal, InterruptedApplyStopsBeforeTheNextDevice)
{
    devsim::Options slow = testrig::LoopbackSimOptions();
    slow.delayMs = 150;   // each reply: time for Ctrl-C to come while one device is written
    Start(devsim::GenerateDevices(3, 83), slow);
    const std::string standard = Write("pathlume-slow.txt", "PRNT_RCV_TMO = 4321\n");
    std::atomic<bool> done{false};
    std::thread interrupt([this, &done] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done.load() && std::chrono::steady_clock::now() < until) {
            for (size_t i = 0; i < 3; ++i)
                if (!rig_->sim().LastWrite(i).empty()) {
                    cli::RequestInterrupt();
                    return;
                }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const CliResult r = Cli({"apply", standard, "--all", "--timeout", "1", "--format", "json"});
    done.store(true);
    interrupt.join();
    EXPECT_EQ(r.exit, cli::kExitInterrupted) << r.err;
    JsonValue v;
    ASSERT_TRUE(ParseJson(r.out, &v)) << r.out;
    EXPECT_TRUE(v.Find("interrupted")->boolean);
    ASSERT_EQ(v.Find("devices")->items.size(), 1u) << r.out;
    EXPECT_EQ(v.Find("devices")->items[0].Find("outcome")->text, "changed");
    int written = 0;
    for (size_t i = 0; i < 3; ++i)
        written += rig_->sim().Value(i, KEY_PRNT_RCV_TMO) == "4321";
    EXPECT_EQ(written, 1);
    const JournalContents j = ReadBack();
    ASSERT_EQ(j.entries.size(), 1u);
    EXPECT_EQ(j.entries[0].outcome, "verified");
}

}  // namespace
