// The simulator checks the station's frames, so its own parsing, replies and unit bookkeeping
// must be right first.

#include <gtest/gtest.h>

#include <algorithm>

#include "lab_fixture.h"
#include "sim_engine.h"
#include "sim_layout.h"
#include "sim_wire.h"

namespace {

using namespace vxsim;
using namespace vxsim::wire;

constexpr Mac kStationMac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
constexpr Ip4 kStationIp{192, 168, 1, 100};

// A request written out byte by byte from the wire tables (not by any builder under test).
Bytes Request(std::uint16_t cls, std::uint16_t op, const Mac& dstMac, const Ip4& dstIp,
              const Bytes& block) {
    Bytes f(kRequestFrameLength, 0);
    const std::uint16_t ipLength = static_cast<std::uint16_t>(20 + 8 + 12 + block.size());
    std::copy(dstMac.begin(), dstMac.end(), f.begin());
    std::copy(kStationMac.begin(), kStationMac.end(), f.begin() + 6);
    f[12] = 0x08;
    f[14] = 0x45;
    WriteBe16(f, 16, ipLength);
    f[18] = 0x23;
    f[19] = 0x2e;
    f[22] = 0x80;
    f[23] = 0x11;
    std::copy(kStationIp.begin(), kStationIp.end(), f.begin() + 26);
    std::copy(dstIp.begin(), dstIp.end(), f.begin() + 30);
    WriteBe16(f, 24, InternetChecksum(std::span(f).subspan(14, 20)));
    WriteBe16(f, 34, 2098);
    WriteBe16(f, 36, 2098);
    WriteBe16(f, 38, static_cast<std::uint16_t>(ipLength - 20));
    WriteBe16(f, 42, 0x1888);
    WriteBe16(f, 44, 0x0001);
    WriteBe16(f, 46, cls);
    WriteBe16(f, 48, op);
    if (!block.empty()) {
        f[50] = static_cast<std::uint8_t>(block.size());
        std::copy(block.begin(), block.end(), f.begin() + 54);
    }
    return f;
}

Bytes Discovery() {
    return Request(0x0001, 0x0001, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, {255, 255, 255, 255}, {});
}

Bytes ConfigBlockFor(const SimUnit& u) {
    Bytes b(32, 0);
    std::copy(u.ip.begin(), u.ip.end(), b.begin());
    std::copy(u.mac.begin(), u.mac.end(), b.begin() + 4);
    return b;
}

Bytes ConnectionBlockFor(const SimUnit& addressed, const SimUnit& other, std::uint16_t sel) {
    Bytes b(22, 0);
    std::copy(other.ip.begin(), other.ip.end(), b.begin());
    std::copy(other.mac.begin(), other.mac.end(), b.begin() + 4);
    std::copy(addressed.ip.begin(), addressed.ip.end(), b.begin() + 10);
    std::copy(addressed.mac.begin(), addressed.mac.end(), b.begin() + 14);
    WriteBe16(b, 20, sel);
    return b;
}

const SimUnit& Named(const UnitSet& set, const std::string& name) {
    const auto& u = set.Units();
    const auto it =
        std::find_if(u.begin(), u.end(), [&](const SimUnit& x) { return x.NameText() == name; });
    EXPECT_NE(it, u.end()) << name;
    return *it;
}

TEST(SimWire, ParsesTheDiscoveryRequestOfTheWireTables) {
    const Bytes f = Discovery();
    // The reference bytes 0..49 of a discovery frame from 00:11:22:33:44:55, 192.168.1.100.
    const Bytes reference{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00, 0x11, 0x22, 0x33,
                          0x44, 0x55, 0x08, 0x00, 0x45, 0x00, 0x00, 0x28, 0x23, 0x2e,
                          0x00, 0x00, 0x80, 0x11, 0x55, 0x8b, 0xc0, 0xa8, 0x01, 0x64,
                          0xff, 0xff, 0xff, 0xff, 0x08, 0x32, 0x08, 0x32, 0x00, 0x14,
                          0x00, 0x00, 0x18, 0x88, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01};
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), f.begin()));
    const ParseResult r = ParseRequest(f);
    ASSERT_TRUE(r.request) << r.error;
    EXPECT_EQ(r.request->op, Operation::Discovery);
    EXPECT_EQ(r.request->stationMac, kStationMac);
    EXPECT_EQ(r.request->stationIp, kStationIp);
}

