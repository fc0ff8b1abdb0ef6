#include "sim_link.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#ifndef PACKET_IGNORE_OUTGOING
#define PACKET_IGNORE_OUTGOING 23
#endif

namespace vxsim {

namespace {

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

std::unique_ptr<PacketLink> PacketLink::Open(const std::string& interfaceName, std::string& error) {
    const unsigned index = if_nametoindex(interfaceName.c_str());
    if (index == 0) {
        error = Errno(("interface " + interfaceName).c_str());
        return nullptr;
    }
    const int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
    if (fd < 0) {
        error = Errno("socket(AF_PACKET)");
        return nullptr;
    }
    std::unique_ptr<PacketLink> link(new PacketLink(fd));
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = static_cast<int>(index);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = Errno("bind");
        return nullptr;
    }
    packet_mreq membership{};
    membership.mr_ifindex = static_cast<int>(index);
    membership.mr_type = PACKET_MR_PROMISC;
    if (setsockopt(fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        error = Errno("promiscuous mode");
        return nullptr;
    }
    // Best effort: older kernels lack these; without them we only do a little more work.
    const int one = 1;
    setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
    setsockopt(fd, SOL_PACKET, PACKET_QDISC_BYPASS, &one, sizeof one);
    const int bufferBytes = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    return link;
}

PacketLink::~PacketLink() {
    close(fd_);
}

bool PacketLink::Send(std::span<const std::uint8_t> frame) {
    return send(fd_, frame.data(), frame.size(), 0) == static_cast<ssize_t>(frame.size());
}

std::size_t PacketLink::SendBatch(const std::vector<Bytes>& frames) {
    std::vector<iovec> vectors(frames.size());
    std::vector<mmsghdr> messages(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        vectors[i].iov_base = const_cast<std::uint8_t*>(frames[i].data());
        vectors[i].iov_len = frames[i].size();
        messages[i] = {};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    const int sent = sendmmsg(fd_, messages.data(), static_cast<unsigned>(messages.size()), 0);
    return sent < 0 ? 0 : static_cast<std::size_t>(sent);
}

long PacketLink::Receive(std::span<std::uint8_t> buffer, int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, timeoutMs);
    if (ready < 0) {
        return errno == EINTR ? 0 : -1;
    }
    if (ready == 0) {
        return 0;
    }
    sockaddr_ll from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = recvfrom(fd_, buffer.data(), buffer.size(), MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) {
        return errno == EINTR || errno == EAGAIN ? 0 : -1;
    }
    // Where the kernel cannot ignore outgoing frames for us (our foreign-traffic socket's).
    if (from.sll_pkttype == PACKET_OUTGOING) {
        return 0;
    }
    return static_cast<long>(n);
}

}  // namespace vxsim
