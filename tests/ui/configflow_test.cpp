#include <QAction>
#include <QApplication>
#include <QMenu>
#include <array>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "codec.h"
#include "editconfigform.h"
#include "ipaddressctrl.h"
#include "journal.h"
#include "portable.h"
#include "quirky_devices.h"
#include "window_fixture.h"

namespace {

class ConfigFlowTest : public WindowTest {
protected:
    // Opens the window against three devices and runs a quick Seek.
    void OpenAndSeek(int devices = 3)
    {
        Open(devsim::GenerateDevices(devices, 77));
        SetTimeoutText(QStringLiteral("0"));
        Click(IDC_BTN_SEEK);
        ASSERT_TRUE(WaitIdle());
        ASSERT_EQ(List()->GetItemCount(), devices);
        SetTimeoutText(QStringLiteral("2"));
        UiSeam::ClearCalls();
    }

    // The simulator's index of the device shown in a row.
    size_t DeviceOfRow(int row)
    {
        const std::string serial = List()->GetItemText(row, 0).toStdString();
        for (size_t i = 0; i < rig_->sim().DeviceCount(); ++i)
            if (rig_->sim().Value(i, KEY_SERIAL_NUM) == serial)
                return i;
        ADD_FAILURE() << "no device for row " << row;
        return 0;
    }

    int Forms() const
    {
        int n = 0;
        for (const SeamCall& c : UiSeam::Calls())
            n += c.kind == SeamCall::Modal;
        return n;
    }
};

TEST_F(ConfigFlowTest, ClickFetchesTheConfigurationAndRefreshesTheRow)
{
    OpenAndSeek();
    const size_t dev = DeviceOfRow(1);
    rig_->sim().SetValue(dev, KEY_HOST_NAME, "renamed-on-panel");
    const QString logBefore = Log();
    ClickRow(1);
    EXPECT_EQ(BusyText(), QStringLiteral("Busy"));
    EXPECT_EQ(Log(), logBefore + QStringLiteral("Start getting config.\r\n"));
    EXPECT_EQ(QString::fromLatin1(TargetMac), List()->GetItemText(1, 1));
    EXPECT_EQ(QString::fromLatin1(TargetSerial), List()->GetItemText(1, 0));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Log(), logBefore + QStringLiteral("Start getting config.\r\nDetect StopRecvFlg.\r\n"));
    const QString cfg = ConfigBox();
    EXPECT_TRUE(cfg.startsWith(QStringLiteral("DEV = "))) << cfg.toStdString();
    EXPECT_TRUE(cfg.contains(QStringLiteral("HOST_NAME = renamed-on-panel")));
    EXPECT_EQ(List()->GetItemText(1, 5), QStringLiteral("renamed-on-panel"));
    EXPECT_EQ(dlg_->m_nSelItem, 1);
    // The records, a blank line, then where they came from: the simulator's loopback
    // address and port, which is not the IP address the device reports.
    // The interface it came in on is named as the system names it: Winsock
    // names none, so an interface is known there by its address.
#ifdef _WIN32
    const QString loopback = QStringLiteral("127.0.0.1");
#else
    const QString loopback = QStringLiteral("lo");
#endif
    const QString from = QStringLiteral("Answered from 127.0.0.1:%1 (%3), not from its IP address %2.")
                             .arg(rig_->port())
                             .arg(QString::fromStdString(rig_->sim().Value(dev, KEY_IP_CUR)))
                             .arg(loopback);
    EXPECT_TRUE(cfg.endsWith(QStringLiteral("*END* = \r\n\r\n") + from)) << cfg.toStdString();
    // The row says the same of the Find's reply, on every cell.
    for (int col = 0; col < 6; ++col)
        EXPECT_EQ(List()->topLevelItem(1)->toolTip(col), from) << col;
}