TEST(SimWire, RejectsEveryHeaderFieldThatBreaksTheTables) {
    const SimUnit tx = Named(DemoPreset(), "STAGE");
    const Bytes good = Request(0x0003, 0x0001, tx.mac, tx.ip,
                               ConnectionBlockFor(tx, Named(DemoPreset(), "SPARE1"), 2));
    ASSERT_TRUE(ParseRequest(good).request);
    EXPECT_EQ(ParseRequest(good).request->op, Operation::AddBackup);

    struct Case {
        const char* what;
        std::function<void(Bytes&)> mutate;
    };
    const std::vector<Case> cases{
        {"short frame", [](Bytes& f) { f.resize(127); }},
        {"checksum", [](Bytes& f) { f[25] ^= 1; }},
        {"total length", [](Bytes& f) { f[17] = 0x48; }},
        {"UDP length", [](Bytes& f) { f[39] = 0x34; }},
        {"data length", [](Bytes& f) { f[50] = 32; }},
        {"fixed word", [](Bytes& f) { f[45] = 2; }},
        {"operation", [](Bytes& f) { f[49] = 9; }},
        {"source port", [](Bytes& f) { f[35] = 0x33; }},
        {"block names another unit", [](Bytes& f) { f[54 + 19] ^= 1; }},
    };
    for (const Case& c : cases) {
        Bytes f = good;
        c.mutate(f);
        const ParseResult r = ParseRequest(f);
        EXPECT_FALSE(r.request) << c.what;
        EXPECT_FALSE(r.notTfdp) << c.what;
        EXPECT_FALSE(r.error.empty()) << c.what;
    }
    // Other traffic is not a malformed request, just not ours.
    Bytes otherPort = good;
    otherPort[37] = 0x35;
    EXPECT_TRUE(ParseRequest(otherPort).notTfdp);
    Bytes reply = good;
    reply[46] = 0x80;
    EXPECT_TRUE(ParseRequest(reply).notTfdp);
    Bytes unicastDiscovery = Discovery();
    unicastDiscovery[0] = 0x02;
    EXPECT_FALSE(ParseRequest(unicastDiscovery).request);
}

TEST(SimWire, RepliesCarryValidChecksumsAndExactLengths) {
    const SimUnit unit = Named(DemoPreset(), "STAGE");
    const auto record = EncodeRecord(unit);
    const Bytes discovery =
        BuildReply({unit.mac, unit.ip}, {kStationMac, kStationIp}, 0x8001, 1, record, 7);
    ASSERT_EQ(discovery.size(), 120u);  // the station reads the record up to byte 119
    EXPECT_EQ(InternetChecksum(std::span(discovery).subspan(14, 20)), 0);
    EXPECT_EQ(ReadBe16(discovery, 16), 106);
    EXPECT_EQ(ReadBe16(discovery, 38), 86);
    EXPECT_EQ(discovery[50], 66);
    // UDP checksum: pseudo-header plus datagram sums to zero.
    std::uint32_t pseudo = 17 + 86;
    for (std::size_t i = 26; i < 34; i += 2) {
        pseudo += static_cast<std::uint32_t>(discovery[i] << 8 | discovery[i + 1]);
    }
    EXPECT_EQ(InternetChecksum(std::span(discovery).subspan(34, 86), pseudo), 0);
    EXPECT_TRUE(std::equal(unit.mac.begin(), unit.mac.end(), discovery.begin() + 6));
    EXPECT_TRUE(std::equal(kStationMac.begin(), kStationMac.end(), discovery.begin()));
    // Record fields at their offsets: kind 1, mode unicast, main Receiver in T1.
    EXPECT_EQ(ReadBe16(discovery, 54 + 32), 1);
    EXPECT_EQ(ReadBe16(discovery, 54 + 34), 1);
    EXPECT_TRUE(std::equal(unit.t1.begin(), unit.t1.end(), discovery.begin() + 54 + 48));

    const Bytes status =
        BuildReply({unit.mac, unit.ip}, {kStationMac, kStationIp}, 0x8005, 1, {}, 8);
    EXPECT_EQ(status.size(), 60u);  // padded to the Ethernet minimum
    EXPECT_EQ(ReadBe16(status, 16), 40);
    EXPECT_EQ(ReadBe16(status, 48), 1);
}

