#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "codec.h"
#include "loopback_peer.h"
#include "rxring.h"
#include "udp.h"

namespace {

using Peer = testrig::LoopbackPeer;

bool WaitReadable(int timeoutMs)
{
    pollfd p{static_cast<int>(GetRecvSocket()), POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
}

std::vector<uint8_t> Drain()
{
    std::vector<uint8_t> out;
    uint8_t b = 0;
    while (RxRingGet(&b))
        out.push_back(b);
    return out;
}

class UdpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UdpEndpoints ep;
        ep.sendAddress = "127.0.0.1";
        ep.sendPort = peer_.port();
        ep.recvAddress = "127.0.0.1";
        ep.recvPort = 0;
        ASSERT_EQ(OpenUdp(nullptr, ep), 0);
        port_ = GetRecvPort();
        ASSERT_NE(port_, 0);
    }
    void TearDown() override { CloseUdp(); }

    Peer peer_;
    uint16_t port_ = 0;
};

TEST_F(UdpTest, DefaultsAreTheDevicePortAndLimitedBroadcast)
{
    const UdpEndpoints d;
    EXPECT_STREQ(d.sendAddress, "255.255.255.255");
    EXPECT_STREQ(d.recvAddress, "0.0.0.0");
    EXPECT_EQ(d.sendPort, 22093);
    EXPECT_EQ(d.recvPort, 22093);
}

TEST_F(UdpTest, SendOperationsEmitOneDatagramOfTheFrameLength)
{
    SendFind();
    auto got = peer_.Receive(2000);
    ASSERT_EQ(got.size(), 21u);
    EXPECT_EQ(got[7], 1);
    SendGetConfig("00112233AABB", "S1234");
    got = peer_.Receive(2000);
    ASSERT_EQ(got.size(), 72u);
    EXPECT_EQ(got[7], 2);
    ClearWriteTable();
    SendSetConfig(&WriteTable);
    got = peer_.Receive(2000);
    ASSERT_EQ(got.size(), 21u);
    EXPECT_EQ(got[7], 3);
}

TEST_F(UdpTest, DatagramsUpTo2048AreKeptWholeLongerOnesDroppedWhole)
{
    struct Case {
        size_t size;
        bool kept;
    } cases[] = {{1, true}, {2048, true}, {2049, false}, {4000, false}};
    for (const Case& c : cases) {
        std::vector<uint8_t> d(c.size);
        for (size_t i = 0; i < d.size(); ++i)
            d[i] = static_cast<uint8_t>(i * 7);
        ASSERT_EQ(peer_.SendTo(port_, d), static_cast<long>(d.size()));
        ASSERT_TRUE(WaitReadable(2000)) << c.size;
        OnSocketNotify(kUdpReadEvent);
        const auto got = Drain();
        if (c.kept)
            EXPECT_EQ(got, d) << c.size;
        else
            EXPECT_TRUE(got.empty()) << c.size;
        EXPECT_FALSE(WaitReadable(0)) << "datagram left in the socket";
    }
}

