#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <cstring>
#include <string>

#include "codec.h"
#include "controls.h"
#include "editconfigform.h"
#include "ipaddressctrl.h"
#include "record_lines.h"
#include "window_fixture.h"

namespace {

using testrig::Line;

std::string FullConfig()
{
    return Line(KEY_DEV, "NP-2400") + Line(KEY_VER, "1.02.3") + Line(KEY_MAC, "02C0EE000042") +
           Line(KEY_ENET_SPD, "3") + Line(KEY_IP_CUR, "10.0.0.9") + Line(KEY_DHCP, "1") +
           Line(KEY_IP, "192.168.0.10") + Line(KEY_SUBNET_MASK, "255.255.255.0") +
           Line(KEY_GATEWAY, "192.168.0.1") + Line(KEY_IP_DFLT, "192.168.0.250") +
           Line(KEY_SNMP_SERVER, "10.9.9.9") + Line(KEY_PRNT_PORT, "9100") +
           Line(KEY_PRNT_RCV_TMO, "90") + Line(KEY_MANUFACTURER, "Ostrander Print") +
           Line(KEY_HOST_NAME, "print-42") + Line(KEY_SERIAL_NUM, "SN42") + "*END* = \r\n";
}

// A form filled from a reply text, shown (modelessly) so it can be driven.
class EditConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UiSeam::ClearCalls();
        UiSeam::SetAnswerer([](const SeamCall&) { return IDOK; });
    }
    void TearDown() override
    {
        dlg_.reset();
        UiSeam::SetAnswerer(nullptr);
        ClearReplyTable();
    }
    CEdtCfgDlg* OpenWith(const std::string& text, const QString& presetMac = QString())
    {
        ClearReplyTable();
        EXPECT_EQ(ParseConfigText(text.c_str(), text.size(), nullptr, nullptr), 0);
        dlg_ = std::make_unique<CEdtCfgDlg>();
        dlg_->m_strMacAddr = presetMac;
        dlg_->EnsureInitialized();
        dlg_->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dlg_.get()));
        dlg_->activateWindow();
        (void)QTest::qWaitForWindowActive(dlg_.get());
        return dlg_.get();
    }
    QLineEdit* Edit(int id) { return GetDlgItem<QLineEdit>(dlg_.get(), id); }
    std::vector<SeamCall> Messages()
    {
        std::vector<SeamCall> out;
        for (const SeamCall& c : UiSeam::Calls())
            if (c.kind == SeamCall::Message)
                out.push_back(c);
        return out;
    }
    static QString Group(const uint8_t* a, int g)
    {
        const uint8_t* p = a + 4 * g;
        return QStringLiteral("%1 %2 %3 %4").arg(p[0], 2, 16, QLatin1Char('0')).arg(p[1], 2, 16, QLatin1Char('0'))
            .arg(p[2], 2, 16, QLatin1Char('0')).arg(p[3], 2, 16, QLatin1Char('0')).toUpper();
    }
    // The records the window writes for a form closed with OK: the form's
    // edits planned over the configuration it was filled from.
    static RecordTable PlannedWrite(const CEdtCfgDlg& d)
    {
        std::vector<WriteChange> asked;
        for (const FormEdit& e : d.m_edits)
            asked.push_back({e.key, e.text.constData(), false});
        const QByteArray mac = d.m_strMacAddr.toLatin1();
        WritePlanInput in;
        in.kind = WriteKind::FormEdit;
        in.fresh = &d.m_shown;
        in.shown = &d.m_shown;
        in.mac = mac.constData();
        in.changes = asked.data();
        in.changeCount = static_cast<int>(asked.size());
        auto plan = std::make_unique<WritePlan>();
        EXPECT_GE(PlanWrite(in, plan.get()), PLAN_WRITE);
        return plan->table;
    }
    static std::string SetConfigFrame(const RecordTable& t)
    {
        uint8_t buf[640];
        const int n = BuildSetConfigFrame(buf, &t, sizeof buf);
        EXPECT_GT(n, 0);
        return std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(n > 0 ? n : 0));
    }
    std::unique_ptr<CEdtCfgDlg> dlg_;
};

