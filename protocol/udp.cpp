#include "udp.h"

#include <cstdio>
#include <cstring>

#include "rxring.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using AddrLen = int;
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
using AddrLen = socklen_t;
#endif

namespace {

constexpr int kMaxInterfaces = 64;
constexpr size_t kNameSize = 64;

struct Transport {
    SocketHandle sendSocket = kNoSocket;
    SocketHandle recvSocket = kNoSocket;
    sockaddr_in sendAddr{};
    sockaddr_in recvAddr{};
    bool perInterface = false;      // send address is 255.255.255.255
    char onlyInterface[kNameSize] = {};
    char openFailure[192] = {};     // from OpenUdp, kept until the next open
    char sendFailure[192] = {};     // from the last SendFrame
    char failureText[400] = {};     // what UdpFailureText shows
    int lastSendCount = 0;
};

Transport g_udp;

// One interface to send on: its index (Linux) and its IPv4 address.
struct Interface {
    int index;
    in_addr addr;
};

sockaddr_in MakeAddress(const char* text, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = inet_addr(text);
    return a;
}

#ifdef _WIN32
SOCKET Native(SocketHandle s) { return static_cast<SOCKET>(s); }
int CloseSocketHandle(SocketHandle s) { return closesocket(Native(s)); }
int LastSocketError() { return WSAGetLastError(); }

// The system's text for a socket error, without its closing full stop.
void ErrorText(int error, char* out, size_t size)
{
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(error), 0, out,
                                   static_cast<DWORD>(size), nullptr);
    size_t len = n > 0 ? std::strlen(out) : 0;
    if (len == 0)
        std::snprintf(out, size, "socket error %d", error);
    while (len > 0 && (out[len - 1] == '\n' || out[len - 1] == '\r' || out[len - 1] == ' ' ||
                       out[len - 1] == '.'))
        out[--len] = '\0';
}

bool MakeNonBlocking(SocketHandle s)
{
    u_long on = 1;
    return ioctlsocket(Native(s), FIONBIO, &on) == 0;
}
#else
int Native(SocketHandle s) { return static_cast<int>(s); }
int CloseSocketHandle(SocketHandle s) { return close(Native(s)); }
int LastSocketError() { return errno; }

void ErrorText(int error, char* out, size_t size)
{
    std::snprintf(out, size, "%s", std::strerror(error));
}

bool MakeNonBlocking(SocketHandle s)
{
    const int flags = fcntl(Native(s), F_GETFL, 0);
    return flags >= 0 && fcntl(Native(s), F_SETFL, flags | O_NONBLOCK) == 0;
}
#endif

SocketHandle MakeSocket()
{
    const auto s = socket(AF_INET, SOCK_DGRAM, 0);
#ifdef _WIN32
    return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
#else
    return s < 0 ? kNoSocket : static_cast<SocketHandle>(s);
#endif
}

void SetBroadcast(SocketHandle s)
{
    const int on = 1;
    setsockopt(Native(s), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
}

// "Cannot <what> UDP port <port>: <the system's text for error>."
void Describe(char* out, size_t size, const char* what, uint16_t port, int error)
{
    char cause[128];
    ErrorText(error, cause, sizeof cause);
    std::snprintf(out, size, "Cannot %s UDP port %u: %s.", what, static_cast<unsigned>(port), cause);
}

void ComposeFailure()
{
    const char* open = g_udp.openFailure;
    const char* send = g_udp.sendFailure;
    std::snprintf(g_udp.failureText, sizeof g_udp.failureText, "%s%s%s", open,
                  open[0] && send[0] ? " " : "", send);
}

bool NameMatches(const char* wanted, const char* name, in_addr addr)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, text, sizeof text);
    if (std::strcmp(wanted, text) == 0)
        return true;
    if (!name)
        return false;
    // An address label ("eth0:1") belongs to its interface ("eth0").
    const size_t n = std::strlen(wanted);
    return std::strncmp(wanted, name, n) == 0 && (name[n] == '\0' || name[n] == ':');
}

