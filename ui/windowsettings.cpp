#include "windowsettings.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>

namespace {

const char kTimeoutKey[] = "window/timeout";
const char kPositionKey[] = "window/position";
const char kExportFolderKey[] = "export/folder";

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

// A frame at that position lies whole on one screen's available area.
bool FitsOnAScreen(const QRect& frame)
{
    for (const QScreen* s : QGuiApplication::screens())
        if (s->availableGeometry().contains(frame))
            return true;
    return false;
}

}  // namespace

WindowSettings LoadWindowSettings(const QSize& frameSize)
{
    WindowSettings out;
    QSettings s;
    if (s.status() != QSettings::NoError)
        return out;
    const QVariant timeout = s.value(QLatin1String(kTimeoutKey));
    if (timeout.typeId() == QMetaType::QString && SensibleTimeout(timeout.toString()))
        out.timeout = timeout.toString();
    const QVariant pos = s.value(QLatin1String(kPositionKey));
    if (pos.typeId() == QMetaType::QPoint && FitsOnAScreen(QRect(pos.toPoint(), frameSize)))
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

QString LoadExportFolder()
{
    QSettings s;
    if (s.status() == QSettings::NoError) {
        const QVariant last = s.value(QLatin1String(kExportFolderKey));
        if (last.typeId() == QMetaType::QString && !last.toString().isEmpty() &&
            QDir(last.toString()).exists())
            return last.toString();
    }
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QDir(documents).exists() ? documents : QDir::homePath();
}

void SaveExportFolder(const QString& folder)
{
    QSettings s;
    if (s.status() == QSettings::NoError)
        s.setValue(QLatin1String(kExportFolderKey), folder);
}
