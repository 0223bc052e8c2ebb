#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "codec.h"
#include "engine.h"
#include "loopback_peer.h"
#include "portable.h"
#include "rxring.h"
#include "socketio.h"
#include "udp.h"

namespace {

using Peer = testrig::LoopbackPeer;

bool WaitReadable(int timeoutMs)
{
    return WaitForDatagram(timeoutMs);
}

// The system's text for an error, as the transport's messages carry it.
[[maybe_unused]] std::string ErrorText(int error)
{
    char text[128];
    SocketErrorText(error, text, sizeof text);
    return text;
}

// Every datagram the ring holds, one after the other, with where each came from.
std::vector<std::vector<uint8_t>> DrainDatagrams(std::vector<RxOrigin>* origins = nullptr)
{
    std::vector<std::vector<uint8_t>> out;
    uint8_t buf[kRxMaxDatagram];
    RxOrigin from;
    for (int n; (n = RxRingTakeDatagram(buf, sizeof buf, &from)) >= 0;) {
        out.emplace_back(buf, buf + n);
        if (origins)
            origins->push_back(from);
    }
    return out;
}

std::vector<uint8_t> Drain()
{
    std::vector<uint8_t> out;
    for (const std::vector<uint8_t>& d : DrainDatagrams())
        out.insert(out.end(), d.begin(), d.end());
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
        ASSERT_EQ(OpenUdp(ep), 0);
        port_ = GetRecvPort();
        ASSERT_NE(port_, 0);
    }
    void TearDown() override { CloseUdp(); }

