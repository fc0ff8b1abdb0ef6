// The station's capture and send path on real interfaces: libpcap on the station side of the
// lab, vx418-sim on the other. No window: replies go to a recording line sink and a table of
// the test's own.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "lab_capture_backend.h"
#include "lab_fixture.h"
#include "lab_test_base.h"
#include "net/adapter.h"
#include "net/adapter_state.h"
#include "net/frame_builder.h"
#include "net/posix/pcap_backend.h"
#include "protocol/messages.h"
#include "wait_until.h"

namespace {

using namespace std::chrono_literals;
using vxlab::Lab;
using vxlab::SimEvent;

class RecordingSink final : public LineSink {
  public:
    void Log(std::string_view text) override {
        const std::lock_guard lock(mutex_);
        logs_.emplace_back(text);
    }
    void Trace(std::string_view) override {}
    std::vector<std::string> Logs() const {
        const std::lock_guard lock(mutex_);
        return logs_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> logs_;
};

template <typename Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds timeout) {
    return vxtest::SleepUntil(pred, timeout);
}

// The station without its window: the lab adapter opened through the lab's backend as the
// current adapter, and a capture loop that hands every frame to the reply handling.
class Station {
  public:
    explicit Station(PcapOptions options = {}) : backend_(LabCaptureBackend(options)) {}
    ~Station() {
        if (handle_) {
            handle_->BreakLoop();
        }
        if (loop_.joinable()) {
            loop_.join();
        }
        SetCurrentAdapter({});
    }

    bool Open(std::string& error) {
        auto adapters = backend_->FindAllDevices(error);
        if (!adapters) {
            return false;
        }
        const auto lab = std::find_if(adapters->begin(), adapters->end(),
                                      [](const auto& a) { return a.name == Lab::kStationAdapter; });
        const auto mac = backend_->QueryCurrentAddress(Lab::kStationInterface);
        if (lab == adapters->end() || !mac) {
            error = "lab adapter not listed or its MAC unknown";
            return false;
        }
        // The address as the program takes it, by the program's own rule: the tests below
        // compare it with the library's listing.
        const auto ip = FirstIpv4Address(lab->addresses);
        if (!ip) {
            error = "lab adapter listed without an IPv4 address";
            return false;
        }
        handle_ = backend_->Open(lab->name, OpenParameters{}, error);
        if (!handle_) {
            return false;
        }
        mac_ = *mac;
        SetCurrentAdapter({handle_, *mac, *ip});
        loop_ = std::thread([this] {
            handle_->Loop([this](const std::uint8_t* frame, std::size_t length) {
                HandleCapturedFrame(frame, length, table, sink, mac_);
            });
        });
        return true;
    }

    void Discover() {
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(SendRequest(nullptr, kDiscoveryRequest), 1);
            std::this_thread::sleep_for(200ms);
        }
    }

    std::string MacText() const { return ::MacText(mac_); }
    const MacBytes& Mac() const { return mac_; }
    // The kernel's counters; the helper does not report them.
    std::optional<CaptureStatistics> Statistics() const {
        auto* const pcap = dynamic_cast<PcapCaptureHandle*>(handle_.get());
        return pcap != nullptr ? pcap->Statistics() : std::nullopt;
    }

    DeviceTable table;
    RecordingSink sink;

  private:
    std::shared_ptr<CaptureBackend> backend_;
    std::shared_ptr<CaptureHandle> handle_;
    MacBytes mac_{};
    std::thread loop_;
};

// A lab with the station's capture path opened inside the station namespace.
class LabTest : public vxlab::LabTestBase {
  protected:
    void TearDown() override {
        station_.reset();
        LabTestBase::TearDown();
    }

    void OpenStation(PcapOptions options = {}) {
        station_ = std::make_unique<Station>(options);
        std::string error;
        ASSERT_TRUE(station_->Open(error)) << error;
    }

    std::unique_ptr<Station> station_;
};

// ---- The adapter list, without privileges ----

struct FakeDevice {
    std::string name;
    std::string description;
    unsigned flags = 0;
    std::vector<sockaddr_storage> addresses;
};