void AddInterface(Interface* list, int* count, int index, in_addr addr)
{
    for (int i = 0; i < *count; ++i)
        if (list[i].index == index)
            return;   // one send per interface, however many addresses it has
    if (*count < kMaxInterfaces)
        list[(*count)++] = Interface{index, addr};
}

#ifdef _WIN32
// Up, broadcast-capable, non-loopback IPv4 interfaces, from a fixed-size
// list (no allocation). The number found, or -1 when they cannot be listed.
// Winsock lists addresses, so an interface with two gets two sends.
int ListInterfaces(Interface* list)
{
    INTERFACE_INFO info[kMaxInterfaces];
    DWORD bytes = 0;
    if (WSAIoctl(Native(g_udp.sendSocket), SIO_GET_INTERFACE_LIST, nullptr, 0, info, sizeof info,
                 &bytes, nullptr, nullptr) != 0)
        return -1;
    const int n = static_cast<int>(bytes / sizeof(INTERFACE_INFO));
    int count = 0;
    for (int i = 0; i < n; ++i) {
        const u_long flags = info[i].iiFlags;
        if (!(flags & IFF_UP) || !(flags & IFF_BROADCAST) || (flags & IFF_LOOPBACK))
            continue;
        const in_addr addr = info[i].iiAddress.AddressIn.sin_addr;
        if (g_udp.onlyInterface[0] && !NameMatches(g_udp.onlyInterface, nullptr, addr))
            continue;
        AddInterface(list, &count, i + 1, addr);
    }
    return count;
}

// A socket bound to the interface's address sends the broadcast out of
// that interface.
bool SendOn(const Interface& itf, const uint8_t* bytes, unsigned count, int* error)
{
    const SocketHandle s = MakeSocket();
    if (s == kNoSocket) {
        *error = LastSocketError();
        return false;
    }
    SetBroadcast(s);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = itf.addr;
    bool sent = bind(Native(s), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
                sendto(Native(s), reinterpret_cast<const char*>(bytes), static_cast<int>(count), 0,
                       reinterpret_cast<const sockaddr*>(&g_udp.sendAddr),
                       sizeof g_udp.sendAddr) >= 0;
    if (!sent)
        *error = LastSocketError();
    closesocket(Native(s));
    return sent;
}
#else
// Up, broadcast-capable, non-loopback IPv4 interfaces, from a fixed-size
// list (no allocation). The number found, or -1 when they cannot be listed.
int ListInterfaces(Interface* list)
{
    ifreq reqs[kMaxInterfaces];
    ifconf conf{};
    conf.ifc_len = sizeof reqs;
    conf.ifc_req = reqs;
    const int fd = Native(g_udp.sendSocket);
    if (ioctl(fd, SIOCGIFCONF, &conf) != 0)
        return -1;
    const int n = conf.ifc_len / static_cast<int>(sizeof(ifreq));
    int count = 0;
    for (int i = 0; i < n; ++i) {
        if (reqs[i].ifr_addr.sa_family != AF_INET)
            continue;
        in_addr addr{};
        std::memcpy(&addr, &reinterpret_cast<const sockaddr_in*>(&reqs[i].ifr_addr)->sin_addr,
                    sizeof addr);
        ifreq q{};
        std::memcpy(q.ifr_name, reqs[i].ifr_name, sizeof q.ifr_name);
        if (ioctl(fd, SIOCGIFFLAGS, &q) != 0)
            continue;
        const int flags = q.ifr_flags;
        if (!(flags & IFF_UP) || !(flags & IFF_RUNNING) || !(flags & IFF_BROADCAST) ||
            (flags & IFF_LOOPBACK))
            continue;
        if (g_udp.onlyInterface[0] && !NameMatches(g_udp.onlyInterface, reqs[i].ifr_name, addr))
            continue;
        if (ioctl(fd, SIOCGIFINDEX, &q) != 0)
            continue;
        AddInterface(list, &count, q.ifr_ifindex, addr);
    }
    return count;
}

// IP_PKTINFO names the outgoing interface and the source address, so the
// broadcast leaves by that interface whatever the routing table says.
bool SendOn(const Interface& itf, const uint8_t* bytes, unsigned count, int* error)
{
    iovec iov{const_cast<uint8_t*>(bytes), count};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = &g_udp.sendAddr;
    msg.msg_namelen = sizeof g_udp.sendAddr;
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
    info.ipi_spec_dst = itf.addr;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    if (sendmsg(Native(g_udp.sendSocket), &msg, 0) >= 0)
        return true;
    *error = LastSocketError();
    return false;
}
#endif

bool PlainSend(const uint8_t* bytes, unsigned count, int* error)
{
    const auto n = sendto(Native(g_udp.sendSocket), reinterpret_cast<const char*>(bytes),
                          static_cast<int>(count), 0,
                          reinterpret_cast<const sockaddr*>(&g_udp.sendAddr), sizeof g_udp.sendAddr);
    if (n >= 0)
        return true;
    *error = LastSocketError();
    return false;
}

}  // namespace

