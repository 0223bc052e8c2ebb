// What assistive technology is told about both windows: walked through the
// accessibility interfaces, as a screen reader's bridge walks them.
#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>

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

// Each label of the window with the control it names, related both ways:
// the label's relations name the control as labelled by it, the control's
// name the label as its label. Returns the labels whose relations are
// missing or wrong.
QStringList UnrelatedLabels(const QWidget* window, const std::vector<std::pair<QString, QWidget*>>& labels)
{
    QStringList bad;
    for (const auto& [text, control] : labels) {
        const QLabel* label = nullptr;
        for (const QLabel* l : window->findChildren<QLabel*>())
            if (l->text() == text)
                label = l;
        QAccessibleInterface* li = label ? QAccessible::queryAccessibleInterface(const_cast<QLabel*>(label)) : nullptr;
        QAccessibleInterface* ci = QAccessible::queryAccessibleInterface(control);
        if (!li || !ci) {
            bad << text + QStringLiteral(" (no such label or control)");
            continue;
        }
        bool labels = false;
        for (const auto& [other, rel] : li->relations(QAccessible::Labelled))
            labels = labels || (other == ci && rel == QAccessible::Labelled);
        bool labelled = false;
        for (const auto& [other, rel] : ci->relations(QAccessible::Label))
            labelled = labelled || (other == li && rel == QAccessible::Label);
        if (!labels || !labelled)
            bad << text + QStringLiteral(" (labels %1, labelled %2)").arg(labels).arg(labelled);
    }
    return bad;
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
    EXPECT_EQ(Join(UnrelatedLabels(dlg_.get(), {{QStringLiteral("Config:"), FindControl(dlg_.get(), IDC_EDT_CONFIG)},
                                                {QStringLiteral("Status:"), FindControl(dlg_.get(), IDC_EDT_STATUS)}})),
              "");

    // The device list: a table named "Devices" whose first row is its column
    // headers, each cell a cell of its row and column with its header.
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(List());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->role(), QAccessible::Table);
    EXPECT_EQ(list->text(QAccessible::Name), QStringLiteral("Devices"));
    QAccessibleTableInterface* table = list->tableInterface();
    ASSERT_NE(table, nullptr);
    const QStringList headings = {QStringLiteral("Serial Number"), QStringLiteral("Mac Address"),
                                  QStringLiteral("Device Name"), QStringLiteral("ROM Version"),
                                  QStringLiteral("IP Address"), QStringLiteral("Host Name")};
    ASSERT_EQ(table->columnCount(), headings.size());
    EXPECT_EQ(table->rowCount(), 2);
    EXPECT_EQ(list->childCount(), 3 * headings.size());
    for (int c = 0; c < headings.size(); ++c) {
        QAccessibleInterface* header = list->child(c);
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header->role(), QAccessible::ColumnHeader) << c;
        EXPECT_EQ(header->text(QAccessible::Name), headings[c]);
        EXPECT_EQ(table->columnDescription(c), headings[c]);
        for (int r = 0; r < 2; ++r) {
            QAccessibleInterface* cell = table->cellAt(r, c);
            ASSERT_NE(cell, nullptr);
            EXPECT_EQ(cell, list->child((r + 1) * headings.size() + c));
            EXPECT_EQ(cell->role(), QAccessible::Cell);
            EXPECT_EQ(cell->text(QAccessible::Name), List()->topLevelItem(r)->text(c));
            QAccessibleTableCellInterface* place = cell->tableCellInterface();
            ASSERT_NE(place, nullptr);
            EXPECT_EQ(place->rowIndex(), r);
            EXPECT_EQ(place->columnIndex(), c);
            EXPECT_EQ(place->columnHeaderCells(), QList<QAccessibleInterface*>{header});
        }
    }
    // The row the window read is the selected one, as the list shows it.
    EXPECT_EQ(table->selectedRows(), QList<int>{List()->SelectedRow()});

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
        // Every label is related to its control, the hidden one's too.
        auto ctl = [form](int id) { return FindControl(form, id); };
        EXPECT_EQ(Join(UnrelatedLabels(form, {
                           {QStringLiteral("Device name:"), ctl(IDC_EDT_DEV_NAME)},
                           {QStringLiteral("ROM version:"), ctl(IDC_EDT_ROM_VER)},
                           {QStringLiteral("MAC address:"), ctl(IDC_EDT_MAC_ADDR)},
                           {QStringLiteral("Serial number:"), ctl(IDC_EDT_SERIAL_NUM)},
                           {QStringLiteral("Manufacturer:"), ctl(IDC_EDT_MANUFACTURER)},
                           {QStringLiteral("Host name:"), ctl(IDC_EDT_HOST_NAME)},
                           {QStringLiteral("Line speed:"), form->m_cmbLineSpeed},
                           {QStringLiteral("IP address from DHCP:"), form->m_cmbDhcp},
                           {QStringLiteral("IP address:"), form->m_ipAddr},
                           {QStringLiteral("Subnet mask:"), form->m_ipSubnet},
                           {QStringLiteral("Gateway IP address:"), form->m_ipGateway},
                           {QStringLiteral("IP_DFLT:"), form->m_ipDflt},
                           {QStringLiteral("PRNT_PORT:"), ctl(IDC_EDT_PRNT_PORT)},
                           {QStringLiteral("PRNT_RCV_TMO:"), ctl(IDC_EDT_PRNT_RCV_TMO)},
                       })),
                  "");
        // Each drop-down list is named by its label, its choice is its value.
        for (QComboBox* c : {form->m_cmbLineSpeed, form->m_cmbDhcp}) {
            QAccessibleInterface* ci = QAccessible::queryAccessibleInterface(c);
            EXPECT_EQ(ci->role(), QAccessible::ComboBox);
            EXPECT_EQ(ci->text(QAccessible::Name), c == form->m_cmbDhcp ? QStringLiteral("IP address from DHCP")
                                                                         : QStringLiteral("Line speed"));
            EXPECT_FALSE(c->currentText().isEmpty());
            EXPECT_EQ(ci->text(QAccessible::Value), c->currentText());
        }
        // Each address is one editable text named by its label, whose parts
        // are its four fields and whose value is the address.
        const std::pair<CIpAddressCtrl*, QString> addresses[] = {
            {form->m_ipAddr, QStringLiteral("IP address")},
            {form->m_ipSubnet, QStringLiteral("Subnet mask")},
            {form->m_ipGateway, QStringLiteral("Gateway IP address")}};
        for (const auto& [ip, name] : addresses) {
            QAccessibleInterface* ai = QAccessible::queryAccessibleInterface(ip);
            EXPECT_EQ(ai->role(), QAccessible::EditableText);
            EXPECT_EQ(ai->text(QAccessible::Name), name);
            EXPECT_TRUE(ai->state().editable);
            EXPECT_EQ(ai->text(QAccessible::Value), ip->IsBlank() ? QString() : ip->Text());
            EXPECT_EQ(ai->childCount(), 4);
            for (int i = 0; i < 4 && ai->childCount() == 4; ++i) {
                EXPECT_EQ(ai->child(i)->object(), ip->field(i));
                EXPECT_EQ(ai->child(i)->parent(), ai);
            }
        }
        EXPECT_FALSE(form->m_ipAddr->IsBlank());   // the device's address, as read
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
