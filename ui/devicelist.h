// The device list: a report view of six left-aligned columns with single
// full-row selection, rows placed in ascending order of the first column at
// insertion, and the row under the pointer as its hot item.
#pragma once

#include <QTreeWidget>

class CDeviceListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CDeviceListCtrl(QWidget* parent = nullptr);

    // List-view operations, index based; -1 / false on failure.
    int InsertColumn(int col, const QString& heading, int widthPx);
    int InsertItem(int row, const QString& text);   // returns where the row was placed
    bool SetItemText(int row, int sub, const QString& text);
    QString GetItemText(int row, int sub) const;
    int GetItemCount() const { return topLevelItemCount(); }
    void DeleteAllItems() { clear(); }
    int GetHotItem() const { return m_nHotItem; }

signals:
    // A click (NM_CLICK) and a double-click (NM_DBLCLK) anywhere in the list,
    // rows or empty area; the hot item is already set when they come.
    void clickNotify();
    void dblClkNotify();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;

private:
    void TrackHot(const QPoint& viewportPos);
    int m_nHotItem = -1;
    bool m_bSwallowRelease = false;
};
