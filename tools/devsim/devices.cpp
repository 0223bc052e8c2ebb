// pathlume-devsim's devices: generated or read configurations, the reply
// frames they answer with and the checks a written record must pass.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>

#include "devsim.h"
#include "textutil.h"

namespace devsim {

namespace {

bool IsDecimal(const std::string& v, unsigned long max)
{
    if (v.empty() || v.size() > 5)
        return false;
    for (char c : v)
        if (c < '0' || c > '9')
            return false;
    return std::stoul(v) <= max;
}

bool IsDottedQuad(const std::string& v)
{
    int parts = 0;
    size_t i = 0;
    while (i <= v.size()) {
        size_t j = v.find('.', i);
        if (j == std::string::npos)
            j = v.size();
        const std::string part = v.substr(i, j - i);
        if (!IsDecimal(part, 255) || part.size() > 3)
            return false;
        ++parts;
        i = j + 1;
        if (j == v.size())
            break;
    }
    return parts == 4;
}

// Device text is single-byte: a device keeps whatever bytes it is given
// (only a zero byte cannot be carried in a record).
bool IsPrintable(const std::string& v)
{
    return v.find('\0') == std::string::npos;
}

bool IsHex12(const std::string& v)
{
    return v.size() == 12 && std::all_of(v.begin(), v.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
           });
}

Device MakeDevice(int index, std::mt19937& rng)
{
    static const char* const kModels[] = {"NP-2400", "NP-3100", "LX-200", "PS-910"};
    static const char* const kMakers[] = {"Ostrander Print", "Helmsdale Devices",
                                          "Corvan Imaging"};
    Device d;
    char buf[64];
    const unsigned r = static_cast<unsigned>(rng());
    d.values[KEY_DEV] = kModels[r % 4];
    std::snprintf(buf, sizeof buf, "%u.%02u.%u", 1 + (r >> 4) % 3, (r >> 8) % 40,
                  (r >> 16) % 10);
    d.values[KEY_VER] = buf;
    const unsigned macBits = static_cast<unsigned>(rng());
    if (index < 256)
        std::snprintf(buf, sizeof buf, "02C0EE%06X", (macBits & 0xFFFF00u) | static_cast<unsigned>(index));
    else
        std::snprintf(buf, sizeof buf, "02C0EF%06X", static_cast<unsigned>(index) & 0xFFFFFFu);
    d.values[KEY_MAC] = buf;
    d.values[KEY_ENET_SPD] = std::to_string(rng() % 5);
    // A string, not the literal: mingw-w64's g++ 12 warns falsely (-Wrestrict)
    // about assigning this literal at -O3.
    d.values[KEY_DHCP] = std::string("0");
    // 192.168.77.20 on, then on into the networks above it.
    const int host = 20 + index;
    if (host < 255)
        std::snprintf(buf, sizeof buf, "192.168.77.%d", host);
    else
        std::snprintf(buf, sizeof buf, "192.168.%d.%d", 78 + (host - 255) / 254, 1 + (host - 255) % 254);
    d.values[KEY_IP_CUR] = buf;
    d.values[KEY_IP] = buf;
    d.values[KEY_SUBNET_MASK] = "255.255.255.0";
    d.values[KEY_GATEWAY] = "192.168.77.1";
    d.values[KEY_IP_DFLT] = "192.168.77.250";
    d.values[KEY_SNMP_SERVER] = "192.168.77.5";
    d.values[KEY_SNMP_COMMUNITY] = "public";
    d.values[KEY_SNMP_PORT] = "161";
    d.values[KEY_SNMP_USER] = "admin";
    d.values[KEY_SNMP_PASSWORD] = "";
    d.values[KEY_PRNT_PORT] = "9100";
    d.values[KEY_PRNT_RCV_TMO] = std::to_string(60 + 30 * (rng() % 4));
    d.values[KEY_MANUFACTURER] = kMakers[rng() % 3];
    std::snprintf(buf, sizeof buf, "print-%s", d.values[KEY_MAC].substr(6).c_str());
    d.values[KEY_HOST_NAME] = buf;
    std::snprintf(buf, sizeof buf, "SN%08u", static_cast<unsigned>(rng() % 100000000u));
    d.values[KEY_SERIAL_NUM] = buf;
    return d;
}

}  // namespace

