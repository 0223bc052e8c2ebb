// The UDP transport, the same on every platform: the socket calls that
// differ are in socketio_posix.cpp and socketio_win32.cpp (socketio.h).
#include "udp.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform.h"
#include "rxring.h"
#include "socketio.h"

namespace {

constexpr size_t kNameSize = 64;
constexpr int kMostDatagramsPerNotify = 4096;

struct Transport {
    SocketHandle sendSocket = kNoSocket;
    SocketHandle recvSocket = kNoSocket;
    bool recvBound = false;
    uint32_t sendAddr = 0;
    uint16_t sendPort = 0;
    uint32_t recvAddr = 0;
    uint16_t recvPort = 0;          // as asked (0: any)
    bool perInterface = false;      // send address is 255.255.255.255
    char onlyInterface[kNameSize] = {};
    int onlyIndex = 0;              // its index once listed; replies from elsewhere are dropped
    char openFailure[192] = {};     // why there is no receive socket, until one is bound
    char sendFailure[320] = {};     // from the last SendFrame
    char failureText[520] = {};     // what UdpFailureText shows
    char notice[64] = {};           // UdpTakeNotice
    int lastSendCount = 0;
    int recvBufferBytes = 0;
    uint32_t dropsAtSend = 0;
    bool listingFails = false;      // test hook
    bool libraryStarted = false;    // ReleaseSocketLibrary owed by CloseUdp
    std::vector<NetInterface> listed;       // kept between requests
    std::vector<NetInterface> interfaces;   // the ones the last send went out on
};

Transport g_udp;

// "Cannot <what> UDP port <port>: <the system's text for error>."
void Describe(char* out, size_t size, const char* what, uint16_t port, int error)
{
    char cause[128];
    SocketErrorText(error, cause, sizeof cause);
    std::snprintf(out, size, "Cannot %s UDP port %u: %s.", what, static_cast<unsigned>(port), cause);
}

void ComposeFailure()
{
    const char* open = g_udp.openFailure;
    const char* send = g_udp.sendFailure;
    std::snprintf(g_udp.failureText, sizeof g_udp.failureText, "%s%s%s", open,
                  open[0] && send[0] ? " " : "", send);
}

// Whether the interface asked for is this one: its address text, its name,
// or an address label of it ("eth0:1" belongs to "eth0").
bool NameMatches(const char* wanted, const NetInterface& itf)
{
    char text[16] = {};
    Ipv4Text(itf.addr, text, sizeof text);
    if (std::strcmp(wanted, text) == 0)
        return true;
    if (itf.name[0] == '\0')
        return false;
    const size_t n = std::strlen(wanted);
    return std::strncmp(wanted, itf.name, n) == 0 && (itf.name[n] == '\0' || itf.name[n] == ':');
}

// Up, broadcast-capable, non-loopback IPv4 interfaces (the one asked for,
// if any) into g_udp.interfaces, one per interface however many addresses
// it has. The number found, or -1 (with *error) when they cannot be listed.
int ListInterfaces(int* error)
{
    g_udp.interfaces.clear();
    if (g_udp.listingFails) {
        *error = kSocketErrorNotSupported;
        return -1;
    }
    if (ListBroadcastInterfaces(g_udp.sendSocket, &g_udp.listed, error) < 0)
        return -1;
    for (const NetInterface& itf : g_udp.listed) {
        if (g_udp.onlyInterface[0] && !NameMatches(g_udp.onlyInterface, itf))
            continue;
        bool known = false;
        for (const NetInterface& k : g_udp.interfaces)
            known = known || k.index == itf.index;
        if (!known)
            g_udp.interfaces.push_back(itf);
    }
    if (g_udp.onlyInterface[0] && !g_udp.interfaces.empty())
        g_udp.onlyIndex = g_udp.interfaces.front().arrival;
    return static_cast<int>(g_udp.interfaces.size());
}

bool PlainSend(const uint8_t* bytes, unsigned count, int* error)
{
    if (SendDatagram(g_udp.sendSocket, bytes, count, g_udp.sendAddr, g_udp.sendPort))
        return true;
    *error = LastSocketError();
    return false;
}

// Closes the receive socket: the close's result, -1 when there was none.
int DropReceiveSocket()
{
    int result = -1;
    if (g_udp.recvSocket != kNoSocket)
        result = CloseSocketHandle(g_udp.recvSocket);
    g_udp.recvSocket = kNoSocket;
    g_udp.recvBound = false;
    g_udp.recvBufferBytes = 0;
    return result;
}

// Makes the receive socket if there is none and binds it if it is not
// bound. true when it is bound; else openFailure says why.
bool ReadyReceiveSocket()
{
    if (g_udp.recvBound)
        return true;
    if (g_udp.recvSocket == kNoSocket) {
        g_udp.recvSocket = OpenDatagramSocket();
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
        SetSocketOption(g_udp.recvSocket, SocketOption::ReuseAddress);
        // Each datagram says which interface it arrived on.
        SetSocketOption(g_udp.recvSocket, SocketOption::PacketInfo);
        // A burst of replies waits in the socket.
        g_udp.recvBufferBytes = EnlargeReceiveBuffer(g_udp.recvSocket, kUdpRecvBufferWanted);
    }
    if (!BindSocket(g_udp.recvSocket, g_udp.recvAddr, g_udp.recvPort)) {
        Describe(g_udp.openFailure, sizeof g_udp.openFailure, "receive on", g_udp.recvPort,
                 LastSocketError());
        return false;
    }
    g_udp.recvBound = true;
    g_udp.openFailure[0] = '\0';
    return true;
}

}  // namespace

