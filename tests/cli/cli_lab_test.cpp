// vx418ctl against vx418-sim on the lab link: discovery as JSON, every changing command
// changing the simulated unit, and the exit statuses of a refusal, a late or missing answer and
// bad input.

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "lab_fixture.h"
#include "lab_test_base.h"

namespace {

using vxlab::SimEvent;
using Json = nlohmann::json;

constexpr char kSpare1[] = "02:18:00:00:02:05";

struct Outcome {
    int status = -1;
    std::string output;  // standard output and error
};

class CliLabTest : public vxlab::LabTestBase {
  protected:
    void TearDown() override {
        if (lab_ && lab_->SimRunning()) {
            const auto stopped = lab_->StopSim();
            ASSERT_TRUE(stopped);
            EXPECT_EQ(stopped->Number("malformed"), 0) << "a request the units could not parse";
        }
        LabTestBase::TearDown();
    }

    // Runs vx418ctl from this thread, so in the station namespace.
    static Outcome Ctl(std::vector<std::string> args) {
        args.insert(args.begin(), VX418CTL_BINARY);
        args.insert(args.end(), {"-i", "vxst0"});
        Outcome run;
        run.status = vxlab::Lab::Run(args, &run.output);
        return run;
    }

    // Addressed requests the units saw since event from.
    std::size_t UnitRequestsSince(std::size_t from) const {
        const auto events = lab_->Events();
        return static_cast<std::size_t>(
            std::count_if(events.begin() + static_cast<std::ptrdiff_t>(from), events.end(),
                          [](const SimEvent& e) { return e.Is("request") && e.Has("unit"); }));
    }
};

TEST_F(CliLabTest, DiscoverJsonHasEveryUnitAndTheTopology) {
    StartLab({.preset = "demo"});
    const Outcome run = Ctl({"discover", "--json", "--wait", "300"});
    ASSERT_EQ(run.status, 0) << run.output;
    const Json doc = Json::parse(run.output);
    std::map<std::string, Json> units;
    for (const Json& u : doc["units"]) {
        units[u["mac"]] = u;
    }
    std::size_t simUnits = 0;
    for (const SimEvent& e : lab_->Events()) {
        if (!e.Is("unit")) {
            continue;
        }
        ++simUnits;
        ASSERT_EQ(units.count(e.Text("mac")), 1u) << e.Line();
        const Json& u = units[e.Text("mac")];
        const std::vector<std::pair<const char*, const char*>> fields{
            {"name", "name"},          {"ip", "ip"},
            {"peer_ip", "peer"},       {"backup1_ip", "backup1"},
            {"backup2_ip", "backup2"}, {"t1_mac", "t1"},
            {"t2_mac", "t2"},          {"t3_mac", "t3"}};
        for (const auto& [ours, sims] : fields) {
            EXPECT_EQ(u[ours], e.Text(sims)) << ours << " of " << e.Line();
        }
        EXPECT_EQ(u["kind_code"], e.Number("kind")) << e.Line();
        EXPECT_EQ(u["mode_code"], e.Number("mode")) << e.Line();
    }
    EXPECT_EQ(units.size(), simUnits);

    // Each Transmitter as "NAME mode: RECEIVER/slot ...", then the free Receivers.
    std::vector<std::string> topology;
    for (const Json& t : doc["topology"]["transmitters"]) {
        std::string line = t["name"].get<std::string>() + " " + t["mode"].get<std::string>() + ":";
        for (const Json& r : t["receivers"]) {
            line += " " + r["name"].get<std::string>() + "/" + r["slot"].get<std::string>();
        }
        topology.push_back(line);
    }
    for (const Json& f : doc["topology"]["free"]) {
        topology.push_back("free " + f["name"].get<std::string>());
    }
    EXPECT_EQ(topology, (std::vector<std::string>{"HALL multicast: FOYER/main BAR/main",
                                                  "STAGE unicast: STAGEL/main STAGER/backup1",
                                                  "free SPARE1", "free SPARE2", "free SPARE3"}));
}

TEST_F(CliLabTest, EachChangeReachesTheUnitAndExitsZero) {
    StartLab({.preset = "demo"});
    struct Case {
        std::vector<std::string> args;
        const char* mac;  // the unit whose record shows the change
        const char* field;
        const char* value;
    };
    // In order: each case starts from the state the one before left.
    const std::vector<Case> cases{
        {{"rename", kSpare1, "lobby"}, kSpare1, "name", "LOBBY"},
        {{"set-ip", "02:18:00:00:02:06", "198.18.1.66"}, "02:18:00:00:02:06", "ip", "198.18.1.66"},
        {{"detach", "02:18:00:00:01:01", "02:18:00:00:02:01"},
         "02:18:00:00:02:01",
         "t1",
         "00:00:00:00:00:00"},
        {{"detach", "02:18:00:00:01:02", "02:18:00:00:02:03"},
         "02:18:00:00:02:03",
         "t1",
         "00:00:00:00:00:00"},
        {{"attach", "02:18:00:00:01:02", "02:18:00:00:02:07"},
         "02:18:00:00:02:07",
         "t1",
         "02:18:00:00:01:02"},
        {{"attach", "02:18:00:00:01:02", kSpare1, "--backup", "2"},
         "02:18:00:00:01:02",
         "t3",
         kSpare1},
        {{"set-mode", "HALL", "unicast", "--wait", "300"}, "02:18:00:00:01:01", "mode", "1"},
    };
    for (const Case& c : cases) {
        const Outcome run = Ctl(c.args);
        EXPECT_EQ(run.status, 0) << c.args[0] << "\n" << run.output;
        EXPECT_NE(run.output.find("Succeeded"), std::string::npos) << run.output;
        const auto unit = lab_->UnitState(c.mac);
        ASSERT_TRUE(unit);
        EXPECT_EQ(unit->Text(c.field), c.value) << c.args[0] << ": " << unit->Line();
    }
}

TEST_F(CliLabTest, FaultSwitchesGiveTheirExitStatus) {
    struct Case {
        std::vector<std::string> simArgs, args;
        int status;
        const char* err;
    };
    const std::vector<Case> cases{
        {{"--refuse", "all"}, {"rename", kSpare1, "X"}, 1, "Failed to update device's name."},
        {{"--refuse", "all"}, {"attach", "02:18:00:00:01:02", kSpare1}, 1, "Failed to add"},
        // The reply comes, but after the time-out.
        {{"--delay", "1500"},
         {"rename", kSpare1, "X", "--wait", "3000", "--timeout", "300"},
         3,
         "no answer from SPARE1"},
        // Found, then silent.
        {{"--no-answer", "1.0", "--no-answer-to", "all"},
         {"rename", kSpare1, "X", "--timeout", "300"},
         3,
         "no answer from SPARE1"},
        // Silent to the discovery too: no unit is known.
        {{"--no-answer", "1.0"}, {"rename", kSpare1, "X", "--wait", "200"}, 2, "no unit"},
    };
    StartLab({.preset = "demo", .extraArgs = cases[0].simArgs});
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        if (i > 0) {
            lab_->StopSim();
            std::string error;
            ASSERT_TRUE(lab_->StartSim({.preset = "demo", .extraArgs = c.simArgs}, error)) << error;
        }
        const Outcome run = Ctl(c.args);
        EXPECT_EQ(run.status, c.status) << c.args[0] << "\n" << run.output;
        EXPECT_NE(run.output.find(c.err), std::string::npos) << run.output;
    }
}