sockaddr_storage Inet(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    sockaddr_storage s{};
    auto* in = reinterpret_cast<sockaddr_in*>(&s);
    in->sin_family = AF_INET;
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::memcpy(&in->sin_addr, bytes, 4);
    return s;
}

sockaddr_storage Family(int family) {
    sockaddr_storage s{};
    s.ss_family = static_cast<sa_family_t>(family);
    return s;
}

std::optional<AdapterInfo> Convert(FakeDevice& d, bool remote = false) {
    std::vector<pcap_addr> addrs(d.addresses.size());
    for (std::size_t i = 0; i < addrs.size(); ++i) {
        addrs[i] = {};
        addrs[i].addr = reinterpret_cast<sockaddr*>(&d.addresses[i]);
        addrs[i].next = i + 1 < addrs.size() ? &addrs[i + 1] : nullptr;
    }
    pcap_if device{};
    device.name = d.name.data();
    device.description = d.description.empty() ? nullptr : d.description.data();
    device.flags = d.flags;
    device.addresses = addrs.empty() ? nullptr : addrs.data();
    return AdapterFromDevice(device, remote, [](const std::string& name) {
        if (name.rfind("tun", 0) == 0) {
            return std::optional(InterfaceLinkType::Other);
        }
        if (name == "gone") {
            return std::optional<InterfaceLinkType>();
        }
        return std::optional(InterfaceLinkType::Ethernet);
    });
}

TEST(AdapterList, OffersEthernetInterfacesDescribedByNameAndFirstIpv4) {
    FakeDevice eth{"eth0", "", 0, {Family(AF_PACKET), Inet(10, 1, 2, 3), Family(AF_INET6)}};
    const auto info = Convert(eth);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->name, "rpcap://eth0");
    EXPECT_EQ(info->description, "eth0 (10.1.2.3)");
    // The link-layer entry comes first and carries no IPv4 address.
    ASSERT_EQ(info->addresses.size(), 3u);
    EXPECT_FALSE(info->addresses[0].isIpv4);
    EXPECT_TRUE(info->addresses[1].isIpv4);
    EXPECT_EQ(info->addresses[1].ipv4, (std::array<std::uint8_t, 4>{10, 1, 2, 3}));

    FakeDevice bare{"veth9", "", 0, {Family(AF_PACKET)}};
    EXPECT_EQ(Convert(bare)->description, "veth9 (no IPv4 address)");
    FakeDevice described{"wlan0", "Wireless 50% off", 0, {}};
    EXPECT_EQ(Convert(described)->description, "Wireless 50% off");
    FakeDevice remote{"rpcap://eth1", "", 0, {Inet(1, 2, 3, 4)}};
    EXPECT_EQ(Convert(remote, true)->name, "rpcap://eth1");
    EXPECT_EQ(Convert(remote, true)->description, "eth1 (1.2.3.4)");
}

TEST(AdapterList, LeavesOutWhatCannotCarryEthernetFrames) {
    for (FakeDevice d :
         {FakeDevice{"any", "Pseudo-device that captures on all interfaces"},
          FakeDevice{"nflog", "Linux netfilter log (NFLOG) interface"}, FakeDevice{"nfqueue", ""},
          FakeDevice{"dbus-system", "D-Bus"}, FakeDevice{"bluetooth-monitor", ""},
          FakeDevice{"usbmon1", ""}, FakeDevice{"lo", "", PCAP_IF_LOOPBACK, {Inet(127, 0, 0, 1)}},
          FakeDevice{"tun0", "", 0, {Inet(10, 8, 0, 1)}}, FakeDevice{"gone", ""}}) {
        EXPECT_FALSE(Convert(d)) << d.name;
    }
}

TEST(InterfaceQuery, KnowsLoopbackAndUnknownInterfaces) {
    EXPECT_EQ(QueryInterfaceLinkType("lo"), InterfaceLinkType::Loopback);
    EXPECT_FALSE(QueryInterfaceMac("lo"));  // no Ethernet address
    EXPECT_FALSE(QueryInterfaceLinkType("vxnonexistent0"));
    EXPECT_FALSE(QueryInterfaceMac("vxnonexistent0"));
    EXPECT_FALSE(QueryInterfaceMac(std::string(40, 'x')));  // longer than any interface name
    EXPECT_FALSE(QueryInterfaceMac(""));
}

