#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "aboutdlg.h"
#include "protocol.h"
#include "ddx.h"
#include "devicelist.h"
#include "mainwindow_layout.h"
#include "mainwindow_p.h"
#include "resource.h"
#include "uiseam.h"
#include "windowsettings.h"

// The main window: its controls, start-up, the device list's rows, the
// status log, Seek, and the window's own handling (keys, menus, close). The
// monitor is in mainwindow_monitor.cpp, the configuration flow in
// mainwindow_config.cpp.
namespace {

const char kBusyMessage[] = "Current condition is busy. Please try again.";

constexpr unsigned SC_MINIMIZE_CMD = 0xF020;
constexpr unsigned SC_CLOSE_CMD = 0xF060;

}  // namespace

CKestrelDlg::CKestrelDlg(QWidget* parent, const UdpEndpoints& endpoints)
    : CDialogBase(IDD_KESTREL_DIALOG, DialogFont(QStringLiteral("MS UI Gothic"), 10), parent),
      m_endpoints(endpoints)
{
    m_uTimeout = 0;
    m_hIcon = ProgramIcon();
    m_bmpLogo = QPixmap(QStringLiteral(":/images/logo-134.png"));
    setWindowTitle(QStringLiteral("Varden Pathlume"));
    // An ordinary top-level window (not a dialog), so the desktop lists it
    // in its task bar and window switcher; the frame stays fixed.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    BuildTemplate();
}

CKestrelDlg::~CKestrelDlg()
{
    // Destroy handling: a worker still running is stopped and joined before
    // the transport goes, so no thread outlives the window, and none wakes it.
    ShutdownEngine();
    SetMonitorWake(nullptr, nullptr);
    if (m_bVerifyWrite)
        JournalWrite(nullptr);   // a write whose re-read never ended was sent all the same
    delete m_pNotifier;
    m_pNotifier = nullptr;
    if (m_bTransportOpen)
        CloseUdp();
}

