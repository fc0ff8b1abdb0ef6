#include "net/posix/pcap_backend.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace {

constexpr std::string_view kPrefix = kAdapterNamePrefix;

// libpcap's pseudo-devices on Linux: none of them carries Ethernet frames to a unit.
constexpr std::array<std::string_view, 6> kPseudoDevicePrefixes{
    "any", "nflog", "nfqueue", "dbus", "bluetooth", "usbmon",
};

std::string DriverName(const std::string& adapterName) {
    return adapterName.rfind(kPrefix, 0) == 0 ? adapterName.substr(kPrefix.size()) : adapterName;
}

bool IsPseudoDevice(std::string_view name) {
    return std::any_of(kPseudoDevicePrefixes.begin(), kPseudoDevicePrefixes.end(),
                       [&](std::string_view p) { return name.substr(0, p.size()) == p; });
}

std::vector<AdapterAddress> AddressesOf(const pcap_if& device) {
    std::vector<AdapterAddress> out;
    for (const pcap_addr* a = device.addresses; a != nullptr; a = a->next) {
        AdapterAddress entry;
        if (a->addr != nullptr && a->addr->sa_family == AF_INET) {
            sockaddr_in in{};
            std::memcpy(&in, a->addr, sizeof in);
            entry.isIpv4 = true;
            std::memcpy(entry.ipv4.data(), &in.sin_addr, entry.ipv4.size());
            if (a->netmask != nullptr && a->netmask->sa_family == AF_INET) {
                std::array<std::uint8_t, 4> mask{};
                std::memcpy(&in, a->netmask, sizeof in);
                std::memcpy(mask.data(), &in.sin_addr, mask.size());
                entry.prefixLength = NetmaskPrefixLength(mask);
            }
        }
        out.push_back(entry);
    }
    return out;
}

std::string DescribeByInterface(const std::string& interfaceName,
                                const std::vector<AdapterAddress>& addresses) {
    const auto ipv4 = std::find_if(addresses.begin(), addresses.end(),
                                   [](const AdapterAddress& a) { return a.isIpv4; });
    char text[INET_ADDRSTRLEN] = {};
    if (ipv4 == addresses.end() ||
        inet_ntop(AF_INET, ipv4->ipv4.data(), text, sizeof text) == nullptr) {
        return interfaceName + " (no IPv4 address)";
    }
    return interfaceName + " (" + text + ")";
}

// The library's error text, or its status text when it left the buffer empty.
std::string ErrorOf(pcap_t* p, int status) {
    std::string text = pcap_geterr(p);
    return text.empty() ? pcap_statustostr(status) : text;
}

// Accepts nothing: the send handle must not fill a capture buffer no one reads.
bool RejectAllTraffic(pcap_t* p, std::string& error) {
    bpf_insn rejectAll = BPF_STMT(BPF_RET | BPF_K, 0);
    bpf_program program{1, &rejectAll};
    if (pcap_setfilter(p, &program) != 0) {
        error = ErrorOf(p, PCAP_ERROR);
        return false;
    }
    return true;
}

// Only the units' traffic reaches the capture loop; the handler still checks every frame.
bool FilterUnitTraffic(pcap_t* p, std::string& error) {
    bpf_program program{};
    if (pcap_compile(p, &program, kCaptureFilter, 1, PCAP_NETMASK_UNKNOWN) != 0) {
        error = ErrorOf(p, PCAP_ERROR);
        return false;
    }
    const bool set = pcap_setfilter(p, &program) == 0;
    if (!set) {
        error = ErrorOf(p, PCAP_ERROR);
    }
    pcap_freecode(&program);
    return set;
}

struct PcapCloser {
    void operator()(pcap_t* p) const { pcap_close(p); }
};
using PcapPtr = std::unique_ptr<pcap_t, PcapCloser>;

#if defined(VX_HAVE_PCAP_OPEN)
// Libraries with remote capture take the "rpcap://" source name as it is.
PcapPtr OpenOne(const std::string& adapterName, const OpenParameters& parameters,
                const PcapOptions& options, bool forSending, std::string& error,
                OpenOutcome& outcome) {
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    int flags = parameters.flags;
    if (options.immediateMode) {
        flags |= PCAP_OPENFLAG_MAX_RESPONSIVENESS;
    }
    (void)forSending;
    (void)outcome;  // pcap_open gives only its text
    PcapPtr p(pcap_open(adapterName.c_str(), parameters.snapshotLength, flags,
                        parameters.readTimeoutMs, nullptr, errbuf));
    if (!p) {
        error = std::string("pcap_open: ") + errbuf;
    }
    return p;
}
#else
// Names the call that failed, so a report says which setting the library refused.
bool Configured(pcap_t* p, const char* call, int status, std::string& error) {
    if (status == 0) {
        return true;
    }
    error = std::string(call) + ": " + ErrorOf(p, status);
    return false;
}

