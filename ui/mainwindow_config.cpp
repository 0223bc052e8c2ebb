// The main window's configuration flow: a click reads the device's
// configuration, Edit config (or a double-click) opens the form over it and
// writes it back, "Restore before last write..." writes back what the
// journal recorded; every write is read again, checked and journaled.
#include <memory>

#include "protocol.h"
#include "devicelist.h"
#include "editconfigform.h"
#include "mainwindow.h"
#include "mainwindow_p.h"
#include "resource.h"
#include "uiseam.h"

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

QString Shown(const char* bytes)
{
    return Shown(std::string(bytes));
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
    CopyLatin1(m_szSelMac, sizeof m_szSelMac, m_lstDevice->GetItemText(m_nSelItem, 1), kMacDigits);
    CopyLatin1(m_szSelSerial, sizeof m_szSelSerial, m_lstDevice->GetItemText(m_nSelItem, 0), kSerialChars);
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
    OpenFormAndRead({});
    ReleaseCmdMutex();
}

void CKestrelDlg::OpenFormAndRead(const std::vector<FormEdit>& keep)
{
    auto dlg = std::make_unique<CEdtCfgDlg>(this);
    dlg->m_strMacAddr = QString::fromLatin1(m_szSelMac);
    dlg->KeepEdits(keep);
    if (dlg->DoModal() != IDOK)
        return;
    // The form may have stood open for minutes: the write is planned on a
    // read made now, so that it never carries back a value someone else
    // changed meanwhile.
    m_formEdits = dlg->m_edits;
    m_formShown = dlg->m_shown;
    dlg.reset();
    SetBusyFlg();
    m_bReadBeforeWrite = true;
    StartFetchOfSelected();
}

bool CKestrelDlg::WriteFormOnFreshRead()
{
    m_bReadBeforeWrite = false;
    auto stop = [this](const QString& text, MsgIcon icon) {
        ClearBusyFlg();
        ShowBusyState();
        UiSeam::MessageBox(this, text, icon);
        return true;
    };
    if (!ReplyTableHoldsConfigOf(m_szSelMac, m_szSelSerial))
        return stop(QStringLiteral("The device did not answer; nothing was written."), MsgIcon::Stop);
    RecordTable fresh;
    CopyReplyTable(&fresh);
    std::vector<WriteChange> asked;
    for (const FormEdit& e : m_formEdits)
        asked.push_back({e.key, e.text.constData(), false});
    WritePlanInput in;
    in.kind = WriteKind::FormEdit;
    in.fresh = &fresh;
    in.shown = &m_formShown;
    in.mac = m_szSelMac;
    in.serial = m_szSelSerial;
    in.changes = asked.data();
    in.changeCount = static_cast<int>(asked.size());
    if (!m_plan)
        m_plan = std::make_unique<WritePlan>();
    PlanWrite(in, m_plan.get());
    if (m_plan->result == PLAN_WRITE) {
        WriteAndReread();
        return true;
    }
    char text[1024];
    FormatPlanRefusal(*m_plan, text, sizeof text);
    if (m_plan->result == PLAN_NOTHING)
        return stop(QString::fromLatin1(kNothingToChange), MsgIcon::Information);
    if (m_plan->result != PLAN_CHANGED)
        return stop(Shown(text), MsgIcon::Stop);
    ClearBusyFlg();
    ShowBusyState();
    // Offered again over the newer read, with the user's own values kept.
    const QString ask = Shown(text) + QStringLiteral("\n\nEdit the configuration as read now? "
                                                     "Your changes are kept.");
    if (UiSeam::Confirm(this, ask) == IDOK && WaitCmdMutex(100) == 0) {
        const std::vector<FormEdit> keep = m_formEdits;
        OpenFormAndRead(keep);
        ReleaseCmdMutex();
    }
    return true;
}

