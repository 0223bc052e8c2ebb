// Test rig: the program's transport and an in-process device simulator, both
// on loopback with ephemeral ports. Nothing leaves this machine.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devsim.h"
#include "udp.h"

namespace testrig {

// Options for a simulator that listens on 127.0.0.1 and answers the sender.
inline devsim::Options LoopbackSimOptions()
{
    devsim::Options o;
    o.listenAddress = "127.0.0.1";
    o.listenPort = 0;
    o.replyToSender = true;
    return o;
}

// A running simulator whose replies reach the transport's receive port.
class SimRig {
public:
    explicit SimRig(std::vector<devsim::Device> devices,
                    devsim::Options options = LoopbackSimOptions())
        : sim_(std::make_unique<devsim::Simulator>(options, std::move(devices)))
    {
        sim_->log = [this](const std::string& line) {
            std::lock_guard<std::mutex> g(linesMutex_);
            lines_.push_back(line);
        };
        ok_ = sim_->Open() == 0;
    }
    ~SimRig() { sim_->Stop(); }

    bool ok() const { return ok_; }
    uint16_t port() const { return sim_->BoundPort(); }
    devsim::Simulator& sim() { return *sim_; }

    // Endpoints for the program: requests to the simulator, replies on an
    // ephemeral loopback port.
    UdpEndpoints Endpoints() const
    {
        UdpEndpoints ep;
        ep.sendAddress = "127.0.0.1";
        ep.sendPort = port();
        ep.recvAddress = "127.0.0.1";
        ep.recvPort = 0;
        return ep;
    }

    // Starts answering, once the transport is open and its port known.
    void StartReplyingTo(uint16_t replyPort)
    {
        sim_->SetReplyPort(replyPort);
        sim_->Start();
    }

    std::vector<std::string> lines() const
    {
        std::lock_guard<std::mutex> g(linesMutex_);
        return lines_;
    }

private:
    std::unique_ptr<devsim::Simulator> sim_;
    mutable std::mutex linesMutex_;
    std::vector<std::string> lines_;   // written on the simulator's thread
    bool ok_ = false;
};

// Plays the window thread's part: delivers waiting datagrams into the ring
// until pred() holds or the time is up. Returns pred().
inline bool PumpUntil(const std::function<bool()>& pred, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (pred())
            return true;
        if (WaitForDatagram(2))
            OnSocketNotify(kUdpReadEvent);
    }
    return pred();
}

}  // namespace testrig
