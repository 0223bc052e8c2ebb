#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cfgrules.h"
#include "codec.h"
#include "devsim.h"
#include "engine.h"
#include "loopback_peer.h"
#include "loopback_rig.h"
#include "record_lines.h"
#include "rxring.h"
#include "socketio.h"
#include "udp.h"
#include "writecheck.h"

namespace {

// The loopback interface as the system names it (by its address on Windows).
#ifdef _WIN32
constexpr char kLoopbackName[] = "127.0.0.1";
#else
constexpr char kLoopbackName[] = "lo";
#endif

using Clock = std::chrono::steady_clock;
using testrig::PumpUntil;
using testrig::SimRig;

long MsSince(Clock::time_point t0)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

using testrig::Line;

std::string ReplyFrame(uint8_t cmd, const std::string& text)
{
    return std::string("\x00\x0D\xAC\x00\x0D\xAC\xFF", 7) + static_cast<char>(cmd) +
           std::string(3, '\0') + text + "*END* = \r\n";
}

void Inject(const std::string& bytes)
{
    RxRingWrite(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<unsigned>(bytes.size()));
}

std::vector<devsim::Device> Devices(int n, uint32_t seed = 7)
{
    return devsim::GenerateDevices(n, seed);
}

// Engine, transport and a loopback simulator; each test runs one or more
// requests and waits for their ends as the window's monitor would.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CreateCmdMutex();
        ResetCodec();
        InitEngine();
        std::memset(CfgText, 0, sizeof CfgText);
        std::memset(&CfgSummary, 0, sizeof CfgSummary);
    }

    void TearDown() override
    {
        ShutdownEngine();
        ClearStopRecvFlg();
        ClearRecvEvent();
        CloseUdp();
        rig_.reset();
        CloseCmdMutex();
    }

    void StartSim(std::vector<devsim::Device> devs,
                  devsim::Options opt = testrig::LoopbackSimOptions())
    {
        rig_ = std::make_unique<SimRig>(std::move(devs), opt);
        ASSERT_TRUE(rig_->ok());
        ASSERT_EQ(OpenUdp(rig_->Endpoints()), 0);
        rig_->StartReplyingTo(GetRecvPort());
    }

    // Transport only, sending to a loopback port where nothing answers.
    void OpenSilent()
    {
        UdpEndpoints ep;
        ep.sendAddress = "127.0.0.1";
        ep.sendPort = 9;   // discard: nobody listens here
        ep.recvAddress = "127.0.0.1";
        ep.recvPort = 0;
        ASSERT_EQ(OpenUdp(ep), 0);
    }

    // Runs until the worker has ended; returns the events raised, as bits.
    uint8_t FinishRequest(int timeoutMs = 8000)
    {
        uint8_t events = 0;
        EXPECT_TRUE(PumpUntil(
            [&] {
                const RequestProgress p = TakeRequestProgress();
                events = static_cast<uint8_t>(events | p.events);
                return p.ended;
            },
            timeoutMs));
        return events;
    }

    std::unique_ptr<SimRig> rig_;
};

TEST_F(EngineTest, FindCollectsDevicesInFirstAnswerOrder)
{
    for (int n : {1, 3, 10}) {
        StartSim(Devices(n, static_cast<uint32_t>(100 + n)));
        SetRecvTmo(0);
        StartRequest(RequestKind::Find, nullptr);
        const uint8_t events = FinishRequest();
        EXPECT_EQ(events, RecvEventBit(EVT_UPDATE_INFO) | RecvEventBit(EVT_TIMEOUT)) << n;
        EXPECT_EQ(GetDevCount(), n);
        DeviceEntry table[11];
        CopyDevTableSlots(table, 11);
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(table[i].serial, rig_->sim().Value(static_cast<size_t>(i), KEY_SERIAL_NUM));
            EXPECT_EQ(table[i].mac, rig_->sim().Value(static_cast<size_t>(i), KEY_MAC));
            EXPECT_EQ(table[i].hostName, rig_->sim().Value(static_cast<size_t>(i), KEY_HOST_NAME));
            EXPECT_EQ(table[i].ipCur, rig_->sim().Value(static_cast<size_t>(i), KEY_IP_CUR));
        }
        EXPECT_EQ(table[n].serial[0], '\0');
        CloseUdp();
        rig_.reset();
        ClearDevTable();
    }
}

TEST_F(EngineTest, AFullTableKeepsTheFindToItsTimeoutAndCountsTheDevicesLeftOut)
{
    // Every device answers twice. Devices beyond the capacity are counted
    // (each answer), never stored; the Find runs on to its timeout.
    EXPECT_EQ(GetDeviceCapacity(), kDeviceTableMax);
    struct Case {
        int capacity;
        int devices;
    } cases[] = {{1, 4}, {10, 13}, {30, 33}};
    for (const Case& c : cases) {
        InitEngine();
        SetDeviceCapacity(c.capacity);
        auto opt = testrig::LoopbackSimOptions();
        opt.duplicate = true;
        StartSim(Devices(c.devices), opt);
        SetRecvTmo(0);
        StartRequest(RequestKind::Find, nullptr);
        const uint8_t events = FinishRequest();
        EXPECT_NE(events & RecvEventBit(EVT_TIMEOUT), 0) << c.capacity;
        EXPECT_EQ(GetDevCount(), c.capacity);
        EXPECT_EQ(GetDevicesLeftOut(), 2u * static_cast<unsigned>(c.devices - c.capacity)) << c.capacity;
        DeviceEntry table[34];
        EXPECT_EQ(CopyDevTableSlots(table, c.capacity + 1), c.capacity);
        const size_t last = static_cast<size_t>(c.capacity - 1);
        EXPECT_EQ(table[last].serial, rig_->sim().Value(last, KEY_SERIAL_NUM));
        const DeviceEntry zero{};
        EXPECT_EQ(std::memcmp(&table[c.capacity], &zero, sizeof zero), 0);
        // The next Find, with room for every device, counts afresh.
        SetDeviceCapacity(kDeviceTableMax);
        StartRequest(RequestKind::Find, nullptr);
        FinishRequest();
        EXPECT_EQ(GetDevCount(), c.devices) << c.capacity;
        EXPECT_EQ(GetDevicesLeftOut(), 0u) << c.capacity;
        CloseUdp();
        rig_.reset();
    }
}