// Each unit's own fields as a line: a unicast Transmitter's slots, a Receiver's own link.
std::string State(const UnitSet& set) {
    const auto name = [&](const Mac& mac) {
        const SimUnit* u = set.Find(mac);
        return u == nullptr ? std::string("-") : u->NameText();
    };
    std::string line;
    for (const SimUnit& u : set.Units()) {
        if (u.IsTransmitter() && u.mode == kModeUnicast) {
            line += u.NameText() + "[" + name(u.t1) + "," + name(u.t2) + "," + name(u.t3) + "] ";
        } else if (u.IsReceiver()) {
            line += u.NameText() + ">" + name(u.t1) + " ";
        }
    }
    return line;
}

// What each connection request leaves on both ends, under the usual readings and the others.
TEST(SimUnits, ConnectionRequestsUnderEachReading) {
    struct Step {
        const char* addressed;
        const char* other;
        int selector;  // -1: delete
        const char* usual;
        const char* alternative;
    };
    const std::string rest = "SPARE2>- SPARE3>- ";
    const std::vector<Step> steps{
        {"STAGE", "SPARE1", 0,  // the replaced main Receiver keeps or loses its link
         "STAGE[SPARE1,STAGER,-] FOYER>HALL BAR>HALL STAGEL>STAGE STAGER>- SPARE1>STAGE ",
         "STAGE[SPARE1,STAGER,-] FOYER>HALL BAR>HALL STAGEL>- STAGER>- SPARE1>STAGE "},
        {"STAGE", "FOYER", 2,  // a backup keeps its own link, or takes the Transmitter
         "STAGE[SPARE1,STAGER,FOYER] FOYER>HALL BAR>HALL STAGEL>STAGE STAGER>- SPARE1>STAGE ",
         "STAGE[SPARE1,STAGER,FOYER] FOYER>STAGE BAR>HALL STAGEL>- STAGER>- SPARE1>STAGE "},
        {"STAGE", "SPARE1", -1,  // backup 1 moves up, or stays; the link goes or stays
         "STAGE[STAGER,-,FOYER] FOYER>HALL BAR>HALL STAGEL>STAGE STAGER>STAGE SPARE1>- ",
         "STAGE[-,STAGER,FOYER] FOYER>STAGE BAR>HALL STAGEL>- STAGER>- SPARE1>STAGE "},
        {"FOYER", "HALL", 0,  // attached elsewhere: the unicast slot its link named lets go
         "STAGE[STAGER,-,FOYER] FOYER>HALL BAR>HALL STAGEL>STAGE STAGER>STAGE SPARE1>- ",
         "STAGE[-,STAGER,FOYER] FOYER>HALL BAR>HALL STAGEL>- STAGER>- SPARE1>STAGE "},
        {"STAGER", "HALL", 0,
         "STAGE[-,-,FOYER] FOYER>HALL BAR>HALL STAGEL>STAGE STAGER>HALL SPARE1>- ",
         "STAGE[-,STAGER,FOYER] FOYER>HALL BAR>HALL STAGEL>- STAGER>HALL SPARE1>STAGE "},
        {"BAR", "HALL", -1,  // multicast: the Receiver is addressed
         "STAGE[-,-,FOYER] FOYER>HALL BAR>- STAGEL>STAGE STAGER>HALL SPARE1>- ",
         "STAGE[-,STAGER,FOYER] FOYER>HALL BAR>- STAGEL>- STAGER>HALL SPARE1>STAGE "},
    };
    for (const bool alternative : {false, true}) {
        UnitSet set = DemoPreset();
        set.SetReadings(alternative ? Readings::Alternative() : Readings::Usual());
        for (const Step& step : steps) {
            const Mac a = Named(set, step.addressed).mac, o = Named(set, step.other).mac;
            const Outcome outcome =
                step.selector < 0
                    ? set.DeleteReceiver(a, o)
                    : set.AddReceiver(a, o, static_cast<std::uint16_t>(step.selector));
            ASSERT_TRUE(outcome.accepted) << step.addressed << " " << outcome.reason;
            EXPECT_EQ(State(set), (alternative ? step.alternative : step.usual) + rest)
                << step.addressed << " " << step.other << (alternative ? " (alternative)" : "");
        }
        // A backup request to the multicast HALL: its slot taken (the Receiver's link kept), or
        // refused.
        const Mac hall = Named(set, "HALL").mac, spare = Named(set, "SPARE2").mac;
        EXPECT_EQ(set.AddReceiver(hall, spare, 2).accepted, !alternative);
        EXPECT_EQ(set.Find(hall)->t3, alternative ? Mac{} : spare);
        EXPECT_EQ(set.Find(spare)->t1, Mac{});
    }
}

