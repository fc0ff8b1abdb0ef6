// vx418ctl on the in-memory segment: its requests against the window's rule calls on the same
// table, its refusals before anything is sent, and its exit status from a unit's reply.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "cli/ctl_assign.h"
#include "cli/ctl_install.h"
#include "cli/ctl_install_file.h"
#include "cli/ctl_lookup.h"
#include "cli/ctl_operations.h"
#include "cli/ctl_output.h"
#include "cli/ctl_plan.h"
#include "cli/ctl_report.h"
#include "cli/ctl_run.h"
#include "core_test_support.h"
#include "net/adapter_state.h"
#include "net/frame_builder.h"
#include "net/memory_segment.h"
#include "protocol/messages.h"
#include "vx418_version.h"

namespace {

using namespace std::chrono_literals;

const MacBytes kStationMac{0x02, 0x18, 0x00, 0x00, 0x00, 0x01};
const Ipv4Bytes kStationIp{198, 18, 0, 1};
const MacBytes kHall = MacOf(0x11), kStage = MacOf(0x12), kFoyer = MacOf(0x21),
               kStageL = MacOf(0x23), kSpare = MacOf(0x25);

// A multicast Transmitter feeding FOYER, a unicast one with STAGEL, and a free Receiver.
std::vector<WireRecord> Layout() {
    return {
        {.name = "HALL", .ip = {198, 18, 1, 11}, .mac = kHall, .kind = 1},
        {.name = "STAGE",
         .ip = {198, 18, 1, 12},
         .mac = kStage,
         .kind = 1,
         .modeBytes = {0, 1},
         .peerIp = {198, 18, 1, 23},
         .t1 = kStageL},
        {.name = "FOYER", .ip = {198, 18, 1, 21}, .mac = kFoyer, .kind = 0, .t1 = kHall},
        {.name = "STAGEL", .ip = {198, 18, 1, 23}, .mac = kStageL, .kind = 0, .t1 = kStage},
        {.name = "SPARE", .ip = {198, 18, 1, 25}, .mac = kSpare, .kind = 0},
    };
}

std::vector<std::uint8_t> Between(const MacBytes& source, const MacBytes& destination,
                                  std::vector<std::uint8_t> frame) {
    std::copy(source.begin(), source.end(), frame.begin() + kEthSourceMacOffset);
    std::copy(destination.begin(), destination.end(), frame.begin() + kEthDestMacOffset);
    return frame;
}

class CliMemoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        AdapterInfo adapter{"rpcap://mem0", "mem0 (198.18.0.1)", {{true, kStationIp}}, 0};
        segment_->SetAdapters({adapter});
        segment_->SetAdapterMac("mem0", kStationMac);
        SetCaptureBackend(segment_);
        for (const WireRecord& r : Layout()) {
            const auto bytes = r.Bytes();
            table_.StoreDiscoveredDevice(std::span<const std::uint8_t, 66>(bytes), sink_);
        }
    }
    void TearDown() override { SetCurrentAdapter({}); }

    void OpenAdapter() {
        std::string error;
        SetCurrentAdapter({segment_->Open("rpcap://mem0", {}, error), kStationMac, kStationIp});
    }

    // The last sent frame, then forgets the frames.
    MemorySegment::Frame TakeFrame() {
        auto frames = segment_->SentFrames();
        segment_->ClearSentFrames();
        return frames.empty() ? MemorySegment::Frame{} : frames.back();
    }

    struct Outcome {
        int status;
        std::string out, err;
    };
    Outcome Run(std::vector<const char*> args) {
        args.insert(args.begin(), "vx418ctl");
        std::ostringstream out, err;
        const int status = RunCtl(static_cast<int>(args.size()), args.data(), out, err);
        return {status, out.str(), err.str()};
    }

    std::shared_ptr<MemorySegment> segment_ = std::make_shared<MemorySegment>();
    DeviceTable table_;
    RecordingSink sink_;
};

