#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

TEST(UdpLifecycle, OpenStillSucceedsWhenThePortIsTaken)
{
    Peer holder;   // holds a port without sharing it
    UdpEndpoints ep;
    ep.sendAddress = "127.0.0.1";
    ep.sendPort = holder.port();
    ep.recvAddress = "127.0.0.1";
    ep.recvPort = holder.port();
    EXPECT_EQ(OpenUdp(nullptr, ep), 0);
    SendFind();   // requests still go out
    EXPECT_EQ(holder.Receive(2000).size(), 21u);
    CloseUdp();
}

}  // namespace
