#include "net/win32/wpcap_backend.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string_view>

#include "protocol/device_table.h"

// The few types and constants of the capture library's C interface this backend uses, as the
// library documents them (Npcap ships its headers with its SDK, not with the program).
namespace wpcap {

struct pcap;  // opaque

struct Timeval {  // Windows' struct timeval: two longs, 32 bits each
    std::int32_t seconds;
    std::int32_t microseconds;
};

struct PacketHeader {
    Timeval ts;
    std::uint32_t caplen;
    std::uint32_t len;
};

struct BpfInstruction {
    std::uint16_t code;
    std::uint8_t jt;
    std::uint8_t jf;
    std::uint32_t k;
};

struct BpfProgram {
    unsigned length;
    BpfInstruction* instructions;
};

struct Statistics {  // struct pcap_stat as the library's Windows builds lay it out
    std::uint32_t received;
    std::uint32_t dropped;
    std::uint32_t interfaceDropped;
    std::uint32_t captured;
    std::uint32_t sent;
    std::uint32_t networkDropped;
};

constexpr int kErrorBufferSize = 256;                   // PCAP_ERRBUF_SIZE
constexpr int kError = -1;                              // PCAP_ERROR
constexpr int kErrorBreak = -2;                         // PCAP_ERROR_BREAK
constexpr int kFrameRead = 1;                           // pcap_next_ex: a frame
constexpr std::uint32_t kIfLoopback = 1;                // PCAP_IF_LOOPBACK
constexpr int kLinkEthernet = 1;                        // DLT_EN10MB
constexpr int kMaxResponsiveness = 16;                  // PCAP_OPENFLAG_MAX_RESPONSIVENESS
constexpr std::uint32_t kNetmaskUnknown = 0xFFFFFFFFu;  // PCAP_NETMASK_UNKNOWN
constexpr std::uint16_t kReturnConstant = 0x06;         // BPF_RET | BPF_K

struct Library {
    HMODULE module = nullptr;
    int (*findalldevs_ex)(const char* source, void* auth, Interface** devices, char* errbuf);
    void (*freealldevs)(Interface* devices);
    pcap* (*open)(const char* source, int snaplen, int flags, int timeout, void* auth,
                  char* errbuf);
    void (*close)(pcap* p);
    int (*sendpacket)(pcap* p, const unsigned char* frame, int length);
    int (*next_ex)(pcap* p, PacketHeader** header, const unsigned char** frame);
    void (*breakloop)(pcap* p);
    char* (*geterr)(pcap* p);
    int (*compile)(pcap* p, BpfProgram* program, const char* text, int optimize,
                   std::uint32_t netmask);
    int (*setfilter)(pcap* p, BpfProgram* program);
    void (*freecode)(BpfProgram* program);
    int (*datalink)(pcap* p);
    int (*stats)(pcap* p, Statistics* statistics);  // optional: without it drops are unknown

    ~Library() {
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }
};

}  // namespace wpcap

namespace {

using wpcap::Library;
using wpcap::pcap;

constexpr std::string_view kPrefix = "rpcap://";
constexpr unsigned short kFamilyIpv4 = AF_INET;

// Npcap installs into System32\Npcap (the WinPcap-compatible mode also into System32); only
// those two folders are searched, never the program's or the current folder.
HMODULE LoadCaptureLibrary(const char* name) {
    char system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(system, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        const std::string npcap = std::string(system, length) + "\\Npcap\\" + name;
        // The altered search path finds Packet.dll beside it.
        if (HMODULE m = LoadLibraryExA(npcap.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {
            return m;
        }
    }
    return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

template <typename Function>
bool Resolve(HMODULE module, const char* symbol, Function& function, std::string& missing) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, symbol)));
    if (function == nullptr && missing.empty()) {
        missing = symbol;
    }
    return function != nullptr;
}

std::shared_ptr<const Library> Load(const char* name, std::string& error) {
    auto library = std::make_shared<Library>();
    library->module = LoadCaptureLibrary(name);
    if (library->module == nullptr) {
        error = kNpcapMissing;
        return nullptr;
    }
    std::string missing;
    HMODULE m = library->module;
    Resolve(m, "pcap_findalldevs_ex", library->findalldevs_ex, missing);
    Resolve(m, "pcap_freealldevs", library->freealldevs, missing);
    Resolve(m, "pcap_open", library->open, missing);
    Resolve(m, "pcap_close", library->close, missing);
    Resolve(m, "pcap_sendpacket", library->sendpacket, missing);
    Resolve(m, "pcap_next_ex", library->next_ex, missing);
    Resolve(m, "pcap_breakloop", library->breakloop, missing);
    Resolve(m, "pcap_geterr", library->geterr, missing);
    Resolve(m, "pcap_compile", library->compile, missing);
    Resolve(m, "pcap_setfilter", library->setfilter, missing);
    Resolve(m, "pcap_freecode", library->freecode, missing);
    Resolve(m, "pcap_datalink", library->datalink, missing);
    std::string optional;  // a library without counters still captures
    Resolve(m, "pcap_stats", library->stats, optional);
    if (!missing.empty()) {
        error = std::string(name) + " has no " + missing +
                ": capture on Windows needs Npcap (https://npcap.com)";
        return nullptr;
    }
    return library;
}

