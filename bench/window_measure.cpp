// Measurements of the real main window (headless, on loopback endpoints),
// each beside a baseline from the same run:
//   window_measure latency [rounds [replies]]
//                                      reply-to-row latency: Find replies
//                                      sent at random phases against the
//                                      100 ms tick, the time from each
//                                      datagram to its row, with the worker
//                                      waking the monitor and with the tick
//                                      alone; p50 / p99, median of rounds
//   window_measure stop [runs]         Stop to "Idle", both ways; median
//   window_measure burst [runs [devices]]
//                                      a thousand devices answering within
//                                      1 s: rows listed, the longest stall
//                                      of the window thread and the CPU of
//                                      the Find, both ways, beside a bare
//                                      QTreeWidget fed the same rows; median
//   window_measure quiet [runs]        a 4 s Find with 3 devices: process
//                                      CPU beside the window idle; median
//   window_measure startup [runs] BARE start-up to first paint and resident
//                                      memory of the program's window beside
//                                      the bare dialog BARE of the same size,
//                                      alternating, median of runs
//   window_measure child START_NS      (one start-up run of the window)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "controls.h"
#include "devicelist.h"
#include "devsim.h"
#include "engine.h"
#include "first_paint.h"
#include "mainwindow.h"
#include "loopback_rig.h"
#include "platform.h"
#include "resource.h"
#include "udp.h"

extern char** environ;

namespace {

constexpr int kRepliesPerFind = 10;

// A UDP socket on 127.0.0.1 with an ephemeral port.
struct LoopbackSocket {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    uint16_t port = 0;
    LoopbackSocket()
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            socklen_t len = sizeof a;
            getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
            port = ntohs(a.sin_port);
        }
    }
    ~LoopbackSocket() { close(fd); }
    void SendTo(uint16_t to, const std::vector<uint8_t>& bytes) const
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(to);
        sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
};

UdpEndpoints LoopbackEndpoints(uint16_t devicePort)
{
    UdpEndpoints ep;
    ep.sendAddress = "127.0.0.1";
    ep.sendPort = devicePort;
    ep.recvAddress = "127.0.0.1";
    ep.recvPort = 0;
    return ep;
}

// The program's window, initialised and shown, sending its requests to a
// loopback socket that never answers itself.
struct LoopbackWindow {
    LoopbackSocket device;
    CKestrelDlg dlg{nullptr, LoopbackEndpoints(device.port)};
    LoopbackWindow()
    {
        dlg.EnsureInitialized();
        dlg.show();
    }
};

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
    return v[i];
}

void Spin(QApplication& app, int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    (void)app;
}

// Whether the worker wakes the monitor (the program as it is) or the
// monitor looks only at its 100 ms tick (as it did before the wake-up).
enum Mode { kWoken = 0, kTickOnly = 1 };
const char* const kModeNames[] = {"woken by the worker", "100 ms tick only"};

double Median(std::vector<double> v)
{
    return v.empty() ? 0.0 : Percentile(std::move(v), 0.5);
}

// Lets the window run until it is idle again (at most limitMs).
void SpinUntilIdle(QApplication& app, int limitMs)
{
    for (int waited = 0; GetBusyFlg() == 1 && waited < limitMs; waited += 5)
        Spin(app, 5);
}

