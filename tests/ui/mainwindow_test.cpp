#include <QAction>
#include <QAbstractItemModel>
#include <QApplication>
#include <QEventLoop>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <functional>
#include <map>
#include <random>
#include <thread>
#include <cerrno>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "controls.h"
#include "kestrelapp.h"
#include "loopback_peer.h"
#include "mainwindow_layout.h"
#include "rxring.h"
#include "socketio.h"
#include "window_fixture.h"

namespace {

QStringList Rows(CDeviceListCtrl* list, int column)
{
    QStringList out;
    for (int i = 0; i < list->GetItemCount(); ++i)
        out << list->GetItemText(i, column);
    return out;
}

using MainWindowTest = WindowTest;

TEST_F(MainWindowTest, StartUpState)
{
    Open({});
    EXPECT_EQ(dlg_->windowTitle(), QStringLiteral("Varden Pathlume"));
    EXPECT_EQ(List()->GetItemCount(), 0);
    ASSERT_EQ(List()->columnCount(), 6);
    const char* headings[] = {"Serial Number", "Mac Address", "Device Name",
                              "ROM Version",   "IP Address",  "Host Name"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(List()->headerItem()->text(i), QString::fromLatin1(headings[i]));
        EXPECT_GE(List()->columnWidth(i), 105);
    }
    EXPECT_EQ(Edit(IDC_EDT_TIMEOUT)->text(), QStringLiteral("3"));
    EXPECT_EQ(BusyText(), QStringLiteral("Idle"));
    EXPECT_TRUE(Log().isEmpty());
    EXPECT_TRUE(ConfigBox().isEmpty());
    EXPECT_TRUE(dlg_->timerRunning());
    EXPECT_EQ(GetRecvTmo(), 3);

    // A fixed frame with a minimise box and no maximise box.
    EXPECT_TRUE(dlg_->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(dlg_->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(dlg_->minimumSize(), dlg_->maximumSize());
}

TEST_F(MainWindowTest, ControlsCarryIdsNamesAndTemplatePositions)
{
    Open({});
    const DialogUnits dlu(dlg_->font());
    for (const ControlPlace& c : kMainWindowControls) {
        QWidget* w = FindControl(dlg_.get(), c.id);
        ASSERT_NE(w, nullptr) << c.id;
        EXPECT_EQ(w->property("controlId").toInt(), c.id);
        EXPECT_FALSE(w->accessibleName().isEmpty()) << c.id;
        EXPECT_EQ(w->geometry(), dlu.Rect(c.x, c.y, c.w, c.h)) << c.id;
        if (c.text) {
            // The caption carries its mnemonic and reads the same without it.
            EXPECT_EQ(qobject_cast<QPushButton*>(w)->text(), QString::fromLatin1(c.text));
            EXPECT_EQ(w->accessibleName(), QString::fromLatin1(c.text).remove(QLatin1Char('&')));
        }
    }
    EXPECT_EQ(dlg_->size(), QSize(dlu.X(kMainWindowWidth), dlu.Y(kMainWindowHeight)));
    EXPECT_TRUE(Edit(IDC_EDT_BUSY)->isReadOnly());
    EXPECT_FALSE(Edit(IDC_EDT_TIMEOUT)->isReadOnly());
    EXPECT_EQ(Edit(IDC_EDT_TIMEOUT)->alignment() & Qt::AlignRight, Qt::AlignRight);
    for (int id : {IDC_BTN_SEEK, IDC_BTN_EDIT_CONFIG, IDC_BTN_STOP}) {
        EXPECT_FALSE(Button(id)->autoDefault());
        EXPECT_FALSE(Button(id)->isDefault());
    }

    // Tab order: Seek, Edit config, list, Stop, Timeout.
    const int order[] = {IDC_BTN_SEEK, IDC_BTN_EDIT_CONFIG, IDC_LST_DEVICE, IDC_BTN_STOP,
                         IDC_EDT_TIMEOUT};
    QWidget* w = FindControl(dlg_.get(), order[0]);
    for (size_t i = 1; i < std::size(order); ++i) {
        do {
            w = w->nextInFocusChain();
        } while (w != dlg_.get() && !(w->focusPolicy() & Qt::TabFocus));
        EXPECT_EQ(ControlId(w), order[i]) << "after " << order[i - 1];
    }
}

TEST_F(MainWindowTest, ColumnsShowTheirLongestValuesInTheFontInUse)
{
    Open({});
    CDeviceListCtrl* list = List();
    auto widest = [](const QFontMetrics& fm, const QString& alphabet) {
        int w = 0;
        for (QChar c : alphabet)
            w = std::max(w, fm.horizontalAdvance(c));
        return w;
    };
    const int padding =
        2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
    auto allFit = [&](const char* what) {
        const QFontMetrics fm(list->font());
        // Any 12-digit MAC and any dotted address fit, rows or not.
        EXPECT_GE(list->columnWidth(1),
                  12 * widest(fm, QStringLiteral("0123456789ABCDEF")) + padding) << what;
        EXPECT_GE(list->columnWidth(4), 12 * widest(fm, QStringLiteral("0123456789")) +
                                            fm.horizontalAdvance(QStringLiteral("...")) + padding)
            << what;
        for (int c = 0; c < 6; ++c) {
            EXPECT_GE(list->columnWidth(c), 105) << what << " column " << c;
            // The widths noted as cells were written cover what the view
            // itself measures (bold marked row included).
            EXPECT_GE(list->columnWidth(c), static_cast<QAbstractItemView*>(list)->sizeHintForColumn(c))
                << what << " column " << c;
            for (int r = 0; r < list->GetItemCount(); ++r)
                EXPECT_GE(list->columnWidth(c),
                          fm.horizontalAdvance(list->GetItemText(r, c)) + padding)
                    << what << " row " << r << " column " << c;
        }
    };
    auto hostTakesTheRest = [&] {
        int sum = 0;
        for (int c = 0; c < 6; ++c)
            sum += list->columnWidth(c);
        return sum == list->viewport()->width();
    };
    allFit("empty list");
    EXPECT_TRUE(hostTakesTheRest());

    // Full-length values: typical ones, and the widest letters the fields may hold.
    struct Row {
        char serial[kSerialSize], mac[kMacSize], dev[17], ver[17], ip[16], host[33];
    } rows[] = {
        {"SN20260000001234", "02C0EEA40002", "NP-2400", "1.15.5", "192.168.177.222", "print-A40002"},
        {"SN20260000005678", "02C0EE407D00", "NP-3100 PLUS", "10.105.1235.0", "10.0.0.1", "lobby"},
    };
    for (Row& r : rows)
        ASSERT_GE(dlg_->SetDeviceRow(0, 0, r.serial, r.mac, r.dev, r.ver, r.ip, r.host), 0);
    allFit("typical rows");
    EXPECT_TRUE(hostTakesTheRest()) << "typical rows fit the window without scrolling";
    EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);

    Row wide = {"WWWWWWWWWWWWWWWW", "DDDDDDDDDDDD", "MMMMMMMMMMMMMMMM", "@@@@@@@@@@@@@@@@",
                "255.255.255.255", "host"};
    ASSERT_GE(dlg_->SetDeviceRow(0, 0, wide.serial, wide.mac, wide.dev, wide.ver, wide.ip, wide.host), 0);
    allFit("widest letters");
    list->MarkDevice(QStringLiteral("WWWWWWWWWWWWWWWW"), QStringLiteral("DDDDDDDDDDDD"));
    allFit("widest letters in bold");

    // A large font: everything still fits, and the list scrolls sideways.
    QFont big = list->font();
    big.setPointSize(big.pointSize() * 2);
    list->setFont(big);
    allFit("large font");
    EXPECT_GT(list->horizontalScrollBar()->maximum(), 0);

    // Emptied by a Seek, the text columns go back to their headings' width.
    list->setFont(dlg_->font());
    dlg_->ClearDeviceList();
    allFit("emptied");
    EXPECT_TRUE(hostTakesTheRest());
}

TEST_F(MainWindowTest, SeekShowsDevicesSortedWhateverTheAnswerOrder)
{
    auto opt = testrig::LoopbackSimOptions();
    opt.jitterMs = 250;
    opt.seed = 5;
    // Two of the five share a serial number (a NIC cloned with its old one).
    std::vector<devsim::Device> devs = devsim::GenerateDevices(5, 31);
    devs[3].values[KEY_SERIAL_NUM] = devs[1].values[KEY_SERIAL_NUM];
    const QString shared = QString::fromStdString(devs[1].values[KEY_SERIAL_NUM]);
    Open(devs, opt);
    SetTimeoutText(QStringLiteral("0"));
    Click(IDC_BTN_SEEK);
    EXPECT_EQ(BusyText(), QStringLiteral("Busy"));
    EXPECT_TRUE(Log().startsWith(QStringLiteral("Start finding.\r\n")));
    ASSERT_TRUE(WaitIdle());

    // One row per device, by serial number and then MAC address.
    const QStringList serials = Rows(List(), 0);
    const QStringList macs = Rows(List(), 1);
    ASSERT_EQ(serials.size(), 5);
    EXPECT_EQ(serials.count(shared), 2);
    for (int r = 1; r < 5; ++r) {
        const int c = QString::localeAwareCompare(serials[r - 1], serials[r]);
        EXPECT_TRUE(c < 0 || (c == 0 && QString::localeAwareCompare(macs[r - 1], macs[r]) < 0))
            << serials.join(QLatin1Char(' ')).toStdString();
    }
    // Each row shows its own device's fields.
    for (int r = 0; r < 5; ++r) {
        size_t dev = 0;
        while (dev < 5 && rig_->sim().Value(dev, KEY_MAC) != macs[r].toStdString())
            ++dev;
        ASSERT_LT(dev, 5u);
        EXPECT_EQ(serials[r].toStdString(), rig_->sim().Value(dev, KEY_SERIAL_NUM));
        EXPECT_EQ(List()->GetItemText(r, 2).toStdString(), rig_->sim().Value(dev, KEY_DEV));
        EXPECT_EQ(List()->GetItemText(r, 5).toStdString(), rig_->sim().Value(dev, KEY_HOST_NAME));
    }
    const QString log = Log();
    const QRegularExpression shape(QStringLiteral(
        "^Start finding\\.\\r\\n(Detect UpdateInfo\\.\\r\\n)+Detected receiving timeout\\.\\r\\n"
        "Detect StopRecvFlg\\.\\r\\n5 devices found\\.\\r\\n"
        "Serial number %1 answered from 2 MAC addresses\\.\\r\\n$").arg(shared));
    EXPECT_TRUE(shape.match(log).hasMatch()) << log.toStdString();
    EXPECT_EQ(BusyText(), QStringLiteral("Idle"));

    // A click on either of the two reads that one device's configuration.
    const int second = static_cast<int>(serials.lastIndexOf(shared));
    ClickRow(second);
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(ConfigBox().contains(QStringLiteral("MAC = ") + macs[second])) << ConfigBox().toStdString();
}

TEST_F(MainWindowTest, AFullListSaysThatDevicesWereLeftOut)
{
    Open(devsim::GenerateDevices(6, 44));
    SetDeviceCapacity(4);   // the window keeps what the engine was given
    SetTimeoutText(QStringLiteral("0"));
    Click(IDC_BTN_SEEK);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(List()->GetItemCount(), 4);
    EXPECT_TRUE(Log().endsWith(QStringLiteral("Detected receiving timeout.\r\nDetect StopRecvFlg.\r\n"
                                              "4 devices found.\r\n"
                                              "More devices answered than the 4 listed.\r\n")))
        << Log().toStdString();
    SetDeviceCapacity(kDeviceTableMax);
}

// A thousand devices answering at once: every one becomes a row, in order,
// showing its own device's six fields, and the list scrolls to the last.
TEST_F(MainWindowTest, AThousandDevicesAreAllListed)
{
    Open(devsim::GenerateDevices(1000, 61));
    SetTimeoutText(QStringLiteral("0"));
    Click(IDC_BTN_SEEK);
    ASSERT_TRUE(WaitIdle(15000));
    ASSERT_EQ(List()->GetItemCount(), 1000);
    const QStringList serials = Rows(List(), 0);
    for (int r = 1; r < serials.size(); ++r)
        ASSERT_LT(QString::localeAwareCompare(serials[r - 1], serials[r]), 0) << r;
    const int keys[] = {KEY_SERIAL_NUM, KEY_MAC, KEY_DEV, KEY_VER, KEY_IP_CUR, KEY_HOST_NAME};
    std::map<QString, size_t> byMac;
    for (size_t i = 0; i < 1000; ++i)
        byMac[QString::fromStdString(rig_->sim().Value(i, KEY_MAC))] = i;
    for (int r = 0; r < 1000; ++r) {
        const auto dev = byMac.find(List()->GetItemText(r, 1));
        ASSERT_NE(dev, byMac.end()) << "row " << r;
        for (int c = 0; c < 6; ++c)
            ASSERT_EQ(List()->GetItemText(r, c).toStdString(), rig_->sim().Value(dev->second, keys[c]))
                << "row " << r << " column " << c;
        byMac.erase(dev);   // each device is one row
    }
    EXPECT_TRUE(Log().endsWith(QStringLiteral("1000 devices found.\r\n"))) << Log().toStdString();
    EXPECT_GT(List()->verticalScrollBar()->maximum(), 0);
    List()->scrollToItem(List()->topLevelItem(999));
    EXPECT_TRUE(List()->viewport()->rect().intersects(List()->visualItemRect(List()->topLevelItem(999))));
}

TEST_F(MainWindowTest, AReplyWithAnEmptySerialNumberHidesNoDevice)
{
    auto opt = testrig::LoopbackSimOptions();
    opt.delayMs = 200;   // the genuine devices answer after the bad reply
    Open(devsim::GenerateDevices(3, 12), opt);
    SetTimeoutText(QStringLiteral("0"));
    Click(IDC_BTN_SEEK);
    const std::string bad = std::string("\x00\x0D\xAC\x00\x0D\xAC\xFF\x01\x00\x00\x00", 11) +
                            "MAC = 02C0EE0000EE\r\nSERIAL_NUM =                 \r\n*END* = \r\n";
    testrig::LoopbackPeer peer;
    ASSERT_GT(peer.SendTo(GetRecvPort(), reinterpret_cast<const uint8_t*>(bad.data()), bad.size()), 0);
    ASSERT_TRUE(WaitIdle());
    QStringList serials = Rows(List(), 0);
    serials.sort();
    QStringList want;
    for (size_t i = 0; i < 3; ++i)
        want << QString::fromStdString(rig_->sim().Value(i, KEY_SERIAL_NUM));
    want.sort();
    EXPECT_EQ(serials, want);
}

TEST_F(MainWindowTest, SeekWhileBusyIsRefusedAndChangesNothing)
{
    Open(devsim::GenerateDevices(2, 3));
    SetTimeoutText(QStringLiteral("30"));
    Click(IDC_BTN_SEEK);
    ASSERT_TRUE(QTest::qWaitFor([this] { return List()->GetItemCount() == 2; }, 3000));
    const QString logBefore = Log();
    Click(IDC_BTN_SEEK);
    const auto msgs = Messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].text, QStringLiteral("Current condition is busy. Please try again."));
    EXPECT_EQ(msgs[0].icon, MsgIcon::Stop);
    EXPECT_EQ(msgs[0].title, DisplayName());
    EXPECT_EQ(List()->GetItemCount(), 2);
    EXPECT_EQ(Log(), logBefore);
    EXPECT_EQ(BusyText(), QStringLiteral("Busy"));

