#include "editconfigform.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <cstring>
#include <utility>

#include "cfgrules.h"
#include "codec.h"
#include "ddx.h"
#include "engine.h"
#include "ipaddressctrl.h"
#include "resource.h"

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
    auto text = [this](int id) { return GetDlgItem<QLineEdit>(this, id); };
    struct TextStep {
        QString* field;
        int key;
        QLineEdit* box(const CEdtCfgDlg* d) const { return GetDlgItem<QLineEdit>(d, ControlOf(key)); }
        int limit() const { return static_cast<int>(FindCfgField(key)->max); }
    };
    const TextStep before[] = {{&m_strDevName, KEY_DEV},
                               {&m_strRomVer, KEY_VER},
                               {&m_strMacAddr, KEY_MAC},
                               {&m_strSerialNum, KEY_SERIAL_NUM},
                               {&m_strManufacturer, KEY_MANUFACTURER}};
    const TextStep host = {&m_strHostName, KEY_HOST_NAME};

    if (!save) {
        for (const TextStep& s : before) {
            s.box(this)->setMaxLength(s.limit());
            s.box(this)->setText(*s.field);
        }
        text(IDC_EDT_PRNT_PORT)->setText(QString::number(m_uPrntPort));
        text(IDC_EDT_PRNT_RCV_TMO)->setText(QString::number(m_uPrntRcvTmo));
        host.box(this)->setMaxLength(host.limit());
        host.box(this)->setText(*host.field);
        m_cmbLineSpeed->setCurrentIndex(m_nLineSpeed < m_cmbLineSpeed->count() ? m_nLineSpeed : -1);
        m_cmbDhcp->setCurrentIndex(m_nDhcp < m_cmbDhcp->count() ? m_nDhcp : -1);
        return true;
    }

    // The shared rules give the order, the limits, the ranges and the messages.
    // A number box the device gave no value for and the user left empty is
    // not written, so not checked; the device's own host name goes back as
    // it came, so only a name the user typed must be printable ASCII.
    const QString deviceHost = QString::fromLatin1(m_cfgDevice.deviceHostName);
    auto leftEmpty = [&](const QLineEdit* box, int key) {
        return box->text().trimmed().isEmpty() && !(m_cfgDevice.reported & CfgKeyBit(key));
    };
    for (const CfgField* f : kCfgCheckedOrder) {
        bool ok = true;
        QLineEdit* box = text(ControlOf(f->key));
        switch (f->kind) {
        case CfgKind::Number:
            if (!leftEmpty(box, f->key))
                ok = Ddx::ExchangeUInt(this, box, f->min, f->max,
                                       f->key == KEY_PRNT_PORT ? &m_uPrntPort : &m_uPrntRcvTmo);
            break;
        case CfgKind::FreeText:
            if (box->text() == deviceHost)
                ok = Ddx::ExchangeText(this, box, static_cast<int>(f->max), host.field);
            else
                ok = Ddx::ExchangeFreeText(this, box, *f, host.field);
            break;
        default:
            for (const TextStep& s : before)
                if (s.key == f->key)
                    ok = Ddx::ExchangeText(this, box, static_cast<int>(f->max), s.field);
            break;
        }
        if (!ok)
            return false;
    }
    m_nLineSpeed = m_cmbLineSpeed->currentIndex();
    m_nDhcp = m_cmbDhcp->currentIndex();
    return true;
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
    return true;
}

void CEdtCfgDlg::FillFromReplyTable()
{
    // The shared reading of the records: what the device reported and could
    // be read fills its control; anything else leaves the control empty, an
    // address blank and a list without a choice, so that nothing the device
    // never had is written back unless the user enters it.
    RecordTable reply;
    CopyReplyTable(&reply);   // a consistent snapshot, whatever the worker does
    CfgFormFromRecords(reply, m_strMacAddr.toLatin1().constData(), &m_cfgDevice);
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

void CEdtCfgDlg::SetIpControl(const char* text, CIpAddressCtrl* ctl, int group)
{
    // Four decimal numbers, leading zeros allowed; anything else leaves the
    // control blank, so an address that cannot be read is never written back.
    uint8_t octets[4] = {0, 0, 0, 0};
    const bool readable = ParseCfgAddress(text, octets);
    CfgReverseOctets(octets, m_abyAddr + 4 * group);
    if (readable) {
        ctl->SetAddress(octets[0], octets[1], octets[2], octets[3]);
    } else {
        ctl->Clear();
    }
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
    CIpAddressCtrl* ctls[4] = {m_ipAddr, m_ipSubnet, m_ipGateway, m_ipDflt};
    const int keys[4] = {KEY_IP, KEY_SUBNET_MASK, KEY_GATEWAY, KEY_IP_DFLT};
    uint32_t entered = 0;
    for (int group = 0; group < 4; ++group) {
        uint8_t a[4];
        ctls[group]->GetAddress(a);
        CfgReverseOctets(a, m_abyAddr + 4 * group);
        // The hidden IP_DFLT cannot be entered: it goes back only as reported.
        if (group < 3 && !ctls[group]->IsBlank())
            entered |= CfgKeyBit(keys[group]);
    }
    if (!DoDataExchange(true))
        return;
    auto boxTyped = [this](int id, const char* filled) {
        return GetDlgItem<QLineEdit>(this, id)->text().trimmed() != QString::fromLatin1(filled).trimmed();
    };
    if (boxTyped(IDC_EDT_PRNT_PORT, m_cfgDevice.prntPort))
        entered |= CfgKeyBit(KEY_PRNT_PORT);
    if (boxTyped(IDC_EDT_PRNT_RCV_TMO, m_cfgDevice.prntRcvTmo))
        entered |= CfgKeyBit(KEY_PRNT_RCV_TMO);
    if (m_strHostName != QString::fromLatin1(m_cfgDevice.deviceHostName))
        entered |= CfgKeyBit(KEY_HOST_NAME);
    if (m_nLineSpeed >= 0)
        entered |= CfgKeyBit(KEY_ENET_SPD);
    if (m_nDhcp >= 0)
        entered |= CfgKeyBit(KEY_DHCP);
    m_uOmitKeys = CfgOmittedKeys(m_cfgDevice.reported, entered);
    done(IDOK);
}

void CEdtCfgDlg::OnCancel()
{
    done(IDCANCEL);
}
