// The IP address control typed over an old address: whole addresses, dots
// after the automatic jump, fields over 255, Backspace and the arrows across
// the fields, and pasted addresses (Ctrl+V and the field's own menu).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <array>
#include <memory>
#include <string>

#include "ipaddressctrl.h"

namespace {

// A window with a box before the control and one after it, so that Tab
// enters the control as it does in a form.
class IpAddressCtrlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host_ = std::make_unique<QWidget>();
        auto* lay = new QHBoxLayout(host_.get());
        before_ = new QLineEdit(host_.get());
        ip_ = new CIpAddressCtrl(host_.get());
        auto* after = new QLineEdit(host_.get());
        for (QWidget* w : {static_cast<QWidget*>(before_), static_cast<QWidget*>(ip_),
                           static_cast<QWidget*>(after)})
            lay->addWidget(w);
        host_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host_.get()));
        host_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(host_.get()));
    }

    // Fills the control with `old` ("" leaves it blank) and tabs into it.
    void EnterOver(const QString& old)
    {
        if (old.isEmpty()) {
            ip_->Clear();
        } else {
            const QStringList p = old.split(QLatin1Char('.'));
            ASSERT_EQ(p.size(), 4);
            ip_->SetAddress(static_cast<uint8_t>(p[0].toInt()), static_cast<uint8_t>(p[1].toInt()),
                            static_cast<uint8_t>(p[2].toInt()), static_cast<uint8_t>(p[3].toInt()));
        }
        before_->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([this] { return before_->hasFocus(); }, 1000));
        QTest::keyClick(before_, Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), ip_->field(0));
    }

    // Types `keys` where the focus is: digits and dots as they are, R and L
    // Right and Left, r Shift+Right, B Backspace, V Ctrl+V, S Shift alone.
    static void Type(const char* keys)
    {
        for (const char* k = keys; *k; ++k) {
            QWidget* w = QApplication::focusWidget();
            ASSERT_NE(w, nullptr);
            switch (*k) {
            case 'R': QTest::keyClick(w, Qt::Key_Right); break;
            case 'L': QTest::keyClick(w, Qt::Key_Left); break;
            case 'r': QTest::keyClick(w, Qt::Key_Right, Qt::ShiftModifier); break;
            case 'B': QTest::keyClick(w, Qt::Key_Backspace); break;
            case 'V': QTest::keyClick(w, Qt::Key_V, Qt::ControlModifier); break;
            case 'S': QTest::keyClick(w, Qt::Key_Shift); break;
            default: QTest::keyClick(w, *k);
            }
        }
    }

    int FocusedField() const
    {
        for (int i = 0; i < 4; ++i)
            if (QApplication::focusWidget() == ip_->field(i))
                return i;
        return -1;
    }

    std::unique_ptr<QWidget> host_;
    QLineEdit* before_ = nullptr;
    CIpAddressCtrl* ip_ = nullptr;
};

