#include "platform/interface_query.h"

// clang-format off
#include <winsock2.h>
#include <iphlpapi.h>
// clang-format on

#include <cstring>
#include <memory>
#include <vector>

// On Windows the capture library names an adapter "\Device\NPF_{GUID}"; the adapter table of
// iphlpapi names the same adapter "{GUID}".
namespace {

constexpr ULONG kEthernet = 6;   // IF_TYPE_ETHERNET_CSMACD
constexpr ULONG kWireless = 71;  // IF_TYPE_IEEE80211: the capture driver frames it as Ethernet
constexpr ULONG kAnyFamily = 0;  // adapters with or without IPv4, IPv6 alike
constexpr ULONG kLoopback = 24;  // IF_TYPE_SOFTWARE_LOOPBACK
constexpr ULONG kFirstBuffer = 16384;  // enough for a few adapters; grown when the call says so

std::string GuidOf(const std::string& name) {
    const auto open = name.rfind('{');
    const auto close = name.rfind('}');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return {};
    }
    return name.substr(open, close - open + 1);
}

bool SameText(const std::string& a, const char* b) {
    return b != nullptr && _stricmp(a.c_str(), b) == 0;
}

struct AdapterRow {
    ULONG type = 0;
    std::vector<std::uint8_t> physical;
};

std::optional<AdapterRow> FindAdapter(const std::string& interfaceName) {
    const std::string guid = GuidOf(interfaceName);
    if (guid.empty()) {
        return std::nullopt;
    }
    constexpr ULONG kFlags = GAA_FLAG_SKIP_UNICAST | GAA_FLAG_SKIP_ANYCAST |
                             GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER |
                             GAA_FLAG_SKIP_FRIENDLY_NAME;
    ULONG size = kFirstBuffer;
    std::unique_ptr<std::uint8_t[]> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // The table may grow between the calls; a few tries are plenty.
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer = std::make_unique<std::uint8_t[]>(size);
        result = GetAdaptersAddresses(kAnyFamily, kFlags, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
    }
    if (result != NO_ERROR) {
        return std::nullopt;
    }
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()); a != nullptr;
         a = a->Next) {
        if (SameText(guid, a->AdapterName)) {
            AdapterRow row;
            row.type = a->IfType;
            row.physical.assign(a->PhysicalAddress, a->PhysicalAddress + a->PhysicalAddressLength);
            return row;
        }
    }
    return std::nullopt;
}

bool IsEthernetType(ULONG type) {
    return type == kEthernet || type == kWireless;
}

}  // namespace

std::optional<std::array<std::uint8_t, 6>> QueryInterfaceMac(const std::string& interfaceName) {
    const auto row = FindAdapter(interfaceName);
    std::array<std::uint8_t, 6> mac{};
    if (!row || !IsEthernetType(row->type) || row->physical.size() != mac.size()) {
        return std::nullopt;
    }
    std::memcpy(mac.data(), row->physical.data(), mac.size());
    return mac;
}

std::optional<InterfaceLinkType> QueryInterfaceLinkType(const std::string& interfaceName) {
    const auto row = FindAdapter(interfaceName);
    if (!row) {
        return std::nullopt;
    }
    if (IsEthernetType(row->type)) {
        return InterfaceLinkType::Ethernet;
    }
    return row->type == kLoopback ? InterfaceLinkType::Loopback : InterfaceLinkType::Other;
}
