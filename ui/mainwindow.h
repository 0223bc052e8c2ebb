// The main window: device list, Seek / Stop / Edit config, the configuration
// fetch-edit-write flow, the 100 ms progress monitor, the status log and the
// Busy/Idle indicator.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "protocol.h"
#include "dialogbase.h"
#include "editconfigform.h"

struct JournalEntry;
class QAction;
class QLineEdit;
class QMenu;
class QSocketNotifier;
class CDeviceListCtrl;
class CMultiLineEdit;

class CKestrelDlg : public CDialogBase {
    Q_OBJECT
public:
    // endpoints: where requests go and replies arrive; the defaults are the
    // device port on the limited broadcast address and on every interface.
    explicit CKestrelDlg(QWidget* parent = nullptr, const UdpEndpoints& endpoints = UdpEndpoints{});
    ~CKestrelDlg() override;   // the destroy handling: closes the transport

    // Members, in the order the window declares them.
    CMultiLineEdit* m_edtConfig = nullptr;
    CDeviceListCtrl* m_lstDevice = nullptr;
    uint32_t m_uTimeout = 0;
    QIcon m_hIcon;
    char m_szTmoText[256] = {};
    char m_szStatus[2048] = {};
    char m_szSelMac[kMacSize] = {};
    char m_szSelSerial[kSerialSize] = {};
    int m_nSelItem = -1;
    int m_bDblClk = 0;
    int m_bInDblClk = 0;

    // Operations shared by the window's handlers.
    int InitDeviceList();
    int SetDeviceRow(int update, int row, char* serial, char* mac, char* dev, char* ver, char* ip,
                     char* host);
    static char* TrimTrailingBlanks(char* text, int length);
    void ClearDeviceList();
    void AppendStatus(const char* text);
    void ShowBusyState();
    void ApplyTimeout();
    bool DoDataExchange(bool save);

    QMenu* systemMenu() const { return m_pSysMenu; }
    // "Restore before last write..." in the device list's context menu.
    QAction* restoreAction() const { return m_actRestore; }
    bool timerRunning() const { return m_nTimer1 != 0; }
    // The worker wakes the monitor as soon as it raises an event or ends (on
    // from the start). Off, the monitor looks only at its 100 ms tick; for
    // measurements. Between requests only.
    void SetWakeOnEvents(bool on);
    // Stops the 100 ms timer and leaves the monitor to the worker's wake-ups
    // alone; for tests.
    void StopMonitorTimer();

public slots:
    void OnSeek();
    void OnStop();
    void OnEditConfig();
    void OnRestoreLastWrite();
    void OnClickDeviceList();
    void OnDblClkDeviceList();
    void OnTimer(int id);
    void OnClose();
    void OnOK();
    void OnCancel();
    void OnSysCommand(unsigned id, intptr_t param);
    void OnSocketNotify(unsigned event);

protected:
    bool OnInitDialog() override;
    void ServeDblClk();
    void HandleRecvEvents(uint8_t events);
    void customEvent(QEvent* e) override;   // the worker's wake-up

    void PaintPage(QPainter& painter) override;
    void timerEvent(QTimerEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }
    void done(int result) override;   // keeps the settings, then ends the window

private:
    // The frame of every command handler: takes the command mutex (100 ms)
    // and refuses while busy. true: go on, holding the mutex; false: return.
    bool BeginCommand();
    // Logs, empties the "Config:" box and starts a GetConfig of the selected
    // device with the Timeout box's value.
    void StartFetchOfSelected();
    // Status log lines about the transport: why it cannot work (at start-up
    // and after each request), and where the request just sent went.
    void LogTransportFailure();
    void LogSend();
    // After a Find: how many devices, serial numbers that answered from
    // several MAC addresses, devices left out of a full table.
    void LogFindSummary();
    // Brings the list up to the device table: new devices become rows at
    // their sorted places (all in one batch), rows whose device answered
    // anew are rewritten.
    void UpdateDeviceRows();
    // A device field as its cell shows it: trailing blanks trimmed (in place).
    static QString CellText(char* text);
    // Runs on the worker's thread: posts the monitor's tick to the window.
    static void WakeFromWorker(void* window);
    // Watches the receive socket, which a request may have made anew.
    void WatchRecvSocket();
    // After the re-read that follows a write: logs whether the device took
    // every written value.
    void LogWriteVerification();
    // Sends the planned write (m_plan) to the selected device and reads it
    // again 30 ms later; the check and the journal follow once that read
    // has ended.
    void WriteAndReread();
    // Records the write just checked in the journal (reread nullptr: no
    // answer). "" when recorded, else the sentence that says why not.
    std::string JournalWrite(const RecordTable* reread);
    // Opens the form over the last read (keeping the given edits of an
    // earlier fill) and, on OK, reads the device again before writing.
    void OpenFormAndRead(const std::vector<FormEdit>& keep);
    // Once the read before a form's write has ended: plans the form's edits
    // on it and writes, or says why not. true when it has seen to the busy
    // state itself (a write started, or the busy state cleared before a box).
    bool WriteFormOnFreshRead();
    // Once the read before a restore has ended: plans the restore on it,
    // asks, and writes, or says why not. Sees to the busy state itself.
    bool RestoreOnFreshRead();
    // The newest journal entry of the marked device. false when there is
    // none (or no device is marked); *path gets the journal's path.
    bool FindLastWriteOfMarked(JournalEntry* out, std::string* path) const;
    void BuildTemplate();
    // Opens the window menu at a screen position, or (from the keyboard) under
    // the control that has the focus.
    void OpenWindowMenu(const QPoint* globalPos);
    QLineEdit* Edit(int id) const;
    void SetConfigText(const QString& text);

    UdpEndpoints m_endpoints;
    QPixmap m_bmpLogo;
    QSocketNotifier* m_pNotifier = nullptr;
    SocketHandle m_hWatched = kNoSocket;
    // The device table as the list shows it (slot by slot), and a copy of
    // the table to compare it with.
    std::vector<DeviceEntry> m_shownDevices;
    std::vector<DeviceEntry> m_tableCopy;
    bool m_bFinding = false;   // the running request is a Find
    QMenu* m_pSysMenu = nullptr;
    int m_nTimer1 = 0;
    bool m_bTransportOpen = false;
    bool m_bMonitoring = false;    // the monitor runs: from start-up to the close
    bool m_bInTick = false;        // a tick of the monitor is being served
    bool m_bTickAgain = false;     // a tick came meanwhile and runs once it is over
    bool m_bVerifyWrite = false;   // the running fetch is the re-read after a write
    WriteCheck m_check;            // what that write sent, and to which device
    // The write being sent and checked: its table, the configuration it was
    // built from, its kind and the journal entry a restore undoes.
    std::unique_ptr<WritePlan> m_plan;
    // The running fetch is the read before the form's write: the edits it
    // plans and the configuration the form showed.
    bool m_bReadBeforeWrite = false;
    bool m_bReadBeforeRestore = false;    // ... the read before a restore of this entry
    std::unique_ptr<JournalEntry> m_restoring;
    std::vector<FormEdit> m_formEdits;
    RecordTable m_formShown{};
    QAction* m_actRestore = nullptr;
};
