#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "codec.h"
#include "rxring.h"

namespace {

using Clock = std::chrono::steady_clock;


const std::string kMagic("\x00\x0D\xAC\x00\x0D\xAC", 6);
const std::string kEnd = "*END* = \r\n";
const std::string kFindRequest = kMagic + std::string("\x00\x01\x00\x00\x00", 5) + kEnd;
const std::string kText = "DEV = NP-2400         \r\nSERIAL_NUM = SN1             \r\n";

std::string Reply(uint8_t cmd, const std::string& text)
{
    return kMagic + "\xFF" + std::string(1, static_cast<char>(cmd)) + std::string(3, '\0') + text +
           kEnd;
}

std::string Body(uint8_t cmd, const std::string& text)
{
    return std::string(1, static_cast<char>(cmd)) + std::string(3, '\0') + text + kEnd;
}

void Push(const std::string& s)
{
    ASSERT_EQ(RxRingWrite(reinterpret_cast<const uint8_t*>(s.data()), static_cast<unsigned>(s.size())),
              s.size());
}

bool AlwaysAbort() { return true; }

class RxRingTest : public ::testing::Test {
protected:
    void SetUp() override { RxRingReset(); }
    void TearDown() override { RxRingReset(); }
};

// Reads every datagram the ring holds.
std::vector<std::string> TakeAll(std::vector<RxOrigin>* origins = nullptr)
{
    std::vector<std::string> out;
    uint8_t buf[kRxMaxDatagram];
    RxOrigin from;
    for (int n; (n = RxRingTakeDatagram(buf, sizeof buf, &from)) >= 0;) {
        out.emplace_back(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
        if (origins)
            origins->push_back(from);
    }
    return out;
}

TEST_F(RxRingTest, HoldsWholeDatagramsUntilFullAndRefusesWholeOnes)
{
    std::vector<std::string> sent;
    for (int i = 0; i < 100; ++i) {
        const std::string d(2000, static_cast<char>('a' + i % 26));
        if (RxRingWrite(reinterpret_cast<const uint8_t*>(d.data()), 2000) == 0)
            break;
        sent.push_back(d);
    }
    // 64 KiB holds 32 such datagrams with their 16-byte headers.
    EXPECT_EQ(sent.size(), 32u);
    const uint32_t w = RxRing.writeIndex.load();
    EXPECT_FALSE(RxRingHasRoomFor(2000));
    EXPECT_EQ(RxRing.writeIndex.load(), w);   // a refusal stores nothing
    EXPECT_EQ(TakeAll(), sent);
    EXPECT_TRUE(RxRingDrained());

    // Longer than any datagram kept: refused; empty: kept as a datagram.
    const std::vector<uint8_t> big(kRxMaxDatagram + 1, 0x11);
    EXPECT_EQ(RxRingWrite(big.data(), static_cast<unsigned>(big.size())), 0u);
    EXPECT_EQ(RxRingWrite(big.data(), kRxMaxDatagram), kRxMaxDatagram);
    EXPECT_EQ(RxRingWrite(nullptr, 0), 0u);
    const std::vector<std::string> got = TakeAll();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].size(), kRxMaxDatagram);
    EXPECT_EQ(got[1], "");
}

// A datagram never runs past the ring's end: one that would is stored at
// its start. Every place near the end is tried, so the end falls before,
// inside and after the header, the command bytes and the terminator.
TEST_F(RxRingTest, ADatagramThatWouldWrapIsStoredWholeWithItsOrigin)
{
    const std::string reply = Reply(2, kText);
    const std::string want = Body(2, kText);
    RxOrigin origin;
    origin.addr = 0x0100007F;
    origin.port = 22093;
    origin.ifIndex = 3;
    for (uint32_t start = kRxRingSize - 256; start < kRxRingSize; start += 16) {
        RxRing.readIndex = start;
        RxRing.writeIndex = start;
        ASSERT_EQ(RxRingWrite(reinterpret_cast<const uint8_t*>(reply.data()),
                              static_cast<unsigned>(reply.size()), &origin),
                  reply.size())
            << start;
        uint8_t buf[640];
        RxOrigin from;
        ASSERT_EQ(ReadReplyFrame(buf, sizeof buf, 1, AlwaysAbort, nullptr, &from),
                  static_cast<int>(want.size()))
            << start;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), want.size()), want) << start;
        EXPECT_EQ(from.addr, origin.addr);
        EXPECT_EQ(from.port, origin.port);
        EXPECT_EQ(from.ifIndex, origin.ifIndex);
        EXPECT_TRUE(RxRingDrained()) << start;
    }
    // With the read index at 0 the end cannot be reached (the ring would
    // look empty): a datagram that does not fit before it waits for room.
    RxRing.readIndex = 0;
    RxRing.writeIndex = kRxRingSize - 32;
    EXPECT_FALSE(RxRingHasRoomFor(16));
    EXPECT_TRUE(RxRingHasRoomFor(0));
}