int OpenUdp(const UdpEndpoints& endpoints)
{
    RxRingReset();
    g_udp.openFailure[0] = '\0';
    g_udp.sendFailure[0] = '\0';
    g_udp.notice[0] = '\0';
    g_udp.lastSendCount = 0;
    g_udp.dropsAtSend = 0;

    g_udp.sendAddr = Ipv4OfText(endpoints.sendAddress);
    g_udp.sendPort = endpoints.sendPort;
    g_udp.perInterface = g_udp.sendAddr == kIpv4Broadcast;
    if (g_udp.perInterface) {
        // Room for a usual machine's interfaces now, so that a send allocates
        // only on a machine with more.
        ReserveInterfaceListing(kListingRoom);
        g_udp.listed.reserve(kListingRoom);
        g_udp.interfaces.reserve(kListingRoom);
    }
    g_udp.onlyIndex = 0;
    std::snprintf(g_udp.onlyInterface, sizeof g_udp.onlyInterface, "%s",
                  endpoints.interfaceName ? endpoints.interfaceName : "");
    g_udp.recvAddr = Ipv4OfText(endpoints.recvAddress);
    g_udp.recvPort = endpoints.recvPort;

    // Not examined: without the library the socket below fails, and says why.
    if (!g_udp.libraryStarted)
        g_udp.libraryStarted = AcquireSocketLibrary();
    g_udp.sendSocket = OpenDatagramSocket();
    if (g_udp.sendSocket == kNoSocket) {
        Describe(g_udp.openFailure, sizeof g_udp.openFailure, "send to", endpoints.sendPort,
                 LastSocketError());
        ComposeFailure();
        return -1;
    }
    SetSocketOption(g_udp.sendSocket, SocketOption::Broadcast);

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
    const int result = DropReceiveSocket();
    if (g_udp.libraryStarted)
        ReleaseSocketLibrary();
    g_udp.libraryStarted = false;
    return result;
}

SocketHandle GetRecvSocket()
{
    return g_udp.recvSocket;
}

bool WaitForDatagram(int timeoutMs)
{
    if (g_udp.recvSocket == kNoSocket) {
        SleepMs(timeoutMs);
        return false;
    }
    return WaitReadable(g_udp.recvSocket, timeoutMs);
}

uint16_t GetRecvPort()
{
    if (g_udp.recvSocket == kNoSocket || !g_udp.recvBound)
        return 0;
    return BoundPort(g_udp.recvSocket);
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
    g_udp.dropsAtSend = ReadSocketDrops(g_udp.recvSocket, &drops) ? drops : 0;

    int error = 0;
    int sent = 0;
    bool plain = !g_udp.perInterface;
    if (g_udp.perInterface) {
        const int found = ListInterfaces(&error);
        for (const NetInterface& itf : g_udp.interfaces)
            sent += SendOnInterface(g_udp.sendSocket, itf, bytes, count, g_udp.sendAddr,
                                    g_udp.sendPort, &error)
                        ? 1
                        : 0;
        if (found <= 0 && g_udp.onlyInterface[0]) {
            // Never a plain send in place of the one interface asked for.
            const unsigned port = g_udp.sendPort;
            if (found == 0) {
                std::snprintf(g_udp.sendFailure, sizeof g_udp.sendFailure,
                              "Cannot send to UDP port %u: no broadcast interface %s is up.", port,
                              g_udp.onlyInterface);
            } else {
                char cause[128];
                SocketErrorText(error, cause, sizeof cause);
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
        Describe(g_udp.sendFailure, sizeof g_udp.sendFailure, "send to", g_udp.sendPort, error);
    ComposeFailure();
    return sent > 0 ? static_cast<int>(count) : -1;
}

int OnSocketNotify(unsigned event)
{
    if ((event & 0xFFFF) != kUdpReadEvent || g_udp.recvSocket == kNoSocket)
        return 0;
    int taken = 0;
    static_assert(kUdpRecvBuffer <= kRxMaxDatagram, "every datagram kept fits the ring");
    uint8_t buf[kUdpRecvBuffer];
    while (taken < kMostDatagramsPerNotify) {
        // The socket's buffer is far larger than the ring: what the ring has
        // no room for waits there while the worker makes room.
        if (RxRingHasConsumer() && !RxRingHasRoomFor(sizeof buf))
            return kUdpRingFull;
        RxOrigin from;
        const long n = ReceiveDatagram(g_udp.recvSocket, buf, sizeof buf, &from.addr, &from.port,
                                       &from.ifIndex);
        if (n < 0)
            break;   // nothing more waiting (or a failure: no busy retry)
        ++taken;
        if (static_cast<size_t>(n) > sizeof buf)
            continue;   // longer than 2048 bytes: dropped whole
        // Replies that arrived on another interface than the one asked for
        // are not this program's to take (another program's Find on every
        // interface is answered there too).
        if (g_udp.onlyIndex != 0 && from.ifIndex != 0 && from.ifIndex != g_udp.onlyIndex)
            continue;
        RxRingWrite(buf, static_cast<unsigned>(n), &from);
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
    for (; dropped < kMostDropped; ++dropped)
        if (ReceiveDatagram(g_udp.recvSocket, buf, sizeof buf) < 0)
            break;
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
    if (!ReadSocketDrops(g_udp.recvSocket, &drops))
        return 0;
    return drops - g_udp.dropsAtSend;
}

void SetInterfaceListingFailsForTest(bool fails)
{
    g_udp.listingFails = fails;
}
