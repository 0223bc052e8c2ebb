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

inline bool FeedReceivePath(const uint8_t* data, size_t size)
{
    InitEngine();
    ClearReplyTable();
    RxRingReset();
    RxRingWrite(data, static_cast<unsigned>(size));
    static uint8_t frame[kRxFrameSize + 1];
    for (int i = 0; i < 64; ++i) {
        std::memset(frame, 0, sizeof frame);
        const int n = ReadReplyFrame(frame, kRxFrameSize, 1, AbortAtOnce);
        if (n <= 0) {
            if (RxRing.readIndex.load() == RxRing.writeIndex.load())
                break;
            continue;
        }
        const char* text = reinterpret_cast<const char*>(frame + 4);
        if (frame[0] & 1)
            OnFindReply(text);
        else
            OnGetCfgReply(text, "02C0EE000001");
    }
    if (GetDevCount() > kMaxDevices || GetDevTable()[kMaxDevices].serial[0] != '\0')
        return false;
    for (const ConfigRecord& r : ReplyTable.rec)
        if (r.width < 0 || r.width > kMaxValueWidth || r.value[kValueSize - 1] != '\0')
            return false;
    return true;
}

}  // namespace testrig