TEST(SimUnits, RefusesWhatAUnitCannotDo) {
    UnitSet set = DemoPreset();
    const Mac stage = Named(set, "STAGE").mac, hall = Named(set, "HALL").mac,
              stageL = Named(set, "STAGEL").mac, spare = Named(set, "SPARE1").mac,
              foyer = Named(set, "FOYER").mac;
    const UnitSet before = set;
    EXPECT_FALSE(set.AddReceiver(hall, spare, 0).accepted);    // multicast: address the Receiver
    EXPECT_FALSE(set.AddReceiver(spare, stage, 0).accepted);   // Receiver told a unicast Tx
    EXPECT_FALSE(set.AddReceiver(spare, hall, 1).accepted);    // backup slot to a Receiver
    EXPECT_FALSE(set.AddReceiver(stage, stageL, 1).accepted);  // main cannot also be a backup
    EXPECT_FALSE(set.AddReceiver(stage, hall, 0).accepted);    // a Transmitter as Receiver
    EXPECT_FALSE(set.DeleteReceiver(stage, spare).accepted);   // not attached
    EXPECT_FALSE(set.DeleteReceiver(spare, hall).accepted);
    EXPECT_FALSE(set.SetMode(foyer, 1).accepted);  // a Receiver has no topology
    EXPECT_FALSE(set.SetMode(stage, 2).accepted);
    EXPECT_FALSE(set.SetIp(spare, {0, 0, 0, 0}).accepted);
    EXPECT_FALSE(set.SetIp(spare, {255, 255, 255, 255}).accepted);
    EXPECT_FALSE(set.SetIp(spare, set.Find(foyer)->ip).accepted);  // address in use
    EXPECT_EQ(set.Units(), before.Units());
}

TEST(SimUnits, ModeAndAddressChangesReachThePeers) {
    UnitSet set = DemoPreset();
    const Mac stage = Named(set, "STAGE").mac, stageL = Named(set, "STAGEL").mac,
              stageR = Named(set, "STAGER").mac, hall = Named(set, "HALL").mac,
              foyer = Named(set, "FOYER").mac, bar = Named(set, "BAR").mac;
    const Outcome ip = set.SetIp(stageR, {198, 18, 9, 9});
    ASSERT_TRUE(ip.accepted);
    EXPECT_EQ(set.Find(stage)->backup1Ip, (Ip4{198, 18, 9, 9}));
    EXPECT_NE(std::find(ip.changed.begin(), ip.changed.end(), stage), ip.changed.end());
    ASSERT_TRUE(set.SetIp(hall, {198, 18, 9, 10}).accepted);
    EXPECT_EQ(set.Find(foyer)->peerIp, (Ip4{198, 18, 9, 10}));

    // The same mode again still drops every attachment, on both ends.
    ASSERT_TRUE(set.SetMode(stage, 1).accepted);
    EXPECT_EQ(set.Find(stage)->t1, Mac{});
    EXPECT_EQ(set.Find(stage)->t2, Mac{});
    EXPECT_EQ(set.Find(stageL)->t1, Mac{});
    EXPECT_EQ(set.Find(stageR)->t1, Mac{});
    const Outcome mode = set.SetMode(hall, 1);
    ASSERT_TRUE(mode.accepted);
    EXPECT_EQ(set.Find(hall)->mode, 1);
    EXPECT_EQ(set.Find(foyer)->t1, Mac{});
    EXPECT_EQ(set.Find(bar)->t1, Mac{});
    EXPECT_EQ(mode.changed.size(), 3u);

    // The other readings: the peers keep the old address, the Receivers their links.
    UnitSet other = DemoPreset();
    other.SetReadings(Readings::Alternative());
    const Ip4 before = other.Find(stage)->backup1Ip;
    ASSERT_TRUE(other.SetIp(stageR, {198, 18, 9, 9}).accepted);
    EXPECT_EQ(other.Find(stage)->backup1Ip, before);
    ASSERT_TRUE(other.SetMode(stage, 0).accepted);
    EXPECT_EQ(other.Find(stage)->t1, Mac{});
    EXPECT_EQ(other.Find(stageL)->t1, stage);
}

