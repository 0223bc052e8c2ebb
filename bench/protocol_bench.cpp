// Benchmarks of the receive path and the codec: the work done per reply.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "codec.h"
#include "rxring.h"

namespace {

std::string FullConfigText()
{
    std::string text;
    for (const KeyInfo& k : KeyTable) {
        std::string v(static_cast<size_t>(k.width), ' ');
        v[0] = 'v';
        text += std::string(k.key) + " = " + v + "\r\n";
    }
    return text + "*END* = \r\n";
}

void BM_ParseConfigText(benchmark::State& state)
{
    const std::string text = FullConfigText();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ParseConfigText(text.c_str(), text.size(), "v", nullptr));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseConfigText);

void BM_BuildSetConfigFrame(benchmark::State& state)
{
    const std::string text = FullConfigText();
    ParseConfigText(text.c_str(), text.size(), nullptr, nullptr);
    uint8_t buf[kTxBufferSize];
    for (auto _ : state) {
        benchmark::DoNotOptimize(BuildSetConfigFrame(buf, &ReplyTable, sizeof buf));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BuildSetConfigFrame);

// One reply frame through the ring: write, then find and collect it.
void BM_RingAndFrameReader(benchmark::State& state)
{
    const std::string frame =
        std::string("\x00\x0D\xAC\x00\x0D\xAC\xFF\x02\x00\x00\x00", 11) + FullConfigText();
    uint8_t body[kMaxReplyBody];
    RxRingReset();
    for (auto _ : state) {
        RxRingWrite(reinterpret_cast<const uint8_t*>(frame.data()), static_cast<unsigned>(frame.size()));
        benchmark::DoNotOptimize(ReadReplyFrame(body, 640, 1));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(BM_RingAndFrameReader);

}  // namespace

BENCHMARK_MAIN();
