#include "accessibles.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QHash>
#include <QHeaderView>
#include <QLineEdit>
#include <QPointer>
#include <algorithm>

#include "devicelist.h"
#include "ipaddressctrl.h"

namespace {

// ---- The device list: a table whose first row is its column headers ------
//
// Children are numbered as the view numbers them in its focus and selection
// events: the header row first, then each row's cells, so the child of row r
// (from 0) and column c is (r + 1) * columns + c.

class DeviceTableAccessible;

class DeviceCellAccessible : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    // row -1: the column's header.
    DeviceCellAccessible(CDeviceListCtrl* list, int row, int column)
        : m_list(list), m_row(row), m_column(column)
    {
    }

    bool isValid() const override
    {
        return m_list && m_column >= 0 && m_column < m_list->columnCount() && m_row >= -1 &&
               m_row < m_list->topLevelItemCount();
    }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_list ? m_list->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_list); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    void setText(QAccessible::Text, const QString&) override {}

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !isValid())
            return QString();
        // As the cell shows it: a device's control characters as escapes.
        return m_row < 0 ? m_list->headerItem()->text(m_column) : m_list->topLevelItem(m_row)->text(m_column);
    }
    QAccessible::Role role() const override
    {
        return m_row < 0 ? QAccessible::ColumnHeader : QAccessible::Cell;
    }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid() || !m_list->isVisible()) {
            s.invisible = true;
            return s;
        }
        if (m_row < 0)
            return s;
        s.selectable = true;
        s.focusable = true;
        s.selected = isSelected();
        const QModelIndex current = m_list->currentIndex();
        s.focused = m_list->hasFocus() && current.isValid() && current.row() == m_row &&
                    current.column() == m_column;
        return s;
    }
    QRect rect() const override
    {
        if (!isValid())
            return QRect();
        if (m_row < 0) {
            const QHeaderView* h = m_list->header();
            if (h->isHidden())
                return QRect();
            const QPoint at = h->mapToGlobal(QPoint(h->sectionViewportPosition(m_column), 0));
            return QRect(at, QSize(h->sectionSize(m_column), h->height()));
        }
        const QRect r = m_list->visualRect(m_list->model()->index(m_row, m_column));
        return QRect(m_list->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    void* interface_cast(QAccessible::InterfaceType t) override
    {
        return t == QAccessible::TableCellInterface && m_row >= 0
                   ? static_cast<QAccessibleTableCellInterface*>(this)
                   : nullptr;
    }

    // The cell's place in the table.
    bool isSelected() const override
    {
        return isValid() && m_row >= 0 && m_list->topLevelItem(m_row)->isSelected();
    }
    QList<QAccessibleInterface*> columnHeaderCells() const override;
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return m_column; }
    int rowIndex() const override { return m_row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

    int LogicalIndex() const { return (m_row + 1) * (m_list ? m_list->columnCount() : 0) + m_column; }
    bool Of(const CDeviceListCtrl* list) const { return m_list == list; }

private:
    QPointer<CDeviceListCtrl> m_list;
    int m_row;
    int m_column;
};

class DeviceTableAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit DeviceTableAccessible(CDeviceListCtrl* list) : QAccessibleWidget(list, QAccessible::Table) {}
    ~DeviceTableAccessible() override { Forget(); }

    CDeviceListCtrl* list() const { return static_cast<CDeviceListCtrl*>(widget()); }
    int Columns() const { return list()->columnCount(); }

    void* interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    // The cells are the children; the view's scroll bars and header widget
    // are not announced apart from them.
    int childCount() const override { return (list()->topLevelItemCount() + 1) * Columns(); }
    QAccessibleInterface* child(int index) const override
    {
        const int columns = Columns();
        if (index < 0 || index >= childCount() || columns == 0)
            return nullptr;
        if (const auto found = m_children.constFind(index); found != m_children.constEnd())
            if (QAccessibleInterface* iface = QAccessible::accessibleInterface(found.value()))
                return iface;
        QAccessibleInterface* iface = new DeviceCellAccessible(list(), index / columns - 1, index % columns);
        m_children.insert(index, QAccessible::registerAccessibleInterface(iface));
        return iface;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const auto* cell = dynamic_cast<const DeviceCellAccessible*>(child);
        return cell && cell->Of(list()) && cell->isValid() ? cell->LogicalIndex() : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QPoint at = list()->viewport()->mapFromGlobal(QPoint(x, y));
        const QModelIndex index = list()->indexAt(at);
        return index.isValid() ? cellAt(index.row(), index.column()) : nullptr;
    }
    QAccessibleInterface* focusChild() const override
    {
        const QModelIndex current = list()->currentIndex();
        return current.isValid() ? cellAt(current.row(), current.column()) : nullptr;
    }

    // The table.
    QAccessibleInterface* cellAt(int row, int column) const override
    {
        if (row < 0 || row >= rowCount() || column < 0 || column >= Columns())
            return nullptr;
        return child((row + 1) * Columns() + column);
    }
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QString columnDescription(int column) const override { return list()->headerItem()->text(column); }
    QString rowDescription(int) const override { return QString(); }
    int columnCount() const override { return Columns(); }
    int rowCount() const override { return list()->topLevelItemCount(); }
    int selectedCellCount() const override { return selectedRowCount() * Columns(); }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return static_cast<int>(selectedRows().size()); }
    QList<QAccessibleInterface*> selectedCells() const override
    {
        QList<QAccessibleInterface*> cells;
        for (int row : selectedRows())
            for (int c = 0; c < Columns(); ++c)
                cells << cellAt(row, c);
        return cells;
    }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override
    {
        QList<int> rows;
        for (const QTreeWidgetItem* item : list()->selectedItems())
            rows << list()->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item));
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override
    {
        const QTreeWidgetItem* item = list()->topLevelItem(row);
        return item && item->isSelected();
    }
    // One row at a time, as the list selects them.
    bool selectRow(int row) override
    {
        QTreeWidgetItem* item = list()->topLevelItem(row);
        if (!item)
            return false;
        list()->setCurrentItem(item);
        return true;
    }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override
    {
        QTreeWidgetItem* item = list()->topLevelItem(row);
        if (!item)
            return false;
        item->setSelected(false);
        return true;
    }
    bool unselectColumn(int) override { return false; }
    // Rows come and go: the cells are made again as they are asked for.
    void modelChange(QAccessibleTableModelChangeEvent*) override { Forget(); }