// Junk, a request and a reply in one datagram: the reply is read. The same
// bytes split into two datagrams: the reply is read only when the split
// leaves it whole; cut, it is told as cut and nothing of it is read.
TEST_F(RxRingTest, ARequestAndJunkBeforeTheReplyAreSkippedWithinItsDatagram)
{
    const std::string lead = std::string("\x13\x37", 2) + kMagic.substr(0, 4) + kFindRequest;
    const std::string stream = lead + Reply(1, kText);
    const std::string want = Body(1, kText);
    for (size_t split = 0; split <= stream.size(); ++split) {
        RxRingReset();
        Push(stream.substr(0, split));
        Push(stream.substr(split));
        uint8_t buf[640];
        int n = ReadReplyFrame(buf, sizeof buf, 1, AlwaysAbort);
        if (split > lead.size() + 6 && split < stream.size()) {
            // The first datagram holds the header, not the terminator.
            ASSERT_EQ(n, kRxCutReply) << split;
            n = ReadReplyFrame(buf, sizeof buf, 1, AlwaysAbort);
            ASSERT_EQ(n, kRxNoReply) << split;
            continue;
        }
        if (split > lead.size() && split < stream.size()) {
            ASSERT_EQ(n, kRxNoReply) << split;   // the header itself was cut
            continue;
        }
        ASSERT_EQ(n, static_cast<int>(want.size())) << split;
        ASSERT_EQ(std::string(reinterpret_cast<char*>(buf), want.size()), want) << split;
        ASSERT_EQ(buf[want.size()], 0);
        EXPECT_EQ(ReadReplyFrame(buf, sizeof buf, 1, AlwaysAbort), kRxNoReply) << split;
    }
}