TEST(SimLayout, ParsesFilesAndNamesTheBadLine) {
    std::string error;
    const auto set = ParseLayout(
        "# two units\n"
        "transmitter T1 02:00:00:00:00:01 10.9.0.1 unicast\n"
        "receiver R1 02:00:00:00:00:02 10.9.0.2   # main\n"
        "attach T1 02:00:00:00:00:02 backup2\n"
        "receiver R2 02:00:00:00:00:03 10.9.0.3\n"
        "slot T1 main R2\n"
        "link R1 T1\n",
        error);
    ASSERT_TRUE(set) << error;
    EXPECT_EQ(State(*set), "T1[R2,-,R1] R1>T1 R2>- ");

    for (const auto& [text, line] : std::vector<std::pair<std::string, std::string>>{
             {"receiver R 02:00:00:00:00:01 10.0.0.300\n", "line 1"},
             {"\nreceiver R 02:00:00:00:00:01\n", "line 2"},
             {"receiver R 02:00:00:00:00:01 10.0.0.1\nreceiver S 02:00:00:00:00:01 10.0.0.2\n",
              "line 2"},
             {"transmitter T 02:00:00:00:00:01 10.0.0.1 broadcast\n", "line 1"},
             {"transmitter T 02:00:00:00:00:01 10.0.0.1 multicast\n"
              "receiver R 02:00:00:00:00:02 10.0.0.2\nattach T R backup1\n",
              "line 3"},
             {"receiver ABCDEFGHIJKLMNOPQ 02:00:00:00:00:01 10.0.0.1\n", "line 1"},
             {"receiver R 02:00:00:00:00:01 10.0.0.1\nlink R NOBODY\n", "line 2"},
             {"transmitter T 02:00:00:00:00:01 10.0.0.1 unicast\nslot T backup3 -\n", "line 2"},
         }) {
        EXPECT_FALSE(ParseLayout(text, error)) << text;
        EXPECT_EQ(error.rfind(line, 0), 0u) << error;
    }
    EXPECT_FALSE(ParseLayout("# nothing\n", error));
}

TEST(SimLayout, PresetsHaveTheDocumentedShape) {
    const UnitSet demo = DemoPreset();
    ASSERT_EQ(demo.Units().size(), 9u);
    int attachedToHall = 0, free = 0;
    for (const SimUnit& u : demo.Units()) {
        attachedToHall += u.t1 == Named(demo, "HALL").mac ? 1 : 0;
        free += u.IsReceiver() && u.t1 == Mac{} ? 1 : 0;
    }
    EXPECT_EQ(attachedToHall, 2);
    EXPECT_EQ(free, 4);  // the backup's own link is empty, as an Add backup leaves it
    EXPECT_EQ(Named(demo, "STAGE").t2, Named(demo, "STAGER").mac);

    std::string error;
    EXPECT_EQ(PresetByName("many:1000", error)->Units().size(), 1000u);
    EXPECT_FALSE(PresetByName("many:1001", error));
    EXPECT_FALSE(PresetByName("many:x", error));
}

class RecordingEvents : public EventSink {
  public:
    void Emit(const JsonLine& line) override { lines.push_back(line.Text()); }
    std::vector<vxlab::SimEvent> Parsed() const {
        std::vector<vxlab::SimEvent> out;
        for (const std::string& l : lines) {
            out.push_back(*vxlab::SimEvent::Parse(l));
        }
        return out;
    }
    std::vector<std::string> lines;
};

