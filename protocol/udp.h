// UDP transport: one broadcast socket for requests, one bound socket for
// replies. Runs on the window thread only; received datagrams are copied
// whole into the RxRing. Platform socket headers stay inside the socketio
// files (socketio.h); the socket library (Winsock) is started by OpenUdp
// and stopped by CloseUdp.
#pragma once

#include <cstdint>

// A POSIX descriptor or a Winsock SOCKET, held in an integer wide enough for
// either, so that no platform header is needed to name it.
using SocketHandle = intptr_t;
constexpr SocketHandle kNoSocket = -1;   // also Winsock's INVALID_SOCKET

constexpr uint16_t kDevicePort = 22093;
constexpr unsigned kUdpReadEvent = 1;        // FD_READ
constexpr unsigned kUdpRecvBuffer = 2048;
constexpr int kUdpRecvBufferWanted = 4 * 1024 * 1024;

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
// It asks for a receive buffer of kUdpRecvBufferWanted bytes, as much of it
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

// Sends one frame as one datagram. To the limited broadcast address it goes
// out once on every IPv4 interface that is up, broadcast-capable and not
// loopback (listed afresh at each call), or on the one named interface; when
// none qualifies, or (with no interface named) they cannot be listed, one
// plain send lets the system choose. Any other address gets one plain send.
// Returns count when at least one send went out, -1 otherwise.
// Before sending, a receive socket that is not yet bound is tried again.
int SendFrame(const uint8_t* bytes, unsigned count);

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

// Drops, unread, every datagram already waiting on the receive socket (at
// most a few thousand, so a flood cannot hold the caller). A request calls it
// just before it is sent: nothing that arrived before then can be its answer.
// Returns how many were dropped.
int DiscardQueuedDatagrams();

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

// The receive buffer the system granted, as it reports it (Linux reports
// twice the bytes it holds for data); 0 without a receive socket.
int UdpRecvBufferBytes();

// Datagrams the system dropped on the receive socket since the last
// SendFrame, because they came faster than they were read (Linux; 0 where
// the system does not count them).
uint32_t UdpDropsSinceSend();

// Test hook: make listing the interfaces fail, as a failing system call would.
void SetInterfaceListingFailsForTest(bool fails);

// true when sends go to the limited broadcast address, interface by interface.
bool UdpSendsPerInterface();