// Answers queued on the socket before a GetConfig goes out cannot be its
// answer, however many wait and whatever they hold (an empty datagram
// among them included): the request takes the device's own reply.
TEST_F(EngineTest, EveryAnswerQueuedBeforeAGetConfigIsDropped)
{
    const std::vector<devsim::Device> devs = Devices(1, 61);
    devsim::Device forged = devs[0];
    forged.values[KEY_HOST_NAME] = "forged";
    const std::vector<uint8_t> f = devsim::BuildReply(RequestKind::GetConfig, forged,
                                                      {KEY_MAC, KEY_HOST_NAME, KEY_SERIAL_NUM});
    const std::string stale(f.begin(), f.end());
    const struct Case {
        const char* name;
        std::vector<std::string> queued;
    } cases[] = {
        {"two stale answers", {stale, stale}},
        {"five stale answers", std::vector<std::string>(5, stale)},
        {"an empty datagram, then a forged answer", {"", stale}},
        {"empty datagrams around forged answers", {"", stale, "", "", stale}},
    };
    for (const Case& c : cases) {
        StartSim(devs);
        {
            testrig::LoopbackPeer peer;
            for (const std::string& d : c.queued)
                peer.SendTo(GetRecvPort(), reinterpret_cast<const uint8_t*>(d.data()), d.size());
        }
        ASSERT_TRUE(WaitForDatagram(2000)) << c.name;
        SetTargetMac(devs[0].values[KEY_MAC].c_str());
        SetTargetSerial(devs[0].values[KEY_SERIAL_NUM].c_str());
        SetRecvTmo(3);
        StartRequest(RequestKind::GetConfig, nullptr);
        EXPECT_EQ(FinishRequest(), RecvEventBit(EVT_CONFIG_RECV)) << c.name;
        EXPECT_EQ(std::string(CfgSummary.hostName), devs[0].values[KEY_HOST_NAME]) << c.name;
        CloseUdp();
        rig_.reset();
    }
}

TEST_F(EngineTest, KnownDevicesAnsweringAgainWhileTheTableIsFullAreNotLeftOut)
{
    SetDeviceCapacity(10);
    auto opt = testrig::LoopbackSimOptions();
    opt.duplicate = true;   // each of the ten answers twice
    StartSim(Devices(10), opt);
    SetRecvTmo(0);
    StartRequest(RequestKind::Find, nullptr);
    FinishRequest();
    EXPECT_EQ(GetDevCount(), 10);
    EXPECT_EQ(GetDevicesLeftOut(), 0u);
    // A new Find starts counting afresh.
    SetDeviceCapacity(9);
    StartRequest(RequestKind::Find, nullptr);
    FinishRequest();
    EXPECT_EQ(GetDevicesLeftOut(), 2u);
}

// A Find looking for one name sees every device that answers to it, also
// those the full table has no room for; nothing else is kept beyond it.
TEST_F(EngineTest, ALookupSeesDevicesBeyondTheFullTable)
{
    auto device = [](const char* serial, const char* mac) {
        return ReplyFrame(1, Line(KEY_MAC, mac) + Line(KEY_SERIAL_NUM, serial));
    };
    const struct Case {
        const char* what;
        const char* serial;   // the lookup
        const char* mac;
        std::vector<std::string> beyond;   // the serial@MAC kept beyond the table
        bool more;
    } cases[] = {
        {"by serial", "SC", nullptr, {"SC@02C0EE00000C"}, false},
        {"by MAC, any form", nullptr, "02:c0:ee:00:00:0c", {"SC@02C0EE00000C"}, false},
        {"a twin of a device in the table", "SA", nullptr, {"SA@02C0EE0000AA"}, false},
        {"twins beyond", "ST", nullptr, {"ST@02C0EE000011", "ST@02C0EE000012", "ST@02C0EE000013",
                                          "ST@02C0EE000014"}, true},
        {"nobody", "SX", nullptr, {}, false},
        {"a serial too long to be one", "SC-AND-MORE-THAN-16", nullptr, {}, false},
        {"a MAC too long to be one", nullptr, "02C0EE00000C0", {}, false},
    };
    OpenSilent();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InitEngine();
        SetDeviceCapacity(2);
        SetFindLookup(c.serial, c.mac);
        SetRecvTmo(0);
        StartRequest(RequestKind::Find, nullptr);
        Inject(device("SA", "02C0EE00000A"));
        Inject(device("SB", "02C0EE00000B"));
        ASSERT_TRUE(PumpUntil([] { return GetDevCount() == 2; }, 3000));
        ClearRecvEvent();
        Inject(device("SC", "02C0EE00000C"));
        Inject(device("SC", "02C0EE00000C"));   // answering again is one device
        Inject(device("SA", "02C0EE0000AA"));
        for (int i = 1; i <= 5; ++i)
            Inject(device("ST", ("02C0EE00001" + std::to_string(i)).c_str()));
        const uint8_t events = FinishRequest();
        ClearFindLookup();
        EXPECT_EQ(GetDevicesLeftOut(), 8u);
        EXPECT_EQ(GetDevCount(), 2);
        DeviceEntry kept[kLookupMatchesMax];
        bool more = false;
        const int n = CopyLookupBeyondTable(kept, kLookupMatchesMax, &more);
        std::vector<std::string> names;
        for (int i = 0; i < n; ++i)
            names.push_back(std::string(kept[i].serial) + "@" + kept[i].mac);
        EXPECT_EQ(names, c.beyond);
        EXPECT_EQ(more, c.more);
        // The monitor is woken for a device found beyond the table, only then.
        EXPECT_EQ((events & RecvEventBit(EVT_UPDATE_INFO)) != 0, !c.beyond.empty());
    }
    // The next Find starts without them.
    SetFindLookup("SC", nullptr);
    SetRecvTmo(0);
    StartRequest(RequestKind::Find, nullptr);
    for (const char* serial : {"SA", "SB", "SC"})
        Inject(device(serial, (std::string("02C0EE00000") + serial[1]).c_str()));
    FinishRequest();
    DeviceEntry kept[1];
    ASSERT_EQ(CopyLookupBeyondTable(kept, 1), 1);
    EXPECT_STREQ(kept[0].serial, "SC");
    StartRequest(RequestKind::Find, nullptr);
    FinishRequest();
    ClearFindLookup();
    EXPECT_EQ(CopyLookupBeyondTable(kept, 1), 0);
}

TEST_F(EngineTest, RepliesOfAnotherCommandAreDropped)
{
    OpenSilent();
    SetRecvTmo(0);
    StartRequest(RequestKind::Find, nullptr);
    const std::string mac = Line(KEY_MAC, "02C0EE000001");
    Inject(ReplyFrame(2, mac + Line(KEY_SERIAL_NUM, "OTHER")));
    Inject(ReplyFrame(3, mac + Line(KEY_SERIAL_NUM, "OTHER3")));
    Inject(ReplyFrame(1, mac + Line(KEY_SERIAL_NUM, "MINE")));
    const uint8_t events = FinishRequest();
    EXPECT_EQ(events, RecvEventBit(EVT_UPDATE_INFO) | RecvEventBit(EVT_TIMEOUT));
    EXPECT_EQ(GetDevCount(), 1);
    EXPECT_STREQ(GetDevTable()[0].serial, "MINE");
}

