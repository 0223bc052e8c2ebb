#include "udp.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "rxring.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using AddrLen = int;
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <linux/sock_diag.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
using AddrLen = socklen_t;
#endif

namespace {

constexpr size_t kNameSize = 64;
constexpr int kMostDatagramsPerNotify = 4096;

// One interface to send on: its index (Linux) and its IPv4 address.
struct Interface {
    int index;
    in_addr addr;
};

struct Transport {
    SocketHandle sendSocket = kNoSocket;
    SocketHandle recvSocket = kNoSocket;
    bool recvBound = false;
    sockaddr_in sendAddr{};
    sockaddr_in recvAddr{};
    uint16_t recvPort = 0;          // as asked (0: any)
    bool perInterface = false;      // send address is 255.255.255.255
    char onlyInterface[kNameSize] = {};
    char openFailure[192] = {};     // why there is no receive socket, until one is bound
    char sendFailure[320] = {};     // from the last SendFrame
    char failureText[520] = {};     // what UdpFailureText shows
    char notice[64] = {};           // UdpTakeNotice
    int lastSendCount = 0;
    int recvBufferBytes = 0;
    uint32_t dropsAtSend = 0;
    bool listingFails = false;      // test hook
    // The interface listing's buffers, kept between requests and grown only
    // when the machine has more addresses than ever before.
#ifdef _WIN32
    std::vector<INTERFACE_INFO> listed;
#else
    std::vector<ifreq> listed;
#endif
    std::vector<Interface> interfaces;
};

Transport g_udp;

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

void AddInterface(int index, in_addr addr)
{
    for (const Interface& known : g_udp.interfaces)
        if (known.index == index)
            return;   // one send per interface, however many addresses it has
    g_udp.interfaces.push_back(Interface{index, addr});
}

// How many times the listing's buffer is doubled at most before giving up
// on a machine whose addresses keep multiplying while they are listed.
constexpr int kListingAttempts = 16;

#ifdef _WIN32
// Up, broadcast-capable, non-loopback IPv4 interfaces into g_udp.interfaces.
// The number found, or -1 (with *error) when they cannot be listed. Winsock
// lists addresses, so an interface with two gets two sends.
int ListInterfaces(int* error)
{
    g_udp.interfaces.clear();
    if (g_udp.listingFails) {
        *error = WSAEOPNOTSUPP;
        return -1;
    }
    if (g_udp.listed.size() < 64)
        g_udp.listed.resize(64);
    DWORD bytes = 0;
    for (int attempt = 0;; ++attempt) {
        const DWORD room = static_cast<DWORD>(g_udp.listed.size() * sizeof(INTERFACE_INFO));
        if (WSAIoctl(Native(g_udp.sendSocket), SIO_GET_INTERFACE_LIST, nullptr, 0,
                     g_udp.listed.data(), room, &bytes, nullptr, nullptr) == 0)
            break;
        *error = LastSocketError();
        if (*error != WSAEFAULT || attempt == kListingAttempts)
            return -1;
        g_udp.listed.resize(g_udp.listed.size() * 2);   // too small: grow and ask again
    }
    const size_t n = bytes / sizeof(INTERFACE_INFO);
    for (size_t i = 0; i < n; ++i) {
        const INTERFACE_INFO& info = g_udp.listed[i];
        const u_long flags = info.iiFlags;
        if (!(flags & IFF_UP) || !(flags & IFF_BROADCAST) || (flags & IFF_LOOPBACK))
            continue;
        const in_addr addr = info.iiAddress.AddressIn.sin_addr;
        if (g_udp.onlyInterface[0] && !NameMatches(g_udp.onlyInterface, nullptr, addr))
            continue;
        AddInterface(static_cast<int>(i) + 1, addr);
    }
    return static_cast<int>(g_udp.interfaces.size());
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

// Windows keeps no count of the datagrams it drops on a socket.
bool ReadDrops(uint32_t* drops)
{
    (void)drops;
    return false;
}
#else
// Up, broadcast-capable, non-loopback IPv4 interfaces into g_udp.interfaces.
// The number found, or -1 (with *error) when they cannot be listed.
int ListInterfaces(int* error)
{
    g_udp.interfaces.clear();
    if (g_udp.listingFails) {
        *error = EOPNOTSUPP;
        return -1;
    }
    const int fd = Native(g_udp.sendSocket);
    if (g_udp.listed.size() < 64)
        g_udp.listed.resize(64);
    // The system fills what room it is given and says nothing of the rest:
    // an answer that fills the buffer to the brim may have been cut short.
    ifconf conf{};
    for (int attempt = 0;; ++attempt) {
        const int room = static_cast<int>(g_udp.listed.size() * sizeof(ifreq));
        conf.ifc_len = room;
        conf.ifc_req = g_udp.listed.data();
        if (ioctl(fd, SIOCGIFCONF, &conf) != 0) {
            *error = errno;
            return -1;
        }
        if (conf.ifc_len < room || attempt == kListingAttempts)
            break;
        g_udp.listed.resize(g_udp.listed.size() * 2);
    }
    const int n = conf.ifc_len / static_cast<int>(sizeof(ifreq));
    for (int i = 0; i < n; ++i) {
        const ifreq& listed = g_udp.listed[static_cast<size_t>(i)];
        if (listed.ifr_addr.sa_family != AF_INET)
            continue;
        in_addr addr{};
        std::memcpy(&addr, &reinterpret_cast<const sockaddr_in*>(&listed.ifr_addr)->sin_addr,
                    sizeof addr);
        ifreq q{};
        std::memcpy(q.ifr_name, listed.ifr_name, sizeof q.ifr_name);
        if (ioctl(fd, SIOCGIFFLAGS, &q) != 0)
            continue;
        const int flags = q.ifr_flags;
        if (!(flags & IFF_UP) || !(flags & IFF_RUNNING) || !(flags & IFF_BROADCAST) ||
            (flags & IFF_LOOPBACK))
            continue;
        if (g_udp.onlyInterface[0] && !NameMatches(g_udp.onlyInterface, listed.ifr_name, addr))
            continue;
        if (ioctl(fd, SIOCGIFINDEX, &q) != 0)
            continue;
        AddInterface(q.ifr_ifindex, addr);
    }
    return static_cast<int>(g_udp.interfaces.size());
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

// The datagrams the system has dropped on the receive socket so far.
bool ReadDrops(uint32_t* drops)
{
    if (g_udp.recvSocket == kNoSocket)
        return false;
    uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t len = sizeof info;
    if (getsockopt(Native(g_udp.recvSocket), SOL_SOCKET, SO_MEMINFO, info, &len) != 0 ||
        len < static_cast<socklen_t>((SK_MEMINFO_DROPS + 1) * sizeof info[0]))
        return false;
    *drops = info[SK_MEMINFO_DROPS];
    return true;
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

// Asks for a receive buffer large enough for a burst of replies: beyond the
// system's usual ceiling where the program may (Linux, with the right to
// administer the network), else as much as the ceiling allows.
void EnlargeReceiveBuffer(SocketHandle s)
{
    const int want = kUdpRecvBufferWanted;
    const char* bytes = reinterpret_cast<const char*>(&want);
#ifdef SO_RCVBUFFORCE
    if (setsockopt(Native(s), SOL_SOCKET, SO_RCVBUFFORCE, bytes, sizeof want) != 0)
#endif
        setsockopt(Native(s), SOL_SOCKET, SO_RCVBUF, bytes, sizeof want);
    int got = 0;
    AddrLen len = sizeof got;
    if (getsockopt(Native(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&got), &len) != 0)
        got = 0;
    g_udp.recvBufferBytes = got;
}

void DropReceiveSocket()
{
    if (g_udp.recvSocket != kNoSocket)
        CloseSocketHandle(g_udp.recvSocket);
    g_udp.recvSocket = kNoSocket;
    g_udp.recvBound = false;
    g_udp.recvBufferBytes = 0;
}

// Makes the receive socket if there is none and binds it if it is not
// bound. true when it is bound; else openFailure says why.
bool ReadyReceiveSocket()
{
    if (g_udp.recvBound)
        return true;
    if (g_udp.recvSocket == kNoSocket) {
        g_udp.recvSocket = MakeSocket();
        if (g_udp.recvSocket == kNoSocket) {
            Describe(g_udp.openFailure, sizeof g_udp.openFailure, "receive on", g_udp.recvPort,
                     LastSocketError());
            return false;
        }
        if (!MakeNonBlocking(g_udp.recvSocket)) {
            // Reading it would block the event loop: no use.
            Describe(g_udp.openFailure, sizeof g_udp.openFailure, "receive on", g_udp.recvPort,
                     LastSocketError());
            DropReceiveSocket();
            return false;
        }
        // Every program on this port hears the devices' broadcast replies.
        const int on = 1;
        setsockopt(Native(g_udp.recvSocket), SOL_SOCKET, SO_REUSEADDR,
                   reinterpret_cast<const char*>(&on), sizeof on);
        EnlargeReceiveBuffer(g_udp.recvSocket);
    }
    if (bind(Native(g_udp.recvSocket), reinterpret_cast<const sockaddr*>(&g_udp.recvAddr),
             sizeof g_udp.recvAddr) != 0) {
        Describe(g_udp.openFailure, sizeof g_udp.openFailure, "receive on", g_udp.recvPort,
                 LastSocketError());
        return false;
    }
    g_udp.recvBound = true;
    g_udp.openFailure[0] = '\0';
    return true;
}

}  // namespace

int OpenUdp(void* window, const UdpEndpoints& endpoints)
{
    (void)window;
    RxRingReset();
    g_udp.openFailure[0] = '\0';
    g_udp.sendFailure[0] = '\0';
    g_udp.notice[0] = '\0';
    g_udp.lastSendCount = 0;
    g_udp.dropsAtSend = 0;

    g_udp.sendAddr = MakeAddress(endpoints.sendAddress, endpoints.sendPort);
    g_udp.perInterface = g_udp.sendAddr.sin_addr.s_addr == htonl(INADDR_BROADCAST);
    std::snprintf(g_udp.onlyInterface, sizeof g_udp.onlyInterface, "%s",
                  endpoints.interfaceName ? endpoints.interfaceName : "");
    g_udp.recvAddr = MakeAddress(endpoints.recvAddress, endpoints.recvPort);
    g_udp.recvPort = endpoints.recvPort;

    g_udp.sendSocket = MakeSocket();
    if (g_udp.sendSocket == kNoSocket) {
        Describe(g_udp.openFailure, sizeof g_udp.openFailure, "send to", endpoints.sendPort,
                 LastSocketError());
        ComposeFailure();
        return -1;
    }
    SetBroadcast(g_udp.sendSocket);

    // Without a receive socket requests still go out (the log says so after
    // each); no reply can arrive until a later request gets one.
    ReadyReceiveSocket();
    ComposeFailure();
    return 0;
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
    g_udp.recvBound = false;
    g_udp.recvBufferBytes = 0;
    return result;
}

SocketHandle GetRecvSocket()
{
    return g_udp.recvSocket;
}

uint16_t GetRecvPort()
{
    if (g_udp.recvSocket == kNoSocket || !g_udp.recvBound)
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

    // A port held at the open may be free now: the replies to this request
    // have somewhere to arrive once the bind works.
    if (!g_udp.recvBound && ReadyReceiveSocket())
        std::snprintf(g_udp.notice, sizeof g_udp.notice, "Receiving on UDP port %u.",
                      static_cast<unsigned>(g_udp.recvPort));
    uint32_t drops = 0;
    g_udp.dropsAtSend = ReadDrops(&drops) ? drops : 0;

    int error = 0;
    int sent = 0;
    bool plain = !g_udp.perInterface;
    if (g_udp.perInterface) {
        const int found = ListInterfaces(&error);
        for (const Interface& itf : g_udp.interfaces)
            sent += SendOn(itf, bytes, count, &error) ? 1 : 0;
        if (found <= 0 && g_udp.onlyInterface[0]) {
            // Never a plain send in place of the one interface asked for.
            const unsigned port = ntohs(g_udp.sendAddr.sin_port);
            if (found == 0) {
                std::snprintf(g_udp.sendFailure, sizeof g_udp.sendFailure,
                              "Cannot send to UDP port %u: no broadcast interface %s is up.", port,
                              g_udp.onlyInterface);
            } else {
                char cause[128];
                ErrorText(error, cause, sizeof cause);
                std::snprintf(g_udp.sendFailure, sizeof g_udp.sendFailure,
                              "Cannot send to UDP port %u: the network interfaces cannot be "
                              "listed (%s), so nothing was sent on %s.",
                              port, cause, g_udp.onlyInterface);
            }
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

int OnSocketNotify(unsigned event)
{
    if ((event & 0xFFFF) != kUdpReadEvent || g_udp.recvSocket == kNoSocket)
        return 0;
    int taken = 0;
    uint8_t buf[kUdpRecvBuffer];
    while (taken < kMostDatagramsPerNotify) {
        // The socket's buffer is far larger than the ring: what the ring has
        // no room for waits there while the worker makes room.
        if (RxRingHasConsumer() && RxRingFree() < sizeof buf)
            return kUdpRingFull;
#ifdef _WIN32
        // Winsock fails the receive with WSAEMSGSIZE for a longer datagram.
        const int n = recv(Native(g_udp.recvSocket), reinterpret_cast<char*>(buf), sizeof buf, 0);
        if (n < 0) {
            if (WSAGetLastError() == WSAEMSGSIZE)
                continue;   // dropped whole; the next one may fit
            break;          // nothing more waiting (or a failure: no busy retry)
        }
#else
        // MSG_TRUNC reports the datagram's true length, so a longer one is
        // recognised and dropped instead of being cut to 2048 bytes.
        const ssize_t n = recv(Native(g_udp.recvSocket), buf, sizeof buf, MSG_TRUNC | MSG_DONTWAIT);
        if (n < 0)
            break;   // nothing more waiting (or a failure: no busy retry)
#endif
        ++taken;
        if (static_cast<size_t>(n) > sizeof buf)
            continue;
        RxRingWrite(buf, static_cast<unsigned>(n));
    }
    return taken;
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

const char* UdpTakeNotice()
{
    static char taken[sizeof g_udp.notice];
    std::memcpy(taken, g_udp.notice, sizeof taken);
    g_udp.notice[0] = '\0';
    return taken;
}

int UdpRecvBufferBytes()
{
    return g_udp.recvSocket != kNoSocket ? g_udp.recvBufferBytes : 0;
}

uint32_t UdpDropsSinceSend()
{
    uint32_t drops = 0;
    if (!ReadDrops(&drops))
        return 0;
    return drops - g_udp.dropsAtSend;
}

void SetInterfaceListingFailsForTest(bool fails)
{
    g_udp.listingFails = fails;
}
