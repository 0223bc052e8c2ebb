// End-to-end client: the real main window on the program's own endpoints
// (requests broadcast to 255.255.255.255:22093, replies on 0.0.0.0:22093).
// Run only inside the private network namespaces that the e2e scripts make.
//   pathlume-e2e-client EXPECTED_DEVICES [EXPECTED_INTERFACES]
//       Seek, read the first device, write its host name and read it back.
//   pathlume-e2e-client --find EXPECTED_DEVICES [--runs N] [--timeout TEXT]
//                       [--shared SERIAL] [--ready FILE]
//       Seek N times; every time every device must be listed, in order, and
//       the log must count them. --shared: that serial number answers from
//       two MAC addresses. --ready: FILE is made once the first Seek runs.
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "devicelist.h"
#include "editconfigform.h"
#include "engine.h"
#include "mainwindow.h"
#include "resource.h"
#include "uiseam.h"

namespace {

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const char* what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    ok ? ++g_passed : ++g_failed;
}

bool WaitIdle(CKestrelDlg& dlg, int ms)
{
    QTest::qWait(150);
    return QTest::qWaitFor(
        [&] { return GetDlgItem<QLineEdit>(&dlg, IDC_EDT_BUSY)->text() == QLatin1String("Idle"); },
        ms);
}

