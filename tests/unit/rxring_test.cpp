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

class RxRingTest : public ::testing::Test {
protected:
    void SetUp() override { RxRingReset(); }
    void TearDown() override { RxRingReset(); }
};

TEST_F(RxRingTest, HoldsAtMost65535Bytes)
{
    for (unsigned i = 0; i < 65535; ++i)
        ASSERT_EQ(RxRingPut(static_cast<uint8_t>(i)), 1) << i;
    EXPECT_EQ(RxRingPut(0xEE), 0);
    uint8_t b = 0;
    for (unsigned i = 0; i < 65535; ++i) {
        ASSERT_EQ(RxRingGet(&b), 1);
        ASSERT_EQ(b, static_cast<uint8_t>(i));
    }
    EXPECT_EQ(RxRingGet(&b), 0);

    RxRingReset();
    std::vector<uint8_t> big(70000, 0x11);
    EXPECT_EQ(RxRingWrite(big.data(), static_cast<unsigned>(big.size())), 65535u);
}

TEST_F(RxRingTest, WrapsAroundAtTheLastPosition)
{
    RxRing.readIndex = 65535;
    RxRing.writeIndex = 65535;
    ASSERT_EQ(RxRingPut(0x42), 1);
    EXPECT_EQ(RxRing.writeIndex.load(), 0u);
    EXPECT_EQ(RxRing.storage[65535], 0x42);
    uint8_t b = 0;
    ASSERT_EQ(RxRingGet(&b), 1);
    EXPECT_EQ(b, 0x42);
    EXPECT_EQ(RxRing.readIndex.load(), 0u);
    EXPECT_EQ(RxRingGet(&b), 0);

    // Write index at the last position, read index at 0: full.
    RxRing.readIndex = 0;
    RxRing.writeIndex = 65535;
    EXPECT_EQ(RxRingPut(0x01), 0);
    // And one before the read index elsewhere in the ring.
    RxRing.readIndex = 100;
    RxRing.writeIndex = 99;
    EXPECT_EQ(RxRingPut(0x01), 0);
    EXPECT_EQ(RxRing.writeIndex.load(), 99u);
}

TEST_F(RxRingTest, ReadRxByteWaitsAboutMaxPollsMilliseconds)
{
    uint8_t b = 0;
    const auto t0 = Clock::now();
    EXPECT_EQ(ReadRxByte(&b, 30), 0);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    EXPECT_GE(ms, 30);
    EXPECT_LT(ms, 1000);
    ASSERT_EQ(RxRingPut(7), 1);
    EXPECT_EQ(ReadRxByte(&b, 1), 1);
    EXPECT_EQ(b, 7);
}

// Feeds the stream whole, byte by byte (one ring write per byte), or split at
// a given offset; the ring keeps no boundaries, so the result is the same.
TEST_F(RxRingTest, RequestAndJunkBeforeTheReplyAreSkipped)
{
    const std::string stream = std::string("\x13\x37", 2) + kMagic.substr(0, 4) + kFindRequest +
                               Reply(1, kText);
    const std::string want = Body(1, kText);
    for (size_t split = 0; split <= stream.size(); ++split) {
        RxRingReset();
        Push(stream.substr(0, split));
        Push(stream.substr(split));
        uint8_t buf[640];
        ASSERT_EQ(ReadReplyFrame(buf, sizeof buf, 100), static_cast<int>(want.size())) << split;
        ASSERT_EQ(std::string(reinterpret_cast<char*>(buf), want.size()), want) << split;
        ASSERT_EQ(buf[want.size()], 0);
    }
}

TEST_F(RxRingTest, ByteByByteFromAnotherThreadGivesTheSameBody)
{
    const std::string stream = kFindRequest + Reply(2, kText);
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (size_t i = 0; i < stream.size(); ++i) {
            while (!RxRingPut(static_cast<uint8_t>(stream[i])))
                std::this_thread::yield();
            if (i % 16 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        done = true;
    });
    uint8_t buf[640];
    const int n = ReadReplyFrame(buf, sizeof buf, 1000);
    producer.join();
    const std::string want = Body(2, kText);
    ASSERT_EQ(n, static_cast<int>(want.size()));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), want.size()), want);
}

