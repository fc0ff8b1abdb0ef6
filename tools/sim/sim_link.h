#pragma once

// The unit side's Ethernet access: a raw packet socket bound to one interface. Deliberately not
// libpcap, so the lab exercises the station's capture code against an independent path.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sim_wire.h"

namespace vxsim {

class PacketLink {
  public:
    // Binds to the interface, all EtherTypes, promiscuous; our own sends are not received back.
    static std::unique_ptr<PacketLink> Open(const std::string& interfaceName, std::string& error);
    ~PacketLink();
    PacketLink(const PacketLink&) = delete;
    PacketLink& operator=(const PacketLink&) = delete;

    bool Send(std::span<const std::uint8_t> frame);
    // Sends as many of the frames as the socket takes in one call; returns how many left.
    std::size_t SendBatch(const std::vector<Bytes>& frames);
    // Waits up to timeoutMs; returns the frame's length (it may exceed the buffer, the copy is
    // cut), 0 on time-out, -1 on error.
    long Receive(std::span<std::uint8_t> buffer, int timeoutMs);

  private:
    explicit PacketLink(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace vxsim
