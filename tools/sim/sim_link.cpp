#include "sim_link.h"

#include <pcap/pcap.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vxsim {

namespace {

constexpr int kSnapshotLength = 65536;
constexpr int kReadTimeoutMs = 100;
constexpr int kBufferBytes = 4 << 20;

}  // namespace

std::unique_ptr<PacketLink> PacketLink::Open(const std::string& interfaceName, std::string& error) {
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* p = pcap_create(interfaceName.c_str(), errbuf);
    if (p == nullptr) {
        error = errbuf;
        return nullptr;
    }
    auto fail = [&](const std::string& what) {
        const std::string reason = pcap_geterr(p);
        error = what + ": " + (reason.empty() ? "failed" : reason);
        pcap_close(p);
        return nullptr;
    };
    if (pcap_set_snaplen(p, kSnapshotLength) != 0 || pcap_set_promisc(p, 1) != 0 ||
        pcap_set_timeout(p, kReadTimeoutMs) != 0 || pcap_set_immediate_mode(p, 1) != 0 ||
        pcap_set_buffer_size(p, kBufferBytes) != 0) {
        return fail("configuring " + interfaceName);
    }
    const int status = pcap_activate(p);
    if (status < 0) {
        const std::string reason = pcap_geterr(p);
        error = interfaceName + ": " + (reason.empty() ? pcap_statustostr(status) : reason);
        pcap_close(p);
        return nullptr;
    }
    if (pcap_datalink(p) != DLT_EN10MB) {
        error = interfaceName + " is not an Ethernet interface";
        pcap_close(p);
        return nullptr;
    }
    // Our own replies and foreign traffic must not come back in as requests.
    if (pcap_setdirection(p, PCAP_D_IN) != 0) {
        return fail("capture direction");
    }
    if (pcap_setnonblock(p, 1, errbuf) != 0) {
        error = errbuf;
        pcap_close(p);
        return nullptr;
    }
    const int fd = pcap_get_selectable_fd(p);
    if (fd < 0) {
        return fail("no selectable descriptor");
    }
    return std::unique_ptr<PacketLink>(new PacketLink(p, fd));
}

PacketLink::~PacketLink() {
    pcap_close(handle_);
}

bool PacketLink::Send(std::span<const std::uint8_t> frame) {
    return pcap_sendpacket(handle_, frame.data(), static_cast<int>(frame.size())) == 0;
}

std::size_t PacketLink::SendBatch(const std::vector<Bytes>& frames) {
    std::size_t sent = 0;
    while (sent < frames.size() && Send(frames[sent])) {
        ++sent;
    }
    return sent;
}

long PacketLink::Receive(std::span<std::uint8_t> buffer, int timeoutMs) {
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    int result = pcap_next_ex(handle_, &header, &data);
    if (result == 0) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) < 0 && errno != EINTR) {
            return -1;
        }
        result = pcap_next_ex(handle_, &header, &data);
    }
    if (result == 0) {
        return 0;
    }
    if (result != 1) {
        return -1;
    }
    std::copy_n(data, std::min<std::size_t>(header->caplen, buffer.size()), buffer.begin());
    return static_cast<long>(header->caplen);
}

std::string PacketLink::LastError() const {
    return pcap_geterr(handle_);
}

}  // namespace vxsim
