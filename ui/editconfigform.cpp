#include "editconfigform.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "protocol.h"
#include "ipaddressctrl.h"
#include "resource.h"
#include "uiseam.h"

namespace {

constexpr Qt::Alignment kRight = Qt::AlignRight | Qt::AlignVCenter;

// The control that shows each field of the shared field table.
int ControlOf(int key)
{
    switch (key) {
    case KEY_DEV: return IDC_EDT_DEV_NAME;
    case KEY_VER: return IDC_EDT_ROM_VER;
    case KEY_MAC: return IDC_EDT_MAC_ADDR;
    case KEY_ENET_SPD: return IDC_CMB_LINE_SPEED;
    case KEY_DHCP: return IDC_CMB_DHCP;
    case KEY_IP: return IDC_IP_ADDR;
    case KEY_SUBNET_MASK: return IDC_IP_SUBNET;
    case KEY_GATEWAY: return IDC_IP_GATEWAY;
    case KEY_IP_DFLT: return IDC_IP_DFLT;
    case KEY_PRNT_PORT: return IDC_EDT_PRNT_PORT;
    case KEY_PRNT_RCV_TMO: return IDC_EDT_PRNT_RCV_TMO;
    case KEY_MANUFACTURER: return IDC_EDT_MANUFACTURER;
    case KEY_HOST_NAME: return IDC_EDT_HOST_NAME;
    case KEY_SERIAL_NUM: return IDC_EDT_SERIAL_NUM;
    default: return 0;
    }
}

}  // namespace

CEdtCfgDlg::CEdtCfgDlg(QWidget* parent)
    : CDialogBase(IDD_EDIT_CONFIG, DialogFont(QStringLiteral("MS UI Gothic"), 10), parent)
{
    SetModalFrame(QStringLiteral("Edit Config"));
    BuildTemplate();
}

CEdtCfgDlg::~CEdtCfgDlg() = default;