// Reply-to-row latency: Finds alternate between the two modes; in each, ten
// replies come 5 to 105 ms apart, so they land at every phase of the tick.
// For each mode and round, the p50 and p99 of its replies; printed, the
// median of the rounds.
int RunLatency(int argc, char** argv, int rounds, int repliesPerRound)
{
    QApplication app(argc, argv);
    InitResources();
    LoopbackWindow window;
    const LoopbackSocket& device = window.device;
    CKestrelDlg& dlg = window.dlg;
    const uint16_t windowPort = GetRecvPort();

    std::mutex m;
    std::map<std::string, int64_t> sentAt;   // serial -> send time
    std::vector<double> latencyMs;           // of the running Find
    bool pending = false;
    int64_t stamp = 0;
    CDeviceListCtrl* list = GetDlgItem<CDeviceListCtrl>(&dlg, IDC_LST_DEVICE);
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, &dlg, [&] {
        if (pending)
            return;
        pending = true;
        stamp = measure::MonotonicNs();   // the tick that makes the rows
        QTimer::singleShot(0, &dlg, [&] {
            pending = false;
            std::lock_guard<std::mutex> g(m);
            for (int i = 0; i < list->GetItemCount(); ++i) {
                auto it = sentAt.find(list->GetItemText(i, 0).toStdString());
                if (it == sentAt.end() || it->second < 0)
                    continue;
                latencyMs.push_back(static_cast<double>(stamp - it->second) / 1e6);
                it->second = -1;   // measured
            }
        });
    });

    const std::vector<int> keys = {KEY_DEV, KEY_VER, KEY_MAC, KEY_IP_CUR, KEY_HOST_NAME, KEY_SERIAL_NUM};
    devsim::Device dev = devsim::GenerateDevices(1, 3)[0];
    std::mt19937 rng(12345);
    const int findsPerMode = (repliesPerRound + kRepliesPerFind - 1) / kRepliesPerFind;
    std::vector<double> p50[2], p99[2];
    size_t listed[2] = {0, 0}, sent[2] = {0, 0};
    int findNo = 0;
    for (int r = 0; r < rounds; ++r) {
        std::vector<double> round[2];
        for (int f = 0; f < 2 * findsPerMode; ++f, ++findNo) {
            const Mode mode = f % 2 == 0 ? kWoken : kTickOnly;
            dlg.SetWakeOnEvents(mode == kWoken);
            latencyMs.clear();
            dlg.OnSeek();
            struct Planned {
                int gapMs;
                std::string serial;
                std::vector<uint8_t> frame;
            };
            std::vector<Planned> plan;
            for (int i = 0; i < kRepliesPerFind; ++i) {
                char serial[24], mac[24];
                std::snprintf(serial, sizeof serial, "L%04d%02d", findNo, i);
                std::snprintf(mac, sizeof mac, "02C0EE%06X", static_cast<unsigned>(findNo * 16 + i) & 0xFFFFFFu);
                dev.values[KEY_SERIAL_NUM] = serial;
                dev.values[KEY_MAC] = mac;
                plan.push_back({5 + static_cast<int>(rng() % 101), serial,
                                devsim::BuildReply(RequestKind::Find, dev, keys)});
            }
            std::atomic<bool> done{false};
            std::thread sender([&] {
                for (const Planned& p : plan) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(p.gapMs));
                    {
                        std::lock_guard<std::mutex> g(m);
                        sentAt[p.serial] = measure::MonotonicNs();
                    }
                    device.SendTo(windowPort, p.frame);
                }
                done = true;
            });
            while (!done)
                Spin(app, 20);
            sender.join();
            Spin(app, 150);   // the last reply's tick
            dlg.OnStop();
            SpinUntilIdle(app, 5000);
            round[mode].insert(round[mode].end(), latencyMs.begin(), latencyMs.end());
            listed[mode] += latencyMs.size();
            sent[mode] += plan.size();
        }
        for (int mode : {kWoken, kTickOnly}) {
            if (round[mode].empty())
                continue;
            p50[mode].push_back(Percentile(round[mode], 0.50));
            p99[mode].push_back(Percentile(round[mode], 0.99));
        }
    }
    dlg.close();
    std::printf("reply-to-row latency in the window, median of %d rounds of %d replies per mode\n",
                rounds, findsPerMode * kRepliesPerFind);
    for (int mode : {kWoken, kTickOnly})
        std::printf("  %-20s p50 %7.1f ms  p99 %7.1f ms  listed %zu of %zu\n", kModeNames[mode],
                    Median(p50[mode]), Median(p99[mode]), listed[mode], sent[mode]);
    return listed[0] == sent[0] && listed[1] == sent[1] ? 0 : 1;
}

