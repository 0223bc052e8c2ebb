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
    // Cells hold a device's text as it came; a cell shows it on one line, each
    // control character as an escape (\r, \n, \t, \x1b ...) and a backslash
    // doubled; see VisibleText.
    // Places the row by its text, then by tiebreak (compared with the rows'
    // second column) among rows of equal text; returns where it was placed.
    int InsertItem(int row, const QString& text, const QString& tiebreak = QString());
    // Inserts many rows at once, each given as its cells, each at the place
    // InsertItem would give it (rows that sort equal in the order given):
    // the view takes them in as a few runs, not row by row.
    // A cell beyond the last column is the row's tooltip.
    void InsertRows(const std::vector<QStringList>& rows);
    // The tooltip of every cell of a row (where its device answered from).
    void SetRowToolTip(int row, const QString& tip);
    // The row whose first two columns are text and tiebreak, or -1.
    int FindItem(const QString& text, const QString& tiebreak) const;
    // Between these two, rows are filled without fitting the columns after
    // every cell; EndFill fits them once. They nest.
    void BeginFill();
    void EndFill();
    bool SetItemText(int row, int sub, const QString& text);
    QString GetItemText(int row, int sub) const;   // the text as it came
    int GetItemCount() const { return topLevelItemCount(); }
    void DeleteAllItems();
    int GetHotItem() const { return m_nHotItem; }

    // The device whose configuration the window shows, by serial number and
    // MAC address: its row is drawn in bold wherever the list places it, also
    // after the rows are rebuilt. Empty texts: no device.
    void MarkDevice(const QString& serial, const QString& mac);
    int MarkedRow() const;   // -1 for none
    const QString& MarkedSerial() const { return m_strMarkSerial; }
    const QString& MarkedMac() const { return m_strMarkMac; }

    // The list as text, as the cells show it: one row's cells separated by
    // tabs; the headings and every row, one line each. A cell holding a tab,
    // a line end or a leading quote is quoted (quotes doubled), as
    // spreadsheets read pasted text.
    QString RowText(int row) const;
    QString AllText() const;
    // The same as CSV, with each device's text as it came (RFC 4180: fields
    // with a comma, quote or line end quoted, quotes doubled, lines ended by
    // CR LF). A cell beginning with =, +, -, @, a tab or a carriage return,
    // which a spreadsheet would take for a formula, gets a leading apostrophe.
    QString CsvText() const;

    // A text on one line: each control character (C0, DEL, C1) as \r, \n,
    // \t or \xHH, and a backslash doubled, so that a device's literal "\n"
    // never reads as a line break it sent.
    static QString VisibleText(const QString& text);
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
    // or Enter on the current row is a click on it: that row is the hot item.
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
    // Writes a cell: the text as it came, and the one-line text it shows.
    void SetCell(QTreeWidgetItem* item, int col, const QString& text);
    // Draws the row in bold when it is the marked device's.
    void ApplyMark(QTreeWidgetItem* item);
    bool IsMarked(const QTreeWidgetItem* item) const;
    // Sets every column's width from its extent, its values and its heading.
    void FitColumns();
    // The widest text each column has held since it was last emptied or its
    // font changed (padding included): a cell's width is noted as it is
    // written, and all of them again when the font or the style changes.
    void NoteCellWidth(const QTreeWidgetItem* item, int col);
    void MeasureAllCells();
    int TextPadding() const;   // the view's margins on both sides of a cell's text
    QStringList Cells(int row, bool asCame = false) const;
    // The first row that does not sort before (text, tiebreak), and the
    // first that sorts after it (where a new row of that text goes).
    int LowerBound(const QString& text, const QString& tiebreak) const;
    int InsertionPoint(const QString& text, const QString& tiebreak) const;
    QStringList Headings() const;
    std::vector<Extent> m_extents;
    std::vector<int> m_contentWidth;
    QFont m_boldFont;   // the marked row's
    QMenu* m_pMenu = nullptr;
    QAction* m_actCopy = nullptr;
    bool m_bFitting = false;
    int m_nFilling = 0;
    int m_nHotItem = -1;
    bool m_bSwallowRelease = false;
    QString m_strMarkSerial;
    QString m_strMarkMac;
    QString m_strExportFolder;   // where this window's last export went
};
