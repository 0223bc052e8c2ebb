// pathlume-devsim's misbehaviour: the faults it can be told to show, and
// the replies' delays, losses and copies as they are sent.
#include <algorithm>
#include <chrono>
#include <thread>

#include "devsim.h"
#include "socketio.h"

namespace devsim {

bool ParseFault(const std::string& name, Fault* out)
{
    static const std::pair<const char*, Fault> kNames[] = {
        {"none", Fault::None},           {"no-terminator", Fault::NoTerminator},
        {"truncated", Fault::Truncated}, {"oversize", Fault::Oversize},
        {"wrong-mac", Fault::WrongMac},  {"stray-bytes", Fault::StrayBytes},
        {"forged-config", Fault::ForgedConfig}, {"late-duplicate", Fault::LateDuplicate},
    };
    for (const auto& [n, f] : kNames) {
        if (name == n) {
            *out = f;
            return true;
        }
    }
    return false;
}

const char* FaultName(Fault f)
{
    switch (f) {
    case Fault::None: return "none";
    case Fault::NoTerminator: return "no-terminator";
    case Fault::Truncated: return "truncated";
    case Fault::Oversize: return "oversize";
    case Fault::WrongMac: return "wrong-mac";
    case Fault::StrayBytes: return "stray-bytes";
    case Fault::ForgedConfig: return "forged-config";
    case Fault::LateDuplicate: return "late-duplicate";
    }
    return "none";
}

bool Simulator::FaultActive() const
{
    return opt_.fault != Fault::None &&
           (opt_.faultCount == 0 || handled_.load() <= opt_.faultCount);
}

std::vector<uint8_t> Simulator::Damage(std::vector<uint8_t> frame)
{
    switch (opt_.fault) {
    case Fault::NoTerminator:
        frame.resize(frame.size() - kEndRecordSize);
        break;
    case Fault::Truncated:
        frame.resize(kFrameHeaderSize + (frame.size() - kFrameHeaderSize) / 2);
        break;
    case Fault::Oversize:
        frame.resize(2100, ' ');
        break;
    case Fault::StrayBytes: {
        static const uint8_t kJunk[] = {0x00, 0x0D, 0xAC, 0x00, 0x0D, 'x', 0xFF, 0x00, 0x0D,
                                        0xAC, 0x00, 0x0D, 0xAC, 0xFE, '?'};
        frame.insert(frame.begin(), std::begin(kJunk), std::end(kJunk));
        frame.insert(frame.end(), std::begin(kJunk), std::end(kJunk));
        break;
    }
    case Fault::None:
    case Fault::WrongMac:
    case Fault::ForgedConfig:
    case Fault::LateDuplicate:
        break;
    }
    return frame;
}

void Simulator::SendReplies(std::vector<std::vector<uint8_t>> frames, uint32_t fromAddr,
                            bool lateCopies)
{
    uint32_t to = fromAddr;
    if (!opt_.replyToSender && !ParseIpv4(opt_.replyAddress.c_str(), &to))
        to = 0;

    // Each reply gets its own send time; jitter can change the answer order.
    struct Planned {
        int atMs;
        std::vector<uint8_t> bytes;
    };
    std::vector<Planned> plan;
    const bool damage = FaultActive() && opt_.fault != Fault::WrongMac &&
                        opt_.fault != Fault::ForgedConfig && opt_.fault != Fault::LateDuplicate;
    for (auto& f : frames) {
        if (opt_.lossPercent > 0 && static_cast<int>(rng_() % 100) < opt_.lossPercent)
            continue;
        const int at = opt_.delayMs + (opt_.jitterMs > 0 ? static_cast<int>(rng_() % (opt_.jitterMs + 1)) : 0);
        std::vector<uint8_t> bytes = damage ? Damage(std::move(f)) : std::move(f);
        if (opt_.duplicate)
            plan.push_back({at, bytes});
        if (lateCopies)
            plan.push_back({at + opt_.lateMs, bytes});
        plan.push_back({at, std::move(bytes)});
    }
    std::stable_sort(plan.begin(), plan.end(),
                     [](const Planned& a, const Planned& b) { return a.atMs < b.atMs; });
    const auto start = std::chrono::steady_clock::now();
    for (const Planned& p : plan) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(p.atMs));
        SendDatagram(socket_, p.bytes.data(), p.bytes.size(), to, opt_.replyPort);
    }
}

}  // namespace devsim
