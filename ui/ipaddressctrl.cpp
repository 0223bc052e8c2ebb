#include "ipaddressctrl.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QValidator>

namespace {

// Whether a field may hold this text: at most three digits, at most 255.
bool IsOctetText(const QString& s)
{
    if (s.size() > 3)
        return false;
    int v = 0;
    for (QChar c : s) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        v = v * 10 + (c.unicode() - '0');
    }
    return v <= 255;
}

// A field's keystrokes: one that would leave the field holding anything but
// an octet is refused, so the field keeps its text.
class OctetValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override
    {
        (void)pos;
        if (!IsOctetText(input))
            return Invalid;
        return input.isEmpty() ? Intermediate : Acceptable;
    }
};

// A pasted address: four decimal parts of one to three digits, each 0 to 255,
// with blanks around the whole allowed.
bool ParseDottedAddress(const QString& text, uint8_t out[4])
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        if (parts[i].isEmpty() || !IsOctetText(parts[i]))
            return false;
        out[i] = static_cast<uint8_t>(parts[i].toInt());
    }
    return true;
}

bool IsDigits(const QString& s)
{
    for (QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return !s.isEmpty();
}

bool IsModifierKey(int key)
{
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
           key == Qt::Key_Meta || key == Qt::Key_AltGr;
}

}  // namespace

CIpAddressCtrl::CIpAddressCtrl(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    auto* lay = new QHBoxLayout(this);
    lay->setContentsMargins(2, 0, 2, 0);
    lay->setSpacing(0);
    auto* validator = new OctetValidator(this);
    for (int i = 0; i < 4; ++i) {
        auto* f = new QLineEdit(this);
        f->setFrame(false);
        f->setAlignment(Qt::AlignCenter);
        f->setMaxLength(3);
        f->setValidator(validator);
        f->setAccessibleName(QStringLiteral("octet %1").arg(i + 1));
        f->installEventFilter(this);
        // One tab stop for the control: Tab enters at the first field and the
        // next Tab leaves; the other fields are reached by dot, arrows, typing.
        f->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        // The field's own menu, with its Paste taking whole addresses.
        f->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(f, &QWidget::customContextMenuRequested, this,
                [this, i](const QPoint& pos) { ShowFieldMenu(i, pos); });
        connect(f, &QLineEdit::textEdited, this, [this, i] { OnFieldEdited(i); });
        m_fields[static_cast<size_t>(i)] = f;
        lay->addWidget(f, 1);
        if (i < 3) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            dot->setAutoFillBackground(true);   // the control's face under the dot, as under a field
            lay->addWidget(dot);
        }
    }
    setFocusProxy(m_fields[0]);
    setFocusPolicy(Qt::StrongFocus);
}

int CIpAddressCtrl::IndexOf(QObject* o) const
{
    for (int i = 0; i < 4; ++i)
        if (m_fields[static_cast<size_t>(i)] == o)
            return i;
    return -1;
}

void CIpAddressCtrl::FocusField(int i, Entry how)
{
    QLineEdit* f = m_fields[static_cast<size_t>(i)];
    f->setFocus(Qt::OtherFocusReason);
    switch (how) {
    case Entry::SelectAll:
        f->selectAll();
        break;
    case Entry::AtStart:
        f->deselect();
        f->setCursorPosition(0);
        break;
    case Entry::AtEnd:
        f->deselect();
        f->setCursorPosition(static_cast<int>(f->text().size()));
        break;
    }
}

void CIpAddressCtrl::OnFieldEdited(int i)
{
    QLineEdit* f = m_fields[static_cast<size_t>(i)];
    // A full field with the cursor at its end: the next digit belongs to the
    // next field, whose old text it replaces.
    if (i < 3 && f->text().size() == 3 && f->cursorPosition() == 3) {
        FocusField(i + 1, Entry::SelectAll);
        m_jumpedTo = i + 1;
    }
    emit edited();
}

