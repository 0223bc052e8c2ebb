#include "ipaddressctrl.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

CIpAddressCtrl::CIpAddressCtrl(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    auto* lay = new QHBoxLayout(this);
    lay->setContentsMargins(2, 0, 2, 0);
    lay->setSpacing(0);
    auto* validator = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
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
        connect(f, &QLineEdit::textEdited, this, [this, i](const QString& t) {
            bool ok = false;
            const int v = t.toInt(&ok);
            if (ok && v > 255) {   // out of range: the field takes the largest value
                m_fields[static_cast<size_t>(i)]->setText(QStringLiteral("255"));
            }
            if (t.size() == 3 && i < 3)
                FocusField(i + 1, false);
        });
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

void CIpAddressCtrl::FocusField(int i, bool atEnd)
{
    QLineEdit* f = m_fields[static_cast<size_t>(i)];
    f->setFocus(Qt::OtherFocusReason);
    if (atEnd)
        f->setCursorPosition(static_cast<int>(f->text().size()));
    else
        f->selectAll();
}

bool CIpAddressCtrl::eventFilter(QObject* watched, QEvent* event)
{
    const int i = IndexOf(watched);
    if (i >= 0 && event->type() == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(event);
        QLineEdit* f = m_fields[static_cast<size_t>(i)];
        if (ke->text() == QLatin1String(".")) {
            if (i < 3 && !f->text().isEmpty())
                FocusField(i + 1, false);
            return true;
        }
        if (ke->key() == Qt::Key_Backspace && i > 0 && f->cursorPosition() == 0 &&
            !f->hasSelectedText()) {
            FocusField(i - 1, true);
            return true;
        }
        if (ke->key() == Qt::Key_Right && i < 3 && f->cursorPosition() == f->text().size()) {
            FocusField(i + 1, true);
            m_fields[static_cast<size_t>(i + 1)]->setCursorPosition(0);
            return true;
        }
        if (ke->key() == Qt::Key_Left && i > 0 && f->cursorPosition() == 0) {
            FocusField(i - 1, true);
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
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