    // Stop: the rows stay and no timeout is logged.
    Click(IDC_BTN_STOP);
    ASSERT_TRUE(WaitIdle(2000));
    EXPECT_EQ(List()->GetItemCount(), 2);
    EXPECT_EQ(Count(Log(), QStringLiteral("Detected receiving timeout.")), 0);
    EXPECT_TRUE(Log().endsWith(QStringLiteral("Detect StopRecvFlg.\r\n2 devices found.\r\n")));

    // Stop while idle: nothing is set, nothing logged.
    const QString idleLog = Log();
    Click(IDC_BTN_STOP);
    QTest::qWait(250);
    EXPECT_EQ(GetStopReqFlg(), 0);
    EXPECT_EQ(Log(), idleLog);
}

TEST_F(MainWindowTest, FindWithoutDevicesEndsAfterFourSecondsInOneTick)
{
    Open({});
    QElapsedTimer t;
    t.start();
    Click(IDC_BTN_SEEK);
    // Watch the log tick by tick: the two end lines come together.
    bool together = false;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const QString log = Log();
            if (log.contains(QStringLiteral("timeout"))) {
                together = log == QStringLiteral("Start finding.\r\nDetected receiving timeout.\r\n"
                                                 "Detect StopRecvFlg.\r\nNo device found.\r\n");
                return true;
            }
            return false;
        },
        8000));
    EXPECT_TRUE(together) << Log().toStdString();
    EXPECT_GE(t.elapsed(), 4000);
    EXPECT_LT(t.elapsed(), 4800);
    EXPECT_EQ(BusyText(), QStringLiteral("Idle"));
}

