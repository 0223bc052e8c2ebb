// The socket calls of the UDP transport (udp.cpp) and pathlume-devsim, one
// interface over POSIX sockets and Winsock. socketio.cpp holds the calls
// that Winsock spells as POSIX does; one file per platform the others
// (socketio_posix.cpp, socketio_win32.cpp), and the build picks one.
// Not part of the protocol's interface: the window and pathlume-cli use
// udp.h. Like every project header it names no platform header: addresses
// are IPv4 in network byte order, ports in host order, errors the system's
// codes (errno, WSAGetLastError).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "udp.h"   // SocketHandle, kNoSocket

constexpr uint32_t kIpv4Broadcast = 0xFFFFFFFFu;   // 255.255.255.255, either byte order

// The system's code for an operation the system does not support.
extern const int kSocketErrorNotSupported;

// Starts the platform's socket library for the caller (Winsock, asking for
// version 2.0); true when it started, and then one ReleaseSocketLibrary is
// owed. Each user starts and stops it for itself: the transport, the
// simulator, a test's own sockets. Where sockets need no start, true.
bool AcquireSocketLibrary();
void ReleaseSocketLibrary();

// An IPv4 datagram socket, or kNoSocket (LastSocketError says why).
SocketHandle OpenDatagramSocket();
int CloseSocketHandle(SocketHandle s);
// The error of the last socket call that failed on this thread.
int LastSocketError();
// The system's text for a socket error, without its closing full stop.
void SocketErrorText(int error, char* out, size_t size);

bool MakeNonBlocking(SocketHandle s);
// ReuseAddress shares the port with other sockets that ask for it too;
// ExclusiveAddress keeps every other socket off the port (Windows would let
// a socket that asks for reuse bind a port held without it; elsewhere a
// port is exclusive unless shared, and this does nothing).
// PacketInfo makes every received datagram say the interface it arrived on.
enum class SocketOption { Broadcast, ReuseAddress, ExclusiveAddress, PacketInfo };
void SetSocketOption(SocketHandle s, SocketOption option);
// Asks for a receive buffer of the given bytes: beyond the system's usual
// ceiling where the program may (Linux, with the right to administer the
// network), else as much as the ceiling allows. Returns the size the system
// reports, 0 when it reports none.
int EnlargeReceiveBuffer(SocketHandle s, int bytes);
bool BindSocket(SocketHandle s, uint32_t addr, uint16_t port);
// The port the socket is bound to; 0 when unknown.
uint16_t BoundPort(SocketHandle s);

// Waits up to timeoutMs for a datagram; true when one is waiting.
bool WaitReadable(SocketHandle s, int timeoutMs);
// One datagram to addr:port; false (LastSocketError says why) when it did not go.
bool SendDatagram(SocketHandle s, const uint8_t* bytes, size_t count, uint32_t addr, uint16_t port);
// Takes the next waiting datagram without waiting. Its length; more than
// size when it was longer than the buffer (it is then dropped whole and buf
// holds nothing of use); -1 when none is waiting or the receive failed.
// The sender, when asked for, in *fromAddr and *fromPort; the index of the
// interface it arrived on in *ifIndex (0 unless the socket has PacketInfo
// and the system said).
long ReceiveDatagram(SocketHandle s, uint8_t* buf, size_t size, uint32_t* fromAddr = nullptr,
                     uint16_t* fromPort = nullptr, int32_t* ifIndex = nullptr);
// The name of the interface with this index (its IPv4 address on Windows);
// false, with out empty, when there is none.
bool InterfaceNameOf(int32_t index, char* out, size_t size);
// The datagrams the system has dropped on a receive socket so far; false
// where the system does not count them.
bool ReadSocketDrops(SocketHandle s, uint32_t* drops);

// An address text as the socket library reads one (a text that is no
// address reads as 255.255.255.255).
uint32_t Ipv4OfText(const char* text);
// A dotted address text only; false for anything else.
bool ParseIpv4(const char* text, uint32_t* addr);
// The dotted text of an address, in at least 16 bytes.
void Ipv4Text(uint32_t addr, char* out, size_t size);

// One address of an interface that can send a broadcast.
struct NetInterface {
    int index;       // the interface's; its addresses share it where the system says so
    int arrival;     // the system's index of the interface, as received datagrams name it (0: unknown)
    uint32_t addr;
    char name[64];   // "eth0", "eth0:1"; empty where the system gives none
};

// The addresses of the IPv4 interfaces that are up, broadcast-capable and
// not loopback, listed afresh into *out. s is any datagram socket. The
// number listed, or -1 with the system's error in *error. The system's
// listing goes into a buffer kept between calls, doubled until the answer
// fits (at most kListingGrowths times, on a machine whose addresses keep
// multiplying while they are listed).
constexpr int kListingGrowths = 16;
int ListBroadcastInterfaces(SocketHandle s, std::vector<NetInterface>* out, int* error);
// Makes that buffer room for at least this many entries now, so that a
// listing of as many never allocates.
constexpr size_t kListingRoom = 64;
void ReserveInterfaceListing(size_t entries);
// Sends one datagram out of one interface, whatever the routing table says;
// s is the sending socket. false with the system's error in *error.
bool SendOnInterface(SocketHandle s, const NetInterface& itf, const uint8_t* bytes, size_t count,
                     uint32_t addr, uint16_t port, int* error);
