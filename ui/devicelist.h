// The device list: a report view of six left-aligned columns with single
// full-row selection, rows placed in ascending order of the first column at
// insertion, and the row under the pointer as its hot item.
//
// Every column is at least its inserted width and wide enough, in the list's
// own font, for the longest value it can hold (where the caller names the
// characters and length of the column's values) and for every value it
// holds; the last column takes what width remains. Wider than the view, the
// list scrolls sideways.
#pragma once

#include <QTreeWidget>
#include <vector>

class QAction;
class QMenu;

class CDeviceListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CDeviceListCtrl(QWidget* parent = nullptr);

    // List-view operations, index based; -1 / false on failure.
    int InsertColumn(int col, const QString& heading, int widthPx);
    // Values of column col have at most length characters from alphabet,
    // plus the fixed characters (for instance the dots of an address).
    void SetColumnExtent(int col, const QString& alphabet, int length, const QString& fixed = {});
    int InsertItem(int row, const QString& text);   // returns where the row was placed
    bool SetItemText(int row, int sub, const QString& text);
    QString GetItemText(int row, int sub) const;
    int GetItemCount() const { return topLevelItemCount(); }
    void DeleteAllItems();
    int GetHotItem() const { return m_nHotItem; }

    // The list as text: one row's cells separated by tabs; the headings and
    // every row, one line each; and the same as CSV (RFC 4180: fields with a
    // comma, quote or line end quoted, quotes doubled, lines ended by CR LF).
    QString RowText(int row) const;
    QString AllText() const;
    QString CsvText() const;
    // The row the user has selected, -1 for none.
    int SelectedRow() const;

    // The list's context menu: Copy, Copy all, Export as CSV...
    QMenu* contextMenu() const { return m_pMenu; }
    // Opens it under the current row (keyboard) or at a screen position.
    void OpenContextMenu(const QPoint* globalPos = nullptr);

public slots:
    void CopySelected();   // Ctrl+C
    void CopyAll();
    void ExportCsv();      // asks for a file and writes CsvText in UTF-8

signals:
    // A click (NM_CLICK) and a double-click (NM_DBLCLK) anywhere in the list,
    // rows or empty area; the hot item is already set when they come. Space
    // on the current row is a click on it: that row is the hot item.
    void clickNotify();
    void dblClkNotify();

protected:
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void changeEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;

private:
    struct Extent {
        int minWidth = 0;
        QString alphabet;
        int length = 0;
        QString fixed;
    };
    void TrackHot(const QPoint& viewportPos);
    // Sets every column's width from its extent, its values and its heading.
    void FitColumns();
    QStringList Cells(int row) const;
    QStringList Headings() const;
    std::vector<Extent> m_extents;
    QMenu* m_pMenu = nullptr;
    QAction* m_actCopy = nullptr;
    bool m_bFitting = false;
    int m_nHotItem = -1;
    bool m_bSwallowRelease = false;
};