TEST_F(IpAddressCtrlTest, KeystrokesOverAnOldAddress)
{
    struct Case {
        const char* old;
        const char* clipboard;   // for V
        const char* keys;        // typed (see Type) after Tab entered the first field
        std::array<const char*, 4> fields;
        int focus;               // the field with the focus afterwards
        int cursor;              // its cursor position, -1 not checked
        bool selected;           // whether its text is selected (when cursor is checked)
    } cases[] = {
        // Tab selects the first field; every field typed into is replaced.
        {"10.9.0.51", "", "", {"10", "9", "0", "51"}, 0, 2, true},
        {"10.9.0.51", "", "192.168.0.5", {"192", "168", "0", "5"}, 3, 1, false},
        {"192.168.77.22", "", "192.168.77.30", {"192", "168", "77", "30"}, 3, 2, false},
        {"10.0.0.1", "", "255.255.255.0", {"255", "255", "255", "0"}, 3, 1, false},
        {"255.255.255.0", "", "10.1.2.3", {"10", "1", "2", "3"}, 3, 1, false},
        {"1.2.3.4", "", "192168100200", {"192", "168", "100", "200"}, 3, 3, false},
        // The Shift of a layout's dot does not end the jump.
        {"10.9.0.51", "", "192S.168", {"192", "168", "0", "51"}, 2, 1, true},
        // A dot in an empty field or in the last one does nothing; a dot in a
        // field entered by a dot moves on and keeps that field.
        {"", "", ".1..2", {"1", "2", "", ""}, 1, 1, false},
        {"1.2.3.4", "", "1.2.3.4.5", {"1", "2", "3", "45"}, 3, 2, false},
        {"1.2.3.4", "", "9..8", {"9", "2", "8", "4"}, 2, 1, false},
        // A keystroke that would go over 255 is refused.
        {"1.2.3.4", "", "300", {"30", "2", "3", "4"}, 0, 2, false},
        {"1.2.3.4", "", "2565.7", {"255", "7", "3", "4"}, 1, 1, false},
        // Backspace at the start of a field or in an empty one goes back.
        {"10.9.0.51", "", "RBB", {"1", "9", "0", "51"}, 0, 1, false},
        {"", "", "1.BB", {"", "", "", ""}, 0, 0, false},
        {"10.9.0.51", "", "192.BBB", {"19", "", "0", "51"}, 0, 2, false},
        // Right at the end goes to the start of the next field, Left at the
        // start to the end of the previous one; inside a field they move the
        // cursor; Shift+Right selects instead of leaving.
        {"192.168.77.22", "", "R", {"192", "168", "77", "22"}, 1, 0, false},
        {"192.168.77.22", "", "RR", {"192", "168", "77", "22"}, 1, 1, false},
        {"192.168.77.22", "", "RRRRR", {"192", "168", "77", "22"}, 2, 0, false},
        {"192.168.77.22", "", "RL", {"192", "168", "77", "22"}, 0, 3, false},
        {"192.168.77.22", "", "RRL", {"192", "168", "77", "22"}, 1, 0, false},
        {"192.168.77.22", "", "RRRRRLL", {"192", "168", "77", "22"}, 1, 2, false},
        {"1.2.3.4", "", "RRRRRRR", {"1", "2", "3", "4"}, 3, 1, false},
        {"10.9.0.51", "", "Rrr7", {"10", "7", "0", "51"}, 1, 1, false},
        {"10.9.0.51", "", "R5LL", {"10", "59", "0", "51"}, 0, 2, false},
        // A pasted address fills all four fields, from whichever field.
        {"10.9.0.51", "172.16.5.4", "V", {"172", "16", "5", "4"}, 3, 1, false},
        {"10.9.0.51", " 192.168.000.010\n", "RRV", {"192", "168", "0", "10"}, 3, 2, false},
        {"10.9.0.51", "10.1.2.3", "7.V", {"10", "1", "2", "3"}, 3, 1, false},
        // Digits alone go into the field as typed; anything else is refused.
        {"10.9.0.51", "25", "V5", {"255", "9", "0", "51"}, 1, 1, true},
        {"10.9.0.51", "99", "RRV", {"10", "9", "0", "51"}, 1, 1, false},
        {"10.9.0.51", "1234", "V", {"10", "9", "0", "51"}, 0, -1, false},
        {"10.9.0.51", "10.0.0", "V", {"10", "9", "0", "51"}, 0, -1, false},
        {"10.9.0.51", "10.0.0.256", "V", {"10", "9", "0", "51"}, 0, -1, false},
        {"10.9.0.51", "1.2.3.4.5", "V", {"10", "9", "0", "51"}, 0, -1, false},
        {"10.9.0.51", "0x1.2.3.4", "V", {"10", "9", "0", "51"}, 0, -1, false},
    };
    QClipboard* clip = QGuiApplication::clipboard();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.old) + " + " + c.keys);
        clip->setText(QString::fromLatin1(c.clipboard));
        EnterOver(QString::fromLatin1(c.old));
        Type(c.keys);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(ip_->field(i)->text(), QLatin1String(c.fields[static_cast<size_t>(i)]))
                << "field " << i;
        EXPECT_EQ(FocusedField(), c.focus);
        if (c.cursor >= 0 && FocusedField() == c.focus) {
            QLineEdit* f = ip_->field(c.focus);
            EXPECT_EQ(f->cursorPosition(), c.cursor);
            EXPECT_EQ(f->hasSelectedText(), c.selected);
            if (c.selected) {
                EXPECT_EQ(f->selectedText(), f->text());
            }
        }
    }
}

TEST_F(IpAddressCtrlTest, PasteFromAFieldsMenuAndTheEditedSignal)
{
    ip_->SetAddress(10, 9, 0, 51);
    QSignalSpy edited(ip_, &CIpAddressCtrl::edited);
    QGuiApplication::clipboard()->setText(QStringLiteral("192.168.77.30"));
    QLineEdit* f = ip_->field(2);
    const QPoint at = f->rect().center();
    QContextMenuEvent ev(QContextMenuEvent::Mouse, at, f->mapToGlobal(at));
    QApplication::sendEvent(f, &ev);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    QAction* paste = nullptr;
    QAction* copy = nullptr;
    for (QAction* a : menu->actions()) {
        const QString entry = a->text().remove(QLatin1Char('&'));
        if (entry.startsWith(QLatin1String("Paste")))
            paste = a;
        if (entry.startsWith(QLatin1String("Copy")))
            copy = a;
    }
    ASSERT_NE(paste, nullptr);
    EXPECT_NE(copy, nullptr);   // the field's own menu, not one of ours
    ASSERT_TRUE(paste->isEnabled());
    paste->trigger();
    menu->close();
    EXPECT_EQ(ip_->Text(), QStringLiteral("192.168.77.30"));
    EXPECT_EQ(edited.count(), 1);

    // Typing tells too; the program's own SetAddress and Clear do not.
    ip_->SetAddress(1, 2, 3, 4);
    ip_->Clear();
    EXPECT_EQ(edited.count(), 1);
    EXPECT_TRUE(ip_->IsBlank());
    uint8_t a[4] = {9, 9, 9, 9};
    EXPECT_EQ(ip_->GetAddress(a), 0);
    EXPECT_EQ(ip_->Text(), QStringLiteral("0.0.0.0"));
    ip_->field(0)->setFocus();
    QTest::keyClicks(ip_->field(0), QStringLiteral("7"));
    EXPECT_EQ(edited.count(), 2);
    EXPECT_EQ(ip_->GetAddress(a), 1);
}

}  // namespace