TEST_F(EngineTest, FindReplyHandling)
{
    ClearDevTable();
    const std::string a1 = Line(KEY_DEV, "first") + Line(KEY_MAC, "02C0EE000001") +
                           Line(KEY_SERIAL_NUM, "SAME") + "*END* = \r\n";
    const std::string a2 = Line(KEY_DEV, "second") + Line(KEY_MAC, "02C0EE000002") +
                           Line(KEY_SERIAL_NUM, "SAME") + "*END* = \r\n";

    // One serial number from two MAC addresses: two devices, two rows.
    ASSERT_EQ(OnFindReply(a1.c_str(), a1.size()), 0);
    EXPECT_EQ(TakeRecvEvent(), RecvEventBit(EVT_UPDATE_INFO));
    ASSERT_EQ(OnFindReply(a2.c_str(), a2.size()), 0);
    EXPECT_EQ(TakeRecvEvent(), RecvEventBit(EVT_UPDATE_INFO));
    EXPECT_EQ(GetDevCount(), 2);
    EXPECT_STREQ(GetDevTable()[1].dev, "second");
    EXPECT_STREQ(GetDevTable()[1].mac, "02C0EE000002");
    // The same device again: its row is rewritten in place, no new event.
    const std::string a1again = Line(KEY_DEV, "first again") + Line(KEY_MAC, "02C0EE000001") +
                                Line(KEY_SERIAL_NUM, "SAME") + "*END* = \r\n";
    ASSERT_EQ(OnFindReply(a1again.c_str(), a1again.size()), 0);
    EXPECT_EQ(TakeRecvEvent(), 0);
    EXPECT_EQ(GetDevCount(), 2);
    EXPECT_STREQ(GetDevTable()[0].dev, "first again");
    EXPECT_STREQ(GetDevTable()[1].dev, "second");

    // Where each reply came from: a known device answering on another
    // interface (or from another address) gains that origin, once, and its
    // row is told anew; the same origin again changes nothing.
    ClearDevTable();
    InitEngine();
    RxOrigin va0;
    va0.addr = Ipv4OfText("10.31.0.2");
    va0.port = 22093;
    RxOrigin vb0 = va0;
    vb0.addr = Ipv4OfText("10.32.0.2");
    ASSERT_EQ(OnFindReply(a1.c_str(), a1.size(), &va0), 0);
    EXPECT_EQ(TakeRecvEvent(), RecvEventBit(EVT_UPDATE_INFO));
    ASSERT_EQ(OnFindReply(a1.c_str(), a1.size(), &va0), 0);
    EXPECT_EQ(TakeRecvEvent(), 0);
    ASSERT_EQ(OnFindReply(a1again.c_str(), a1again.size(), &vb0), 0);
    EXPECT_EQ(TakeRecvEvent(), RecvEventBit(EVT_UPDATE_INFO));
    ASSERT_EQ(OnFindReply(a2.c_str(), a2.size(), &vb0), 0);
    ASSERT_EQ(GetDevCount(), 2);
    const DeviceEntry& both = GetDevTable()[0];
    ASSERT_EQ(both.originCount, 2);
    EXPECT_EQ(both.origins[0].addr, va0.addr);
    EXPECT_EQ(both.origins[1].addr, vb0.addr);
    ASSERT_EQ(GetDevTable()[1].originCount, 1);
    EXPECT_EQ(GetDevTable()[1].origins[0].addr, vb0.addr);
    TakeRecvEvent();

    // A reply that names no device (no serial number or no MAC value, or
    // nothing at all) is dropped and counted; it never becomes a row.
    const uint32_t droppedBefore = GetUnaddressedReplyCount();
    const std::string unaddressed[] = {
        Line(KEY_DEV, "anon") + Line(KEY_MAC, "02C0EE000003") + "*END* = \r\n",
        Line(KEY_MAC, "02C0EE000003") + Line(KEY_SERIAL_NUM, "") + "*END* = \r\n",
        Line(KEY_SERIAL_NUM, "NOMAC") + "*END* = \r\n",
        Line(KEY_MAC, "   ") + Line(KEY_SERIAL_NUM, "BLANKMAC") + "*END* = \r\n",
        "*END* = \r\n",
    };
    for (const std::string& text : unaddressed)
        EXPECT_EQ(OnFindReply(text.c_str(), text.size()), -10) << text;
    EXPECT_EQ(GetUnaddressedReplyCount() - droppedBefore, 5u);
    EXPECT_EQ(GetDevCount(), 2);
    EXPECT_EQ(TakeRecvEvent(), 0);

    // Parser errors are passed on and add nothing.
    EXPECT_EQ(OnFindReply("no terminator", 13), -8);
    EXPECT_EQ(OnFindReply("JUNK*END* = \r\n", 14), -2);
    EXPECT_EQ(OnFindReply(nullptr, 0), -1);
    EXPECT_EQ(GetDevCount(), 2);
    EXPECT_EQ(TakeRecvEvent(), 0);
}