TEST_F(CliMemoryTest, RequestsAreTheWindowsBytes) {
    OpenAdapter();
    const std::string hall = MacText(kHall), stage = MacText(kStage), foyer = MacText(kFoyer),
                      stageL = MacText(kStageL), spare = MacText(kSpare);
    auto send = [](RequestKind kind, const auto& block) { SendRequest(block.data(), kind); };
    struct Case {
        const char* what;
        OperationInput input;
        std::string unit, other, addressed;
        std::function<void(DeviceTable&)> window;  // the worker's rule calls
    };
    const std::vector<Case> cases{
        {"rename",
         {CtlOperation::Rename, "lobby"},
         spare,
         "",
         spare,
         [&](DeviceTable& t) {
             send(kSetNameRequest, NameRequestBlock(t, spare, CheckDeviceName("lobby").field));
         }},
        {"set-ip",
         {CtlOperation::SetIp, "198.18.1.99"},
         spare,
         "",
         spare,
         [&](DeviceTable& t) { send(kSetIpRequest, IpRequestBlock(t, spare, "198.18.1.99")); }},
        {"set-mode",
         {CtlOperation::SetMode, "", Topology::Unicast},
         hall,
         "",
         hall,
         [&](DeviceTable& t) {
             send(kSetTopologyRequest, TopologyRequestBlock(t, hall, Topology::Unicast));
         }},
        {"attach unicast",
         {CtlOperation::Attach},
         stage,
         spare,
         stage,
         [&](DeviceTable& t) {
             send(kAddReceiverRequest,
                  ConnectionRequestBlock(t, MainReceiverTarget(1, stage, spare), PeerSlot::Main));
         }},
        {"attach multicast",
         {CtlOperation::Attach},
         hall,
         spare,
         spare,
         [&](DeviceTable& t) {
             send(kAddReceiverRequest,
                  ConnectionRequestBlock(t, MainReceiverTarget(0, hall, spare), PeerSlot::Main));
         }},
        {"attach backup 2",
         {CtlOperation::Attach, "", Topology::Multicast, PeerSlot::Backup2},
         stage,
         spare,
         stage,
         [&](DeviceTable& t) {
             SendBackupRequest(
                 ConnectionRequestBlock(t, BackupReceiverTarget(stage, spare), PeerSlot::Backup2));
         }},
        {"detach unicast",
         {CtlOperation::Detach},
         stage,
         stageL,
         stage,
         [&](DeviceTable& t) {
             send(kDeleteReceiverRequest,
                  ConnectionRequestBlock(t, MainReceiverTarget(1, stage, stageL), PeerSlot::Main));
         }},
        {"detach multicast",
         {CtlOperation::Detach},
         hall,
         foyer,
         foyer,
         [&](DeviceTable& t) {
             send(kDeleteReceiverRequest,
                  ConnectionRequestBlock(t, MainReceiverTarget(0, hall, foyer), PeerSlot::Main));
         }},
    };
    for (const Case& c : cases) {
        const auto prepared = PrepareRequest(table_, c.input, c.unit, c.other);
        ASSERT_TRUE(std::holds_alternative<PreparedRequest>(prepared)) << c.what;
        const PreparedRequest& request = std::get<PreparedRequest>(prepared);
        EXPECT_EQ(request.addressedMac, c.addressed) << c.what;
        ASSERT_TRUE(SendPrepared(request)) << c.what;
        const auto ours = TakeFrame();
        c.window(table_);
        const auto window = TakeFrame();
        ASSERT_EQ(ours.size(), kProtocolFrameSize) << c.what;
        EXPECT_EQ(ours, window) << c.what;
    }
}

