#include "devicelist.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QSaveFile>
#include <QStyle>
#include <algorithm>

#include "uiseam.h"

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
    header()->setSectionResizeMode(QHeaderView::Interactive);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    m_pMenu = new QMenu(this);
    m_actCopy = m_pMenu->addAction(QStringLiteral("&Copy"), this, &CDeviceListCtrl::CopySelected);
    m_actCopy->setShortcut(QKeySequence::Copy);
    m_pMenu->addAction(QStringLiteral("Copy &all"), this, &CDeviceListCtrl::CopyAll);
    m_pMenu->addAction(QStringLiteral("&Export as CSV..."), this, &CDeviceListCtrl::ExportCsv);
    connect(m_pMenu, &QMenu::aboutToShow, this, [this] { m_actCopy->setEnabled(SelectedRow() >= 0); });
}

QStringList CDeviceListCtrl::Headings() const
{
    QStringList out;
    for (int c = 0; c < columnCount(); ++c)
        out << headerItem()->text(c);
    return out;
}

QStringList CDeviceListCtrl::Cells(int row) const
{
    QStringList out;
    const QTreeWidgetItem* item = row >= 0 ? topLevelItem(row) : nullptr;
    for (int c = 0; item && c < columnCount(); ++c)
        out << item->text(c);
    return out;
}

int CDeviceListCtrl::SelectedRow() const
{
    const QList<QTreeWidgetItem*> sel = selectedItems();
    return sel.isEmpty() ? -1 : indexOfTopLevelItem(sel.first());
}

QString CDeviceListCtrl::RowText(int row) const
{
    return Cells(row).join(QLatin1Char('\t'));
}

QString CDeviceListCtrl::AllText() const
{
    QString out = Headings().join(QLatin1Char('\t')) + QLatin1Char('\n');
    for (int r = 0; r < topLevelItemCount(); ++r)
        out += RowText(r) + QLatin1Char('\n');
    return out;
}

QString CDeviceListCtrl::CsvText() const
{
    auto line = [](const QStringList& fields) {
        QStringList quoted;
        for (QString f : fields) {
            if (f.contains(QLatin1Char(',')) || f.contains(QLatin1Char('"')) ||
                f.contains(QLatin1Char('\r')) || f.contains(QLatin1Char('\n')))
                f = QLatin1Char('"') + f.replace(QLatin1String("\""), QLatin1String("\"\"")) +
                    QLatin1Char('"');
            quoted << f;
        }
        return quoted.join(QLatin1Char(',')) + QLatin1String("\r\n");
    };
    QString out = line(Headings());
    for (int r = 0; r < topLevelItemCount(); ++r)
        out += line(Cells(r));
    return out;
}

void CDeviceListCtrl::CopySelected()
{
    const int row = SelectedRow();
    if (row >= 0)
        QGuiApplication::clipboard()->setText(RowText(row));
}

void CDeviceListCtrl::CopyAll()
{
    QGuiApplication::clipboard()->setText(AllText());
}

void CDeviceListCtrl::ExportCsv()
{
    const QString path =
        UiSeam::GetSaveFileName(window(), QStringLiteral("Export as CSV"), QStringLiteral("devices.csv"),
                                QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);   // replaces an existing file only once all is written
    const QByteArray bytes = CsvText().toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return;
    UiSeam::MessageBox(window(),
                       QStringLiteral("Cannot write the file %1: %2.")
                           .arg(QDir::toNativeSeparators(path), file.errorString()),
                       MsgIcon::Stop);
}

void CDeviceListCtrl::OpenContextMenu(const QPoint* globalPos)
{
    if (QApplication::activePopupWidget())
        return;   // a menu is already open (the key and its context event both came)
    QPoint at;
    if (globalPos) {
        at = *globalPos;
    } else {
        const QRect r = currentItem() ? visualItemRect(currentItem()) : QRect();
        at = viewport()->mapToGlobal(r.isValid() ? r.bottomLeft() : QPoint(0, 0));
    }
    m_pMenu->popup(at);
}

void CDeviceListCtrl::contextMenuEvent(QContextMenuEvent* e)
{
    if (e->reason() == QContextMenuEvent::Mouse) {
        const QPoint at = e->globalPos();
        OpenContextMenu(&at);
    } else {
        OpenContextMenu();
    }
    e->accept();
}

void CDeviceListCtrl::keyPressEvent(QKeyEvent* e)
{
    if (e->matches(QKeySequence::Copy)) {
        CopySelected();
        return;
    }
    if (e->key() == Qt::Key_Menu || (e->key() == Qt::Key_F10 && e->modifiers() == Qt::ShiftModifier)) {
        OpenContextMenu();
        return;
    }
    if (e->key() == Qt::Key_Space && e->modifiers() == Qt::NoModifier && currentItem()) {
        QTreeWidget::keyPressEvent(e);   // selects the current row
        m_nHotItem = indexOfTopLevelItem(currentItem());
        emit clickNotify();
        return;
    }
    QTreeWidget::keyPressEvent(e);
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
    m_extents.insert(m_extents.begin() + col, Extent{widthPx, {}, 0, {}});
    FitColumns();
    return col;
}

void CDeviceListCtrl::SetColumnExtent(int col, const QString& alphabet, int length, const QString& fixed)
{
    if (col < 0 || col >= static_cast<int>(m_extents.size()))
        return;
    Extent& e = m_extents[static_cast<size_t>(col)];
    e.alphabet = alphabet;
    e.length = length;
    e.fixed = fixed;
    FitColumns();
}

void CDeviceListCtrl::DeleteAllItems()
{
    clear();
    FitColumns();
}

void CDeviceListCtrl::FitColumns()
{
    const int n = columnCount();
    if (m_bFitting || n == 0 || static_cast<int>(m_extents.size()) != n)
        return;
    m_bFitting = true;
    const QFontMetrics fm(font());
    // The item view's text margin on either side of a cell's text.
    const int padding = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
    int used = 0;
    for (int c = 0; c < n; ++c) {
        const Extent& e = m_extents[static_cast<size_t>(c)];
        int w = std::max({e.minWidth, sizeHintForColumn(c), header()->sectionSizeHint(c)});
        if (e.length > 0) {
            int widest = 0;
            for (const QChar ch : e.alphabet)
                widest = std::max(widest, fm.horizontalAdvance(ch));
            w = std::max(w, widest * e.length + fm.horizontalAdvance(e.fixed) + padding);
        }
        if (c == n - 1)
            w = std::max(w, viewport()->width() - used);   // the rest of the view
        setColumnWidth(c, w);
        used += w;
    }
    m_bFitting = false;
}

void CDeviceListCtrl::resizeEvent(QResizeEvent* e)
{
    QTreeWidget::resizeEvent(e);
    FitColumns();
}

void CDeviceListCtrl::changeEvent(QEvent* e)
{
    QTreeWidget::changeEvent(e);
    if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange)
        FitColumns();
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
    FitColumns();
    return pos;
}

bool CDeviceListCtrl::SetItemText(int row, int sub, const QString& text)
{
    QTreeWidgetItem* item = (row >= 0) ? topLevelItem(row) : nullptr;
    if (!item || sub < 0 || sub >= columnCount())
        return false;
    item->setText(sub, text);
    FitColumns();
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