// Without remote capture: pcap_create/pcap_activate with the same parameters.
PcapPtr OpenOne(const std::string& adapterName, const OpenParameters& parameters,
                const PcapOptions& options, bool forSending, std::string& error,
                OpenOutcome& outcome) {
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    PcapPtr p(pcap_create(DriverName(adapterName).c_str(), errbuf));
    if (!p) {
        error = std::string("pcap_create: ") + errbuf;
        return nullptr;
    }
    constexpr int kSendBufferBytes = 64 * 1024;  // it captures nothing; keep its ring small
    // Room for bursts of other traffic on a busy segment while the loop catches up.
    constexpr int kCaptureBufferBytes = 16 * 1024 * 1024;
    pcap_t* h = p.get();
    if (!Configured(h, "pcap_set_snaplen", pcap_set_snaplen(h, parameters.snapshotLength), error) ||
        !Configured(h, "pcap_set_promisc", pcap_set_promisc(h, (parameters.flags & 1) != 0 ? 1 : 0),
                    error) ||
        !Configured(h, "pcap_set_timeout", pcap_set_timeout(h, parameters.readTimeoutMs), error) ||
        !Configured(h, "pcap_set_immediate_mode",
                    pcap_set_immediate_mode(h, options.immediateMode ? 1 : 0), error) ||
        !Configured(h, "pcap_set_buffer_size",
                    pcap_set_buffer_size(h, forSending ? kSendBufferBytes : kCaptureBufferBytes),
                    error)) {
        return nullptr;
    }
    const int status = pcap_activate(h);
    if (status < 0) {
        error = "pcap_activate: " + ErrorOf(h, status);
        outcome.notPermitted =
            status == PCAP_ERROR_PERM_DENIED || status == PCAP_ERROR_PROMISC_PERM_DENIED;
        return nullptr;
    }
    if (status > 0) {
        // A warning (for example promiscuous mode not supported): capture works, but say so.
        const std::string text = pcap_geterr(h);
        const std::string warning = std::string("pcap_activate on ") + adapterName + ": " +
                                    pcap_statustostr(status) + (text.empty() ? "" : ": " + text);
        outcome.warnings += outcome.warnings.empty() ? warning : "; " + warning;
    }
    return p;
}
#endif

u_char* AsUser(const FrameCallback& onFrame) {
    return reinterpret_cast<u_char*>(const_cast<FrameCallback*>(&onFrame));
}

void DeliverFrame(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
    const auto& onFrame = *reinterpret_cast<const FrameCallback*>(user);
    try {
        onFrame(bytes, header->caplen);
    } catch (...) {
        // An exception must not unwind through libpcap's C frames; the frame is dropped.
    }
}

}  // namespace

// ---- PcapCaptureHandle ----

PcapCaptureHandle::PcapCaptureHandle(pcap* capture, pcap* sender)
    : capture_(capture), sender_(sender) {}

PcapCaptureHandle::~PcapCaptureHandle() {
    pcap_close(sender_);
    pcap_close(capture_);
}

int PcapCaptureHandle::SendPacket(const std::uint8_t* frame, std::size_t length) {
    const std::lock_guard lock(sendMutex_);
    const int result = pcap_sendpacket(sender_, frame, static_cast<int>(length));
    if (result != 0) {
        const std::lock_guard errorLock(errorMutex_);
        lastError_ = pcap_geterr(sender_);
    }
    return result;
}

int PcapCaptureHandle::Loop(const FrameCallback& onFrame) {
    return Captured(pcap_loop(capture_, 0, &DeliverFrame, AsUser(onFrame)));
}

int PcapCaptureHandle::Dispatch(const FrameCallback& onFrame) {
    return Captured(pcap_dispatch(capture_, -1, &DeliverFrame, AsUser(onFrame)));
}

int PcapCaptureHandle::Captured(int result) {
    if (result == PCAP_ERROR) {
        const std::lock_guard errorLock(errorMutex_);
        lastError_ = pcap_geterr(capture_);
    }
    return result;
}

void PcapCaptureHandle::BreakLoop() {
    pcap_breakloop(capture_);
}

std::string PcapCaptureHandle::LastError() const {
    const std::lock_guard errorLock(errorMutex_);
    return lastError_;
}