TEST_F(RxRingTest, HeaderSynchronisation)
{
    struct Case {
        const char* name;
        std::string prefix;
        bool syncs;
    } cases[] = {
        // The window starts as six zeros: 0D AC 00 0D AC FF at the start syncs.
        {"zeros count as magic start", std::string("\x0D\xAC\x00\x0D\xAC\xFF", 6), true},
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
            EXPECT_EQ(n, -6) << c.name;
    }
}

TEST_F(RxRingTest, TerminatorSplitAcrossDatagramsAndRunOnIntoTheNext)
{
    // A reply without its terminator runs on into the next datagram and ends
    // at the first terminator found there.
    Push(kMagic + "\xFF\x01" + std::string(3, '\0') + "DEV = a" + "*END");
    Push("* = \r\n");
    uint8_t buf[640];
    const int n = ReadReplyFrame(buf, sizeof buf, 100);
    EXPECT_EQ(n, 4 + 7 + 10);
    Push(Reply(1, kText));
    EXPECT_EQ(ReadReplyFrame(buf, sizeof buf, 100), static_cast<int>(Body(1, kText).size()));
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
    EXPECT_EQ(ReadReplyFrame(buf.data(), 5000, 100), -7);

    // -7 at exactly `length` bytes; the next call synchronises afresh.
    RxRingReset();
    Push(Reply(1, std::string(30, 'z')) + Reply(1, "DEV = " + std::string(16, 'q') + "\r\n"));
    uint8_t small[20];
    EXPECT_EQ(ReadReplyFrame(small, sizeof small, 100), -7);
    uint8_t more[640];
    EXPECT_EQ(ReadReplyFrame(more, sizeof more, 100), 4 + 24 + 10);
    EXPECT_EQ(ReadReplyFrame(nullptr, 640, 1), -1);
}

bool AlwaysAbort() { return true; }

TEST_F(RxRingTest, EveryTruncatedPrefixGivesNoBody)
{
    const std::string frame = Reply(1, kText);
    for (size_t cut = 0; cut < frame.size(); ++cut) {
        RxRingReset();
        Push(frame.substr(0, cut));
        uint8_t buf[640];
        // Before the header is complete: no sync (-6); after it: no terminator (-5).
        // The abort check ends each wait at its first empty poll.
        EXPECT_EQ(ReadReplyFrame(buf, sizeof buf, 100, AlwaysAbort), cut < 7 ? -6 : -5) << cut;
    }
    // Without an abort check the collect phase gives up after retries x 1000 polls.
    RxRingReset();
    Push(frame.substr(0, 20));
    uint8_t buf[640];
    const auto t0 = Clock::now();
    EXPECT_EQ(ReadReplyFrame(buf, sizeof buf, 1), -5);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    EXPECT_GE(ms, 1000);
    EXPECT_LT(ms, 5000);
}

std::atomic<bool> g_abort{false};
bool AbortNow() { return g_abort; }

TEST_F(RxRingTest, AbortCheckEndsBothPhasesWithinMilliseconds)
{
    // Without retries the reader would wait forever; the abort check ends it.
    g_abort = false;
    std::thread trigger([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        g_abort = true;
    });
    uint8_t buf[640];
    auto t0 = Clock::now();
    EXPECT_EQ(ReadReplyFrame(buf, sizeof buf, 0, AbortNow), -6);
    trigger.join();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    EXPECT_LT(ms, 500);

    // A header without a terminator: the collect phase used to wait 100 x 1000 polls.
    g_abort = false;
    Push(kMagic + "\xFF\x01\x00\x00\x00DEV = cut short");
    std::thread trigger2([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        g_abort = true;
    });
    t0 = Clock::now();
    EXPECT_EQ(ReadReplyFrame(buf, sizeof buf, 100, AbortNow), -5);
    trigger2.join();
    ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    EXPECT_LT(ms, 500);
    g_abort = false;
}