TEST_F(MainWindowTest, PortHeldBeforeTheWindowOpensIsToldAndTriedAgainAtEverySeek)
{
    auto holder = std::make_unique<testrig::LoopbackPeer>();   // another program on the receive port
    const uint16_t port = holder->port();
    rig_ = std::make_unique<testrig::SimRig>(devsim::GenerateDevices(1, 4));
    ASSERT_TRUE(rig_->ok());
    UdpEndpoints ep = rig_->Endpoints();
    ep.recvPort = port;
    dlg_ = std::make_unique<CKestrelDlg>(nullptr, ep);
    dlg_->EnsureInitialized();
    rig_->StartReplyingTo(port);
    dlg_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg_.get()));

    // The system's own words for a port another program holds. The peer holds
    // it exclusively (else Windows would let the window share it), and Windows
    // refuses a bind to such a port as access denied.
#ifdef _WIN32
    const int inUse = 10013;   // WSAEACCES
#else
    const int inUse = EADDRINUSE;
#endif
    char inUseText[256] = {};
    SocketErrorText(inUse, inUseText, sizeof inUseText);
    const QString why = QStringLiteral("Cannot receive on UDP port %1: %2.\r\n")
                            .arg(port)
                            .arg(QString::fromLocal8Bit(inUseText));
    EXPECT_EQ(Log(), why) << Log().toStdString();
    SetTimeoutText(QStringLiteral("0"));
    Click(IDC_BTN_SEEK);
    ASSERT_TRUE(WaitIdle(4000));
    EXPECT_EQ(Log(), why + QStringLiteral("Start finding.\r\n") + why +
                         QStringLiteral("Detected receiving timeout.\r\nDetect StopRecvFlg.\r\n"
                                        "No device found.\r\n"));
    EXPECT_EQ(List()->GetItemCount(), 0);
    // The request did go out; only its answer had nowhere to arrive.
    auto finds = [this] {
        const auto lines = rig_->lines();
        return std::count_if(lines.begin(), lines.end(),
                             [](const std::string& l) { return l.rfind("find from", 0) == 0; });
    };
    EXPECT_EQ(finds(), 1);

    // The other program ends: the next Seek takes the port, says so once,
    // and lists the device.
    holder.reset();
    const QString before = Log();
    Click(IDC_BTN_SEEK);
    ASSERT_TRUE(WaitIdle(4000));
    EXPECT_TRUE(Log().startsWith(before + QStringLiteral("Start finding.\r\nReceiving on UDP port %1.\r\n")
                                              .arg(port)))
        << Log().toStdString();
    EXPECT_TRUE(Log().endsWith(QStringLiteral("1 device found.\r\n")));
    EXPECT_EQ(List()->GetItemCount(), 1);
    Click(IDC_BTN_SEEK);
    ASSERT_TRUE(WaitIdle(4000));
    EXPECT_EQ(Count(Log(), QStringLiteral("Receiving on UDP port")), 1);
    EXPECT_EQ(Count(Log(), QStringLiteral("Cannot receive")), 2);
    EXPECT_EQ(List()->GetItemCount(), 1);
}