TEST_F(ConfigFlowTest, ClickOutsideTheRowsChangesOnlyTheSelectedRow)
{
    OpenAndSeek(2);
    ClickRow(0);
    ASSERT_TRUE(WaitIdle());
    const QString log = Log();
    const std::string mac = dlg_->m_szSelMac;
    CDeviceListCtrl* list = List();
    const QPoint below(10, list->viewport()->height() - 5);
    QTest::mouseMove(list->viewport(), below);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, below);
    EXPECT_EQ(dlg_->m_nSelItem, -1);
    EXPECT_EQ(Log(), log);
    EXPECT_EQ(BusyText(), QStringLiteral("Idle"));
    EXPECT_EQ(std::string(dlg_->m_szSelMac), mac);
}

TEST_F(ConfigFlowTest, EditConfigWritesTheHostNameAndReadsItBack)
{
    OpenAndSeek();
    const size_t dev = DeviceOfRow(2);
    ClickRow(2);
    ASSERT_TRUE(WaitIdle());
    const QString logBefore = Log();
    bool formWasFilled = false;
    onModal = [&](const SeamCall& call) {
        auto* form = qobject_cast<CEdtCfgDlg*>(call.dialog);
        EXPECT_NE(form, nullptr);
        ExpectModalOverMainWindow(form);
        QLineEdit* host = GetDlgItem<QLineEdit>(form, IDC_EDT_HOST_NAME);
        formWasFilled = host->text().toStdString() == rig_->sim().Value(dev, KEY_HOST_NAME) &&
                        GetDlgItem<QLineEdit>(form, IDC_EDT_SERIAL_NUM)->text().toStdString() ==
                            rig_->sim().Value(dev, KEY_SERIAL_NUM);
        host->setFocus();
        host->selectAll();
        QTest::keyClicks(host, QStringLiteral("lobby-printer"));
        form->m_ipGateway->SetAddress(10, 1, 2, 254);
        QTest::mouseClick(GetDlgItem<QPushButton>(form, IDOK), Qt::LeftButton);
        return IDCANCEL;   // used only if the form were still open
    };
    Click(IDC_BTN_EDIT_CONFIG);
    EXPECT_TRUE(formWasFilled);
    // The device is read again first; the write is planned on that read.
    EXPECT_EQ(Log(), logBefore + QStringLiteral("Start getting config.\r\n"));
    EXPECT_EQ(BusyText(), QStringLiteral("Busy"));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Log(), logBefore + QStringLiteral("Start getting config.\r\nDetect StopRecvFlg.\r\n"
                                                "Start writing config.\r\nStart getting config.\r\n"
                                                "Detect StopRecvFlg.\r\nConfiguration verified.\r\n"));
    EXPECT_EQ(rig_->sim().Value(dev, KEY_HOST_NAME), "lobby-printer");
    EXPECT_EQ(rig_->sim().Value(dev, KEY_GATEWAY), "10.1.2.254");
    EXPECT_TRUE(ConfigBox().contains(QStringLiteral("HOST_NAME = lobby-printer ")));
    EXPECT_EQ(List()->GetItemText(2, 5), QStringLiteral("lobby-printer"));
    // No other device was touched.
    for (size_t i = 0; i < 3; ++i) {
        if (i != dev) {
            EXPECT_NE(rig_->sim().Value(i, KEY_HOST_NAME), "lobby-printer");
        }
    }
}

