#include "devicelist.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QSaveFile>
#include <QStyle>
#include <QtMath>
#include <algorithm>

#include "protocol.h"
#include "uiseam.h"
#include "windowsettings.h"

namespace {

// The text a cell came with, where it differs from the text it shows.
constexpr int kAsCameRole = Qt::UserRole + 1;

QString AsCame(const QTreeWidgetItem* item, int col)
{
    const QVariant asCame = item->data(col, kAsCameRole);
    return asCame.isValid() ? asCame.toString() : item->text(col);
}

bool IsControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// A field of text copied for pasting into a spreadsheet or a text editor.
QString ClipboardField(const QString& text)
{
    if (!text.contains(QLatin1Char('\t')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')) && !text.startsWith(QLatin1Char('"')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1String("\""), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

}  // namespace

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
    m_boldFont = font();
    m_boldFont.setBold(true);

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

QStringList CDeviceListCtrl::Cells(int row, bool asCame) const
{
    QStringList out;
    for (int c = 0; row >= 0 && row < topLevelItemCount() && c < columnCount(); ++c)
        out << (asCame ? GetItemText(row, c) : topLevelItem(row)->text(c));
    return out;
}

QString CDeviceListCtrl::VisibleText(const QString& text)
{
    bool plain = true;
    for (const QChar ch : text)
        plain = plain && !IsControl(ch.unicode()) && ch != QLatin1Char('\\');
    if (plain)
        return text;
    QString out;
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c == '\\')
            out += QLatin1String("\\\\");
        else if (!IsControl(c))
            out += ch;
        else if (c == '\r')
            out += QLatin1String("\\r");
        else if (c == '\n')
            out += QLatin1String("\\n");
        else if (c == '\t')
            out += QLatin1String("\\t");
        else
            out += QStringLiteral("\\x%1").arg(static_cast<unsigned>(c), 2, 16, QLatin1Char('0'));
    }
    return out;
}

void CDeviceListCtrl::SetCell(QTreeWidgetItem* item, int col, const QString& text)
{
    const QString shown = VisibleText(text);
    item->setText(col, shown);
    item->setData(col, kAsCameRole, shown == text ? QVariant() : QVariant(text));
    NoteCellWidth(item, col);
    if (col <= 1)
        ApplyMark(item);
}

void CDeviceListCtrl::NoteCellWidth(const QTreeWidgetItem* item, int col)
{
    if (col < 0 || col >= static_cast<int>(m_contentWidth.size()))
        return;
    const bool bold = item->data(col, Qt::FontRole).isValid();
    // As the view measures a cell: the text's exact advance, rounded up.
    const int w = qCeil(QFontMetricsF(bold ? m_boldFont : font()).horizontalAdvance(item->text(col))) +
                  TextPadding();
    int& widest = m_contentWidth[static_cast<size_t>(col)];
    widest = std::max(widest, w);
}

void CDeviceListCtrl::MeasureAllCells()
{
    m_contentWidth.assign(static_cast<size_t>(columnCount()), 0);
    for (int r = 0; r < topLevelItemCount(); ++r)
        for (int c = 0; c < columnCount(); ++c)
            NoteCellWidth(topLevelItem(r), c);
}

int CDeviceListCtrl::TextPadding() const
{
    // The item view's text margin on either side of a cell's text.
    return 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
}

bool CDeviceListCtrl::IsMarked(const QTreeWidgetItem* item) const
{
    if (m_strMarkSerial.isEmpty() && m_strMarkMac.isEmpty())
        return false;
    return AsCame(item, 0) == m_strMarkSerial && AsCame(item, 1) == m_strMarkMac;
}

void CDeviceListCtrl::ApplyMark(QTreeWidgetItem* item)
{
    const bool marked = IsMarked(item);
    if (!marked && !item->data(0, Qt::FontRole).isValid())
        return;   // not marked, nor ever was
    for (int c = 0; c < columnCount(); ++c) {
        item->setData(c, Qt::FontRole, marked ? QVariant(m_boldFont) : QVariant());
        NoteCellWidth(item, c);
    }
    item->setData(0, Qt::AccessibleDescriptionRole,
                  marked ? QVariant(QStringLiteral("configuration shown")) : QVariant());
}

