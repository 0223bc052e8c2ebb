#include "windowsettings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

namespace {

const char kTimeoutKey[] = "window/timeout";
const char kPositionKey[] = "window/position";

// A timeout the Timeout box accepts: 1 to 120 whole seconds, digits only.
bool SensibleTimeout(const QString& text)
{
    if (text.isEmpty() || text.size() > 3)
        return false;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    const int n = text.toInt();
    return n >= 1 && n <= 120;
}

// A position where the window's top-left part, by which it is dragged, is on
// a screen.
bool OnSomeScreen(const QPoint& p)
{
    for (const QScreen* s : QGuiApplication::screens())
        if (s->availableGeometry().contains(p + QPoint(40, 10)))
            return true;
    return false;
}

}  // namespace

WindowSettings LoadWindowSettings()
{
    WindowSettings out;
    QSettings s;
    if (s.status() != QSettings::NoError)
        return out;
    const QVariant timeout = s.value(QLatin1String(kTimeoutKey));
    if (timeout.typeId() == QMetaType::QString && SensibleTimeout(timeout.toString()))
        out.timeout = timeout.toString();
    const QVariant pos = s.value(QLatin1String(kPositionKey));
    if (pos.typeId() == QMetaType::QPoint && OnSomeScreen(pos.toPoint()))
        out.position = pos.toPoint();
    return out;
}

void SaveWindowSettings(const QString& timeout, const QPoint& position)
{
    QSettings s;
    if (s.status() != QSettings::NoError)
        return;
    s.setValue(QLatin1String(kTimeoutKey), timeout);
    s.setValue(QLatin1String(kPositionKey), position);
}