// ---- On the lab link ----

TEST_F(LabTest, ListsTheLabInterfacesWithAddressAndMac) {
    ASSERT_NO_FATAL_FAILURE(StartLab({}));
    std::string error;
    ASSERT_TRUE(lab_->AddStationInterface("vxst1", true, "", error)) << error;
    PcapCaptureBackend backend;
    const auto adapters = backend.FindAllDevices(error);
    ASSERT_TRUE(adapters) << error;
    auto find = [&](const std::string& name) {
        return std::find_if(adapters->begin(), adapters->end(),
                            [&](const AdapterInfo& a) { return a.name == name; });
    };
    ASSERT_NE(find("rpcap://vxst0"), adapters->end());
    EXPECT_EQ(find("rpcap://vxst0")->description, "vxst0 (198.18.0.1)");
    ASSERT_NE(find("rpcap://vxst1"), adapters->end());
    EXPECT_EQ(find("rpcap://vxst1")->description, "vxst1 (no IPv4 address)");
    EXPECT_EQ(find("rpcap://lo"), adapters->end());
    EXPECT_EQ(find("rpcap://any"), adapters->end());

    std::string output;
    ASSERT_EQ(Lab::Run({"ip", "-br", "link", "show", "vxst0"}, &output), 0);
    const auto mac = backend.QueryCurrentAddress("vxst0");
    ASSERT_TRUE(mac);
    EXPECT_NE(output.find(MacText(*mac)), std::string::npos) << output;
}

// The IPv4 addresses libpcap lists for an interface, in its order (read here without the
// backend, whose reading is under test).
std::vector<std::string> ListedIpv4(const std::string& interfaceName) {
    std::vector<std::string> listed;
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* devices = nullptr;
    if (pcap_findalldevs(&devices, errbuf) != 0) {
        return listed;
    }
    for (const pcap_if_t* d = devices; d != nullptr; d = d->next) {
        for (const pcap_addr* a = d->addresses; a != nullptr && interfaceName == d->name;
             a = a->next) {
            if (a->addr != nullptr && a->addr->sa_family == AF_INET) {
                char text[INET_ADDRSTRLEN] = {};
                inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a->addr)->sin_addr, text,
                          sizeof text);
                listed.emplace_back(text);
            }
        }
    }
    pcap_freealldevs(devices);
    return listed;
}

TEST_F(LabTest, RequestsCarryTheFirstIpv4AddressListedForTheAdapter) {
    ASSERT_NO_FATAL_FAILURE(StartLab({}));
    const std::string& ns = lab_->StationNamespace();
    std::set<std::string> firstListed;
    // The second address of a subnet is listed after the first, so adding the two in either
    // order puts each of them first once.
    for (const auto& [first, second] : {std::pair{"198.18.0.1/15", "198.18.0.7/15"},
                                        std::pair{"198.18.0.7/15", "198.18.0.1/15"}}) {
        SCOPED_TRACE(std::string(first) + " then " + second);
        ASSERT_EQ(lab_->Ip(ns, {"-4", "addr", "flush", "dev", Lab::kStationInterface}), 0);
        for (const char* cidr : {first, second}) {
            ASSERT_EQ(lab_->Ip(ns, {"addr", "add", cidr, "dev", Lab::kStationInterface}), 0);
        }
        const auto listed = ListedIpv4(Lab::kStationInterface);
        ASSERT_EQ(listed.size(), 2u);
        firstListed.insert(listed[0]);

        ASSERT_NO_FATAL_FAILURE(OpenStation());
        const std::size_t from = lab_->EventCount();
        ASSERT_EQ(SendRequest(nullptr, kDiscoveryRequest), 1);
        // The simulator reads station_ip from frame bytes 26..29.
        const auto request =
            lab_->WaitForEvent([](const SimEvent& e) { return e.Is("request"); }, 2s, from);
        ASSERT_TRUE(request);
        EXPECT_EQ(request->Text("station_ip"), listed[0]);
        station_.reset();
    }
    EXPECT_EQ(firstListed.size(), 2u) << "the listing did not follow the order of adding";
}