// The form's OK after one changed value: that value is written and every
// other one goes back as the device reported it (by value), nothing the
// device did not report is made up, and the check passes.
TEST_F(ConfigFlowTest, AWriteFromTheFormChangesOnlyWhatTheUserChanged)
{
    const std::vector<devsim::Device> devices = testrig::QuirkyDevices();
    Open(devices);
    SetTimeoutText(QStringLiteral("0"));
    Click(IDC_BTN_SEEK);
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(List()->GetItemCount(), static_cast<int>(devices.size()));
    SetTimeoutText(QStringLiteral("2"));
    for (int row = 0; row < List()->GetItemCount(); ++row) {
        const size_t dev = DeviceOfRow(row);
        SCOPED_TRACE(devices[dev].values[KEY_SERIAL_NUM]);
        ClickRow(row);
        ASSERT_TRUE(WaitIdle());
        onModal = [&](const SeamCall& call) {
            QLineEdit* port = GetDlgItem<QLineEdit>(call.dialog, IDC_EDT_PRNT_PORT);
            port->setFocus();
            port->selectAll();
            QTest::keyClicks(port, QStringLiteral("9101"));
            QTest::mouseClick(GetDlgItem<QPushButton>(call.dialog, IDOK), Qt::LeftButton);
            return IDCANCEL;
        };
        UiSeam::ClearCalls();
        Click(IDC_BTN_EDIT_CONFIG);
        ASSERT_TRUE(WaitIdle());
        EXPECT_TRUE(Messages().empty());
        EXPECT_TRUE(Log().endsWith(QStringLiteral("Configuration verified.\r\n"))) << Log().toStdString();
        EXPECT_EQ(rig_->sim().Value(dev, KEY_PRNT_PORT), "9101");
        testrig::ExpectOnlyChanged(rig_->sim(), dev, devices[dev], KEY_PRNT_PORT);
    }
}