// Stop-to-Idle: a Find that nobody answers is stopped at a random moment;
// the time from Stop to "Idle" in the Busy/Idle box, modes alternating.
int RunStop(int argc, char** argv, int runs)
{
    QApplication app(argc, argv);
    InitResources();
    LoopbackWindow window;
    CKestrelDlg& dlg = window.dlg;
    auto* busy = GetDlgItem<QLineEdit>(&dlg, IDC_EDT_BUSY);
    auto* timeoutBox = GetDlgItem<QLineEdit>(&dlg, IDC_EDT_TIMEOUT);
    int64_t idleAt = 0;
    QObject::connect(busy, &QLineEdit::textChanged, [&](const QString& t) {
        if (t == QLatin1String("Idle"))
            idleAt = measure::MonotonicNs();
    });
    timeoutBox->setText(QStringLiteral("30"));
    std::mt19937 rng(777);
    std::vector<double> ms[2];
    for (int r = 0; r < 2 * runs; ++r) {
        const Mode mode = r % 2 == 0 ? kWoken : kTickOnly;
        dlg.SetWakeOnEvents(mode == kWoken);
        dlg.OnSeek();
        Spin(app, 30 + static_cast<int>(rng() % 201));
        idleAt = 0;
        const int64_t t0 = measure::MonotonicNs();
        dlg.OnStop();
        SpinUntilIdle(app, 5000);
        if (idleAt == 0) {
            std::fprintf(stderr, "run %d did not come back to Idle\n", r);
            return 1;
        }
        ms[mode].push_back(static_cast<double>(idleAt - t0) / 1e6);
    }
    dlg.close();
    std::printf("Stop to Idle, median of %d runs per mode\n", runs);
    for (int mode : {kWoken, kTickOnly})
        std::printf("  %-20s %7.1f ms  (max %.1f ms)\n", kModeNames[mode], Median(ms[mode]),
                    Percentile(ms[mode], 1.0));
    return 0;
}

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The quiet Find through the window: three simulated devices (in this
// process), a 4 s Find in each mode, the process's CPU beside the same
// window idle for 4 s.
int RunQuiet(int argc, char** argv, int runs)
{
    QApplication app(argc, argv);
    InitResources();
    testrig::SimRig rig(devsim::GenerateDevices(3, 5));
    if (!rig.ok())
        return 1;
    CKestrelDlg dlg(nullptr, rig.Endpoints());
    dlg.EnsureInitialized();
    rig.StartReplyingTo(GetRecvPort());
    dlg.show();
    CDeviceListCtrl* list = GetDlgItem<CDeviceListCtrl>(&dlg, IDC_LST_DEVICE);
    GetDlgItem<QLineEdit>(&dlg, IDC_EDT_TIMEOUT)->setText(QStringLiteral("3"));
    Spin(app, 300);
    std::vector<double> idle, above[2];
    for (int r = 0; r < runs; ++r) {
        double c0 = ProcessCpuSeconds();
        Spin(app, 4000);
        idle.push_back((ProcessCpuSeconds() - c0) / 4.0 * 100.0);
        for (int mode : {kWoken, kTickOnly}) {
            dlg.SetWakeOnEvents(mode == kWoken);
            c0 = ProcessCpuSeconds();
            const int64_t t0 = measure::MonotonicNs();
            dlg.OnSeek();
            SpinUntilIdle(app, 10000);
            const double secs = static_cast<double>(measure::MonotonicNs() - t0) / 1e9;
            above[mode].push_back((ProcessCpuSeconds() - c0) / secs * 100.0 - idle.back());
            if (list->GetItemCount() != 3)
                std::fprintf(stderr, "run %d listed %d devices\n", r, list->GetItemCount());
        }
    }
    dlg.close();
    std::printf("Find of 4 s with 3 devices through the window, median of %d\n", runs);
    std::printf("  window idle          %6.3f %% of a core\n", Median(idle));
    for (int mode : {kWoken, kTickOnly})
        std::printf("  %-20s %6.3f %% of a core above idle\n", kModeNames[mode], Median(above[mode]));
    return 0;
}

// The longest time the window thread went without running a 1 ms timer:
// how long a click or a key would have waited.
class StallProbe {
public:
    StallProbe()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const int64_t now = measure::MonotonicNs();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
    }
    void Start()
    {
        longest_ = 0;
        last_ = measure::MonotonicNs();
        timer_.start();
    }
    double StopMs()
    {
        timer_.stop();
        return static_cast<double>(longest_) / 1e6;
    }

private:
    QTimer timer_;
    int64_t last_ = 0;
    int64_t longest_ = 0;
};

// Sends each frame at its own time after the start (even spacing over spanMs).
template <class Send>
std::thread Spread(int count, int spanMs, Send send)
{
    return std::thread([=] {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) {
            std::this_thread::sleep_until(t0 + std::chrono::microseconds(int64_t{spanMs} * 1000 * i / count));
            send(i);
        }
    });
}

