// Fuzz target for the receive path: the input is a sequence of datagrams
// (2-byte little-endian length, then the bytes) arriving in the ring; the
// frame reader picks bodies out of them after each one and the reply
// handlers parse and store them. Nothing may crash, read out of bounds,
// leave the reader stuck on waiting bytes or break the tables' invariants.
// The reader never waits: its abort check answers at once.
#include <cstdint>
#include <cstdlib>

#include "fuzz_input.h"
#include "receive_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzzin::FlushCopy input(data, size);
    // The frame buffer is exactly as large as the worker's, so a write or a
    // text read past it hits the guard too.
    const fuzzin::FlushCopy frame(kRxFrameSize);
    fuzzin::Check(testrig::FeedDatagrams(input.bytes(), input.size(), frame.bytes()));
    return 0;
}