TEST_F(ConfigFlowTest, WriteIsCheckedAgainstTheReRead)
{
    struct Case {
        const char* what;
        std::vector<int> refuse;    // records the device refuses
        bool silentAfterRead;       // the device stops answering after the read before the write
        QString host;
        const char* logTail;        // nullptr: nothing is sent
        const char* message;
    } cases[] = {
        {"refused record", {KEY_HOST_NAME}, false, QStringLiteral("lobby"),
         "Device did not take: HOST_NAME.\r\n", nullptr},
        {"re-read unanswered", {}, true, QStringLiteral("lobby"),
         "Detected receiving timeout.\r\nDetect StopRecvFlg.\r\n"
         "Configuration not verified: no answer.\r\n", nullptr},
        {"non-ASCII host name", {}, false, QStringLiteral("日本語-héllo"), nullptr,
         "Enter only printable ASCII characters (letters, digits, punctuation, space) in Host name."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto opt = testrig::LoopbackSimOptions();
        opt.refuseKeys = c.refuse;
        Open(devsim::GenerateDevices(2, 5), opt);
        SetTimeoutText(QStringLiteral("0"));
        Click(IDC_BTN_SEEK);
        ASSERT_TRUE(WaitIdle());
        ClickRow(0);
        ASSERT_TRUE(WaitIdle());
        const size_t dev = DeviceOfRow(0);
        const std::string hostBefore = rig_->sim().Value(dev, KEY_HOST_NAME);
        const int requests = rig_->sim().RequestsHandled();
        if (c.silentAfterRead)
            rig_->sim().FallSilentAfter(requests + 1);   // after the read before the write
        const QString logBefore = Log();
        UiSeam::ClearCalls();
        bool stayedOpen = false;
        onModal = [&](const SeamCall& call) {
            QLineEdit* host = GetDlgItem<QLineEdit>(call.dialog, IDC_EDT_HOST_NAME);
            host->setText(c.host);
            QTest::mouseClick(GetDlgItem<QPushButton>(call.dialog, IDOK), Qt::LeftButton);
            stayedOpen = call.dialog->isVisible();
            if (stayedOpen) {
                EXPECT_EQ(call.dialog->focusWidget(), host);
            }
            return IDCANCEL;
        };
        Click(IDC_BTN_EDIT_CONFIG);
        ASSERT_TRUE(WaitIdle());
        if (c.logTail) {
            EXPECT_FALSE(stayedOpen);
            EXPECT_TRUE(Log().endsWith(QString::fromUtf8(c.logTail))) << Log().toStdString();
            EXPECT_EQ(Count(Log(), QStringLiteral("Configuration ")) +
                          Count(Log(), QStringLiteral("Device did not take")),
                      1);
        } else {
            EXPECT_TRUE(stayedOpen);
            ASSERT_EQ(Messages().size(), 1u);
            EXPECT_EQ(Messages()[0].text, QString::fromUtf8(c.message));
            EXPECT_EQ(Messages()[0].icon, MsgIcon::Exclamation);
            QTest::qWait(200);
            EXPECT_EQ(Log(), logBefore);
            EXPECT_EQ(rig_->sim().RequestsHandled(), requests);
        }
        EXPECT_EQ(rig_->sim().Value(dev, KEY_HOST_NAME), hostBefore);
        dlg_.reset();
        rig_.reset();
    }
}

// The form writes only onto what it showed: a value someone else changed
// while the form stood open stops the write; read again, the form shows the
// device's new value and keeps the user's own.
TEST_F(ConfigFlowTest, AChangeMadeWhileTheFormWasOpenStopsTheWrite)
{
    OpenAndSeek(2);
    const size_t dev = DeviceOfRow(0);
    const std::string host = rig_->sim().Value(dev, KEY_HOST_NAME);
    ClickRow(0);
    ASSERT_TRUE(WaitIdle());
    int opened = 0;
    bool writtenBeforeReopen = true;
    QString hostShownAgain, portShownAgain;
    onModal = [&](const SeamCall& call) {
        QLineEdit* port = GetDlgItem<QLineEdit>(call.dialog, IDC_EDT_PRNT_PORT);
        if (++opened == 1) {
            port->setText(QStringLiteral("9101"));
            rig_->sim().SetValue(dev, KEY_HOST_NAME, "colleague");   // meanwhile, elsewhere
        } else {
            writtenBeforeReopen = !rig_->sim().LastWrite(dev).empty();
            hostShownAgain = GetDlgItem<QLineEdit>(call.dialog, IDC_EDT_HOST_NAME)->text();
            portShownAgain = port->text();
        }
        QTest::mouseClick(GetDlgItem<QPushButton>(call.dialog, IDOK), Qt::LeftButton);
        return IDCANCEL;
    };
    QStringList asked;
    onConfirm = [&asked](const SeamCall& call) {
        asked << call.text;
        return IDOK;   // read again
    };
    Click(IDC_BTN_EDIT_CONFIG);
    ASSERT_TRUE(QTest::qWaitFor([&] { return opened == 2; }, 5000));
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(asked[0].startsWith(QString::fromStdString(
        "The device's configuration changed since it was read: HOST_NAME: " + host +
        " -> colleague. Nothing was written.")))
        << asked[0].toStdString();
    EXPECT_FALSE(writtenBeforeReopen) << "a SetConfig was sent before the form was read again";

    // Filled again: the device's new name and the user's own port, then written.
    EXPECT_EQ(hostShownAgain, QStringLiteral("colleague"));
    EXPECT_EQ(portShownAgain, QStringLiteral("9101"));
    EXPECT_TRUE(Log().endsWith(QStringLiteral("Configuration verified.\r\n"))) << Log().toStdString();
    EXPECT_EQ(rig_->sim().Value(dev, KEY_PRNT_PORT), "9101");
    EXPECT_EQ(rig_->sim().Value(dev, KEY_HOST_NAME), "colleague");
}

TEST_F(ConfigFlowTest, CancelSendsNothingAndLogsNothing)
{
    OpenAndSeek(2);
    ClickRow(0);
    ASSERT_TRUE(WaitIdle());
    const QString log = Log();
    const int requests = rig_->sim().RequestsHandled();
    onModal = [](const SeamCall& call) {
        QTest::mouseClick(GetDlgItem<QPushButton>(call.dialog, IDCANCEL), Qt::LeftButton);
        return IDOK;   // ignored: the form closed itself with Cancel
    };
    Click(IDC_BTN_EDIT_CONFIG);
    EXPECT_EQ(Forms(), 1);
    QTest::qWait(300);
    EXPECT_EQ(Log(), log);
    EXPECT_EQ(BusyText(), QStringLiteral("Idle"));
    EXPECT_EQ(rig_->sim().RequestsHandled(), requests);
}

TEST_F(ConfigFlowTest, EditConfigRightAfterSeekAsksForASelection)
{
    OpenAndSeek(1);
    Click(IDC_BTN_EDIT_CONFIG);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, QStringLiteral("Please select a device."));
    EXPECT_EQ(Messages()[0].icon, MsgIcon::Stop);
    EXPECT_EQ(Forms(), 0);
}

