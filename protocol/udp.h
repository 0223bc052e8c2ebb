// UDP transport: one unbound broadcast socket for requests, one bound socket
// for replies. Runs on the window thread only; received datagrams are copied
// whole into the RxRing.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
using SocketHandle = SOCKET;
#else
using SocketHandle = int;
#endif

constexpr uint16_t kDevicePort = 22093;
constexpr unsigned WM_UDP_NOTIFY = 1025;     // WM_USER + 1
constexpr unsigned kUdpReadEvent = 1;        // FD_READ
constexpr unsigned kUdpRecvBuffer = 2048;
extern const SocketHandle kNoSocket;

// Where requests go and where replies are received. The program uses the
// defaults; tests put loopback addresses and ephemeral ports here.
struct UdpEndpoints {
    const char* sendAddress = "255.255.255.255";
    uint16_t sendPort = kDevicePort;
    const char* recvAddress = "0.0.0.0";
    uint16_t recvPort = kDevicePort;
};

// Opens both sockets. window is the notification target (a HWND on Windows;
// elsewhere the caller watches GetRecvSocket() in its event loop and calls
// OnSocketNotify). 0 ready, -1 failed.
int OpenUdp(void* window, const UdpEndpoints& endpoints = UdpEndpoints{});
int CloseUdp();
SocketHandle GetRecvSocket();

// The port the receive socket is bound to (useful with an ephemeral port).
uint16_t GetRecvPort();

int SendFrame(const uint8_t* bytes, unsigned count);

// Receives one waiting datagram into the ring when event is the read event.
// A datagram longer than 2048 bytes is dropped whole.
void OnSocketNotify(unsigned event);