void CKestrelDlg::BuildTemplate()
{
    SetClientSize(kMainWindowWidth, kMainWindowHeight);
    auto rect = [this](int id) {
        const ControlPlace& c = MainWindowControl(id);
        return Dlu().Rect(c.x, c.y, c.w, c.h);
    };
    auto button = [this](int id) {
        const ControlPlace& c = MainWindowControl(id);
        return AddButton(id, QString::fromLatin1(c.text), c.x, c.y, c.w, c.h);
    };
    auto edit = [this](int id, const QString& name) {
        const ControlPlace& c = MainWindowControl(id);
        return AddEdit(id, name, c.x, c.y, c.w, c.h);
    };
    const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;

    // Alt+S, Alt+E and Alt+T press the buttons; F5 is Seek too.
    QPushButton* seek = button(IDC_BTN_SEEK);
    QPushButton* editConfig = button(IDC_BTN_EDIT_CONFIG);

    m_lstDevice = new CDeviceListCtrl(Page());
    m_lstDevice->setGeometry(rect(IDC_LST_DEVICE));
    SetControlId(m_lstDevice, IDC_LST_DEVICE, QStringLiteral("Devices"));

    AddGroup(QString(), 7, 172, 369, 103);
    QLabel* configLabel = AddLabel(QStringLiteral("Config:"), right, 12, 179, 27, 12);
    m_edtConfig = new CMultiLineEdit(Page());
    m_edtConfig->setGeometry(rect(IDC_EDT_CONFIG));
    m_edtConfig->setFocusPolicy(Qt::ClickFocus);
    SetControlId(m_edtConfig, IDC_EDT_CONFIG, QStringLiteral("Config"));
    configLabel->setBuddy(m_edtConfig);   // spoken with the box on focus

    QGroupBox* cond = AddGroup(QStringLiteral("Client conditon"), 224, 188, 74, 31);
    cond->setAlignment(Qt::AlignHCenter);
    QLineEdit* busy = edit(IDC_EDT_BUSY, QStringLiteral("Client condition"));
    busy->setReadOnly(true);
    busy->setAlignment(Qt::AlignCenter);
    busy->setFocusPolicy(Qt::ClickFocus);
    busy->setContextMenuPolicy(Qt::NoContextMenu);   // a right click there is the window's
    QPushButton* stop = button(IDC_BTN_STOP);

    QGroupBox* tmoGroup = AddGroup(QStringLiteral("Timeout"), 312, 188, 51, 31);
    tmoGroup->setAlignment(Qt::AlignHCenter);
    QLineEdit* tmo = edit(IDC_EDT_TIMEOUT, QStringLiteral("Timeout"));
    tmo->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    QLabel* statusLabel = AddLabel(QStringLiteral("Status:"), right, 219, 228, 29, 12);
    auto* status = new CMultiLineEdit(Page());
    status->setGeometry(rect(IDC_EDT_STATUS));
    status->setFocusPolicy(Qt::ClickFocus);
    SetControlId(status, IDC_EDT_STATUS, QStringLiteral("Status"));
    statusLabel->setBuddy(status);

    AddLabel(QStringLiteral("Ver. 1.1"), Qt::AlignCenter, 335, 21, 41, 9);
    AddLabel(QStringLiteral("[Sec.]"), Qt::AlignLeft | Qt::AlignVCenter, 337, 203, 18, 11);

    setTabOrder(seek, editConfig);
    setTabOrder(editConfig, m_lstDevice);
    setTabOrder(m_lstDevice, stop);
    setTabOrder(stop, tmo);

    connect(new QShortcut(QKeySequence(Qt::Key_F5), this), &QShortcut::activated, this,
            &CKestrelDlg::OnSeek);
    connect(seek, &QPushButton::clicked, this, &CKestrelDlg::OnSeek);
    connect(editConfig, &QPushButton::clicked, this, &CKestrelDlg::OnEditConfig);
    connect(stop, &QPushButton::clicked, this, &CKestrelDlg::OnStop);
    // The way back from the marked device's last write, beside the list's own
    // entries; offered when the journal holds a write of that device.
    QMenu* listMenu = m_lstDevice->contextMenu();
    listMenu->addSeparator();
    m_actRestore = listMenu->addAction(QStringLiteral("&Restore before last write..."), this,
                                       &CKestrelDlg::OnRestoreLastWrite);
    m_actRestore->setEnabled(false);
    connect(listMenu, &QMenu::aboutToShow, this, [this] {
        JournalEntry last;
        std::string path;
        m_actRestore->setEnabled(FindLastWriteOfMarked(&last, &path));
    });
    connect(m_lstDevice, &CDeviceListCtrl::clickNotify, this, &CKestrelDlg::OnClickDeviceList);
    connect(m_lstDevice, &CDeviceListCtrl::dblClkNotify, this, &CKestrelDlg::OnDblClkDeviceList);
}

QLineEdit* CKestrelDlg::Edit(int id) const
{
    return GetDlgItem<QLineEdit>(this, id);
}

void CKestrelDlg::SetConfigText(const QString& text)
{
    m_edtConfig->SetWindowText(text);
    if (text.isEmpty())
        m_lstDevice->MarkDevice(QString(), QString());   // no configuration shown, no device marked
}

bool CKestrelDlg::DoDataExchange(bool save)
{
    if (!save) {
        Edit(IDC_EDT_TIMEOUT)->setText(QString::number(m_uTimeout));
        return true;
    }
    return Ddx::ExchangeUInt(this, Edit(IDC_EDT_TIMEOUT), 1, 120, &m_uTimeout);
}