TEST_F(LabTest, DiscoveryBringsEveryUnitIntoTheTableAsTheUnitsReportThemselves) {
    ASSERT_NO_FATAL_FAILURE(StartLab({}));
    ASSERT_NO_FATAL_FAILURE(OpenStation());
    station_->Discover();
    ASSERT_TRUE(WaitUntil([&] { return station_->table.DeviceCount() == 9; }, 3s))
        << station_->table.DeviceCount();
    for (const DeviceRecord& r : station_->table.Snapshot()) {
        const auto unit = lab_->UnitState(MacText(r.Mac));
        ASSERT_TRUE(unit) << MacText(r.Mac);
        EXPECT_EQ(NameText(r.Name), unit->Text("name"));
        EXPECT_EQ(Ipv4Text(r.Ip), unit->Text("ip"));
        EXPECT_EQ(r.Kind, unit->Number("kind"));
        if (r.Kind != 0) {
            EXPECT_EQ(r.Mode, unit->Number("mode"));
        }
        EXPECT_EQ(Ipv4Text(r.PeerIp), unit->Text("peer"));
        EXPECT_EQ(MacText(r.T1Mac), unit->Text("t1"));
        EXPECT_EQ(MacText(r.T2Mac), unit->Text("t2"));
    }
    // Each unit answered three broadcasts, from the station's own address.
    const auto request = lab_->WaitForEvent([](const SimEvent& e) { return e.Is("request"); }, 0ms);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->Text("station"), station_->MacText());
    EXPECT_EQ(request->Text("station_ip"), Lab::kStationAddress);
    EXPECT_TRUE(station_->sink.Logs().empty());
}

const char* kSpare1 = "02:18:00:00:02:05";
const char* kSpare2 = "02:18:00:00:02:06";
const char* kSpare3 = "02:18:00:00:02:07";
const char* kHall = "02:18:00:00:01:01";
const char* kStage = "02:18:00:00:01:02";
const char* kFoyer = "02:18:00:00:02:01";
const char* kStageL = "02:18:00:00:02:03";

// Sends one request and waits for the simulator's reply event to it.
std::optional<SimEvent> SendAndAwaitReply(Lab& lab, const std::function<bool()>& send) {
    const std::size_t from = lab.EventCount();
    if (!send()) {
        return std::nullopt;
    }
    return lab.WaitForEvent([](const SimEvent& e) { return e.Is("reply"); }, 2s, from);
}

