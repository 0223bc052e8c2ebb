// The Edit Config form: shows the configuration last read (the ReplyTable),
// lets the user change the network and print parameters, and on OK hands
// the edited values back in its value fields.
#pragma once

#include <QString>
#include <cstdint>

#include "cfgrules.h"
#include "dialogbase.h"

class QComboBox;
class CIpAddressCtrl;

class CEdtCfgDlg : public CDialogBase {
    Q_OBJECT
public:
    explicit CEdtCfgDlg(QWidget* parent = nullptr);
    ~CEdtCfgDlg() override;

    // Value fields.
    QString m_strDevName;
    QString m_strRomVer;
    QString m_strMacAddr;
    QString m_strSerialNum;
    QString m_strManufacturer;
    uint32_t m_uPrntPort = 0;
    uint32_t m_uPrntRcvTmo = 0;
    QString m_strHostName;
    int m_nLineSpeed = -1;
    int m_nDhcp = -1;
    uint8_t m_abyAddr[16] = {};
    // Set by OK: the records the write leaves out (CfgKeyBit), those the
    // device did not report readably and the user did not enter.
    uint32_t m_uOmitKeys = 0;

    // Control objects.
    CIpAddressCtrl* m_ipDflt = nullptr;
    CIpAddressCtrl* m_ipGateway = nullptr;
    CIpAddressCtrl* m_ipSubnet = nullptr;
    CIpAddressCtrl* m_ipAddr = nullptr;
    QComboBox* m_cmbDhcp = nullptr;
    QComboBox* m_cmbLineSpeed = nullptr;

    // true to save (form -> fields, with validation), false to load.
    bool DoDataExchange(bool save);
    void FillFromReplyTable();
    void SetIpControl(const char* text, CIpAddressCtrl* ctl, int group);

public slots:
    void OnOK();
    void OnCancel();
    void OnSelChangeLineSpeed(int index);
    void OnSelChangeDhcp(int index);

protected:
    bool OnInitDialog() override;
    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }

private:
    void BuildTemplate();
    // Which records the device reported, and with what, as the fill read them.
    CfgFormState m_cfgDevice{};
};