bool CKestrelDlg::OnInitDialog()
{
    DoDataExchange(false);

    // The window menu: on X11 and Wayland it belongs to the window manager,
    // so the window offers the same entries on a right click on its background.
    m_pSysMenu = new QMenu(this);
    m_pSysMenu->addAction(QStringLiteral("Mi&nimize"))->setData(SC_MINIMIZE_CMD);
    m_pSysMenu->addAction(QStringLiteral("&Close"))->setData(SC_CLOSE_CMD);
    const QString about = LoadResString(IDS_ABOUTBOX);
    if (!about.isEmpty()) {
        m_pSysMenu->addSeparator();
        m_pSysMenu->addAction(about)->setData(IDM_ABOUTBOX);
    }
    connect(m_pSysMenu, &QMenu::triggered, this, [this](QAction* a) {
        OnSysCommand(a->data().toUInt(), 0);
    });

    setWindowIcon(m_hIcon);
    setWindowIconText(windowTitle());

    CreateCmdMutex();
    ResetCodec();
    InitEngine();
    OpenUdp(m_endpoints);
    m_bTransportOpen = true;
    WatchRecvSocket();

    if (InitDeviceList() == -1)
        return false;

    m_uTimeout = static_cast<uint32_t>(GetRecvTmo());
    std::snprintf(m_szTmoText, sizeof m_szTmoText, "%d", GetRecvTmo());
    Edit(IDC_EDT_TIMEOUT)->setText(QString::fromLatin1(m_szTmoText));
    // The Timeout and the place of the last run, where they make sense: the
    // place only where the whole window fits on a screen; else the window
    // opens centred on the primary screen.
    // The native window first, so that the frame's size is known where the
    // window system tells it before the window is shown.
    create();
    const WindowSettings saved = LoadWindowSettings(FrameSize());
    if (!saved.timeout.isEmpty())
        Edit(IDC_EDT_TIMEOUT)->setText(saved.timeout);
    if (saved.position)
        move(*saved.position);
    else if (const QScreen* primary = QGuiApplication::primaryScreen())
        CentreInArea(primary->availableGeometry());

    std::memset(m_szSelMac, 0, sizeof m_szSelMac);
    std::memset(m_szSelSerial, 0, sizeof m_szSelSerial);
    std::memset(m_szStatus, 0, sizeof m_szStatus);
    m_bDblClk = 0;
    m_bInDblClk = 0;

    ShowBusyState();
    LogTransportFailure();
    m_nTimer1 = startTimer(100);
    m_bMonitoring = true;
    SetMonitorWake(&CKestrelDlg::WakeFromWorker, this);
    return true;
}

int CKestrelDlg::InitDeviceList()
{
    static const char* const kHeadings[] = {"Serial Number", "Mac Address", "Device Name",
                                            "ROM Version",   "IP Address",  "Host Name"};
    for (int i = 0; i < 6; ++i)
        if (m_lstDevice->InsertColumn(i, QString::fromLatin1(kHeadings[i]), 105) == -1)
            return -1;
    // A MAC address is 12 hexadecimal digits, an address up to 15 characters
    // of digits and dots: wide enough for any of them from the start. The
    // text columns widen to what they hold.
    m_lstDevice->SetColumnExtent(1, QStringLiteral("0123456789ABCDEF"), 12);
    m_lstDevice->SetColumnExtent(4, QStringLiteral("0123456789"), 12, QStringLiteral("..."));
    return 1;
}

char* CKestrelDlg::TrimTrailingBlanks(char* text, int length)
{
    if (!text || length < 1)
        return nullptr;
    for (int i = length - 1; i >= 0 && text[i] == ' '; --i)
        text[i] = '\0';
    return text;
}

int CKestrelDlg::SetDeviceRow(int update, int row, char* serial, char* mac, char* dev, char* ver,
                              char* ip, char* host)
{
    if (!serial || !mac || !dev || !ver || !ip || !host)
        return -1;
    const auto cell = &CKestrelDlg::CellText;
    if (update == 0) {
        // Rows of one serial number (a cloned NIC) are told apart by MAC.
        const QString serialText = cell(serial);
        row = m_lstDevice->InsertItem(row, serialText, cell(mac));
        if (row == -1)
            return -1;
    } else if (!m_lstDevice->SetItemText(row, 0, cell(serial))) {
        return -1;
    }
    char* rest[] = {mac, dev, ver, ip, host};
    for (int sub = 1; sub <= 5; ++sub)
        if (!m_lstDevice->SetItemText(row, sub, cell(rest[sub - 1])))
            return -1;
    return row;
}

