#include "ddx.h"

#include <QLineEdit>

#include "uiseam.h"

namespace Ddx {

namespace {
void FailOn(QLineEdit* ctl)
{
    ctl->setFocus(Qt::OtherFocusReason);
    ctl->selectAll();
}
}  // namespace

bool ParseUnsigned(const QString& text, uint64_t* out)
{
    const QString t = text.left(63);
    qsizetype i = 0;
    while (i < t.size() && t[i].isSpace())
        ++i;
    uint64_t v = 0;
    bool any = false;
    for (; i < t.size() && t[i] >= QLatin1Char('0') && t[i] <= QLatin1Char('9'); ++i) {
        any = true;
        v = v * 10 + static_cast<uint64_t>(t[i].unicode() - '0');
        if (v > 0xFFFFFFFFull)
            v = 0x100000000ull;   // saturate: out of any 32-bit range
    }
    *out = v;
    return any;
}

bool ExchangeText(QWidget* dlg, QLineEdit* ctl, int limit, QString* out)
{
    const QString t = ctl->text();
    if (t.size() > limit) {
        UiSeam::MessageBox(dlg, QStringLiteral("Enter no more than %1 characters.").arg(limit),
                           MsgIcon::Exclamation);
        FailOn(ctl);
        return false;
    }
    *out = t;
    return true;
}

bool ExchangeUInt(QWidget* dlg, QLineEdit* ctl, uint32_t min, uint32_t max, uint32_t* out)
{
    uint64_t v = 0;
    if (!ParseUnsigned(ctl->text(), &v)) {
        UiSeam::MessageBox(dlg, QStringLiteral("Enter a positive integer."), MsgIcon::Exclamation);
        FailOn(ctl);
        return false;
    }
    if (v < min || v > max) {
        UiSeam::MessageBox(dlg, QStringLiteral("Enter an integer between %1 and %2.").arg(min).arg(max),
                           MsgIcon::Exclamation);
        FailOn(ctl);
        return false;
    }
    *out = static_cast<uint32_t>(v);
    return true;
}

int32_t ToInt(const QString& text)
{
    const QByteArray b = text.toLatin1();
    const char* p = b.constData();
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f')
        ++p;
    bool neg = false;
    if (*p == '+' || *p == '-')
        neg = (*p++ == '-');
    int64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + (*p - '0');
        if (v > 0x80000000ll)
            v = 0x80000000ll;
    }
    v = neg ? -v : v;
    if (v > INT32_MAX)
        v = INT32_MAX;
    return static_cast<int32_t>(v);
}

}  // namespace Ddx