    Peer peer_;
    uint16_t port_ = 0;
    std::vector<uint8_t> burstBytes_;
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

TEST_F(UdpTest, OneNotificationTakesEveryWaitingDatagramInOrderEachWithItsOrigin)
{
    peer_.SendTo(port_, {1, 2, 3});
    peer_.SendTo(port_, {4, 5});
    peer_.SendTo(port_, {});
    peer_.SendTo(port_, {6});
    ASSERT_TRUE(WaitReadable(2000));
    EXPECT_EQ(OnSocketNotify(kUdpReadEvent), 4);
    std::vector<RxOrigin> origins;
    EXPECT_EQ(DrainDatagrams(&origins),
              (std::vector<std::vector<uint8_t>>{{1, 2, 3}, {4, 5}, {}, {6}}));
    EXPECT_FALSE(WaitReadable(0));
    // The sender's address and port, and the interface it came in on (the
    // loopback interface), for each.
    ASSERT_EQ(origins.size(), 4u);
    for (const RxOrigin& o : origins) {
        EXPECT_EQ(o.addr, Ipv4OfText("127.0.0.1"));
        EXPECT_EQ(o.port, peer_.port());
        char name[64] = {};
#ifdef _WIN32
        // Named by its address there; where the system does not say, the
        // source address is all there is.
        if (o.ifIndex != 0) {
            ASSERT_TRUE(InterfaceNameOf(o.ifIndex, name, sizeof name));
            EXPECT_STREQ(name, "127.0.0.1");
        }
#else
        ASSERT_GT(o.ifIndex, 0);
        ASSERT_TRUE(InterfaceNameOf(o.ifIndex, name, sizeof name));
        EXPECT_STREQ(name, "lo");
#endif
    }
}

// A burst three times the ring's size. While a consumer takes bytes out,
// what does not fit waits in the socket and nothing is lost; without one
// (between requests) the socket is emptied and what does not fit is lost.
TEST_F(UdpTest, ABurstLargerThanTheRingWaitsInTheSocketWhileAConsumerRuns)
{
    EXPECT_GE(UdpRecvBufferBytes(), testrig::IsRoot() ? kUdpRecvBufferWanted : 1);
    constexpr int kDatagrams = 100;
    auto burst = [&] {
        std::vector<uint8_t> sent;
        for (int i = 0; i < kDatagrams; ++i) {
            std::vector<uint8_t> d(2000);
            for (size_t k = 0; k < d.size(); ++k)
                d[k] = static_cast<uint8_t>(i * 31 + k);
            ASSERT_EQ(peer_.SendTo(port_, d), 2000);
            sent.insert(sent.end(), d.begin(), d.end());
        }
        burstBytes_ = sent;
    };
    for (const bool consumer : {true, false}) {
        RxRingReset();
        burst();
        ASSERT_TRUE(WaitReadable(2000));
        RxRingSetConsumer(consumer);
        std::vector<uint8_t> got;
        int fullStops = 0;
        for (int turn = 0; turn < 1000 && WaitReadable(0); ++turn) {
            if (OnSocketNotify(kUdpReadEvent) == kUdpRingFull)
                ++fullStops;
            if (consumer) {
                const std::vector<uint8_t> part = Drain();
                got.insert(got.end(), part.begin(), part.end());
            }
        }
        RxRingSetConsumer(false);
        if (consumer) {
            EXPECT_GT(fullStops, 0);
            EXPECT_EQ(got, burstBytes_);
        } else {
            EXPECT_EQ(fullStops, 0);
            // As many whole datagrams as the ring holds, the first ones.
            const std::vector<uint8_t> kept = Drain();
            EXPECT_EQ(kept.size() % 2000, 0u);
            EXPECT_GE(kept.size(), 30u * 2000);
            EXPECT_TRUE(std::equal(kept.begin(), kept.end(), burstBytes_.begin()));
        }
        EXPECT_FALSE(WaitReadable(0));
    }
}

TEST_F(UdpTest, DatagramsTheSystemDroppedSinceTheLastSendAreCounted)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows keeps no count of the datagrams it drops on a socket";
#endif
    // Far more than the receive buffer holds, with nobody reading.
    const std::vector<uint8_t> d(2000, 0x42);
    const size_t datagrams = 3 * static_cast<size_t>(UdpRecvBufferBytes()) / d.size() + 100;
    SendFind();
    peer_.Receive(2000);
    EXPECT_EQ(UdpDropsSinceSend(), 0u);
    for (size_t i = 0; i < datagrams; ++i)
        peer_.SendTo(port_, d);
    EXPECT_GT(UdpDropsSinceSend(), 0u);
    SendFind();   // a new request counts afresh
    peer_.Receive(2000);
    EXPECT_EQ(UdpDropsSinceSend(), 0u);
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

TEST(UdpLifecycle, APortHeldWithoutSharingIsToldAndTriedAgainAtEveryRequest)
{
    auto holder = std::make_unique<Peer>();   // holds a port without sharing it
    const uint16_t port = holder->port();
    Peer device;
    UdpEndpoints ep;
    ep.sendAddress = "127.0.0.1";
    ep.sendPort = device.port();
    ep.recvAddress = "127.0.0.1";
    ep.recvPort = port;
    EXPECT_EQ(OpenUdp(ep), 0);
#ifdef _WIN32
    const std::string inUse = ErrorText(10013);   // WSAEACCES: the holder's exclusive use
#else
    const std::string inUse = "Address already in use";
#endif
    const std::string why = "Cannot receive on UDP port " + std::to_string(port) + ": " + inUse + ".";
    EXPECT_EQ(UdpFailureText(), why);
    SendFind();   // requests still go out, and the cause is still told
    EXPECT_EQ(device.Receive(2000).size(), 21u);
    EXPECT_EQ(UdpLastSendCount(), 1);
    EXPECT_EQ(UdpFailureText(), why);
    EXPECT_STREQ(UdpTakeNotice(), "");

    // Once the holder has gone, the next request binds: said once.
    holder.reset();
    SendFind();
    EXPECT_STREQ(UdpFailureText(), "");
    EXPECT_EQ(UdpTakeNotice(), "Receiving on UDP port " + std::to_string(port) + ".");
    EXPECT_STREQ(UdpTakeNotice(), "");
    EXPECT_EQ(GetRecvPort(), port);
    device.SendTo(port, {7, 7});
    ASSERT_TRUE(WaitReadable(2000));
    OnSocketNotify(kUdpReadEvent);
    EXPECT_EQ(Drain(), (std::vector<uint8_t>{7, 7}));
    SendFind();
    EXPECT_STREQ(UdpTakeNotice(), "");
    CloseUdp();
}

TEST(UdpLifecycle, WithoutAReceiveSocketRequestsStillGoOutAndItIsMadeLater)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no descriptor limit that a test can lower to keep a socket from "
                    "being made";
#else
    Peer device;
    uint16_t port = 0;
    {
        Peer probe;   // a port free a moment ago
        port = probe.port();
    }
    // Room for exactly one more descriptor: the send socket's.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit low = old;
    low.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 256; ++i) {
        const int fd = open("/dev/null", O_RDONLY);
        if (fd < 0)
            break;
        fillers.push_back(fd);
    }
    ASSERT_FALSE(fillers.empty());
    close(fillers.back());
    fillers.pop_back();

    UdpEndpoints ep;
    ep.sendAddress = "127.0.0.1";
    ep.sendPort = device.port();
    ep.recvAddress = "127.0.0.1";
    ep.recvPort = port;
    const int opened = OpenUdp(ep);
    const std::string why = UdpFailureText();
    const SocketHandle recvSocket = GetRecvSocket();
    SendFind();
    const int sent = UdpLastSendCount();
    for (int fd : fillers)
        close(fd);
    setrlimit(RLIMIT_NOFILE, &old);

    EXPECT_EQ(opened, 0);
    EXPECT_EQ(why, "Cannot receive on UDP port " + std::to_string(port) + ": Too many open files.");
    EXPECT_EQ(recvSocket, kNoSocket);
    EXPECT_EQ(sent, 1);   // the request went out all the same
    EXPECT_EQ(device.Receive(2000).size(), 21u);

    SendFind();   // with descriptors free again, the next request makes it
    EXPECT_STREQ(UdpFailureText(), "");
    EXPECT_EQ(UdpTakeNotice(), "Receiving on UDP port " + std::to_string(port) + ".");
    EXPECT_NE(GetRecvSocket(), kNoSocket);
    EXPECT_EQ(GetRecvPort(), port);
    CloseUdp();
