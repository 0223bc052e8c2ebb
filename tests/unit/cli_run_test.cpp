// pathlume-cli run in-process against the simulator on loopback: what its
// writes send and what they leave on the device.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "cli.h"
#include "loopback_rig.h"
#include "quirky_devices.h"

namespace {

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
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

class CliRun : public ::testing::Test {
protected:
    void Start(std::vector<devsim::Device> devices)
    {
        rig_ = std::make_unique<testrig::SimRig>(std::move(devices));
        ASSERT_TRUE(rig_->ok());
        listen_ = FreePort();
        rig_->StartReplyingTo(listen_);
    }

    CliResult Cli(std::vector<std::string> args)
    {
        args.insert(args.begin(), "pathlume-cli");
        args.push_back("--send-to");
        args.push_back("127.0.0.1:" + std::to_string(rig_->port()));
        args.push_back("--listen");
        args.push_back("127.0.0.1:" + std::to_string(listen_));
        std::vector<const char*> argv;
        for (const std::string& a : args)
            argv.push_back(a.c_str());
        FILE* out = std::tmpfile();
        FILE* err = std::tmpfile();
        const int r = cli::Main(static_cast<int>(argv.size()), argv.data(), out, err);
        return {r, ReadAll(out), ReadAll(err)};
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

}  // namespace