TEST_F(CliMemoryTest, RefusesBeforeSending) {
    OpenAdapter();
    const std::string hall = MacText(kHall), spare = MacText(kSpare), stageL = MacText(kStageL);
    struct Case {
        OperationInput input;
        std::string unit, other;
        std::string refusal;
    };
    const std::vector<Case> cases{
        {{CtlOperation::Rename, "SEVENTEENLETTERSX"}, spare, "", kNameTooLongText},
        {{CtlOperation::Rename, "A-B"}, spare, "", kNameFormatErrorText},
        {{CtlOperation::SetIp, "1.2.3.4.5"}, spare, "", kIpFormatErrorText},
        {{CtlOperation::Rename, "X"}, "02:00:00:00:00:99", "", "no unit 02:00:00:00:00:99"},
        {{CtlOperation::SetMode}, spare, "", "is not a Transmitter"},
        {{CtlOperation::Attach}, hall, MacText(kStage), "is not a Receiver"},
        {{CtlOperation::Detach}, stageL, spare, "is not a Transmitter"},
    };
    for (const Case& c : cases) {
        const auto prepared = PrepareRequest(table_, c.input, c.unit, c.other);
        ASSERT_TRUE(std::holds_alternative<std::string>(prepared)) << c.refusal;
        EXPECT_NE(std::get<std::string>(prepared).find(c.refusal), std::string::npos)
            << std::get<std::string>(prepared);
    }
    EXPECT_TRUE(segment_->SentFrames().empty());
}

// A unit that answers every discovery with the layout (SPARE under its current name) and a
// rename of SPARE with the case's replies, taking the new name when the case says so.
TEST_F(CliMemoryTest, ExitStatusIsTheAddressedUnitsAnswerAndReadBack) {
    const MacBytes kOtherStation{0x02, 0x18, 0x00, 0x00, 0x00, 0x02};
    struct Reply {
        MacBytes from;
        std::uint16_t messageClass, code;
        MacBytes to = kStationMac;
    };
    struct Case {
        const char* what;
        std::vector<Reply> replies;
        bool applies;  // the unit takes the name (the read-back shows it)
        int status;
        const char* err;
    };
    const std::vector<Case> cases{
        {"accepted", {{kSpare, 0x8005, 1}}, true, kExitDone, ""},
        {"refused", {{kSpare, 0x8005, 2}}, false, kExitRefused, "Failed to update device's name."},
        {"silence", {}, true, kExitNoAnswer, "may or may not have been applied"},
        {"another unit", {{kHall, 0x8005, 1}}, true, kExitNoAnswer, "no answer"},
        {"another class", {{kSpare, 0x8003, 1}}, true, kExitNoAnswer, "no answer"},
        {"to another station", {{kSpare, 0x8005, 1, kOtherStation}}, true, kExitNoAnswer, "no ans"},
        {"another code, then refused",
         {{kSpare, 0x8005, 3}, {kSpare, 0x8005, 2}},
         false,
         kExitRefused,
         "Failed"},
        {"accepted, name kept", {{kSpare, 0x8005, 1}}, false, kExitRefused, "does not report it"},
    };
    segment_->AddDrops({2, 1});  // -v says so
    for (const Case& c : cases) {
        std::atomic<bool> stop{false};
        std::thread unit([&] {
            std::vector<WireRecord> layout = Layout();
            std::size_t seen = 0;
            while (!stop) {
                const auto frames = segment_->SentFrames();
                for (; seen < frames.size(); ++seen) {
                    if (frames[seen][0] == 0xff) {
                        for (const WireRecord& r : layout) {
                            segment_->Inject(Between(r.mac, kStationMac, DiscoveryReply(r)));
                        }
                        continue;
                    }
                    if (c.applies) {
                        const auto* name =
                            frames[seen].data() + kTfdpDataOffset + kConfigNameOffset;
                        layout[4].name.assign(name, std::find(name, name + 16, 0));
                    }
                    for (const Reply& r : c.replies) {
                        segment_->Inject(Between(r.from, r.to, ReplyFrame(r.messageClass, r.code)));
                    }
                }
                std::this_thread::sleep_for(1ms);
            }
        });
        const Outcome run = Run({"rename", "00:1C:2D:00:00:25", "NEW", "-i", "mem0", "--quiet",
                                 "-v", "--timeout", "300", "--wait", "300"});
        stop = true;
        unit.join();
        segment_->ClearSentFrames();
        EXPECT_EQ(run.status, c.status) << c.what << "\n" << run.err;
        EXPECT_EQ(run.out, "") << c.what;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << c.what << "\n" << run.err;
        EXPECT_NE(run.err.find("discovery: 3 frames dropped by the capture so far (2 for want of "
                               "buffer, 1 by the interface)"),
                  std::string::npos)
            << run.err;
    }
}