TEST_F(RxRingTest, DatagramsFromAnotherThreadAreReadWholeInOrder)
{
    std::thread producer([&] {
        for (int i = 0; i < 200; ++i) {
            const std::string d = Reply(2, "HOST_NAME = h" + std::to_string(i) + "\r\n");
            const auto deadline = Clock::now() + std::chrono::seconds(20);
            while (!RxRingWrite(reinterpret_cast<const uint8_t*>(d.data()), static_cast<unsigned>(d.size())) &&
                   Clock::now() < deadline)
                std::this_thread::yield();
            if (i % 16 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    int i = 0;
    for (int call = 0; call < 400 && i < 200; ++call) {
        uint8_t buf[640];
        const int n = ReadReplyFrame(buf, sizeof buf, 1000);
        if (n <= 0)
            continue;
        const std::string want = Body(2, "HOST_NAME = h" + std::to_string(i) + "\r\n");
        ASSERT_EQ(std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(n)), want);
        ++i;
    }
    producer.join();
    EXPECT_EQ(i, 200);
}

TEST_F(RxRingTest, HeaderSynchronisation)
{
    struct Case {
        const char* name;
        std::string prefix;
        bool syncs;
    } cases[] = {
        // A datagram holds its whole header: a magic without its first
        // byte is no header, whatever came before it.
        {"magic without its first zero", std::string("\x0D\xAC\x00\x0D\xAC\xFF", 6), false},
        {"magic with a wrong first byte", std::string("\x01\x0D\xAC\x00\x0D\xAC\xFF", 7), false},
        {"magic with a wrong last byte", std::string("\x00\x0D\xAC\x00\x0D\xAD\xFF", 7), false},
        {"partial magic before magic", std::string("\x00\x0D\xAC", 3) + kMagic + "\xFF", true},
        {"direction 0x00", kMagic + std::string("\x00", 1), false},
        {"direction 0xFE", kMagic + "\xFE", false},
    };
    for (const Case& c : cases) {
        RxRingReset();
        Push(c.prefix + std::string("\x01\x00\x00\x00", 4) + kEnd);
        uint8_t buf[64];
        const int n = ReadReplyFrame(buf, sizeof buf, 20);
        if (c.syncs)
            EXPECT_EQ(n, 14) << c.name;
        else
            EXPECT_EQ(n, kRxNoReply) << c.name;
    }
}

// A reply cut before its terminator is dropped with its datagram, whatever
// the next datagram holds and whoever sent it: its tail never completes
// the cut reply, and a reply in a datagram of its own is read whole.
TEST_F(RxRingTest, ACutReplyIsNeverCompletedByTheNextDatagram)
{
    const std::string cut = kMagic + "\xFF\x01" + std::string(3, '\0') + "DEV = a\r\n";
    struct Case {
        const char* name;
        std::vector<std::string> datagrams;
        int cuts;
        std::vector<std::string> bodies;
    } cases[] = {
        {"another sender's headerless tail",
         {cut, "IP = 10.66.66.66    \r\n" + kEnd}, 1, {}},
        {"its own tail", {cut, "SERIAL_NUM = SN1             \r\n" + kEnd}, 1, {}},
        {"the terminator split across two", {cut + "*END", "* = \r\n"}, 1, {}},
        {"cut in its command bytes, then a whole reply",
         {kMagic + "\xFF\x01\x00", Reply(1, kText)}, 1, {Body(1, kText)}},
        {"cut, then a tail holding a whole reply",
         {cut, "IP = x\r\n" + kEnd + Reply(1, kText)}, 1, {Body(1, kText)}},
        {"two replies in one datagram", {Reply(1, kText) + Reply(2, kText)}, 0,
         {Body(1, kText), Body(2, kText)}},
    };
    for (const Case& c : cases) {
        RxRingReset();
        for (const std::string& d : c.datagrams)
            Push(d);
        int cuts = 0;
        std::vector<std::string> bodies;
        for (int call = 0; call < 20; ++call) {
            uint8_t buf[640];
            const int n = ReadReplyFrame(buf, sizeof buf, 1, AlwaysAbort);
            if (n == kRxNoReply)
                break;
            if (n == kRxCutReply)
                ++cuts;
            else if (n > 0)
                bodies.emplace_back(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
        }
        EXPECT_EQ(cuts, c.cuts) << c.name;
        EXPECT_EQ(bodies, c.bodies) << c.name;
        EXPECT_TRUE(RxRingDrained()) << c.name;
    }
}

TEST_F(RxRingTest, LengthCapAndOverflow)
{
    const std::string text(1010, 'x');   // body of 1024 bytes exactly: 4 + 1010 + 10
    Push(Reply(1, text));
    std::vector<uint8_t> buf(5000, 0xEE);
    EXPECT_EQ(ReadReplyFrame(buf.data(), 5000, 100), 1024);   // 5000 is used as 1024
    EXPECT_EQ(buf[1024], 0xEE);

    // One byte more: the terminator is not at the end of the 1024 bytes.
    RxRingReset();
    Push(Reply(1, text + "y"));
    EXPECT_EQ(ReadReplyFrame(buf.data(), 5000, 100), kRxOverflow);

    // An overflow at exactly `length` bytes; the next call goes on in the
    // same datagram and finds the reply after it.
    RxRingReset();
    Push(Reply(1, std::string(30, 'z')) + Reply(1, "DEV = " + std::string(16, 'q') + "\r\n"));
    uint8_t small[20];
    EXPECT_EQ(ReadReplyFrame(small, sizeof small, 100), kRxOverflow);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(small) + 4, 16), std::string(16, 'z'));
    uint8_t more[640];
    EXPECT_EQ(ReadReplyFrame(more, sizeof more, 100), 4 + 24 + 10);
    EXPECT_EQ(ReadReplyFrame(nullptr, 640, 1), kRxNoBuffer);
}

TEST_F(RxRingTest, EveryTruncatedPrefixGivesNoBody)
{
    const std::string frame = Reply(1, kText);
    for (size_t cut = 0; cut < frame.size(); ++cut) {
        RxRingReset();
        Push(frame.substr(0, cut));
        uint8_t buf[640];
        // Before the header is whole: no reply; after it: a cut one, told
        // at once, without waiting for bytes that can never come.
        EXPECT_EQ(ReadReplyFrame(buf, sizeof buf, 0, AlwaysAbort), cut < 7 ? kRxNoReply : kRxCutReply)
            << cut;
        EXPECT_TRUE(RxRingDrained()) << cut;
    }
}

std::atomic<bool> g_abort{false};
bool AbortNow() { return g_abort; }

TEST_F(RxRingTest, AbortCheckEndsTheWaitWithinMilliseconds)
{
    // Without retries the reader would wait forever; the abort check ends it.
    g_abort = false;
    std::thread trigger([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        g_abort = true;
    });
    uint8_t buf[640];
    const auto t0 = Clock::now();
    EXPECT_EQ(ReadReplyFrame(buf, sizeof buf, 0, AbortNow), kRxNoReply);
    trigger.join();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    EXPECT_LT(ms, 500);
    g_abort = false;
}

TEST_F(RxRingTest, HugeRetryCountsSleepInsteadOfSpinning)
{
    // Millions of retries are seconds beyond what one wait can take; the
    // wait must still sleep until the datagram comes.
    for (const unsigned retries : {3'000'000u, 4'294'967'295u}) {
        RxRingReset();
        const uint64_t wakesBefore = RxRingWakeCount();
        std::thread late([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            Push(Reply(1, "DEV = late part\r\n"));
        });
        uint8_t buf[640];
        const std::string want = Body(1, "DEV = late part\r\n");
        EXPECT_EQ(ReadReplyFrame(buf, sizeof buf, retries), static_cast<int>(want.size())) << retries;
        late.join();
        EXPECT_LT(RxRingWakeCount() - wakesBefore, 20u) << retries;
    }
}

// The reader as a plain loop over a list of datagrams: the behaviour the
// ring-based reader must reproduce exactly. In each datagram, from where
// the last call stopped: the next header (magic + 0xFF), then the body up
// to the first terminator within min(length, rest of the datagram) bytes.
struct ReferenceReader {
    const std::vector<std::string>& datagrams;
    size_t index = 0;
    size_t pos = 0;

    int Read(uint8_t* buf, unsigned length)
    {
        if (length > kMaxReplyBody)
            length = kMaxReplyBody;
        for (; index < datagrams.size(); ++index, pos = 0) {
            const std::string& d = datagrams[index];
            size_t body = 0;
            for (size_t k = pos + 6; k < d.size() && body == 0; ++k)
                if (static_cast<uint8_t>(d[k]) == 0xFF && d.compare(k - 6, 6, kMagic) == 0)
                    body = k + 1;
            if (body == 0)
                continue;
            const size_t rest = d.size() - body;
            const size_t span = std::min<size_t>(rest, length);
            const size_t at = d.substr(body, span).find(kEnd);
            std::memset(buf, 0, length);
            if (at != std::string::npos || rest > length) {
                const size_t taken = at != std::string::npos ? at + kEnd.size() : span;
                std::memcpy(buf, d.data() + body, taken);
                pos = body + taken;
                if (pos >= d.size()) {
                    ++index;
                    pos = 0;
                }
                return at != std::string::npos ? static_cast<int>(taken) : kRxOverflow;
            }
            ++index;
            pos = 0;
            return kRxCutReply;
        }
        return kRxNoReply;
    }
};

// Seeded random datagrams of good replies, requests, junk, cut frames,
// overflows and several frames together, placed anywhere in the ring (so
// datagrams wrap at its end).
std::vector<std::string> RandomDatagrams(std::mt19937& rng)
{
    auto junk = [&](size_t n, bool zeros) {
        std::string j;
        for (size_t i = 0; i < n; ++i) {
            char c = static_cast<char>(rng());
            if (!zeros && c == 0)
                c = 'j';
            j += c;
        }
        return j;
    };
    std::vector<std::string> out;
    const int count = 1 + static_cast<int>(rng() % 30);
    for (int i = 0; i < count; ++i) {
        const std::string text = "DEV = " + junk(rng() % 40, false) + "\r\n" +
                                 (rng() % 3 == 0 ? std::string("*EN") : std::string());
        std::string frame = Reply(static_cast<uint8_t>(1 + rng() % 3), text);
        switch (rng() % 10) {
        case 0: out.push_back(frame); break;
        case 1: out.push_back(frame.substr(0, rng() % frame.size())); break;           // cut
        case 2: out.push_back(Reply(1, std::string(600 + rng() % 500, 'o'))); break;   // overflow
        case 3: out.push_back(kFindRequest); break;
        case 4: out.push_back(junk(rng() % 64, true)); break;
        case 5: out.push_back(kMagic.substr(0, rng() % 6) + frame); break;             // partial magic
        case 6: out.push_back(frame.substr(1)); break;                                 // no header
        case 7: out.push_back(kEnd.substr(0, rng() % 10) + kEnd); break;
        case 8: out.push_back(frame.substr(0, 7 + rng() % 4)); break;                  // cut in its command
        default: out.push_back(frame + junk(rng() % 8, true) + frame); break;
        }
    }
    return out;
}

TEST_F(RxRingTest, RingReaderMatchesThePlainReaderOnRandomDatagrams)
{
    std::mt19937 rng(8081);
    const unsigned lengths[] = {640, 640, 640, 64, 1024, 5000, 13, 3};
    int frames = 0;
    int cuts = 0;
    for (int iter = 0; iter < 2000; ++iter) {
        const std::vector<std::string> datagrams = RandomDatagrams(rng);
        const uint32_t start = (rng() % kRxRingSize) & ~15u;
        RxRingReset();
        RxRing.readIndex = start;
        RxRing.writeIndex = start;
        for (const std::string& d : datagrams)
            Push(d);
        ReferenceReader reference{datagrams};
        for (int call = 0; call < 2000; ++call) {
            const unsigned length = lengths[rng() % 8];
            std::vector<uint8_t> got(kMaxReplyBody + 8, 0xEE), want(kMaxReplyBody + 8, 0xEE);
            const int n = ReadReplyFrame(got.data(), length, 1, AlwaysAbort);
            const int m = reference.Read(want.data(), length);
            ASSERT_EQ(n, m) << "iteration " << iter << " call " << call;
            ASSERT_EQ(got, want) << "iteration " << iter << " call " << call << " length " << length;
            frames += n > 0;
            cuts += n == kRxCutReply;
            if (n == kRxNoReply)
                break;
        }
        ASSERT_TRUE(RxRingDrained()) << "iteration " << iter;
    }
    EXPECT_GT(frames, 1000);   // the datagrams do hold readable replies
    EXPECT_GT(cuts, 1000);     // and cut ones
}

TEST_F(RxRingTest, ACutFrameIsDroppedAndTheNextDatagramReadWhole)
{
    // A datagram cut anywhere after the magic, inside its command bytes
    // included, before each genuine reply: every genuine reply is read
    // whole, also when its command bytes hold no zero.
    const std::string cutFrom = Reply(1, "DEV = cut short\r\n");
    for (const size_t cutAt : {7, 8, 9, 10, 11, 12, 20}) {
        for (const bool zeroFree : {false, true}) {
            RxRingReset();
            std::vector<std::string> bodies;
            for (int i = 0; i < 3; ++i) {
                const std::string text = kText + "HOST_NAME = h" + std::to_string(i) + "\r\n";
                Push(cutFrom.substr(0, cutAt));
                const std::string genuine =
                    zeroFree ? kMagic + "\xFF\x01\x02\x03\x04" + text + kEnd : Reply(1, text);
                Push(genuine);
                bodies.push_back(genuine.substr(7));
            }
            for (const std::string& want : bodies) {
                uint8_t buf[640];
                ASSERT_EQ(ReadReplyFrame(buf, sizeof buf, 1, AlwaysAbort), kRxCutReply);
                ASSERT_EQ(ReadReplyFrame(buf, sizeof buf, 1, AlwaysAbort),
                          static_cast<int>(want.size()))
                    << "cut at " << cutAt << (zeroFree ? ", zero-free command" : "");
                EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), want.size()), want);
            }
        }
    }
}

