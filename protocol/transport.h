// The UDP transport as a front end drives it: one broadcast socket for
// requests, one bound socket for replies, opened and closed by the front
// end, whose event loop (or wait) hands readable datagrams to the ring.
// Runs on the front end's thread only. Sending a frame and the rest of the
// transport's inside are in udp.h.
#pragma once

#include <cstdint>

// A POSIX descriptor or a Winsock SOCKET, held in an integer wide enough for
// either, so that no platform header is needed to name it.
using SocketHandle = intptr_t;
constexpr SocketHandle kNoSocket = -1;   // also Winsock's INVALID_SOCKET

constexpr uint16_t kDevicePort = 22093;
constexpr unsigned kUdpReadEvent = 1;        // FD_READ

// Where requests go and where replies are received. The program uses the
// defaults; tests put loopback addresses and ephemeral ports here.
struct UdpEndpoints {
    const char* sendAddress = "255.255.255.255";
    uint16_t sendPort = kDevicePort;
    const char* recvAddress = "0.0.0.0";
    uint16_t recvPort = kDevicePort;
    // With the limited broadcast address only: the one interface to send on,
    // by name ("eth0") or by its IPv4 address ("192.168.1.5", the only form
    // on Windows). nullptr sends on every interface.
    const char* interfaceName = nullptr;
};

// Opens both sockets. The receive socket is non-blocking; the caller's event
// loop watches GetRecvSocket() and calls OnSocketNotify when it is readable.
//
// The receive socket shares its port (address reuse), so several programs
// (windows, pathlume-cli runs) all hear the devices' broadcast replies; a
// program that holds the port without sharing it still keeps it from us.
// It asks for a receive buffer of 4 MiB (kUdpRecvBufferWanted), as much of it
// as the system allows, so that a burst of replies waits there.
//
// 0 ready, -1 no send socket. When the receive socket cannot be made or
// bound, requests still go out, UdpFailureText says why, and every later
// request (SendFrame) tries again until it works.
int OpenUdp(const UdpEndpoints& endpoints = UdpEndpoints{});
int CloseUdp();
SocketHandle GetRecvSocket();

// For a caller without an event loop that watches GetRecvSocket() (pathlume-cli,
// tests): waits up to timeoutMs for a datagram on the receive socket; true
// when one is waiting. Without a receive socket it sleeps timeoutMs.
bool WaitForDatagram(int timeoutMs);

// The port the receive socket is bound to (useful with an ephemeral port).
uint16_t GetRecvPort();

// When event is the read event, receives every datagram waiting on the
// receive socket into the ring (at most a few thousand per call), each as
// one datagram with its sender and arrival interface. A datagram longer
// than 2048 bytes is dropped whole; with an interface named in the
// endpoints, so is one that arrived on another interface. While a consumer takes
// bytes out of the ring (RxRingHasConsumer), datagrams that would not fit
// stay in the socket: the call then returns kUdpRingFull, and the caller
// calls again once the consumer has had a moment. Otherwise it returns
// the number of datagrams received.
constexpr int kUdpRingFull = -1;
int OnSocketNotify(unsigned event);

// Why the transport cannot work, as one sentence naming the cause and the
// port, e.g. "Cannot receive on UDP port 22093: Address already in use.";
// "" when nothing is known to be wrong. A failed open is told until the next
// open; a send that went out nowhere until the next send that goes out.
const char* UdpFailureText();

// Interfaces the last SendFrame went out on (0 = none; 1 for a plain send).
int UdpLastSendCount();

// "Receiving on UDP port N." once, after a later request bound the receive
// socket that the open could not; "" otherwise, and after it was taken.
const char* UdpTakeNotice();

// Datagrams the system dropped on the receive socket since the last
// SendFrame, because they came faster than they were read (Linux; 0 where
// the system does not count them).
uint32_t UdpDropsSinceSend();

// true when sends go to the limited broadcast address, interface by interface.
bool UdpSendsPerInterface();
