// Fuzz target for the Edit Config form's fill from a configuration reply:
// the input describes a ReplyTable of up to 21 records (a byte for the key,
// one of the table's or the empty key; a byte for the width; then the value's
// bytes), as the parser could leave it. The form is filled from it, its
// controls must agree with its fields, and saving must either refuse or give
// numbers within their ranges. The input's tail goes once more through the
// address conversion as a zero-terminated heap copy of exactly its size, and
// must read as the socket library's inet_addr reads it.
#include <arpa/inet.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec.h"
#include "ddx.h"
#include "edtcfgdlg.h"
#include "fuzz_input.h"
#include "ipaddressctrl.h"
#include "resource.h"
#include "uiseam.h"

namespace {

void EnsureApplication()
{
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz_editconfig";
        static char* argv[] = {name, nullptr};
        auto* a = new QApplication(argc, argv);
        UiSeam::SetAnswerer([](const SeamCall&) { return IDOK; });
        // Ended before the leak check at exit, so that what the toolkit and
        // its font library hold is handed back first.
        std::atexit([] {
            UiSeam::SetAnswerer(nullptr);
            delete qApp;
        });
        return a;
    }();
    (void)app;
}

void CheckIpGroup(const CEdtCfgDlg& dlg, const CIpAddressCtrl* ctl, int group)
{
    uint8_t a[4];
    ctl->GetAddress(a);
    const uint8_t* g = dlg.m_abyAddr + 4 * group;
    fuzzin::Check(a[0] == g[3] && a[1] == g[2] && a[2] == g[1] && a[3] == g[0]);
}

void CheckCombo(const QComboBox* cmb, int field)
{
    const int i = cmb->currentIndex();
    fuzzin::Check(i >= -1 && i < cmb->count());
    fuzzin::Check(i == -1 || i == field);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    EnsureApplication();
    fuzzin::Reader in{data, size};
    ClearReplyTable();
    for (int slot = 0; slot < kRecordSlots && in.left > 0; ++slot) {
        ConfigRecord& r = ReplyTable.rec[slot];
        const uint8_t k = in.Byte();
        const int width = in.Byte() % (kMaxValueWidth + 1);
        r.key = k % (kKeyCount + 1) == kKeyCount ? "" : KeyTable[k % (kKeyCount + 1)].key;
        r.width = static_cast<int8_t>(width);
        std::memset(r.value, 0, sizeof r.value);
        const uint8_t* from = in.p;
        const size_t n = in.Take(static_cast<size_t>(width));
        for (size_t i = 0; i < n && from[i] != 0; ++i)
            r.value[i] = static_cast<char>(from[i]);
        if (width == 0 && k & 1)
            break;   // sometimes end the table early, as an empty record does
    }

    CEdtCfgDlg dlg;
    dlg.EnsureInitialized();   // runs the fill
    CheckCombo(dlg.m_cmbLineSpeed, dlg.m_nLineSpeed);
    CheckCombo(dlg.m_cmbDhcp, dlg.m_nDhcp);
    CheckIpGroup(dlg, dlg.m_ipAddr, 0);
    CheckIpGroup(dlg, dlg.m_ipSubnet, 1);
    CheckIpGroup(dlg, dlg.m_ipGateway, 2);
    CheckIpGroup(dlg, dlg.m_ipDflt, 3);

    // The form reads an address as the socket library's inet_addr does.
    const fuzzin::FlushText tail(in.p, in.left);
    if (tail.c_str()) {
        dlg.SetIpControl(tail.c_str(), dlg.m_ipDflt, 3);
        CheckIpGroup(dlg, dlg.m_ipDflt, 3);
        const uint32_t net = static_cast<uint32_t>(inet_addr(tail.c_str()));
        uint8_t want[4];
        std::memcpy(want, &net, 4);
        uint8_t got[4];
        dlg.m_ipDflt->GetAddress(got);
        fuzzin::Check(std::memcmp(want, got, 4) == 0);
    }

    // Saving: every number it takes is within its range.
    if (dlg.DoDataExchange(true)) {
        fuzzin::Check(dlg.m_uPrntPort <= 65535);
        fuzzin::Check(dlg.m_uPrntRcvTmo >= 30 && dlg.m_uPrntRcvTmo <= 65535);
        fuzzin::Check(dlg.m_strHostName.size() <= 32 && dlg.m_strSerialNum.size() <= 16);
    }
    UiSeam::ClearCalls();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