TEST_F(EditConfigTest, FormShowsTheConfiguration)
{
    CEdtCfgDlg* d = OpenWith(FullConfig(), QStringLiteral("PRESET"));
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Edit Config"));
    EXPECT_EQ(Edit(IDC_EDT_DEV_NAME)->text(), QStringLiteral("NP-2400"));
    EXPECT_EQ(Edit(IDC_EDT_ROM_VER)->text(), QStringLiteral("1.02.3"));
    EXPECT_EQ(Edit(IDC_EDT_MAC_ADDR)->text(), QStringLiteral("02C0EE000042"));   // the record wins
    EXPECT_EQ(Edit(IDC_EDT_SERIAL_NUM)->text(), QStringLiteral("SN42"));
    EXPECT_EQ(Edit(IDC_EDT_MANUFACTURER)->text(), QStringLiteral("Ostrander Print"));
    EXPECT_EQ(Edit(IDC_EDT_HOST_NAME)->text(), QStringLiteral("print-42"));
    EXPECT_EQ(Edit(IDC_EDT_PRNT_PORT)->text(), QStringLiteral("9100"));
    EXPECT_EQ(Edit(IDC_EDT_PRNT_RCV_TMO)->text(), QStringLiteral("90"));
    EXPECT_EQ(d->m_cmbLineSpeed->currentText(), QStringLiteral("100BaseTX Half duplex"));
    EXPECT_EQ(d->m_cmbDhcp->currentText(), QStringLiteral("Enable"));
    EXPECT_EQ(d->m_ipAddr->Text(), QStringLiteral("192.168.0.10"));
    EXPECT_EQ(Group(d->m_abyAddr, 0), QStringLiteral("0A 00 A8 C0"));
    EXPECT_EQ(d->m_ipDflt->Text(), QStringLiteral("192.168.0.250"));
    // DHCP on leaves the address controls editable; IP_DFLT is hidden and disabled.
    for (CIpAddressCtrl* ip : {d->m_ipAddr, d->m_ipSubnet, d->m_ipGateway})
        EXPECT_TRUE(ip->isEnabled() && ip->isVisible());
    EXPECT_FALSE(d->m_ipDflt->isVisible());
    EXPECT_FALSE(d->m_ipDflt->isEnabled());
    for (int id : {IDC_EDT_DEV_NAME, IDC_EDT_ROM_VER, IDC_EDT_MAC_ADDR, IDC_EDT_SERIAL_NUM,
                   IDC_EDT_MANUFACTURER})
        EXPECT_TRUE(Edit(id)->isReadOnly()) << id;
    EXPECT_FALSE(Edit(IDC_EDT_HOST_NAME)->isReadOnly());
    // Lists in code order, never sorted.
    const QStringList speeds = {QStringLiteral("Auto-detect"), QStringLiteral("10BaseT Half duplex"),
                                QStringLiteral("10BaseT Full duplex"),
                                QStringLiteral("100BaseTX Half duplex"),
                                QStringLiteral("100BaseTX Full duplex")};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(d->m_cmbLineSpeed->itemText(i), speeds[i]);
    EXPECT_EQ(d->m_cmbDhcp->itemText(0), QStringLiteral("Disable"));
    EXPECT_EQ(d->m_cmbDhcp->count(), 2);
}

