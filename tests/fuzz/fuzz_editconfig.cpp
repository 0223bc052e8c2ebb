// Fuzz target for the Edit Config form's fill from a configuration reply:
// the input describes a ReplyTable of up to 21 records (a byte for the key,
// one of the table's or the empty key; a byte for the width; then the value's
// bytes), as the parser could leave it. The form is filled from it, its
// controls must agree with its fields, and saving must either refuse or give
// numbers within their ranges. The input's tail goes once more through the
// address conversion as a zero-terminated heap copy of exactly its size, and
// must read as four decimal numbers (or leave the control blank).
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec.h"
#include "ddx.h"
#include "editconfigform.h"
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

// An address written as four decimal numbers 0-255 with dots, blanks around
// it allowed, read here without the program's own code. out is left as it
// was when the text is not one.
bool DottedDecimal(const std::string& text, uint8_t out[4])
{
    uint8_t parts[4] = {0, 0, 0, 0};
    const size_t b = text.find_first_not_of(" \t");
    const size_t e = text.find_last_not_of(" \t");
    if (b == std::string::npos)
        return false;
    const std::string t = text.substr(b, e - b + 1);
    int part = 0;
    unsigned value = 0;
    bool digits = false;
    for (size_t i = 0; i <= t.size(); ++i) {
        const char c = i < t.size() ? t[i] : '.';
        if (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<unsigned>(c - '0');
            digits = true;
            if (value > 255)
                return false;
        } else if (c == '.' && digits && part < 4) {
            parts[part++] = static_cast<uint8_t>(value);
            value = 0;
            digits = false;
        } else {
            return false;
        }
    }
    if (part != 4)
        return false;
    std::memcpy(out, parts, sizeof parts);
    return true;
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

    // The form reads an address as four decimal numbers, or shows none.
    const fuzzin::FlushText tail(in.p, in.left);
    if (tail.c_str()) {
        // As a device's only record, within its field's width.
        const KeyInfo& key = KeyTable[KEY_IP_DFLT];
        const std::string text = std::string(tail.c_str()).substr(0, static_cast<size_t>(key.width));
        ClearReplyTable();
        ConfigRecord& r = ReplyTable.rec[0];
        r.key = key.key;
        r.width = key.width;
        std::memset(r.value, 0, sizeof r.value);
        std::memcpy(r.value, text.data(), text.size());
        CEdtCfgDlg one;
        one.EnsureInitialized();
        CheckIpGroup(one, one.m_ipDflt, 3);
        uint8_t want[4] = {0, 0, 0, 0};
        const bool readable = DottedDecimal(text, want);
        uint8_t got[4];
        one.m_ipDflt->GetAddress(got);
        fuzzin::Check(std::memcmp(want, got, 4) == 0);
        fuzzin::Check(one.m_ipDflt->IsBlank() == !readable);
    }

    // Saving: every number it takes is within its range (an empty box the
    // device had no value for is not taken).
    if (dlg.DoDataExchange(true)) {
        auto taken = [&dlg](int id) {
            return !GetDlgItem<QLineEdit>(&dlg, id)->text().trimmed().isEmpty();
        };
        fuzzin::Check(!taken(IDC_EDT_PRNT_PORT) || dlg.m_uPrntPort <= 65535);
        fuzzin::Check(!taken(IDC_EDT_PRNT_RCV_TMO) ||
                      (dlg.m_uPrntRcvTmo >= 30 && dlg.m_uPrntRcvTmo <= 65535));
        fuzzin::Check(dlg.m_strHostName.size() <= 32 && dlg.m_strSerialNum.size() <= 16);
    }
    UiSeam::ClearCalls();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