bool CIpAddressCtrl::eventFilter(QObject* watched, QEvent* event)
{
    const int i = IndexOf(watched);
    if (i < 0)
        return QFrame::eventFilter(watched, event);
    if (event->type() == QEvent::FocusOut && i == m_jumpedTo) {
        m_jumpedTo = -1;   // left the field some other way: the next dot is a dot again
    } else if (event->type() == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(event);
        if (IsModifierKey(ke->key()))   // e.g. the Shift of a layout's dot
            return QFrame::eventFilter(watched, event);
        const bool afterJump = m_jumpedTo == i;
        m_jumpedTo = -1;
        QLineEdit* f = m_fields[static_cast<size_t>(i)];
        if (ke->matches(QKeySequence::Paste)) {
            Paste(i);
            return true;
        }
        if (ke->text() == QLatin1String(".")) {
            if (i < 3 && !afterJump && !f->text().isEmpty())
                FocusField(i + 1, Entry::SelectAll);
            return true;
        }
        if (ke->key() == Qt::Key_Backspace && i > 0 && f->cursorPosition() == 0 &&
            !f->hasSelectedText()) {
            FocusField(i - 1, Entry::AtEnd);
            return true;
        }
        const bool plain = (ke->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        const int from = f->hasSelectedText() ? f->selectionStart() : f->cursorPosition();
        const int to = f->hasSelectedText() ? f->selectionEnd() : f->cursorPosition();
        if (plain && ke->key() == Qt::Key_Right && i < 3 && to == f->text().size()) {
            FocusField(i + 1, Entry::AtStart);
            return true;
        }
        if (plain && ke->key() == Qt::Key_Left && i > 0 && from == 0) {
            FocusField(i - 1, Entry::AtEnd);
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

void CIpAddressCtrl::Paste(int i)
{
    m_jumpedTo = -1;
    QLineEdit* f = m_fields[static_cast<size_t>(i)];
    if (f->isReadOnly() || !f->isEnabled())
        return;
    const QString text = QGuiApplication::clipboard()->text();
    uint8_t a[4];
    if (ParseDottedAddress(text, a)) {
        SetAddress(a[0], a[1], a[2], a[3]);
        FocusField(3, Entry::AtEnd);
        emit edited();
        return;
    }
    const QString digits = text.trimmed();
    if (!IsDigits(digits))
        return;
    // As typed into the field: the digits replace its selection, or go in at
    // the cursor, if the field then still holds an octet.
    QString after = f->text();
    if (f->hasSelectedText())
        after.replace(f->selectionStart(), f->selectedText().size(), digits);
    else
        after.insert(f->cursorPosition(), digits);
    if (IsOctetText(after))
        f->insert(digits);   // an edit like a keystroke's: undo, textEdited, the jump
}

void CIpAddressCtrl::ShowFieldMenu(int i, const QPoint& pos)
{
    QLineEdit* f = m_fields[static_cast<size_t>(i)];
    QMenu* menu = f->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The entry is known by its text, shown with its shortcut after a tab.
    const QString pasteText = QLineEdit::tr("&Paste");
    for (QAction* a : menu->actions()) {
        if (a->text().section(QLatin1Char('\t'), 0, 0) == pasteText) {
            disconnect(a, &QAction::triggered, nullptr, nullptr);
            connect(a, &QAction::triggered, this, [this, i] { Paste(i); });
        }
    }
    menu->popup(f->mapToGlobal(pos));
}

void CIpAddressCtrl::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::EnabledChange)
        setBackgroundRole(isEnabled() ? QPalette::Base : QPalette::Window);
    QFrame::changeEvent(e);
}

void CIpAddressCtrl::SetAddress(uint8_t f0, uint8_t f1, uint8_t f2, uint8_t f3)
{
    const uint8_t v[4] = {f0, f1, f2, f3};
    for (int i = 0; i < 4; ++i)
        m_fields[static_cast<size_t>(i)]->setText(QString::number(v[i]));
}

void CIpAddressCtrl::Clear()
{
    for (QLineEdit* f : m_fields)
        f->clear();
}

int CIpAddressCtrl::GetAddress(uint8_t out[4]) const
{
    int filled = 0;
    for (int i = 0; i < 4; ++i) {
        const QString t = m_fields[static_cast<size_t>(i)]->text();
        if (t.isEmpty()) {
            out[i] = 0;
            continue;
        }
        ++filled;
        const int v = t.toInt();
        out[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
    }
    return filled;
}

bool CIpAddressCtrl::IsBlank() const
{
    for (QLineEdit* f : m_fields)
        if (!f->text().isEmpty())
            return false;
    return true;
}

QString CIpAddressCtrl::Text() const
{
    uint8_t a[4];
    GetAddress(a);
    return QStringLiteral("%1.%2.%3.%4").arg(a[0]).arg(a[1]).arg(a[2]).arg(a[3]);
}
