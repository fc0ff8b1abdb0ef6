#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The capture library as the program needs it: list, open, send, loop, break, close.
// The real implementation wraps libpcap; tests use an in-memory segment.

struct AdapterAddress {
    // AF_INET entries carry their IPv4 address; other families (link layer, IPv6) carry none.
    bool isIpv4 = false;
    std::array<std::uint8_t, 4> ipv4{};
    // The leading one bits of the netmask listed with it; 0 when the library gave none.
    std::uint8_t prefixLength = 0;
    bool operator==(const AdapterAddress&) const = default;
};

// The prefix length of a netmask: its leading one bits.
std::uint8_t NetmaskPrefixLength(const std::array<std::uint8_t, 4>& netmask);

struct AdapterInfo {
    std::string name;  // "rpcap://" + interface name
    std::optional<std::string> description;
    std::vector<AdapterAddress> addresses;  // in the library's order
    unsigned flags = 0;
};

using FrameCallback = std::function<void(const std::uint8_t* frame, std::size_t capturedLength)>;

// Frames an open adapter lost since its open, as the capture library counts them (pcap_stats):
// for want of room in the capture buffer, and by the interface or its driver. The library's
// counters are 32 bits wide; take differences modulo 2^32 (DroppedBetween).
struct CaptureDrops {
    std::uint32_t buffer = 0;
    std::uint32_t driver = 0;
    bool operator==(const CaptureDrops&) const = default;
};

// Frames lost between two readings of one handle's counters.
inline std::uint32_t DroppedBetween(const CaptureDrops& before, const CaptureDrops& after) {
    return static_cast<std::uint32_t>(after.buffer - before.buffer) +
           static_cast<std::uint32_t>(after.driver - before.driver);
}

// One open adapter. Destruction closes it. Send may be called from any thread while Loop runs
// on another; BreakLoop from any thread makes Loop return.
class CaptureHandle {
  public:
    virtual ~CaptureHandle() = default;
    // 0 when the frame was handed to the adapter, anything else a refusal.
    virtual int SendPacket(const std::uint8_t* frame, std::size_t length) = 0;
    // Runs until BreakLoop or a capture error; returns the library's loop result.
    virtual int Loop(const FrameCallback& onFrame) = 0;
    virtual void BreakLoop() = 0;
    // The library's text for the latest failed send or capture; empty when it has none.
    virtual std::string LastError() const { return {}; }
    // Frames lost since the open; nothing when the library cannot tell. Any thread.
    virtual std::optional<CaptureDrops> Drops() const { return std::nullopt; }
};

// What an open says beyond its error text.
struct OpenOutcome {
    // The open failed because the process, or its capture helper, may not capture (no
    // CAP_NET_RAW, or the helper may not be run).
    bool notPermitted = false;
    // The library's warnings on an open that worked (for example promiscuous mode refused);
    // empty when it had none.
    std::string warnings;
};

struct OpenParameters {
    // Not 65536: in immediate mode each slot of the kernel's capture ring is as long as the
    // snapshot (on interfaces with receive offload), so 65536 leaves some 250 slots, which a
    // burst of port-2098 traffic overflows and replies are lost; the units' frames are far
    // shorter than 2048 bytes, and 2048 leaves some 8000 slots.
    int snapshotLength = 2048;
    int flags = 1;  // promiscuous
    int readTimeoutMs = 1000;
};

class CaptureBackend {
  public:
    virtual ~CaptureBackend() = default;
    // nullopt when the library cannot list adapters (its error text goes to error).
    virtual std::optional<std::vector<AdapterInfo>> FindAllDevices(std::string& error) = 0;
    virtual std::unique_ptr<CaptureHandle> Open(const std::string& adapterName,
                                                const OpenParameters& parameters,
                                                std::string& error) = 0;
    // Open, also telling a privilege failure apart and passing on the library's warnings.
    // Backends that know neither keep this default.
    virtual std::unique_ptr<CaptureHandle> OpenWithOutcome(const std::string& adapterName,
                                                           const OpenParameters& parameters,
                                                           std::string& error,
                                                           OpenOutcome& outcome) {
        outcome = {};
        return Open(adapterName, parameters, error);
    }
    // The interface's current hardware address, by the driver's name (adapter name minus
    // "rpcap://"); nullopt when it cannot be queried.
    virtual std::optional<std::array<std::uint8_t, 6>> QueryCurrentAddress(
        const std::string& driverName) = 0;
};

// The backend in use. Set once at start-up (the program: libpcap) or by a test.
CaptureBackend& ActiveCaptureBackend();
void SetCaptureBackend(std::shared_ptr<CaptureBackend> backend);
