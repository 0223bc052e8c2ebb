#include "devicelist.h"

#include <QHeaderView>
#include <QMouseEvent>

CDeviceListCtrl::CDeviceListCtrl(QWidget* parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setSortingEnabled(false);   // rows are placed at insertion; headers do not sort
    setMouseTracking(true);
    setColumnCount(0);
    header()->setSectionsClickable(false);
    header()->setStretchLastSection(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

int CDeviceListCtrl::InsertColumn(int col, const QString& heading, int widthPx)
{
    if (col < 0 || col > columnCount())
        return -1;
    QTreeWidgetItem* h = headerItem();
    QStringList labels;
    for (int i = 0; i < columnCount(); ++i)
        labels << h->text(i);
    labels.insert(col, heading);
    setColumnCount(static_cast<int>(labels.size()));
    setHeaderLabels(labels);
    setColumnWidth(col, widthPx);
    return col;
}

int CDeviceListCtrl::InsertItem(int row, const QString& text)
{
    (void)row;   // a sorted list decides the position itself
    if (columnCount() == 0)
        return -1;
    int pos = topLevelItemCount();
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (QString::localeAwareCompare(text, topLevelItem(i)->text(0)) < 0) {
            pos = i;
            break;
        }
    }
    auto* item = new QTreeWidgetItem();
    item->setText(0, text);
    insertTopLevelItem(pos, item);
    return pos;
}

bool CDeviceListCtrl::SetItemText(int row, int sub, const QString& text)
{
    QTreeWidgetItem* item = (row >= 0) ? topLevelItem(row) : nullptr;
    if (!item || sub < 0 || sub >= columnCount())
        return false;
    item->setText(sub, text);
    return true;
}

QString CDeviceListCtrl::GetItemText(int row, int sub) const
{
    const QTreeWidgetItem* item = (row >= 0) ? topLevelItem(row) : nullptr;
    return item ? item->text(sub) : QString();
}

void CDeviceListCtrl::TrackHot(const QPoint& viewportPos)
{
    const QModelIndex idx = indexAt(viewportPos);
    m_nHotItem = idx.isValid() ? idx.row() : -1;
}

void CDeviceListCtrl::mousePressEvent(QMouseEvent* e)
{
    TrackHot(e->position().toPoint());
    QTreeWidget::mousePressEvent(e);
}

void CDeviceListCtrl::mouseReleaseEvent(QMouseEvent* e)
{
    QTreeWidget::mouseReleaseEvent(e);
    if (e->button() != Qt::LeftButton)
        return;
    if (m_bSwallowRelease) {   // the release that ends a double-click
        m_bSwallowRelease = false;
        return;
    }
    TrackHot(e->position().toPoint());
    emit clickNotify();
}

void CDeviceListCtrl::mouseDoubleClickEvent(QMouseEvent* e)
{
    TrackHot(e->position().toPoint());
    QTreeWidget::mouseDoubleClickEvent(e);
    if (e->button() != Qt::LeftButton)
        return;
    m_bSwallowRelease = true;
    emit dblClkNotify();
}

void CDeviceListCtrl::mouseMoveEvent(QMouseEvent* e)
{
    TrackHot(e->position().toPoint());
    QTreeWidget::mouseMoveEvent(e);
}

void CDeviceListCtrl::leaveEvent(QEvent* e)
{
    m_nHotItem = -1;
    QTreeWidget::leaveEvent(e);
}
