#include "dialogbase.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMoveEvent>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyleOption>
#include <QTextBlock>
#include <QTextEdit>
#include <QWindow>
#include <cmath>

#include "accessibles.h"
#include "devicelist.h"
#include "ipaddressctrl.h"
#include "resource.h"
#include "uiseam.h"

namespace {

// Frames whose contents stop one pixel short of the right and bottom border
// when the screen's scale is fractional (1.25, 1.5 ...): there a one-pixel
// border falls on device pixels that the controls inside also cover, and
// they would paint over it.
class FrameStyle : public QProxyStyle {
public:
    explicit FrameStyle(const QString& base) : QProxyStyle(base) {}

    QRect subElementRect(SubElement element, const QStyleOption* option,
                         const QWidget* widget) const override
    {
        QRect r = QProxyStyle::subElementRect(element, option, widget);
        if (element == SE_ShapedFrameContents && widget && FractionalScale(widget)) {
            const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
            if (frame && frame->frameShape != QFrame::NoFrame)
                r.adjust(0, 0, -1, -1);
        }
        return r;
    }

    static bool FractionalScale(const QWidget* w)
    {
        const qreal dpr = w->devicePixelRatioF();
        return std::abs(dpr - std::round(dpr)) > 0.01;
    }
};

QStyle* SharedFrameStyle()
{
    static QPointer<QStyle> style;
    if (!style) {
        style = new FrameStyle(QApplication::style()->name());
        style->setParent(qApp);   // lives as long as the application
    }
    return style;
}

// The windows' own accessible nodes: the program's main window is announced
// as a window and its forms as dialogs.
class DialogAccessible : public QAccessibleWidget {
public:
    explicit DialogAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::Dialog) {}
    QAccessible::Role role() const override
    {
        return widget()->windowType() == Qt::Dialog ? QAccessible::Dialog : QAccessible::Window;
    }
};

// A page exposes the controls the template shows; one that is hidden for
// good (a control the form keeps only for its value) is left out, so that
// assistive technology never announces it.
class PageAccessible : public QAccessibleWidget {
public:
    explicit PageAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::Client) {}

    int childCount() const override { return static_cast<int>(Shown().size()); }
    QAccessibleInterface* child(int index) const override
    {
        const QWidgetList shown = Shown();
        return index >= 0 && index < shown.size() ? QAccessible::queryAccessibleInterface(shown.at(index))
                                                  : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (!child || !child->object() || !child->object()->isWidgetType())
            return -1;
        return static_cast<int>(Shown().indexOf(static_cast<QWidget*>(child->object())));
    }

private:
    QWidgetList Shown() const
    {
        QWidgetList out;
        for (QObject* o : widget()->children()) {
            auto* w = qobject_cast<QWidget*>(o);
            if (w && !w->isWindow() && !qobject_cast<QMenu*>(w) && w->isVisibleTo(widget()))
                out << w;
        }
        return out;
    }
};

// The room of a screen's area, in the logical pixels the window is sized in,
// that never takes more device pixels than the area has. At a fractional
// scale the area's logical size is rounded: 1024 device pixels at 150 % are
// 683 logical ones, and a window 683 wide takes 1025 device pixels. So the
// room is counted from the fewest device pixels that round to the area's
// size, and a window size is rounded to device pixels as the toolkit does.
QSize RoomInDevicePixels(const QSize& logical, qreal dpr)
{
    if (dpr <= 0 || std::abs(dpr - 1.0) < 1e-9)
        return logical;
    auto fit = [dpr](int l) {
        if (l <= 0)
            return l;
        const int fewest = static_cast<int>(std::ceil((l - 0.5) * dpr - 1e-9));
        int w = static_cast<int>(std::floor(fewest / dpr));
        while (w > 0 && qRound(w * dpr) > fewest)
            --w;
        return w;
    };
    return QSize(fit(logical.width()), fit(logical.height()));
}

QAccessibleInterface* AccessibleFactory(const QString& key, QObject* object)
{
    if (!object || !object->isWidgetType() || key != QLatin1String(object->metaObject()->className()))
        return nullptr;
    if (qobject_cast<CDialogPage*>(object))
        return new PageAccessible(static_cast<QWidget*>(object));
    if (qobject_cast<CDialogBase*>(object))
        return new DialogAccessible(static_cast<QWidget*>(object));
    if (auto* list = qobject_cast<CDeviceListCtrl*>(object))
        return NewDeviceListAccessible(list);
    if (auto* address = qobject_cast<CIpAddressCtrl*>(object))
        return NewAddressAccessible(address);
    // The windows' own drop-down lists (not those of a file dialog).
    auto* combo = qobject_cast<QComboBox*>(object);
    if (combo && !combo->isEditable() && qobject_cast<CDialogBase*>(combo->window()))
        return NewDropDownAccessible(combo);
    return nullptr;
}

}  // namespace