TEST_F(LabTest, EveryRequestChangesTheUnitsAndItsReplyReachesTheLog) {
    ASSERT_NO_FATAL_FAILURE(StartLab({}));
    ASSERT_NO_FATAL_FAILURE(OpenStation());
    station_->Discover();
    ASSERT_TRUE(WaitUntil([&] { return station_->table.DeviceCount() == 9; }, 3s));
    DeviceTable& table = station_->table;

    auto config = [&](const char* mac, auto fill, RequestKind kind) {
        return [&table, mac, fill, kind] {
            ConfigBlock block{};
            BuildConfigBlock(table, mac, block);
            fill(block);
            return SendRequest(block.data(), kind) == 1;
        };
    };
    auto connection = [&](const char* addressed, const char* other, std::uint16_t selector,
                          RequestKind kind) {
        return [&table, addressed, other, selector, kind] {
            ConnectionBlock block{};
            BuildConnectionBlock(table, addressed, other, block);
            SetSelector(block, selector);
            return selector == 0 ? SendRequest(block.data(), kind) == 1 : SendBackupRequest(block);
        };
    };

    auto reply = SendAndAwaitReply(
        *lab_, config(
                   kSpare1, [](ConfigBlock& b) { SetNewName(b, "LOBBY"); }, kSetNameRequest));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Text("accepted"), "true");
    EXPECT_EQ(lab_->UnitState(kSpare1)->Text("name"), "LOBBY");

    reply = SendAndAwaitReply(*lab_, config(
                                         kSpare2,
                                         [](ConfigBlock& b) {
                                             SetNewIpAddress(b, {198, 18, 1, 99});
                                         },
                                         kSetIpRequest));
    ASSERT_TRUE(reply);
    EXPECT_EQ(lab_->UnitState(kSpare2)->Text("ip"), "198.18.1.99");

    // Unicast: the Transmitter is addressed and told its new main Receiver.
    reply = SendAndAwaitReply(*lab_, connection(kStage, kSpare3, 0, kAddReceiverRequest));
    ASSERT_TRUE(reply);
    EXPECT_EQ(lab_->UnitState(kStage)->Text("t1"), kSpare3);
    EXPECT_EQ(lab_->UnitState(kSpare3)->Text("t1"), kStage);
    EXPECT_EQ(lab_->UnitState(kStageL)->Text("t1"), kStage);  // the replaced one keeps its link

    reply = SendAndAwaitReply(*lab_, connection(kStage, kStageL, 2, kAddReceiverRequest));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Text("op"), "add-backup");
    EXPECT_EQ(lab_->UnitState(kStage)->Text("t3"), kStageL);

    // Multicast: the Receiver is addressed and names its Transmitter.
    reply = SendAndAwaitReply(*lab_, connection(kFoyer, kHall, 0, kDeleteReceiverRequest));
    ASSERT_TRUE(reply);
    EXPECT_EQ(lab_->UnitState(kFoyer)->Text("t1"), "00:00:00:00:00:00");

    reply = SendAndAwaitReply(
        *lab_, config(
                   kHall, [](ConfigBlock& b) { SetTopologyMode(b, 1); }, kSetTopologyRequest));
    ASSERT_TRUE(reply);
    EXPECT_EQ(lab_->UnitState(kHall)->Number("mode"), 1);

    // A unit's refusal: a multicast add sent to a Transmitter that is now unicast... addressed
    // as if it were still multicast.
    reply = SendAndAwaitReply(*lab_, connection(kFoyer, kHall, 0, kAddReceiverRequest));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Text("accepted"), "false");

    const std::vector<std::string> expected{
        "Succeeded in updating device's name.",
        "Succeeded in updating device's IP address. Please wait 3 seconds to refresh",
        "Succeeded in adding the Receiver.",
        "Succeeded in adding the Receiver.",
        "Succeeded in deleting the Receiver.",
        "Succeeded in updating device's topology mode. Please wait 3 seconds to refresh",
        "Failed to add the Receiver.",
    };
    ASSERT_TRUE(WaitUntil([&] { return station_->sink.Logs().size() >= expected.size(); }, 2s));
    EXPECT_EQ(station_->sink.Logs(), expected);
    EXPECT_FALSE(lab_->WaitForEvent([](const SimEvent& e) { return e.Is("malformed"); }, 0ms));
}

TEST_F(LabTest, RefusingUnitsGiveTheFailureLines) {
    ASSERT_NO_FATAL_FAILURE(StartLab({.extraArgs = {"--refuse", "all"}}));
    ASSERT_NO_FATAL_FAILURE(OpenStation());
    station_->Discover();
    ASSERT_TRUE(WaitUntil([&] { return station_->table.DeviceCount() == 9; }, 3s));
    ConfigBlock name{};
    BuildConfigBlock(station_->table, kSpare1, name);
    SetNewName(name, "X");
    ConfigBlock mode{};
    BuildConfigBlock(station_->table, kStage, mode);
    ConnectionBlock remove{};
    BuildConnectionBlock(station_->table, kStage, kStageL, remove);
    EXPECT_EQ(SendRequest(name.data(), kSetNameRequest), 1);
    EXPECT_EQ(SendRequest(mode.data(), kSetTopologyRequest), 1);
    EXPECT_EQ(SendRequest(remove.data(), kDeleteReceiverRequest), 1);
    ASSERT_TRUE(WaitUntil([&] { return station_->sink.Logs().size() >= 3; }, 2s));
    EXPECT_EQ(station_->sink.Logs(),
              (std::vector<std::string>{"Failed to update device's name.",
                                        "Failed to update device's topology mode.",
                                        "Failed to delete the Receiver."}));
    EXPECT_EQ(lab_->UnitState(kSpare1)->Text("name"), "SPARE1");
}

// The lengths every request kind must have on the wire.
struct WireShape {
    int frameLength;
    int ipLength;
    int udpLength;
    std::string payloadStart;  // magic, fixed word, class, operation
};

