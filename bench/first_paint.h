// Shared by the start-up measurements of the program's window and of the
// bare dialog: the monotonic clock, the first paint of a widget and the
// resident memory of the process.
#pragma once

#include <QEvent>
#include <QObject>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>

namespace measure {

inline int64_t MonotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// VmRSS of this process, in KiB.
inline long ResidentKiB()
{
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kib = std::strtol(line + 6, nullptr, 10);
    std::fclose(f);
    return kib;
}

// Calls done once, after the watched widget's first paint event.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(std::function<void()> done) : done_(std::move(done)) {}
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && done_) {
            auto d = std::move(done_);
            done_ = nullptr;
            const bool r = QObject::eventFilter(o, e);
            d();
            return r;
        }
        return QObject::eventFilter(o, e);
    }

private:
    std::function<void()> done_;
};

}  // namespace measure
