// The main window from the keyboard: mnemonics and F5, Space on a row chosen
// with the arrow keys, and the menus from the context-menu key, Shift+F10 and
// a right click.
#include <QApplication>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>

#include "codec.h"
#include "editconfigform.h"
#include "ipaddressctrl.h"
#include "window_fixture.h"

namespace {

using KeyboardTest = WindowTest;

TEST_F(KeyboardTest, MnemonicsAndF5PressTheButtons)
{
    Open(devsim::GenerateDevices(1, 5));
    Activate();
    SetTimeoutText(QStringLiteral("30"));   // a Find runs until it is stopped
    Edit(IDC_EDT_TIMEOUT)->setFocus();     // the keys work from any control
    struct Step {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        int finds;              // "Start finding." lines in the log afterwards
        const char* busy;       // indicator afterwards
        const char* message;    // message box shown, if any
    } steps[] = {
        {Qt::Key_S, Qt::AltModifier, 1, "Busy", nullptr},
        {Qt::Key_T, Qt::AltModifier, 1, "Idle", nullptr},
        {Qt::Key_F5, Qt::NoModifier, 2, "Busy", nullptr},
        {Qt::Key_F5, Qt::NoModifier, 2, "Busy", "Current condition is busy. Please try again."},
        {Qt::Key_T, Qt::AltModifier, 2, "Idle", nullptr},
        {Qt::Key_E, Qt::AltModifier, 2, "Idle", "Please select a device."},
    };
    for (const Step& s : steps) {
        UiSeam::ClearCalls();
        QTest::keyClick(QApplication::focusWidget(), s.key, s.mods);
        // A mnemonic presses its button with a short animation, so the click comes later.
        (void)QTest::qWaitFor(   // the checks below say what did not come
            [&] {
                return Count(Log(), QStringLiteral("Start finding.")) == s.finds &&
                       BusyText() == QLatin1String(s.busy) &&
                       Messages().size() == (s.message ? 1u : 0u);
            },
            3000);
        EXPECT_EQ(Count(Log(), QStringLiteral("Start finding.")), s.finds) << s.key;
        EXPECT_EQ(BusyText(), QLatin1String(s.busy)) << s.key;
        const auto msgs = Messages();
        ASSERT_EQ(msgs.size(), s.message ? 1u : 0u) << s.key;
        if (s.message) {
            EXPECT_EQ(msgs[0].text, QLatin1String(s.message));
        }
    }
}

TEST_F(KeyboardTest, SpaceOrEnterOnAKeyboardSelectedRowFetchesThatRowAsAClickDoes)
{
    testrig::LoopbackPeer peer;   // plays the devices: reads each request's bytes
    OpenOnPeer(peer);
    std::vector<devsim::Device> devices = devsim::GenerateDevices(3, 41);
    for (devsim::Device& d : devices) {
        std::string v[6] = {d.values[KEY_SERIAL_NUM], d.values[KEY_MAC], d.values[KEY_DEV],
                            d.values[KEY_VER], d.values[KEY_IP_CUR], d.values[KEY_HOST_NAME]};
        ASSERT_GE(dlg_->SetDeviceRow(0, 0, v[0].data(), v[1].data(), v[2].data(), v[3].data(),
                                     v[4].data(), v[5].data()),
                  0);
    }
    Activate();
    CDeviceListCtrl* list = List();
    // The pointer rests on the first row: that must not be the row fetched.
    QTest::mouseMove(list->viewport(), list->visualItemRect(list->topLevelItem(0)).center());
    list->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(QTest::qWaitFor([list] { return list->hasFocus(); }, 1000));
    SetTimeoutText(QStringLiteral("2"));

    struct Step {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        int row;   // chosen with the arrow keys from the current row
    } steps[] = {
        {Qt::Key_Space, Qt::NoModifier, 2},
        {Qt::Key_Return, Qt::NoModifier, 0},
        {Qt::Key_Enter, Qt::KeypadModifier, 1},
    };
    int fetches = 0;
    for (const Step& s : steps) {
        for (int i = 0; i < 3 && list->indexOfTopLevelItem(list->currentItem()) != s.row; ++i)
            QTest::keyClick(list, list->indexOfTopLevelItem(list->currentItem()) < s.row ? Qt::Key_Down
                                                                                          : Qt::Key_Up);
        ASSERT_EQ(list->indexOfTopLevelItem(list->currentItem()), s.row) << s.key;
        const QString mac = list->GetItemText(s.row, 1);
        const QString serial = list->GetItemText(s.row, 0);
        UiSeam::ClearCalls();

        QTest::keyClick(list, s.key, s.mods);
        ++fetches;
        EXPECT_TRUE(dlg_->isVisible()) << s.key;
        EXPECT_TRUE(Messages().empty()) << s.key;
        EXPECT_EQ(Count(Log(), QStringLiteral("Start getting config.")), fetches) << s.key;
        EXPECT_EQ(BusyText(), QStringLiteral("Busy")) << s.key;
        EXPECT_EQ(dlg_->m_nSelItem, s.row) << s.key;
        EXPECT_EQ(list->SelectedRow(), s.row) << s.key;
        EXPECT_EQ(list->MarkedRow(), -1) << s.key;   // the "Config:" box is empty again

        // The request is the GetConfig frame that names the row's device.
        const std::vector<uint8_t> sent = peer.Receive(2000);
        uint8_t want[256];
        const int n = BuildGetConfigFrame(mac.toLatin1().constData(), want,
                                          serial.toLatin1().constData(), sizeof want);
        ASSERT_GT(n, 0);
        EXPECT_EQ(sent, std::vector<uint8_t>(want, want + n)) << s.key;

        // The same key again while the fetch runs: refused as a click would be.
        QTest::keyClick(list, s.key, s.mods);
        ASSERT_EQ(Messages().size(), 1u) << s.key;
        EXPECT_EQ(Messages()[0].text, QStringLiteral("Current condition is busy. Please try again."));
        EXPECT_TRUE(peer.Receive(100).empty());
        EXPECT_TRUE(dlg_->isVisible()) << s.key;

        // The device answers: its configuration shows, its row is marked and
        // the window is idle.
        size_t dev = 0;
        while (dev < devices.size() && QString::fromStdString(devices[dev].values[KEY_MAC]) != mac)
            ++dev;
        ASSERT_LT(dev, devices.size());
        std::vector<int> all;
        for (int k = 0; k < kKeyCount; ++k)
            all.push_back(k);
        peer.SendTo(GetRecvPort(), devsim::BuildReply(RequestKind::GetConfig, devices[dev], all));
        ASSERT_TRUE(WaitIdle());
        EXPECT_TRUE(ConfigBox().contains(QStringLiteral("MAC = ") + mac)) << s.key;
        EXPECT_TRUE(Log().endsWith(QStringLiteral("Start getting config.\r\nDetect StopRecvFlg.\r\n")));
        EXPECT_EQ(list->MarkedRow(), s.row) << s.key;
    }

    // Enter on the list with no row to open does nothing; it never closes the window.
    dlg_->ClearDeviceList();
    UiSeam::ClearCalls();
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_TRUE(dlg_->isVisible());
    EXPECT_EQ(Count(Log(), QStringLiteral("Start getting config.")), fetches);
    EXPECT_TRUE(peer.Receive(100).empty());
}

TEST_F(KeyboardTest, MenusFromTheKeyboardAndFromARightClick)
{
    Open({});
    Activate();
    QMenu* windowMenu = dlg_->systemMenu();
    QMenu* listMenu = List()->contextMenu();
    QLabel* version = nullptr;
    for (QLabel* l : dlg_->findChildren<QLabel*>())
        if (l->text() == QLatin1String("Ver. 1.1"))
            version = l;
    ASSERT_NE(version, nullptr);
    QGroupBox* timeoutGroup = nullptr;
    for (QGroupBox* g : dlg_->findChildren<QGroupBox*>())
        if (g->title() == QLatin1String("Timeout"))
            timeoutGroup = g;
    ASSERT_NE(timeoutGroup, nullptr);

    auto rightClick = [](QWidget* w) {
        const QPoint at = w->rect().center();
        QContextMenuEvent ev(QContextMenuEvent::Mouse, at, w->mapToGlobal(at));
        QApplication::sendEvent(w, &ev);
    };
    auto shiftF10 = [](QWidget* w) { QTest::keyClick(w, Qt::Key_F10, Qt::ShiftModifier); };
    QWidget* configBox = FindControl(dlg_.get(), IDC_EDT_CONFIG);
    QWidget* statusBox = FindControl(dlg_.get(), IDC_EDT_STATUS);
    struct Case {
        const char* what;
        QWidget* target;
        std::function<void(QWidget*)> act;
        QMenu* expected;          // this menu, or else
        QWidget* menuOf = nullptr;   // a menu of this text box's own
    } cases[] = {
        {"Shift+F10 in the Timeout box", Edit(IDC_EDT_TIMEOUT), shiftF10, nullptr, Edit(IDC_EDT_TIMEOUT)},
        {"Shift+F10 in the Config box", configBox, shiftF10, nullptr, configBox},
        {"Shift+F10 in the Status box", statusBox, shiftF10, nullptr, statusBox},
        {"menu key in the Timeout box", Edit(IDC_EDT_TIMEOUT),
         [](QWidget* w) { QTest::keyClick(w, Qt::Key_Menu); }, nullptr, Edit(IDC_EDT_TIMEOUT)},
        // The indicator has no menu of its own: the window's opens.
        {"Shift+F10 on the indicator", Edit(IDC_EDT_BUSY), shiftF10, windowMenu},
        {"menu key on Seek", Button(IDC_BTN_SEEK),
         [](QWidget* w) { QTest::keyClick(w, Qt::Key_Menu); }, windowMenu},
        {"Shift+F10 on Stop", Button(IDC_BTN_STOP),
         [](QWidget* w) { QTest::keyClick(w, Qt::Key_F10, Qt::ShiftModifier); }, windowMenu},
        {"menu key on the list", List(), [](QWidget* w) { QTest::keyClick(w, Qt::Key_Menu); },
         listMenu},
        {"Shift+F10 on the list", List(),
         [](QWidget* w) { QTest::keyClick(w, Qt::Key_F10, Qt::ShiftModifier); }, listMenu},
        {"right click on a label", version, rightClick, windowMenu},
        {"right click on a group", timeoutGroup, rightClick, windowMenu},
        {"right click on a button", Button(IDC_BTN_SEEK), rightClick, windowMenu},
        {"right click on the indicator", Edit(IDC_EDT_BUSY), rightClick, windowMenu},
        {"right click in the list", List()->viewport(), rightClick, listMenu},
    };
    for (const Case& c : cases) {
        c.target->setFocus();
        c.act(c.target);
        QWidget* popup = QApplication::activePopupWidget();
        if (c.menuOf) {
            bool own = qobject_cast<QMenu*>(popup) && popup != windowMenu && popup != listMenu;
            const QWidget* owner = own ? popup->parentWidget() : nullptr;
            while (owner && owner != c.menuOf)
                owner = owner->parentWidget();
            EXPECT_TRUE(own && owner) << c.what;
        } else {
            EXPECT_EQ(popup, c.expected) << c.what;
        }
        if (QWidget* open = QApplication::activePopupWidget())
            open->close();
        ASSERT_TRUE(QTest::qWaitFor([] { return !QApplication::activePopupWidget(); }, 1000));
    }

    // In the Edit Config form too: a text box's and an address field's own menu.
    {
        CEdtCfgDlg form(dlg_.get());
        form.EnsureInitialized();
        form.show();
        for (QWidget* box : {static_cast<QWidget*>(GetDlgItem<QLineEdit>(&form, IDC_EDT_HOST_NAME)),
                             static_cast<QWidget*>(form.m_ipSubnet->field(2))}) {
            box->setFocus();
            QTest::keyClick(box, Qt::Key_F10, Qt::ShiftModifier);
            QWidget* popup = QApplication::activePopupWidget();
            EXPECT_TRUE(qobject_cast<QMenu*>(popup) && popup->parentWidget() == box)
                << box->objectName().toStdString();
            if (popup)
                popup->close();
            ASSERT_TRUE(QTest::qWaitFor([] { return !QApplication::activePopupWidget(); }, 1000));
        }
    }

    // A keyboard user reaches the About box: menu key, then the entry's letter.
    QString opened;
    onModal = [&](const SeamCall& call) {
        opened = call.text;
        return IDOK;
    };
    Button(IDC_BTN_SEEK)->setFocus();
    QTest::keyClick(Button(IDC_BTN_SEEK), Qt::Key_Menu);
    ASSERT_EQ(QApplication::activePopupWidget(), windowMenu);
    QTest::keyClick(windowMenu, Qt::Key_A);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.isEmpty(); }, 2000));
    EXPECT_EQ(opened, QStringLiteral("About Varden Pathlume"));
}

}  // namespace