std::vector<std::vector<std::string>> ReadCapture(const std::string& file) {
    std::string output;
    const int status =
        Lab::Run({"tshark", "-r", file, "-o", "ip.check_checksum:TRUE", "-T", "fields", "-E",
                  "separator=|", "-e", "frame.len", "-e", "ip.len", "-e", "udp.length", "-e",
                  "ip.checksum.status", "-e", "udp.payload"},
                 &output);
    EXPECT_EQ(status, 0) << output;
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.find('|') == std::string::npos) {
            continue;  // tshark's own remarks
        }
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '|');) {
            fields.push_back(cell);
        }
        rows.push_back(fields);
    }
    return rows;
}

TEST_F(LabTest, EveryRequestKindPassesTsharkChecksumValidationWithTheRightLengths) {
    ASSERT_NO_FATAL_FAILURE(StartLab({}));
    ASSERT_NO_FATAL_FAILURE(OpenStation());
    station_->Discover();
    ASSERT_TRUE(WaitUntil([&] { return station_->table.DeviceCount() == 9; }, 3s));

    const std::string file = "/tmp/vxlab-requests-" + std::to_string(getpid()) + ".pcap";
    const std::string log = file + ".log";
    std::string error;
    auto tshark = vxlab::BackgroundProcess::Start(
        vxlab::InNamespace(lab_->StationNamespace(),
                           {"/usr/bin/tshark", "-i", Lab::kStationInterface, "-f",
                            "udp and ether src " + station_->MacText(), "-w", file}),
        "", log, error);
    ASSERT_TRUE(tshark) << error;
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::ifstream in(log);
            std::stringstream text;
            text << in.rdbuf();
            return text.str().find("Capture started") != std::string::npos;
        },
        10s))
        << "tshark did not start";
    std::this_thread::sleep_for(200ms);  // its filter is attached by now; leave a margin

    DeviceTable& table = station_->table;
    ConfigBlock config{};
    BuildConfigBlock(table, kSpare1, config);
    SetNewName(config, "WIRE");
    ConnectionBlock connection{};
    BuildConnectionBlock(table, kStage, kSpare2, connection);
    ConnectionBlock backup = connection;
    SetSelector(backup, 2);
    EXPECT_EQ(SendRequest(nullptr, kDiscoveryRequest), 1);
    for (const RequestKind kind : {kSetNameRequest, kSetIpRequest, kSetTopologyRequest}) {
        EXPECT_EQ(SendRequest(config.data(), kind), 1);
    }
    for (const RequestKind kind : {kDeleteReceiverRequest, kAddReceiverRequest}) {
        EXPECT_EQ(SendRequest(connection.data(), kind), 1);
    }
    EXPECT_TRUE(SendBackupRequest(backup));
    // Seven requests reach the simulator, every one parsed as well-formed.
    ASSERT_TRUE(lab_->WaitForEvent(
        [](const SimEvent& e) { return e.Is("request") && e.Text("op") == "add-backup"; }, 3s));
    std::this_thread::sleep_for(300ms);
    tshark->Signal(SIGINT);
    ASSERT_EQ(tshark->Wait(10s), 0);

    const std::vector<WireShape> shapes{
        {128, 40, 20, "1888000100010001"}, {128, 72, 52, "1888000100050001"},
        {128, 72, 52, "1888000100050002"}, {128, 72, 52, "1888000100050003"},
        {128, 62, 42, "1888000100030002"}, {128, 62, 42, "1888000100030001"},
        {128, 62, 42, "1888000100030001"},
    };
    const auto rows = ReadCapture(file);
    if (rows.size() == shapes.size()) {
        std::remove(file.c_str());
        std::remove(log.c_str());
    }
    // Only the requests sent above: the three discovery broadcasts went out before tshark ran.
    ASSERT_EQ(rows.size(), shapes.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 5u) << i;
        EXPECT_EQ(std::stoi(rows[i][0]), shapes[i].frameLength) << i;
        EXPECT_EQ(std::stoi(rows[i][1]), shapes[i].ipLength) << i;
        EXPECT_EQ(std::stoi(rows[i][2]), shapes[i].udpLength) << i;
        EXPECT_EQ(rows[i][3], "1") << "IPv4 header checksum not good in request " << i;
        EXPECT_EQ(rows[i][4].substr(0, 16), shapes[i].payloadStart) << i;
    }
    // The selector of the backup request (frame bytes 74..75) is the last payload word.
    EXPECT_EQ(rows.back()[4].substr(rows.back()[4].size() - 4), "0002");
    EXPECT_FALSE(lab_->WaitForEvent([](const SimEvent& e) { return e.Is("malformed"); }, 0ms));
}

