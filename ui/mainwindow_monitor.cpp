// The main window's progress monitor: it looks at the engine every 100 ms
// and, woken by the worker, as soon as the worker raises an event or ends;
// it shows what the engine reports, notices the end of a request and brings
// the window back to "Idle". Also Stop.
#include <QCoreApplication>
#include <QEvent>
#include <QTimerEvent>
#include <cstdio>
#include <cstring>

#include "devicelist.h"
#include "protocol.h"
#include "mainwindow.h"

namespace {

QEvent::Type WakeEventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

}  // namespace

void CKestrelDlg::WakeFromWorker(void* window)
{
    // On the worker's thread: only hands the tick to the window's thread.
    QCoreApplication::postEvent(static_cast<CKestrelDlg*>(window), new QEvent(WakeEventType()));
}

void CKestrelDlg::customEvent(QEvent* e)
{
    if (e->type() != WakeEventType()) {
        CDialogBase::customEvent(e);
        return;
    }
    if (m_bMonitoring)
        OnTimer(1);
}

void CKestrelDlg::SetWakeOnEvents(bool on)
{
    SetMonitorWake(on ? &CKestrelDlg::WakeFromWorker : nullptr, this);
}

void CKestrelDlg::StopMonitorTimer()
{
    if (m_nTimer1 != 0)
        killTimer(m_nTimer1);
    m_nTimer1 = 0;
}

void CKestrelDlg::OnStop()
{
    if (WaitCmdMutex(100) != 0)
        return;
    if (GetBusyFlg() == 1)
        SetStopReqFlg();
    ReleaseCmdMutex();
}

void CKestrelDlg::HandleRecvEvents(uint8_t events)
{
    if (events & RecvEventBit(EVT_UPDATE_INFO)) {
        AppendStatus("Detect UpdateInfo.\r\n");
        UpdateDeviceRows();
    }
    if (events & RecvEventBit(EVT_CONFIG_RECV)) {
        char text[kCfgTextSize + 1];
        CopyCfgText(text);
        text[kCfgTextSize] = '\0';
        DeviceEntry s;
        CopyCfgSummary(&s);
        // The records as they came, then where they came from.
        char from[kMaxReplyOrigins * 48 + 64];
        AnsweredFromText(s, from, sizeof from);
        QString shown = QString::fromLatin1(text);
        if (from[0] != '\0')
            shown += QStringLiteral("\r\n") + QString::fromLatin1(from);
        SetConfigText(shown);
        m_lstDevice->MarkDevice(QString::fromLatin1(m_szSelSerial), QString::fromLatin1(m_szSelMac));
        SetDeviceRow(1, m_nSelItem, s.serial, s.mac, s.dev, s.ver, s.ipCur, s.hostName);
    }
    if (events & RecvEventBit(EVT_TIMEOUT))
        AppendStatus("Detected receiving timeout.\r\n");
    if (events & RecvEventBit(EVT_RECV_ERROR))
        AppendStatus("Detected receiving error.\r\n");
}

void CKestrelDlg::UpdateDeviceRows()
{
    m_tableCopy.resize(kDeviceTableMax + 1);
    const int n = CopyDevTableSlots(m_tableCopy.data(), kDeviceTableMax + 1);
    // Slots only ever follow one another and keep their device, so only the
    // new slots and those whose device answered anew touch the list. The new
    // devices go in as one batch.
    std::vector<QStringList> added;
    m_lstDevice->BeginFill();
    for (int slot = 0; slot < n; ++slot) {
        const DeviceEntry& now = m_tableCopy[static_cast<size_t>(slot)];
        const bool shown = slot < static_cast<int>(m_shownDevices.size());
        if (shown && std::memcmp(&now, &m_shownDevices[static_cast<size_t>(slot)], sizeof now) == 0)
            continue;
        DeviceEntry e = now;   // the cells are trimmed in place
        // Where it answered from (each interface it answered on), as the tooltip.
        char from[kMaxReplyOrigins * 48 + 64];
        AnsweredFromText(now, from, sizeof from);
        if (shown) {
            const int row = m_lstDevice->FindItem(CellText(e.serial), CellText(e.mac));
            if (row >= 0) {
                SetDeviceRow(1, row, e.serial, e.mac, e.dev, e.ver, e.ipCur, e.hostName);
                m_lstDevice->SetRowToolTip(row, QString::fromLatin1(from));
            }
            m_shownDevices[static_cast<size_t>(slot)] = now;
        } else {
            added.push_back({CellText(e.serial), CellText(e.mac), CellText(e.dev), CellText(e.ver),
                             CellText(e.ipCur), CellText(e.hostName), QString::fromLatin1(from)});
            m_shownDevices.push_back(now);
        }
    }
    m_lstDevice->InsertRows(added);
    m_lstDevice->EndFill();
}

void CKestrelDlg::LogFindSummary()
{
    m_tableCopy.resize(kDeviceTableMax + 1);
    const int n = CopyDevTableSlots(m_tableCopy.data(), kDeviceTableMax + 1);
    SortDevices(m_tableCopy.data(), n);
    char text[128];
    char line[sizeof text + 2];
    auto log = [&] {
        std::snprintf(line, sizeof line, "%s\r\n", text);
        AppendStatus(line);
    };
    FoundCountText(text, sizeof text, n);
    log();
    int from = 0;
    int macs = 0;
    for (int at; (at = NextSharedSerial(m_tableCopy.data(), n, &from, &macs)) >= 0;) {
        SharedSerialText(text, sizeof text, m_tableCopy[static_cast<size_t>(at)].serial, macs);
        log();
    }
    if (GetDevicesLeftOut() > 0) {
        LeftOutText(text, sizeof text, GetDeviceCapacity());
        log();
    }
}

void CKestrelDlg::OnTimer(int id)
{
    if (id != 1)
        return;
    if (GetBusyFlg() != 1) {
        ServeDblClk();
        return;
    }
    // A tick that an event loop run inside a tick would start waits until
    // that tick is over: the list is never changed under a tick's feet.
    if (m_bInTick) {
        m_bTickAgain = true;
        return;
    }
    m_bInTick = true;
    const RequestProgress progress = TakeRequestProgress();
    HandleRecvEvents(progress.events);
    if (progress.ended) {
        AppendStatus("Detect StopRecvFlg.\r\n");
        if (m_bFinding)
            LogFindSummary();
        m_bFinding = false;
        if (GetCutReplyCount() > 0) {
            char text[96];
            char line[sizeof text + 2];
            CutRepliesText(text, sizeof text, GetCutReplyCount());
            std::snprintf(line, sizeof line, "%s\r\n", text);
            AppendStatus(line);
        }
        if (UdpDropsSinceSend() > 0) {
            char line[160];
            std::snprintf(line, sizeof line, "%s\r\n", kRepliesLostText);
            AppendStatus(line);
        }
        LogWriteVerification();
        // The read before a form's write or a restore goes on into the write.
        if (!(m_bReadBeforeWrite && WriteFormOnFreshRead()) &&
            !(m_bReadBeforeRestore && RestoreOnFreshRead())) {
            ClearBusyFlg();
            ShowBusyState();
        }
    }
    m_bInTick = false;
    if (m_bTickAgain) {
        m_bTickAgain = false;
        QCoreApplication::postEvent(this, new QEvent(WakeEventType()));
    }
}

void CKestrelDlg::timerEvent(QTimerEvent* e)
{
    OnTimer(e->timerId() == m_nTimer1 && m_nTimer1 != 0 ? 1 : 0);
}