// The --find mode.
int FindRuns(int argc, char** argv)
{
    const int expected = std::atoi(argv[2]);
    int runs = 1;
    QString timeout = QStringLiteral("1");
    QString shared;
    QString ready;
    for (int i = 3; i + 1 < argc; i += 2) {
        const QString opt = QString::fromLocal8Bit(argv[i]);
        const QString value = QString::fromLocal8Bit(argv[i + 1]);
        if (opt == QLatin1String("--runs"))
            runs = value.toInt();
        else if (opt == QLatin1String("--timeout"))
            timeout = value;
        else if (opt == QLatin1String("--shared"))
            shared = value;
        else if (opt == QLatin1String("--ready"))
            ready = value;
    }
    UiSeam::SetAnswerer([](const SeamCall& call) {
        std::printf("message: %s\n", qPrintable(call.text));
        return IDOK;
    });
    CKestrelDlg dlg;   // default endpoints
    dlg.EnsureInitialized();
    dlg.show();
    Check(QTest::qWaitForWindowExposed(&dlg), "window shown");
    GetDlgItem<QLineEdit>(&dlg, IDC_EDT_TIMEOUT)->setText(timeout);
    auto* list = GetDlgItem<CDeviceListCtrl>(&dlg, IDC_LST_DEVICE);
    auto* status = GetDlgItem<CMultiLineEdit>(&dlg, IDC_EDT_STATUS);
    for (int run = 1; run <= runs; ++run) {
        status->SetWindowText(QString());
        QTest::mouseClick(GetDlgItem<QPushButton>(&dlg, IDC_BTN_SEEK), Qt::LeftButton);
        if (run == 1 && !ready.isEmpty()) {
            QFile f(ready);
            Check(f.open(QIODevice::WriteOnly), "ready file made");
        }
        Check(WaitIdle(dlg, 20000), "Seek ends");
        const QString log = status->GetWindowText();
        std::printf("run %d: %d rows; status log:\n%s", run, list->GetItemCount(), qPrintable(log));
        Check(list->GetItemCount() == expected, "every device listed");
        bool sorted = true;
        for (int r = 1; r < list->GetItemCount(); ++r) {
            const int c = QString::localeAwareCompare(list->GetItemText(r - 1, 0), list->GetItemText(r, 0));
            sorted = sorted && (c < 0 || (c == 0 && list->GetItemText(r - 1, 1) < list->GetItemText(r, 1)));
        }
        Check(sorted, "rows sorted by serial number, then MAC address");
        Check(log.contains(QStringLiteral("\r\n%1 devices found.\r\n").arg(expected)), "the log counts them");
        Check(!log.contains(QStringLiteral("Some replies were lost")) &&
                  !log.contains(QStringLiteral("More devices answered")),
              "nothing lost, nothing left out");
        if (!shared.isEmpty()) {
            int rows = 0;
            for (int r = 0; r < list->GetItemCount(); ++r)
                rows += list->GetItemText(r, 0) == shared ? 1 : 0;
            Check(rows == 2, "the shared serial number is two rows");
            Check(log.contains(QStringLiteral("Serial number %1 answered from 2 MAC addresses.\r\n").arg(shared)),
                  "the log names the shared serial number");
        }
    }
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc > 2 && std::strcmp(argv[1], "--find") == 0)
        return FindRuns(argc, argv);
    const int expected = argc > 1 ? std::atoi(argv[1]) : 3;
    const int interfaces = argc > 2 ? std::atoi(argv[2]) : 1;

    UiSeam::SetAnswerer([](const SeamCall& call) {
        if (call.kind == SeamCall::Message) {
            std::printf("message: %s\n", qPrintable(call.text));
            return IDOK;
        }
        auto* form = qobject_cast<CEdtCfgDlg*>(call.dialog);
        if (!form)
            return IDCANCEL;
        QLineEdit* host = GetDlgItem<QLineEdit>(form, IDC_EDT_HOST_NAME);
        host->setText(QStringLiteral("e2e-renamed"));
        QTest::mouseClick(GetDlgItem<QPushButton>(form, IDOK), Qt::LeftButton);
        return IDCANCEL;
    });

    CKestrelDlg dlg;   // default endpoints
    dlg.EnsureInitialized();
    dlg.show();
    Check(QTest::qWaitForWindowExposed(&dlg), "window shown");

    GetDlgItem<QLineEdit>(&dlg, IDC_EDT_TIMEOUT)->setText(QStringLiteral("1"));
    QTest::mouseClick(GetDlgItem<QPushButton>(&dlg, IDC_BTN_SEEK), Qt::LeftButton);
    Check(WaitIdle(dlg, 6000), "Seek ends");
    const QString log = GetDlgItem<CMultiLineEdit>(&dlg, IDC_EDT_STATUS)->GetWindowText();
    const QString sent = QStringLiteral("Start finding.\r\nSent on %1 interface%2.\r\n")
                             .arg(interfaces)
                             .arg(interfaces == 1 ? "" : "s");
    std::printf("status log:\n%s", qPrintable(log));
    Check(log.startsWith(sent), "the Find went out on every interface, said once");
    auto* list = GetDlgItem<CDeviceListCtrl>(&dlg, IDC_LST_DEVICE);
    std::printf("devices found: %d\n", list->GetItemCount());
    Check(list->GetItemCount() == expected, "every simulated device found by broadcast");
    if (list->GetItemCount() == 0)
        return 1;

    const QRect r = list->visualItemRect(list->topLevelItem(0));
    QTest::mouseMove(list->viewport(), r.center());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    Check(WaitIdle(dlg, 6000), "fetch ends");
    const QString cfg = GetDlgItem<CMultiLineEdit>(&dlg, IDC_EDT_CONFIG)->GetWindowText();
    Check(cfg.contains(QStringLiteral("SERIAL_NUM = ") + list->GetItemText(0, 0)),
          "configuration of the clicked device shown");

    QTest::mouseClick(GetDlgItem<QPushButton>(&dlg, IDC_BTN_EDIT_CONFIG), Qt::LeftButton);
    Check(WaitIdle(dlg, 6000), "write and re-read end");
    const QString after = GetDlgItem<CMultiLineEdit>(&dlg, IDC_EDT_CONFIG)->GetWindowText();
    Check(after.contains(QStringLiteral("HOST_NAME = e2e-renamed")), "new host name read back");
    Check(list->GetItemText(0, 5) == QLatin1String("e2e-renamed"), "row shows the new host name");

    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
