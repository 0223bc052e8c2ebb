#include "ddx.h"

#include <QLineEdit>

#include "protocol.h"
#include "uiseam.h"

namespace Ddx {

namespace {
void FailOn(QLineEdit* ctl)
{
    ctl->setFocus(Qt::OtherFocusReason);
    ctl->selectAll();
}

// Shows the shared rules' message for a failed check, as the form does.
void Refuse(QWidget* dlg, QLineEdit* ctl, int check, const CfgField& field)
{
    char msg[256];
    FormatCfgMessage(msg, sizeof msg, check, field);
    UiSeam::MessageBox(dlg, QString::fromLatin1(msg), MsgIcon::Exclamation);
    FailOn(ctl);
}
}  // namespace

bool ExchangeUInt(QWidget* dlg, QLineEdit* ctl, uint32_t min, uint32_t max, uint32_t* out)
{
    const CfgField range{0, CfgKind::Number, min, max, ""};
    const int check = CheckCfgNumber(ctl->text().toLatin1().constData(), range, out);
    if (check != CFG_OK) {
        Refuse(dlg, ctl, check, range);
        return false;
    }
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