TEST_F(RxRingTest, HugeRetryCountsSleepInsteadOfSpinning)
{
    // Millions of retries are seconds beyond what one wait can take; the
    // wait must still sleep until the rest of the frame comes.
    for (const unsigned retries : {3'000'000u, 4'294'967'295u}) {
        RxRingReset();
        Push(kMagic + "\xFF\x01" + std::string(3, '\0') + "DEV = late");
        const uint64_t wakesBefore = RxRingWakeCount();
        std::thread rest([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            Push(" part\r\n" + kEnd);
        });
        uint8_t buf[640];
        const std::string want = Body(1, "DEV = late part\r\n");
        EXPECT_EQ(ReadReplyFrame(buf, sizeof buf, retries), static_cast<int>(want.size())) << retries;
        rest.join();
        EXPECT_LT(RxRingWakeCount() - wakesBefore, 20u) << retries;
    }
}

// The reader as a plain loop, one byte at a time, over a string: the
// behaviour the run-based reader must reproduce exactly. A frame never spans
// datagrams: a zero in the record text, or a whole magic where the body
// begins, shows that it was cut short, and the search for a header starts
// again at the body's first byte.
int ReferenceRead(const std::string& s, size_t& pos, uint8_t* buf, unsigned length)
{
    if (length > kMaxReplyBody)
        length = kMaxReplyBody;
    uint8_t win[6] = {};
    for (;;) {
        for (;;) {
            if (pos == s.size())
                return -6;
            const uint8_t b = static_cast<uint8_t>(s[pos++]);
            if (b == 0xFF && std::memcmp(win, kMagic.data(), 6) == 0)
                break;
            std::memmove(win, win + 1, 5);
            win[5] = b;
        }
        const size_t bodyStart = pos;
        std::memset(buf, 0, length);
        uint8_t end[10] = {};
        unsigned stored = 0;
        bool cut = false;
        while (!cut) {
            if (pos == s.size())
                return -5;
            const uint8_t b = static_cast<uint8_t>(s[pos++]);
            if (stored >= 4 && b == 0) {
                cut = true;   // record text never holds a zero
                break;
            }
            if (stored < length)
                buf[stored] = b;
            ++stored;
            std::memmove(end, end + 1, 9);
            end[9] = b;
            if (std::memcmp(end, kEnd.data(), 10) == 0)
                return static_cast<int>(stored);
            if (stored == 6 && std::memcmp(buf, kMagic.data(), 6) == 0) {
                cut = true;   // the next datagram's header, inside the command bytes
                break;
            }
            if (stored >= length)
                return -7;
        }
        pos = bodyStart;
        std::memset(buf, 0, length);
        const uint8_t afterHeader[6] = {0x0D, 0xAC, 0x00, 0x0D, 0xAC, 0xFF};
        std::memcpy(win, afterHeader, 6);
    }
}

// Seeded random streams of good replies, requests, junk, cut frames and
// overflows, placed anywhere in the ring (so runs wrap at its end).
std::string RandomStream(std::mt19937& rng)
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
    std::string out;
    const int pieces = 1 + static_cast<int>(rng() % 60);
    for (int i = 0; i < pieces; ++i) {
        const std::string text = "DEV = " + junk(rng() % 40, false) + "\r\n" +
                                 (rng() % 3 == 0 ? std::string("*EN") : std::string());
        std::string frame = Reply(static_cast<uint8_t>(1 + rng() % 3), text);
        switch (rng() % 10) {
        case 0: out += frame; break;
        case 1: out += frame.substr(0, rng() % frame.size()); break;            // cut
        case 2: out += Reply(1, std::string(600 + rng() % 500, 'o')); break;    // overflow
        case 3: out += kFindRequest; break;
        case 4: out += junk(rng() % 64, true); break;
        case 5: out += kMagic.substr(0, rng() % 6) + frame; break;              // partial magic
        case 6: out += frame.substr(1); break;                                  // zero-less start
        case 7: out += kEnd.substr(0, rng() % 10) + kEnd; break;
        case 8: out += frame.substr(0, 7 + rng() % 4); break;                   // cut in its command
        default: out += frame + frame; break;
        }
    }
    return out;
}

