// Fuzz target for matching one record line. The first byte picks the key
// (a key of the table, or a key made of the following bytes), the second is
// the width asked for; the rest is the text, a heap copy of exactly its size
// with no zero after it, handed over with its length.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzin::Reader in{data, size};
    const uint8_t pick = in.Byte();
    const int width = static_cast<int8_t>(in.Byte());
    const char* key = nullptr;
    char ownKey[24] = {};
    if (pick < 0x80) {
        key = KeyTable[pick % kKeyCount].key;
    } else {
        const size_t n = pick % sizeof ownKey;   // 0..23 bytes, may hold zeros
        const uint8_t* from = in.p;
        std::memcpy(ownKey, from, in.Take(n));
        ownKey[sizeof ownKey - 1] = 0;
        key = ownKey;
    }
    const fuzzin::FlushCopy copy(in.p, in.left);
    const char* text = reinterpret_cast<const char*>(copy.bytes());
    const size_t length = copy.size();

    ConfigRecord rec;
    ClearRecord(&rec);
    const int used = MatchRecordLine(text, length, key, width, &rec);
    const size_t keyLen = std::strlen(key);
    const int clamped = width < 0 ? 0 : width > kMaxValueWidth ? kMaxValueWidth : width;
    if (used == 0) {
        // Only a text that does not open with "key = " (or a key too long
        // for any record) is refused, and a refusal leaves the record alone.
        const bool opens = keyLen + 3 <= static_cast<size_t>(kMaxKeyPrefix) &&
                           length >= keyLen + 3 && std::memcmp(text, key, keyLen) == 0 &&
                           std::memcmp(text + keyLen, " = ", 3) == 0;
        fuzzin::Check(!opens);
        fuzzin::Check(rec.width == 0);
        return 0;
    }
    fuzzin::Check(used == clamped + static_cast<int>(keyLen) + 5);
    fuzzin::Check(rec.key == key && rec.width == clamped);
    fuzzin::Check(rec.value[kValueSize - 1] == '\0');
    // The value is the text's next bytes, stopped by the text's end or a
    // zero, with trailing blanks dropped.
    const char* value = text + keyLen + 3;
    const size_t held = length - keyLen - 3;
    const size_t field = held < static_cast<size_t>(clamped) ? held : static_cast<size_t>(clamped);
    const size_t vlen = std::strlen(rec.value);
    fuzzin::Check(vlen <= field);
    fuzzin::Check(std::memcmp(rec.value, value, vlen) == 0);
    for (size_t i = vlen; i < field && value[i] != '\0'; ++i)
        fuzzin::Check(value[i] == ' ');
    // A value field the text fills holds no trailing blank.
    if (strnlen(value, field) == static_cast<size_t>(clamped))
        fuzzin::Check(vlen == 0 || rec.value[vlen - 1] != ' ');
    return 0;
}