private:
    void Forget()
    {
        for (QAccessible::Id id : std::as_const(m_children))
            QAccessible::deleteAccessibleInterface(id);
        m_children.clear();
    }

    mutable QHash<int, QAccessible::Id> m_children;
};

QList<QAccessibleInterface*> DeviceCellAccessible::columnHeaderCells() const
{
    QAccessibleInterface* table = parent();
    QAccessibleInterface* header = table ? table->child(m_column) : nullptr;
    return header ? QList<QAccessibleInterface*>{header} : QList<QAccessibleInterface*>{};
}

// ---- An address control: one editable address of four fields --------------

class AddressAccessible : public QAccessibleWidget {
public:
    explicit AddressAccessible(CIpAddressCtrl* address) : QAccessibleWidget(address, QAccessible::EditableText) {}

    CIpAddressCtrl* address() const { return static_cast<CIpAddressCtrl*>(widget()); }

    // The dotted address as shown, blank fields empty; nothing for a blank
    // control.
    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Value)
            return QAccessibleWidget::text(t);
        if (address()->IsBlank())
            return QString();
        QStringList parts;
        for (int i = 0; i < 4; ++i)
            parts << address()->field(i)->text();
        return parts.join(QLatin1Char('.'));
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = true;
        s.focusable = true;
        for (int i = 0; i < 4; ++i)
            s.focused = s.focused || address()->field(i)->hasFocus();
        return s;
    }
    // Its parts are the four fields; the dots between them are drawing only.
    int childCount() const override { return 4; }
    QAccessibleInterface* child(int index) const override
    {
        return index >= 0 && index < 4 ? QAccessible::queryAccessibleInterface(address()->field(index)) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (int i = 0; i < 4; ++i)
            if (child && child->object() == address()->field(i))
                return i;
        return -1;
    }
    QAccessibleInterface* focusChild() const override
    {
        for (int i = 0; i < 4; ++i)
            if (address()->field(i)->hasFocus())
                return child(i);
        return nullptr;
    }
};

// ---- A drop-down list named by its label, its choice as its value ---------

class DropDownAccessible : public QAccessibleWidget {
public:
    explicit DropDownAccessible(QComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {}

    QComboBox* combo() const { return static_cast<QComboBox*>(widget()); }

    // Name: the control's own name, else its label's text (the toolkit's
    // node gives the current choice here, which a screen reader then speaks
    // instead of what the list is for).
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return combo()->currentText();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = combo()->view()->isVisible();
        return s;
    }
    // Its one part: the list of choices, shown while the list is open.
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(combo()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == combo()->view() ? 0 : -1;
    }
    QStringList actionNames() const override
    {
        return {QAccessibleActionInterface::showMenuAction(), QAccessibleActionInterface::pressAction()};
    }
    void doAction(const QString& action) override
    {
        if (action != QAccessibleActionInterface::showMenuAction() &&
            action != QAccessibleActionInterface::pressAction())
            return;
        if (combo()->view()->isVisible())
            combo()->hidePopup();
        else
            combo()->showPopup();
    }
};

}  // namespace

QAccessibleInterface* NewDeviceListAccessible(CDeviceListCtrl* list)
{
    return new DeviceTableAccessible(list);
}

QAccessibleInterface* NewAddressAccessible(CIpAddressCtrl* address)
{
    return new AddressAccessible(address);
}

QAccessibleInterface* NewDropDownAccessible(QComboBox* combo)
{
    return new DropDownAccessible(combo);
}