bool AbortWhenEmpty() { return true; }

TEST_F(RxRingTest, RunReaderMatchesTheByteReaderOnRandomStreams)
{
    std::mt19937 rng(8081);
    const unsigned lengths[] = {640, 640, 640, 64, 1024, 5000, 13, 3};
    int frames = 0;
    for (int iter = 0; iter < 2000; ++iter) {
        const std::string stream = RandomStream(rng);
        ASSERT_LT(stream.size(), kRxRingSize - 1);
        const uint32_t start = rng() % kRxRingSize;
        RxRing.readIndex = start;
        RxRing.writeIndex = start;
        Push(stream);
        size_t pos = 0;
        for (int call = 0; call < 2000; ++call) {
            const unsigned length = lengths[rng() % 8];
            std::vector<uint8_t> got(kMaxReplyBody + 8, 0xEE), want(kMaxReplyBody + 8, 0xEE);
            const int n = ReadReplyFrame(got.data(), length, 1, AbortWhenEmpty);
            const int m = ReferenceRead(stream, pos, want.data(), length);
            ASSERT_EQ(n, m) << "iteration " << iter << " call " << call;
            ASSERT_EQ(got, want) << "iteration " << iter << " call " << call << " n " << n << " length " << length;
            frames += n > 0;
            const bool empty = RxRing.readIndex.load() == RxRing.writeIndex.load();
            ASSERT_EQ(empty, pos == stream.size()) << "iteration " << iter;
            if (empty)
                break;
        }
    }
    EXPECT_GT(frames, 1000);   // the streams do hold readable replies
}

TEST_F(RxRingTest, ACutFrameIsDroppedAndTheNextDatagramReadWhole)
{
    // A datagram cut anywhere after the magic, inside its command bytes
    // included, before each genuine reply: every genuine reply is read
    // whole. Also when the genuine reply's command bytes hold no zero, so
    // that only the magic where the body begins shows the cut.
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
                ASSERT_EQ(ReadReplyFrame(buf, sizeof buf, 1, AbortWhenEmpty),
                          static_cast<int>(want.size()))
                    << "cut at " << cutAt << (zeroFree ? ", zero-free command" : "");
                EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), want.size()), want);
            }
        }
    }
}

TEST_F(RxRingTest, ConcurrentProducerAndConsumerKeepEveryByteInOrder)
{
    constexpr uint32_t kBytes = 1'500'000;
    std::atomic<bool> failed{false};
    std::thread producer([&] {
        uint32_t x = 12345;
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        for (uint32_t i = 0; i < kBytes; ++i) {
            x = x * 1103515245u + 12345u;
            while (!RxRingPut(static_cast<uint8_t>(x >> 16))) {
                if (Clock::now() > deadline) {
                    failed = true;
                    return;
                }
                std::this_thread::yield();
            }
        }
    });
    uint32_t x = 12345;
    uint64_t sumSent = 0, sumGot = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    for (uint32_t i = 0; i < kBytes && !failed; ++i) {
        x = x * 1103515245u + 12345u;
        uint8_t b = 0;
        while (!RxRingGet(&b)) {
            if (Clock::now() > deadline) {
                failed = true;
                break;
            }
            std::this_thread::yield();
        }
        sumSent = sumSent * 31 + static_cast<uint8_t>(x >> 16);
        sumGot = sumGot * 31 + b;
        if (b != static_cast<uint8_t>(x >> 16)) {
            failed = true;
            ADD_FAILURE() << "byte " << i << " out of order";
        }
    }
    producer.join();
    EXPECT_FALSE(failed.load());
    EXPECT_EQ(sumSent, sumGot);
    uint8_t b = 0;
    EXPECT_EQ(RxRingGet(&b), 0);
}

}  // namespace
