// The socket calls of socketio.h on POSIX sockets (Linux).
#include "socketio.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sock_diag.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

const int kSocketErrorNotSupported = EOPNOTSUPP;

namespace {

int Native(SocketHandle s) { return static_cast<int>(s); }

std::vector<ifreq> g_listed;   // see ListBroadcastInterfaces

}  // namespace

bool AcquireSocketLibrary()
{
    return true;   // POSIX sockets need no start
}

void ReleaseSocketLibrary() {}

SocketHandle OpenDatagramSocket()
{
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    return s < 0 ? kNoSocket : static_cast<SocketHandle>(s);
}

int CloseSocketHandle(SocketHandle s)
{
    return close(Native(s));
}

int LastSocketError()
{
    return errno;
}

bool MakeNonBlocking(SocketHandle s)
{
    const int flags = fcntl(Native(s), F_GETFL, 0);
    return flags >= 0 && fcntl(Native(s), F_SETFL, flags | O_NONBLOCK) == 0;
}

bool WaitReadable(SocketHandle s, int timeoutMs)
{
    pollfd p{Native(s), POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
}

long ReceiveDatagram(SocketHandle s, uint8_t* buf, size_t size, uint32_t* fromAddr,
                     uint16_t* fromPort, int32_t* ifIndex)
{
    // MSG_TRUNC reports the datagram's true length, so a longer one is
    // recognised and dropped instead of being cut to the buffer. With
    // IP_PKTINFO on the socket, a control message names the interface the
    // datagram arrived on.
    sockaddr_in from{};
    iovec iov{buf, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(Native(s), &msg, MSG_TRUNC | MSG_DONTWAIT);
    if (n < 0)
        return -1;
    if (fromAddr)
        *fromAddr = from.sin_addr.s_addr;
    if (fromPort)
        *fromPort = ntohs(from.sin_port);
    if (ifIndex) {
        *ifIndex = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                *ifIndex = info.ipi_ifindex;
            }
        }
    }
    return static_cast<long>(n);
}

bool InterfaceNameOf(int32_t index, char* out, size_t size)
{
    char name[IF_NAMESIZE] = {};
    if (size > 0)
        out[0] = '\0';
    if (index <= 0 || size == 0 || !if_indextoname(static_cast<unsigned>(index), name))
        return false;
    std::snprintf(out, size, "%s", name);
    return true;
}

bool ReadSocketDrops(SocketHandle s, uint32_t* drops)
{
    if (s == kNoSocket)
        return false;
    uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t len = sizeof info;
    if (getsockopt(Native(s), SOL_SOCKET, SO_MEMINFO, info, &len) != 0 ||
        len < static_cast<socklen_t>((SK_MEMINFO_DROPS + 1) * sizeof info[0]))
        return false;
    *drops = info[SK_MEMINFO_DROPS];
    return true;
}

void ReserveInterfaceListing(size_t entries)
{
    if (g_listed.size() < entries)
        g_listed.resize(entries);
}

int ListBroadcastInterfaces(SocketHandle s, std::vector<NetInterface>* out, int* error)
{
    out->clear();
    const int fd = Native(s);
    ReserveInterfaceListing(kListingRoom);
    // The system fills what room it is given and says nothing of the rest:
    // an answer that fills the buffer to the brim may have been cut short.
    ifconf conf{};
    for (int attempt = 0;; ++attempt) {
        const int room = static_cast<int>(g_listed.size() * sizeof(ifreq));
        conf.ifc_len = room;
        conf.ifc_req = g_listed.data();
        if (ioctl(fd, SIOCGIFCONF, &conf) != 0) {
            *error = errno;
            return -1;
        }
        if (conf.ifc_len < room || attempt == kListingGrowths)
            break;
        g_listed.resize(g_listed.size() * 2);
    }
    const int n = conf.ifc_len / static_cast<int>(sizeof(ifreq));
    for (int i = 0; i < n; ++i) {
        const ifreq& listed = g_listed[static_cast<size_t>(i)];
        if (listed.ifr_addr.sa_family != AF_INET)
            continue;
        NetInterface itf{};
        const auto* in = reinterpret_cast<const sockaddr_in*>(&listed.ifr_addr);
        std::memcpy(&itf.addr, &in->sin_addr.s_addr, sizeof itf.addr);
        ifreq q{};
        std::memcpy(q.ifr_name, listed.ifr_name, sizeof q.ifr_name);
        if (ioctl(fd, SIOCGIFFLAGS, &q) != 0)
            continue;
        // One rule on both platforms: a link is searched when it is running,
        // that is up with a carrier (Windows lists that as IFF_UP). A link
        // that is up without a carrier would take the broadcast and reach no
        // device: a send there is useless and its failures only noise. A link
        // that comes up during a search is missed either way; the next Find
        // walks the interfaces again.
        const int flags = q.ifr_flags;
        if (!(flags & IFF_UP) || !(flags & IFF_RUNNING) || !(flags & IFF_BROADCAST) ||
            (flags & IFF_LOOPBACK))
            continue;
        if (ioctl(fd, SIOCGIFINDEX, &q) != 0)
            continue;
        itf.index = q.ifr_ifindex;
        itf.arrival = q.ifr_ifindex;
        std::snprintf(itf.name, sizeof itf.name, "%.*s", static_cast<int>(sizeof listed.ifr_name),
                      listed.ifr_name);
        out->push_back(itf);
    }
    return static_cast<int>(out->size());
}

// IP_PKTINFO names the outgoing interface and the source address, so the
// broadcast leaves by that interface whatever the routing table says.
bool SendOnInterface(SocketHandle s, const NetInterface& itf, const uint8_t* bytes, size_t count,
                     uint32_t addr, uint16_t port, int* error)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = addr;
    iovec iov{const_cast<uint8_t*>(bytes), count};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = itf.index;
    info.ipi_spec_dst.s_addr = itf.addr;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    if (sendmsg(Native(s), &msg, 0) >= 0)
        return true;
    *error = errno;
    return false;
}