QString CKestrelDlg::CellText(char* text)
{
    const char* trimmed = TrimTrailingBlanks(text, static_cast<int>(std::strlen(text)));
    return trimmed ? QString::fromLatin1(trimmed) : QString();
}

void CKestrelDlg::ClearDeviceList()
{
    m_lstDevice->DeleteAllItems();
    m_shownDevices.clear();
    ClearDevTable();
}

void CKestrelDlg::AppendStatus(const char* text)
{
    if (!text)
        return;
    auto* log = GetDlgItem<CMultiLineEdit>(this, IDC_EDT_STATUS);
    std::memset(m_szStatus, 0, sizeof m_szStatus);
    CopyLatin1(m_szStatus, sizeof m_szStatus, log->GetWindowText(), sizeof m_szStatus - 1);
    const size_t cur = std::strlen(m_szStatus);
    const size_t add = std::strlen(text);
    if (cur + add < sizeof m_szStatus) {
        std::memcpy(m_szStatus + cur, text, add + 1);
    } else {
        // The log starts afresh with the new message (cut to fit, should a
        // single message ever be longer than the log).
        std::memset(m_szStatus, 0, sizeof m_szStatus);
        std::strncpy(m_szStatus, text, sizeof m_szStatus - 1);
    }
    log->SetWindowText(QString::fromLatin1(m_szStatus));
    log->ShowLastLine();   // the newest message stays in view
}

void CKestrelDlg::LogTransportFailure()
{
    const char* why = UdpFailureText();
    if (why[0] == '\0')
        return;
    char line[512];
    std::snprintf(line, sizeof line, "%s\r\n", why);
    AppendStatus(line);
}

void CKestrelDlg::LogSend()
{
    WatchRecvSocket();
    const char* notice = UdpTakeNotice();
    if (notice[0] != '\0') {
        char line[96];
        std::snprintf(line, sizeof line, "%s\r\n", notice);
        AppendStatus(line);
    }
    const int n = UdpLastSendCount();
    if (UdpSendsPerInterface() && n > 0) {
        char line[64];
        std::snprintf(line, sizeof line, "Sent on %d interface%s.\r\n", n, n == 1 ? "" : "s");
        AppendStatus(line);
    }
    LogTransportFailure();
}

void CKestrelDlg::ShowBusyState()
{
    QLineEdit* busy = Edit(IDC_EDT_BUSY);
    busy->setText(GetBusyFlg() != 0 ? QStringLiteral("Busy") : QStringLiteral("Idle"));
    busy->repaint();
}

void CKestrelDlg::ApplyTimeout()
{
    std::memset(m_szTmoText, 0, sizeof m_szTmoText);
    CopyLatin1(m_szTmoText, sizeof m_szTmoText, Edit(IDC_EDT_TIMEOUT)->text(), 255);
    SetRecvTmo(Ddx::ToInt(QString::fromLatin1(m_szTmoText)));
}

bool CKestrelDlg::BeginCommand()
{
    if (WaitCmdMutex(100) != 0)
        return false;   // silently: another command holds the window
    if (GetBusyFlg() == 1) {
        UiSeam::MessageBox(this, QString::fromLatin1(kBusyMessage), MsgIcon::Stop);
        ReleaseCmdMutex();
        return false;
    }
    return true;
}

void CKestrelDlg::OnSeek()
{
    if (!BeginCommand())
        return;
    ClearDeviceList();
    SetConfigText(QString());
    std::memset(m_szSelMac, 0, sizeof m_szSelMac);
    std::memset(m_szSelSerial, 0, sizeof m_szSelSerial);
    SetBusyFlg();
    m_bFinding = true;
    AppendStatus("Start finding.\r\n");
    ApplyTimeout();
    StartRequest(RequestKind::Find, nullptr);
    LogSend();
    ShowBusyState();
    ReleaseCmdMutex();
}

