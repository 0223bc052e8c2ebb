// Window tests run headless against a real QApplication. Settings never reach
// the user's own store: they go to a temporary folder, and only tests that
// name the application (which the program's shell does) store any. The
// journal of writes goes to a temporary folder too.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
#ifdef _WIN32
    QSettings::setDefaultFormat(QSettings::IniFormat);   // as the program keeps them there
#endif
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
#ifdef _WIN32
    qputenv("LOCALAPPDATA", QFile::encodeName(QDir::toNativeSeparators(stateDir.path())));
#else
    qputenv("XDG_STATE_HOME", QFile::encodeName(stateDir.path()));
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