void CDeviceListCtrl::MarkDevice(const QString& serial, const QString& mac)
{
    m_strMarkSerial = serial;
    m_strMarkMac = mac;
    for (int r = 0; r < topLevelItemCount(); ++r)
        ApplyMark(topLevelItem(r));
    FitColumns();
}

int CDeviceListCtrl::MarkedRow() const
{
    for (int r = 0; r < topLevelItemCount(); ++r)
        if (IsMarked(topLevelItem(r)))
            return r;
    return -1;
}

int CDeviceListCtrl::SelectedRow() const
{
    const QList<QTreeWidgetItem*> sel = selectedItems();
    return sel.isEmpty() ? -1 : indexOfTopLevelItem(sel.first());
}

QString CDeviceListCtrl::RowText(int row) const
{
    QStringList fields;
    for (const QString& cell : Cells(row))
        fields << ClipboardField(cell);
    return fields.join(QLatin1Char('\t'));
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
            static const QString kFormulaStarts = QStringLiteral("=+-@\t\r");
            if (!f.isEmpty() && kFormulaStarts.contains(f.front()))
                f.prepend(QLatin1Char('\''));
            quoted << QString::fromStdString(CsvQuote(f.toStdString()));   // UTF-8 both ways
        }
        return quoted.join(QLatin1Char(',')) + QLatin1String("\r\n");
    };
    QString out = line(Headings());
    for (int r = 0; r < topLevelItemCount(); ++r)
        out += line(Cells(r, true));
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
    // The dialog opens where this window's last export went, else where the
    // last run's went, else in the documents folder.
    QString folder = m_strExportFolder;
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = LoadExportFolder();
    const QString path = UiSeam::GetSaveFileName(
        window(), QStringLiteral("Export as CSV"), QDir(folder).filePath(QStringLiteral("devices.csv")),
        QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);   // replaces an existing file only once all is written
    const QByteArray bytes = CsvText().toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) {
        m_strExportFolder = QFileInfo(path).absolutePath();
        SaveExportFolder(m_strExportFolder);
        return;
    }
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
    // Enter opens the current row as Space does; it never reaches the window,
    // where it would end the program.
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) &&
        (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        e->accept();
        if (currentItem()) {
            setCurrentItem(currentItem(), 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            m_nHotItem = indexOfTopLevelItem(currentItem());
            emit clickNotify();
        }
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
    MeasureAllCells();
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
    MeasureAllCells();
    FitColumns();
}

void CDeviceListCtrl::BeginFill()
{
    ++m_nFilling;
}

void CDeviceListCtrl::EndFill()
{
    if (m_nFilling > 0 && --m_nFilling == 0)
        FitColumns();
}

void CDeviceListCtrl::FitColumns()
{
    const int n = columnCount();
    if (m_bFitting || m_nFilling > 0 || n == 0 || static_cast<int>(m_extents.size()) != n)
        return;
    m_bFitting = true;
    const QFontMetrics fm(font());
    const int padding = TextPadding();
    int used = 0;
    for (int c = 0; c < n; ++c) {
        const Extent& e = m_extents[static_cast<size_t>(c)];
        // The cells' widths as noted when they were written: measuring the
        // rows here would make every fill as slow as the list is long.
        int w = std::max({e.minWidth, m_contentWidth[static_cast<size_t>(c)],
                          header()->sectionSizeHint(c)});
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
    if (e->type() == QEvent::FontChange) {
        m_boldFont = font();
        m_boldFont.setBold(true);
        for (int r = 0; r < topLevelItemCount(); ++r)
            ApplyMark(topLevelItem(r));   // the bold font follows the list's
    }
    if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange) {
        MeasureAllCells();
        FitColumns();
    }
}

int CDeviceListCtrl::LowerBound(const QString& text, const QString& tiebreak) const
{
    // The rows are always in this order, as every row is placed by it: a
    // binary search keeps filling a long list from being quadratic.
    int lo = 0;
    int hi = topLevelItemCount();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        int c = QString::localeAwareCompare(GetItemText(mid, 0), text);
        if (c == 0)
            c = QString::localeAwareCompare(GetItemText(mid, 1), tiebreak);
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

int CDeviceListCtrl::InsertionPoint(const QString& text, const QString& tiebreak) const
{
    // After the rows that sort equal, as a list sorting on insertion does.
    int pos = LowerBound(text, tiebreak);
    while (pos < topLevelItemCount() &&
           QString::localeAwareCompare(GetItemText(pos, 0), text) == 0 &&
           QString::localeAwareCompare(GetItemText(pos, 1), tiebreak) == 0)
        ++pos;
    return pos;
}

void CDeviceListCtrl::SetRowToolTip(int row, const QString& tip)
{
    QTreeWidgetItem* item = topLevelItem(row);
    if (!item)
        return;
    for (int c = 0; c < columnCount(); ++c)
        item->setToolTip(c, tip);
}

void CDeviceListCtrl::InsertRows(const std::vector<QStringList>& rows)
{
    if (rows.empty() || columnCount() == 0)
        return;
    std::vector<QTreeWidgetItem*> items;
    items.reserve(rows.size());
    for (const QStringList& cells : rows) {
        auto* item = new QTreeWidgetItem();
        for (int c = 0; c < columnCount(); ++c) {
            SetCell(item, c, c < cells.size() ? cells[c] : QString());
            if (cells.size() > columnCount())
                item->setToolTip(c, cells[columnCount()]);
        }
        items.push_back(item);
    }
    // In the list's order among themselves; rows that sort equal keep the
    // order they came in, as one by one they would.
    std::stable_sort(items.begin(), items.end(), [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
        const int c = QString::localeAwareCompare(AsCame(a, 0), AsCame(b, 0));
        return c != 0 ? c < 0 : QString::localeAwareCompare(AsCame(a, 1), AsCame(b, 1)) < 0;
    });
    // Each row's place among the rows already there; the places rise with
    // the rows, so the rows that go to one place form one run. The runs go
    // in from the last place back, which leaves the earlier places as found.
    std::vector<std::pair<int, QList<QTreeWidgetItem*>>> runs;
    for (QTreeWidgetItem* item : items) {
        const int pos = InsertionPoint(AsCame(item, 0), AsCame(item, 1));
        if (runs.empty() || runs.back().first != pos)
            runs.push_back({pos, {}});
        runs.back().second.append(item);
    }
    for (auto run = runs.rbegin(); run != runs.rend(); ++run)
        insertTopLevelItems(run->first, run->second);
    FitColumns();
}

int CDeviceListCtrl::InsertItem(int row, const QString& text, const QString& tiebreak)
{
    (void)row;   // a sorted list decides the position itself
    if (columnCount() == 0)
        return -1;
    const int pos = InsertionPoint(text, tiebreak);
    auto* item = new QTreeWidgetItem();
    insertTopLevelItem(pos, item);
    SetCell(item, 0, text);
    FitColumns();
    return pos;
}

int CDeviceListCtrl::FindItem(const QString& text, const QString& tiebreak) const
{
    for (int pos = LowerBound(text, tiebreak); pos < topLevelItemCount(); ++pos) {
        const QString serial = GetItemText(pos, 0);
        const QString mac = GetItemText(pos, 1);
        if (serial == text && mac == tiebreak)
            return pos;
        if (QString::localeAwareCompare(serial, text) != 0 ||
            QString::localeAwareCompare(mac, tiebreak) != 0)
            break;
    }
    return -1;
}

bool CDeviceListCtrl::SetItemText(int row, int sub, const QString& text)
{
    QTreeWidgetItem* item = (row >= 0) ? topLevelItem(row) : nullptr;
    if (!item || sub < 0 || sub >= columnCount())
        return false;
    SetCell(item, sub, text);
    FitColumns();
    return true;
}

QString CDeviceListCtrl::GetItemText(int row, int sub) const
{
    const QTreeWidgetItem* item = (row >= 0) ? topLevelItem(row) : nullptr;
    return item ? AsCame(item, sub) : QString();
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
