#include "dialogbase.h"

#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBlock>

#include "resource.h"
#include "uiseam.h"

CDialogBase::CDialogBase(int templateId, const QFont& font, QWidget* parent)
    : QDialog(parent), m_nTemplateId(templateId), m_dlu(font)
{
    InitResources();
    setFont(font);
    setProperty("templateId", templateId);
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
    return OnInitDialog();
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
    setFixedSize(m_dlu.X(wDlu), m_dlu.Y(hDlu));
}

QPushButton* CDialogBase::AddButton(int id, const QString& text, int x, int y, int w, int h)
{
    auto* b = new QPushButton(text, this);
    b->setGeometry(m_dlu.Rect(x, y, w, h));
    b->setAutoDefault(false);
    b->setDefault(false);
    SetControlId(b, id, QString(text).remove(QLatin1Char('&')));
    return b;
}

QLineEdit* CDialogBase::AddEdit(int id, const QString& name, int x, int y, int w, int h)
{
    auto* e = new QLineEdit(this);
    e->setGeometry(m_dlu.Rect(x, y, w, h));
    SetControlId(e, id, name);
    return e;
}

QLabel* CDialogBase::AddLabel(const QString& text, Qt::Alignment align, int x, int y, int w, int h)
{
    auto* l = new QLabel(text, this);
    l->setGeometry(m_dlu.Rect(x, y, w, h));
    l->setAlignment(align);
    l->setTextFormat(Qt::PlainText);
    SetControlId(l, IDC_STATIC, text);
    return l;
}

QGroupBox* CDialogBase::AddGroup(const QString& title, int x, int y, int w, int h)
{
    auto* g = new QGroupBox(title, this);
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