void CKestrelDlg::WriteAndReread()
{
    SetBusyFlg();
    AppendStatus("Start writing config.\r\n");
    m_bVerifyWrite = true;
    SendCheckedWrite(&m_check, m_plan->table, m_szSelMac, m_szSelSerial);
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
    // Read as a stream, the newest write to the device kept.
    JournalReader journal;
    std::string reason;
    if (!journal.Open(*path, &reason))
        return false;
    const std::string serialText = serial.toStdString();
    const std::string macText = mac.toStdString();
    bool found = false;
    JournalEntry e;
    while (journal.Next(&e)) {
        if (e.serial == serialText && JournalEntryNames(e, macText)) {
            *out = e;
            found = true;
        }
    }
    return found && journal.error().empty();
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
    // The restore is of the device shown, the marked one, which must be the
    // selected one.
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

    // The values are planned on a read made now: a restore must see what it
    // would write over.
    m_restoring = std::make_unique<JournalEntry>(std::move(entry));
    SetBusyFlg();
    m_bReadBeforeRestore = true;
    StartFetchOfSelected();
    ReleaseCmdMutex();
}

bool CKestrelDlg::RestoreOnFreshRead()
{
    m_bReadBeforeRestore = false;
    ClearBusyFlg();
    ShowBusyState();
    if (!m_restoring)
        return true;
    const JournalEntry entry = *m_restoring;
    m_restoring.reset();
    if (WaitCmdMutex(100) != 0)
        return true;
    auto refuse = [this](const QString& text, MsgIcon icon) {
        UiSeam::MessageBox(this, text, icon);
        ReleaseCmdMutex();
    };
    if (!ReplyTableHoldsConfigOf(m_szSelMac, m_szSelSerial)) {
        refuse(QStringLiteral("The device did not answer; nothing was restored."), MsgIcon::Stop);
        return true;
    }

    // The configuration read now, with every value the entry's write changed
    // set back to what the device had before it, where the device still
    // holds what the entry wrote.
    RecordTable now;
    CopyReplyTable(&now);
    WritePlanInput in;
    in.kind = WriteKind::Restore;
    in.fresh = &now;
    in.mac = m_szSelMac;
    in.serial = m_szSelSerial;
    in.restoring = &entry;
    if (!m_plan)
        m_plan = std::make_unique<WritePlan>();
    PlanWrite(in, m_plan.get());
    char text[1024];
    if (m_plan->result == PLAN_OVERWRITES) {
        FormatPlanRefusal(*m_plan, text, sizeof text);
        if (UiSeam::Confirm(this, Shown(text) + QStringLiteral("\n\nRestore anyway?")) != IDOK) {
            ReleaseCmdMutex();
            return true;
        }
        in.force = true;
        PlanWrite(in, m_plan.get());
    }
    if (m_plan->result < 0) {
        FormatPlanRefusal(*m_plan, text, sizeof text);
        refuse(Shown(text), MsgIcon::Stop);
        return true;
    }
    QStringList notes;
    for (int i = 0; FormatPlanNote(*m_plan, i, text, sizeof text) > 0; ++i)
        notes << Shown(text);
    if (m_plan->result == PLAN_NOTHING) {
        notes.prepend(QString::fromLatin1(kNothingToChange));
        refuse(notes.join(QStringLiteral("\n")), MsgIcon::Information);
        return true;
    }

    // What the write gives back, as the box shows it: KEY: now -> before.
    QString changes;
    for (int i = 0; i < m_plan->changeCount; ++i) {
        const PlanValues& c = m_plan->changes[i];
        changes += QStringLiteral("\n%1: %2 -> %3")
                       .arg(QString::fromLatin1(KeyTable[c.key].key),
                            c.had ? Shown(c.first) : QStringLiteral("(none)"), Shown(c.second));
    }
    QString question = QStringLiteral("Write back to %1 (%2) the values it had before its write of "
                                      "%3 (%4 %5)?\n%6")
                           .arg(Shown(entry.serial), Shown(entry.mac), Shown(entry.time),
                                Shown(entry.program), Shown(entry.action), changes);
    if (!notes.isEmpty())
        question += QStringLiteral("\n\n") + notes.join(QStringLiteral("\n"));
    if (UiSeam::Confirm(this, question) == IDOK)
        WriteAndReread();
    ReleaseCmdMutex();
    return true;
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
    if (!m_plan)
        return std::string();
    return RecordWrite(PlanJournalEntry(*m_plan, "pathlume", m_check.serial, m_check.mac, reread));
}
