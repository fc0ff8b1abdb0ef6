#include "platform/interface_query.h"

#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

// The hardware address record of SIOCGIFHWADDR: its family is the ARPHRD_ type.
std::optional<sockaddr> HardwareAddress(const std::string& interfaceName) {
    if (interfaceName.empty() || interfaceName.size() >= IFNAMSIZ) {
        return std::nullopt;
    }
    // Any socket reaches the interface ioctls; a datagram socket needs no privilege. The
    // query sees the calling thread's network namespace.
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    }
    if (fd < 0) {
        return std::nullopt;
    }
    ifreq request{};
    std::memcpy(request.ifr_name, interfaceName.data(), interfaceName.size());
    const int result = ioctl(fd, SIOCGIFHWADDR, &request);
    close(fd);
    if (result != 0) {
        return std::nullopt;
    }
    return request.ifr_hwaddr;
}

bool IsEthernetFamily(unsigned short family) {
    return family == ARPHRD_ETHER || family == ARPHRD_EETHER || family == ARPHRD_IEEE802;
}

}  // namespace

std::optional<std::array<std::uint8_t, 6>> QueryInterfaceMac(const std::string& interfaceName) {
    const auto hw = HardwareAddress(interfaceName);
    if (!hw || !IsEthernetFamily(hw->sa_family)) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 6> mac{};
    std::memcpy(mac.data(), hw->sa_data, mac.size());
    return mac;
}

std::optional<InterfaceLinkType> QueryInterfaceLinkType(const std::string& interfaceName) {
    const auto hw = HardwareAddress(interfaceName);
    if (!hw) {
        return std::nullopt;
    }
    if (IsEthernetFamily(hw->sa_family)) {
        return InterfaceLinkType::Ethernet;
    }
    return hw->sa_family == ARPHRD_LOOPBACK ? InterfaceLinkType::Loopback
                                            : InterfaceLinkType::Other;
}
