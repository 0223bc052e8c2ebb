// The main window's configuration flow: a click reads the device's
// configuration, Edit config (or a double-click) opens the form over it and
// writes it back, "Restore before last write..." writes back what the
// journal recorded; every write is read again, checked and journaled.
#include <memory>

#include "cfgrules.h"
#include "devicelist.h"
#include "editconfigform.h"
#include "engine.h"
#include "journal.h"
#include "mainwindow.h"
#include "mainwindow_p.h"
#include "resource.h"
#include "uiseam.h"
#include "writecheck.h"
#include "writetable.h"

namespace {

const char kSelectMessage[] = "Please select a device.";
const char kFetchFirstMessage[] = "Please get the configuration of the selected device first.";
const char kNothingToChange[] = "Nothing to change.";

// Device text (single-byte) as a message box shows it: one line, each
// control character escaped.
QString Shown(const std::string& bytes)
{
    return CDeviceListCtrl::VisibleText(QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

}  // namespace

void CKestrelDlg::OnClickDeviceList()
{
    if (!BeginCommand())
        return;
    m_nSelItem = m_lstDevice->GetHotItem();
    if (m_nSelItem == -1) {
        ReleaseCmdMutex();
        return;
    }
    SetBusyFlg();
    CopyLatin1(m_szSelMac, sizeof m_szSelMac, m_lstDevice->GetItemText(m_nSelItem, 1), 12);
    CopyLatin1(m_szSelSerial, sizeof m_szSelSerial, m_lstDevice->GetItemText(m_nSelItem, 0), 16);
    StartFetchOfSelected();
    ReleaseCmdMutex();
}

void CKestrelDlg::StartFetchOfSelected()
{
    m_bFinding = false;
    AppendStatus("Start getting config.\r\n");
    SetConfigText(QString());
    ApplyTimeout();
    SetTargetMac(m_szSelMac);
    SetTargetSerial(m_szSelSerial);
    StartRequest(RequestKind::GetConfig, nullptr);
    LogSend();
    ShowBusyState();
}

void CKestrelDlg::OnDblClkDeviceList()
{
    m_bDblClk = 1;
}

void CKestrelDlg::ServeDblClk()
{
    if (m_bDblClk == 1 && m_bInDblClk == 0) {
        m_bDblClk = 0;
        m_bInDblClk = 1;
        OnEditConfig();
        m_bInDblClk = 0;
    }
}

void CKestrelDlg::OnEditConfig()
{
    if (!BeginCommand())
        return;
    if (m_szSelMac[0] == '\0') {
        UiSeam::MessageBox(this, QString::fromLatin1(kSelectMessage), MsgIcon::Stop);
        ReleaseCmdMutex();
        return;
    }
    // The form is filled from the last parsed reply; it must be the selected
    // device's accepted configuration, or the write would carry another
    // device's MAC and serial number.
    if (!ReplyTableHoldsConfigOf(m_szSelMac, m_szSelSerial)) {
        UiSeam::MessageBox(this, QString::fromLatin1(kFetchFirstMessage), MsgIcon::Stop);
        ReleaseCmdMutex();
        return;
    }
    auto dlg = std::make_unique<CEdtCfgDlg>(this);
    dlg->m_strMacAddr = QString::fromLatin1(m_szSelMac);
    if (dlg->DoModal() != IDOK) {
        ReleaseCmdMutex();
        return;
    }
    RecordTable before;
    CopyReplyTable(&before);   // what the form was filled from
    FillWriteTable(*dlg);
    WriteAndReread(before, 0);
    dlg.reset();
    ReleaseCmdMutex();
}

void CKestrelDlg::WriteAndReread(const RecordTable& before, int restores)
{
    SetBusyFlg();
    AppendStatus("Start writing config.\r\n");
    m_before = before;
    m_nRestores = restores;
    m_bVerifyWrite = true;
    SendCheckedWrite(&m_check, *GetWriteTable(), m_szSelMac, m_szSelSerial);
    LogSend();
    StartFetchOfSelected();   // the re-read, which the monitor sees to its end
}

bool CKestrelDlg::FindLastWriteOfMarked(JournalEntry* out, std::string* path) const
{
    const QByteArray serial = m_lstDevice->MarkedSerial().toLatin1();
    const QByteArray mac = m_lstDevice->MarkedMac().toLatin1();
    *path = JournalPath();
    if (serial.isEmpty() || mac.isEmpty() || path->empty())
        return false;
    JournalContents journal;
    std::string reason;
    if (!ReadJournal(*path, &journal, &reason))
        return false;
    for (auto e = journal.entries.rbegin(); e != journal.entries.rend(); ++e) {
        if (e->serial == serial.toStdString() && JournalEntryNames(*e, mac.toStdString())) {
            *out = *e;
            return true;
        }
    }
    return false;
}

void CKestrelDlg::OnRestoreLastWrite()
{
    if (!BeginCommand())
        return;
    auto refuse = [this](const QString& text, MsgIcon icon) {
        UiSeam::MessageBox(this, text, icon);
        ReleaseCmdMutex();
    };
    if (m_szSelMac[0] == '\0')
        return refuse(QString::fromLatin1(kSelectMessage), MsgIcon::Stop);
    // The write is built from the configuration shown, as the form's is: it
    // must be the marked device's, which is the selected one.
    if (!ReplyTableHoldsConfigOf(m_szSelMac, m_szSelSerial) ||
        m_lstDevice->MarkedSerial() != QString::fromLatin1(m_szSelSerial) ||
        m_lstDevice->MarkedMac() != QString::fromLatin1(m_szSelMac))
        return refuse(QString::fromLatin1(kFetchFirstMessage), MsgIcon::Stop);
    JournalEntry entry;
    std::string path;
    if (!FindLastWriteOfMarked(&entry, &path))
        return refuse(QStringLiteral("No write to %1 (%2) is recorded in %3.")
                          .arg(QString::fromLatin1(m_szSelSerial), QString::fromLatin1(m_szSelMac),
                               QString::fromLocal8Bit(path.c_str())),
                      MsgIcon::Stop);

    // The configuration shown, with every value the entry's write changed
    // set back to what the device had before it.
    RecordTable now;
    CopyReplyTable(&now);
    CfgFormState state;
    CfgFormFromRecords(now, m_szSelMac, &state);
    std::vector<std::string> kept;
    const CfgField* failed = nullptr;
    int check = CFG_OK;
    for (const JournalRecord& v : RestoreValues(entry, &kept)) {
        check = SetRestoredValue(&state, v);
        if (check != CFG_OK) {
            failed = FindCfgField(KeyIndexOf(v.key.c_str()));
            break;
        }
    }
    CfgValues values;
    if (check == CFG_OK)
        check = CheckCfgForm(state, &values, &failed);
    if (check != CFG_OK) {
        char msg[256];
        FormatCfgMessage(msg, sizeof msg, check, *failed);
        return refuse(QStringLiteral("%1: %2").arg(QString::fromLatin1(KeyTable[failed->key].key),
                                                   QString::fromLatin1(msg)),
                      MsgIcon::Stop);
    }
    RecordTable table;
    BuildWriteTable(&table, values);

    // What the write gives back, as the box shows it: KEY: now -> before.
    const std::vector<JournalRecord> shown = JournalRecordsOf(now);
    const std::vector<JournalRecord> writes = JournalRecordsOf(table);
    QString changes;
    for (size_t i = 0; i < writes.size(); ++i) {
        if (CfgRecordReadBack(table[static_cast<int>(i)], now))
            continue;
        QString current = QStringLiteral("(none)");
        for (const JournalRecord& r : shown)
            if (r.key == writes[i].key)
                current = Shown(r.value);
        changes += QStringLiteral("\n%1: %2 -> %3")
                       .arg(QString::fromLatin1(writes[i].key.c_str()), current, Shown(writes[i].value));
    }
    if (changes.isEmpty())
        return refuse(QString::fromLatin1(kNothingToChange), MsgIcon::Information);
    QString question = QStringLiteral("Write back to %1 (%2) the values it had before its write of "
                                      "%3 (%4 %5)?\n%6")
                           .arg(Shown(entry.serial), Shown(entry.mac), Shown(entry.time),
                                Shown(entry.program), Shown(entry.action), changes);
    if (!kept.empty()) {
        QStringList keys;
        for (const std::string& k : kept)
            keys << QString::fromLatin1(k.c_str());
        question += QStringLiteral("\n\nLeft as they are (no value from before that write): %1.")
                        .arg(keys.join(QStringLiteral(", ")));
    }
    if (UiSeam::Confirm(this, question) != IDOK) {
        ReleaseCmdMutex();
        return;
    }
    ClearWriteTable();
    *GetWriteTable() = table;
    WriteAndReread(now, entry.number);
    ReleaseCmdMutex();
}

void CKestrelDlg::LogWriteVerification()
{
    if (!m_bVerifyWrite)
        return;
    m_bVerifyWrite = false;
    char line[160];
    RecordTable reread;
    const bool answered = FinishWriteCheck(m_check, &reread, line, sizeof line - 2) >= 0;
    std::strcat(line, "\r\n");
    AppendStatus(line);
    // The journal's message names a file, in the system's encoding; the log
    // holds Latin-1, so what it cannot hold shows as '?'.
    const std::string unrecorded = JournalWrite(answered ? &reread : nullptr);
    if (!unrecorded.empty())
        AppendStatus(QString::fromLocal8Bit(unrecorded + "\r\n").toLatin1().constData());
}

std::string CKestrelDlg::JournalWrite(const RecordTable* reread)
{
    m_bVerifyWrite = false;
    JournalEntry e = MakeJournalEntry("pathlume", m_nRestores > 0 ? kJournalRestore : kJournalEdit,
                                      m_check.serial, m_check.mac, m_before, m_check.written, reread);
    e.restores = m_nRestores;
    return RecordWrite(e);
}
