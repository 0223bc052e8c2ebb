#include "udp.h"

#include <cstring>

#include "rxring.h"

#ifdef _WIN32
#include <ws2tcpip.h>
const SocketHandle kNoSocket = INVALID_SOCKET;
namespace {
int CloseSocketHandle(SocketHandle s) { return closesocket(s); }
void StartSocketLibrary()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 0), &data);
}
void StopSocketLibrary() { WSACleanup(); }
}  // namespace
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
const SocketHandle kNoSocket = -1;
namespace {
int CloseSocketHandle(SocketHandle s) { return close(s); }
void StartSocketLibrary() {}
void StopSocketLibrary() {}
}  // namespace
#endif

namespace {

struct Transport {
    SocketHandle sendSocket = kNoSocket;
    SocketHandle recvSocket = kNoSocket;
    sockaddr_in sendAddr{};
    sockaddr_in recvAddr{};
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

// Directs the receive socket's read notifications to the window. On Windows
// that is WSAAsyncSelect; elsewhere the window's event loop watches the
// socket, which only has to be non-blocking so that a read never waits.
bool DirectNotifications(SocketHandle s, void* window)
{
#ifdef _WIN32
    return WSAAsyncSelect(s, static_cast<HWND>(window), WM_UDP_NOTIFY, FD_READ) == 0;
#else
    (void)window;
    const int flags = fcntl(s, F_GETFL, 0);
    return flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
#endif
}

}  // namespace

int OpenUdp(void* window, const UdpEndpoints& endpoints)
{
    RxRingReset();
    StartSocketLibrary();

    g_udp.sendSocket = socket(AF_INET, SOCK_DGRAM, 0);
    if (g_udp.sendSocket == kNoSocket)
        return -1;
    g_udp.sendAddr = MakeAddress(endpoints.sendAddress, endpoints.sendPort);
    const int on = 1;
    setsockopt(g_udp.sendSocket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
               sizeof on);

    g_udp.recvSocket = socket(AF_INET, SOCK_DGRAM, 0);
    if (g_udp.recvSocket != kNoSocket) {
        const bool notified = DirectNotifications(g_udp.recvSocket, window);
        g_udp.recvAddr = MakeAddress(endpoints.recvAddress, endpoints.recvPort);
        bind(g_udp.recvSocket, reinterpret_cast<const sockaddr*>(&g_udp.recvAddr),
             sizeof g_udp.recvAddr);
        if (notified)
            return 0;
    }

    CloseSocketHandle(g_udp.sendSocket);
    g_udp.sendSocket = kNoSocket;
    StopSocketLibrary();
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
    StopSocketLibrary();
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
    socklen_t len = sizeof a;
    if (getsockname(g_udp.recvSocket, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

int SendFrame(const uint8_t* bytes, unsigned count)
{
    if (g_udp.sendSocket == kNoSocket)
        return -1;
    return static_cast<int>(sendto(g_udp.sendSocket, reinterpret_cast<const char*>(bytes),
                                   static_cast<int>(count), 0,
                                   reinterpret_cast<const sockaddr*>(&g_udp.sendAddr),
                                   sizeof g_udp.sendAddr));
}

void OnSocketNotify(unsigned event)
{
    if ((event & 0xFFFF) != kUdpReadEvent || g_udp.recvSocket == kNoSocket)
        return;
    uint8_t buf[kUdpRecvBuffer];
#ifdef _WIN32
    // Winsock fails the receive with WSAEMSGSIZE for a longer datagram.
    const int n = recv(g_udp.recvSocket, reinterpret_cast<char*>(buf), sizeof buf, 0);
#else
    // MSG_TRUNC reports the datagram's true length, so a longer one is
    // recognised and dropped instead of being cut to 2048 bytes.
    const ssize_t n = recv(g_udp.recvSocket, buf, sizeof buf, MSG_TRUNC | MSG_DONTWAIT);
#endif
    if (n < 0 || static_cast<size_t>(n) > sizeof buf)
        return;
    RxRingWrite(buf, static_cast<unsigned>(n));
}
