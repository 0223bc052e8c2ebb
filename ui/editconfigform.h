// The Edit Config form: shows the configuration last read (the ReplyTable),
// lets the user change the network and print parameters, and on OK hands
// the edited values back in its value fields.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

#include "protocol.h"
#include "dialogbase.h"

class QComboBox;
class CIpAddressCtrl;

// One value the user changed in the form, as typed: a box's text, an
// address as dotted text, a list's code.
struct FormEdit {
    int key = -1;
    QByteArray text;
};

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
    // Set by OK: the values the user changed, in the order the form checks
    // them; a write plans these on a fresh read of the device.
    std::vector<FormEdit> m_edits;
    // The configuration the form was filled from.
    RecordTable m_shown{};

    // Values to show over the fill when the form opens: the user's changes
    // kept when the form is filled again from a newer read.
    void KeepEdits(std::vector<FormEdit> edits) { m_keep = std::move(edits); }
    // What the controls hold that differs from the fill.
    std::vector<FormEdit> CollectEdits() const;

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
    void ShowEdits();
    // Which records the device reported, and with what, as the fill read them.
    CfgFormState m_cfgDevice{};
    std::vector<FormEdit> m_keep;
};
