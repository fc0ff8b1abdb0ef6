#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "net/capture_backend.h"
#include "platform/interface_query.h"

struct sockaddr;

// The capture interface on Windows: Npcap's wpcap.dll, loaded when the backend is made, so a
// machine without Npcap gets a message naming it instead of a loader error. Adapters are
// listed with pcap_findalldevs_ex("rpcap://"), opened with pcap_open and read with pcap_next_ex.
//
// Threads: as on Linux (net/posix/pcap_backend.h), each open adapter has one handle that captures,
// used only by the thread in Loop, and one that sends, used only under a mutex, with a filter
// that accepts nothing.

// The library's own records, as its C interface lays them out on Windows.
namespace wpcap {

struct Address {
    Address* next;
    sockaddr* addr;
    sockaddr* netmask;
    sockaddr* broadaddr;
    sockaddr* dstaddr;
};

struct Interface {
    Interface* next;
    char* name;  // "rpcap://\Device\NPF_{GUID}"
    char* description;
    Address* addresses;
    std::uint32_t flags;
};

struct Library;  // the loaded DLL and its functions

}  // namespace wpcap

// The text of a failed load: says what to install.
inline constexpr char kNpcapMissing[] =
    "wpcap.dll could not be loaded: capture on Windows needs Npcap (https://npcap.com), "
    "installed with its WinPcap API";

class WpcapCaptureBackend final : public CaptureBackend {
  public:
    // Loads the named library: Npcap's folder first, then the system folder.
    explicit WpcapCaptureBackend(const char* libraryName = "wpcap.dll");
    ~WpcapCaptureBackend() override;

    // False (and kNpcapMissing or the missing function in LoadError) when it did not load.
    bool Loaded() const { return library_ != nullptr; }
    const std::string& LoadError() const { return loadError_; }

    std::optional<std::vector<AdapterInfo>> FindAllDevices(std::string& error) override;
    std::unique_ptr<CaptureHandle> Open(const std::string& adapterName,
                                        const OpenParameters& parameters,
                                        std::string& error) override;
    std::optional<std::array<std::uint8_t, 6>> QueryCurrentAddress(
        const std::string& driverName) override;

  private:
    std::shared_ptr<const wpcap::Library> library_;
    std::string loadError_;
};

using LinkTypeQuery = std::function<std::optional<InterfaceLinkType>(const std::string&)>;

// One entry of pcap_findalldevs_ex's list as the adapter list offers it, or nullopt when it
// cannot carry Ethernet frames (loopback, not an Ethernet or wireless adapter). The library's
// description is kept; without one the entry is described by its driver name and first IPv4
// address.
std::optional<AdapterInfo> AdapterFromWpcapDevice(const wpcap::Interface& device,
                                                  const LinkTypeQuery& linkType);