std::vector<Device> GenerateDevices(int count, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<Device> out;
    std::set<std::string> serials;
    for (int i = 0; i < count; ++i) {
        out.push_back(MakeDevice(i, rng));
        // A drawn serial number that is taken moves on to the next free one.
        std::string& serial = out.back().values[KEY_SERIAL_NUM];
        while (!serials.insert(serial).second) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "SN%08u",
                          static_cast<unsigned>((std::stoul(serial.substr(2)) + 1) % 100000000u));
            serial = buf;
        }
    }
    return out;
}

bool ParseDeviceText(const std::string& text, uint32_t seed, std::vector<Device>* out,
                     std::string* error)
{
    std::mt19937 rng(seed);
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    out->clear();
    while (std::getline(in, line)) {
        ++lineNo;
        const auto hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        line = TrimBlanks(line);
        if (line.empty())
            continue;
        if (line == "[device]") {
            out->push_back(MakeDevice(static_cast<int>(out->size()), rng));
            continue;
        }
        if (line == "find-only") {
            if (out->empty()) {
                *error = "line " + std::to_string(lineNo) + ": find-only before [device]";
                return false;
            }
            out->back().findOnly = true;
            continue;
        }
        const bool omit = line.compare(0, 5, "omit ") == 0;
        if ((omit || line.compare(0, 7, "refuse ") == 0) && line.find('=') == std::string::npos) {
            const std::string verb = omit ? "omit" : "refuse";
            if (out->empty()) {
                *error = "line " + std::to_string(lineNo) + ": " + verb + " before [device]";
                return false;
            }
            std::istringstream keys(line.substr(verb.size() + 1));
            std::string name;
            while (keys >> name) {
                const int key = KeyIndexOf(name.c_str());
                if (key < 0 || key == KEY_MAC || key == KEY_SERIAL_NUM) {
                    *error = "line " + std::to_string(lineNo) + ": cannot " + verb + " " + name;
                    return false;
                }
                (omit ? out->back().missing : out->back().refused) |= 1u << key;
            }
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || out->empty()) {
            *error = "line " + std::to_string(lineNo) + ": expected [device] or KEY = value";
            return false;
        }
        const int key = KeyIndexOf(TrimBlanks(line.substr(0, eq)).c_str());
        const std::string value = TrimBlanks(line.substr(eq + 1));
        if (key < 0) {
            *error = "line " + std::to_string(lineNo) + ": unknown key";
            return false;
        }
        if (value.size() > static_cast<size_t>(KeyTable[key].width)) {
            *error = "line " + std::to_string(lineNo) + ": value wider than " +
                     std::to_string(KeyTable[key].width);
            return false;
        }
        out->back().values[key] = value;
    }
    return true;
}

std::vector<uint8_t> BuildReply(RequestKind command, const Device& dev,
                                const std::vector<int>& keys)
{
    std::vector<uint8_t> frame(kFrameHeaderSize + kEndRecordSize + keys.size() * 64);
    int n = BuildFrameHeader(frame.data(), kDirReply, static_cast<uint32_t>(command));
    for (int key : keys) {
        if (!dev.Has(key))
            continue;
        ConfigRecord r;
        r.key = KeyTable[key].key;
        r.width = KeyTable[key].width;
        std::memset(r.value, 0, sizeof r.value);
        std::strncpy(r.value, dev.values[key].c_str(), static_cast<size_t>(r.width));
        n += FormatRecordLine(frame.data() + n, &r);
    }
    n += AppendEndRecord(frame.data() + n);
    frame.resize(static_cast<size_t>(n));
    return frame;
}

std::string CheckRecord(int key, const std::string& v)
{
    switch (key) {
    case KEY_MAC:
        return IsHex12(v) ? "" : "not 12 hex digits";
    case KEY_ENET_SPD:
        return IsDecimal(v, 4) ? "" : "not a line speed code 0-4";
    case KEY_DHCP:
        return IsDecimal(v, 1) ? "" : "not a DHCP code 0-1";
    case KEY_IP: case KEY_SUBNET_MASK: case KEY_GATEWAY: case KEY_IP_DFLT: case KEY_IP_CUR:
        return IsDottedQuad(v) ? "" : "not a dotted-decimal address";
    case KEY_SNMP_PORT: case KEY_PRNT_PORT:
        return IsDecimal(v, 65535) ? "" : "not a port 0-65535";
    case KEY_PRNT_RCV_TMO:
        return IsDecimal(v, 65535) && std::stoul(v) >= 30 ? "" : "not a time-out 30-65535";
    default:
        return IsPrintable(v) ? "" : "holds a zero byte";
    }
}

}  // namespace devsim
