// Input helpers shared by the fuzz targets: every input is copied to a heap
// block of exactly its size, so a read one byte past its end lands in the
// allocator's guard instead of in the fuzzer's own, larger buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace fuzzin {

// A broken invariant is a finding: abort, so the fuzzer keeps the input.
inline void Check(bool ok)
{
    if (!ok)
        std::abort();
}

class FlushCopy {
public:
    FlushCopy(const uint8_t* data, size_t size)
        : size_(size), bytes_(static_cast<uint8_t*>(std::malloc(size ? size : 1)))
    {
        if (!bytes_)
            std::abort();
        if (size)
            std::memcpy(bytes_, data, size);
    }
    explicit FlushCopy(size_t size) : size_(size), bytes_(static_cast<uint8_t*>(std::calloc(size ? size : 1, 1)))
    {
        if (!bytes_)
            std::abort();
    }
    ~FlushCopy() { std::free(bytes_); }
    FlushCopy(const FlushCopy&) = delete;
    FlushCopy& operator=(const FlushCopy&) = delete;

    uint8_t* bytes() const { return bytes_; }
    size_t size() const { return size_; }

private:
    size_t size_;
    uint8_t* bytes_;
};

// A text of exactly size bytes whose last byte is its terminating zero: the
// input's last byte gives way to it. Empty input gives nullptr.
class FlushText {
public:
    FlushText(const uint8_t* data, size_t size) : copy_(data, size)
    {
        if (size)
            copy_.bytes()[size - 1] = 0;
    }
    const char* c_str() const { return copy_.size() ? reinterpret_cast<const char*>(copy_.bytes()) : nullptr; }

private:
    FlushCopy copy_;
};

// Takes bytes off the front of an input.
struct Reader {
    const uint8_t* p;
    size_t left;
    uint8_t Byte()
    {
        if (!left)
            return 0;
        --left;
        return *p++;
    }
    size_t Take(size_t n)
    {
        const size_t k = n < left ? n : left;
        p += k;
        left -= k;
        return k;
    }
};

}  // namespace fuzzin
