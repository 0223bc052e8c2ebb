// The socket calls of socketio.h that Winsock spells as POSIX does. The
// ones that differ are in socketio_posix.cpp and socketio_win32.cpp.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using NativeSocket = SOCKET;
using AddrLen = int;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
using NativeSocket = int;
using AddrLen = socklen_t;
#endif

#include "socketio.h"

#include "platform.h"

namespace {

NativeSocket Native(SocketHandle s) { return static_cast<NativeSocket>(s); }

sockaddr_in Endpoint(uint32_t addr, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = addr;
    return a;
}

}  // namespace

void SetSocketOption(SocketHandle s, SocketOption option)
{
    const int on = 1;
    int name = SO_BROADCAST;
    switch (option) {
    case SocketOption::Broadcast: name = SO_BROADCAST; break;
    case SocketOption::ReuseAddress: name = SO_REUSEADDR; break;
    case SocketOption::PacketInfo:
    {
        // IPPROTO_IP level, unlike the others.
        setsockopt(Native(s), IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof on);
        return;
    }
    case SocketOption::ExclusiveAddress:
#ifdef SO_EXCLUSIVEADDRUSE
        name = SO_EXCLUSIVEADDRUSE;
        break;
#else
        return;   // a port is not shared unless asked
#endif
    }
    setsockopt(Native(s), SOL_SOCKET, name, reinterpret_cast<const char*>(&on), sizeof on);
}

int EnlargeReceiveBuffer(SocketHandle s, int bytes)
{
    const char* want = reinterpret_cast<const char*>(&bytes);
#ifdef SO_RCVBUFFORCE
    if (setsockopt(Native(s), SOL_SOCKET, SO_RCVBUFFORCE, want, sizeof bytes) != 0)
#endif
        setsockopt(Native(s), SOL_SOCKET, SO_RCVBUF, want, sizeof bytes);
    int got = 0;
    AddrLen len = sizeof got;
    if (getsockopt(Native(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&got), &len) != 0)
        return 0;
    return got;
}

bool BindSocket(SocketHandle s, uint32_t addr, uint16_t port)
{
    const sockaddr_in a = Endpoint(addr, port);
    return bind(Native(s), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

uint16_t BoundPort(SocketHandle s)
{
    sockaddr_in a{};
    AddrLen len = sizeof a;
    if (s == kNoSocket || getsockname(Native(s), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

void SocketErrorText(int error, char* out, size_t size)
{
    SystemErrorText(error, out, size);
}

bool SendDatagram(SocketHandle s, const uint8_t* bytes, size_t count, uint32_t addr, uint16_t port)
{
    const sockaddr_in to = Endpoint(addr, port);
    return sendto(Native(s), reinterpret_cast<const char*>(bytes), static_cast<int>(count), 0,
                  reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0;
}

uint32_t Ipv4OfText(const char* text)
{
    return inet_addr(text);
}

bool ParseIpv4(const char* text, uint32_t* addr)
{
    in_addr a{};
    if (inet_pton(AF_INET, text, &a) != 1)
        return false;
    *addr = a.s_addr;
    return true;
}

void Ipv4Text(uint32_t addr, char* out, size_t size)
{
    in_addr a{};
    a.s_addr = addr;
    if (!inet_ntop(AF_INET, &a, out, static_cast<AddrLen>(size)) && size > 0)
        out[0] = '\0';
}