#endif
}

TEST_F(UdpTest, AFailedSendIsToldUntilASendGoesOut)
{
    EXPECT_FALSE(UdpSendsPerInterface());
    std::vector<uint8_t> huge(70000, 0x55);   // more than one UDP datagram can carry
    EXPECT_EQ(SendFrame(huge.data(), static_cast<unsigned>(huge.size())), -1);
    EXPECT_EQ(UdpLastSendCount(), 0);
#ifdef _WIN32
    const std::string tooLong = ErrorText(10040);   // WSAEMSGSIZE
#else
    const std::string tooLong = "Message too long";
#endif
    EXPECT_EQ(UdpFailureText(),
              "Cannot send to UDP port " + std::to_string(peer_.port()) + ": " + tooLong + ".");
    const uint8_t one[] = {7};
    EXPECT_EQ(SendFrame(one, 1), 1);
    EXPECT_EQ(UdpLastSendCount(), 1);
    EXPECT_STREQ(UdpFailureText(), "");
    EXPECT_EQ(peer_.Receive(2000), std::vector<uint8_t>{7});
}

// One Find on the program's broadcast address, to the discard port, on the
// interface named (nullptr: every one), the interface listing failing if
// asked: how many datagrams went out and the failure told. Run only where
// nothing sent can leave the machine.
struct BroadcastOutcome {
    int sent;
    std::string failure;
};
BroadcastOutcome FindOnBroadcast(const char* interfaceName, bool listingFails)
{
    UdpEndpoints ep;   // the program's broadcast address
    ep.sendPort = 9;
    ep.recvAddress = "127.0.0.1";
    ep.recvPort = 0;
    ep.interfaceName = interfaceName;
    BroadcastOutcome out{-1, "the transport did not open"};
    if (OpenUdp(ep) != 0)
        return out;
    SetInterfaceListingFailsForTest(listingFails);
    EXPECT_TRUE(UdpSendsPerInterface());
    SendFind();
    out = {UdpLastSendCount(), UdpFailureText()};
    SetInterfaceListingFailsForTest(false);
    CloseUdp();
    return out;
}

#ifndef _WIN32
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
    // The kernel tells a link's carrier a little after the change that made
    // it: each step waits (at most 5 s) until its links show the state the
    // step counts on, instead of racing it.
#define RUNNING(l) "for i in $(seq 50); do ip link show " l " | grep -q NO-CARRIER || break; sleep 0.1; done; "
#define NO_CARRIER(l) "for i in $(seq 50); do ip link show " l " | grep -q NO-CARRIER && break; sleep 0.1; done; "
    struct Step {
        const char* command;   // run inside the namespace before the send
        const char* interfaceName;
        int sent;
        const char* failure;
        bool listingFails;
    } steps[] = {
        // Only a loopback that is down: the plain send, which has no route.
        {"true", nullptr, 0, "Cannot send to UDP port 9: Network is unreachable.", false},
        {"ip link add plA type veth peer name plA2 && ip link add plB type veth peer name plB2 && "
         "ip addr add 10.231.1.1/24 dev plA && ip addr add 10.232.1.1/24 dev plB && "
         "ip addr add 10.232.1.9/24 dev plB && "
         "for l in lo plA plA2 plB plB2; do ip link set $l up; done && " RUNNING("plA") RUNNING("plB"),
         nullptr, 2, "", false},   // two addresses on plB: still one datagram there
        {"true", "plB", 1, "", false},
        {"true", "10.231.1.1", 1, "", false},
        {"true", "lo", 0, "Cannot send to UDP port 9: no broadcast interface lo is up.", false},
        {"true", "127.0.0.1", 0, "Cannot send to UDP port 9: no broadcast interface 127.0.0.1 is up.", false},
        {"true", "nosuch0", 0, "Cannot send to UDP port 9: no broadcast interface nosuch0 is up.", false},
        {"ip link set plB2 down && " NO_CARRIER("plB"), nullptr, 1, "", false},   // plB is up but has no link
        {"ip link set plA down", "plA", 0, "Cannot send to UDP port 9: no broadcast interface plA is up.", false},
        // More addresses than the first listing had room for (64): the
        // interface listed after them still gets its datagram.
        {"ip link set plA up && for i in $(seq 2 80); do ip addr add 10.231.1.$i/24 dev plA; done && "
         "ip link add plC type veth peer name plC2 && ip addr add 10.233.1.1/24 dev plC && "
         "ip link set plC up && ip link set plC2 up && " RUNNING("plA") RUNNING("plC"),
         nullptr, 2, "", false},
        {"true", "plC", 1, "", false},
        {"true", "10.233.1.1", 1, "", false},
        // A listing that fails never sends in place of the interface asked for.
        {"true", "plC", 0,
         "Cannot send to UDP port 9: the network interfaces cannot be listed (Operation not "
         "supported), so nothing was sent on plC.",
         true},
    };
