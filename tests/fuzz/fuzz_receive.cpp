// libFuzzer harness for the receive path: arbitrary bytes arrive in the ring
// as a device's datagrams would; the frame reader picks bodies out of them
// and the reply handlers parse and store them. Nothing may crash, read out
// of bounds or break the tables' invariants.
#include <cstdint>
#include <cstdlib>

#include "receive_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!testrig::FeedReceivePath(data, size))
        std::abort();
    return 0;
}
