// End-to-end client: the real main window on the program's own endpoints
// (requests broadcast to 255.255.255.255:22093, replies on 0.0.0.0:22093).
// Run only inside the private network namespace that broadcast_e2e.sh makes.
//   pathlume-e2e-client EXPECTED_DEVICES [EXPECTED_INTERFACES]
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "devicelist.h"
#include "edtcfgdlg.h"
#include "engine.h"
#include "kestreldlg.h"
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

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
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