TEST_F(MainWindowTest, TimeoutBoxReachesTheEngineUnchecked)
{
    Open({});
    struct Case {
        const char* text;
        int expected;
    } cases[] = {{"12abc", 12}, {"", 0}, {"abc", 0}, {"-5", -5}, {"500", 500}, {"  7", 7}};
    for (const Case& c : cases) {
        SetTimeoutText(QString::fromLatin1(c.text));
        Click(IDC_BTN_SEEK);
        EXPECT_EQ(GetRecvTmo(), c.expected) << c.text;
        EXPECT_TRUE(Messages().empty()) << c.text;
        Click(IDC_BTN_STOP);
        ASSERT_TRUE(WaitIdle(3000)) << c.text;
    }
}

TEST_F(MainWindowTest, StatusLogBoundary)
{
    Open({});
    const char* msg = "0123456789abc\r\n";   // 15 characters ...
    const std::string sixteen = std::string(msg) + "!";   // ... and 16
    struct Case {
        int existing;
        bool kept;
    } cases[] = {{2031, true}, {2032, false}, {0, true}};
    for (const Case& c : cases) {
        auto* log = Ctl<CMultiLineEdit>(IDC_EDT_STATUS);
        const QString before(c.existing, QLatin1Char('x'));
        log->SetWindowText(before);
        dlg_->AppendStatus(sixteen.c_str());
        const QString want = c.kept ? before + QString::fromStdString(sixteen)
                                    : QString::fromStdString(sixteen);
        EXPECT_EQ(log->GetWindowText(), want) << c.existing;
    }
    dlg_->AppendStatus(nullptr);   // nothing happens
    EXPECT_EQ(Log(), QString::fromStdString(sixteen));

    // After every append the newest line is in view, the first one scrolled away.
    auto* log = Ctl<CMultiLineEdit>(IDC_EDT_STATUS);
    auto lineVisible = [log](int block) {
        QTextCursor c(log->document()->findBlockByNumber(block));
        return log->viewport()->rect().contains(log->cursorRect(c));
    };
    for (int i = 0; i < 12; ++i) {
        dlg_->AppendStatus(QStringLiteral("Line %1.\r\n").arg(i).toLatin1().constData());
        const int last = log->document()->blockCount() - 2;   // the text ends with a line end
        EXPECT_TRUE(log->document()->findBlockByNumber(last).text().endsWith(
            QStringLiteral("Line %1.").arg(i)));
        EXPECT_TRUE(lineVisible(last)) << i;
    }
    EXPECT_FALSE(lineVisible(0));
}