// What the device did not report is shown empty and, left so, not written:
// no 0.0.0.0 address, no 0 number, no empty text it never had.
TEST_F(EditConfigTest, MissingRecordsAreBlankAndLeftOutOfTheWrite)
{
    CEdtCfgDlg* d = OpenWith(Line(KEY_DEV, "only") + "*END* = \r\n", QStringLiteral("02C0EE000007"));
    EXPECT_EQ(Edit(IDC_EDT_MAC_ADDR)->text(), QStringLiteral("02C0EE000007"));
    EXPECT_EQ(Edit(IDC_EDT_PRNT_PORT)->text(), QString());
    EXPECT_EQ(Edit(IDC_EDT_PRNT_RCV_TMO)->text(), QString());
    EXPECT_EQ(d->m_cmbLineSpeed->currentIndex(), -1);
    EXPECT_EQ(d->m_cmbDhcp->currentIndex(), -1);
    for (CIpAddressCtrl* ip : {d->m_ipAddr, d->m_ipSubnet, d->m_ipGateway, d->m_ipDflt})
        EXPECT_TRUE(ip->IsBlank());
    d->OnOK();
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(d->result(), IDOK);
    RecordTable t = PlannedWrite(*d);
    EXPECT_STREQ(t[0].key, "DEV");
    EXPECT_STREQ(t[1].key, "MAC");
    EXPECT_TRUE(IsEmptyRecord(&t[2]));

    // What the user enters is written, and then checked like any value.
    d = OpenWith(Line(KEY_DEV, "only") + "*END* = \r\n", QStringLiteral("02C0EE000007"));
    d->m_ipGateway->SetAddress(10, 0, 0, 1);
    Edit(IDC_EDT_PRNT_RCV_TMO)->setText(QStringLiteral("29"));
    d->OnOK();
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, QStringLiteral("Enter an integer between 30 and 65535."));
    Edit(IDC_EDT_PRNT_RCV_TMO)->setText(QStringLiteral("30"));
    d->OnOK();
    EXPECT_EQ(d->result(), IDOK);
    t = PlannedWrite(*d);
    EXPECT_STREQ(t[2].key, "GATEWAY");
    EXPECT_EQ(std::string(t[2].value, 8), "10.0.0.1");
    EXPECT_STREQ(t[3].key, "PRNT_RCV_TMO");
    EXPECT_TRUE(IsEmptyRecord(&t[4]));
}

// An address is four decimal numbers; a text that is not one leaves the
// control blank rather than showing (and writing back) another address.
TEST_F(EditConfigTest, AddressTextsAreFourDecimalNumbers)
{
    struct Case {
        const char* text;
        const char* shown;   // nullptr: blank
    } cases[] = {
        {"192.168.0.10", "192.168.0.10"}, {"192.168.000.010", "192.168.0.10"},
        {"0x0A.1.2.3", nullptr},          {"10.1", nullptr},
        {"", nullptr},                    {"1.2.3.999", nullptr},
        {"printer", nullptr},
    };
    for (const Case& c : cases) {
        CEdtCfgDlg* d = OpenWith(Line(KEY_GATEWAY, c.text) + "*END* = \r\n");
        EXPECT_EQ(d->m_ipGateway->IsBlank(), c.shown == nullptr) << c.text;
        if (c.shown) {
            EXPECT_EQ(d->m_ipGateway->Text(), QString::fromLatin1(c.shown)) << c.text;
        }
    }
    CEdtCfgDlg* d = OpenWith(Line(KEY_IP, "192.168.000.010") + "*END* = \r\n");
    EXPECT_EQ(Group(d->m_abyAddr, 0), QStringLiteral("0A 00 A8 C0"));
}

