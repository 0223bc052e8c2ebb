#include "writetable.h"

#include <cstdio>
#include <cstring>

#include "edtcfgdlg.h"
#include "engine.h"

namespace {

// Key and width, the value padded with spaces to the width, no terminator
// inside the width (the rest of the value stays as ClearWriteTable left it).
void PutValue(ConfigRecord* record, const char* key, const char* text, int width)
{
    if (width < 0)
        width = 0;
    if (width > kMaxValueWidth)
        width = kMaxValueWidth;
    record->key = key;
    record->width = static_cast<int8_t>(width);
    std::memset(record->value, ' ', static_cast<size_t>(width));
    // A text is never copied past the record's width: the value holds 33 bytes.
    const size_t n = strnlen(text, static_cast<size_t>(width));
    std::memcpy(record->value, text, n);
}

}  // namespace

int FillTextRecord(ConfigRecord* record, const char* key, const char* text, int width)
{
    if (!record || !key || !text)
        return 0;
    PutValue(record, key, text, width);
    return 1;
}

int FillNumberRecord(ConfigRecord* record, const char* key, uint32_t value, int width)
{
    if (!record || !key || value > 65535)
        return 0;
    char digits[8];
    std::snprintf(digits, sizeof digits, "%d", static_cast<int>(value));
    PutValue(record, key, digits, width);
    return 1;
}

int FillAddressRecord(ConfigRecord* record, const char* key, const uint8_t* octets, int width)
{
    if (!record || !key || !octets)
        return 0;
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", octets[3], octets[2], octets[1], octets[0]);
    PutValue(record, key, text, width);
    return 1;
}

void FillWriteTable(const CEdtCfgDlg& d)
{
    ClearWriteTable();
    RecordTable* t = GetWriteTable();
    int slot = 0;
    auto key = [](int k) { return KeyTable[k].key; };
    auto width = [](int k) { return static_cast<int>(KeyTable[k].width); };
    auto text = [&](int k, const QString& s) {
        const QByteArray b = s.toLatin1();
        slot += FillTextRecord(&(*t)[slot], key(k), b.constData(), width(k));
    };
    auto number = [&](int k, uint32_t v) { slot += FillNumberRecord(&(*t)[slot], key(k), v, width(k)); };
    auto address = [&](int k, int group) {
        slot += FillAddressRecord(&(*t)[slot], key(k), d.m_abyAddr + 4 * group, width(k));
    };

    text(KEY_DEV, d.m_strDevName);
    text(KEY_VER, d.m_strRomVer);
    text(KEY_MAC, d.m_strMacAddr);
    number(KEY_ENET_SPD, static_cast<uint32_t>(d.m_nLineSpeed));
    number(KEY_DHCP, static_cast<uint32_t>(d.m_nDhcp));
    address(KEY_IP, 0);
    address(KEY_SUBNET_MASK, 1);
    address(KEY_GATEWAY, 2);
    address(KEY_IP_DFLT, 3);
    number(KEY_PRNT_PORT, d.m_uPrntPort);
    number(KEY_PRNT_RCV_TMO, d.m_uPrntRcvTmo);
    text(KEY_MANUFACTURER, d.m_strManufacturer);
    text(KEY_HOST_NAME, d.m_strHostName);
    text(KEY_SERIAL_NUM, d.m_strSerialNum);
    ClearRecord(&(*t)[slot]);
}