CDialogBase::CDialogBase(int templateId, const QFont& font, QWidget* parent)
    : QDialog(parent), m_nTemplateId(templateId), m_dlu(font)
{
    InitResources();
    static const bool accessibleInstalled = (QAccessible::installFactory(AccessibleFactory), true);
    (void)accessibleInstalled;
    setFont(font);
    setProperty("templateId", templateId);
    m_pPage = new CDialogPage(this);
}

CDialogPage::CDialogPage(CDialogBase* dialog) : QWidget(dialog), m_pDialog(dialog) {}

void CDialogPage::paintEvent(QPaintEvent* e)
{
    QWidget::paintEvent(e);
    QPainter p(this);
    m_pDialog->PaintPage(p);
}

QWidget* CDialogBase::Page() const
{
    return m_pPage;
}

int CDialogBase::DoModal()
{
    EnsureInitialized();
    return UiSeam::RunModal(this);
}

int CDialogBase::RunWindow()
{
    EnsureInitialized();
    setWindowModality(Qt::NonModal);
    setResult(0);
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    show();
    if (isVisible())
        loop.exec(QEventLoop::DialogExec);
    return result();
}

bool CDialogBase::EnsureInitialized()
{
    if (m_bInitialized)
        return true;
    m_bInitialized = true;
    const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen)
        FitToArea(screen->availableGeometry());
    KeepFramesVisible();
    NamePopups();
    return OnInitDialog();
}

void CDialogBase::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    RefitForFrame();
    QWindow* w = windowHandle();
    if (m_bFollowsScreen || !w)
        return;
    m_bFollowsScreen = true;
    // Dragged to a smaller screen (or one at a larger scale) the window scrolls
    // there; back on a screen with room, it shows the whole template again.
    connect(w, &QWindow::screenChanged, this, [this](QScreen* screen) {
        if (screen)
            FitToArea(screen->availableGeometry());
    });
}

void CDialogBase::moveEvent(QMoveEvent* e)
{
    QDialog::moveEvent(e);
    if (isVisible())
        RefitForFrame();
}

void CDialogBase::RefitForFrame()
{
    if (m_fitArea.isValid() && FrameMargins() != m_fitMargins)
        FitToArea(m_fitArea);
}

QMargins CDialogBase::FrameMargins() const
{
    const QWindow* w = windowHandle();
    if (w && !w->frameMargins().isNull())
        return w->frameMargins();
    return QMargins(0, style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this), 0, 0);
}

QSize CDialogBase::FrameSize() const
{
    return size().grownBy(FrameMargins());
}

void CDialogBase::keyPressEvent(QKeyEvent* e)
{
    if (OpenTextBoxMenu(e))
        return;
    QDialog::keyPressEvent(e);
}

bool CDialogBase::OpenTextBoxMenu(const QKeyEvent* e)
{
    const bool menuKey = e->key() == Qt::Key_Menu;
    const bool shiftF10 = e->key() == Qt::Key_F10 && e->modifiers() == Qt::ShiftModifier;
    QWidget* box = focusWidget();
    if ((!menuKey && !shiftF10) || !box ||
        !(qobject_cast<QLineEdit*>(box) || qobject_cast<QPlainTextEdit*>(box) || qobject_cast<QTextEdit*>(box)))
        return false;
    const Qt::ContextMenuPolicy policy = box->contextMenuPolicy();
    if (policy == Qt::NoContextMenu || policy == Qt::PreventContextMenu)
        return false;   // such a box leaves its menu to the window
    if (QApplication::activePopupWidget())
        return true;    // open already: the key and the system's context event both came
    // At the text cursor, as the system places a menu opened from the keyboard.
    QPoint at = box->inputMethodQuery(Qt::ImCursorRectangle).toRect().bottomLeft();
    if (!box->rect().contains(at))
        at = box->rect().center();
    QContextMenuEvent ev(QContextMenuEvent::Keyboard, at, box->mapToGlobal(at));
    QApplication::sendEvent(box, &ev);
    return true;
}

