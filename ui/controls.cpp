#include "controls.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>

#include "resource.h"

// Outside any namespace, as the resource initialiser requires.
static void InitBundledResources()
{
    Q_INIT_RESOURCE(pathlume);
    Q_INIT_RESOURCE(windowicons);
}

void InitResources()
{
    static const bool once = (InitBundledResources(), true);
    (void)once;
}

void SetControlId(QWidget* w, int id, const QString& accessibleName)
{
    w->setProperty("controlId", id);
    w->setAccessibleName(accessibleName);
    if (id != IDC_STATIC)
        w->setObjectName(QStringLiteral("ctl%1").arg(id));
}

int ControlId(const QWidget* w)
{
    const QVariant v = w->property("controlId");
    return v.isValid() ? v.toInt() : IDC_STATIC;
}

QWidget* FindControl(const QWidget* parent, int id)
{
    if (!parent || id == IDC_STATIC)
        return nullptr;
    return parent->findChild<QWidget*>(QStringLiteral("ctl%1").arg(id));
}

DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetrics fm(font);
    static const QString kLetters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = (fm.horizontalAdvance(kLetters) / 26 + 1) / 2;
    baseY_ = fm.height();
    if (baseX_ < 1)
        baseX_ = 1;
    if (baseY_ < 1)
        baseY_ = 1;
}

int DialogUnits::X(int dlu) const { return (dlu * baseX_ + 2) / 4; }
int DialogUnits::Y(int dlu) const { return (dlu * baseY_ + 4) / 8; }

QRect DialogUnits::Rect(int x, int y, int w, int h) const
{
    return QRect(X(x), Y(y), X(w), Y(h));
}

QFont DialogFont(const QString& family, int pointSize)
{
    QFont f = QFontDatabase::hasFamily(family) ? QFont(family)
                                               : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    f.setPointSize(pointSize);
    return f;
}

QIcon ProgramIcon()
{
    InitResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/window-138.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/program-135-32.png"), QSize(32, 32));
    for (int size : {48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/program-icon/%1.png").arg(size), QSize(size, size));
    return icon;
}

QString LoadResString(int id)
{
    switch (id) {
    case IDS_ABOUTBOX: return QStringLiteral("&About Varden Pathlume...");
    case IDP_SOCKETS_INIT_FAILED: return QStringLiteral("Windows sockets initialization failed.");
    default: return QString();
    }
}

QString DisplayName()
{
    const QString path = QCoreApplication::applicationFilePath();
    const QString name = QFileInfo(path).completeBaseName();
    return name.isEmpty() ? QStringLiteral("pathlume") : name;
}