TEST_F(RxRingTest, ConcurrentProducerAndConsumerKeepEveryDatagramWholeAndInOrder)
{
    constexpr uint32_t kDatagrams = 20000;
    auto datagram = [](uint32_t i) {
        std::string d(1 + (i * 2654435761u) % 1500, '\0');
        for (size_t k = 0; k < d.size(); ++k)
            d[k] = static_cast<char>(i * 31 + k);
        return d;
    };
    std::atomic<bool> failed{false};
    std::thread producer([&] {
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        for (uint32_t i = 0; i < kDatagrams; ++i) {
            const std::string d = datagram(i);
            RxOrigin o;
            o.port = static_cast<uint16_t>(i);
            while (!RxRingWrite(reinterpret_cast<const uint8_t*>(d.data()), static_cast<unsigned>(d.size()), &o)) {
                if (Clock::now() > deadline || failed) {
                    failed = true;
                    return;
                }
                std::this_thread::yield();
            }
        }
    });
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    uint8_t buf[kRxMaxDatagram];
    for (uint32_t i = 0; i < kDatagrams && !failed;) {
        RxOrigin o;
        const int n = RxRingTakeDatagram(buf, sizeof buf, &o);
        if (n < 0) {
            if (Clock::now() > deadline)
                failed = true;
            std::this_thread::yield();
            continue;
        }
        const std::string want = datagram(i);
        if (std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(n)) != want ||
            o.port != static_cast<uint16_t>(i)) {
            failed = true;
            ADD_FAILURE() << "datagram " << i << " not whole or out of order";
        }
        ++i;
    }
    producer.join();
    EXPECT_FALSE(failed.load());
    EXPECT_TRUE(RxRingDrained());
}

}  // namespace