TEST_F(CliLabTest, BadInputExitsTwoBeforeAnyRequest) {
    StartLab({.preset = "demo"});
    struct Case {
        std::vector<std::string> args;
        const char* err;
        bool discovers;  // an unknown unit is known only after a discovery
    };
    const std::vector<Case> cases{
        {{"rename", kSpare1, "SEVENTEENLETTERSX"}, "Device Name Too Long.", false},
        {{"rename", kSpare1, "A-B"}, "Device Name Format Error.", false},
        {{"set-ip", kSpare1, "198.18.1.1 2"}, "IP Format Error.", false},
        {{"rename", "02:18:00:00:09:09", "X", "--wait", "200"}, "no unit 02:18:00:00:09:09", true},
        {{"set-mode", kSpare1, "unicast"}, "is not a Transmitter", true},
    };
    for (const Case& c : cases) {
        const std::size_t from = lab_->EventCount();
        const Outcome run = Ctl(c.args);
        EXPECT_EQ(run.status, 2) << c.args[2];
        EXPECT_NE(run.output.find(c.err), std::string::npos) << run.output;
        EXPECT_EQ(UnitRequestsSince(from), 0u) << c.args[2];
        if (!c.discovers) {
            EXPECT_EQ(lab_->EventCount(), from) << "nothing on the wire for " << c.args[2];
        }
    }
}

}  // namespace