void CDialogBase::FitToArea(const QRect& area)
{
    const QSize full = m_pPage->size();
    const QScreen* screen = QGuiApplication::screenAt(area.center());
    const qreal dpr = screen ? screen->devicePixelRatio() : devicePixelRatioF();
    m_fitArea = area;
    m_fitMargins = FrameMargins();
    const QSize room = RoomInDevicePixels(area.size(), dpr).shrunkBy(m_fitMargins);
    if (full.width() <= room.width() && full.height() <= room.height()) {
        if (m_pScroll) {
            m_pScroll->takeWidget();
            m_pPage->setParent(this);
            m_pPage->move(0, 0);
            m_pPage->show();
            delete m_pScroll;
            m_pScroll = nullptr;
        }
        setFixedSize(full);
        return;
    }
    if (!m_pScroll) {
        m_pScroll = new QScrollArea(this);
        m_pScroll->setFrameShape(QFrame::NoFrame);
        m_pScroll->setFocusPolicy(Qt::NoFocus);
        m_pScroll->setWidgetResizable(false);
        m_pScroll->setWidget(m_pPage);
        // A control that takes the focus, by Tab, a click or a message that
        // points at it, is scrolled into view.
        connect(qApp, &QApplication::focusChanged, m_pScroll, [this](QWidget*, QWidget* now) {
            if (now && m_pScroll && m_pPage->isAncestorOf(now))
                m_pScroll->ensureWidgetVisible(now);
        });
    }
    // The room there is, with a scroll bar along each side that overflows.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_pScroll);
    QSize want = full;
    if (full.height() > room.height())
        want.rwidth() += bar;
    if (full.width() > room.width())
        want.rheight() += bar;
    const QSize capped = want.boundedTo(room);
    setFixedSize(capped);
    m_pScroll->setGeometry(QRect(QPoint(0, 0), capped));
    m_pScroll->show();
}

void CDialogBase::CentreInArea(const QRect& area)
{
    const QSize frame = FrameSize();
    QPoint at(area.x() + (area.width() - frame.width()) / 2, area.y() + (area.height() - frame.height()) / 2);
    at.setX(std::max(at.x(), area.x()));
    at.setY(std::max(at.y(), area.y()));
    move(at);
}

void CDialogBase::KeepFramesVisible()
{
    for (QFrame* f : m_pPage->findChildren<QFrame*>()) {
        if (f->window() == this && f->frameShape() != QFrame::NoFrame && !f->testAttribute(Qt::WA_SetStyle))
            f->setStyle(SharedFrameStyle());
    }
}

void CDialogBase::NamePopups()
{
    for (QComboBox* c : m_pPage->findChildren<QComboBox*>()) {
        QAbstractItemView* list = c->view();
        list->setAccessibleName(c->accessibleName());
        if (QWidget* popup = list->window(); popup && popup != this)
            popup->setAccessibleName(c->accessibleName());
    }
}

void CDialogBase::SetModalFrame(const QString& caption)
{
    setWindowTitle(caption);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
}

void CDialogBase::SetClientSize(int wDlu, int hDlu)
{
    m_pPage->setFixedSize(m_dlu.X(wDlu), m_dlu.Y(hDlu));
    setFixedSize(m_pPage->size());
}

QPushButton* CDialogBase::AddButton(int id, const QString& text, int x, int y, int w, int h)
{
    auto* b = new QPushButton(text, m_pPage);
    b->setGeometry(m_dlu.Rect(x, y, w, h));
    b->setAutoDefault(false);
    b->setDefault(false);
    SetControlId(b, id, QString(text).remove(QLatin1Char('&')));
    return b;
}

QLineEdit* CDialogBase::AddEdit(int id, const QString& name, int x, int y, int w, int h)
{
    auto* e = new QLineEdit(m_pPage);
    e->setGeometry(m_dlu.Rect(x, y, w, h));
    SetControlId(e, id, name);
    return e;
}

QLabel* CDialogBase::AddLabel(const QString& text, Qt::Alignment align, int x, int y, int w, int h)
{
    auto* l = new QLabel(text, m_pPage);
    l->setGeometry(m_dlu.Rect(x, y, w, h));
    l->setAlignment(align);
    l->setTextFormat(Qt::PlainText);
    SetControlId(l, IDC_STATIC, text);
    return l;
}

QGroupBox* CDialogBase::AddGroup(const QString& title, int x, int y, int w, int h)
{
    auto* g = new QGroupBox(title, m_pPage);
    g->setGeometry(m_dlu.Rect(x, y, w, h));
    SetControlId(g, IDC_STATIC, title);
    g->lower();   // frames stay behind the controls they surround
    return g;
}

CMultiLineEdit::CMultiLineEdit(QWidget* parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
}

void CMultiLineEdit::SetWindowText(const QString& text)
{
    m_strText = text;
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    setPlainText(shown);
}

void CMultiLineEdit::ShowLastLine()
{
    // The last line with text goes to the bottom of the view; the empty line
    // after a final line end stays below it.
    QTextBlock last = document()->lastBlock();
    if (last.text().isEmpty() && last.previous().isValid())
        last = last.previous();
    QTextCursor c(last);
    c.movePosition(QTextCursor::EndOfBlock);
    setTextCursor(c);
    ensureCursorVisible();
}
