#include "writetable.h"

#include <cstring>

#include "editconfigform.h"
#include "protocol.h"

namespace {

// The form's texts are single-byte: Latin-1, cut to the value size.
void PutText(char (&dst)[kValueSize], const QString& text)
{
    std::memset(dst, 0, sizeof dst);
    const QByteArray b = text.toLatin1();
    std::memcpy(dst, b.constData(), std::min<size_t>(static_cast<size_t>(b.size()), sizeof dst - 1));
}

}  // namespace

void CfgValuesFromDialog(const CEdtCfgDlg& d, CfgValues* v)
{
    std::memset(v, 0, sizeof *v);
    PutText(v->devName, d.m_strDevName);
    PutText(v->romVer, d.m_strRomVer);
    PutText(v->macAddr, d.m_strMacAddr);
    PutText(v->serialNum, d.m_strSerialNum);
    PutText(v->manufacturer, d.m_strManufacturer);
    PutText(v->hostName, d.m_strHostName);
    v->prntPort = d.m_uPrntPort;
    v->prntRcvTmo = d.m_uPrntRcvTmo;
    v->lineSpeed = d.m_nLineSpeed;
    v->dhcp = d.m_nDhcp;
    std::memcpy(v->addr, d.m_abyAddr, sizeof v->addr);
    v->omit = d.m_uOmitKeys;
}

void FillWriteTable(const CEdtCfgDlg& d, RecordTable* out)
{
    CfgValues v;
    CfgValuesFromDialog(d, &v);
    ClearRecordTable(out);
    BuildWriteTable(out, v);
}