TEST_F(ConfigFlowTest, CommandsWhileFetchingAreRefused)
{
    auto opt = testrig::LoopbackSimOptions();
    Open(devsim::GenerateDevices(2, 4), opt);
    SetTimeoutText(QStringLiteral("0"));
    Click(IDC_BTN_SEEK);
    ASSERT_TRUE(WaitIdle());
    rig_->sim().Stop();   // the device falls silent: the fetch runs until its timeout
    ClickRow(0);
    UiSeam::ClearCalls();
    Click(IDC_BTN_EDIT_CONFIG);
    ClickRow(1);
    const auto msgs = Messages();
    ASSERT_EQ(msgs.size(), 2u);
    for (const SeamCall& m : msgs)
        EXPECT_EQ(m.text, QStringLiteral("Current condition is busy. Please try again."));
    EXPECT_EQ(dlg_->m_nSelItem, 0);
    ASSERT_TRUE(WaitIdle());
}

TEST_F(ConfigFlowTest, DoubleClickOpensTheFormOnceTheFetchHasEnded)
{
    OpenAndSeek(2);
    int busyWhenOpened = -1;
    QString configWhenOpened;
    onModal = [&](const SeamCall&) {
        busyWhenOpened = GetBusyFlg();
        configWhenOpened = ConfigBox();
        QTest::qWait(300);   // ticks while the form is open must not open another
        return IDCANCEL;
    };
    ClickRow(1, true);
    EXPECT_EQ(dlg_->m_bDblClk, 1);
    ASSERT_TRUE(QTest::qWaitFor([this] { return Forms() == 1; }, 5000))
        << (Messages().empty() ? std::string("no message") : Messages()[0].text.toStdString())
        << " / " << Log().toStdString();
    QTest::qWait(300);
    EXPECT_EQ(Forms(), 1);
    EXPECT_EQ(busyWhenOpened, 0);
    EXPECT_TRUE(configWhenOpened.contains(QStringLiteral("*END* = \r\n\r\nAnswered from ")))
        << configWhenOpened.toStdString();
    EXPECT_EQ(dlg_->m_bDblClk, 0);
    EXPECT_EQ(dlg_->m_bInDblClk, 0);
    EXPECT_EQ(Count(Log(), QStringLiteral("Start getting config.")), 1);
}

TEST_F(ConfigFlowTest, AfterAFailedFetchTheFormIsRefused)
{
    OpenAndSeek(2);
    // Device in row 0 answers; then the devices fall silent and the fetch of
    // row 1 times out. The ReplyTable may still hold row 0's configuration:
    // writing it would reconfigure the wrong printer.
    ClickRow(0);
    ASSERT_TRUE(WaitIdle());
    rig_->sim().Stop();
    SetTimeoutText(QStringLiteral("0"));
    ClickRow(1);
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(Log().endsWith(QStringLiteral("Detected receiving timeout.\r\nDetect StopRecvFlg.\r\n")));
    UiSeam::ClearCalls();
    Click(IDC_BTN_EDIT_CONFIG);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text,
              QStringLiteral("Please get the configuration of the selected device first."));
    EXPECT_EQ(Messages()[0].icon, MsgIcon::Stop);
    EXPECT_EQ(Forms(), 0);

    // A double-click whose fetch fails gets the same message instead of the form.
    UiSeam::ClearCalls();
    ClickRow(0, true);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !Messages().empty(); }, 5000));
    EXPECT_EQ(Messages()[0].text,
              QStringLiteral("Please get the configuration of the selected device first."));
    EXPECT_EQ(Forms(), 0);
}

