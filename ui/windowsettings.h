// What the main window keeps between runs: the Timeout box's text and where
// the window stood. Kept with QSettings under the organisation and
// application names that the application shell sets; without those names
// nothing is read or written.
#pragma once

#include <QPoint>
#include <QSize>
#include <QString>
#include <optional>

struct WindowSettings {
    QString timeout;               // empty: the default
    std::optional<QPoint> position;   // none: centred
};

// Reads the settings. A missing or unreadable store, and every value that
// makes no sense (a timeout that is not 1 to 120, a position where a window
// frame of frameSize does not fit whole on one of the screens), give the
// defaults, silently.
WindowSettings LoadWindowSettings(const QSize& frameSize);

void SaveWindowSettings(const QString& timeout, const QPoint& position);

// The folder the CSV export's save dialog opens in: where the last export
// went, while that folder exists, else the user's documents folder (the home
// folder where there is none).
QString LoadExportFolder();
void SaveExportFolder(const QString& folder);
