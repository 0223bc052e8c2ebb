#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "codec.h"
#include "devsim.h"
#include "loopback_peer.h"
#include "loopback_rig.h"
#include "portable.h"

namespace {

// The program's side towards a simulator.
using Client = testrig::LoopbackPeer;

std::string Text(const std::vector<uint8_t>& frame)
{
    return std::string(frame.begin() + kFrameHeaderSize, frame.end());
}

TEST(DevSim, GeneratedDevicesAreDeterministicAndFitTheirWidths)
{
    const auto a = devsim::GenerateDevices(5, 42);
    const auto b = devsim::GenerateDevices(5, 42);
    const auto c = devsim::GenerateDevices(5, 43);
    ASSERT_EQ(a.size(), 5u);
    for (size_t i = 0; i < a.size(); ++i) {
        for (int k = 0; k < kKeyCount; ++k) {
            EXPECT_EQ(a[i].values[k], b[i].values[k]);
            EXPECT_LE(a[i].values[k].size(), static_cast<size_t>(KeyTable[k].width)) << KeyTable[k].key;
            EXPECT_EQ(devsim::CheckRecord(k, a[i].values[k]), "") << KeyTable[k].key;
        }
    }
    EXPECT_NE(a[0].values[KEY_SERIAL_NUM], c[0].values[KEY_SERIAL_NUM]);
    EXPECT_NE(a[0].values[KEY_MAC], a[1].values[KEY_MAC]);
}

TEST(DevSim, DeviceTextFiles)
{
    std::vector<devsim::Device> devs;
    std::string err;
    ASSERT_TRUE(devsim::ParseDeviceText("# two devices\n[device]\nHOST_NAME = alpha\n"
                                        "SERIAL_NUM=A1\nrefuse GATEWAY PRNT_PORT\n\n[device]\n"
                                        "IP = 10.0.0.9\nfind-only\n",
                                        1, &devs, &err))
        << err;
    ASSERT_EQ(devs.size(), 2u);
    EXPECT_EQ(devs[0].values[KEY_HOST_NAME], "alpha");
    EXPECT_EQ(devs[0].values[KEY_SERIAL_NUM], "A1");
    EXPECT_EQ(devs[0].refused, (1u << KEY_GATEWAY) | (1u << KEY_PRNT_PORT));
    EXPECT_FALSE(devs[0].findOnly);
    EXPECT_EQ(devs[1].values[KEY_IP], "10.0.0.9");
    EXPECT_FALSE(devs[1].values[KEY_MAC].empty());
    EXPECT_TRUE(devs[1].findOnly);
    EXPECT_EQ(devs[1].refused, 0u);

    const char* bad[] = {"HOST_NAME = x\n", "[device]\nCOLOUR = red\n",
                         "[device]\nMAC = 00112233445566\n", "[device]\nnonsense\n",
                         "find-only\n", "[device]\nrefuse MAC\n", "[device]\nrefuse COLOUR\n"};
    for (const char* text : bad)
        EXPECT_FALSE(devsim::ParseDeviceText(text, 1, &devs, &err)) << text;
}

TEST(DevSim, RecordChecks)
{
    struct Case {
        int key;
        const char* value;
        bool ok;
    } cases[] = {
        {KEY_IP, "192.168.0.5", true},    {KEY_IP, "192.168.0.256", false},
        {KEY_IP, "1.2.3", false},         {KEY_IP, "1.2.3.4.5", false},
        {KEY_GATEWAY, "a.b.c.d", false},  {KEY_ENET_SPD, "4", true},
        {KEY_ENET_SPD, "5", false},       {KEY_DHCP, "1", true},
        {KEY_DHCP, "2", false},           {KEY_PRNT_PORT, "65535", true},
        {KEY_PRNT_PORT, "65536", false},  {KEY_PRNT_PORT, "", false},
        {KEY_PRNT_RCV_TMO, "29", false},  {KEY_PRNT_RCV_TMO, "30", true},
        {KEY_MAC, "02C0EE0000AA", true},  {KEY_MAC, "02C0EE0000G0", false},
        {KEY_HOST_NAME, "ok name", true}, {KEY_HOST_NAME, "tab\there\r\n\xE9", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(devsim::CheckRecord(c.key, c.value).empty(), c.ok)
            << KeyTable[c.key].key << " " << c.value;
}

class DevSimNet : public ::testing::Test {
protected:
    void Start(devsim::Options opt, int devices)
    {
        opt.listenAddress = "127.0.0.1";
        opt.listenPort = 0;
        opt.replyToSender = true;
        opt.replyPort = client_.port();
        sim_ = std::make_unique<devsim::Simulator>(opt, devsim::GenerateDevices(devices, 9));
        ASSERT_EQ(sim_->Open(), 0);
        sim_->Start();
    }
    void TearDown() override
    {
        if (sim_)
            sim_->Stop();
    }
    void SendFind()
    {
        uint8_t f[64];
        const int n = BuildFindFrame(f, sizeof f);
        client_.SendTo(sim_->BoundPort(), f, static_cast<size_t>(n));
    }

    Client client_;
    std::unique_ptr<devsim::Simulator> sim_;
};

TEST_F(DevSimNet, FindIsAnsweredByEveryDeviceWithTheSixKeys)
{
    Start({}, 3);
    SendFind();
    const auto replies = client_.ReceiveAll(300);
    ASSERT_EQ(replies.size(), 3u);
    for (size_t i = 0; i < replies.size(); ++i) {
        ASSERT_EQ(replies[i][6], 0xFF);
        ASSERT_EQ(replies[i][7], 1);
        RecordTable t;
        const std::string text = Text(replies[i]);
        ASSERT_EQ(ParseConfigTextInto(&t, text.c_str(), text.size(), nullptr, nullptr), 0);
        const char* keys[] = {"DEV", "VER", "MAC", "IP_CUR", "HOST_NAME", "SERIAL_NUM"};
        for (int k = 0; k < 6; ++k)
            EXPECT_STREQ(t[k].key, keys[k]);
        EXPECT_TRUE(IsEmptyRecord(&t[6]));
        EXPECT_EQ(t[5].value, sim_->Value(i, KEY_SERIAL_NUM));
    }
}

TEST_F(DevSimNet, RepliesAndOwnFramesAreNotAnswered)
{
    Start({}, 2);
    // A reply-direction frame (as a device's own broadcast would be) is ignored.
    uint8_t f[64];
    int n = BuildFindFrame(f, sizeof f);
    f[6] = 0xFF;
    client_.SendTo(sim_->BoundPort(), f, static_cast<size_t>(n));
    EXPECT_TRUE(client_.ReceiveAll(200).empty());
}

TEST_F(DevSimNet, GetConfigOnlyFromTheNamedDevice)
{
    Start({}, 3);
    uint8_t f[128];
    const std::string mac = sim_->Value(2, KEY_MAC), serial = sim_->Value(2, KEY_SERIAL_NUM);
    int n = BuildGetConfigFrame(mac.c_str(), f, serial.c_str(), sizeof f);
    client_.SendTo(sim_->BoundPort(), f, static_cast<size_t>(n));
    auto replies = client_.ReceiveAll(300);
    ASSERT_EQ(replies.size(), 1u);
    RecordTable t;
    uint8_t match = 0;
    const std::string text = Text(replies[0]);
    ASSERT_EQ(ParseConfigTextInto(&t, text.c_str(), text.size(), mac.c_str(), &match), 0);
    EXPECT_EQ(match, 1);
    EXPECT_FALSE(IsEmptyRecord(&t[kKeyCount - 1]));   // the whole configuration

    // The right MAC with another serial: nobody answers.
    n = BuildGetConfigFrame(mac.c_str(), f, "nope", sizeof f);
    client_.SendTo(sim_->BoundPort(), f, static_cast<size_t>(n));
    EXPECT_TRUE(client_.ReceiveAll(200).empty());
}

TEST_F(DevSimNet, SetConfigAppliesGoodRecordsAndRefusesBadOnes)
{
    Start({}, 2);
    std::vector<std::string> lines;
    std::mutex m;
    sim_->log = [&](const std::string& l) {
        std::lock_guard<std::mutex> g(m);
        lines.push_back(l);
    };
    RecordTable t;
    ClearRecordTable(&t);
    const std::string mac = sim_->Value(0, KEY_MAC), serial = sim_->Value(0, KEY_SERIAL_NUM);
    const std::pair<int, std::string> recs[] = {{KEY_MAC, mac},
                                                {KEY_HOST_NAME, "new-name"},
                                                {KEY_IP, "10.0.0.300"},
                                                {KEY_PRNT_RCV_TMO, "90"},
                                                {KEY_SERIAL_NUM, serial}};
    int slot = 0;
    for (const auto& [k, v] : recs) {
        t[slot].key = KeyTable[k].key;
        t[slot].width = KeyTable[k].width;
        std::strncpy(t[slot].value, v.c_str(), sizeof t[slot].value - 1);
        ++slot;
    }
    const std::string oldIp = sim_->Value(0, KEY_IP);
    uint8_t f[640];
    const int n = BuildSetConfigFrame(f, &t, sizeof f);
    ASSERT_GT(n, 0);
    client_.SendTo(sim_->BoundPort(), f, static_cast<size_t>(n));
    EXPECT_TRUE(client_.ReceiveAll(300).empty());   // no reply to a write
    EXPECT_EQ(sim_->Value(0, KEY_HOST_NAME), "new-name");
    EXPECT_EQ(sim_->Value(0, KEY_PRNT_RCV_TMO), "90");
    EXPECT_EQ(sim_->Value(0, KEY_IP), oldIp);
    EXPECT_NE(sim_->Value(1, KEY_HOST_NAME), "new-name");
    std::lock_guard<std::mutex> g(m);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("refused: IP"), std::string::npos) << lines.back();
}

TEST_F(DevSimNet, ReplyDamageAndDuplicates)
{
    struct Case {
        devsim::Fault fault;
        bool duplicate;
        size_t replies;
        bool hasTerminator;
        size_t minSize;
    } cases[] = {
        {devsim::Fault::None, true, 4, true, 0},
        {devsim::Fault::NoTerminator, false, 2, false, 0},
        {devsim::Fault::Truncated, false, 2, false, 0},
        {devsim::Fault::Oversize, false, 2, true, 2049},
        {devsim::Fault::StrayBytes, false, 2, true, 0},
    };
    for (const Case& c : cases) {
        devsim::Options opt;
        opt.fault = c.fault;
        opt.duplicate = c.duplicate;
        Start(opt, 2);
        SendFind();
        const auto replies = client_.ReceiveAll(300);
        ASSERT_EQ(replies.size(), c.replies) << devsim::FaultName(c.fault);
        for (const auto& r : replies) {
            const std::string s(r.begin(), r.end());
            EXPECT_EQ(s.find("*END* = \r\n") != std::string::npos, c.hasTerminator)
                << devsim::FaultName(c.fault);
            EXPECT_GE(r.size(), c.minSize);
        }
        sim_->Stop();
        sim_.reset();
    }
}

// The simulator program: where the build put it, or beside this test
// program (on Windows, where the build machine's path is not this one's).
std::string DevsimPath()
{
    const std::string built = DEVSIM_PATH;
    if (!built.empty())
        return built;
    const std::string self = ::testing::internal::GetArgvs().front();
    const size_t folder = self.find_last_of("\\/");
    return (folder == std::string::npos ? std::string() : self.substr(0, folder + 1)) +
           "pathlume-devsim.exe";
}

TEST(DevSimProgram, HelpAndARealRun)
{
    const std::string devsim = DevsimPath();
    FILE* help = popen(testrig::CommandLine(devsim, "--help").c_str(), "r");
    ASSERT_NE(help, nullptr);
    char buf[4096] = {};
    const size_t n = fread(buf, 1, sizeof buf - 1, help);
    EXPECT_EQ(testrig::ExitStatusOf(pclose(help)), 0);
    EXPECT_NE(std::string(buf, n).find("--fault"), std::string::npos);

    // --version answers as the other two programs do, and alone.
    FILE* version = popen(testrig::CommandLine(devsim, "--version").c_str(), "r");
    ASSERT_NE(version, nullptr);
    char vbuf[256] = {};
    const size_t vn = fread(vbuf, 1, sizeof vbuf - 1, version);
    EXPECT_EQ(testrig::ExitStatusOf(pclose(version)), 0);
    EXPECT_EQ(std::string(vbuf, vn), "pathlume-devsim " PATHLUME_VERSION "\n");

    // One device more than it makes: refused before any socket is opened.
    const std::string badArgs = "--devices " + std::to_string(devsim::kMostGeneratedDevices + 1) +
                                " 2>" + testrig::kNullDevice;
    FILE* bad = popen(testrig::CommandLine(devsim, badArgs).c_str(), "r");
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ(testrig::ExitStatusOf(pclose(bad)), 2);

    // Start it on loopback, ask it once, and let its time limit end it.
    Client client;
    const std::string cmd = testrig::CommandLine(
        devsim, "--listen 127.0.0.1:0 --print-port --devices 2 --reply-to sender --reply-port " +
                    std::to_string(client.port()) + " --time-limit 2");
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[256] = {};
    ASSERT_NE(fgets(line, sizeof line, p), nullptr);
    unsigned port = 0;
    ASSERT_EQ(std::sscanf(line, "port %u", &port), 1);
    uint8_t f[64];
    const int len = BuildFindFrame(f, sizeof f);
    client.SendTo(static_cast<uint16_t>(port), f, static_cast<size_t>(len));
    EXPECT_EQ(client.ReceiveAll(500).size(), 2u);
    std::string out;
    while (fgets(line, sizeof line, p))
        out += line;
    EXPECT_EQ(testrig::ExitStatusOf(pclose(p)), 0);
    EXPECT_NE(out.find("find from 127.0.0.1"), std::string::npos) << out;
    EXPECT_NE(out.find("stopped after 1 request"), std::string::npos) << out;
}

}  // namespace