void CKestrelDlg::OnClose()
{
    if (m_nTimer1 != 0) {
        killTimer(m_nTimer1);
        m_nTimer1 = 0;
    }
    m_bMonitoring = false;   // a wake still on its way finds the monitor gone
    CloseCmdMutex();
    // A request still running is stopped and its worker joined here, so
    // closing during a request neither crashes nor hangs.
    ShutdownEngine();
    // A write whose re-read was still running was sent all the same: the
    // journal keeps it, unanswered.
    if (m_bVerifyWrite)
        JournalWrite(nullptr);
    done(IDCANCEL);
}

void CKestrelDlg::closeEvent(QCloseEvent* e)
{
    OnClose();
    e->accept();
}

void CKestrelDlg::OnOK()
{
    if (!DoDataExchange(true))
        return;
    done(IDOK);
}

void CKestrelDlg::OnCancel()
{
    done(IDCANCEL);
}

void CKestrelDlg::done(int result)
{
    if (isVisible())
        SaveWindowSettings(Edit(IDC_EDT_TIMEOUT)->text(), pos());
    CDialogBase::done(result);
}

void CKestrelDlg::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        // Enter on a push button presses that button; anywhere else it is the
        // dialog's OK. No button is a default button that swallows Enter.
        if (auto* b = qobject_cast<QPushButton*>(focusWidget())) {
            b->click();
            return;
        }
        OnOK();
        return;
    }
    if (e->key() == Qt::Key_Escape) {
        OnCancel();
        return;
    }
    if (OpenTextBoxMenu(e))
        return;
    if (e->key() == Qt::Key_Menu || (e->key() == Qt::Key_F10 && e->modifiers() == Qt::ShiftModifier)) {
        OpenWindowMenu(nullptr);
        return;
    }
    QDialog::keyPressEvent(e);
}

void CKestrelDlg::OnSysCommand(unsigned id, intptr_t param)
{
    (void)param;
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.DoModal();
        return;
    }
    if ((id & 0xFFF0) == SC_CLOSE_CMD)
        close();
    else if ((id & 0xFFF0) == SC_MINIMIZE_CMD)
        showMinimized();
}

void CKestrelDlg::contextMenuEvent(QContextMenuEvent* e)
{
    // Reaches the window from its background and from every control without
    // a menu of its own (the list and the text boxes have theirs).
    if (e->reason() == QContextMenuEvent::Mouse) {
        const QPoint at = e->globalPos();
        OpenWindowMenu(&at);
    } else {
        OpenWindowMenu(nullptr);
    }
}

void CKestrelDlg::OpenWindowMenu(const QPoint* globalPos)
{
    if (!m_pSysMenu || QApplication::activePopupWidget())
        return;   // a menu is already open (the key and its context event both came)
    QPoint at;
    if (globalPos) {
        at = *globalPos;
    } else {
        const QWidget* w = focusWidget() ? focusWidget() : this;
        at = w->mapToGlobal(w == this ? QPoint(0, 0) : w->rect().bottomLeft());
    }
    m_pSysMenu->popup(at);
}

void CKestrelDlg::OnSocketNotify(unsigned event)
{
    if (::OnSocketNotify(event) != kUdpRingFull || !m_pNotifier)
        return;
    // The rest waits in the socket while the worker makes room in the ring;
    // the notifier would only report it again and again until then.
    m_pNotifier->setEnabled(false);
    QTimer::singleShot(1, this, [this] {
        if (m_pNotifier)
            m_pNotifier->setEnabled(true);
    });
}

void CKestrelDlg::WatchRecvSocket()
{
    // One receive hook on every platform: the event loop watches the socket.
    const SocketHandle s = GetRecvSocket();
    if (s == m_hWatched && (m_pNotifier || s == kNoSocket))
        return;
    delete m_pNotifier;
    m_pNotifier = nullptr;
    m_hWatched = s;
    if (s == kNoSocket)
        return;
    m_pNotifier = new QSocketNotifier(static_cast<qintptr>(s), QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, [this] { OnSocketNotify(kUdpReadEvent); });
}

void CKestrelDlg::PaintPage(QPainter& painter)
{
    if (!m_bmpLogo.isNull())
        painter.drawPixmap(500, 12, m_bmpLogo);   // pixels, not dialog units
}