void CEdtCfgDlg::BuildTemplate()
{
    SetClientSize(347, 281);
    AddLabel(QStringLiteral("*Please edit parameters then click OK."), Qt::AlignLeft | Qt::AlignTop,
             8, 10, 136, 14);
    AddGroup(QStringLiteral("Unalterable parameters"), 7, 27, 333, 65);
    QLabel* devLabel = AddLabel(QStringLiteral("Device name:"), kRight, 31, 45, 57, 12);
    QLineEdit* dev = AddEdit(IDC_EDT_DEV_NAME, QStringLiteral("Device name"), 90, 45, 70, 12);
    QLabel* verLabel = AddLabel(QStringLiteral("ROM version:"), kRight, 199, 45, 58, 12);
    QLineEdit* ver = AddEdit(IDC_EDT_ROM_VER, QStringLiteral("ROM version"), 259, 45, 70, 12);
    QLabel* macLabel = AddLabel(QStringLiteral("MAC address:"), kRight, 33, 60, 55, 12);
    QLineEdit* mac = AddEdit(IDC_EDT_MAC_ADDR, QStringLiteral("MAC address"), 90, 60, 70, 12);
    QLabel* serialLabel = AddLabel(QStringLiteral("Serial number:"), kRight, 193, 60, 64, 12);
    QLineEdit* serial = AddEdit(IDC_EDT_SERIAL_NUM, QStringLiteral("Serial number"), 259, 60, 70, 12);
    QLabel* makerLabel = AddLabel(QStringLiteral("Manufacturer:"), kRight, 23, 75, 65, 12);
    QLineEdit* maker = AddEdit(IDC_EDT_MANUFACTURER, QStringLiteral("Manufacturer"), 90, 75, 144, 12);
    for (QLineEdit* e : {dev, ver, mac, serial, maker}) {
        e->setReadOnly(true);
        e->setFocusPolicy(Qt::ClickFocus);
    }
    ver->setFocusPolicy(Qt::StrongFocus);   // the only read-only field with a tab stop

    AddGroup(QStringLiteral("Network parameters"), 7, 95, 333, 102);
    QLabel* hostLabel = AddLabel(QStringLiteral("Host name:"), kRight, 21, 108, 67, 12);
    QLineEdit* host = AddEdit(IDC_EDT_HOST_NAME, QStringLiteral("Host name"), 90, 108, 144, 12);
    QLabel* speedLabel = AddLabel(QStringLiteral("Line speed:"), kRight, 23, 125, 65, 12);
    m_cmbLineSpeed = new QComboBox(Page());
    m_cmbLineSpeed->setGeometry(Dlu().Rect(90, 125, 90, 12));
    SetControlId(m_cmbLineSpeed, IDC_CMB_LINE_SPEED, QStringLiteral("Line speed"));
    QLabel* dhcpLabel = AddLabel(QStringLiteral("IP address from DHCP:"), kRight, 11, 142, 77, 12);
    m_cmbDhcp = new QComboBox(Page());
    m_cmbDhcp->setGeometry(Dlu().Rect(90, 142, 47, 12));
    SetControlId(m_cmbDhcp, IDC_CMB_DHCP, QStringLiteral("IP address from DHCP"));
    for (QComboBox* c : {m_cmbLineSpeed, m_cmbDhcp}) {
        c->setEditable(false);
        c->setInsertPolicy(QComboBox::InsertAtBottom);
        c->setMaxVisibleItems(8);
    }
    connect(m_cmbLineSpeed, &QComboBox::activated, this, &CEdtCfgDlg::OnSelChangeLineSpeed);
    connect(m_cmbDhcp, &QComboBox::activated, this, &CEdtCfgDlg::OnSelChangeDhcp);

    auto addIp = [this](int id, const QString& name, int x, int y) {
        auto* ip = new CIpAddressCtrl(Page());
        ip->setGeometry(Dlu().Rect(x, y, 70, 12));
        SetControlId(ip, id, name);
        return ip;
    };
    QLabel* ipLabel = AddLabel(QStringLiteral("IP address:"), kRight, 35, 159, 53, 12);
    m_ipAddr = addIp(IDC_IP_ADDR, QStringLiteral("IP address"), 90, 159);
    QLabel* subnetLabel = AddLabel(QStringLiteral("Subnet mask:"), kRight, 201, 159, 56, 12);
    m_ipSubnet = addIp(IDC_IP_SUBNET, QStringLiteral("Subnet mask"), 259, 159);
    QLabel* gatewayLabel = AddLabel(QStringLiteral("Gateway IP address:"), kRight, 20, 176, 68, 12);
    m_ipGateway = addIp(IDC_IP_GATEWAY, QStringLiteral("Gateway IP address"), 90, 176);
    QLabel* dfltLabel = AddLabel(QStringLiteral("IP_DFLT:"), kRight, 220, 176, 37, 12);
    m_ipDflt = addIp(IDC_IP_DFLT, QStringLiteral("IP_DFLT"), 259, 176);
    for (QWidget* w : {static_cast<QWidget*>(dfltLabel), static_cast<QWidget*>(m_ipDflt)}) {
        w->setVisible(false);
        w->setEnabled(false);
    }

    AddGroup(QStringLiteral("Print parameters"), 7, 199, 333, 32);
    QLabel* portLabel = AddLabel(QStringLiteral("PRNT_PORT:"), kRight, 42, 212, 46, 12);
    QLineEdit* port = AddEdit(IDC_EDT_PRNT_PORT, QStringLiteral("PRNT_PORT"), 90, 212, 27, 12);
    QLabel* tmoLabel = AddLabel(QStringLiteral("PRNT_RCV_TMO:"), kRight, 197, 212, 60, 12);
    QLineEdit* tmo = AddEdit(IDC_EDT_PRNT_RCV_TMO, QStringLiteral("PRNT_RCV_TMO"), 259, 212, 27, 12);
    AddLabel(QStringLiteral("[Sec.]"), Qt::AlignLeft | Qt::AlignVCenter, 287, 212, 33, 12);
    auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    for (QLineEdit* e : {port, tmo}) {
        e->setValidator(digits);
        e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    // Each label is its control's: a screen reader speaks it on focus.
    const std::pair<QLabel*, QWidget*> labelled[] = {
        {devLabel, dev}, {verLabel, ver}, {macLabel, mac}, {serialLabel, serial},
        {makerLabel, maker}, {hostLabel, host}, {speedLabel, m_cmbLineSpeed}, {dhcpLabel, m_cmbDhcp},
        {ipLabel, m_ipAddr}, {subnetLabel, m_ipSubnet}, {gatewayLabel, m_ipGateway},
        {dfltLabel, m_ipDflt}, {portLabel, port}, {tmoLabel, tmo}};
    for (const auto& [label, control] : labelled)
        label->setBuddy(control);

    QPushButton* ok = AddButton(IDOK, QStringLiteral("OK"), 109, 260, 50, 14);
    ok->setDefault(true);
    ok->setAutoDefault(true);
    QPushButton* cancel = AddButton(IDCANCEL, QStringLiteral("Cancel"), 167, 260, 50, 14);
    cancel->setAutoDefault(true);
    connect(ok, &QPushButton::clicked, this, &CEdtCfgDlg::OnOK);
    connect(cancel, &QPushButton::clicked, this, &CEdtCfgDlg::OnCancel);

    // Tab order of the template: the tab stops, in template order.
    QWidget* order[] = {ver, host, m_cmbLineSpeed, m_cmbDhcp, m_ipAddr, m_ipSubnet, m_ipGateway,
                        port, tmo, ok, cancel};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
}

bool CEdtCfgDlg::DoDataExchange(bool save)
{
    if (!save) {
        const std::pair<QString*, int> boxes[] = {
            {&m_strDevName, KEY_DEV},          {&m_strRomVer, KEY_VER},
            {&m_strMacAddr, KEY_MAC},          {&m_strSerialNum, KEY_SERIAL_NUM},
            {&m_strManufacturer, KEY_MANUFACTURER}, {&m_strHostName, KEY_HOST_NAME}};
        for (const auto& [field, key] : boxes) {
            QLineEdit* box = GetDlgItem<QLineEdit>(this, ControlOf(key));
            box->setMaxLength(static_cast<int>(FindCfgField(key)->max));
            box->setText(*field);
        }
        GetDlgItem<QLineEdit>(this, IDC_EDT_PRNT_PORT)->setText(QString::number(m_uPrntPort));
        GetDlgItem<QLineEdit>(this, IDC_EDT_PRNT_RCV_TMO)->setText(QString::number(m_uPrntRcvTmo));
        m_cmbLineSpeed->setCurrentIndex(m_nLineSpeed < m_cmbLineSpeed->count() ? m_nLineSpeed : -1);
        m_cmbDhcp->setCurrentIndex(m_nDhcp < m_cmbDhcp->count() ? m_nDhcp : -1);
        return true;
    }

    // The form's check is the write planner's on the configuration the form
    // was filled from: the values the user changed are set by their rules,
    // then every value the write carries is checked (CheckCfgForm), in the
    // order and with the messages of the shared rules.
    m_edits = CollectEdits();
    std::vector<WriteChange> asked;
    for (const FormEdit& e : m_edits)
        asked.push_back({e.key, e.text.constData(), false});
    const QByteArray mac = m_strMacAddr.toLatin1();
    WritePlanInput in;
    in.kind = WriteKind::FormEdit;
    in.fresh = &m_shown;
    in.shown = &m_shown;
    in.mac = mac.constData();
    in.changes = asked.data();
    in.changeCount = static_cast<int>(asked.size());
    auto plan = std::make_unique<WritePlan>();
    PlanWrite(in, plan.get());
    if (plan->result == PLAN_BAD_VALUE) {
        const CfgField* f = FindCfgField(plan->failedKey);
        char msg[256];
        if (f)
            FormatCfgMessage(msg, sizeof msg, plan->check, *f);
        UiSeam::MessageBox(this, QString::fromLatin1(f ? msg : ""), MsgIcon::Exclamation);
        if (auto* box = qobject_cast<QLineEdit*>(GetDlgItem<QWidget>(this, ControlOf(plan->failedKey)))) {
            box->setFocus(Qt::OtherFocusReason);
            box->selectAll();
        }
        return false;
    }
    const CfgValues& v = plan->values;
    m_strDevName = QString::fromLatin1(v.devName);
    m_strRomVer = QString::fromLatin1(v.romVer);
    m_strMacAddr = QString::fromLatin1(v.macAddr);
    m_strSerialNum = QString::fromLatin1(v.serialNum);
    m_strManufacturer = QString::fromLatin1(v.manufacturer);
    m_strHostName = QString::fromLatin1(v.hostName);
    m_uPrntPort = v.prntPort;
    m_uPrntRcvTmo = v.prntRcvTmo;
    m_nLineSpeed = v.lineSpeed;
    m_nDhcp = v.dhcp;
    std::memcpy(m_abyAddr, v.addr, sizeof m_abyAddr);
    m_uOmitKeys = v.omit;
    return true;
}

std::vector<FormEdit> CEdtCfgDlg::CollectEdits() const
{
    std::vector<FormEdit> out;
    const CfgValues& shown = m_cfgDevice.values;
    auto box = [this](int key) { return GetDlgItem<QLineEdit>(this, ControlOf(key)); };
    // In the order the form checks them: the print numbers, the host name.
    for (int key : {KEY_PRNT_PORT, KEY_PRNT_RCV_TMO}) {
        const QString typed = box(key)->text().trimmed();
        if (typed != QString::fromLatin1(m_cfgDevice.*FindCfgField(key)->box).trimmed())
            out.push_back({key, typed.toLatin1()});
    }
    // A typed name goes as UTF-8, so that a character beyond ASCII is refused.
    const QString hostName = box(KEY_HOST_NAME)->text();
    if (hostName != QString::fromLatin1(m_cfgDevice.deviceHostName))
        out.push_back({KEY_HOST_NAME, hostName.toUtf8()});
    // A chosen item, Auto-detect (0) included, where it is not the device's.
    for (int key : {KEY_ENET_SPD, KEY_DHCP}) {
        const int chosen = GetDlgItem<QComboBox>(this, ControlOf(key))->currentIndex();
        if (chosen >= 0 && chosen != shown.*FindCfgField(key)->choice)
            out.push_back({key, QByteArray::number(chosen)});
    }
    // An address entered where the device had none or another; one the user
    // blanked goes as 0.0.0.0. The hidden IP_DFLT is never entered.
    for (int key : {KEY_IP, KEY_SUBNET_MASK, KEY_GATEWAY}) {
        const CfgField* f = FindCfgField(key);
        const auto* ctl = GetDlgItem<CIpAddressCtrl>(this, ControlOf(key));
        const bool reported = (m_cfgDevice.reported & CfgKeyBit(key)) != 0;
        uint8_t a[4] = {0, 0, 0, 0};
        if (!ctl->IsBlank())
            ctl->GetAddress(a);
        else if (!reported)
            continue;
        uint8_t was[4];
        CfgReverseOctets(shown.addr + 4 * f->group, was);
        if (reported && std::memcmp(a, was, 4) == 0)
            continue;
        char dotted[16];
        std::snprintf(dotted, sizeof dotted, "%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
        out.push_back({key, QByteArray(dotted)});
    }
    return out;
}

void CEdtCfgDlg::ShowEdits()
{
    for (const FormEdit& e : m_keep) {
        const CfgField* f = FindCfgField(e.key);
        if (!f)
            continue;
        QWidget* w = GetDlgItem<QWidget>(this, ControlOf(e.key));
        switch (f->kind) {
        case CfgKind::Number: static_cast<QLineEdit*>(w)->setText(QString::fromLatin1(e.text)); break;
        case CfgKind::FreeText: static_cast<QLineEdit*>(w)->setText(QString::fromUtf8(e.text)); break;
        case CfgKind::Choice: static_cast<QComboBox*>(w)->setCurrentIndex(e.text.toInt()); break;
        case CfgKind::Address: {
            uint8_t o[4];
            if (ParseCfgAddress(e.text.constData(), o))
                static_cast<CIpAddressCtrl*>(w)->SetAddress(o[0], o[1], o[2], o[3]);
            break;
        }
        case CfgKind::Text: break;
        }
    }
    m_nLineSpeed = m_cmbLineSpeed->currentIndex();
    m_nDhcp = m_cmbDhcp->currentIndex();
}

bool CEdtCfgDlg::OnInitDialog()
{
    DoDataExchange(false);
    for (const char* s : kLineSpeedItems)
        m_cmbLineSpeed->insertItem(m_cmbLineSpeed->count(), QString::fromLatin1(s));
    for (const char* s : kDhcpItems)
        m_cmbDhcp->insertItem(m_cmbDhcp->count(), QString::fromLatin1(s));
    // Appending to an empty list selects its first item; the lists start
    // without a selection until the configuration chooses one.
    m_cmbLineSpeed->setCurrentIndex(m_nLineSpeed);
    m_cmbDhcp->setCurrentIndex(m_nDhcp);
    FillFromReplyTable();
    ShowEdits();
    return true;
}

void CEdtCfgDlg::FillFromReplyTable()
{
    // The shared reading of the records: what the device reported and could
    // be read fills its control; anything else leaves the control empty, an
    // address blank and a list without a choice, so that nothing the device
    // never had is written back unless the user enters it.
    CopyReplyTable(&m_shown);   // a consistent snapshot, whatever the worker does
    CfgFormFromRecords(m_shown, m_strMacAddr.toLatin1().constData(), &m_cfgDevice);
    const CfgValues& v = m_cfgDevice.values;
    for (const CfgField& f : kCfgFields) {
        const int id = ControlOf(f.key);
        switch (f.kind) {
        case CfgKind::Text:
        case CfgKind::FreeText:
            GetDlgItem<QLineEdit>(this, id)->setText(QString::fromLatin1(v.*f.text));
            break;
        case CfgKind::Number:
            GetDlgItem<QLineEdit>(this, id)->setText(QString::fromLatin1(m_cfgDevice.*f.box));
            break;
        case CfgKind::Choice:
            GetDlgItem<QComboBox>(this, id)->setCurrentIndex(v.*f.choice);
            break;
        case CfgKind::Address: {
            CIpAddressCtrl* ctl = GetDlgItem<CIpAddressCtrl>(this, id);
            uint8_t o[4];
            CfgReverseOctets(v.addr + 4 * f.group, o);
            if (m_cfgDevice.reported & CfgKeyBit(f.key))
                ctl->SetAddress(o[0], o[1], o[2], o[3]);
            else
                ctl->Clear();
            break;
        }
        }
    }
    m_nLineSpeed = v.lineSpeed;
    m_nDhcp = v.dhcp;
    std::memcpy(m_abyAddr, v.addr, sizeof m_abyAddr);
}

void CEdtCfgDlg::OnSelChangeLineSpeed(int index)
{
    (void)index;
    m_nLineSpeed = m_cmbLineSpeed->currentIndex();
}

void CEdtCfgDlg::OnSelChangeDhcp(int index)
{
    (void)index;
    m_nDhcp = m_cmbDhcp->currentIndex();
}

void CEdtCfgDlg::OnOK()
{
    if (!DoDataExchange(true))
        return;
    done(IDOK);
}

void CEdtCfgDlg::OnCancel()
{
    done(IDCANCEL);
}