TEST_F(MainWindowTest, EnterValidatesTheTimeoutBoxAndEscapeCancels)
{
    Open({});
    struct Case {
        const char* text;
        const char* message;   // nullptr: the window closes
    } cases[] = {
        {"0", "Enter an integer between 1 and 120."},
        {"121", "Enter an integer between 1 and 120."},
        {"", "Enter a positive integer."},
        {"x1", "Enter a positive integer."},
        {"7", nullptr},
    };
    for (const Case& c : cases) {
        UiSeam::ClearCalls();
        SetTimeoutText(QString::fromLatin1(c.text));
        Edit(IDC_EDT_TIMEOUT)->setFocus();
        QTest::keyClick(Edit(IDC_EDT_TIMEOUT), Qt::Key_Return);
        if (c.message) {
            const auto msgs = Messages();
            ASSERT_EQ(msgs.size(), 1u) << c.text;
            EXPECT_EQ(msgs[0].text, QString::fromLatin1(c.message));
            EXPECT_EQ(msgs[0].icon, MsgIcon::Exclamation);
            EXPECT_TRUE(dlg_->isVisible()) << c.text;
        } else {
            EXPECT_TRUE(Messages().empty());
            EXPECT_FALSE(dlg_->isVisible());
            EXPECT_EQ(dlg_->result(), IDOK);
            EXPECT_EQ(dlg_->m_uTimeout, 7u);
        }
    }

    // Enter on a focused push button presses that button instead.
    dlg_->show();
    SetTimeoutText(QStringLiteral("0"));
    Button(IDC_BTN_EDIT_CONFIG)->setFocus();
    UiSeam::ClearCalls();
    QTest::keyClick(Button(IDC_BTN_EDIT_CONFIG), Qt::Key_Return);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, QStringLiteral("Please select a device."));

    QTest::keyClick(dlg_.get(), Qt::Key_Escape);
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_EQ(dlg_->result(), IDCANCEL);
}

TEST_F(MainWindowTest, ClosingDuringAFindEndsCleanly)
{
    auto opt = testrig::LoopbackSimOptions();
    opt.fault = devsim::Fault::NoTerminator;   // the worker sits inside a frame
    Open(devsim::GenerateDevices(1, 1), opt);
    SetTimeoutText(QStringLiteral("60"));
    Click(IDC_BTN_SEEK);
    QTest::qWait(300);
    QElapsedTimer t;
    t.start();
    dlg_->close();
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_FALSE(dlg_->timerRunning());
    EXPECT_EQ(GetReqKind(), 0);
    EXPECT_EQ(dlg_->result(), IDCANCEL);
    const QString log = Log();
    QTest::qWait(300);
    EXPECT_EQ(Log(), log) << "no log lines after the close";
    dlg_.reset();
    EXPECT_LT(t.elapsed(), 1500);
}

TEST_F(MainWindowTest, ClosingFromAnEventLoopInsideATickLetsTheTickFinish)
{
    // A row appears inside a tick; an event loop run right there closes the
    // window, and the tick then carries on to its end on the window's own
    // state (under ASan or memcheck a freed member would be reported here).
    Open(devsim::GenerateDevices(2, 11));
    SetTimeoutText(QStringLiteral("0"));
    int nested = 0;
    QObject::connect(List()->model(), &QAbstractItemModel::rowsInserted, dlg_.get(), [&] {
        if (nested++ != 0)
            return;
        QEventLoop loop;
        QTimer::singleShot(0, &loop, [&] {
            dlg_->close();
            loop.quit();
        });
        loop.exec();
    });
    Click(IDC_BTN_SEEK);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg_->isVisible(); }, 5000));
    EXPECT_GE(nested, 1);
    EXPECT_FALSE(dlg_->timerRunning());
    EXPECT_EQ(GetReqKind(), 0);
    EXPECT_EQ(dlg_->result(), IDCANCEL);
    QTest::qWait(250);   // ticks that were due find the window closed
    EXPECT_FALSE(dlg_->timerRunning());
}

