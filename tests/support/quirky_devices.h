// Devices whose configurations a careless write would change: addresses
// written with leading zeros, empty and missing records, a malformed mask,
// numbers that are not numbers, a host name outside ASCII. After a write of
// one value, every other value must read the same as before, and the write
// must carry no record the device never reported (readably).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cfgrules.h"
#include "devsim.h"

namespace testrig {

inline std::vector<devsim::Device> QuirkyDevices()
{
    static const char kText[] =
        "[device]\n"
        "SERIAL_NUM = QK-PADDED\nMAC = 02C0EE00A001\n"
        "IP = 192.168.000.010\nIP_CUR = 192.168.0.10\nSUBNET_MASK = 255.255.255.000\nGATEWAY = 192.168.000.001\n"
        "IP_DFLT = 010.000.000.250\nPRNT_PORT = 09100\n"
        "[device]\n"
        "SERIAL_NUM = QK-EMPTY\nMAC = 02C0EE00A002\n"
        "GATEWAY =\nMANUFACTURER =\nENET_SPD =\nHOST_NAME =\n"
        "[device]\n"
        "SERIAL_NUM = QK-MISSING\nMAC = 02C0EE00A003\n"
        "omit IP_DFLT MANUFACTURER PRNT_RCV_TMO DHCP\n"
        "[device]\n"
        "SERIAL_NUM = QK-MALFORMED\nMAC = 02C0EE00A004\n"
        "SUBNET_MASK = 255.255.255\nGATEWAY = 0x0A.0.0.1\nENET_SPD = x\nPRNT_RCV_TMO = 60s\n"
        "[device]\n"
        "SERIAL_NUM = QK-LATIN1\nMAC = 02C0EE00A005\n"
        "HOST_NAME = caf\xE9-lobby\n";
    std::vector<devsim::Device> out;
    std::string error;
    EXPECT_TRUE(devsim::ParseDeviceText(kText, 31, &out, &error)) << error;
    return out;
}

// Whether a device still holds the same value: addresses and numbers by
// value when both read as such, anything else byte for byte.
inline bool SameByValue(int key, const std::string& before, const std::string& after)
{
    uint8_t a[4], b[4];
    uint32_t x = 0, y = 0;
    switch (CfgKindOfKey(key)) {
    case CfgKind::Address:
        if (ParseCfgAddress(before.c_str(), a) && ParseCfgAddress(after.c_str(), b))
            return std::equal(a, a + 4, b);
        break;
    case CfgKind::Number:
    case CfgKind::Choice:
        if (ParseCfgNumber(before.c_str(), &x) && ParseCfgNumber(after.c_str(), &y))
            return x == y;
        break;
    default:
        break;
    }
    return before == after;
}

// After a write meant to change only `changed` on device `index`: every other
// value is the same by value, and every record the write carried (but the
// changed one) is one the device reported with a readable, non-empty value.
inline void ExpectOnlyChanged(const devsim::Simulator& sim, size_t index,
                              const devsim::Device& before, int changed)
{
    const std::string serial = before.values[KEY_SERIAL_NUM];
    for (int k = 0; k < kKeyCount; ++k) {
        if (k == changed)
            continue;
        EXPECT_TRUE(SameByValue(k, before.values[k], sim.Value(index, k)))
            << serial << " " << KeyTable[k].key << ": \"" << before.values[k] << "\" became \""
            << sim.Value(index, k) << "\"";
    }
    const std::vector<devsim::WrittenRecord> written = sim.LastWrite(index);
    EXPECT_FALSE(written.empty()) << serial << ": no write arrived";
    for (const devsim::WrittenRecord& w : written) {
        const KeyInfo* info = FindKey(w.key.c_str());
        ASSERT_NE(info, nullptr) << w.key;
        const int k = static_cast<int>(info - KeyTable);
        if (k == changed)
            continue;
        const std::string& had = before.values[k];
        uint8_t o[4];
        uint32_t n = 0;
        const bool readable = CfgKindOfKey(k) == CfgKind::Address ? ParseCfgAddress(had.c_str(), o)
                              : CfgKindOfKey(k) == CfgKind::Text   ? true
                                                                   : ParseCfgNumber(had.c_str(), &n);
        EXPECT_TRUE(before.Has(k) && !had.empty() && readable)
            << serial << ": the write carried " << w.key << " = \"" << w.value
            << "\", which the device reported as \"" << (before.Has(k) ? had : "(no record)")
            << "\"";
    }
}

}  // namespace testrig