TEST_F(UdpTest, TwoDatagramsLandInOrderWithoutBoundary)
{
    peer_.SendTo(port_, {1, 2, 3});
    peer_.SendTo(port_, {4, 5});
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(WaitReadable(2000));
        OnSocketNotify(kUdpReadEvent);
    }
    EXPECT_EQ(Drain(), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST_F(UdpTest, OtherEventsAndEmptySocketDoNothing)
{
    peer_.SendTo(port_, {9, 9});
    ASSERT_TRUE(WaitReadable(2000));
    OnSocketNotify(2);      // FD_WRITE
    OnSocketNotify(0x20);   // FD_CLOSE
    EXPECT_TRUE(Drain().empty());
    EXPECT_TRUE(WaitReadable(0));
    OnSocketNotify(kUdpReadEvent | (10054u << 16));   // error half is not looked at
    EXPECT_EQ(Drain(), (std::vector<uint8_t>{9, 9}));
    OnSocketNotify(kUdpReadEvent);   // nothing waiting: returns at once, nothing stored
    EXPECT_TRUE(Drain().empty());
}

TEST(UdpLifecycle, CloseAfterCloseAndSendWithoutTransportFailQuietly)
{
    CloseUdp();
    EXPECT_EQ(GetRecvSocket(), kNoSocket);
    const uint8_t b = 0;
    EXPECT_EQ(SendFrame(&b, 1), -1);
    EXPECT_EQ(CloseUdp(), -1);
    OnSocketNotify(kUdpReadEvent);
}

TEST(UdpLifecycle, OpenStillSucceedsWhenThePortIsTakenAndSaysWhy)
{
    Peer holder;   // holds a port without sharing it
    UdpEndpoints ep;
    ep.sendAddress = "127.0.0.1";
    ep.sendPort = holder.port();
    ep.recvAddress = "127.0.0.1";
    ep.recvPort = holder.port();
    EXPECT_EQ(OpenUdp(nullptr, ep), 0);
    const std::string why = "Cannot receive on UDP port " + std::to_string(holder.port()) +
                            ": Address already in use.";
    EXPECT_EQ(UdpFailureText(), why);
    SendFind();   // requests still go out, and the cause is still told
    EXPECT_EQ(holder.Receive(2000).size(), 21u);
    EXPECT_EQ(UdpLastSendCount(), 1);
    EXPECT_EQ(UdpFailureText(), why);
    CloseUdp();

    // A later open that works forgets the old cause.
    ep.recvPort = 0;
    ASSERT_EQ(OpenUdp(nullptr, ep), 0);
    EXPECT_STREQ(UdpFailureText(), "");
    CloseUdp();
}

TEST_F(UdpTest, AFailedSendIsToldUntilASendGoesOut)
{
    EXPECT_FALSE(UdpSendsPerInterface());
    std::vector<uint8_t> huge(70000, 0x55);   // more than one UDP datagram can carry
    EXPECT_EQ(SendFrame(huge.data(), static_cast<unsigned>(huge.size())), -1);
    EXPECT_EQ(UdpLastSendCount(), 0);
    EXPECT_EQ(UdpFailureText(), "Cannot send to UDP port " + std::to_string(peer_.port()) +
                                    ": Message too long.");
    const uint8_t one[] = {7};
    EXPECT_EQ(SendFrame(one, 1), 1);
    EXPECT_EQ(UdpLastSendCount(), 1);
    EXPECT_STREQ(UdpFailureText(), "");
    EXPECT_EQ(peer_.Receive(2000), std::vector<uint8_t>{7});
}

// The broadcast walk, in a network namespace of the test's own (nothing it
// sends can leave it): each step changes the interfaces, then one Find goes
// out. Needs root; skipped otherwise.
TEST(UdpInterfaces, LimitedBroadcastGoesOutOncePerUsableInterface)
{
    // Back to the machine's namespace however the test ends.
    struct Home {
        int fd = open("/proc/self/ns/net", O_RDONLY);
        bool left = false;
        ~Home()
        {
            if (left && setns(fd, CLONE_NEWNET) != 0)
                std::abort();   // later tests must not run in the private namespace
            close(fd);
        }
    } home;
    ASSERT_GE(home.fd, 0);
    if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0)
        GTEST_SKIP() << "needs root to make a private network namespace";
    home.left = true;
    struct Step {
        const char* command;   // run inside the namespace before the send
        const char* interfaceName;
        int sent;
        const char* failure;
    } steps[] = {
        // Only a loopback that is down: the plain send, which has no route.
        {"true", nullptr, 0, "Cannot send to UDP port 9: Network is unreachable."},
        {"ip link add plA type veth peer name plA2 && ip link add plB type veth peer name plB2 && "
         "ip addr add 10.231.1.1/24 dev plA && ip addr add 10.232.1.1/24 dev plB && "
         "ip addr add 10.232.1.9/24 dev plB && "
         "for l in lo plA plA2 plB plB2; do ip link set $l up; done",
         nullptr, 2, ""},   // two addresses on plB: still one datagram there
        {"true", "plB", 1, ""},
        {"true", "10.231.1.1", 1, ""},
        {"true", "lo", 0, "Cannot send to UDP port 9: no broadcast interface lo is up."},
        {"true", "127.0.0.1", 0, "Cannot send to UDP port 9: no broadcast interface 127.0.0.1 is up."},
        {"true", "nosuch0", 0, "Cannot send to UDP port 9: no broadcast interface nosuch0 is up."},
        {"ip link set plB2 down", nullptr, 1, ""},   // plB is up but has no link
        {"ip link set plA down", "plA", 0, "Cannot send to UDP port 9: no broadcast interface plA is up."},
    };
    for (const Step& step : steps) {
        ASSERT_EQ(std::system(step.command), 0) << step.command;
        UdpEndpoints ep;   // the program's broadcast address
        ep.sendPort = 9;
        ep.recvAddress = "127.0.0.1";
        ep.recvPort = 0;
        ep.interfaceName = step.interfaceName;
        ASSERT_EQ(OpenUdp(nullptr, ep), 0);
        EXPECT_TRUE(UdpSendsPerInterface());
        SendFind();
        const std::string name = step.interfaceName ? step.interfaceName : "(every)";
        EXPECT_EQ(UdpLastSendCount(), step.sent) << step.command << " / " << name;
        EXPECT_STREQ(UdpFailureText(), step.failure) << step.command << " / " << name;
        CloseUdp();
    }
}

}  // namespace