TEST_F(EditConfigTest, LineSpeedCodesAndSelection)
{
    struct Case {
        const char* code;
        int shown;
    } cases[] = {{"3", 3}, {"0", 0}, {"9", -1}, {"7", -1}, {"-", -1}, {"x", -1}, {"", -1}};
    for (const Case& c : cases) {
        CEdtCfgDlg* d = OpenWith(Line(KEY_ENET_SPD, c.code) + "*END* = \r\n");
        EXPECT_EQ(d->m_cmbLineSpeed->currentIndex(), c.shown) << c.code;
    }
    // A user's choice: "10BaseT Full duplex" is code 2.
    CEdtCfgDlg* d = OpenWith(FullConfig());
    d->m_cmbLineSpeed->setFocus();
    QTest::keyClick(d->m_cmbLineSpeed, Qt::Key_Up);
    EXPECT_EQ(d->m_nLineSpeed, 2);
    d->OnOK();
    EXPECT_EQ(d->result(), IDOK);
    EXPECT_EQ(d->m_nLineSpeed, 2);
    EXPECT_EQ(d->m_nDhcp, 1);

    // The first item chosen where the device reported no line speed is the
    // user's value too: written as code 0, not left out.
    d = OpenWith(Line(KEY_DEV, "only") + "*END* = \r\n", QStringLiteral("02C0EE000007"));
    ASSERT_EQ(d->m_cmbLineSpeed->currentIndex(), -1);
    d->m_cmbLineSpeed->setCurrentIndex(0);
    d->OnOK();
    ASSERT_EQ(d->result(), IDOK);
    ASSERT_EQ(d->m_edits.size(), 1u);
    EXPECT_EQ(d->m_edits[0].key, KEY_ENET_SPD);
    const RecordTable t = PlannedWrite(*d);
    EXPECT_STREQ(t[2].key, "ENET_SPD");
    EXPECT_EQ(t[2].value[0], '0');
    EXPECT_TRUE(IsEmptyRecord(&t[3]));
}

TEST_F(EditConfigTest, LaterDuplicatesWinAndAFullTableIsReadToItsEnd)
{
    std::string text;
    for (int i = 0; i < 10; ++i)
        text += Line(KEY_SNMP_COMMUNITY, "c") + Line(KEY_HOST_NAME, "h" + std::to_string(i));
    text += Line(KEY_HOST_NAME, "last") + "*END* = \r\n";   // the 21st record
    CEdtCfgDlg* d = OpenWith(text);
    EXPECT_FALSE(IsEmptyRecord(&ReplyTable[20]));
    EXPECT_EQ(Edit(IDC_EDT_HOST_NAME)->text(), QStringLiteral("last"));
    EXPECT_EQ(d->m_cmbLineSpeed->currentIndex(), -1);
}

TEST_F(EditConfigTest, ValidationMessagesIconAndFocus)
{
    // A number is read whole: cut to its first 63 characters, these would
    // pass as 910 and 3.
    const std::string port64 = std::string(60, '0') + "9100";
    const std::string tmo64 = std::string(62, '0') + "30";
    const std::string port63 = std::string(59, '0') + "9100";
    struct Case {
        const char* port;
        const char* tmo;
        const char* message;   // nullptr: OK passes
        int focus;
    } cases[] = {
        {"", "90", "Enter a positive integer.", IDC_EDT_PRNT_PORT},
        {"65536", "90", "Enter an integer between 0 and 65535.", IDC_EDT_PRNT_PORT},
        {"9100", "29", "Enter an integer between 30 and 65535.", IDC_EDT_PRNT_RCV_TMO},
        {"9100", "30", nullptr, 0},
        {"0", "65535", nullptr, 0},
        {"", "29", "Enter a positive integer.", IDC_EDT_PRNT_PORT},
        {"99999999999", "90", "Enter an integer between 0 and 65535.", IDC_EDT_PRNT_PORT},
        {port64.c_str(), "90", "Enter an integer between 0 and 65535.", IDC_EDT_PRNT_PORT},
        {"9100", tmo64.c_str(), "Enter an integer between 30 and 65535.", IDC_EDT_PRNT_RCV_TMO},
        {port63.c_str(), "0030", nullptr, 0},
    };
    for (const Case& c : cases) {
        CEdtCfgDlg* d = OpenWith(FullConfig());
        UiSeam::ClearCalls();
        Edit(IDC_EDT_PRNT_PORT)->setText(QString::fromLatin1(c.port));
        Edit(IDC_EDT_PRNT_RCV_TMO)->setText(QString::fromLatin1(c.tmo));
        QTest::mouseClick(GetDlgItem<QPushButton>(d, IDOK), Qt::LeftButton);
        if (!c.message) {
            EXPECT_TRUE(Messages().empty()) << c.port << "/" << c.tmo;
            EXPECT_EQ(d->result(), IDOK);
            EXPECT_EQ(d->m_uPrntPort, std::stoul(c.port)) << c.port;
            EXPECT_FALSE(d->isVisible());
            continue;
        }
        const auto msgs = Messages();
        ASSERT_EQ(msgs.size(), 1u) << c.port << "/" << c.tmo;
        EXPECT_EQ(msgs[0].text, QString::fromLatin1(c.message));
        EXPECT_EQ(msgs[0].icon, MsgIcon::Exclamation);
        EXPECT_TRUE(d->isVisible());
        QLineEdit* failed = Edit(c.focus);
        EXPECT_TRUE(failed->hasFocus()) << c.message;
        EXPECT_EQ(failed->selectedText(), failed->text());
    }
}