TEST_F(ConfigFlowTest, TheReadDeviceIsMarkedWhereverItsRowGoes)
{
    OpenAndSeek(3);
    CDeviceListCtrl* list = List();
    EXPECT_EQ(list->MarkedRow(), -1);
    ClickRow(1);
    ASSERT_TRUE(WaitIdle());
    const QString serial = list->GetItemText(1, 0), mac = list->GetItemText(1, 1);
    auto boldRows = [list] {
        QList<int> rows;
        for (int r = 0; r < list->GetItemCount(); ++r)
            if (list->topLevelItem(r)->font(0).bold() && list->topLevelItem(r)->font(5).bold())
                rows << r;
        return rows;
    };
    auto markedIs = [&](const char* what) {
        const int row = list->MarkedRow();
        ASSERT_GE(row, 0) << what;
        EXPECT_EQ(list->GetItemText(row, 0), serial) << what;
        EXPECT_EQ(list->GetItemText(row, 1), mac) << what;
        EXPECT_EQ(boldRows(), QList<int>{row}) << what;
    };
    markedIs("after the read");

    // The highlight moved by the keyboard is not the device read.
    list->setCurrentItem(list->topLevelItem(2));
    markedIs("highlight moved");

    // Rows placed anew: a device that sorts first, one that shares the serial
    // number with another MAC address, then the whole list rebuilt.
    char s0[] = "A0", m0[] = "02C0EE0000A0", d[] = "NP", v[] = "1", ip[] = "10.0.0.9", h[] = "x";
    ASSERT_EQ(dlg_->SetDeviceRow(0, 0, s0, m0, d, v, ip, h), 0);
    std::string twin = serial.toStdString();
    char m1[] = "02C0EE0000B1";
    ASSERT_GE(dlg_->SetDeviceRow(0, 0, twin.data(), m1, d, v, ip, h), 0);
    markedIs("rows inserted before it");
    std::vector<std::array<std::string, 6>> rows;
    for (int r = 0; r < list->GetItemCount(); ++r) {
        rows.push_back({});
        for (int c = 0; c < 6; ++c)
            rows.back()[static_cast<size_t>(c)] = list->GetItemText(r, c).toStdString();
    }
    list->DeleteAllItems();
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        auto& f = *it;
        ASSERT_GE(dlg_->SetDeviceRow(0, 0, f[0].data(), f[1].data(), f[2].data(), f[3].data(),
                                     f[4].data(), f[5].data()),
                  0);
    }
    markedIs("list rebuilt");

    // Reading another device takes the mark away until its answer comes; a
    // read that gets no answer leaves no device marked.
    rig_->sim().Stop();
    SetTimeoutText(QStringLiteral("0"));
    ClickRow(0);
    EXPECT_EQ(list->MarkedRow(), -1);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(list->MarkedRow(), -1);
    EXPECT_TRUE(boldRows().isEmpty());
}

// The journal of writes, from the window's side: the form's write is
// recorded, and the list's menu gives the marked device's values back from
// before its last write, asking first, as the form's OK writes and checks.
class JournalFlowTest : public ConfigFlowTest {
protected:
    void SetUp() override
    {
        ConfigFlowTest::SetUp();
        journal_ = JournalPath();
        ASSERT_FALSE(journal_.empty());
        std::remove(journal_.c_str());
    }

    JournalContents Journal()
    {
        JournalContents j;
        std::string reason;
        EXPECT_TRUE(ReadJournal(journal_, &j, &reason)) << reason;
        return j;
    }

    // Opens the list's menu as the user would, says whether it offers the
    // restore, and closes it.
    bool RestoreOffered()
    {
        List()->OpenContextMenu();
        const bool on = dlg_->restoreAction()->isEnabled();
        List()->contextMenu()->close();
        return on;
    }

