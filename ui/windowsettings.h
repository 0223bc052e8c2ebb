// What the main window keeps between runs: the Timeout box's text and where
// the window stood. Kept with QSettings under the organisation and
// application names that the application shell sets; without those names
// nothing is read or written.
#pragma once

#include <QPoint>
#include <QString>
#include <optional>

struct WindowSettings {
    QString timeout;               // empty: the default
    std::optional<QPoint> position;   // none: centred
};

// Reads the settings. A missing or unreadable store, and every value that
// makes no sense (a timeout that is not 1 to 120, a position on no screen),
// give the defaults, silently.
WindowSettings LoadWindowSettings();

void SaveWindowSettings(const QString& timeout, const QPoint& position);
