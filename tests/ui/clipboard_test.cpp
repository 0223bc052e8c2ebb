// The device list's rows leave the program: Copy, Copy all and Export as
// CSV... from its context menu, and the "Config:" text stays copyable.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QDir>
#include <QMenu>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>
#include <string>

#include "output.h"
#include "portable.h"
#include "window_fixture.h"

namespace {

using ClipboardTest = WindowTest;

QAction* MenuEntry(CDeviceListCtrl* list, const QString& text)
{
    for (QAction* a : list->contextMenu()->actions())
        if (a->text().remove(QLatin1Char('&')) == text)
            return a;
    ADD_FAILURE() << "no entry " << text.toStdString();
    return nullptr;
}

TEST_F(ClipboardTest, CopyCopyAllAndCsvExport)
{
    Open({});
    char s1[] = "SN0002", m1[] = "02C0EE000002", d1[] = "NP-2400", v1[] = "1.15.5",
         i1[] = "10.0.0.2", h1[] = "lobby, \"east\"";
    char s2[] = "SN0001", m2[] = "02C0EE000001", d2[] = "NP-3100", v2[] = "3.09.5",
         i2[] = "10.0.0.1", h2[] = "caf\xe9";   // Latin-1 e acute, written out as UTF-8
    ASSERT_GE(dlg_->SetDeviceRow(0, 0, s1, m1, d1, v1, i1, h1), 0);
    ASSERT_GE(dlg_->SetDeviceRow(0, 1, s2, m2, d2, v2, i2, h2), 0);
    CDeviceListCtrl* list = List();
    ASSERT_EQ(list->GetItemText(1, 0), QStringLiteral("SN0002"));   // sorted by serial
    QClipboard* clip = QGuiApplication::clipboard();

    // Copy: the selected row, tab-separated; Ctrl+C and the menu entry alike.
    list->setFocus();
    list->setCurrentItem(list->topLevelItem(1));
    const QString row1 = QStringLiteral("SN0002\t02C0EE000002\tNP-2400\t1.15.5\t10.0.0.2\tlobby, \"east\"");
    clip->setText(QStringLiteral("before"));
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clip->text(), row1);
    clip->setText(QStringLiteral("before"));
    MenuEntry(list, QStringLiteral("Copy"))->trigger();
    EXPECT_EQ(clip->text(), row1);
    // Nothing selected: nothing copied.
    list->clearSelection();
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clip->text(), row1);

    // Copy all: headings, then every row.
    MenuEntry(list, QStringLiteral("Copy all"))->trigger();
    EXPECT_EQ(clip->text(),
              QStringLiteral("Serial Number\tMac Address\tDevice Name\tROM Version\tIP Address\tHost Name\n"
                             "SN0001\t02C0EE000001\tNP-3100\t3.09.5\t10.0.0.1\tcaf\u00e9\n") +
                  row1 + QLatin1Char('\n'));

    // Export as CSV...: where the file dialog says; quoting as RFC 4180, UTF-8.
    // The dialog opens in the documents folder, then where the last export went.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString first = QDir(documents).exists() ? documents : QDir::homePath();
    struct Case {
        const char* what;
        QString path;   // empty: the dialog is cancelled
        bool written;
        bool error;
        QString offeredIn;
    } cases[] = {
        {"cancelled", QString(), false, false, first},
        {"written", dir.filePath(QStringLiteral("devices.csv")), true, false, first},
        {"no such folder", dir.filePath(QStringLiteral("missing/devices.csv")), false, true, dir.path()},
        {"after a failure", QString(), false, false, dir.path()},
    };
    const QByteArray csv =
        "Serial Number,Mac Address,Device Name,ROM Version,IP Address,Host Name\r\n"
        "SN0001,02C0EE000001,NP-3100,3.09.5,10.0.0.1,caf\xc3\xa9\r\n"
        "SN0002,02C0EE000002,NP-2400,1.15.5,10.0.0.2,\"lobby, \"\"east\"\"\"\r\n";
    for (const Case& c : cases) {
        UiSeam::ClearCalls();
        QString offered;
        onSaveFile = [&](const SeamCall& call) {
            offered = *call.fileName;
            if (c.path.isEmpty())
                return IDCANCEL;
            *call.fileName = c.path;
            return IDOK;
        };
        MenuEntry(list, QStringLiteral("Export as CSV..."))->trigger();
        EXPECT_EQ(offered, QDir(c.offeredIn).filePath(QStringLiteral("devices.csv"))) << c.what;
        QFile f(c.path);
        EXPECT_EQ(!c.path.isEmpty() && f.exists(), c.written) << c.what;
        if (c.written) {
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll(), csv);
        }
        const auto msgs = Messages();
        ASSERT_EQ(msgs.size(), c.error ? 1u : 0u) << c.what;
        if (c.error) {
            EXPECT_TRUE(msgs[0].text.startsWith(QStringLiteral("Cannot write the file ")))
                << msgs[0].text.toStdString();
            EXPECT_TRUE(msgs[0].text.contains(QStringLiteral("devices.csv")));
            EXPECT_EQ(msgs[0].icon, MsgIcon::Stop);
        }
    }

    // The "Config:" text stays selectable and copyable.
    dlg_->m_edtConfig->SetWindowText(QStringLiteral("DEV = NP-2400          \r\n*END* = \r\n"));
    EXPECT_TRUE(dlg_->m_edtConfig->textInteractionFlags() & Qt::TextSelectableByMouse);
    dlg_->m_edtConfig->selectAll();
    dlg_->m_edtConfig->copy();
    EXPECT_EQ(clip->text(), QStringLiteral("DEV = NP-2400          \n*END* = \n"));
}

