// Measures the receive path against baselines taken in the same run:
//   receive_measure pipeline [reps]   MB/s of ring write + frame reader +
//                                     parser over Find replies mixed with
//                                     junk, beside glibc memmem over the
//                                     same bytes
//   receive_measure once N            the pipeline over the stream N times
//                                     and nothing else (for callgrind: the
//                                     difference between N = 1 and N = 0
//                                     is the pipeline's own instructions)
//   receive_measure find [runs]       worker wake-ups, the worker's own CPU
//                                     (its thread clock) and process CPU
//                                     during a 4 s Find with 3 simulated
//                                     devices on loopback, beside the same
//                                     4 s idle
#include <poll.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "codec.h"
#include "devsim.h"
#include "engine.h"
#include "loopback_rig.h"
#include "rxring.h"
#include "udp.h"

namespace {

using Clock = std::chrono::steady_clock;

bool AbortWhenEmpty() { return true; }

// Datagrams as a busy LAN delivers them: Find replies of 30 devices, and
// between them junk, requests and cut frames (about a tenth of the bytes).
std::vector<std::string> Traffic(size_t bytes)
{
    const std::vector<devsim::Device> devs = devsim::GenerateDevices(30, 99);
    const std::vector<int> keys = {KEY_DEV, KEY_VER, KEY_MAC, KEY_IP_CUR, KEY_HOST_NAME, KEY_SERIAL_NUM};
    std::mt19937 rng(7);
    std::vector<std::string> out;
    size_t total = 0;
    while (total < bytes) {
        std::string d;
        if (rng() % 10 == 0) {
            d.assign(16 + rng() % 48, '\0');
            for (char& c : d)
                c = static_cast<char>(rng());
        } else {
            const std::vector<uint8_t> f = devsim::BuildReply(RequestKind::Find, devs[rng() % 30], keys);
            d.assign(f.begin(), f.end());
        }
        total += d.size();
        out.push_back(std::move(d));
    }
    return out;
}

// One pass: every datagram into the ring, every frame out and parsed, as
// the socket notification and the worker do. Returns the frames parsed.
int Pipeline(const std::vector<std::string>& traffic)
{
    static uint8_t frame[kRxFrameSize];
    int parsed = 0;
    RxRingReset();
    for (const std::string& d : traffic) {
        RxRingWrite(reinterpret_cast<const uint8_t*>(d.data()), static_cast<unsigned>(d.size()));
        for (;;) {
            const int n = ReadReplyFrame(frame, kRxFrameSize, 1, AbortWhenEmpty);
            if (n <= 4) {
                if (RxRingDrained())
                    break;
                continue;
            }
            parsed += ParseConfigText(reinterpret_cast<const char*>(frame + 4),
                                      static_cast<size_t>(n) - 4, nullptr, nullptr) == 0;
        }
    }
    return parsed;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Seconds(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

int RunPipeline(int reps)
{
    const std::vector<std::string> traffic = Traffic(8u << 20);
    std::string flat;
    for (const std::string& d : traffic)
        flat += d;
    const double mb = static_cast<double>(flat.size()) / 1e6;
    std::vector<double> ours, base;
    int parsed = 0;
    size_t found = 0;
    for (int r = 0; r < reps; ++r) {
        auto t0 = Clock::now();
        parsed = Pipeline(traffic);
        ours.push_back(mb / Seconds(t0));
        // Baseline: glibc memmem finding every terminator in the same bytes.
        t0 = Clock::now();
        found = 0;
        const char* p = flat.data();
        const char* end = flat.data() + flat.size();
        while (const void* hit = memmem(p, static_cast<size_t>(end - p), kEndRecord, kEndRecordSize)) {
            ++found;
            p = static_cast<const char*>(hit) + kEndRecordSize;
        }
        base.push_back(mb / Seconds(t0));
    }
    std::printf("receive pipeline: %.1f MB of datagrams, %d replies parsed, median of %d\n", mb, parsed,
                reps);
    std::printf("  pipeline        %8.1f MB/s\n", Median(ours));
    std::printf("  memmem baseline %8.1f MB/s (%zu terminators)\n", Median(base), found);
    std::printf("  ratio           %8.3f\n", Median(ours) / Median(base));
    return 0;
}

int RunOnce(int times)
{
    const std::vector<std::string> traffic = Traffic(1u << 20);
    size_t bytes = 0;
    for (const std::string& d : traffic)
        bytes += d.size();
    int parsed = 0;
    for (int i = 0; i < times; ++i)
        parsed += Pipeline(traffic);
    std::printf("bytes %zu parsed %d\n", bytes, parsed);
    return 0;
}

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The window thread's part: a datagram into the ring when one waits, and
// otherwise asleep in the event loop until the next 100 ms tick.
void Pump(int ms)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < deadline) {
        pollfd p{static_cast<int>(GetRecvSocket()), POLLIN, 0};
        if (poll(&p, 1, 100) > 0)
            OnSocketNotify(kUdpReadEvent);
    }
}

int RunFind(int runs)
{
    testrig::SimRig rig(devsim::GenerateDevices(3, 5));
    ResetCodec();
    InitEngine();
    if (!rig.ok() || OpenUdp(rig.Endpoints()) != 0) {
        std::fprintf(stderr, "simulator or transport did not open\n");
        return 1;
    }
    rig.StartReplyingTo(GetRecvPort());
    std::vector<double> wakes, cpuFind, cpuIdle, cpuWorker;
    for (int r = 0; r < runs; ++r) {
        double c0 = ProcessCpuSeconds();
        Pump(4000);
        cpuIdle.push_back((ProcessCpuSeconds() - c0) / 4.0 * 100.0);

        ClearDevTable();
        SetRecvTmo(3);
        const uint64_t w0 = RxRingWakeCount();
        c0 = ProcessCpuSeconds();
        const auto t0 = Clock::now();
        StartRequest(RequestKind::Find, nullptr);
        while (!TakeRequestProgress().ended && Seconds(t0) < 10)
            Pump(100);
        const double secs = Seconds(t0);
        cpuFind.push_back((ProcessCpuSeconds() - c0) / secs * 100.0);
        cpuWorker.push_back(static_cast<double>(GetLastWorkerCpuNs()) / 1e9 / secs * 100.0);
        wakes.push_back(static_cast<double>(RxRingWakeCount() - w0));
        if (GetDevCount() != 3)
            std::fprintf(stderr, "run %d found %d devices\n", r, GetDevCount());
    }
    CloseUdp();
    std::printf("Find of 4 s with 3 devices on loopback, median of %d\n", runs);
    std::printf("  worker wake-ups      %6.0f (3 datagrams read)\n", Median(wakes));
    std::printf("  worker thread CPU    %6.3f %% of a core (its thread clock)\n", Median(cpuWorker));
    std::printf("  CPU during the Find  %6.3f %% of a core\n", Median(cpuFind));
    std::printf("  CPU idle, same loop  %6.3f %% of a core\n", Median(cpuIdle));
    std::printf("  above idle           %6.3f %% of a core\n", Median(cpuFind) - Median(cpuIdle));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    const int n = argc > 2 ? std::atoi(argv[2]) : -1;
    if (mode == "pipeline")
        return RunPipeline(n > 0 ? n : 5);
    if (mode == "once")
        return RunOnce(n >= 0 ? n : 1);
    if (mode == "find")
        return RunFind(n > 0 ? n : 5);
    std::fprintf(stderr, "usage: receive_measure pipeline [reps] | once N | find [runs]\n");
    return 2;
}