TEST_F(EditConfigTest, HostNameLimitAndDigitsOnlyBoxes)
{
    CEdtCfgDlg* d = OpenWith(FullConfig());
    QLineEdit* host = Edit(IDC_EDT_HOST_NAME);
    host->clear();
    host->setFocus();
    QTest::keyClicks(host, QString(33, QLatin1Char('h')));
    EXPECT_EQ(host->text(), QString(32, QLatin1Char('h')));   // the 33rd is refused
    d->OnOK();
    EXPECT_EQ(d->result(), IDOK);
    EXPECT_EQ(d->m_strHostName.size(), 32);

    // The digits-only boxes refuse other characters.
    QLineEdit* port = Edit(IDC_EDT_PRNT_PORT);
    port->clear();
    port->setFocus();
    QTest::keyClicks(port, QStringLiteral("9a1-0"));
    EXPECT_EQ(port->text(), QStringLiteral("910"));
}

TEST_F(EditConfigTest, IpAddressControlTyping)
{
    CEdtCfgDlg* d = OpenWith(Line(KEY_DEV, "x") + "*END* = \r\n");
    CIpAddressCtrl* ip = d->m_ipAddr;
    ip->field(0)->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ip->field(0)->hasFocus(); }, 1000));
    for (QChar ch : QStringLiteral("192168.1.20"))   // a third digit moves on, so does a dot
        QTest::keyClick(QApplication::focusWidget(), ch.toLatin1());
    EXPECT_EQ(ip->Text(), QStringLiteral("192.168.1.20"));
    EXPECT_TRUE(ip->field(3)->hasFocus());
    // Backspace empties the field, then moves back to the previous one.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    EXPECT_TRUE(ip->field(2)->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    EXPECT_EQ(ip->field(2)->text(), QString());
    uint8_t a[4];
    EXPECT_EQ(ip->GetAddress(a), 2);
    EXPECT_EQ(ip->Text(), QStringLiteral("192.168.0.0"));
    // A keystroke that would go over 255 is refused.
    ip->field(1)->setFocus();
    ip->field(1)->selectAll();
    QTest::keyClicks(ip->field(1), QStringLiteral("300"));
    EXPECT_EQ(ip->field(1)->text(), QStringLiteral("30"));
}

TEST_F(EditConfigTest, TabVisitsEachStopOnceAndAnAddressIsOneStop)
{
    CEdtCfgDlg* d = OpenWith(FullConfig());
    const int stops[] = {IDC_EDT_ROM_VER, IDC_EDT_HOST_NAME, IDC_CMB_LINE_SPEED, IDC_CMB_DHCP,
                         IDC_IP_ADDR,     IDC_IP_SUBNET,     IDC_IP_GATEWAY,     IDC_EDT_PRNT_PORT,
                         IDC_EDT_PRNT_RCV_TMO, IDOK,         IDCANCEL};
    const int n = static_cast<int>(std::size(stops));
    // The control of the form that holds the focus (an address field's control).
    auto focused = [d] {
        QWidget* w = QApplication::focusWidget();
        while (w && w != d && ControlId(w) == IDC_STATIC)
            w = w->parentWidget();
        return w && w != d ? ControlId(w) : 0;
    };
    auto enteredAtFirstField = [d] {
        for (CIpAddressCtrl* ip : {d->m_ipAddr, d->m_ipSubnet, d->m_ipGateway})
            if (ip->isAncestorOf(QApplication::focusWidget()))
                return QApplication::focusWidget() == ip->field(0);
        return true;
    };
    GetDlgItem<QWidget>(d, stops[0])->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return focused() == stops[0]; }, 1000));
    for (int i = 1; i <= n; ++i) {   // forward, round to the first stop again
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(focused(), stops[i % n]) << "Tab " << i;
        EXPECT_TRUE(enteredAtFirstField()) << "Tab " << i;
    }
    for (int i = n - 1; i >= 0; --i) {   // and back
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(focused(), stops[i]) << "Shift+Tab to " << i;
    }

    // Moved on inside an address with the dot, Tab still leaves the control.
    d->m_ipAddr->field(0)->setFocus();
    QTest::keyClick(d->m_ipAddr->field(0), '.');
    ASSERT_TRUE(d->m_ipAddr->field(1)->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(focused(), IDC_IP_SUBNET);
}

