// Fuzz target for the reply parser on arbitrary text. The first byte gives
// the length (mod 14) of the MAC address the caller expects, taken from the
// bytes that follow (and one more, which its terminating zero replaces; no
// bytes: no MAC expected); the rest is the record text, a heap copy of
// exactly its size with no zero after it, handed over with its length.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzin::Reader in{data, size};
    const size_t macLen = in.Byte() % 14;
    const uint8_t* macBytes = in.p;
    const fuzzin::FlushText mac(macBytes, macLen ? in.Take(macLen + 1) : 0);
    const fuzzin::FlushCopy text(in.p, in.left);

    uint8_t match = 0xAA;
    const int r = ParseConfigText(reinterpret_cast<const char*>(text.bytes()), text.size(),
                                  mac.c_str(), mac.c_str() ? &match : nullptr);
    fuzzin::Check(r == 0 || r == -2 || r == -8);
    if (!mac.c_str())
        fuzzin::Check(match == 0xAA);

    // The table: used records first, each within its width and terminated,
    // keyed by a key of the table.
    bool ended = false;
    for (const ConfigRecord& rec : ReplyTable.rec) {
        fuzzin::Check(rec.width >= 0 && rec.width <= kMaxValueWidth);
        fuzzin::Check(rec.value[kValueSize - 1] == '\0');
        fuzzin::Check(std::strlen(rec.value) <= static_cast<size_t>(rec.width));
        if (rec.width == 0) {
            ended = true;
            continue;
        }
        if (r == 0)
            fuzzin::Check(!ended);
        const KeyInfo* k = FindKey(rec.key);
        fuzzin::Check(k != nullptr && k->width == rec.width);
    }
    // A record the parser stored round-trips through the line formatter.
    if (r == 0) {
        uint8_t line[kMaxKeyPrefix + kMaxValueWidth + 3];
        for (const ConfigRecord& rec : ReplyTable.rec) {
            if (rec.width == 0)
                break;
            const int n = FormatRecordLine(line, &rec);
            fuzzin::Check(n > 0 && static_cast<size_t>(n) <= sizeof line);
            ConfigRecord again;
            fuzzin::Check(MatchRecordLine(reinterpret_cast<const char*>(line), static_cast<size_t>(n),
                                          rec.key, rec.width, &again) == n);
            fuzzin::Check(std::strcmp(again.value, rec.value) == 0);
        }
    }
    return 0;
}
