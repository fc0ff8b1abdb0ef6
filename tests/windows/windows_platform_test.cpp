// The Windows platform files and the capture backend, under Wine: the instance lock, the window
// look-up, the adapter list entries, and a machine without the capture library.

#include <gtest/gtest.h>

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <cstring>

#include "net/win32/wpcap_backend.h"
#include "platform/instance_lock.h"
#include "platform/interface_query.h"
#include "platform/window_lookup.h"

namespace {

TEST(WindowsInstanceLock, OneHolderAtATimeAndFreedWithItsHolder) {
    const std::string path = InstanceLockPath("vx418-test", "windows:0");
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.find(':', 2), std::string::npos) << path;  // only the drive's colon
    {
        InstanceLock first(path);
        ASSERT_EQ(first.state(), InstanceLock::State::Held) << first.error();
        InstanceLock second(path);
        EXPECT_EQ(second.state(), InstanceLock::State::HeldByOther);
    }
    InstanceLock again(path);
    EXPECT_EQ(again.state(), InstanceLock::State::Held) << again.error();
}

TEST(WindowsWindowLookup, FindsATopLevelWindowByItsExactTitle) {
    constexpr char kTitle[] = "VX418 lookup test window";
    EXPECT_FALSE(TopLevelWindowExists(kTitle));
    HWND window = CreateWindowExA(0, "STATIC", kTitle, WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(TopLevelWindowExists(kTitle));
    EXPECT_FALSE(TopLevelWindowExists("VX418 lookup test"));
    DestroyWindow(window);
    EXPECT_FALSE(TopLevelWindowExists(kTitle));
}

TEST(WindowsInterfaceQuery, NamesWithoutAnAdapterGuidAreUnknown) {
    for (const char* name : {"", "eth0", "\\Device\\NPF_Loopback", "\\Device\\NPF_{0000}"}) {
        EXPECT_FALSE(QueryInterfaceMac(name)) << name;
        EXPECT_FALSE(QueryInterfaceLinkType(name)) << name;
    }
}

TEST(WpcapBackend, WithoutTheLibraryEveryCallNamesNpcap) {
    WpcapCaptureBackend backend("vx418-no-such-capture-library.dll");
    EXPECT_FALSE(backend.Loaded());
    std::string error;
    EXPECT_FALSE(backend.FindAllDevices(error));
    EXPECT_NE(error.find("Npcap"), std::string::npos) << error;
    error.clear();
    EXPECT_EQ(backend.Open("rpcap://\\Device\\NPF_{X}", OpenParameters{}, error), nullptr);
    EXPECT_NE(error.find("Npcap"), std::string::npos) << error;
}

// A device list entry with an IPv6 address before its IPv4 one, as Windows often lists them.
struct Device {
    sockaddr_in6 v6{};
    sockaddr_in v4{};
    wpcap::Address second{};
    wpcap::Address first{};
    wpcap::Interface entry{};
    std::string name = "rpcap://\\Device\\NPF_{A1B2}";

    Device(const char* description, std::uint32_t flags) {
        v6.sin6_family = AF_INET6;
        v4.sin_family = AF_INET;
        const unsigned char ip[4] = {198, 18, 0, 1};
        std::memcpy(&v4.sin_addr, ip, sizeof ip);
        second.addr = reinterpret_cast<sockaddr*>(&v4);
        first.addr = reinterpret_cast<sockaddr*>(&v6);
        first.next = &second;
        entry.name = name.data();
        entry.description = const_cast<char*>(description);
        entry.addresses = &first;
        entry.flags = flags;
    }
};

TEST(WpcapBackend, OffersEthernetAdaptersWithTheirFirstIpv4Address) {
    const auto ethernet = [](const std::string&) { return InterfaceLinkType::Ethernet; };
    const auto other = [](const std::string&) { return InterfaceLinkType::Other; };
    const auto unknown = [](const std::string&) { return std::optional<InterfaceLinkType>(); };
    struct Case {
        const char* description;
        std::uint32_t flags;
        LinkTypeQuery linkType;
        std::optional<std::string> expected;  // the offered description, nullopt: not offered
    };
    const Case cases[] = {
        {"Network adapter 'Lab' on local host", 0, ethernet, "Network adapter 'Lab' on local host"},
        {"", 0, ethernet, "\\Device\\NPF_{A1B2} (198.18.0.1)"},
        {"loopback", 1, ethernet, std::nullopt},
        {"tunnel", 0, other, std::nullopt},
        {"gone", 0, unknown, std::nullopt},
    };
    for (const Case& c : cases) {
        Device device(c.description, c.flags);
        const auto info = AdapterFromWpcapDevice(device.entry, c.linkType);
        ASSERT_EQ(info.has_value(), c.expected.has_value()) << c.description;
        if (!info) {
            continue;
        }
        EXPECT_EQ(info->name, device.name);
        EXPECT_EQ(info->description, c.expected);
        ASSERT_EQ(info->addresses.size(), 2u);
        EXPECT_FALSE(info->addresses[0].isIpv4);
        EXPECT_TRUE(info->addresses[1].isIpv4);
        EXPECT_EQ(info->addresses[1].ipv4, (std::array<std::uint8_t, 4>{198, 18, 0, 1}));
    }
}

}  // namespace