TEST_F(EditConfigTest, CancelLeavesNothingToWrite)
{
    CEdtCfgDlg* d = OpenWith(FullConfig());
    Edit(IDC_EDT_HOST_NAME)->setText(QStringLiteral("changed"));
    QTest::mouseClick(GetDlgItem<QPushButton>(d, IDCANCEL), Qt::LeftButton);
    EXPECT_EQ(d->result(), IDCANCEL);
    EXPECT_TRUE(d->m_strHostName.isEmpty());
    EXPECT_TRUE(Messages().empty());
}

// --- The write -------------------------------------------------------------

TEST_F(EditConfigTest, TypicalConfigurationGivesTheExactFrame)
{
    CEdtCfgDlg* d = OpenWith(FullConfig());
    Edit(IDC_EDT_HOST_NAME)->setText(QStringLiteral("print"));
    d->OnOK();
    ASSERT_EQ(d->result(), IDOK);
    const RecordTable t = PlannedWrite(*d);
    const std::string expected =
        std::string("\x00\x0D\xAC\x00\x0D\xAC\x00\x03\x00\x00\x00", 11) +
        "DEV = NP-2400         \r\n" + "VER = 1.02.3          \r\n" + "MAC = 02C0EE000042\r\n" +
        "ENET_SPD = 3\r\n" + "DHCP = 1\r\n" + "IP = 192.168.0.10   \r\n" +
        "SUBNET_MASK = 255.255.255.0  \r\n" + "GATEWAY = 192.168.0.1    \r\n" +
        "IP_DFLT = 192.168.0.250  \r\n" + "PRNT_PORT = 9100 \r\n" + "PRNT_RCV_TMO = 90   \r\n" +
        "MANUFACTURER = Ostrander Print                 \r\n" +
        "HOST_NAME = print" + std::string(27, ' ') + "\r\n" + "SERIAL_NUM = SN42            \r\n" +
        "*END* = \r\n";
    EXPECT_EQ(SetConfigFrame(t), expected);
    EXPECT_TRUE(IsEmptyRecord(&t[14]));
}

// pathlume-cli asks for the same change without the form; both must put
// the same bytes on the wire.
TEST_F(EditConfigTest, FormAndCommandLineBuildTheSameFrame)
{
    const std::string odd = Line(KEY_DEV, "LX-200") + Line(KEY_MAC, "02C0EE0000AB") +
                            Line(KEY_ENET_SPD, "9") + Line(KEY_IP, "192.168.000.010") +
                            Line(KEY_GATEWAY, "printer") + Line(KEY_PRNT_PORT, "515") +
                            Line(KEY_PRNT_RCV_TMO, "30") + Line(KEY_HOST_NAME, "x") +
                            Line(KEY_SERIAL_NUM, "SN-ODD") + Line(KEY_HOST_NAME, "dup") +
                            "*END* = \r\n";
    for (const std::string& text : {FullConfig(), odd}) {
        CEdtCfgDlg* d = OpenWith(text, QStringLiteral("02C0EE0000AB"));
        Edit(IDC_EDT_HOST_NAME)->setText(QStringLiteral("lobby"));
        d->OnOK();
        ASSERT_EQ(d->result(), IDOK);
        const std::string form = SetConfigFrame(PlannedWrite(*d));

        RecordTable reply;
        ClearRecordTable(&reply);
        ASSERT_EQ(ParseConfigTextInto(&reply, text.c_str(), text.size(), nullptr, nullptr), 0);
        const WriteChange set{KEY_HOST_NAME, "lobby", false};
        WritePlanInput in;
        in.kind = WriteKind::Set;
        in.fresh = &reply;
        in.mac = "02C0EE0000AB";
        in.changes = &set;
        in.changeCount = 1;
        auto plan = std::make_unique<WritePlan>();
        ASSERT_EQ(PlanWrite(in, plan.get()), PLAN_WRITE);
        EXPECT_EQ(SetConfigFrame(plan->table), form);
    }
}

