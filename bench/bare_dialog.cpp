// The baseline of the start-up measurement: a bare Qt dialog of the given
// size, built with the same Qt, shown as the program shows its window.
//   bare_dialog START_NS WIDTH HEIGHT
// prints "paint_ns <first paint - START_NS> rss_kib <resident KiB>", the
// memory read 300 ms after the first paint.
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "first_paint.h"

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    const int64_t start = std::strtoll(argv[1], nullptr, 10);
    QApplication app(argc, argv);
    QDialog dlg;
    dlg.resize(std::atoi(argv[2]), std::atoi(argv[3]));
    int64_t paint = 0;
    measure::FirstPaint watch([&] {
        paint = measure::MonotonicNs() - start;
        QTimer::singleShot(300, &app, [&] {
            std::printf("paint_ns %lld rss_kib %ld\n", static_cast<long long>(paint), measure::ResidentKiB());
            app.quit();
        });
    });
    dlg.installEventFilter(&watch);
    dlg.show();
    return app.exec();
}
