#pragma once

// The unit side's Ethernet access through libpcap, so the lab runs the real capture library on
// both ends. This is the simulator's own code: it shares nothing with the station's backend.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sim_wire.h"

struct pcap;

namespace vxsim {

class PacketLink {
  public:
    // Opens the interface promiscuous, in immediate mode, capturing only what arrives (not
    // what this process sends).
    static std::unique_ptr<PacketLink> Open(const std::string& interfaceName, std::string& error);
    ~PacketLink();
    PacketLink(const PacketLink&) = delete;
    PacketLink& operator=(const PacketLink&) = delete;

    bool Send(std::span<const std::uint8_t> frame);
    // Sends the frames in order until one is refused; returns how many left.
    std::size_t SendBatch(const std::vector<Bytes>& frames);
    // Waits up to timeoutMs for a frame; returns its captured length (the copy into buffer is
    // cut to the buffer), 0 on time-out, -1 on error (the text in LastError).
    long Receive(std::span<std::uint8_t> buffer, int timeoutMs);
    std::string LastError() const;

  private:
    PacketLink(pcap* handle, int selectableFd) : handle_(handle), fd_(selectableFd) {}
    pcap* handle_;
    int fd_;
};

}  // namespace vxsim