TEST(SimEngine, AnswersDiscoveryFromEveryUnitToTheAskingStation) {
    RecordingEvents events;
    Engine engine(DemoPreset(), {}, events);
    const auto out = engine.Handle(Discovery());
    ASSERT_EQ(out.size(), 9u);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const Bytes& f = out[i].bytes;
        const SimUnit& unit = engine.Units().Units()[i];
        EXPECT_TRUE(std::equal(kStationMac.begin(), kStationMac.end(), f.begin()));
        EXPECT_TRUE(std::equal(unit.mac.begin(), unit.mac.end(), f.begin() + 6));
        EXPECT_TRUE(std::equal(unit.ip.begin(), unit.ip.end(), f.begin() + 26));
        EXPECT_TRUE(std::equal(kStationIp.begin(), kStationIp.end(), f.begin() + 30));
        EXPECT_EQ(ReadBe16(f, 46), 0x8001);
    }
}

TEST(SimEngine, AppliesAndReportsARequestOrRefusesIt) {
    RecordingEvents events;
    const SimUnit spare = Named(DemoPreset(), "SPARE1");
    Bytes block = ConfigBlockFor(spare);
    std::copy_n("LOBBY", 5, block.begin() + 16);
    Engine engine(DemoPreset(), {}, events);
    auto out = engine.Handle(Request(0x0005, 0x0001, spare.mac, spare.ip, block));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(ReadBe16(out[0].bytes, 46), 0x8005);
    EXPECT_EQ(ReadBe16(out[0].bytes, 48), 1);
    EXPECT_EQ(engine.Units().Find(spare.mac)->NameText(), "LOBBY");
    const auto parsed = events.Parsed();
    ASSERT_EQ(parsed.size(), 3u);  // request, the changed unit, reply
    EXPECT_EQ(parsed[1].Text("name"), "LOBBY");
    EXPECT_EQ(parsed[2].Text("op"), "set-name");

    FaultSwitches refuse;
    refuse.refuse = {Operation::SetName};
    Engine refusing(DemoPreset(), refuse, events);
    out = refusing.Handle(Request(0x0005, 0x0001, spare.mac, spare.ip, block));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(ReadBe16(out[0].bytes, 48), 2);
    EXPECT_EQ(refusing.Units().Find(spare.mac)->NameText(), "SPARE1");

    // A frame for a MAC we do not play is someone else's business.
    Mac stranger = spare.mac;
    stranger[5] = 0x77;
    Bytes other = ConfigBlockFor(spare);
    std::copy(stranger.begin(), stranger.end(), other.begin() + 4);
    EXPECT_TRUE(engine.Handle(Request(0x0005, 0x0001, stranger, spare.ip, other)).empty());
}

TEST(SimEngine, FaultSwitchesShapeTheAnswers) {
    RecordingEvents events;
    FaultSwitches faults;
    faults.duplicates = 2;
    faults.delayMs = 250;
    Engine engine(ManyPreset(4), faults, events);
    const auto out = engine.Handle(Discovery());
    ASSERT_EQ(out.size(), 12u);
    EXPECT_TRUE(
        std::all_of(out.begin(), out.end(), [](const OutFrame& f) { return f.delayMs == 250; }));
    EXPECT_EQ(out[0].bytes, out[1].bytes);
    EXPECT_EQ(out[1].bytes, out[2].bytes);
    EXPECT_NE(out[2].bytes, out[3].bytes);  // the next unit

    FaultSwitches silent;
    silent.noAnswerRate = 1.0;
    Engine mute(ManyPreset(4), silent, events);
    EXPECT_TRUE(mute.Handle(Discovery()).empty());
    EXPECT_EQ(mute.Counters().unanswered, 1u);

    Bytes bad = Discovery();
    bad[24] ^= 0xff;
    EXPECT_TRUE(engine.Handle(bad).empty());
    EXPECT_EQ(engine.Counters().malformed, 1u);
    EXPECT_TRUE(events.Parsed().back().Is("malformed"));
}

TEST(SimEvents, NamesWithAnyBytesSurviveTheJsonLine) {
    SimUnit unit;
    unit.name = {'A', '"', 'B', '\\', 0x01, 0xe9, 'Z', 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const auto event = vxlab::SimEvent::Parse(UnitEvent(unit).Text());
    ASSERT_TRUE(event);
    EXPECT_EQ(event->Text("name"), std::string("A\"B\\\x01\xe9Z"));
    EXPECT_EQ(event->Number("kind"), 0);
    EXPECT_EQ(event->Text("t1"), "00:00:00:00:00:00");
    EXPECT_FALSE(vxlab::SimEvent::Parse("{\"a\":\"unterminated}"));
}

}  // namespace