TEST_F(ClipboardTest, DeviceTextShowsOnOneLineAndLeavesSafely)
{
    Open({});
    CDeviceListCtrl* list = List();
    char plainSerial[] = "SN00", mac[] = "02C0EE000000", dev[] = "NP-2400", ver[] = "1.0",
         ip[] = "10.0.0.1", plainHost[] = "lobby";
    ASSERT_GE(dlg_->SetDeviceRow(0, 0, plainSerial, mac, dev, ver, ip, plainHost), 0);
    const int plainHeight = list->visualItemRect(list->topLevelItem(0)).height();

    // A host name as a device sent it: the cell (and Copy), and the CSV field,
    // the window's and pathlume-cli's (cliCsv when it differs: no apostrophe
    // before a formula there, since that CSV stays exact for scripts). Both
    // write the same UTF-8 bytes for a byte beyond ASCII.
    struct Case {
        const char* host;
        const char* cell;
        const char* copied;
        const char* csv;
        const char* cliCsv = nullptr;
    } cases[] = {
        {"=HYPERLINK(\"http://x\",\"click\")", "=HYPERLINK(\"http://x\",\"click\")",
         "=HYPERLINK(\"http://x\",\"click\")", "\"'=HYPERLINK(\"\"http://x\"\",\"\"click\"\")\"",
         "\"=HYPERLINK(\"\"http://x\"\",\"\"click\"\")\""},
        {"+1", "+1", "+1", "'+1", "+1"},
        {"-2+3", "-2+3", "-2+3", "'-2+3", "-2+3"},
        {"@SUM(A1)", "@SUM(A1)", "@SUM(A1)", "'@SUM(A1)", "@SUM(A1)"},
        {"\tcalc", "\\tcalc", "\\tcalc", "'\tcalc", "\tcalc"},
        {"\rcr", "\\rcr", "\\rcr", "\"'\rcr\"", "\"\rcr\""},
        {"caf\xe9", "caf\xe9", "caf\xe9", "caf\xc3\xa9"},   // Latin-1 e acute
        {"\xff\xa0,", "\xff\xa0,", "\xff\xa0,", "\"\xc3\xbf\xc2\xa0,\""},
        {"x\r\nIP = 6.6.6.6", "x\\r\\nIP = 6.6.6.6", "x\\r\\nIP = 6.6.6.6", "\"x\r\nIP = 6.6.6.6\""},
        // The same text typed literally must not show as the line break above.
        {"x\\r\\nIP", "x\\\\r\\\\nIP", "x\\\\r\\\\nIP", "x\\r\\nIP"},
        {"C:\\share\ttab", "C:\\\\share\\ttab", "C:\\\\share\\ttab", "C:\\share\ttab"},
        {"\x1b[31mred\x7f", "\\x1b[31mred\\x7f", "\\x1b[31mred\\x7f", "\x1b[31mred\x7f"},
        {"caf\x85", "caf\\x85", "caf\\x85", "caf\xc2\x85"},   // a C1 control, written out as UTF-8
        {"\"quoted\" name", "\"quoted\" name", "\"\"\"quoted\"\" name\"", "\"\"\"quoted\"\" name\""},
        {"a-b=c", "a-b=c", "a-b=c", "a-b=c"},
    };
    for (const Case& c : cases) {
        dlg_->ClearDeviceList();
        std::string host = c.host;
        char serial[] = "SN01";
        ASSERT_GE(dlg_->SetDeviceRow(0, 0, serial, mac, dev, ver, ip, host.data()), 0) << c.host;
        QTreeWidgetItem* item = list->topLevelItem(0);
        const QString came = QString::fromLatin1(c.host);
        EXPECT_EQ(item->text(5), QString::fromLatin1(c.cell)) << c.host;
        EXPECT_EQ(list->GetItemText(0, 5), came) << c.host;   // kept as it came
        EXPECT_EQ(list->visualItemRect(item).height(), plainHeight) << c.host;
        EXPECT_EQ(list->RowText(0),
                  QStringLiteral("SN01\t02C0EE000000\tNP-2400\t1.0\t10.0.0.1\t") + QString::fromLatin1(c.copied))
            << c.host;
        const QByteArray csv = list->CsvText().toUtf8();
        EXPECT_EQ(csv.mid(csv.indexOf("\r\n") + 2),
                  QByteArray("SN01,02C0EE000000,NP-2400,1.0,10.0.0.1,") + c.csv + "\r\n")
            << c.host;
        DeviceEntry d{};
        auto put = [](char* to, size_t size, const std::string& s) { s.copy(to, size - 1); };
        put(d.serial, sizeof d.serial, serial);
        put(d.mac, sizeof d.mac, mac);
        put(d.dev, sizeof d.dev, dev);
        put(d.ver, sizeof d.ver, ver);
        put(d.ipCur, sizeof d.ipCur, ip);
        put(d.hostName, sizeof d.hostName, host);
        FILE* f = testrig::TempFile();
        ASSERT_NE(f, nullptr);
        cli::PrintDevices(f, cli::Format::Csv, &d, 1);
        std::string cliCsv(4096, '\0');
        std::rewind(f);
        cliCsv.resize(std::fread(cliCsv.data(), 1, cliCsv.size(), f));
        std::fclose(f);
        // pathlume-cli's row then says where the device answered from: no
        // origin is known of this one, so its three fields are empty.
        EXPECT_EQ(cliCsv.substr(cliCsv.find("\r\n") + 2),
                  std::string("SN01,02C0EE000000,NP-2400,1.0,10.0.0.1,") + (c.cliCsv ? c.cliCsv : c.csv) +
                      ",,,\r\n")
            << c.host;
    }

    // A serial number with a control character: the window asks the device by
    // its serial number as it came, not as the cell shows it.
    dlg_->ClearDeviceList();
    char oddSerial[] = "SN\x01X";
    ASSERT_GE(dlg_->SetDeviceRow(0, 0, oddSerial, mac, dev, ver, ip, plainHost), 0);
    EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("SN\\x01X"));
    SetTimeoutText(QStringLiteral("0"));
    ClickRow(0);
    EXPECT_STREQ(dlg_->m_szSelSerial, "SN\x01X");
    ASSERT_TRUE(WaitIdle());
}

}  // namespace