int OpenUdp(void* window, const UdpEndpoints& endpoints)
{
    (void)window;
    RxRingReset();
    g_udp.openFailure[0] = '\0';
    g_udp.sendFailure[0] = '\0';
    g_udp.lastSendCount = 0;

    g_udp.sendAddr = MakeAddress(endpoints.sendAddress, endpoints.sendPort);
    g_udp.perInterface = g_udp.sendAddr.sin_addr.s_addr == htonl(INADDR_BROADCAST);
    std::snprintf(g_udp.onlyInterface, sizeof g_udp.onlyInterface, "%s",
                  endpoints.interfaceName ? endpoints.interfaceName : "");

    g_udp.sendSocket = MakeSocket();
    if (g_udp.sendSocket == kNoSocket) {
        Describe(g_udp.openFailure, sizeof g_udp.openFailure, "send to", endpoints.sendPort,
                 LastSocketError());
        ComposeFailure();
        return -1;
    }
    SetBroadcast(g_udp.sendSocket);

    g_udp.recvSocket = MakeSocket();
    if (g_udp.recvSocket != kNoSocket) {
        const bool notified = MakeNonBlocking(g_udp.recvSocket);
        const int notifyError = notified ? 0 : LastSocketError();
        g_udp.recvAddr = MakeAddress(endpoints.recvAddress, endpoints.recvPort);
        if (bind(Native(g_udp.recvSocket), reinterpret_cast<const sockaddr*>(&g_udp.recvAddr),
                 sizeof g_udp.recvAddr) != 0) {
            // Still a working open: requests go out, no reply ever arrives.
            Describe(g_udp.openFailure, sizeof g_udp.openFailure, "receive on",
                     endpoints.recvPort, LastSocketError());
        }
        if (notified) {
            ComposeFailure();
            return 0;
        }
        Describe(g_udp.openFailure, sizeof g_udp.openFailure, "receive on", endpoints.recvPort,
                 notifyError);
    } else {
        Describe(g_udp.openFailure, sizeof g_udp.openFailure, "receive on", endpoints.recvPort,
                 LastSocketError());
    }
    ComposeFailure();

    CloseSocketHandle(g_udp.sendSocket);
    g_udp.sendSocket = kNoSocket;
    return -1;
}

int CloseUdp()
{
    if (g_udp.sendSocket != kNoSocket)
        CloseSocketHandle(g_udp.sendSocket);
    g_udp.sendSocket = kNoSocket;
    int result = -1;
    if (g_udp.recvSocket != kNoSocket)
        result = CloseSocketHandle(g_udp.recvSocket);
    g_udp.recvSocket = kNoSocket;
    return result;
}

