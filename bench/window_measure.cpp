// Measurements of the real main window (headless, on loopback endpoints):
//   window_measure latency [replies]   reply-to-row latency: Find replies
//                                      sent at random phases against the
//                                      100 ms monitor, the time from each
//                                      datagram to its row in the list;
//                                      p50 / p99 / max
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
#include <QTimer>
#include <algorithm>
#include <atomic>
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
#include "kestreldlg.h"
#include "resource.h"
#include "udp.h"

extern char** environ;

namespace {

constexpr int kRepliesPerFind = 10;   // the device table holds ten

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

int RunLatency(int argc, char** argv, int replies)
{
    QApplication app(argc, argv);
    InitResources();
    LoopbackSocket device;   // where the window's requests go; never answers itself
    CKestrelDlg dlg(nullptr, LoopbackEndpoints(device.port));
    dlg.EnsureInitialized();
    dlg.show();
    const uint16_t windowPort = GetRecvPort();

    std::mutex m;
    std::map<std::string, int64_t> sentAt;   // serial -> send time
    std::vector<double> latencyMs;
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
    const int finds = (replies + kRepliesPerFind - 1) / kRepliesPerFind;
    int sentTotal = 0;
    for (int f = 0; f < finds; ++f) {
        dlg.OnSeek();
        struct Planned {
            int gapMs;
            std::string serial;
            std::vector<uint8_t> frame;
        };
        std::vector<Planned> plan;
        for (int i = 0; i < kRepliesPerFind && sentTotal < replies; ++i, ++sentTotal) {
            char serial[24], mac[24];
            std::snprintf(serial, sizeof serial, "L%03d%02d", f, i);
            std::snprintf(mac, sizeof mac, "02C0EE%06X", static_cast<unsigned>(f * 16 + i) & 0xFFFFFFu);
            dev.values[KEY_SERIAL_NUM] = serial;
            dev.values[KEY_MAC] = mac;
            // Gaps of 20..180 ms put the replies at every phase of the tick.
            plan.push_back({20 + static_cast<int>(rng() % 161), serial,
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
        Spin(app, 250);   // the last reply's tick
        dlg.OnStop();
        for (int i = 0; i < 100 && GetBusyFlg() == 1; ++i)
            Spin(app, 50);
    }
    dlg.close();
    std::printf("reply-to-row latency in the window: %zu of %d replies listed, %d Finds\n",
                latencyMs.size(), replies, finds);
    if (latencyMs.empty())
        return 1;
    std::printf("  p50 %7.1f ms\n  p99 %7.1f ms\n  max %7.1f ms\n", Percentile(latencyMs, 0.50),
                Percentile(latencyMs, 0.99), Percentile(latencyMs, 1.0));
    return latencyMs.size() == static_cast<size_t>(replies) ? 0 : 1;
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
    if (mode == "latency")
        return RunLatency(argc, argv, argc > 2 ? std::max(1, std::atoi(argv[2])) : 200);
    if (mode == "child" && argc > 2)
        return RunChild(argc, argv, std::strtoll(argv[2], nullptr, 10));
    if (mode == "startup" && argc > 3)
        return RunStartup("/proc/self/exe", std::max(1, std::atoi(argv[2])), argv[3]);
    std::fprintf(stderr, "usage: window_measure latency [replies] | startup runs BARE_DIALOG\n");
    return 2;
}
