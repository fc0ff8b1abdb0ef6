#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "net/capture_backend.h"
#include "platform/interface_query.h"

struct pcap;
struct pcap_if;

// The capture interface on libpcap.
//
// Threads: each open adapter has two pcap_t: one that captures (used only by the thread in
// Loop) and one that sends (used only under a mutex by SendPacket). libpcap does not promise
// that one pcap_t may be used from several threads, and each pcap_t has its own error buffer,
// so with this split no error text is ever written by two threads at once. The send handle
// carries a filter that accepts nothing, so it never buffers captured traffic.

struct PcapOptions {
    // Deliver each frame when it arrives rather than when the kernel's buffer fills or the
    // read time-out expires. Off only to measure what it buys.
    bool immediateMode = true;
    // Let the kernel pass only IPv4 UDP to or from the units' port, so a busy segment neither
    // crowds replies out of the capture buffer nor feeds the handler look-alike frames. Off
    // only to measure what it buys.
    bool portFilter = true;
};

// The capture handle's kernel filter: IPv4 UDP frames from or to the units' port.
inline constexpr char kCaptureFilter[] = "ip and udp and port 2098";

// Kernel counters of one capture handle (pcap_stats).
struct CaptureStatistics {
    unsigned received = 0;
    unsigned dropped = 0;           // no room in the capture buffer
    unsigned interfaceDropped = 0;  // dropped by the interface or its driver
};

class PcapCaptureHandle final : public CaptureHandle {
  public:
    // Takes ownership of both handles (closed on destruction).
    PcapCaptureHandle(pcap* capture, pcap* sender);
    ~PcapCaptureHandle() override;
    PcapCaptureHandle(const PcapCaptureHandle&) = delete;
    PcapCaptureHandle& operator=(const PcapCaptureHandle&) = delete;

    int SendPacket(const std::uint8_t* frame, std::size_t length) override;
    int Loop(const FrameCallback& onFrame) override;
    // Waits for frames (up to the read time-out) and hands over those that have arrived, so a
    // caller can pass them on in batches; the library's count, or its loop result on an error
    // or a BreakLoop.
    int Dispatch(const FrameCallback& onFrame);
    void BreakLoop() override;
    std::string LastError() const override;
    std::optional<CaptureDrops> Drops() const override;

    std::optional<CaptureStatistics> Statistics() const;

  private:
    // Keeps the library's text of a failed capture.
    int Captured(int result);

    pcap* capture_;
    pcap* sender_;
    std::mutex sendMutex_;
    mutable std::mutex errorMutex_;
    std::string lastError_;
    // pcap_stats keeps running totals in the capture handle; the capture thread's reads do not
    // touch them, but two readers must not add to them at once.
    mutable std::mutex statsMutex_;
};

class PcapCaptureBackend final : public CaptureBackend {
  public:
    explicit PcapCaptureBackend(PcapOptions options = {});

    std::optional<std::vector<AdapterInfo>> FindAllDevices(std::string& error) override;
    std::unique_ptr<CaptureHandle> Open(const std::string& adapterName,
                                        const OpenParameters& parameters,
                                        std::string& error) override;
    // Each failing pcap_set_* call or pcap_activate is named in error; a refusal for lack of
    // privileges sets outcome.notPermitted; pcap_activate warnings go to outcome.warnings.
    std::unique_ptr<CaptureHandle> OpenWithOutcome(const std::string& adapterName,
                                                   const OpenParameters& parameters,
                                                   std::string& error,
                                                   OpenOutcome& outcome) override;
    // The same open, keeping the handle's own type.
    std::unique_ptr<PcapCaptureHandle> OpenPcap(const std::string& adapterName,
                                                const OpenParameters& parameters,
                                                std::string& error, OpenOutcome& outcome);
    std::optional<std::array<std::uint8_t, 6>> QueryCurrentAddress(
        const std::string& driverName) override;

  private:
    PcapOptions options_;
};

inline constexpr char kAdapterNamePrefix[] = "rpcap://";

using LinkTypeQuery = std::function<std::optional<InterfaceLinkType>(const std::string&)>;

// One entry of the library's device list as the adapter list offers it, or nullopt when it
// cannot carry Ethernet frames (pseudo-devices, loopback, other link types). listedByRemoteApi
// says the name already has the "rpcap://" form. Without a description of the library's own,
// the entry is described by its interface name and first IPv4 address.
std::optional<AdapterInfo> AdapterFromDevice(const pcap_if& device, bool listedByRemoteApi,
                                             const LinkTypeQuery& linkType);