    // Writes a host name and a gateway through the form.
    void EditHostAndGateway()
    {
        onModal = [](const SeamCall& call) {
            auto* form = qobject_cast<CEdtCfgDlg*>(call.dialog);
            GetDlgItem<QLineEdit>(form, IDC_EDT_HOST_NAME)->setText(QStringLiteral("lobby-printer"));
            form->m_ipGateway->SetAddress(10, 1, 2, 254);
            QTest::mouseClick(GetDlgItem<QPushButton>(form, IDOK), Qt::LeftButton);
            return IDCANCEL;
        };
        Click(IDC_BTN_EDIT_CONFIG);
        ASSERT_TRUE(WaitIdle());
    }

    std::string journal_;
};

TEST_F(JournalFlowTest, TheFormsWriteIsJournaledAndTheMenuGivesItBack)
{
    OpenAndSeek(2);
    const size_t dev = DeviceOfRow(0);
    const devsim::Device original = devsim::GenerateDevices(2, 77)[dev];
    ClickRow(0);
    ASSERT_TRUE(WaitIdle());
    EXPECT_FALSE(RestoreOffered()) << "nothing written yet";
    EditHostAndGateway();

    JournalContents j = Journal();
    ASSERT_EQ(j.entries.size(), 1u);
    const JournalEntry& edit = j.entries[0];
    EXPECT_EQ(edit.program, "pathlume");
    EXPECT_EQ(edit.action, "edit");
    EXPECT_EQ(edit.serial, original.values[KEY_SERIAL_NUM]);
    EXPECT_EQ(edit.mac, original.values[KEY_MAC]);
    EXPECT_EQ(edit.outcome, "verified");
    EXPECT_EQ(edit.written.size(), 14u);
    std::vector<std::string> changed;
    for (const JournalChange& c : JournalChanges(edit))
        changed.push_back(c.key + ": " + c.before + " -> " + c.after);
    EXPECT_EQ(changed, (std::vector<std::string>{
                           "GATEWAY: " + original.values[KEY_GATEWAY] + " -> 10.1.2.254",
                           "HOST_NAME: " + original.values[KEY_HOST_NAME] + " -> lobby-printer"}));

    // Offered for the marked device only, past a damaged line.
    std::ofstream(journal_, std::ios::app) << "{\"time\": \"cut\n";
    EXPECT_TRUE(RestoreOffered());
    ClickRow(1);
    ASSERT_TRUE(WaitIdle());
    EXPECT_FALSE(RestoreOffered()) << "the other device has no write";
    ClickRow(0);
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(RestoreOffered());

    // Asked first; Cancel sends nothing.
    const int requests = rig_->sim().RequestsHandled();
    const QString log = Log();
    QString asked;
    onConfirm = [&asked](const SeamCall& call) {
        asked = call.text;
        return IDCANCEL;
    };
    // The device is read first: the restore is planned on what it holds now.
    dlg_->restoreAction()->trigger();
    EXPECT_EQ(BusyText(), QStringLiteral("Busy"));
    ASSERT_TRUE(QTest::qWaitFor([&asked] { return !asked.isEmpty(); }, 5000));
    EXPECT_EQ(asked.toStdString(),
              "Write back to " + edit.serial + " (" + edit.mac + ") the values it had before its write of " +
                  edit.time + " (pathlume edit)?\n\nGATEWAY: 10.1.2.254 -> " +
                  original.values[KEY_GATEWAY] + "\nHOST_NAME: lobby-printer -> " +
                  original.values[KEY_HOST_NAME]);
    QTest::qWait(200);
    EXPECT_EQ(rig_->sim().RequestsHandled(), requests + 1) << "the read, no write";
    EXPECT_TRUE(rig_->sim().LastWrite(dev).size() == 14u &&
                rig_->sim().LastWrite(dev)[12].value.rfind("lobby-printer", 0) == 0)
        << "the form's write is still the last";
    const QString read = QStringLiteral("Start getting config.\r\nDetect StopRecvFlg.\r\n");
    EXPECT_EQ(Log(), log + read);

    // OK: written, read again and checked as the form's OK does, journaled as a restore.
    onConfirm = [](const SeamCall&) { return IDOK; };
    dlg_->restoreAction()->trigger();
    EXPECT_EQ(BusyText(), QStringLiteral("Busy"));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Log(), log + read + read +
                         QStringLiteral("Start writing config.\r\nStart getting config.\r\n"
                                        "Detect StopRecvFlg.\r\nConfiguration verified.\r\n"));
    testrig::ExpectOnlyChanged(rig_->sim(), dev, original, -1);
    j = Journal();
    ASSERT_EQ(j.entries.size(), 2u);
    EXPECT_EQ(j.entries[1].number, 3);
    EXPECT_EQ(j.entries[1].action, "restore");
    EXPECT_EQ(j.entries[1].restores, 1);
    EXPECT_EQ(j.entries[1].outcome, "verified");
    EXPECT_TRUE(Messages().empty());

    // Undoing the restore would give the form's values back; nothing else
    // differs, so a second restore of the restore changes the same two keys.
    asked.clear();
    onConfirm = [&asked](const SeamCall& call) {
        asked = call.text;
        return IDCANCEL;
    };
    dlg_->restoreAction()->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&asked] { return !asked.isEmpty(); }, 5000));
    EXPECT_TRUE(asked.contains(QStringLiteral("(pathlume restore)?"))) << asked.toStdString();
    EXPECT_TRUE(asked.endsWith(QStringLiteral("-> lobby-printer"))) << asked.toStdString();

    // Someone else renames the device after it was read: the restore would
    // undo that, so it asks first, and Cancel writes nothing.
    ASSERT_TRUE(WaitIdle());
    rig_->sim().SetValue(dev, KEY_HOST_NAME, "colleague");
    asked.clear();
    const int before = rig_->sim().RequestsHandled();
    dlg_->restoreAction()->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&asked] { return !asked.isEmpty(); }, 5000));
    EXPECT_EQ(asked.toStdString(), "HOST_NAME is colleague now, not " + original.values[KEY_HOST_NAME] +
                                       " as entry 3 wrote it. Nothing was restored.\n\nRestore anyway?");
    QTest::qWait(200);
    EXPECT_EQ(rig_->sim().RequestsHandled(), before + 1) << "the read, no write";
    EXPECT_EQ(rig_->sim().Value(dev, KEY_HOST_NAME), "colleague");
}

