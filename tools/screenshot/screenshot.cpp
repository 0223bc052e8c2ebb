// Renders the main window after a Seek against simulated devices on loopback
// and saves it as a PNG. Run headless: QT_QPA_PLATFORM=offscreen.
//   pathlume-screenshot OUT.png [DEVICES] [--click ROW [--form FORM.png]]
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "devicelist.h"
#include "devsim.h"
#include "protocol.h"
#include "mainwindow.h"
#include "resource.h"
#include "uiseam.h"

namespace {

bool WaitIdle(int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    QTest::qWait(150);
    while (GetBusyFlg() != 0 && t.elapsed() < timeoutMs)
        QTest::qWait(50);
    return GetBusyFlg() == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: pathlume-screenshot OUT.png [DEVICES] [--click ROW]\n");
        return 2;
    }
    const int devices = argc > 2 ? std::atoi(argv[2]) : 3;
    const int clickRow = (argc > 4 && QString::fromLatin1(argv[3]) == QLatin1String("--click"))
                             ? std::atoi(argv[4])
                             : -1;

    devsim::Options opt;
    opt.listenAddress = "127.0.0.1";
    opt.listenPort = 0;
    opt.replyToSender = true;
    opt.jitterMs = 300;   // answers in any order; the list sorts them
    std::vector<devsim::Device> devs = devsim::GenerateDevices(devices, 2026);
    for (devsim::Device& d : devs) {   // full-length serial numbers, as many devices carry
        std::string& serial = d.values[KEY_SERIAL_NUM];
        serial = "SN2026" + std::string(16 - 6 - std::min<size_t>(serial.size() - 2, 10), '0') +
                 serial.substr(2, 10);
    }
    devsim::Simulator sim(opt, std::move(devs));
    if (sim.Open() != 0) {
        std::fprintf(stderr, "simulator: %s\n", sim.error().c_str());
        return 1;
    }
    UdpEndpoints ep;
    ep.sendAddress = "127.0.0.1";
    ep.sendPort = sim.BoundPort();
    ep.recvAddress = "127.0.0.1";
    ep.recvPort = 0;

    CKestrelDlg dlg(nullptr, ep);
    dlg.EnsureInitialized();
    sim.SetReplyPort(GetRecvPort());
    sim.Start();
    dlg.show();
    GetDlgItem<QLineEdit>(&dlg, IDC_EDT_TIMEOUT)->setText(QStringLiteral("1"));
    QTest::mouseClick(GetDlgItem<QPushButton>(&dlg, IDC_BTN_SEEK), Qt::LeftButton);
    if (!WaitIdle(8000))
        return 1;
    if (clickRow >= 0) {
        auto* list = GetDlgItem<CDeviceListCtrl>(&dlg, IDC_LST_DEVICE);
        const QRect r = list->visualItemRect(list->topLevelItem(clickRow));
        QTest::mouseMove(list->viewport(), r.center());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
        if (!WaitIdle(8000))
            return 1;
    }
    QTest::qWait(200);
    bool ok = dlg.grab().save(QString::fromLocal8Bit(argv[1]));
    if (clickRow >= 0 && argc > 6 && QString::fromLatin1(argv[5]) == QLatin1String("--form")) {
        // Open the Edit Config form on the fetched device, picture it, cancel.
        const QString formOut = QString::fromLocal8Bit(argv[6]);
        UiSeam::SetAnswerer([&](const SeamCall& call) {
            if (call.kind == SeamCall::Modal) {
                QTest::qWait(100);
                ok = call.dialog->grab().save(formOut) && ok;
            }
            return IDCANCEL;
        });
        QTest::mouseClick(GetDlgItem<QPushButton>(&dlg, IDC_BTN_EDIT_CONFIG), Qt::LeftButton);
        UiSeam::SetAnswerer(nullptr);
    }
    sim.Stop();
    return ok ? 0 : 1;
}