// The worker wakes the monitor: with the 100 ms timer stopped, a device's
// row still appears, and Stop still brings the window back to "Idle".
TEST_F(MainWindowTest, TheWorkerWakesTheMonitorWithoutItsTimer)
{
    Open(devsim::GenerateDevices(1, 21));
    dlg_->StopMonitorTimer();
    SetTimeoutText(QStringLiteral("30"));
    Click(IDC_BTN_SEEK);
    ASSERT_TRUE(QTest::qWaitFor([this] { return List()->GetItemCount() == 1; }, 3000));
    EXPECT_EQ(List()->GetItemText(0, 0).toStdString(), rig_->sim().Value(0, KEY_SERIAL_NUM));
    EXPECT_EQ(BusyText(), QStringLiteral("Busy"));
    Click(IDC_BTN_STOP);
    ASSERT_TRUE(WaitIdle(2000));
    EXPECT_EQ(Log(), QStringLiteral("Start finding.\r\nDetect UpdateInfo.\r\n"
                                    "Detect StopRecvFlg.\r\n1 device found.\r\n"));
}

// The worker raises its last event and ends between the monitor's first
// take of the events and its look at the end flag: the second take still
// shows it, the last row of a Find as the configuration of a fetch.
std::atomic<int> g_looks{0};
std::atomic<bool> g_resultsBeforeTheSeam{false};
std::function<bool()> g_resultsIn;
void WorkerEndsInsideTheLook()
{
    if (g_looks++ != 0)
        return;
    g_resultsBeforeTheSeam = g_resultsIn();
    EXPECT_TRUE(testrig::PumpUntil([] { return GetStopRecvFlg() != 0; }, 5000));
}

TEST_F(MainWindowTest, AnEventRaisedJustBeforeTheWorkerEndsIsSeen)
{
    auto opt = testrig::LoopbackSimOptions();
    opt.delayMs = 500;   // every answer comes well after the first look
    Open(devsim::GenerateDevices(1, 23), opt);
    const QString mac = QString::fromStdString(rig_->sim().Value(0, KEY_MAC));
    struct Case {
        const char* what;
        std::function<void()> start;
        std::function<bool()> resultsIn;
        std::function<void()> check;
    } cases[] = {
        {"find",
         [&] {
             SetTimeoutText(QStringLiteral("0"));
             Click(IDC_BTN_SEEK);
         },
         [] { return GetDevCount() > 0; },
         [&] {
             EXPECT_EQ(List()->GetItemCount(), 1);
             EXPECT_EQ(Log(), QStringLiteral("Start finding.\r\nDetect UpdateInfo.\r\n"
                                             "Detected receiving timeout.\r\nDetect StopRecvFlg.\r\n"
                                             "1 device found.\r\n"));
         }},
        {"fetch",
         [&] {
             SetTimeoutText(QStringLiteral("3"));
             ClickRow(0);
         },
         [&] {
             return ReplyTableHoldsConfigOf(mac.toLatin1().constData(),
                                            rig_->sim().Value(0, KEY_SERIAL_NUM).c_str());
         },
         [&] {
             EXPECT_TRUE(ConfigBox().contains(QStringLiteral("MAC = ") + mac)) << ConfigBox().toStdString();
             EXPECT_TRUE(Log().endsWith(QStringLiteral("Start getting config.\r\nDetect StopRecvFlg.\r\n")));
         }},
    };
    for (const Case& c : cases) {
        g_looks = 0;
        g_resultsIn = c.resultsIn;
        SetProgressSeamForTest(&WorkerEndsInsideTheLook);
        c.start();
        const bool idle = WaitIdle(6000);
        SetProgressSeamForTest(nullptr);
        ASSERT_TRUE(idle) << c.what;
        EXPECT_GE(g_looks.load(), 1) << c.what;
        EXPECT_FALSE(g_resultsBeforeTheSeam.load()) << c.what << ": the first take already had the results";
        c.check();
    }
}