// A thousand devices answering within one second: the program's window
// beside a bare QTreeWidget (six columns, sorted by the first) fed the same
// rows at the same pace on the same thread.
int RunBurst(int argc, char** argv, int runs, int devices)
{
    QApplication app(argc, argv);
    InitResources();
    LoopbackWindow window;
    const LoopbackSocket& device = window.device;
    CKestrelDlg& dlg = window.dlg;
    const uint16_t windowPort = GetRecvPort();
    CDeviceListCtrl* list = GetDlgItem<CDeviceListCtrl>(&dlg, IDC_LST_DEVICE);
    auto* timeoutBox = GetDlgItem<QLineEdit>(&dlg, IDC_EDT_TIMEOUT);

    const std::vector<int> keys = {KEY_DEV, KEY_VER, KEY_MAC, KEY_IP_CUR, KEY_HOST_NAME, KEY_SERIAL_NUM};
    const std::vector<devsim::Device> devs = devsim::GenerateDevices(devices, 77);
    std::vector<std::vector<uint8_t>> frames;
    std::vector<QStringList> rows;
    for (const devsim::Device& d : devs) {
        frames.push_back(devsim::BuildReply(RequestKind::Find, d, keys));
        QStringList r;
        for (int k : {KEY_SERIAL_NUM, KEY_MAC, KEY_DEV, KEY_VER, KEY_IP_CUR, KEY_HOST_NAME})
            r << QString::fromStdString(d.values[k]);
        rows.push_back(r);
    }

    QTreeWidget bare;
    bare.setColumnCount(6);
    bare.setHeaderLabels({QStringLiteral("Serial Number"), QStringLiteral("Mac Address"),
                          QStringLiteral("Device Name"), QStringLiteral("ROM Version"),
                          QStringLiteral("IP Address"), QStringLiteral("Host Name")});
    bare.setRootIsDecorated(false);
    bare.setUniformRowHeights(true);
    bare.setSortingEnabled(true);
    bare.sortByColumn(0, Qt::AscendingOrder);
    bare.resize(list->size());
    bare.show();

    StallProbe probe;
    std::vector<double> stall[3], cpu[3], listed[2];   // woken, tick only, bare list
    for (int r = 0; r < runs; ++r) {
        int64_t span = 0;
        // The program in both modes: Seek with a 1 s timeout (the Find ends
        // after 2 s); the window thread's CPU and the worker's.
        for (int mode : {kWoken, kTickOnly}) {
            dlg.SetWakeOnEvents(mode == kWoken);
            timeoutBox->setText(QStringLiteral("1"));
            Spin(app, 200);
            probe.Start();
            const int64_t c0 = static_cast<int64_t>(ThreadCpuNs());
            const int64_t t0 = measure::MonotonicNs();
            dlg.OnSeek();
            std::thread sender = Spread(devices, 1000, [&](int i) { device.SendTo(windowPort, frames[i]); });
            SpinUntilIdle(app, 15000);
            if (mode == kWoken)
                span = measure::MonotonicNs() - t0;
            const int64_t used = static_cast<int64_t>(ThreadCpuNs()) - c0 + static_cast<int64_t>(GetLastWorkerCpuNs());
            stall[mode].push_back(probe.StopMs());
            sender.join();
            cpu[mode].push_back(static_cast<double>(used) / 1e6);
            listed[mode].push_back(list->GetItemCount());
        }

        // The bare list, fed the same rows at the same pace, over the same time.
        bare.clear();
        Spin(app, 200);
        probe.Start();
        const int64_t b0 = static_cast<int64_t>(ThreadCpuNs());
        const int64_t s0 = measure::MonotonicNs();
        std::thread feeder = Spread(devices, 1000, [&](int i) {
            QMetaObject::invokeMethod(&bare, [&bare, row = rows[i]] { bare.addTopLevelItem(new QTreeWidgetItem(row)); },
                                      Qt::QueuedConnection);
        });
        while (measure::MonotonicNs() - s0 < span)
            Spin(app, 5);
        stall[2].push_back(probe.StopMs());
        cpu[2].push_back(static_cast<double>(static_cast<int64_t>(ThreadCpuNs()) - b0) / 1e6);
        feeder.join();
    }
    dlg.close();
    std::printf("%d devices answering within 1 s, median of %d\n", devices, runs);
    std::printf("  rows listed    woken %6.0f  tick only %6.0f  of %d\n", Median(listed[kWoken]),
                Median(listed[kTickOnly]), devices);
    std::printf("  longest stall  woken %7.1f ms  tick only %7.1f ms  bare list %7.1f ms\n",
                Median(stall[kWoken]), Median(stall[kTickOnly]), Median(stall[2]));
    std::printf("  CPU of the Find woken %7.1f ms  tick only %7.1f ms  bare list %7.1f ms  ratio %5.2f\n",
                Median(cpu[kWoken]), Median(cpu[kTickOnly]), Median(cpu[2]),
                Median(cpu[kWoken]) / Median(cpu[2]));
    const bool all = Percentile(listed[kWoken], 0.0) == devices && Percentile(listed[kTickOnly], 0.0) == devices;
    return all ? 0 : 1;
}