// A journal that cannot be written is told in the status log; the write
// happens and is checked as usual.
TEST_F(JournalFlowTest, AJournalThatCannotBeWrittenIsToldInTheLog)
{
#ifdef _WIN32
    const std::string sep = "\\";
#else
    const std::string sep = "/";
#endif
    const std::string state = std::getenv(testrig::kStateVariable);
    // A file name beyond ASCII: the log shows what Latin-1 can, '?' for the rest.
    const std::string notAFolder = state + sep + "a-fil\u00e9-\u6587";
    std::ofstream(notAFolder) << "x\n";
    OpenAndSeek(1);
    ClickRow(0);
    ASSERT_TRUE(WaitIdle());
    testrig::SetEnv(testrig::kStateVariable, notAFolder);
    EditHostAndGateway();
    testrig::SetEnv(testrig::kStateVariable, state);
    const std::string told = "Configuration verified.\r\nCannot record this write in " + state + sep +
                             "a-fil\u00e9-?" + sep + "pathlume" + sep + "writes.jsonl: ";
#ifdef _WIN32   // the C library's text for what stands in the way differs
    EXPECT_TRUE(Log().contains(QString::fromStdString(told)) && Log().endsWith(QLatin1String(".\r\n")))
        << Log().toStdString();
#else
    EXPECT_TRUE(Log().endsWith(QString::fromStdString(told + "Not a directory.\r\n"))) << Log().toStdString();
#endif
    EXPECT_EQ(rig_->sim().Value(DeviceOfRow(0), KEY_HOST_NAME), "lobby-printer");
    std::remove(notAFolder.c_str());
}

}  // namespace