TEST_F(MainWindowTest, DeviceFoundJustBeforeTheTimeoutIsListed)
{
    auto opt = testrig::LoopbackSimOptions();
    opt.delayMs = 700;
    Open(devsim::GenerateDevices(1, 8), opt);
    SetTimeoutText(QStringLiteral("0"));   // the Find ends after 1000 ms
    Click(IDC_BTN_SEEK);
    // Once the answer is in the ring, keep the window from ticking until the
    // worker has stored it, timed out and ended.
    ASSERT_TRUE(QTest::qWaitFor([] { return RxRing.writeIndex.load() != 0; }, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    ASSERT_EQ(GetStopRecvFlg(), 1);
    ASSERT_TRUE(WaitIdle(2000));
    EXPECT_EQ(List()->GetItemCount(), 1);
    EXPECT_EQ(Log(), QStringLiteral("Start finding.\r\nDetect UpdateInfo.\r\n"
                                    "Detected receiving timeout.\r\nDetect StopRecvFlg.\r\n"
                                    "1 device found.\r\n"));
}

TEST_F(MainWindowTest, AboutBoxFromTheWindowMenu)
{
    Open(devsim::GenerateDevices(1, 2));
    QMenu* menu = dlg_->systemMenu();
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> actions = menu->actions();
    ASSERT_GE(actions.size(), 2);
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
    EXPECT_EQ(actions.last()->text(), QStringLiteral("&About Varden Pathlume..."));
    EXPECT_EQ(actions.last()->data().toUInt(), 16u);

    // Opened while a request runs: the request carries on behind it.
    SetTimeoutText(QStringLiteral("0"));
    Click(IDC_BTN_SEEK);
    QString aboutTitle, versionText;
    onModal = [&](const SeamCall& call) {
        aboutTitle = call.text;
        for (QLabel* l : call.dialog->findChildren<QLabel*>())
            if (l->text().startsWith(QStringLiteral("PATHLUME")))
                versionText = l->text();
        EXPECT_EQ(call.dialog->property("templateId").toInt(), IDD_ABOUTBOX);
        ExpectModalOverMainWindow(call.dialog);
        QTest::qWait(1500);   // the main window's timer keeps running meanwhile
        QTest::mouseClick(GetDlgItem<QPushButton>(call.dialog, IDOK), Qt::LeftButton);
        return IDCANCEL;
    };
    actions.last()->trigger();
    EXPECT_EQ(aboutTitle, QStringLiteral("About Varden Pathlume"));
    EXPECT_EQ(versionText, QStringLiteral("PATHLUME Version 1.0"));
    EXPECT_EQ(BusyText(), QStringLiteral("Idle"));
    EXPECT_EQ(List()->GetItemCount(), 1);
    EXPECT_TRUE(dlg_->isVisible());

    // Another command goes to the default handling: Close closes.
    dlg_->OnSysCommand(0xF060, 0);
    EXPECT_FALSE(dlg_->isVisible());
}

TEST_F(MainWindowTest, RequestsCarryOnInsideARealNestedModalLoop)
{
    Open(devsim::GenerateDevices(2, 9));
    UiSeam::SetAnswerer(nullptr);   // a real modal run with its own event loop
    SetTimeoutText(QStringLiteral("0"));
    Click(IDC_BTN_SEEK);
    QElapsedTimer t;
    t.start();
    QString seenModal;
    QTimer closer;   // closes the box from inside its loop once the Find is over
    closer.setInterval(50);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seenModal = box->windowTitle();
        if (BusyText() == QLatin1String("Idle") || t.elapsed() > 6000)
            box->done(IDOK);
    });
    closer.start();
    dlg_->OnSysCommand(IDM_ABOUTBOX, 0);   // returns when the box is closed
    closer.stop();
    EXPECT_EQ(seenModal, QStringLiteral("About Varden Pathlume"));
    EXPECT_LT(t.elapsed(), 6000);
    EXPECT_EQ(BusyText(), QStringLiteral("Idle"));
    EXPECT_EQ(List()->GetItemCount(), 2);
    EXPECT_TRUE(Log().endsWith(QStringLiteral("Detected receiving timeout.\r\nDetect StopRecvFlg.\r\n"
                                              "2 devices found.\r\n")));
}

#ifndef _WIN32   // SIGTERM is POSIX's; on Windows a session's end reaches the window as a close
TEST_F(MainWindowTest, ShellRunsAnOrdinaryTopLevelWindowThatSigtermCloses)
{
    Open(devsim::GenerateDevices(1, 3));
    UiSeam::SetAnswerer(nullptr);   // the About box runs its own modal loop
    bool sawWindow = false, sawAbout = false, watchdogFired = false;
    QTimer::singleShot(50, dlg_.get(), [&] {   // inside the shell's loop
        sawWindow = true;
        EXPECT_EQ(dlg_->windowType(), Qt::Window);
        EXPECT_FALSE(dlg_->isModal());
        EXPECT_EQ(dlg_->windowModality(), Qt::NonModal);
        ASSERT_NE(dlg_->windowHandle(), nullptr);
        EXPECT_EQ(dlg_->windowHandle()->transientParent(), nullptr);
        EXPECT_FALSE(dlg_->windowHandle()->isModal());
        EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("pathlume"));
        dlg_->OnSysCommand(IDM_ABOUTBOX, 0);   // returns once SIGTERM has closed it
    });
    QTimer poll;   // inside the About box's loop
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!about || sawAbout)
            return;
        sawAbout = true;
        ExpectModalOverMainWindow(about);
        ::kill(::getpid(), SIGTERM);
    });
    QTimer::singleShot(6000, dlg_.get(), [&] {   // only if SIGTERM closed nothing
        watchdogFired = true;
        if (QWidget* m = QApplication::activeModalWidget())
            m->close();
        dlg_->close();
    });
    poll.start();
    const int result = RunMainWindow(*dlg_);
    poll.stop();
    EXPECT_FALSE(watchdogFired);
    EXPECT_TRUE(sawWindow);
    EXPECT_TRUE(sawAbout);
    EXPECT_EQ(result, IDCANCEL);   // closed as by its close box
    EXPECT_FALSE(dlg_->isVisible());
    struct sigaction now = {};
    ASSERT_EQ(sigaction(SIGTERM, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_DFL);   // the program's handler lives only as long as the run
}
#endif