// The station with and without the capture handle's kernel filter.
class CaptureFilterLabTest : public LabTest, public ::testing::WithParamInterface<bool> {
  protected:
    bool FilterOn() const { return GetParam(); }
    void OpenStation() { LabTest::OpenStation({.portFilter = FilterOn()}); }
};

TEST_P(CaptureFilterLabTest, ForeignTrafficAtAHundredThousandFramesASecondLeavesDiscoveryIntact) {
    constexpr int kUnits = 32;
    constexpr long long kForeignFrames = 100000;
    ASSERT_NO_FATAL_FAILURE(StartLab(
        {.preset = "many:" + std::to_string(kUnits), .extraArgs = {"--foreign-rate", "100000"}}));
    ASSERT_NO_FATAL_FAILURE(OpenStation());
    auto foreignSent = [](long long atLeast) {
        return
            [atLeast](const SimEvent& e) { return e.Is("foreign") && e.Number("sent") >= atLeast; };
    };
    // The foreign traffic is in full flow before the discovery, and goes on beyond it.
    ASSERT_TRUE(lab_->WaitForEvent(foreignSent(25000), 10s));
    station_->Discover();
    const bool all = WaitUntil([&] { return station_->table.DeviceCount() == kUnits; }, 5s);
    const auto progress = lab_->WaitForEvent(foreignSent(kForeignFrames), 20s);
    const auto stats = station_->Statistics().value_or(CaptureStatistics{});
    const auto stopped = lab_->StopSim();

    // Without the filter this is a measurement: a reply may be crowded out.
    if (FilterOn()) {
        EXPECT_TRUE(all) << station_->table.DeviceCount() << " of " << kUnits << " units";
    }
    // Nothing foreign got in: the table holds only simulated units, and no Log line.
    for (const DeviceRecord& r : station_->table.Snapshot()) {
        EXPECT_TRUE(lab_->UnitState(MacText(r.Mac))) << MacText(r.Mac);
    }
    EXPECT_TRUE(station_->sink.Logs().empty());
    ASSERT_TRUE(progress) << "the simulator did not send " << kForeignFrames << " frames";
    ASSERT_TRUE(stopped);
    std::printf(
        "port filter %s: foreign frames: %lld sent at %lld frames/s (refused by the socket: "
        "%lld); units found %d of %d; station capture%s: received %u, dropped %u, dropped by "
        "interface %u\n",
        FilterOn() ? "on" : "off", stopped->Number("foreign_sent"), progress->Number("rate"),
        stopped->Number("foreign_refused"), station_->table.DeviceCount(), kUnits,
        LabCapturesThroughHelper() ? " (through the helper: not counted)" : "", stats.received,
        stats.dropped, stats.interfaceDropped);
    RecordProperty("foreign_rate", std::to_string(progress->Number("rate")));
    RecordProperty("units_found", std::to_string(station_->table.DeviceCount()));
    RecordProperty("pcap_received", std::to_string(stats.received));
    RecordProperty("pcap_dropped", std::to_string(stats.dropped));
}

using Frame = std::vector<std::uint8_t>;

