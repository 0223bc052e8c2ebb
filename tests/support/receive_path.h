// Feeds bytes through the whole receive path as the worker would see them:
// ring, frame reader, and the reply handlers. Returns false when an invariant
// of the tables is broken.
#pragma once

#include <cstdint>
#include <cstring>

#include "codec.h"
#include "engine.h"
#include "rxring.h"

namespace testrig {

inline bool AbortAtOnce() { return true; }

constexpr char kAskedMac[] = "02C0EE000001";
constexpr char kAskedSerial[] = "SN0001";

// Reads every frame the ring holds and hands each to the reply handler its
// command names (GetConfig replies as answers to kAskedMac / kAskedSerial,
// everything else as Find replies). frame holds kRxFrameSize bytes.
// false when the reader goes on returning without a frame while the ring
// is not drained (the worker would spin on it for ever).
inline bool DrainFrames(uint8_t* frame)
{
    // Every call takes at least a header's bytes or a whole datagram.
    for (int calls = 0; calls < 70000; ++calls) {
        if (RxRingDrained())
            return true;
        RxOrigin from;
        const int n = ReadReplyFrame(frame, kRxFrameSize, 1, AbortAtOnce, nullptr, &from);
        if (n <= 4)
            continue;
        const char* text = reinterpret_cast<const char*>(frame + 4);
        const size_t length = static_cast<size_t>(n) - 4;
        if (static_cast<int8_t>(frame[0]) == 2)
            OnGetCfgReply(text, length, kAskedMac, kAskedSerial);
        else
            OnFindReply(text, length, &from);
    }
    return false;
}

inline bool TablesHold()
{
    const int count = GetDevCount();
    if (count < 0 || count > GetDeviceCapacity() || GetDevTable()[count].serial[0] != '\0')
        return false;
    for (int i = 0; i < count; ++i) {
        const DeviceEntry& e = GetDevTable()[i];
        // Every row can be addressed, and no device (serial number and MAC
        // address) is listed twice.
        if (e.serial[0] == '\0' || e.mac[0] == '\0')
            return false;
        for (int j = 0; j < i; ++j)
            if (std::strcmp(GetDevTable()[j].serial, e.serial) == 0 &&
                std::strcmp(GetDevTable()[j].mac, e.mac) == 0)
                return false;
    }
    for (const ConfigRecord& r : ReplyTable.rec)
        if (r.width < 0 || r.width > kMaxValueWidth || r.value[kValueSize - 1] != '\0')
            return false;
    // An accepted configuration is the asked device's.
    if (ReplyTableHoldsConfigOf(CfgSummary.mac, CfgSummary.serial) &&
        (std::strcmp(CfgSummary.mac, kAskedMac) != 0 || std::strcmp(CfgSummary.serial, kAskedSerial) != 0))
        return false;
    return true;
}

inline void ResetReceivePath()
{
    InitEngine();
    ClearReplyTable();
    RxRingReset();
}

// The whole input as one datagram (as many of the longest as it takes).
inline bool FeedReceivePath(const uint8_t* data, size_t size)
{
    ResetReceivePath();
    for (size_t at = 0; at < size; at += kRxMaxDatagram) {
        const size_t n = size - at < kRxMaxDatagram ? size - at : kRxMaxDatagram;
        RxRingWrite(data + at, static_cast<unsigned>(n));
    }
    static uint8_t frame[kRxFrameSize];
    return DrainFrames(frame) && TablesHold();
}

// The input as a sequence of datagrams, each a 2-byte little-endian length
// and that many bytes (the last one cut at the input's end); the reader runs
// after every datagram, as the worker does when it is woken for it.
inline bool FeedDatagrams(const uint8_t* data, size_t size, uint8_t* frame)
{
    ResetReceivePath();
    size_t pos = 0;
    while (pos < size) {
        size_t len = data[pos];
        if (pos + 1 < size)
            len |= static_cast<size_t>(data[pos + 1]) << 8;
        pos += 2;
        if (pos > size)
            break;
        if (len > size - pos)
            len = size - pos;
        if (len > kRxMaxDatagram)
            len = kRxMaxDatagram;
        RxRingWrite(data + pos, static_cast<unsigned>(len));
        pos += len;
        if (!DrainFrames(frame) || !TablesHold())
            return false;
    }
    return true;
}

}  // namespace testrig
