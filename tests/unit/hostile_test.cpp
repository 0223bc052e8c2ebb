// Hostile input through the whole receive path: valid replies mutated at
// random (fixed seed, bounded count) must never crash, overrun or break the
// tables' invariants. Run under ASan+UBSan by scripts/sanitize.sh asan.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "receive_path.h"
#include "record_lines.h"

namespace {

using testrig::Line;

std::vector<std::string> Seeds()
{
    const std::string magic("\x00\x0D\xAC\x00\x0D\xAC", 6);
    std::string all;
    for (int k = 0; k < kKeyCount; ++k)
        all += Line(k, std::string(static_cast<size_t>(KeyTable[k].width), 'a' + k % 26));
    return {
        magic + "\xFF\x01" + std::string(3, '\0') + Line(KEY_DEV, "NP") +
            Line(KEY_MAC, "02C0EE000001") + Line(KEY_SERIAL_NUM, "S1") + "*END* = \r\n",
        magic + "\xFF\x02" + std::string(3, '\0') + Line(KEY_MAC, "02C0EE000001") + all +
            "*END* = \r\n",
        magic + std::string("\x00\x01\x00\x00\x00", 5) + "*END* = \r\n",
    };
}

TEST(HostileInput, MutatedRepliesNeverBreakTheReceivePath)
{
    const std::vector<std::string> seeds = Seeds();
    std::mt19937 rng(20261207);
    for (int iter = 0; iter < 1500; ++iter) {
        std::string d = seeds[rng() % seeds.size()];
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !d.empty(); ++e) {
            const size_t at = rng() % d.size();
            switch (rng() % 6) {
            case 0: d[at] = static_cast<char>(rng()); break;                       // flip a byte
            case 1: d.insert(at, 1, static_cast<char>(rng())); break;               // insert one
            case 2: d.erase(at, 1 + rng() % 8); break;                              // delete some
            case 3: d.resize(at); break;                                            // truncate
            case 4: d.insert(at, d.substr(at, 1 + rng() % 40)); break;              // repeat a run
            case 5: d += seeds[rng() % seeds.size()]; break;                        // another frame
            }
        }
        ASSERT_TRUE(testrig::FeedReceivePath(reinterpret_cast<const uint8_t*>(d.data()), d.size()))
            << "iteration " << iter;
    }
}

TEST(HostileInput, ManyRepliesKeepAtMostTheCapacityAndCountTheRest)
{
    testrig::ResetReceivePath();
    SetDeviceCapacity(10);
    static uint8_t frame[kRxFrameSize];
    for (int i = 0; i < 30; ++i) {
        const std::string reply = std::string("\x00\x0D\xAC\x00\x0D\xAC\xFF\x01\x00\x00\x00", 11) +
                                  Line(KEY_MAC, "02C0EE000001") +
                                  Line(KEY_SERIAL_NUM, "S" + std::to_string(i)) + "*END* = \r\n";
        RxRingWrite(reinterpret_cast<const uint8_t*>(reply.data()), static_cast<unsigned>(reply.size()));
        ASSERT_TRUE(testrig::DrainFrames(frame) && testrig::TablesHold()) << i;
    }
    EXPECT_EQ(GetDevCount(), 10);
    EXPECT_EQ(GetDevicesLeftOut(), 20u);
}

}  // namespace