// Bad traffic on the LAN, sent over loopback datagram by datagram as a
// hostile or faulty device would, before or around three genuine replies:
// every genuine device must be listed, and nothing else.
TEST_F(EngineTest, BadTrafficNeverHidesGenuineDevices)
{
    const std::vector<devsim::Device> devs = Devices(3, 77);
    const std::vector<int> findKeys = {KEY_DEV, KEY_VER, KEY_MAC, KEY_IP_CUR, KEY_HOST_NAME,
                                       KEY_SERIAL_NUM};
    std::vector<std::string> genuine;
    for (const devsim::Device& d : devs) {
        const std::vector<uint8_t> f = devsim::BuildReply(RequestKind::Find, d, findKeys);
        genuine.emplace_back(f.begin(), f.end());
    }
    const std::string headerOnly = ReplyFrame(1, "");
    const std::string emptySerial =
        ReplyFrame(1, Line(KEY_DEV, "NP") + Line(KEY_MAC, "02C0EE0000EE") + Line(KEY_SERIAL_NUM, ""));
    const std::string noTerminator = genuine[1].substr(0, genuine[1].size() - 10);
    const std::string smallFind = ReplyFrame(1, "X");   // the Find command byte, bad text

    enum Where { AtTheEnd, InTheMiddle, AfterEachOfTheFirstThree };
    struct Case {
        const char* name;
        std::vector<std::string> bad;
        Where genuine;
    };
    std::mt19937 rng(4242);
    std::vector<std::string> mixed;
    for (int i = 0; i < 20000; ++i) {
        const std::string kinds[] = {headerOnly, emptySerial, noTerminator, smallFind,
                                     genuine[rng() % 3].substr(0, 11 + rng() % 60),
                                     std::string(1 + rng() % 40, static_cast<char>(rng()))};
        mixed.push_back(kinds[rng() % 6]);
    }
    // Headers cut inside their command bytes, one before each genuine reply.
    std::vector<std::string> cutInCommand;
    for (size_t len = 7; len <= 10; ++len)
        cutInCommand.push_back(genuine[len % 3].substr(0, len));
    const Case cases[] = {
        {"header and terminator only", {headerOnly}, AtTheEnd},
        {"empty serial number", {emptySerial}, AtTheEnd},
        {"five without terminator", std::vector<std::string>(5, noTerminator), AtTheEnd},
        {"one device 1000 times", std::vector<std::string>(1000, genuine[0]), AtTheEnd},
        {"10,000 small Find frames", std::vector<std::string>(10000, smallFind), InTheMiddle},
        {"20,000 mixed bad datagrams", mixed, InTheMiddle},
        {"headers cut inside their command bytes", cutInCommand, AfterEachOfTheFirstThree},
    };
    for (const Case& c : cases) {
        OpenSilent();
        const uint16_t port = GetRecvPort();
        ClearDevTable();
        SetRecvTmo(30);
        StartRequest(RequestKind::Find, nullptr);
        std::atomic<bool> sent{false};
        std::thread sender([&] {
            testrig::LoopbackPeer peer;
            auto send = [&](const std::string& d) {
                peer.SendTo(port, reinterpret_cast<const uint8_t*>(d.data()), d.size());
            };
            // Paced at about 10,000 datagrams a second, in bursts small
            // enough for the socket's buffer: what is lost must be ours.
            const size_t half = c.genuine == InTheMiddle ? c.bad.size() / 2 : c.bad.size();
            for (size_t i = 0; i < c.bad.size(); ++i) {
                if (i == half)
                    for (const std::string& g : genuine)
                        send(g);
                send(c.bad[i]);
                if (c.genuine == AfterEachOfTheFirstThree && i < genuine.size())
                    send(genuine[i]);
                if (i % 50 == 49)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            if (c.genuine == AtTheEnd)
                for (const std::string& g : genuine)
                    send(g);
            sent = true;
        });
        const bool found = PumpUntil([&] { return sent && GetDevCount() >= 3; }, 15000);
        sender.join();
        PumpUntil([] { return false; }, 50);   // anything still on its way
        SetStopReqFlg();
        FinishRequest();
        EXPECT_TRUE(found) << c.name;
        DeviceEntry table[4];
        CopyDevTableSlots(table, 4);
        EXPECT_EQ(GetDevCount(), 3) << c.name;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(table[i].serial, devs[static_cast<size_t>(i)].values[KEY_SERIAL_NUM]) << c.name;
        CloseUdp();
    }
}

TEST_F(EngineTest, WorkerSleepsWhileTheRingIsEmpty)
{
    StartSim(Devices(3));
    SetRecvTmo(0);   // a Find of one second
    const uint64_t before = RxRingWakeCount();
    StartRequest(RequestKind::Find, nullptr);
    FinishRequest();
    EXPECT_EQ(GetDevCount(), 3);
    // About one wake per 100 ms of silence plus one per datagram; polling
    // the ring every millisecond would be near a thousand.
    EXPECT_LT(RxRingWakeCount() - before, 30u);
}

// A Find reply into a full table: a known device's row is rewritten, a new
// one finds no room (counted) and the slot after the last kept one stays
// empty. The count is raised before the event that announces the row, so a
// monitor woken by it reads the new row.
int g_countAtWake = -1;

TEST_F(EngineTest, FindRepliesFillTheTableAndCountBeforeTheirEvent)
{
    ClearDevTable();
    const DeviceEntry zero{};
    SetDeviceCapacity(2);
    SetMonitorWake([](void*) { g_countAtWake = GetDevCount(); }, nullptr);
    auto reply = [](const char* mac, const char* dev) {
        const std::string text = Line(KEY_DEV, dev) + Line(KEY_MAC, mac) +
                                 Line(KEY_SERIAL_NUM, "S1") + "*END* = \r\n";
        return OnFindReply(text.c_str(), text.size());
    };
    struct Step {
        const char* mac;
        const char* dev;
        int result;
        int count;   // DevCount after it
        bool added;
    } steps[] = {
        {"02C0EE000001", "a", 0, 1, true},
        {"02C0EE000002", "b", 0, 2, true},
        {"02C0EE000003", "c", kEngineTableFull, 2, false},
        {"02C0EE000002", "b2", 0, 2, false},   // a known device: its row rewritten
    };
    const uint32_t leftOut = GetDevicesLeftOut();
    for (const Step& s : steps) {
        g_countAtWake = -1;
        TakeRequestProgress();   // a look, so the next event wakes again
        EXPECT_EQ(reply(s.mac, s.dev), s.result) << s.dev;
        EXPECT_EQ(GetDevCount(), s.count) << s.dev;
        if (s.added) {
            EXPECT_EQ(g_countAtWake, s.count) << s.dev << ": woken before the row was counted";
        }
    }
    SetMonitorWake(nullptr, nullptr);
    EXPECT_EQ(std::memcmp(&GetDevTable()[2], &zero, sizeof zero), 0);
    EXPECT_STREQ(GetDevTable()[1].dev, "b2");
    EXPECT_EQ(GetDevicesLeftOut() - leftOut, 1u);
}

TEST_F(EngineTest, MakeDevEntryTakesTheSixKeysLaterRecordsWinning)
{
    const std::string text = Line(KEY_DEV, "d1") + Line(KEY_IP, "10.1.1.1") +
                             Line(KEY_HOST_NAME, std::string(32, 'h')) + Line(KEY_DEV, "d2") +
                             Line(KEY_VER, "v") + "*END* = \r\n";
    ASSERT_EQ(ParseConfigText(text.c_str(), text.size(), nullptr, nullptr), 0);
    DeviceEntry e;
    std::memset(&e, 0x55, sizeof e);
    MakeDevEntry(&ReplyTable, &e);
    EXPECT_STREQ(e.dev, "d2");
    EXPECT_STREQ(e.ver, "v");
    EXPECT_EQ(std::string(e.hostName), std::string(32, 'h'));
    EXPECT_STREQ(e.mac, "");
    EXPECT_STREQ(e.ipCur, "");
    EXPECT_STREQ(e.serial, "");
}

TEST_F(EngineTest, GetConfigSkipsAnotherMacAndAcceptsTheTarget)
{
    auto opt = testrig::LoopbackSimOptions();
    opt.fault = devsim::Fault::WrongMac;   // another device's MAC answers first
    StartSim(Devices(3), opt);
    const std::string mac = rig_->sim().Value(1, KEY_MAC);
    const std::string serial = rig_->sim().Value(1, KEY_SERIAL_NUM);
    SetTargetMac(mac.c_str());
    SetTargetSerial(serial.c_str());
    SetRecvTmo(3);
    const auto t0 = Clock::now();
    StartRequest(RequestKind::GetConfig, nullptr);
    const uint8_t events = FinishRequest();
    EXPECT_LT(MsSince(t0), 2500);
    EXPECT_EQ(events, RecvEventBit(EVT_CONFIG_RECV));
    DeviceEntry summary;
    CopyCfgSummary(&summary);
    EXPECT_EQ(summary.mac, mac);
    EXPECT_EQ(summary.serial, serial);
    char text[kCfgTextSize];
    CopyCfgText(text);
    EXPECT_NE(std::strstr(text, ("HOST_NAME = " + rig_->sim().Value(1, KEY_HOST_NAME)).c_str()),
              nullptr);
    EXPECT_NE(std::strstr(text, "*END* = \r\n"), nullptr);
    EXPECT_TRUE(ReplyTableHoldsConfigOf(mac.c_str(), serial.c_str()));
    EXPECT_FALSE(ReplyTableHoldsConfigOf(mac.c_str(), "other"));

    // A later fetch of the same device that gets no answer voids it.
    rig_->sim().Stop();
    SetRecvTmo(-1);
    StartRequest(RequestKind::GetConfig, nullptr);
    EXPECT_EQ(FinishRequest(), RecvEventBit(EVT_TIMEOUT));
    EXPECT_FALSE(ReplyTableHoldsConfigOf(mac.c_str(), serial.c_str()));
}

TEST_F(EngineTest, GetConfigMacComparisonIsCaseSensitive)
{
    std::vector<devsim::Device> devs = Devices(1);
    devs[0].values[KEY_MAC] = "02C0EE00ABCD";
    StartSim(devs);
    SetTargetMac("02c0ee00abcd");
    SetTargetSerial(devs[0].values[KEY_SERIAL_NUM].c_str());
    SetRecvTmo(0);
    StartRequest(RequestKind::GetConfig, nullptr);
    EXPECT_EQ(FinishRequest(), RecvEventBit(EVT_TIMEOUT));
}

TEST_F(EngineTest, GetConfigReplyHandling)
{
    const std::string cfgA = Line(KEY_MAC, "02C0EE00000A") + Line(KEY_SERIAL_NUM, "SA") + "*END* = \r\n";
    const std::string cfgB = Line(KEY_MAC, "02C0EE00000B") + Line(KEY_SERIAL_NUM, "SB") + "*END* = \r\n";
    const std::string noMac = Line(KEY_SERIAL_NUM, "SA") + "*END* = \r\n";
    ASSERT_EQ(OnGetCfgReply(cfgA.c_str(), cfgA.size(), "02C0EE00000A"), 0);
    EXPECT_EQ(TakeRecvEvent(), RecvEventBit(EVT_CONFIG_RECV));
    EXPECT_STREQ(CfgText, cfgA.c_str());
    EXPECT_TRUE(ReplyTableHoldsConfigOf("02C0EE00000A", "SA"));

    // The right MAC with another serial number is not the device asked: its
    // values must not rewrite the selected row.
    const std::string stranger =
        Line(KEY_MAC, "02C0EE00000A") + Line(KEY_SERIAL_NUM, "STRANGER") + "*END* = \r\n";
    EXPECT_EQ(OnGetCfgReply(stranger.c_str(), stranger.size(), "02C0EE00000A", "SA"), -11);
    EXPECT_STREQ(CfgSummary.serial, "SA");
    EXPECT_EQ(OnGetCfgReply(cfgA.c_str(), cfgA.size(), "02C0EE00000A", "SA"), 0);
    EXPECT_EQ(TakeRecvEvent(), RecvEventBit(EVT_CONFIG_RECV));

    // Another device's reply is dropped, but it now fills the ReplyTable:
    // the editor must no longer be filled from it for device A.
    EXPECT_EQ(OnGetCfgReply(cfgB.c_str(), cfgB.size(), "02C0EE00000A"), -11);
    EXPECT_STREQ(CfgText, cfgA.c_str());
    EXPECT_STREQ(CfgSummary.serial, "SA");
    EXPECT_FALSE(ReplyTableHoldsConfigOf("02C0EE00000A", "SA"));
    EXPECT_EQ(OnGetCfgReply(noMac.c_str(), noMac.size(), "02C0EE00000A"), -11);
    EXPECT_EQ(OnGetCfgReply("DEV = x", 7, "02C0EE00000A"), -8);
    EXPECT_EQ(TakeRecvEvent(), 0);
}

// A GetConfig whose only reply is not the target's ends by its timeout,
// with nothing accepted.
TEST_F(EngineTest, GetConfigWithOnlyAReplyNotOfTheTargetEndsByTimeout)
{
    struct Case {
        const char* what;
        const char* serial;   // the target's
        std::string reply;
    } cases[] = {
        {"a reply without a MAC", "SA", Line(KEY_SERIAL_NUM, "SA")},
        // One character longer than a serial number holds: cut, the target
        // would name the device whose serial is its first 16 characters.
        {"a target serial too long for its field", "ABCDEFGHIJKLMNOPQ",
         Line(KEY_MAC, "02C0EE00000A") + Line(KEY_SERIAL_NUM, "ABCDEFGHIJKLMNOP")},
    };
    OpenSilent();
    for (const Case& c : cases) {
        SetTargetMac("02C0EE00000A");
        SetTargetSerial(c.serial);
        SetRecvTmo(0);
        StartRequest(RequestKind::GetConfig, nullptr);
        Inject(ReplyFrame(2, c.reply));
        EXPECT_EQ(FinishRequest(), RecvEventBit(EVT_TIMEOUT)) << c.what;
        EXPECT_FALSE(ReplyTableHoldsConfigOf("02C0EE00000A", "ABCDEFGHIJKLMNOP")) << c.what;
    }
}

TEST_F(EngineTest, SetConfigIsAppliedAndReadBack)
{
    StartSim(Devices(2));
    const std::string mac = rig_->sim().Value(1, KEY_MAC);
    const std::string serial = rig_->sim().Value(1, KEY_SERIAL_NUM);
    ClearWriteTable();
    const std::pair<int, const char*> recs[] = {
        {KEY_MAC, mac.c_str()}, {KEY_HOST_NAME, "renamed-host"}, {KEY_IP, "10.20.30.40"},
        {KEY_PRNT_PORT, "9101"}, {KEY_SERIAL_NUM, serial.c_str()}};
    int slot = 0;
    for (const auto& [key, value] : recs) {
        ConfigRecord& r = WriteTable[slot++];
        r.key = KeyTable[key].key;
        r.width = KeyTable[key].width;
        std::memset(r.value, ' ', static_cast<size_t>(r.width));
        std::memcpy(r.value, value, std::strlen(value));
    }
    EXPECT_EQ(StartRequest(RequestKind::SetConfig, GetWriteTable()), 0);
    EXPECT_EQ(GetReqKind(), 0);
    EXPECT_EQ(GetExpectCmd(), 3);
    EXPECT_EQ(GetRecvEvent(), 0);
    EXPECT_EQ(GetStopRecvFlg(), 0);

    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    SetTargetMac(mac.c_str());
    SetTargetSerial(serial.c_str());
    SetRecvTmo(3);
    StartRequest(RequestKind::GetConfig, nullptr);
    EXPECT_EQ(FinishRequest(), RecvEventBit(EVT_CONFIG_RECV));
    EXPECT_STREQ(CfgSummary.hostName, "renamed-host");
    EXPECT_EQ(rig_->sim().Value(1, KEY_HOST_NAME), "renamed-host");
    EXPECT_EQ(rig_->sim().Value(1, KEY_IP), "10.20.30.40");
    EXPECT_EQ(rig_->sim().Value(1, KEY_PRNT_PORT), "9101");
    EXPECT_NE(rig_->sim().Value(0, KEY_HOST_NAME), "renamed-host");

    // A front end's write: sent from the WriteTable, which keeps it, and
    // checked against the re-read that follows.
    RecordTable planned = *GetWriteTable();
    std::memset(planned[1].value, ' ', static_cast<size_t>(planned[1].width));
    std::memcpy(planned[1].value, "checked-host", 12);
    ClearWriteTable();
    WriteCheck check;
    EXPECT_EQ(SendCheckedWrite(&check, planned, mac.c_str(), serial.c_str()), 0);
    for (int i = 0; i < kRecordSlots; ++i) {
        const ConfigRecord& sent = (*GetWriteTable())[i];
        EXPECT_EQ(sent.key, planned[i].key) << i;
        EXPECT_EQ(sent.width, planned[i].width) << i;
        EXPECT_EQ(std::memcmp(sent.value, planned[i].value, kValueSize), 0) << i;
    }
    EXPECT_STREQ(TargetMac, mac.c_str());
    StartRequest(RequestKind::GetConfig, nullptr);
    EXPECT_EQ(FinishRequest(), RecvEventBit(EVT_CONFIG_RECV));
    RecordTable reread;
    char line[128];
    EXPECT_EQ(FinishWriteCheck(check, &reread, line, sizeof line), 0);
    EXPECT_STREQ(line, "Configuration verified.");
    EXPECT_EQ(rig_->sim().Value(1, KEY_HOST_NAME), "checked-host");
}

// The re-read after a write must be answered after it was sent. A device
// that answers the write at once with the values it claims to have taken,
// or that repeats its earlier answer late, must not decide the check: both
// answers arrive before the re-read goes out.
TEST_F(EngineTest, AnAnswerFromBeforeTheReReadNeverDecidesTheWriteCheck)
{
    struct Case {
        devsim::Fault fault;
        const char* line;   // what the check must say
        const char* hostAfter;
    } cases[] = {
        {devsim::Fault::ForgedConfig, "Device did not take: HOST_NAME.", nullptr},
        {devsim::Fault::LateDuplicate, "Configuration verified.", "renamed-host"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(devsim::FaultName(c.fault));
        auto opt = testrig::LoopbackSimOptions();
        opt.fault = c.fault;
        opt.lateMs = 50;
        StartSim(Devices(1), opt);
        const std::string hostBefore = rig_->sim().Value(0, KEY_HOST_NAME);
        SetTargetMac(rig_->sim().Value(0, KEY_MAC).c_str());
        SetTargetSerial(rig_->sim().Value(0, KEY_SERIAL_NUM).c_str());
        SetRecvTmo(2);
        StartRequest(RequestKind::GetConfig, nullptr);
        ASSERT_EQ(FinishRequest(), RecvEventBit(EVT_CONFIG_RECV));

        RecordTable reply;
        CopyReplyTable(&reply);
        CfgFormState state;
        CfgFormFromRecords(reply, TargetMac, &state);
        ASSERT_EQ(SetCfgValue(&state, KEY_HOST_NAME, "renamed-host"), CFG_OK);
        CfgValues values;
        ASSERT_EQ(CheckCfgForm(state, &values, nullptr), CFG_OK);
        BuildWriteTable(GetWriteTable(), values);
        const RecordTable written = *GetWriteTable();
        StartRequest(RequestKind::SetConfig, GetWriteTable());
        // The early answer (the forged one, or the late copy of the first)
        // is waiting on the socket before the re-read starts.
        ASSERT_TRUE(WaitForDatagram(3000));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        StartRequest(RequestKind::GetConfig, nullptr);
        ASSERT_EQ(FinishRequest(), RecvEventBit(EVT_CONFIG_RECV));
        RecordTable reread;
        CopyReplyTable(&reread);
        char line[128];
        VerifyWrite(written, reread, line, sizeof line);
        EXPECT_STREQ(line, c.line);
        EXPECT_EQ(rig_->sim().Value(0, KEY_HOST_NAME), c.hostAfter ? c.hostAfter : hostBefore);
        CloseUdp();
        rig_.reset();
    }
}

TEST_F(EngineTest, StopDuringAFindKeepsTheRowsAndRaisesNoTimeout)
{
    StartSim(Devices(2));
    SetRecvTmo(30);
    StartRequest(RequestKind::Find, nullptr);
    ASSERT_TRUE(PumpUntil([] { return GetDevCount() == 2; }, 3000));
    const auto t0 = Clock::now();
    SetStopReqFlg();
    const uint8_t events = FinishRequest();
    EXPECT_LT(MsSince(t0), 400);
    EXPECT_EQ(events & RecvEventBit(EVT_TIMEOUT), 0);
    EXPECT_EQ(GetStopReqFlg(), 0);
    EXPECT_EQ(GetDevCount(), 2);
}

// The monitor's wake-up: one call per look the monitor has not yet taken,
// again once it has looked or a new request has started, and also for a
// worker that ends without an event (Stop).
std::atomic<int> g_wakes{0};

TEST_F(EngineTest, TheWorkerWakesTheMonitorOnceUntilItLooks)
{
    SetMonitorWake([](void*) { ++g_wakes; }, nullptr);
    g_wakes = 0;
    SetRecvEvent(EVT_UPDATE_INFO);
    SetRecvEvent(EVT_UPDATE_INFO);
    EXPECT_EQ(g_wakes.load(), 1);   // the look asked for will see both
    EXPECT_EQ(TakeRequestProgress().events, RecvEventBit(EVT_UPDATE_INFO));
    SetRecvEvent(EVT_TIMEOUT);
    EXPECT_EQ(g_wakes.load(), 2);

    // Never looked at, the last wake does not keep the next request's away.
    OpenSilent();
    SetRecvTmo(30);
    StartRequest(RequestKind::Find, nullptr);
    EXPECT_EQ(TakeRecvEvent(), 0);   // the request starts with no event
    SetStopReqFlg();
    ASSERT_TRUE(PumpUntil([] { return g_wakes.load() == 3; }, 2000));
    const RequestProgress p = TakeRequestProgress();
    EXPECT_TRUE(p.ended);
    EXPECT_EQ(p.events, 0);
    EXPECT_EQ(GetStopRecvFlg(), 0);
    SetMonitorWake(nullptr, nullptr);
}

TEST_F(EngineTest, TimeoutsEndAfterTheirWholeSeconds)
{
    OpenSilent();
    struct Case {
        int tmo;
        long minMs, maxMs;
    } cases[] = {{3, 4000, 4600}, {0, 1000, 1600}, {-1, 0, 300}};
    for (const Case& c : cases) {
        SetRecvTmo(c.tmo);
        const auto t0 = Clock::now();
        StartRequest(RequestKind::Find, nullptr);
        const uint8_t events = FinishRequest(10000);
        const long ms = MsSince(t0);
        EXPECT_EQ(events, RecvEventBit(EVT_TIMEOUT)) << c.tmo;
        // The engine counts whole milliseconds of its own tick, which may
        // start up to 1 ms late against this clock.
        EXPECT_GE(ms, c.minMs - 1) << c.tmo;
        EXPECT_LE(ms, c.maxMs) << c.tmo;
    }
}

TEST_F(EngineTest, TruncatedReplyDelaysNeitherStopNorTimeout)
{
    auto opt = testrig::LoopbackSimOptions();
    opt.fault = devsim::Fault::NoTerminator;
    StartSim(Devices(1), opt);

    SetRecvTmo(0);
    auto t0 = Clock::now();
    StartRequest(RequestKind::Find, nullptr);
    EXPECT_EQ(FinishRequest(), RecvEventBit(EVT_TIMEOUT));
    EXPECT_LT(MsSince(t0), 1400);
    EXPECT_EQ(GetDevCount(), 0);

    SetRecvTmo(60);
    StartRequest(RequestKind::Find, nullptr);
    PumpUntil([] { return false; }, 200);   // the header is in, the terminator never comes
    t0 = Clock::now();
    SetStopReqFlg();
    EXPECT_EQ(FinishRequest(), 0);
    EXPECT_LT(MsSince(t0), 300);

    // Shutdown, or giving the request up, with a worker inside such a frame
    // returns at once too. A shutdown leaves the request's end for the next
    // look; giving up takes it, so no later look reports an end.
    struct Stop {
        const char* name;
        void (*stop)();
        bool endLeft;
    } stops[] = {{"shutdown", ShutdownEngine, true}, {"abandon", AbandonRequest, false}};
    for (const Stop& st : stops) {
        StartRequest(RequestKind::Find, nullptr);
        PumpUntil([] { return false; }, 200);
        t0 = Clock::now();
        st.stop();
        EXPECT_LT(MsSince(t0), 300) << st.name;
        EXPECT_EQ(GetStopRecvFlg(), st.endLeft ? 1 : 0) << st.name;
        EXPECT_EQ(TakeRequestProgress().ended, st.endLeft) << st.name;
    }
}

TEST_F(EngineTest, SimulatorFaultsAsSeenByTheEngine)
{
    struct Case {
        devsim::Fault fault;
        int loss;
        int devicesFound;
    } cases[] = {
        {devsim::Fault::Truncated, 0, 0},
        {devsim::Fault::Oversize, 0, 0},
        {devsim::Fault::StrayBytes, 0, 3},
        {devsim::Fault::None, 100, 0},
    };
    for (const Case& c : cases) {
        auto opt = testrig::LoopbackSimOptions();
        opt.fault = c.fault;
        opt.lossPercent = c.loss;
        StartSim(Devices(3), opt);
        SetRecvTmo(0);
        StartRequest(RequestKind::Find, nullptr);
        FinishRequest();
        EXPECT_EQ(GetDevCount(), c.devicesFound) << devsim::FaultName(c.fault) << " loss " << c.loss << " [" << GetDevTable()[0].serial << "/" << GetDevTable()[0].mac << "/" << GetDevTable()[0].dev << "]";
        CloseUdp();
        rig_.reset();
    }
}

// A reply cut before its terminator, then a datagram completing it: from
// another address, from the device itself, or only the terminator's end.
// Nothing of the second datagram may complete the first: the Find lists
// only the devices that answered, each from where it answered, the
// GetConfig takes only the whole reply, and a write built on it carries
// the device's own values.
TEST_F(EngineTest, ACutReplyIsNeverSplicedWithTheNextDatagram)
{
    for (const devsim::Fault fault :
         {devsim::Fault::Splice, devsim::Fault::SpliceOwn, devsim::Fault::SplitTerminator}) {
        const char* name = devsim::FaultName(fault);
        auto opt = testrig::LoopbackSimOptions();
        opt.fault = fault;
        StartSim(Devices(2, 31), opt);
        SetRecvTmo(0);
        StartRequest(RequestKind::Find, nullptr);
        FinishRequest();
        DeviceEntry table[3];
        ASSERT_EQ(CopyDevTableSlots(table, 3), 2) << name;
        for (int i = 0; i < 2; ++i) {
            const std::string serial = table[i].serial;
            EXPECT_TRUE(serial == rig_->sim().Value(0, KEY_SERIAL_NUM) ||
                        serial == rig_->sim().Value(1, KEY_SERIAL_NUM))
                << name << ": " << serial;
            ASSERT_EQ(table[i].originCount, 1) << name;
            EXPECT_EQ(table[i].origins[0].addr, Ipv4OfText("127.0.0.1")) << name;
            EXPECT_EQ(table[i].origins[0].port, rig_->port()) << name;
            EXPECT_STREQ(table[i].origins[0].ifName, kLoopbackName) << name;
        }
        EXPECT_EQ(GetCutReplyCount(), 2u) << name;

        const std::string mac = rig_->sim().Value(0, KEY_MAC);
        const std::string serial = rig_->sim().Value(0, KEY_SERIAL_NUM);
        SetTargetMac(mac.c_str());
        SetTargetSerial(serial.c_str());
        SetRecvTmo(3);
        StartRequest(RequestKind::GetConfig, nullptr);
        EXPECT_EQ(FinishRequest(), RecvEventBit(EVT_CONFIG_RECV)) << name;
        EXPECT_EQ(GetCutReplyCount(), 1u) << name;
        RecordTable reply;
        CopyReplyTable(&reply);
        ClearWriteTable();
        int slot = 0;
        for (const ConfigRecord& r : reply.rec) {
            if (IsEmptyRecord(&r))
                break;
            WriteTable[slot] = r;
            if (std::strcmp(r.key, "HOST_NAME") == 0)
                std::snprintf(WriteTable[slot].value, kValueSize, "renamed");
            ++slot;
        }
        StartRequest(RequestKind::SetConfig, GetWriteTable());
        ASSERT_TRUE(PumpUntil([&] { return !rig_->sim().LastWrite(0).empty(); }, 3000)) << name;
        bool carriedIp = false;
        for (const devsim::WrittenRecord& w : rig_->sim().LastWrite(0)) {
            EXPECT_NE(w.value, devsim::kSplicedIp) << name << " " << w.key;
            if (w.key == "IP") {
                carriedIp = true;
                EXPECT_EQ(w.value, rig_->sim().Value(0, KEY_IP)) << name;
            }
        }
        EXPECT_TRUE(carriedIp) << name;
        EXPECT_EQ(rig_->sim().Value(0, KEY_HOST_NAME), "renamed") << name;
        CloseUdp();
        rig_.reset();
    }
}

TEST_F(EngineTest, PendingEventsAreASetNotTheLatestOnly)
{
    // A device found just before the timeout: both events stay pending.
    StartSim(Devices(1));
    SetRecvTmo(0);
    StartRequest(RequestKind::Find, nullptr);
    ASSERT_TRUE(PumpUntil([] { return GetStopRecvFlg() != 0; }, 5000));
    EXPECT_EQ(GetRecvEvent(), RecvEventBit(EVT_UPDATE_INFO) | RecvEventBit(EVT_TIMEOUT));
    FinishRequest();
    SetRecvEvent(EVT_TIMEOUT);
    SetRecvEvent(EVT_NONE);
    EXPECT_EQ(GetRecvEvent(), 0);
}

TEST_F(EngineTest, UnknownRequestKindChangesNothing)
{
    SetRecvTmo(5);
    for (int kind : {0, 4, -1}) {
        EXPECT_EQ(StartRequest(static_cast<RequestKind>(kind), nullptr), -4);
        EXPECT_EQ(GetReqKind(), 0);
        EXPECT_EQ(GetStopRecvFlg(), 0);
        EXPECT_EQ(GetRecvEvent(), 0);
    }
}

TEST_F(EngineTest, ARequestStartedWhileAWorkerRunsIsServedByItsOwnWorker)
{
    // No busy flag guards this: the earlier worker must end first, or it
    // would take the new request's kind and times for its own.
    OpenSilent();
    SetRecvTmo(30);
    StartRequest(RequestKind::Find, nullptr);
    SetTargetMac("02C0EE000001");
    SetTargetSerial("SN1");
    SetRecvTmo(1);
    StartRequest(RequestKind::GetConfig, nullptr);
    EXPECT_EQ(GetReqKind(), 2);
    Inject(ReplyFrame(2, Line(KEY_MAC, "02C0EE000001") + Line(KEY_SERIAL_NUM, "SN1")));
    const uint8_t events = FinishRequest();
    EXPECT_EQ(events, RecvEventBit(EVT_CONFIG_RECV));
    EXPECT_TRUE(ReplyTableHoldsConfigOf("02C0EE000001", "SN1"));
}

TEST_F(EngineTest, WorkerThatCannotStartEndsTheRequestAtOnce)
{
    OpenSilent();
    SetWorkerStartFailsForTest(true);
    SetStopReqFlg();   // left over; cleared by the start
    EXPECT_EQ(StartRequest(RequestKind::Find, nullptr), 0);
    SetWorkerStartFailsForTest(false);
    EXPECT_EQ(GetStopRecvFlg(), 1);
    EXPECT_EQ(GetReqKind(), 0);
    EXPECT_EQ(GetStopReqFlg(), 0);
    WaitRecvThread();   // harmless without a thread
    WaitRecvThread();
}

TEST_F(EngineTest, InitEngineResetsTableAndTimeoutButNotTargets)
{
    // A target is taken whole or not at all: cut, it would name another device.
    EXPECT_TRUE(SetTargetSerial("1234567890123456"));
    EXPECT_FALSE(SetTargetMac("02C0EE0000FFE"));
    EXPECT_STREQ(TargetMac, "");
    EXPECT_FALSE(SetTargetSerial("12345678901234567"));
    EXPECT_STREQ(TargetSerial, "");
    EXPECT_TRUE(SetTargetMac("02C0EE0000FF"));
    EXPECT_FALSE(SetTargetMac(nullptr));
    std::strcpy(DeviceTable[3].serial, "x");
    SetRecvTmo(42);
    SetDeviceCapacity(5);
    SetBusyFlg();
    InitEngine();
    EXPECT_EQ(GetRecvTmo(), 3);
    EXPECT_EQ(GetDeviceCapacity(), kDeviceTableMax);
    EXPECT_STREQ(DeviceTable[3].serial, "");
    EXPECT_STREQ(TargetMac, "02C0EE0000FF");
    EXPECT_EQ(GetBusyFlg(), 1);
    ClearBusyFlg();
}

TEST_F(EngineTest, ReaderNeverSeesAHalfWrittenRow)
{
    OpenSilent();
    SetRecvTmo(30);
    StartRequest(RequestKind::Find, nullptr);
    // One device answering again and again with fields that belong together;
    // every snapshot must show one answer's fields, never a mix.
    int checked = 0;
    for (int i = 0; i < 400; ++i) {
        const std::string tag = "v" + std::to_string(i);
        Inject(ReplyFrame(1, Line(KEY_DEV, tag) + Line(KEY_HOST_NAME, tag) +
                                 Line(KEY_MAC, "02C0EE000001") + Line(KEY_SERIAL_NUM, "ONE")));
        for (int k = 0; k < 5; ++k) {
            DeviceEntry table[2];
            CopyDevTableSlots(table, 2);
            if (table[0].serial[0] != '\0') {
                ASSERT_STREQ(table[0].dev, table[0].hostName);
                ++checked;
            }
            std::this_thread::yield();
        }
    }
    SetStopReqFlg();
    FinishRequest();
    EXPECT_GT(checked, 0);
    EXPECT_EQ(GetDevCount(), 1);
}

TEST(CmdMutex, RecursiveTimedAndClosed)
{
    EXPECT_EQ(WaitCmdMutex(100), -2);   // not created
    CreateCmdMutex();
    ASSERT_EQ(WaitCmdMutex(100), 0);
    ASSERT_EQ(WaitCmdMutex(100), 0);   // the owner may take it again
    int other = 99;
    long waited = 0;
    std::thread t([&] {
        const auto t0 = Clock::now();
        other = WaitCmdMutex(100);
        waited = MsSince(t0);
    });
    t.join();
    EXPECT_EQ(other, -1);
    EXPECT_GE(waited, 90);
    ReleaseCmdMutex();
    ReleaseCmdMutex();
    std::thread t2([&] {
        other = WaitCmdMutex(100);
        if (other == 0)
            ReleaseCmdMutex();
    });
    t2.join();
    EXPECT_EQ(other, 0);
    CloseCmdMutex();
    EXPECT_EQ(WaitCmdMutex(100), -2);
}

}  // namespace
