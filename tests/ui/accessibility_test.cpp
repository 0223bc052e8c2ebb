// What assistive technology is told about both windows: walked through the
// accessibility interfaces, as a screen reader's bridge walks them.
#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>

#include "controls.h"
#include "editconfigform.h"
#include "ipaddressctrl.h"
#include "window_fixture.h"

namespace {

struct Walk {
    QStringList unnamedFocusable;   // focusable controls without a name
    QStringList hiddenExposed;      // controls of the window that are not shown
    QList<QObject*> seen;
    QStringList badLinks;           // a child whose parent does not lead back to it
};

// The node's class, and the control it belongs to.
QString Describe(const QAccessibleInterface* iface)
{
    const QObject* o = iface->object();
    QString owner;
    for (const QObject* p = o; p && owner.isEmpty(); p = p->parent())
        if (p->objectName().startsWith(QLatin1String("ctl")))
            owner = p->objectName();
    return QStringLiteral("%1 '%2' in %3 (role %4)")
        .arg(o ? QString::fromLatin1(o->metaObject()->className()) : QStringLiteral("?"),
             o ? o->objectName() : QString(), owner, QString::number(iface->role()));
}

std::string Join(const QStringList& list)
{
    return list.join(QLatin1String("; ")).toStdString();
}

void WalkTree(QAccessibleInterface* iface, const QWidget* window, Walk* out, int depth = 0)
{
    for (int i = 0; i < iface->childCount() && depth < 12; ++i) {
        QAccessibleInterface* child = iface->child(i);
        if (!child)
            continue;
        if (iface->indexOfChild(child) != i || child->parent() != iface)
            out->badLinks << Describe(child);
        QObject* o = child->object();
        // A widget's own node (cells and headers of a list have none).
        if (o && o->isWidgetType() && QAccessible::queryAccessibleInterface(o) == child) {
            auto* w = static_cast<QWidget*>(o);
            out->seen << o;
            // A control of the template, or a part of one that the user
            // works with (an address field), not shown.
            const bool control = ControlId(w) != IDC_STATIC ||
                                 (w->parentWidget() && w->parentWidget()->inherits("CDialogPage")) ||
                                 w->inherits("QLineEdit");
            if (control && w->window() == window && !w->isVisible())
                out->hiddenExposed << Describe(child);
            if (child->state().focusable && child->text(QAccessible::Name).trimmed().isEmpty())
                out->unnamedFocusable << Describe(child);
        }
        WalkTree(child, window, out, depth + 1);
    }
}

using AccessibilityTest = WindowTest;

TEST_F(AccessibilityTest, EveryFocusableControlIsNamedAndNoHiddenOneIsExposed)
{
    Open(devsim::GenerateDevices(2, 12));
    SetTimeoutText(QStringLiteral("0"));
    Click(IDC_BTN_SEEK);
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(List()->GetItemCount(), 2);
    SetTimeoutText(QStringLiteral("2"));
    ClickRow(0);
    ASSERT_TRUE(WaitIdle());

    // The main window: announced as a window, with its title.
    QAccessibleInterface* main = QAccessible::queryAccessibleInterface(dlg_.get());
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->role(), QAccessible::Window);
    EXPECT_EQ(main->text(QAccessible::Name), QStringLiteral("Varden Pathlume"));
    Walk mainWalk;
    WalkTree(main, dlg_.get(), &mainWalk);
    EXPECT_EQ(Join(mainWalk.unnamedFocusable), "");
    EXPECT_EQ(Join(mainWalk.hiddenExposed), "");
    EXPECT_EQ(Join(mainWalk.badLinks), "");
    for (int id : {IDC_BTN_SEEK, IDC_BTN_EDIT_CONFIG, IDC_LST_DEVICE, IDC_EDT_CONFIG, IDC_EDT_BUSY,
                   IDC_BTN_STOP, IDC_EDT_TIMEOUT, IDC_EDT_STATUS})
        EXPECT_TRUE(mainWalk.seen.contains(FindControl(dlg_.get(), id))) << id;

    // The Edit Config form, opened as the user opens it.
    bool walked = false;
    onModal = [&](const SeamCall& call) {
        auto* form = qobject_cast<CEdtCfgDlg*>(call.dialog);
        EXPECT_NE(form, nullptr);
        if (!form)
            return IDCANCEL;
        walked = true;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(form);
        EXPECT_EQ(iface->role(), QAccessible::Dialog);
        EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("Edit Config"));
        Walk w;
        WalkTree(iface, form, &w);
        EXPECT_EQ(Join(w.unnamedFocusable), "");
        EXPECT_EQ(Join(w.hiddenExposed), "");
        EXPECT_EQ(Join(w.badLinks), "");
        // The hidden IP_DFLT control and its label are not in the tree at all.
        EXPECT_FALSE(w.seen.contains(form->m_ipDflt));
        for (int i = 0; i < 4; ++i)
            EXPECT_FALSE(w.seen.contains(form->m_ipDflt->field(i)));
        EXPECT_TRUE(w.seen.contains(form->m_ipAddr->field(3)));
        // Each drop-down list's popup carries the list's name, open or closed.
        for (QComboBox* c : {form->m_cmbLineSpeed, form->m_cmbDhcp}) {
            EXPECT_TRUE(w.seen.contains(c->view()));
            c->showPopup();
            QWidget* popup = QApplication::activePopupWidget();
            EXPECT_NE(popup, nullptr);
            if (popup) {
                QAccessibleInterface* p = QAccessible::queryAccessibleInterface(popup);
                EXPECT_EQ(p->text(QAccessible::Name), c->accessibleName());
                EXPECT_EQ(QAccessible::queryAccessibleInterface(c->view())->text(QAccessible::Name),
                          c->accessibleName());
            }
            c->hidePopup();
        }
        return IDCANCEL;
    };
    Click(IDC_BTN_EDIT_CONFIG);
    EXPECT_TRUE(walked);
}

}  // namespace