// A reply as a unit sends it (Ethernet II, IPv4, UDP 2098 to 2098, padded to 60 bytes), from a
// device the simulator does not play, to the station.
Frame UnitReply(const MacBytes& station, std::uint16_t messageClass, std::uint16_t code,
                const Frame& data = {}) {
    const auto udpLength = static_cast<std::uint16_t>(8 + 12 + data.size());
    const auto ipLength = static_cast<std::uint16_t>(20 + udpLength);
    Frame f(std::max<std::size_t>(60, 14u + ipLength), 0);
    std::copy(station.begin(), station.end(), f.begin());
    const Frame header{0x02, 0xfe, 0, 0, 0, 0x09, 0x08, 0x00, 0x45, 0x00};
    std::copy(header.begin(), header.end(), f.begin() + 6);
    WriteBe16(&f[16], ipLength);
    f[22] = 64;
    f[23] = 17;
    const Frame addresses{198, 18, 200, 9, 198, 18, 0, 1};
    std::copy(addresses.begin(), addresses.end(), f.begin() + 26);
    WriteBe16(&f[24], Ipv4HeaderChecksum(std::span<const std::uint8_t, 20>(&f[14], 20)));
    WriteBe16(&f[34], 2098);
    WriteBe16(&f[36], 2098);
    WriteBe16(&f[38], udpLength);
    const Frame tfdp{0x18, 0x88, 0x00, 0x01};
    std::copy(tfdp.begin(), tfdp.end(), f.begin() + 42);
    WriteBe16(&f[46], messageClass);
    WriteBe16(&f[48], code);
    f[50] = static_cast<std::uint8_t>(data.size());
    std::copy(data.begin(), data.end(), f.begin() + 54);
    return f;
}

// Puts frames on the link from the units' side, as another device on the segment would.
bool SendFromUnitSide(const Lab& lab, const std::vector<Frame>& frames, std::string& error) {
    bool sent = false;
    std::thread([&] {
        const auto inUnits = vxlab::NamespaceGuard::Enter(lab.UnitNamespace(), error);
        if (!inUnits) {
            return;
        }
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        pcap_t* p = pcap_open_live(Lab::kUnitInterface, 256, 0, 100, errbuf);
        if (p == nullptr) {
            error = errbuf;
            return;
        }
        sent = std::all_of(frames.begin(), frames.end(), [&](const Frame& f) {
            return pcap_sendpacket(p, f.data(), static_cast<int>(f.size())) == 0;
        });
        if (!sent) {
            error = pcap_geterr(p);
        }
        pcap_close(p);
    }).join();
    return sent;
}

TEST_P(CaptureFilterLabTest, TheReplyMagicOnAnotherEtherTypeOrUdpPortCountsOnlyWithoutTheFilter) {
    ASSERT_NO_FATAL_FAILURE(StartLab({}));
    ASSERT_NO_FATAL_FAILURE(OpenStation());
    const MacBytes& station = station_->Mac();
    Frame record(kDeviceRecordSize, 0);
    const MacBytes lookAlike{0x02, 0xfe, 0, 0, 0, 0x0a};
    std::copy(lookAlike.begin(), lookAlike.end(), record.begin() + 26);
    auto otherEtherType = [](Frame f) {
        WriteBe16(&f[12], 0x88b5);
        return f;
    };
    auto otherPort = [](Frame f) {
        WriteBe16(&f[34], 9);
        WriteBe16(&f[36], 9);
        return f;
    };
    const Frame renamed = UnitReply(station, 0x8005, 1);
    const Frame discovered = UnitReply(station, 0x8001, 1, record);
    // Last, a real reply: once its line is in, every frame sent before it has been handled.
    const Frame deleted = UnitReply(station, 0x8003, 3);
    std::string error;
    ASSERT_TRUE(SendFromUnitSide(*lab_,
                                 {otherEtherType(renamed), otherEtherType(discovered),
                                  otherPort(renamed), otherPort(discovered), deleted},
                                 error))
        << error;
    const std::string last = "Succeeded in deleting the Receiver.";
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto logs = station_->sink.Logs();
            return !logs.empty() && logs.back() == last;
        },
        2s));

    // Without the filter the handler, which reads only the TFDP header, takes all four.
    const std::string name = "Succeeded in updating device's name.";
    const auto expected =
        FilterOn() ? std::vector<std::string>{last} : std::vector<std::string>{name, name, last};
    EXPECT_EQ(station_->sink.Logs(), expected);
    EXPECT_EQ(station_->table.ContainsMac(MacText(lookAlike)), !FilterOn());
}

INSTANTIATE_TEST_SUITE_P(PortFilter, CaptureFilterLabTest, ::testing::Bool(),
                         [](const auto& row) { return row.param ? "On" : "Off"; });

}  // namespace
