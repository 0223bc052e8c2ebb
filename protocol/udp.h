// UDP transport, its inside (what a front end calls is in transport.h): one
// broadcast socket for requests, one bound socket for replies. Runs on the
// window thread only; received datagrams are copied
// whole into the RxRing. Platform socket headers stay inside the socketio
// files (socketio.h); the socket library (Winsock) is started by OpenUdp
// and stopped by CloseUdp.
#pragma once

#include <cstdint>

#include "transport.h"

constexpr unsigned kUdpRecvBuffer = 2048;
constexpr int kUdpRecvBufferWanted = 4 * 1024 * 1024;

// Sends one frame as one datagram. To the limited broadcast address it goes
// out once on every IPv4 interface that is up, broadcast-capable and not
// loopback (listed afresh at each call), or on the one named interface; when
// none qualifies, or (with no interface named) they cannot be listed, one
// plain send lets the system choose. Any other address gets one plain send.
// Returns count when at least one send went out, -1 otherwise.
// Before sending, a receive socket that is not yet bound is tried again.
int SendFrame(const uint8_t* bytes, unsigned count);

// Drops, unread, every datagram already waiting on the receive socket (at
// most a few thousand, so a flood cannot hold the caller). A request calls it
// just before it is sent: nothing that arrived before then can be its answer.
// Returns how many were dropped.
int DiscardQueuedDatagrams();

// The receive buffer the system granted, as it reports it (Linux reports
// twice the bytes it holds for data); 0 without a receive socket.
int UdpRecvBufferBytes();

// Test hook: make listing the interfaces fail, as a failing system call would.
void SetInterfaceListingFailsForTest(bool fails);