SocketHandle GetRecvSocket()
{
    return g_udp.recvSocket;
}

uint16_t GetRecvPort()
{
    if (g_udp.recvSocket == kNoSocket)
        return 0;
    sockaddr_in a{};
    AddrLen len = sizeof a;
    if (getsockname(Native(g_udp.recvSocket), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

int SendFrame(const uint8_t* bytes, unsigned count)
{
    g_udp.lastSendCount = 0;
    if (g_udp.sendSocket == kNoSocket)
        return -1;   // the open already said why

    int error = 0;
    int sent = 0;
    bool plain = !g_udp.perInterface;
    if (g_udp.perInterface) {
        Interface list[kMaxInterfaces];
        const int found = ListInterfaces(list);
        for (int i = 0; i < found; ++i)
            sent += SendOn(list[i], bytes, count, &error) ? 1 : 0;
        if (found == 0 && g_udp.onlyInterface[0]) {
            std::snprintf(g_udp.sendFailure, sizeof g_udp.sendFailure,
                          "Cannot send to UDP port %u: no broadcast interface %s is up.",
                          static_cast<unsigned>(ntohs(g_udp.sendAddr.sin_port)),
                          g_udp.onlyInterface);
            ComposeFailure();
            return -1;
        }
        plain = found <= 0;
    }
    if (plain)
        sent = PlainSend(bytes, count, &error) ? 1 : 0;

    g_udp.lastSendCount = sent;
    if (sent > 0)
        g_udp.sendFailure[0] = '\0';
    else
        Describe(g_udp.sendFailure, sizeof g_udp.sendFailure, "send to",
                 ntohs(g_udp.sendAddr.sin_port), error);
    ComposeFailure();
    return sent > 0 ? static_cast<int>(count) : -1;
}

void OnSocketNotify(unsigned event)
{
    if ((event & 0xFFFF) != kUdpReadEvent || g_udp.recvSocket == kNoSocket)
        return;
    uint8_t buf[kUdpRecvBuffer];
#ifdef _WIN32
    // Winsock fails the receive with WSAEMSGSIZE for a longer datagram.
    const int n = recv(Native(g_udp.recvSocket), reinterpret_cast<char*>(buf), sizeof buf, 0);
#else
    // MSG_TRUNC reports the datagram's true length, so a longer one is
    // recognised and dropped instead of being cut to 2048 bytes.
    const ssize_t n = recv(Native(g_udp.recvSocket), buf, sizeof buf, MSG_TRUNC | MSG_DONTWAIT);
#endif
    if (n < 0 || static_cast<size_t>(n) > sizeof buf)
        return;
    RxRingWrite(buf, static_cast<unsigned>(n));
}

int DiscardQueuedDatagrams()
{
    if (g_udp.recvSocket == kNoSocket)
        return 0;
    constexpr int kMostDropped = 8192;
    uint8_t buf[kUdpRecvBuffer];
    int dropped = 0;
    for (; dropped < kMostDropped; ++dropped) {
#ifdef _WIN32
        // The socket is non-blocking; a longer datagram is dropped with
        // WSAEMSGSIZE, which still takes it off the queue.
        const int n = recv(Native(g_udp.recvSocket), reinterpret_cast<char*>(buf), sizeof buf, 0);
        if (n < 0 && WSAGetLastError() != WSAEMSGSIZE)
            break;
#else
        const ssize_t n = recv(Native(g_udp.recvSocket), buf, sizeof buf, MSG_TRUNC | MSG_DONTWAIT);
        if (n < 0)
            break;
#endif
    }
    return dropped;
}

const char* UdpFailureText()
{
    return g_udp.failureText;
}

int UdpLastSendCount()
{
    return g_udp.lastSendCount;
}

bool UdpSendsPerInterface()
{
    return g_udp.perInterface;
}
