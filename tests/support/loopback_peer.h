// A UDP socket on 127.0.0.1 with an ephemeral port, playing the other side
// of a test: a device towards the transport, or the program towards the
// simulator. It holds its port without sharing it, on Windows too.
#pragma once

#include <cstdint>
#include <vector>

#include "socketio.h"

namespace testrig {

class LoopbackPeer {
public:
    LoopbackPeer()
    {
        started_ = AcquireSocketLibrary();
        ParseIpv4("127.0.0.1", &loopback_);
        s_ = OpenDatagramSocket();
        SetSocketOption(s_, SocketOption::ExclusiveAddress);
        BindSocket(s_, loopback_, 0);
        port_ = BoundPort(s_);
    }
    ~LoopbackPeer()
    {
        if (s_ != kNoSocket)
            CloseSocketHandle(s_);
        if (started_)
            ReleaseSocketLibrary();
    }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    uint16_t port() const { return port_; }

    // Sends one datagram to 127.0.0.1:port; returns the bytes sent, -1 when
    // it did not go.
    long SendTo(uint16_t port, const uint8_t* bytes, size_t n)
    {
        return SendDatagram(s_, bytes, n, loopback_, port) ? static_cast<long>(n) : -1;
    }
    long SendTo(uint16_t port, const std::vector<uint8_t>& bytes)
    {
        return SendTo(port, bytes.data(), bytes.size());
    }

    // One datagram, or an empty vector when none comes within timeoutMs.
    std::vector<uint8_t> Receive(int timeoutMs)
    {
        if (!WaitReadable(s_, timeoutMs))
            return {};
        std::vector<uint8_t> buf(65536);
        const long n = ReceiveDatagram(s_, buf.data(), buf.size());
        buf.resize(n > 0 && static_cast<size_t>(n) <= buf.size() ? static_cast<size_t>(n) : 0);
        return buf;
    }

    // Every datagram until none has come for quietMs (at most 64).
    std::vector<std::vector<uint8_t>> ReceiveAll(int quietMs)
    {
        std::vector<std::vector<uint8_t>> out;
        for (int i = 0; i < 64; ++i) {
            std::vector<uint8_t> d = Receive(quietMs);
            if (d.empty())
                break;
            out.push_back(std::move(d));
        }
        return out;
    }

private:
    SocketHandle s_ = kNoSocket;
    uint32_t loopback_ = 0;
    uint16_t port_ = 0;
    bool started_ = false;
};

}  // namespace testrig