std::string DriverName(const std::string& adapterName) {
    return adapterName.rfind(kPrefix, 0) == 0 ? adapterName.substr(kPrefix.size()) : adapterName;
}

std::vector<AdapterAddress> AddressesOf(const wpcap::Interface& device) {
    std::vector<AdapterAddress> out;
    for (const wpcap::Address* a = device.addresses; a != nullptr; a = a->next) {
        AdapterAddress entry;
        if (a->addr != nullptr && a->addr->sa_family == kFamilyIpv4) {
            sockaddr_in in{};
            std::memcpy(&in, a->addr, sizeof in);
            entry.isIpv4 = true;
            std::memcpy(entry.ipv4.data(), &in.sin_addr, entry.ipv4.size());
            // Some drivers leave the netmask's family unset; an IPv4 entry's mask is IPv4.
            if (a->netmask != nullptr) {
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

std::string ErrorOf(const Library& library, pcap* p) {
    const char* text = library.geterr(p);
    return text != nullptr && text[0] != '\0' ? text : "unknown error";
}

// Accepts nothing: the send handle must not fill a capture buffer no one reads.
bool RejectAllTraffic(const Library& library, pcap* p, std::string& error) {
    wpcap::BpfInstruction rejectAll{wpcap::kReturnConstant, 0, 0, 0};
    wpcap::BpfProgram program{1, &rejectAll};
    if (library.setfilter(p, &program) != 0) {
        error = "pcap_setfilter: " + ErrorOf(library, p);
        return false;
    }
    return true;
}

// The Linux backend's kernel filter: only the units' traffic reaches the capture loop.
bool FilterUnitTraffic(const Library& library, pcap* p, std::string& error) {
    wpcap::BpfProgram program{};
    if (library.compile(p, &program, "ip and udp and port 2098", 1, wpcap::kNetmaskUnknown) != 0) {
        error = "pcap_compile: " + ErrorOf(library, p);
        return false;
    }
    const bool set = library.setfilter(p, &program) == 0;
    if (!set) {
        error = "pcap_setfilter: " + ErrorOf(library, p);
    }
    library.freecode(&program);
    return set;
}

struct Closer {
    std::shared_ptr<const Library> library;
    void operator()(pcap* p) const { library->close(p); }
};
using PcapPtr = std::unique_ptr<pcap, Closer>;

PcapPtr OpenOne(const std::shared_ptr<const Library>& library, const std::string& adapterName,
                const OpenParameters& parameters, std::string& error) {
    char errbuf[wpcap::kErrorBufferSize] = {};
    // Npcap then hands each frame over as it arrives instead of filling its buffer first.
    const int flags = parameters.flags | wpcap::kMaxResponsiveness;
    PcapPtr p(library->open(adapterName.c_str(), parameters.snapshotLength, flags,
                            parameters.readTimeoutMs, nullptr, errbuf),
              Closer{library});
    if (!p) {
        error = std::string("pcap_open: ") + errbuf;
    }
    return p;
}

class WpcapCaptureHandle final : public CaptureHandle {
  public:
    WpcapCaptureHandle(PcapPtr capture, PcapPtr sender)
        : capture_(std::move(capture)), sender_(std::move(sender)) {}

    int SendPacket(const std::uint8_t* frame, std::size_t length) override {
        const std::lock_guard lock(sendMutex_);
        const int result = Api().sendpacket(sender_.get(), frame, static_cast<int>(length));
        if (result != 0) {
            const std::lock_guard errorLock(errorMutex_);
            lastError_ = ErrorOf(Api(), sender_.get());
        }
        return result;
    }

    // pcap_next_ex rather than pcap_loop, which Wine's wpcap.dll does not implement. The flag
    // ends the loop at the next read time-out even if the library's own break is lost.
    int Loop(const FrameCallback& onFrame) override {
        for (;;) {
            if (breakRequested_.exchange(false)) {
                return wpcap::kErrorBreak;
            }
            wpcap::PacketHeader* header = nullptr;
            const unsigned char* frame = nullptr;
            const int result = Api().next_ex(capture_.get(), &header, &frame);
            if (result == wpcap::kFrameRead) {
                Deliver(onFrame, *header, frame);
            } else if (result < 0) {
                if (result == wpcap::kError) {
                    const std::lock_guard errorLock(errorMutex_);
                    lastError_ = ErrorOf(Api(), capture_.get());
                }
                breakRequested_ = false;
                return result;
            }
        }
    }

    void BreakLoop() override {
        breakRequested_ = true;
        Api().breakloop(capture_.get());
    }

    std::string LastError() const override {
        const std::lock_guard errorLock(errorMutex_);
        return lastError_;
    }

    std::optional<CaptureDrops> Drops() const override {
        if (Api().stats == nullptr) {
            return std::nullopt;
        }
        const std::lock_guard statsLock(statsMutex_);
        wpcap::Statistics statistics{};
        if (Api().stats(capture_.get(), &statistics) != 0) {
            return std::nullopt;
        }
        return CaptureDrops{statistics.dropped, statistics.interfaceDropped};
    }

  private:
    const Library& Api() const { return *capture_.get_deleter().library; }

    static void Deliver(const FrameCallback& onFrame, const wpcap::PacketHeader& header,
                        const unsigned char* frame) {
        try {
            onFrame(frame, header.caplen);
        } catch (...) {
            // The frame is dropped; the capture goes on, as on Linux.
        }
    }

    PcapPtr capture_;
    PcapPtr sender_;
    std::atomic<bool> breakRequested_{false};
    std::mutex sendMutex_;
    mutable std::mutex errorMutex_;
    std::string lastError_;
    mutable std::mutex statsMutex_;  // the library keeps running totals in the handle
};

}  // namespace

std::optional<AdapterInfo> AdapterFromWpcapDevice(const wpcap::Interface& device,
                                                  const LinkTypeQuery& linkType) {
    if (device.name == nullptr) {
        return std::nullopt;
    }
    const std::string name = device.name;
    const std::string driverName = DriverName(name);
    if ((device.flags & wpcap::kIfLoopback) != 0 ||
        linkType(driverName) != InterfaceLinkType::Ethernet) {
        return std::nullopt;
    }
    AdapterInfo info;
    info.name = std::string(kPrefix) + driverName;
    info.addresses = AddressesOf(device);
    info.flags = device.flags;
    if (device.description != nullptr && device.description[0] != '\0') {
        info.description = device.description;
    } else {
        const auto ipv4 = std::find_if(info.addresses.begin(), info.addresses.end(),
                                       [](const AdapterAddress& a) { return a.isIpv4; });
        info.description =
            driverName + (ipv4 == info.addresses.end() ? " (no IPv4 address)"
                                                       : " (" + Ipv4Text(ipv4->ipv4) + ")");
    }
    return info;
}

WpcapCaptureBackend::WpcapCaptureBackend(const char* libraryName) {
    library_ = Load(libraryName, loadError_);
}

WpcapCaptureBackend::~WpcapCaptureBackend() = default;

std::optional<std::vector<AdapterInfo>> WpcapCaptureBackend::FindAllDevices(std::string& error) {
    if (!library_) {
        error = loadError_;
        return std::nullopt;
    }
    char errbuf[wpcap::kErrorBufferSize] = {};
    wpcap::Interface* devices = nullptr;
    if (library_->findalldevs_ex("rpcap://", nullptr, &devices, errbuf) == wpcap::kError) {
        error = std::string("pcap_findalldevs_ex: ") + errbuf;
        return std::nullopt;
    }
    std::vector<AdapterInfo> adapters;
    for (const wpcap::Interface* d = devices; d != nullptr; d = d->next) {
        if (auto info = AdapterFromWpcapDevice(*d, QueryInterfaceLinkType)) {
            adapters.push_back(std::move(*info));
        }
    }
    library_->freealldevs(devices);
    return adapters;
}

std::unique_ptr<CaptureHandle> WpcapCaptureBackend::Open(const std::string& adapterName,
                                                         const OpenParameters& parameters,
                                                         std::string& error) {
    if (!library_) {
        error = loadError_;
        return nullptr;
    }
    PcapPtr capture = OpenOne(library_, adapterName, parameters, error);
    if (!capture) {
        return nullptr;
    }
    // Frames are built for Ethernet; another link type would put them on the wire garbled.
    if (const int link = library_->datalink(capture.get()); link != wpcap::kLinkEthernet) {
        error = "not an Ethernet adapter: link type " + std::to_string(link);
        return nullptr;
    }
    if (!FilterUnitTraffic(*library_, capture.get(), error)) {
        return nullptr;
    }
    PcapPtr sender = OpenOne(library_, adapterName, parameters, error);
    if (!sender || !RejectAllTraffic(*library_, sender.get(), error)) {
        return nullptr;
    }
    return std::make_unique<WpcapCaptureHandle>(std::move(capture), std::move(sender));
}

std::optional<std::array<std::uint8_t, 6>> WpcapCaptureBackend::QueryCurrentAddress(
    const std::string& driverName) {
    return QueryInterfaceMac(driverName);
}