// A list the device reported no choice for is left out of the write, and
// the records after it move up.
TEST_F(EditConfigTest, UnchosenListsAreLeftOutAndTheRestMovesUp)
{
    std::string text = FullConfig();
    text.erase(text.find("ENET_SPD"), Line(KEY_ENET_SPD, "3").size());
    text.replace(text.find("DHCP = 1"), 8, "DHCP = 0");
    CEdtCfgDlg* d = OpenWith(text);
    ASSERT_EQ(d->m_cmbLineSpeed->currentIndex(), -1);
    Edit(IDC_EDT_HOST_NAME)->setText(QStringLiteral("moved"));
    d->OnOK();
    ASSERT_EQ(d->result(), IDOK);
    const RecordTable t = PlannedWrite(*d);
    EXPECT_STREQ(t[2].key, "MAC");
    EXPECT_STREQ(t[3].key, "DHCP");
    EXPECT_EQ(t[3].value[0], '0');
    EXPECT_STREQ(t[12].key, "SERIAL_NUM");
    EXPECT_TRUE(IsEmptyRecord(&t[13]));
}

TEST(WriteTable, FillersRefuseAndNeverOverrunTheValue)
{
    ConfigRecord r[2];
    ClearRecord(&r[0]);
    ClearRecord(&r[1]);
    const std::string longText(64, 'L');
    ASSERT_EQ(FillTextRecord(&r[0], "DEV", longText.c_str(), 16), 1);
    EXPECT_EQ(std::string(r[0].value, 16), std::string(16, 'L'));
    for (int i = 16; i < kValueSize; ++i)
        ASSERT_EQ(r[0].value[i], 0) << i;
    EXPECT_EQ(r[0].width, 16);
    EXPECT_TRUE(IsEmptyRecord(&r[1]));

    ConfigRecord untouched;
    ClearRecord(&untouched);
    const uint8_t oct[4] = {1, 2, 3, 4};
    struct Case {
        const char* what;
        int result;
    } cases[] = {
        {"text null", FillTextRecord(&untouched, "DEV", nullptr, 16)},
        {"text no key", FillTextRecord(&untouched, nullptr, "x", 16)},
        {"text no record", FillTextRecord(nullptr, "DEV", "x", 16)},
        {"number 65536", FillNumberRecord(&untouched, "PRNT_PORT", 65536, 5)},
        {"number -1", FillNumberRecord(&untouched, "ENET_SPD", static_cast<uint32_t>(-1), 1)},
        {"number no key", FillNumberRecord(&untouched, nullptr, 1, 5)},
        {"address null", FillAddressRecord(&untouched, "IP", nullptr, 15)},
        {"address no record", FillAddressRecord(nullptr, "IP", oct, 15)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, 0) << c.what;
    EXPECT_TRUE(IsEmptyRecord(&untouched));
    ASSERT_EQ(FillNumberRecord(&untouched, "PRNT_PORT", 65535, 5), 1);
    EXPECT_EQ(std::string(untouched.value, 5), "65535");
    ASSERT_EQ(FillAddressRecord(&untouched, "IP", oct, 15), 1);
    EXPECT_EQ(std::string(untouched.value, 15), "4.3.2.1        ");
}

}  // namespace