#undef RUNNING
#undef NO_CARRIER
    for (const Step& step : steps) {
        ASSERT_EQ(std::system(step.command), 0) << step.command;
        const BroadcastOutcome got = FindOnBroadcast(step.interfaceName, step.listingFails);
        const std::string name = step.interfaceName ? step.interfaceName : "(every)";
        EXPECT_EQ(got.sent, step.sent) << step.command << " / " << name;
        EXPECT_EQ(got.failure, step.failure) << step.command << " / " << name;
    }
}

#else
// Windows lists addresses (SIO_GET_INTERFACE_LIST), each of which gets a
// socket bound to it for the send. A test program cannot make a private
// network there, so nothing is broadcast here: the listing is read, and, in
// a private network made for the test, an interface asked for that is not
// among them sends nothing and says so (as does a listing that fails). The
// Wine end-to-end test sends per interface inside a private network
// namespace.
TEST(UdpInterfaces, ListingAndANamedInterfaceThatIsNotUp)
{
    ASSERT_TRUE(AcquireSocketLibrary());
    const SocketHandle s = OpenDatagramSocket();
    ASSERT_NE(s, kNoSocket);
    std::vector<NetInterface> listed;
    int error = 0;
    const int n = ListBroadcastInterfaces(s, &listed, &error);
    CloseSocketHandle(s);
    ReleaseSocketLibrary();
    EXPECT_EQ(n < 0 ? 0 : static_cast<size_t>(n), listed.size());
    for (const NetInterface& itf : listed) {
        char text[16];
        Ipv4Text(itf.addr, text, sizeof text);
        EXPECT_NE(itf.addr & 0xFF, 127u) << text << ": a loopback address is no broadcast interface";
        EXPECT_NE(itf.addr, 0u);
        EXPECT_STREQ(itf.name, "") << "Winsock names no interface";
    }

    // The broadcast address is opened only inside a private network, where
    // nothing could leave the machine even if a send went out.
    const char* privateNetwork = std::getenv("PATHLUME_PRIVATE_NETWORK");
    if (!privateNetwork || std::string(privateNetwork) != "1")
        GTEST_SKIP() << (n < 0 ? "the system cannot list its interfaces (SIO_GET_INTERFACE_LIST: " +
                                     ErrorText(error) + ")"
                               : std::string("the interfaces were listed"))
                     << "; an interface named on the broadcast address is tried only in a private "
                        "network (PATHLUME_PRIVATE_NETWORK=1, as the Wine end-to-end test sets it "
                        "in its namespace lab)";
    struct Case {
        const char* interfaceName;
        bool listingFails;
        std::string failure;
    } cases[] = {
        {"nosuch0", false, "Cannot send to UDP port 9: no broadcast interface nosuch0 is up."},
        {"127.0.0.1", false, "Cannot send to UDP port 9: no broadcast interface 127.0.0.1 is up."},
        {"10.9.9.9", true,
         "Cannot send to UDP port 9: the network interfaces cannot be listed (" +
             ErrorText(kSocketErrorNotSupported) + "), so nothing was sent on 10.9.9.9."},
    };
    for (const Case& c : cases) {
        if (n < 0 && !c.listingFails)
            continue;   // told below
        const BroadcastOutcome got = FindOnBroadcast(c.interfaceName, c.listingFails);
        EXPECT_EQ(got.sent, 0) << c.interfaceName;
        EXPECT_EQ(got.failure, c.failure) << c.interfaceName;
    }
    if (n < 0)
        GTEST_SKIP() << "the system cannot list its interfaces (SIO_GET_INTERFACE_LIST: "
                     << ErrorText(error) << "), as Wine may not: a named interface was "
                        "checked only with a listing that fails";
}
#endif

}  // namespace
