// A UDP socket on 127.0.0.1 with an ephemeral port, playing the other side
// of a test: a device towards the transport, or the program towards the
// simulator.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

namespace testrig {

class LoopbackPeer {
public:
    LoopbackPeer()
    {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~LoopbackPeer() { close(fd_); }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    uint16_t port() const { return port_; }

    // Sends one datagram to 127.0.0.1:port; returns the bytes sent.
    long SendTo(uint16_t port, const uint8_t* bytes, size_t n)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return static_cast<long>(
            sendto(fd_, bytes, n, 0, reinterpret_cast<sockaddr*>(&to), sizeof to));
    }
    long SendTo(uint16_t port, const std::vector<uint8_t>& bytes)
    {
        return SendTo(port, bytes.data(), bytes.size());
    }

    // One datagram, or an empty vector when none comes within timeoutMs.
    std::vector<uint8_t> Receive(int timeoutMs)
    {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return {};
        std::vector<uint8_t> buf(4096);
        const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
        buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
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
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace testrig