TEST_F(CliMemoryTest, CommandLineAndAdapterFailures) {
    struct Case {
        std::vector<const char*> args;
        bool notPermitted;
        int status;
        const char* out;
        const char* err;
    };
    const std::vector<Case> cases{
        {{"--help"}, false, kExitDone, "Exit status:", ""},
        {{"--version"}, false, kExitDone, "vx418ctl " VX_VERSION, ""},
        {{"adapters", "--json"}, false, kExitDone, "\"mac\": \"02:18:00:00:00:01\"", ""},
        {{"rename", "SPARE"},
         false,
         kExitBadInput,
         "",
         "vx418ctl: --interface is required (or set VX418_ADAPTER)\nTry 'vx418ctl rename "
         "--help'.\n"},
        {{"frobnicate"},
         false,
         kExitBadInput,
         "",
         "unknown command 'frobnicate'\nTry 'vx418ctl --"},
        {{"rename", "SPARE", "X", "-i", "mem0", "--wait", "-5", "--json"},
         false,
         kExitBadInput,
         "\"status\": 2",
         "--wait: must be a positive number of milliseconds, not '-5'\n"},
        {{"set-mode", "HALL", "broadcast", "-i", "mem0"}, false, kExitBadInput, "", "MODE"},
        {{"rename", "00:1c:2d", "X", "-i", "mem0"}, false, kExitBadInput, "", "not a MAC"},
        {{"discover", "-i", "nope", "--json"}, false, kExitAdapter, "\"status\": 4", "no adapter"},
        {{"discover", "-i", "mem0 (198.18.0.1)"}, true, kExitAdapter, "", "not permitted"},
    };
    for (const Case& c : cases) {
        segment_->SetOpenNotPermitted(c.notPermitted);
        const Outcome run = Run(c.args);
        EXPECT_EQ(run.status, c.status) << c.args[0] << "\n" << run.err;
        EXPECT_NE(run.out.find(c.out), std::string::npos) << c.args[0] << "\n" << run.out;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << c.args[0] << "\n" << run.err;
        EXPECT_LE(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
    }
    EXPECT_TRUE(segment_->SentFrames().empty());

    // A result that cannot be written is a failure of its own.
    std::ostream broken(nullptr);
    std::ostringstream err;
    const char* adapters[] = {"vx418ctl", "adapters"};
    EXPECT_EQ(RunCtl(2, adapters, broken, err), kExitOutput) << err.str();
}

// Names are bytes: whatever a unit sends, the output is valid UTF-8 JSON and one line per unit
// with its tab-separated fields intact.
TEST_F(CliMemoryTest, AnyNameBytesGiveValidOutput) {
    std::vector<DeviceRecord> devices;
    std::mt19937 random(17);
    for (int i = 0; i < 200; ++i) {
        DeviceRecord r = table_.RecordAt(i % 5);
        r.Mac[5] = static_cast<std::uint8_t>(i);
        for (std::uint8_t& b : r.Name) {
            b = static_cast<std::uint8_t>(random());
        }
        devices.push_back(r);
    }
    const std::string latin1 =
        "\xc4\xd6\xdc[x]\xff"
        "0";
    std::copy(latin1.begin(), latin1.end(), devices[0].Name.begin());
    devices[0].Name[latin1.size()] = 0;
    const UnitsView view(devices);
    const Json topology = view.TopologyJson();
    EXPECT_NO_THROW(topology.dump(-1, ' ', false, Json::error_handler_t::strict));
    for (int i = 0; i < static_cast<int>(devices.size()); ++i) {
        const Json unit = UnitJson(devices[static_cast<std::size_t>(i)]);
        EXPECT_NO_THROW(unit.dump(-1, ' ', false, Json::error_handler_t::strict)) << i;
        const std::string terse = TerseUnitLine(devices[static_cast<std::size_t>(i)]);
        EXPECT_EQ(std::count(terse.begin(), terse.end(), '\t'), 7) << terse;
        for (const std::string& line : {terse, view.UnitLine(i)}) {
            EXPECT_TRUE(std::none_of(line.begin(), line.end(), [](char ch) {
                return ch != '\t' && static_cast<unsigned char>(ch) < 0x20;
            })) << line;
        }
    }
    EXPECT_EQ(UnitJson(devices[0])["name"], "ÄÖÜ[x]ÿ0");
}

// Names in any case, MACs in three spellings, and the candidates of an ambiguous name.
TEST_F(CliMemoryTest, UnitsAreFoundByNameOrMac) {
    std::vector<DeviceRecord> devices = table_.Snapshot();
    DeviceRecord twin = devices[1];  // a second STAGE
    twin.Mac = MacOf(0x30);
    devices.push_back(twin);
    struct Case {
        const char* typed;
        int index;
        const char* error;
    };
    const std::vector<Case> cases{
        {"00:1c:2d:00:00:11", 0, ""},
        {"00-1C-2D-00-00-21", 2, ""},
        {"001c2d000025", 4, ""},
        {"foyer", 2, ""},
        {"Stage", -1,
         "2 units are named Stage: STAGE: Unicast (198.18.1.12) [00:1c:2d:00:00:12], "
         "STAGE: Unicast (198.18.1.12) [00:1c:2d:00:00:30]; name one by its MAC"},
        {"00:1c:2d:00:00:99", -1, "no unit 00:1c:2d:00:00:99 answered"},
        {"nobody", -1, "no unit named nobody answered"},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto selector = ParseUnitSelector(c.typed, error);
        ASSERT_TRUE(selector) << c.typed << ": " << error;
        const UnitMatch match = FindUnit(devices, *selector);
        EXPECT_EQ(match.index, c.index) << c.typed;
        EXPECT_EQ(match.error.rfind(c.error, 0), 0u) << c.typed << ": " << match.error;
    }
}

// The layout exported, edited, then planned against the layout as it is.
TEST_F(CliMemoryTest, ApplyPlansInASafeOrderOrRefuses) {
    const std::vector<DeviceRecord> units = table_.Snapshot();
    const std::string hall = MacText(kHall), stage = MacText(kStage), foyer = MacText(kFoyer),
                      stageL = MacText(kStageL), spare = MacText(kSpare);
    std::map<MacBytes, std::string> names;
    for (const DeviceRecord& r : units) {
        names[r.Mac] = NameText(r.Name);
    }
    const auto describe = [&](const PlanStep& step) {
        static constexpr const char* kOps[] = {"rename", "set-ip", "set-mode", "attach", "detach"};
        static constexpr const char* kSlots[] = {"main", "backup1", "backup2"};
        std::string text =
            std::string(kOps[static_cast<int>(step.input.operation)]) + " " + names[step.unit];
        if (step.other) {
            text += " " + names[*step.other];
        }
        if (step.input.operation == CtlOperation::Attach) {
            text += std::string(" ") + kSlots[static_cast<int>(step.input.slot)];
        }
        return step.input.text.empty() ? text : text + " " + step.input.text;
    };
    struct Case {
        const char* what;
        std::function<void(Json&)> edit;  // on the exported "units"
        std::vector<std::string> steps;
        const char* problem;
        std::vector<Ipv4Bytes> spares;
    };
    const std::vector<Case> cases{
        {"as exported", [](Json&) {}, {}, ""},
        {"slots change: an Add replaces what a slot held, main first",
         [&](Json& u) {
             u[stage]["main"] = spare;
             u[stage]["backup1"] = stageL;
             u[spare]["transmitter"] = stage;
         },
         {"attach STAGE SPARE main", "attach STAGE STAGEL backup1"},
         ""},
        {"a main slot emptied, a backup whose own link stays empty",
         [&](Json& u) {
             u[stage]["main"] = nullptr;
             u[stage]["backup1"] = spare;
             u[stageL]["transmitter"] = nullptr;
         },
         {"detach STAGE STAGEL", "attach STAGE SPARE backup1"},
         ""},
        {"a backup whose own link names another Transmitter",
         [&](Json& u) { u[stage]["backup2"] = foyer; },
         {"attach STAGE FOYER backup2"},
         ""},
        {"a link to a unicast Transmitter that names another main",
         [&](Json& u) { u[spare]["transmitter"] = stage; },
         {"attach STAGE SPARE main", "attach STAGE STAGEL main"},
         ""},
        {"a main Receiver whose own link is empty",
         [&](Json& u) { u[stageL]["transmitter"] = nullptr; },
         {},
         "no request the units take gives STAGEL"},
        {"an address another unit of the file keeps",
         [&](Json& u) { u[foyer]["ip"] = "198.18.1.12"; },
         {},
         "has it and keeps it"},
        {"a new mode first, then the Receivers",
         [&](Json& u) {
             u[hall]["mode"] = "unicast";
             u[hall].erase("receivers");
             u[hall]["main"] = foyer;
         },
         {"set-mode HALL", "attach HALL FOYER main"},
         ""},
        {"an address taken only once its holder left it",
         [&](Json& u) {
             u[spare]["ip"] = "198.18.1.23";
             u[stageL]["ip"] = "198.18.1.99";
         },
         {"set-ip STAGEL 198.18.1.99", "set-ip SPARE 198.18.1.23"},
         ""},
        {"addresses in a circle",
         [&](Json& u) {
             u[spare]["ip"] = "198.18.1.23";
             u[stageL]["ip"] = "198.18.1.25";
         },
         {},
         "in a circle"},
        {"addresses in a circle, one steps aside",
         [&](Json& u) {
             u[spare]["ip"] = "198.18.1.23";
             u[stageL]["ip"] = "198.18.1.25";
         },
         {"set-ip STAGEL 198.18.1.90", "set-ip SPARE 198.18.1.23", "set-ip STAGEL 198.18.1.25"},
         "",
         {{198, 18, 1, 23}, {198, 18, 1, 90}}},
        {"an address kept by a unit outside the file",
         [&](Json& u) {
             u.erase(hall);
             u[spare]["ip"] = "198.18.1.11";
         },
         {},
         "HALL [00:1c:2d:00:00:11] has it and keeps it"},
        {"a name the rule refuses",
         [&](Json& u) { u[foyer]["name"] = "FOYER-1"; },
         {},
         "Device Name Format Error."},
        {"a kind", [&](Json& u) { u[spare]["kind"] = "transmitter"; }, {}, "a unit's kind"},
    };
    for (const Case& c : cases) {
        Json document = InstallationJson(units, "mem0");
        c.edit(document["units"]);
        std::string error;
        const auto installation = ParseInstallation(document, error);
        ASSERT_TRUE(installation) << c.what << ": " << error;
        const Plan plan = ComputePlan(*installation, units, c.spares);
        std::vector<std::string> steps;
        for (const PlanStep& step : plan.steps) {
            steps.push_back(describe(step));
        }
        const std::string problems = plan.problems.empty() ? std::string() : plan.problems.front();
        if (*c.problem == '\0') {
            EXPECT_EQ(steps, c.steps) << c.what;
            EXPECT_TRUE(plan.problems.empty()) << c.what << ": " << problems;
        } else {
            EXPECT_NE(problems.find(c.problem), std::string::npos) << c.what << ": " << problems;
        }
    }
}

// The layout and three units from the box: what assign gives each, in the order it numbers
// them (the MAC's last byte, the name, the address; the spare after "|"), or its refusal.
TEST_F(CliMemoryTest, AssignNumbersChosenUnitsAndSkipsAddressesInUse) {
    std::vector<DeviceRecord> devices = table_.Snapshot();
    for (const std::uint8_t last : std::vector<std::uint8_t>{0x53, 0x51, 0x52}) {
        DeviceRecord r = devices[4];
        r.Mac = MacOf(last);
        r.Ip = {198, 18, 0, 251};
        r.Name = CheckDeviceName("VX418RX").field;
        devices.push_back(r);
    }
    const std::string order =
        (std::filesystem::temp_directory_path() / ("vx-order-" + std::to_string(getpid())))
            .string();
    std::ofstream(order) << "# floor plan\n00:1C:2D:00:00:53 # left\n\n001c2d000051\n";
    const std::string twice = order + "-twice";
    std::ofstream(twice) << "00:1c:2d:00:00:53\n00-1c-2d-00-00-53\n";
    struct Case {
        std::string result;  // or the refusal's start
        AssignOptions typed;
        bool force = false;
        std::uint8_t prefix = 15;
    };
    const std::vector<std::string> fresh{"name=vx418rx"};
    const std::vector<Case> cases{
        {"51:RX01@198.18.1.20 52:RX02@198.18.1.22 53:RX03@198.18.1.24 | 198.18.1.26",
         {.names = "RX{n:02}", .addresses = "198.18.1.20", .where = fresh}},
        {"51:VX418RX@198.18.0.2 52:VX418RX@198.18.0.3 53:VX418RX@198.18.0.4 | 198.18.0.5",
         {.addresses = "198.18.0.0", .where = {"ip=198.18.0.251"}}},
        {"51:VX418RX@198.18.0.248 52:VX418RX@198.18.0.249 53:VX418RX@198.18.0.250 | 198.18.0.252",
         {.addresses = "198.18.0.248", .where = fresh}},
        {"53:RX09@198.18.0.251 51:RX10@198.18.0.251",
         {.names = "rx{n:02}", .first = 9, .orderFile = order}},
        {"53:R1@198.18.0.251 51:R2@198.18.0.251 52:R3@198.18.0.251",
         {.names = "R{n}", .receivers = true, .where = {"ip=198.18.0.251"}, .orderFile = order}},
        {"51:VX418RX@198.19.255.254 52:VX418RX@198.20.0.0 53:VX418RX@198.20.0.1 | 198.20.0.2",
         {.addresses = "198.19.255.254", .where = fresh},
         true},
        {"25:FOYER@198.18.1.25", {.names = "FOYER", .macs = {"00:1c:2d:00:00:25"}}, true},
        {"2 the addresses run out: 1 of 3", {.addresses = "198.19.255.254", .where = fresh}},
        {"2 the addresses run out: 2 of 3",
         {.addresses = "198.18.1.20-198.18.1.23", .where = fresh},
         true},
        {"2 10.0.0.1 is outside", {.addresses = "10.0.0.1", .where = fresh}},
        {"2 the adapter's subnet", {.addresses = "198.18.1.20", .where = fresh}, false, 0},
        {"2 the names cannot", {.names = "FOYER", .macs = {"00:1c:2d:00:00:25"}}},
        {"2 the names cannot", {.names = "RX", .where = fresh}},
        {"2 the names cannot", {.names = "LONGNAME{n:09}", .where = fresh}},
        {"2 the names cannot", {.names = "R-{n}", .where = fresh}},
        {"2 the name pattern", {.names = "R{n:2}", .where = fresh}},
        {"2 units given", {.names = "R{n}", .transmitters = true, .orderFile = order}},
        {"5 units to assign", {.names = "R{n}", .macs = {"00:1c:2d:00:00:99"}}},
        {"5 no unit that answered", {.names = "R{n}", .where = {"ip=10.0.0.9"}}},
        {"2 choose the units", {.names = "R{n}"}},
        {"2 " + twice + ": line 2: 00:1c:2d:00:00:53 is listed twice",
         {.names = "R{n}", .orderFile = twice}},
        {"2 --where takes", {.names = "R{n}", .where = {"mac=00:1c:2d:00:00:53"}}},
        {"2 --addresses 198.18.1.9-198.18.1.1: the end",
         {.addresses = "198.18.1.9-198.18.1.1", .where = fresh}},
    };
    for (const Case& c : cases) {
        std::string error;
        auto request = ReadAssignRequest(c.typed, c.force, error);
        std::string result = "2 " + error;
        if (request) {
            request->station = {kStationIp, c.prefix};
            const Assignment a = ComputeAssignment(devices, *request);
            result = a.status != 0 ? std::to_string(a.status) + " " + a.error : "";
            for (const AssignedUnit& u : a.status != 0 ? std::vector<AssignedUnit>() : a.units) {
                result += (result.empty() ? "" : " ") + MacText(u.before.Mac).substr(15) + ":" +
                          u.name + "@" + Ipv4Text(u.ip);
            }
            for (const Ipv4Bytes& spare : a.spares) {
                result += " | " + Ipv4Text(spare);
            }
        }
        EXPECT_EQ(result.rfind(c.result, 0), 0u) << c.result << "\n" << result;
    }
    std::filesystem::remove(order);
    std::filesystem::remove(twice);
}

// On a terminal a status line, redrawn in place and gone before any other line and at the end;
// nothing of it with --json, --quiet or off a terminal.
TEST(CliReporterTest, ProgressShowsOnlyOnATerminalAndIsAlwaysCleared) {
    const std::pair<OutputOptions, std::string> cases[] = {
        {{.terminal = true},
         "\rstep 1 of 2\033[K\r\033[Kvx418ctl: a note\n\rstep 2 of 2\033[K\r\033[K"},
        {{.json = true, .terminal = true}, "vx418ctl: a note\n"},
        {{.quiet = true, .terminal = true}, ""},
        {{}, "vx418ctl: a note\n"},
    };
    for (const auto& [options, shown] : cases) {
        std::ostringstream out, err;
        Reporter report(options, out, err);
        report.Progress("step 1 of 2");
        report.Note("a note");
        report.Progress("step 2 of 2");
        report.Finish(kExitDone);
        EXPECT_EQ(err.str(), shown);
    }
}

TEST_F(CliMemoryTest, InstallationFilesAreCheckedBeforeUse) {
    const std::string hall = MacText(kHall), foyer = MacText(kFoyer), stage = MacText(kStage);
    struct Case {
        std::function<void(Json&)> edit;  // on the whole document
        const char* error;
    };
    const std::vector<Case> cases{
        {[](Json& d) { d["kind"] = "other"; }, "not an installation file"},
        {[](Json& d) { d["units"]["HALL"] = d["units"].front(); }, "must be the unit's MAC"},
        {[&](Json& d) { d["units"]["00-1C-2D-00-00-11"] = d["units"][hall]; }, "is given twice"},
        {[&](Json& d) { d["units"][hall]["receivers"].push_back(foyer); }, "is given twice"},
        {[&](Json& d) { d["units"][hall]["receivers"].push_back(stage); }, "is a Transmitter"},
        {[&](Json& d) { d["units"][foyer]["ip"] = "198.18.1.021"; }, "four decimal fields"},
        {[&](Json& d) { d["units"][hall]["main"] = foyer; }, "needs the unicast mode"},
        {[&](Json& d) { d["units"][foyer]["transmitter"] = stage; }, "disagrees"},
    };
    for (const Case& c : cases) {
        Json document = InstallationJson(table_.Snapshot(), "mem0");
        c.edit(document);
        std::string error;
        EXPECT_FALSE(ParseInstallation(document, error)) << c.error;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.error << ": " << error;
    }
}

TEST_F(CliMemoryTest, InstallationTextIsReadOnlyWhenPlainJsonOfBoundedSize) {
    const std::string kept = R"({"b":[1,-2,3.5,true,null,"x",{"n":[]}],"a":{"n":{}}})";
    struct Case {
        std::string text;
        const char* error;  // empty: read as it is
    };
    const std::vector<Case> cases{
        {kept, ""},
        {R"({"units": {"a": {"name": "A", "name": "B"}}})", "the key \"name\" is given twice"},
        {R"({"a": 1} {"b": 2})", "not JSON (at byte"},
        {"[\"\xff\"]", "not JSON"},
        {std::string(kMaxInstallationDepth + 1, '['), "nested deeper than 16 levels"},
        {std::string(kMaxInstallationFileBytes + 1, ' '), "larger than 16 MiB"},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto document = ParseInstallationText(c.text, error);
        EXPECT_EQ(document.has_value(), *c.error == '\0') << c.error << ": " << error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        if (document) {
            EXPECT_EQ(document->dump(), kept);  // every value, in the file's order
        }
    }
    // A device that never ends, a folder, a missing file.
    for (const auto& [path, why] : std::vector<std::pair<std::string, std::string>>{
             {"/dev/zero", "/dev/zero: larger than 16 MiB"},
             {"/", "cannot read /"},
             {"/nonexistent/venue.json", "cannot read"}}) {
        std::string error;
        EXPECT_FALSE(ReadInstallationDocument(path, error)) << path;
        EXPECT_EQ(error.rfind(why, 0), 0u) << error;
    }
}

}  // namespace
