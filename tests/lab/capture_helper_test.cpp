// The capture helper vx418-capture on the lab link, through the backend that starts it: it opens
// only the adapters it lists, sends only the units' requests from the adapter's own address,
// and passes up only the units' port while other traffic floods the link.

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <atomic>
#include <thread>

#include "lab_fixture.h"
#include "lab_test_base.h"
#include "net/frame_builder.h"
#include "net/posix/helper_backend.h"
#include "protocol/device_table.h"
#include "wait_until.h"

namespace {

using namespace std::chrono_literals;
using vxlab::Lab;
using Frame = std::vector<std::uint8_t>;

class HelperLab : public vxlab::LabTestBase {
  protected:
    void TearDown() override {
        handle_.reset();
        LabTestBase::TearDown();
    }

    void Open() {
        std::string error;
        handle_ = backend_.Open(Lab::kStationAdapter, {}, error);
        ASSERT_TRUE(handle_) << error;
        const auto mac = backend_.QueryCurrentAddress(Lab::kStationInterface);
        ASSERT_TRUE(mac);
        mac_ = *mac;
    }

    HelperCaptureBackend backend_{VX_CAPTURE_HELPER};
    std::unique_ptr<CaptureHandle> handle_;
    MacBytes mac_{};
};

// The frames that leave the station while send() runs, but for its kernel's own ARP and ICMP
// (its answers to the units' replies). The calling thread is in the station namespace.
std::vector<Frame> LeavingStation(const std::function<void()>& send, std::string& error) {
    std::vector<Frame> frames;
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* p = pcap_open_live(Lab::kStationInterface, 256, 0, 100, errbuf);
    bpf_program filter{};
    if (p == nullptr || pcap_setdirection(p, PCAP_D_OUT) != 0 || pcap_setnonblock(p, 1, errbuf) ||
        pcap_compile(p, &filter, "not arp and not icmp", 1, PCAP_NETMASK_UNKNOWN) != 0 ||
        pcap_setfilter(p, &filter) != 0) {
        error = p != nullptr ? pcap_geterr(p) : errbuf;
        return frames;
    }
    send();
    std::this_thread::sleep_for(300ms);
    pcap_dispatch(
        p, -1,
        [](u_char* out, const pcap_pkthdr* h, const u_char* bytes) {
            reinterpret_cast<std::vector<Frame>*>(out)->emplace_back(bytes, bytes + h->caplen);
        },
        reinterpret_cast<u_char*>(&frames));
    pcap_freecode(&filter);
    pcap_close(p);
    return frames;
}

TEST_F(HelperLab, OpensOnlyListedAdaptersAndSendsOnlyTfdpRequestsFromTheAdapter) {
    ASSERT_NO_FATAL_FAILURE(StartLab({}));
    for (const char* name : {"rpcap://lo", "rpcap://any", "rpcap://vxnothere0", "vxst0"}) {
        std::string error;
        OpenOutcome outcome;
        EXPECT_FALSE(backend_.OpenWithOutcome(name, {}, error, outcome)) << name;
        EXPECT_NE(error.find("is not an adapter vx418-capture lists"), std::string::npos) << error;
        EXPECT_FALSE(outcome.notPermitted) << name;
    }
    ASSERT_NO_FATAL_FAILURE(Open());

    // A request of each class; the refused frames are the discovery request changed.
    std::vector<Frame> goods;
    const ConfigBlock config{};
    for (const RequestKind kind : {kDiscoveryRequest, kSetNameRequest, kAddReceiverRequest}) {
        ProtocolFrame request{};
        ASSERT_TRUE(AssembleRequestFrame(kind, config.data(), mac_, {198, 18, 0, 1}, request));
        goods.emplace_back(request.begin(), request.end());
    }
    const Frame& good = goods[0];
    const auto changed = [&](std::size_t offset, std::uint8_t value) {
        Frame f = good;
        f[offset] = value;
        return f;
    };
    const auto lengths = [&](std::uint16_t ip, std::uint16_t udp) {
        Frame f = good;
        WriteBe16(f.data() + kIpTotalLengthOffset, ip);
        WriteBe16(f.data() + kUdpLengthOffset, udp);
        return f;
    };
    const std::vector<std::pair<const char*, Frame>> refused{
        {"127 bytes", Frame(good.begin(), good.end() - 1)},
        {"129 bytes",
         [&] {
             Frame f = good;
             f.push_back(0);
             return f;
         }()},
        {"foreign source MAC", changed(kEthSourceMacOffset + 5, mac_[5] ^ 1)},
        {"ARP", changed(kEthTypeOffset + 1, 0x06)},
        {"IPv4 options", changed(kIpVersionIhlOffset, 0x46)},
        {"TCP", changed(kIpProtocolOffset, 6)},
        {"to UDP port 2099", changed(kUdpDestPortOffset + 1, 0x33)},
        {"from UDP port 53", changed(kUdpSourcePortOffset, 0)},
        {"no TFDP magic", changed(kTfdpMagicOffset, 0)},
        {"more fragments", changed(kIpFlagsFragmentOffset, 0x20)},
        {"a fragment offset", changed(kIpFlagsFragmentOffset + 1, 1)},
        {"don't fragment", changed(kIpFlagsFragmentOffset, 0x40)},
        {"a reply's class", changed(kTfdpClassOffset, 0x80)},
        {"a class no request has", changed(kTfdpClassOffset + 1, 0x02)},
        {"lengths reaching to byte 128", lengths(114, 94)},
        {"a configuration request's lengths", lengths(72, 52)},
        {"IPv4 length of a connection request", lengths(62, 20)},
        {"UDP length of a connection request", lengths(40, 42)},
    };
    std::string error;
    const auto arrived = LeavingStation(
        [&] {
            for (const auto& [what, frame] : refused) {
                EXPECT_NE(handle_->SendPacket(frame.data(), frame.size()), 0) << what;
                EXPECT_NE(handle_->LastError().find("vx418-capture refused the frame"),
                          std::string::npos)
                    << what << ": " << handle_->LastError();
            }
            for (const Frame& request : goods) {
                EXPECT_EQ(handle_->SendPacket(request.data(), request.size()), 0)
                    << handle_->LastError();
            }
        },
        error);
    ASSERT_TRUE(error.empty()) << error;
    EXPECT_EQ(arrived, goods) << "a refused frame reached the wire, or a request did not";
}

TEST_F(HelperLab, PassesUpOnlyTheUnitsPortWhileForeignTrafficFloodsTheLink) {
    ASSERT_NO_FATAL_FAILURE(StartLab({.extraArgs = {"--foreign-rate", "100000"}}));
    ASSERT_NO_FATAL_FAILURE(Open());
    std::atomic<long> passed = 0;
    std::atomic<long> excluded = 0;
    std::thread loop([&] {
        handle_->Loop([&](const std::uint8_t* f, std::size_t length) {
            const auto be16 = [&](std::size_t at) { return f[at] << 8 | f[at + 1]; };
            const bool unitsPort =
                length >= kUdpHeaderOffset + kUdpHeaderSize &&
                be16(kEthTypeOffset) == kEtherTypeIpv4 && f[kIpProtocolOffset] == kIpProtocolUdp &&
                (be16(kUdpSourcePortOffset) == kTfdpPort || be16(kUdpDestPortOffset) == kTfdpPort);
            ++(unitsPort ? passed : excluded);
        });
    });
    const auto sent = lab_->WaitForEvent(
        [](const vxlab::SimEvent& e) { return e.Is("foreign") && e.Number("sent") >= 50000; }, 10s);
    handle_->BreakLoop();
    loop.join();
    ASSERT_TRUE(sent);
    EXPECT_TRUE(handle_->Drops()) << "the helper did not pass on the library's counters";
    EXPECT_GT(passed, 10000);  // the mix's TFDP look-alikes pass the filter and are passed up
    EXPECT_EQ(excluded, 0);
}

}  // namespace
