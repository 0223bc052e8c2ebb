// Window tests run headless against a real QApplication. Settings never reach
// the user's own store: they go to a temporary folder, and only tests that
// name the application (which the program's shell does) store any. The
// journal of writes goes to a temporary folder too.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    QTemporaryDir settingsDir;
    if (!settingsDir.isValid())
        return 1;
    for (QSettings::Format f : {QSettings::NativeFormat, QSettings::IniFormat})
        for (QSettings::Scope s : {QSettings::UserScope, QSettings::SystemScope})
            QSettings::setPath(f, s, settingsDir.path());
    QTemporaryDir stateDir;
    if (!stateDir.isValid())
        return 1;
    qputenv("XDG_STATE_HOME", QFile::encodeName(stateDir.path()));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