std::optional<CaptureStatistics> PcapCaptureHandle::Statistics() const {
    const std::lock_guard lock(statsMutex_);
    pcap_stat stats{};
    if (pcap_stats(capture_, &stats) != 0) {
        return std::nullopt;
    }
    return CaptureStatistics{stats.ps_recv, stats.ps_drop, stats.ps_ifdrop};
}

std::optional<CaptureDrops> PcapCaptureHandle::Drops() const {
    const auto stats = Statistics();
    if (!stats) {
        return std::nullopt;
    }
    return CaptureDrops{stats->dropped, stats->interfaceDropped};
}

// ---- PcapCaptureBackend ----

PcapCaptureBackend::PcapCaptureBackend(PcapOptions options) : options_(options) {}

std::optional<AdapterInfo> AdapterFromDevice(const pcap_if& device, bool listedByRemoteApi,
                                             const LinkTypeQuery& linkType) {
    if (device.name == nullptr) {
        return std::nullopt;
    }
    const std::string name = device.name;
    const std::string interfaceName = listedByRemoteApi ? DriverName(name) : name;
    if (IsPseudoDevice(interfaceName) || (device.flags & PCAP_IF_LOOPBACK) != 0 ||
        linkType(interfaceName) != InterfaceLinkType::Ethernet) {
        return std::nullopt;
    }
    AdapterInfo info;
    info.name = listedByRemoteApi ? name : std::string(kPrefix) + name;
    info.addresses = AddressesOf(device);
    info.flags = device.flags;
    if (device.description != nullptr && device.description[0] != '\0') {
        info.description = device.description;
    } else {
        info.description = DescribeByInterface(interfaceName, info.addresses);
    }
    return info;
}

std::optional<std::vector<AdapterInfo>> PcapCaptureBackend::FindAllDevices(std::string& error) {
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* devices = nullptr;
#if defined(VX_HAVE_PCAP_FINDALLDEVS_EX)
    char source[] = "rpcap://";
    const int status = pcap_findalldevs_ex(source, nullptr, &devices, errbuf);
    constexpr bool kRemoteNames = true;
#else
    const int status = pcap_findalldevs(&devices, errbuf);
    constexpr bool kRemoteNames = false;
#endif
    if (status == PCAP_ERROR) {
        error = errbuf;
        return std::nullopt;
    }
    std::vector<AdapterInfo> adapters;
    for (const pcap_if_t* d = devices; d != nullptr; d = d->next) {
        if (auto info = AdapterFromDevice(*d, kRemoteNames, QueryInterfaceLinkType)) {
            adapters.push_back(std::move(*info));
        }
    }
    pcap_freealldevs(devices);
    return adapters;
}

std::unique_ptr<CaptureHandle> PcapCaptureBackend::Open(const std::string& adapterName,
                                                        const OpenParameters& parameters,
                                                        std::string& error) {
    OpenOutcome outcome;
    return OpenWithOutcome(adapterName, parameters, error, outcome);
}

std::unique_ptr<CaptureHandle> PcapCaptureBackend::OpenWithOutcome(const std::string& adapterName,
                                                                   const OpenParameters& parameters,
                                                                   std::string& error,
                                                                   OpenOutcome& outcome) {
    return OpenPcap(adapterName, parameters, error, outcome);
}

std::unique_ptr<PcapCaptureHandle> PcapCaptureBackend::OpenPcap(const std::string& adapterName,
                                                                const OpenParameters& parameters,
                                                                std::string& error,
                                                                OpenOutcome& outcome) {
    outcome = {};
    PcapPtr capture = OpenOne(adapterName, parameters, options_, false, error, outcome);
    if (!capture) {
        return nullptr;
    }
    // Frames are built for Ethernet; another link type would put them on the wire garbled.
    if (pcap_datalink(capture.get()) != DLT_EN10MB) {
        error =
            "not an Ethernet adapter: link type " + std::to_string(pcap_datalink(capture.get()));
        return nullptr;
    }
    if (options_.portFilter && !FilterUnitTraffic(capture.get(), error)) {
        return nullptr;
    }
    PcapPtr sender = OpenOne(adapterName, parameters, options_, true, error, outcome);
    if (!sender || !RejectAllTraffic(sender.get(), error)) {
        return nullptr;
    }
    return std::make_unique<PcapCaptureHandle>(capture.release(), sender.release());
}

std::optional<std::array<std::uint8_t, 6>> PcapCaptureBackend::QueryCurrentAddress(
    const std::string& driverName) {
    return QueryInterfaceMac(driverName);
}