int RunChild(int argc, char** argv, int64_t start)
{
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral("1.0.0.1"));
    InitResources();
    LoopbackSocket device;
    CKestrelDlg dlg(nullptr, LoopbackEndpoints(device.port));
    int64_t paint = 0;
    measure::FirstPaint watch([&] {
        paint = measure::MonotonicNs() - start;
        QTimer::singleShot(300, &app, [&] {
            std::printf("paint_ns %lld rss_kib %ld size %d %d\n", static_cast<long long>(paint),
                        measure::ResidentKiB(), dlg.width(), dlg.height());
            dlg.close();
            app.quit();
        });
    });
    dlg.installEventFilter(&watch);
    dlg.EnsureInitialized();
    dlg.show();
    return app.exec();
}

// Runs a program and returns its first output line.
std::string RunAndRead(std::vector<std::string> args)
{
    int pipeFd[2];
    if (pipe(pipeFd) != 0)
        return {};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, pipeFd[1], 1);
    posix_spawn_file_actions_addclose(&fa, pipeFd[0]);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(pipeFd[1]);
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(pipeFd[0], buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    close(pipeFd[0]);
    if (rc == 0)
        waitpid(pid, nullptr, 0);
    return out;
}

int RunStartup(const char* self, int runs, const char* bare)
{
    std::vector<double> paintProg, paintBare, rssProg, rssBare;
    int w = 0, h = 0;
    for (int r = 0; r < runs; ++r) {
        long long p = 0;
        long k = 0;
        std::string out = RunAndRead({self, "child", std::to_string(measure::MonotonicNs())});
        if (std::sscanf(out.c_str(), "paint_ns %lld rss_kib %ld size %d %d", &p, &k, &w, &h) != 4) {
            std::fprintf(stderr, "window run gave: %s\n", out.c_str());
            return 1;
        }
        paintProg.push_back(static_cast<double>(p) / 1e6);
        rssProg.push_back(static_cast<double>(k));
        out = RunAndRead({bare, std::to_string(measure::MonotonicNs()), std::to_string(w), std::to_string(h)});
        if (std::sscanf(out.c_str(), "paint_ns %lld rss_kib %ld", &p, &k) != 2) {
            std::fprintf(stderr, "bare dialog run gave: %s\n", out.c_str());
            return 1;
        }
        paintBare.push_back(static_cast<double>(p) / 1e6);
        rssBare.push_back(static_cast<double>(k));
    }
    const double pp = Percentile(paintProg, 0.5), pb = Percentile(paintBare, 0.5);
    const double rp = Percentile(rssProg, 0.5), rb = Percentile(rssBare, 0.5);
    std::printf("start-up, %dx%d window beside a bare dialog of that size, median of %d\n", w, h, runs);
    std::printf("  first paint   program %7.1f ms  bare %7.1f ms  ratio %5.2f\n", pp, pb, pp / pb);
    std::printf("  resident      program %7.0f KiB bare %7.0f KiB ratio %5.2f\n", rp, rb, rp / rb);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string mode = argc > 1 ? argv[1] : "";
    const int n = argc > 2 && mode != "child" ? std::max(1, std::atoi(argv[2])) : 5;
    if (mode == "latency")
        return RunLatency(argc, argv, n, argc > 3 ? std::max(1, std::atoi(argv[3])) : 100);
    if (mode == "stop")
        return RunStop(argc, argv, n);
    if (mode == "quiet")
        return RunQuiet(argc, argv, n);
    if (mode == "burst")
        return RunBurst(argc, argv, n, argc > 3 ? std::max(1, std::atoi(argv[3])) : 1000);
    if (mode == "child" && argc > 2)
        return RunChild(argc, argv, std::strtoll(argv[2], nullptr, 10));
    if (mode == "startup" && argc > 3)
        return RunStartup("/proc/self/exe", std::max(1, std::atoi(argv[2])), argv[3]);
    std::fprintf(stderr, "usage: window_measure latency [rounds [replies]] | stop [runs] | "
                         "burst [runs [devices]] | quiet [runs] | startup runs BARE_DIALOG\n");
    return 2;
}