// A batch of rows lands where row by row each would have gone: among the
// rows already there, after those that sort equal, and rows of one batch
// that sort equal in the order given.
TEST(DeviceListTest, ABatchOfRowsGoesWhereRowByRowItWould)
{
    auto makeList = [] {
        auto list = std::make_unique<CDeviceListCtrl>();
        for (int c = 0; c < 6; ++c)
            list->InsertColumn(c, QStringLiteral("h%1").arg(c), 105);
        return list;
    };
    auto addRow = [](CDeviceListCtrl& list, const QStringList& cells) {
        const int r = list.InsertItem(0, cells[0], cells[1]);
        for (int c = 1; c < 6; ++c)
            list.SetItemText(r, c, cells[c]);
    };
    auto row = [](const char* serial, const char* mac, const char* host) {
        return QStringList{QString::fromLatin1(serial), QString::fromLatin1(mac), QStringLiteral("dev"),
                           QStringLiteral("1.0"), QStringLiteral("10.0.0.1"), QString::fromLatin1(host)};
    };
    struct Case {
        const char* what;
        std::vector<QStringList> before, batch;
    };
    std::vector<Case> cases = {
        {"into an empty list", {},
         {row("SN3", "02C0EE000003", "c"), row("SN1", "02C0EE000009", "b"), row("SN1", "02C0EE000001", "a")}},
        {"before, between and after", {row("SN2", "M", "x"), row("SN4", "M", "y")},
         {row("SN5", "M", "e"), row("SN1", "M", "a"), row("SN3", "M", "c"), row("SN3", "M", "d")}},
        {"equal to a row already there", {row("SN1", "M1", "old")},
         {row("SN1", "M1", "new"), row("SN1", "M0", "x"), row("SN1", "M1", "newer")}},
    };
    // Many rows falling between many others, as a long Find fills the list.
    Case many{"many among many", {}, {}};
    std::mt19937 rng(9);
    for (int i = 0; i < 300; ++i) {
        const std::string serial = "SN" + std::to_string(rng() % 400);
        const std::string mac = "02C0EE" + std::to_string(rng() % 4);
        (i < 150 ? many.before : many.batch).push_back(row(serial.c_str(), mac.c_str(), std::to_string(i).c_str()));
    }
    cases.push_back(many);
    for (const Case& c : cases) {
        auto batched = makeList();
        auto oneByOne = makeList();
        for (const QStringList& r : c.before) {
            addRow(*batched, r);
            addRow(*oneByOne, r);
        }
        batched->InsertRows(c.batch);
        for (const QStringList& r : c.batch)
            addRow(*oneByOne, r);
        EXPECT_EQ(batched->GetItemCount(), static_cast<int>(c.before.size() + c.batch.size())) << c.what;
        EXPECT_EQ(batched->CsvText(), oneByOne->CsvText()) << c.what;
    }
    // Spelled out for one case: the rows equal to the one already there
    // follow it in the order they came.
    auto list = makeList();
    addRow(*list, row("SN1", "M1", "old"));
    list->InsertRows(cases[2].batch);
    EXPECT_EQ(Rows(list.get(), 5), (QStringList{QStringLiteral("x"), QStringLiteral("old"),
                                                 QStringLiteral("new"), QStringLiteral("newer")}));
}

TEST_F(MainWindowTest, SetDeviceRowAndTrim)
{
    Open({});
    char buf[] = "abc   ";
    EXPECT_STREQ(CKestrelDlg::TrimTrailingBlanks(buf, 6), "abc");
    char blanks[] = "   ";
    EXPECT_STREQ(CKestrelDlg::TrimTrailingBlanks(blanks, 3), "");
    EXPECT_EQ(CKestrelDlg::TrimTrailingBlanks(nullptr, 3), nullptr);
    EXPECT_EQ(CKestrelDlg::TrimTrailingBlanks(buf, 0), nullptr);

    char s1[] = "B2  ", s2[] = "A1", mac[] = "02C0EE000001", dev[] = "dev", ver[] = "v",
         ip[] = "10.0.0.1", host[] = "", empty[] = "";
    EXPECT_EQ(dlg_->SetDeviceRow(0, 0, s1, mac, dev, ver, ip, host), 0);
    EXPECT_EQ(dlg_->SetDeviceRow(0, 5, s2, mac, dev, ver, ip, host), 0);   // sorted before "B2"
    EXPECT_EQ(List()->GetItemText(1, 0), QStringLiteral("B2"));
    EXPECT_EQ(List()->GetItemText(0, 5), QString());   // no host name: empty cell
    EXPECT_EQ(dlg_->SetDeviceRow(1, 1, empty, mac, dev, ver, ip, host), 1);
    EXPECT_EQ(List()->GetItemText(1, 0), QString());
    EXPECT_EQ(dlg_->SetDeviceRow(1, -1, s2, mac, dev, ver, ip, host), -1);
    EXPECT_EQ(dlg_->SetDeviceRow(1, 7, s2, mac, dev, ver, ip, host), -1);
    EXPECT_EQ(dlg_->SetDeviceRow(0, 0, nullptr, mac, dev, ver, ip, host), -1);
    EXPECT_EQ(List()->GetItemCount(), 2);
}

}  // namespace
