// pathlume-devsim's misbehaviour: the faults it can be told to show, and
// the replies' delays, losses and copies as they are sent.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
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
        {"splice", Fault::Splice},       {"splice-own", Fault::SpliceOwn},
        {"split-terminator", Fault::SplitTerminator},
        {"change-after", Fault::ChangeAfter},
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
    case Fault::Splice: return "splice";
    case Fault::SpliceOwn: return "splice-own";
    case Fault::SplitTerminator: return "split-terminator";
    case Fault::ChangeAfter: return "change-after";
    }
    return "none";
}

bool ParseChangeAfter(const std::string& text, Options* out)
{
    static const std::string kPrefix = "change-after=";
    if (text.compare(0, kPrefix.size(), kPrefix) != 0)
        return false;
    const std::string ms = text.substr(kPrefix.size());
    if (ms.empty() || ms.size() > 5 || ms.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int n = std::stoi(ms);
    if (n > 60000)
        return false;
    out->fault = Fault::ChangeAfter;
    out->changeAfterMs = n;
    return true;
}

void Simulator::ApplyLocked(size_t device, const std::vector<std::pair<int, std::string>>& values)
{
    Device& d = devices_[device];
    for (const auto& [key, value] : values)
        d.values[key] = value;
    if (d.values[KEY_DHCP] == "0")
        d.values[KEY_IP_CUR] = d.values[KEY_IP];
}

void Simulator::ApplyDue()
{
    std::lock_guard<std::mutex> g(mutex_);
    const auto now = std::chrono::steady_clock::now();
    // In the order they were made, so a later change wins.
    std::vector<Pending> later;
    for (Pending& p : pending_) {
        if (p.due <= now)
            ApplyLocked(p.device, p.values);
        else
            later.push_back(std::move(p));
    }
    pending_.swap(later);
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
    case Fault::Splice:
    case Fault::SpliceOwn:
    case Fault::SplitTerminator:
    case Fault::ChangeAfter:
        break;
    }
    return frame;
}

namespace {

// Where the line of key begins in a frame's record text, or 0.
size_t LineAt(const std::vector<uint8_t>& frame, const char* key)
{
    const std::string text(frame.begin() + kFrameHeaderSize, frame.end());
    const std::string want = std::string(key) + " = ";
    for (size_t at = 0; at < text.size(); at = text.find("\r\n", at) + 2) {
        if (text.compare(at, want.size(), want) == 0)
            return kFrameHeaderSize + at;
        if (text.find("\r\n", at) == std::string::npos)
            break;
    }
    return 0;
}

}  // namespace

std::vector<std::vector<uint8_t>> Simulator::Splice(const std::vector<uint8_t>& frame,
                                                    std::vector<bool>* second) const
{
    std::vector<std::vector<uint8_t>> out;
    if (opt_.fault == Fault::SplitTerminator) {
        const size_t keep = frame.size() - 5;
        out.emplace_back(frame.begin(), frame.begin() + static_cast<long>(keep));
        out.emplace_back(frame.begin() + static_cast<long>(keep), frame.end());
        second->assign(2, false);
    } else {
        int key = KEY_IP;
        size_t cut = LineAt(frame, KeyTable[key].key);
        if (cut == 0) {
            key = KEY_SERIAL_NUM;
            cut = LineAt(frame, KeyTable[key].key);
        }
        if (cut == 0)
            cut = frame.size() - kEndRecordSize;
        out.emplace_back(frame.begin(), frame.begin() + static_cast<long>(cut));
        if (opt_.fault == Fault::SpliceOwn) {
            out.emplace_back(frame.begin() + static_cast<long>(cut), frame.end());
        } else {
            ConfigRecord rec;
            ClearRecord(&rec);
            rec.key = KeyTable[key].key;
            rec.width = KeyTable[key].width;
            std::snprintf(rec.value, sizeof rec.value, "%s",
                          key == KEY_IP ? kSplicedIp : kSplicedSerial);
            std::vector<uint8_t> tail(kMaxKeyPrefix + kMaxValueWidth + 2 + kEndRecordSize);
            size_t n = static_cast<size_t>(FormatRecordLine(tail.data(), &rec));
            n += static_cast<size_t>(AppendEndRecord(tail.data() + n));
            tail.resize(n);
            out.push_back(std::move(tail));
        }
        second->assign(2, false);
        (*second)[1] = opt_.fault == Fault::Splice;
    }
    out.push_back(frame);   // and the whole reply after them
    second->push_back(false);
    return out;
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
        bool second = false;
    };
    std::vector<Planned> plan;
    const bool splice = FaultActive() && (opt_.fault == Fault::Splice ||
                                          opt_.fault == Fault::SpliceOwn ||
                                          opt_.fault == Fault::SplitTerminator);
    const bool damage = FaultActive() && !splice && opt_.fault != Fault::WrongMac &&
                        opt_.fault != Fault::ForgedConfig && opt_.fault != Fault::LateDuplicate &&
                        opt_.fault != Fault::ChangeAfter;
    for (auto& f : frames) {
        if (opt_.lossPercent > 0 && static_cast<int>(rng_() % 100) < opt_.lossPercent)
            continue;
        const int at = opt_.delayMs + (opt_.jitterMs > 0 ? static_cast<int>(rng_() % (opt_.jitterMs + 1)) : 0);
        if (splice) {
            // Back to back, so that they arrive one after the other; the
            // whole reply a moment later.
            std::vector<bool> second;
            std::vector<std::vector<uint8_t>> parts = Splice(f, &second);
            for (size_t i = 0; i < parts.size(); ++i)
                plan.push_back({at + (i + 1 == parts.size() ? 5 : 0), std::move(parts[i]), second[i]});
            continue;
        }
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
        SendDatagram(p.second && second_ != kNoSocket ? second_ : socket_, p.bytes.data(),
                     p.bytes.size(), to, opt_.replyPort);
    }
}

}  // namespace devsim
