// The Timeout text and the window's place are remembered between runs; a
// missing, unreadable or nonsense store gives the defaults without a word.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

#include "window_fixture.h"

namespace {

class SettingsTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        // A store of its own for every test (the test main keeps all stores
        // in a temporary folder).
        QCoreApplication::setOrganizationName(QStringLiteral("PathlumeTests"));
        QCoreApplication::setApplicationName(
            QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        QSettings s;
        store_ = s.fileName();
        ASSERT_FALSE(store_.startsWith(QDir::homePath() + QStringLiteral("/.config")));
    }
    void TearDown() override
    {
        WindowTest::TearDown();
        QCoreApplication::setOrganizationName(QString());
        QCoreApplication::setApplicationName(QString());
    }

    // Opens the window, reads what it shows, and closes it as the user would
    // (which stores the settings).
    void OpenRead(QString* timeout, QPoint* pos)
    {
        Open({});
        *timeout = Edit(IDC_EDT_TIMEOUT)->text();
        *pos = dlg_->pos();
    }
    void Close()
    {
        dlg_->close();
        dlg_.reset();
    }

    QString store_;
};

TEST_F(SettingsTest, RoundTripAndEveryBadStoreGivesTheDefaults)
{
    // No store yet: "3", centred.
    QString timeout;
    QPoint centred;
    OpenRead(&timeout, &centred);
    EXPECT_EQ(timeout, QStringLiteral("3"));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect frame(dlg_->pos(), dlg_->FrameSize());
    EXPECT_TRUE(screen.contains(frame));
    EXPECT_LE(std::abs(frame.center().x() - screen.center().x()), 2);
    EXPECT_LE(std::abs((frame.top() - screen.top()) - (screen.bottom() - frame.bottom())), 2);
    SetTimeoutText(QStringLiteral("17"));
    const QPoint moved = centred + QPoint(-13, 9);
    dlg_->move(moved);
    Close();

    // The next run shows both again.
    QPoint pos;
    OpenRead(&timeout, &pos);
    EXPECT_EQ(timeout, QStringLiteral("17"));
    EXPECT_EQ(pos, moved);
    Close();

    struct Case {
        const char* what;
        const char* timeout;   // shown afterwards
        std::function<void()> spoil;
    } cases[] = {
        {"garbage file", "3",
         [this] {
             QFile f(store_);
             ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
             static const char junk[] = "\x00\xff[window\nposition=@Point(\ntimeout===\x01";
             f.write(QByteArray(junk, sizeof junk - 1));
         }},
        {"unreadable store", "3",
         [this] {
             QFile::remove(store_);
             ASSERT_TRUE(QDir().mkpath(store_));   // a folder where the file should be
         }},
        {"timeout out of range, position off every screen", "3",
         [] {
             QSettings s;
             s.setValue(QStringLiteral("window/timeout"), QStringLiteral("500"));
             s.setValue(QStringLiteral("window/position"), QPoint(99999, -99999));
         }},
        {"timeout not a number, position not a point", "3",
         [] {
             QSettings s;
             s.setValue(QStringLiteral("window/timeout"), QStringLiteral("12abc"));
             s.setValue(QStringLiteral("window/position"), QStringLiteral("left"));
         }},
        {"window partly off the screen", "17",
         [&] {
             // The top-left corner is on the screen, most of the window is not.
             QSettings s;
             s.setValue(QStringLiteral("window/position"),
                        screen.bottomRight() - QPoint(80, 50));
         }},
        {"window one pixel over the right edge", "17",
         [&] {
             QSettings s;
             s.setValue(QStringLiteral("window/position"),
                        QPoint(screen.right() - frame.width() + 2, screen.top()));
         }},
        {"timeout zero, position a number", "3",
         [] {
             QSettings s;
             s.setValue(QStringLiteral("window/timeout"), QStringLiteral("0"));
             s.setValue(QStringLiteral("window/position"), 42);
         }},
    };
    for (const Case& c : cases) {
        QDir(store_).removeRecursively();
        QFile::remove(store_);
        // Saved values first, so that each case spoils a store that held good ones.
        {
            QSettings s;
            s.setValue(QStringLiteral("window/timeout"), QStringLiteral("17"));
            s.setValue(QStringLiteral("window/position"), moved);
        }
        c.spoil();
        UiSeam::ClearCalls();
        OpenRead(&timeout, &pos);
        EXPECT_EQ(timeout, QLatin1String(c.timeout)) << c.what;
        EXPECT_EQ(pos, centred) << c.what;
        EXPECT_TRUE(UiSeam::Calls().empty()) << c.what;
        dlg_.reset();   // no close: nothing stored over the spoilt store
    }
}

}  // namespace
