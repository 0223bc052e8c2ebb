// The socket calls of socketio.h on Winsock. The transport and the
// simulator start the socket library for themselves (AcquireSocketLibrary);
// the window's application makes a start of its own (app/socketlibrary.cpp).
#include "socketio.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <mswsock.h>

#include <cstdio>
#include <cstring>


const int kSocketErrorNotSupported = WSAEOPNOTSUPP;

namespace {

SOCKET Native(SocketHandle s) { return static_cast<SOCKET>(s); }

std::vector<INTERFACE_INFO> g_listed;   // see ListBroadcastInterfaces

// WSARecvMsg is reached through the socket it serves; null when the system
// offers none (the sender's address is then all a datagram tells).
LPFN_WSARECVMSG RecvMsgOf(SOCKET s)
{
    GUID id = WSAID_WSARECVMSG;
    LPFN_WSARECVMSG fn = nullptr;
    DWORD bytes = 0;
    if (WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &fn, sizeof fn, &bytes,
                 nullptr, nullptr) != 0)
        return nullptr;
    return fn;
}

// The index of the interface holding this IPv4 address, 0 when none does.
// An interface is named by its address on Windows, so the two map both ways.
int32_t IndexOfAddress(uint32_t addr, const MIB_IPADDRTABLE* table)
{
    for (DWORD i = 0; table && i < table->dwNumEntries; ++i)
        if (table->table[i].dwAddr == addr)
            return static_cast<int32_t>(table->table[i].dwIndex);
    return 0;
}

// The system's table of IPv4 addresses with their interface indices, in
// room kept between calls; null when it cannot be read.
const MIB_IPADDRTABLE* AddressTable()
{
    static std::vector<unsigned char> room(4096);
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG size = static_cast<ULONG>(room.size());
        auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(room.data());
        const DWORD r = GetIpAddrTable(table, &size, FALSE);
        if (r == NO_ERROR)
            return table;
        if (r != ERROR_INSUFFICIENT_BUFFER)
            return nullptr;
        room.resize(size);
    }
    return nullptr;
}

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
                     uint16_t* fromPort, int32_t* ifIndex)
{
    // Winsock fails the receive of a longer datagram with WSAEMSGSIZE, which
    // still takes it off the queue. A socket of ours that may be read while
    // nothing waits is non-blocking; the simulator's is read once polled.
    // WSARecvMsg with IP_PKTINFO on the socket also names the interface the
    // datagram arrived on; where it is missing, plain recvfrom is used.
    sockaddr_in from{};
    int n = -1;
    if (ifIndex)
        *ifIndex = 0;
    static LPFN_WSARECVMSG recvMsg = RecvMsgOf(Native(s));
    if (ifIndex && recvMsg) {
        WSABUF data{static_cast<ULONG>(size), reinterpret_cast<char*>(buf)};
        char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
        WSAMSG msg{};
        msg.name = reinterpret_cast<sockaddr*>(&from);
        msg.namelen = sizeof from;
        msg.lpBuffers = &data;
        msg.dwBufferCount = 1;
        msg.Control.buf = control;
        msg.Control.len = sizeof control;
        DWORD got = 0;
        if (recvMsg(Native(s), &msg, &got, nullptr, nullptr) != 0)
            return WSAGetLastError() == WSAEMSGSIZE ? static_cast<long>(size) + 1 : -1;
        if (msg.dwFlags & MSG_TRUNC)
            return static_cast<long>(size) + 1;
        n = static_cast<int>(got);
        for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&msg); c; c = WSA_CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                IN_PKTINFO info;
                std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
                *ifIndex = static_cast<int32_t>(info.ipi_ifindex);
            }
        }
    } else {
        int len = sizeof from;
        n = recvfrom(Native(s), reinterpret_cast<char*>(buf), static_cast<int>(size), 0,
                     reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return WSAGetLastError() == WSAEMSGSIZE ? static_cast<long>(size) + 1 : -1;
    }
    if (fromAddr)
        *fromAddr = from.sin_addr.s_addr;
    if (fromPort)
        *fromPort = ntohs(from.sin_port);
    return n;
}

bool InterfaceNameOf(int32_t index, char* out, size_t size)
{
    if (size == 0)
        return false;
    out[0] = '\0';
    const MIB_IPADDRTABLE* table = AddressTable();
    for (DWORD i = 0; index > 0 && table && i < table->dwNumEntries; ++i) {
        if (static_cast<int32_t>(table->table[i].dwIndex) == index) {
            Ipv4Text(table->table[i].dwAddr, out, size);
            return out[0] != '\0';
        }
    }
    return false;
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
    const MIB_IPADDRTABLE* addresses = AddressTable();
    for (size_t i = 0; i < n; ++i) {
        const INTERFACE_INFO& info = g_listed[i];
        // The rule of the POSIX walk, a running link: Windows' IFF_UP in this
        // list is the running state (an adapter without its cable is not
        // up here), so it needs no second flag as IFF_RUNNING is on POSIX.
        const u_long flags = info.iiFlags;
        if (!(flags & IFF_UP) || !(flags & IFF_BROADCAST) || (flags & IFF_LOOPBACK))
            continue;
        NetInterface itf{};
        // One send per address: no two share an index here.
        itf.index = static_cast<int>(i) + 1;
        itf.addr = info.iiAddress.AddressIn.sin_addr.s_addr;
        // The system's index, which received datagrams name too.
        itf.arrival = IndexOfAddress(itf.addr, addresses);
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
