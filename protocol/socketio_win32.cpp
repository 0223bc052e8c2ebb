// The socket calls of socketio.h on Winsock. The transport and the
// simulator start the socket library for themselves (AcquireSocketLibrary);
// the window's application makes a start of its own (app/socketlibrary.cpp).
#include "socketio.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstring>


const int kSocketErrorNotSupported = WSAEOPNOTSUPP;

namespace {

SOCKET Native(SocketHandle s) { return static_cast<SOCKET>(s); }

std::vector<INTERFACE_INFO> g_listed;   // see ListBroadcastInterfaces

}  // namespace

bool AcquireSocketLibrary()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 0), &data) == 0;
}

void ReleaseSocketLibrary()
{
    WSACleanup();
}

SocketHandle OpenDatagramSocket()
{
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

int CloseSocketHandle(SocketHandle s)
{
    return closesocket(Native(s));
}

int LastSocketError()
{
    return WSAGetLastError();
}

bool MakeNonBlocking(SocketHandle s)
{
    u_long on = 1;
    return ioctlsocket(Native(s), FIONBIO, &on) == 0;
}

bool WaitReadable(SocketHandle s, int timeoutMs)
{
    WSAPOLLFD p{};
    p.fd = Native(s);
    p.events = POLLRDNORM;
    return WSAPoll(&p, 1, timeoutMs) > 0;
}

long ReceiveDatagram(SocketHandle s, uint8_t* buf, size_t size, uint32_t* fromAddr,
                     uint16_t* fromPort)
{
    // Winsock fails the receive of a longer datagram with WSAEMSGSIZE, which
    // still takes it off the queue. A socket of ours that may be read while
    // nothing waits is non-blocking; the simulator's is read once polled.
    sockaddr_in from{};
    int len = sizeof from;
    const int n = recvfrom(Native(s), reinterpret_cast<char*>(buf), static_cast<int>(size), 0,
                           reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0)
        return WSAGetLastError() == WSAEMSGSIZE ? static_cast<long>(size) + 1 : -1;
    if (fromAddr)
        *fromAddr = from.sin_addr.s_addr;
    if (fromPort)
        *fromPort = ntohs(from.sin_port);
    return n;
}

// Windows keeps no count of the datagrams it drops on a socket.
bool ReadSocketDrops(SocketHandle s, uint32_t* drops)
{
    (void)s;
    (void)drops;
    return false;
}

// Winsock lists addresses, so an interface with two gets two sends; it names
// no interface, so one is named by its address only.
void ReserveInterfaceListing(size_t entries)
{
    if (g_listed.size() < entries)
        g_listed.resize(entries);
}

int ListBroadcastInterfaces(SocketHandle s, std::vector<NetInterface>* out, int* error)
{
    out->clear();
    ReserveInterfaceListing(kListingRoom);
    DWORD bytes = 0;
    for (int attempt = 0;; ++attempt) {
        const DWORD room = static_cast<DWORD>(g_listed.size() * sizeof(INTERFACE_INFO));
        if (WSAIoctl(Native(s), SIO_GET_INTERFACE_LIST, nullptr, 0, g_listed.data(), room, &bytes,
                     nullptr, nullptr) == 0)
            break;
        *error = WSAGetLastError();
        if (*error != WSAEFAULT || attempt == kListingGrowths)
            return -1;
        g_listed.resize(g_listed.size() * 2);   // too small: grow and ask again
    }
    const size_t n = bytes / sizeof(INTERFACE_INFO);
    for (size_t i = 0; i < n; ++i) {
        const INTERFACE_INFO& info = g_listed[i];
        const u_long flags = info.iiFlags;
        if (!(flags & IFF_UP) || !(flags & IFF_BROADCAST) || (flags & IFF_LOOPBACK))
            continue;
        NetInterface itf{};
        itf.index = static_cast<int>(i) + 1;
        itf.addr = info.iiAddress.AddressIn.sin_addr.s_addr;
        out->push_back(itf);
    }
    return static_cast<int>(out->size());
}

// A socket bound to the interface's address sends the broadcast out of
// that interface.
bool SendOnInterface(SocketHandle s, const NetInterface& itf, const uint8_t* bytes, size_t count,
                     uint32_t addr, uint16_t port, int* error)
{
    (void)s;
    const SocketHandle own = OpenDatagramSocket();
    if (own == kNoSocket) {
        *error = WSAGetLastError();
        return false;
    }
    SetSocketOption(own, SocketOption::Broadcast);
    const bool sent = BindSocket(own, itf.addr, 0) && SendDatagram(own, bytes, count, addr, port);
    if (!sent)
        *error = WSAGetLastError();
    closesocket(Native(own));
    return sent;
}
