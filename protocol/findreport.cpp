#include "findreport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "socketio.h"

const char kRepliesLostText[] =
    "Some replies were lost: the network sent more than this machine could take in.";

void SortDevices(DeviceEntry* devices, int count)
{
    if (!devices || count < 2)
        return;
    std::sort(devices, devices + count, [](const DeviceEntry& a, const DeviceEntry& b) {
        const int bySerial = std::strcmp(a.serial, b.serial);
        return bySerial != 0 ? bySerial < 0 : std::strcmp(a.mac, b.mac) < 0;
    });
}

void FoundCountText(char* out, size_t size, int count)
{
    if (count == 0)
        std::snprintf(out, size, "No device found.");
    else
        std::snprintf(out, size, "%d device%s found.", count, count == 1 ? "" : "s");
}

void LeftOutText(char* out, size_t size, int listed)
{
    std::snprintf(out, size, "More devices answered than the %d listed.", listed);
}

void CutRepliesText(char* out, size_t size, unsigned count)
{
    if (count == 1)
        std::snprintf(out, size, "1 cut reply was ignored.");
    else
        std::snprintf(out, size, "%u cut replies were ignored.", count);
}

void SharedSerialText(char* out, size_t size, const char* serial, int macs)
{
    std::snprintf(out, size, "Serial number %s answered from %d MAC addresses.", serial, macs);
}

int NextSharedSerial(const DeviceEntry* sorted, int count, int* from, int* macs)
{
    int i = *from;
    while (i < count) {
        int j = i + 1;
        while (j < count && std::strcmp(sorted[j].serial, sorted[i].serial) == 0)
            ++j;
        if (j - i > 1) {
            *from = j;
            *macs = j - i;
            return i;
        }
        i = j;
    }
    *from = count;
    return -1;
}

void OriginAddressText(const ReplyOrigin& o, char* out, size_t size)
{
    if (size == 0)
        return;
    out[0] = '\0';
    if (o.addr != 0)
        Ipv4Text(o.addr, out, size);
}

void OriginsText(const DeviceEntry& d, char* out, size_t size)
{
    if (size == 0)
        return;
    out[0] = '\0';
    size_t used = 0;
    for (int i = 0; i < d.originCount && i < kMaxReplyOrigins && used < size; ++i) {
        const ReplyOrigin& o = d.origins[i];
        char addr[16];
        OriginAddressText(o, addr, sizeof addr);
        char port[8] = "";
        if (o.port != kDevicePort)
            std::snprintf(port, sizeof port, ":%u", static_cast<unsigned>(o.port));
        char itf[kInterfaceNameSize + 3] = "";
        if (o.ifName[0] != '\0')
            std::snprintf(itf, sizeof itf, " (%.*s)", static_cast<int>(kInterfaceNameSize - 1),
                          o.ifName);
        const int n = std::snprintf(out + used, size - used, "%s%s%s%s", i ? ", " : "",
                                    addr[0] ? addr : "?", port, itf);
        if (n < 0)
            break;
        used += static_cast<size_t>(n);
    }
}

bool AnsweredFromAnotherAddress(const DeviceEntry& d)
{
    bool known = false;
    for (int i = 0; i < d.originCount && i < kMaxReplyOrigins; ++i) {
        if (d.origins[i].addr == 0)
            continue;
        known = true;
        char addr[16];
        OriginAddressText(d.origins[i], addr, sizeof addr);
        if (std::strcmp(addr, d.ipCur) == 0)
            return false;
    }
    return known;
}

void AnsweredFromText(const DeviceEntry& d, char* out, size_t size)
{
    if (size == 0)
        return;
    char origins[kMaxReplyOrigins * 48];
    OriginsText(d, origins, sizeof origins);
    if (origins[0] == '\0')
        out[0] = '\0';
    else if (AnsweredFromAnotherAddress(d))
        std::snprintf(out, size, "Answered from %s, not from its IP address %s.", origins,
                      d.ipCur[0] ? d.ipCur : "(none)");
    else
        std::snprintf(out, size, "Answered from %s.", origins);
}
