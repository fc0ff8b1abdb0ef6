// vx418ctl against vx418-sim on the lab link: every unit discovered, each change reaching the
// unit once and not again, the exit statuses, confirmation under racing runs, --force, an
// installation exported and applied back, and every JSON document against the schema.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <thread>

#include "lab_fixture.h"
#include "lab_test_base.h"
#include "wait_until.h"

namespace {

using vxlab::SimEvent;
using Json = nlohmann::json;
using namespace std::chrono_literals;

constexpr char kHall[] = "02:18:00:00:01:01";
constexpr char kStage[] = "02:18:00:00:01:02";
constexpr char kFoyer[] = "02:18:00:00:02:01";
constexpr char kBar[] = "02:18:00:00:02:02";
constexpr char kStageL[] = "02:18:00:00:02:03";
constexpr char kSpare1[] = "02:18:00:00:02:05";
constexpr char kSpare2[] = "02:18:00:00:02:06";
constexpr char kSpare3[] = "02:18:00:00:02:07";

struct Outcome {
    int status = -1;
    std::string out, err;
    Json Document() const { return Json::parse(out); }
};

class CliLabTest : public vxlab::LabTestBase {
  protected:
    void TearDown() override {
        if (lab_ && lab_->SimRunning()) {
            const auto stopped = lab_->StopSim();
            ASSERT_TRUE(stopped);
            EXPECT_EQ(stopped->Number("malformed"), 0) << "a request the units could not parse";
        }
        // The adapter lock of this namespace's vxst0 outlives the runs; not the namespace.
        struct stat ns {};
        if (inStation_ && stat("/proc/self/ns/net", &ns) == 0) {
            std::filesystem::remove("/run/lock/vx418ctl.vxst0.net" + std::to_string(ns.st_ino) +
                                    ".lock");
        }
        LabTestBase::TearDown();
    }

    void RestartSim(const vxlab::SimOptions& options) {
        lab_->StopSim();
        simFrom_ = lab_->EventCount();
        std::string error;
        ASSERT_TRUE(lab_->StartSim(options, error)) << error;
    }

    // Runs vx418ctl from this thread (so in the station namespace) on the lab adapter.
    static Outcome Ctl(std::vector<std::string> args) {
        args.insert(args.begin(), VX418CTL_BINARY);
        if (args[1] != "adapters") {
            args.insert(args.end(), {"-i", "vxst0"});
        }
        Outcome run;
        run.status = vxlab::Lab::Run(args, &run.out, &run.err);
        return run;
    }

    // The simulator's events come through a pipe a moment after the fact: its count once the log
    // has been quiet for 100 ms.
    std::size_t SettledEventCount() const {
        std::size_t count = lab_->EventCount();
        for (int quiet = 0; quiet < 10;) {
            std::this_thread::sleep_for(10ms);
            const std::size_t now = lab_->EventCount();
            quiet = now == count ? quiet + 1 : 0;
            count = now;
        }
        return count;
    }

    // Addressed requests the units saw since event from.
    std::size_t UnitRequestsSince(std::size_t from) const {
        SettledEventCount();
        const auto events = lab_->Events();
        return static_cast<std::size_t>(
            std::count_if(events.begin() + static_cast<std::ptrdiff_t>(from), events.end(),
                          [](const SimEvent& e) { return e.Is("request") && e.Has("unit"); }));
    }

    // The simulator's latest record of the unit shows the value (once its log has caught up).
    bool UnitShows(const std::string& mac, const std::string& field,
                   const std::string& value) const {
        return vxtest::SleepUntil(
            [&] {
                const auto unit = lab_->UnitState(mac);
                return unit && unit->Text(field) == value;
            },
            3s);
    }

    // The running simulator's unit events: the units as it holds them, by MAC.
    std::map<std::string, SimEvent> SimUnits() const {
        std::map<std::string, SimEvent> units;
        const auto events = lab_->Events();
        for (auto e = events.begin() + static_cast<std::ptrdiff_t>(simFrom_); e != events.end();
             ++e) {
            if (e->Is("unit")) {
                units.insert_or_assign(e->Text("mac"), *e);
            }
        }
        return units;
    }

    // The same as comparable text (the record's fields behind the MAC).
    std::map<std::string, std::string> SimState() const {
        std::map<std::string, std::string> units;
        for (const auto& [mac, e] : SimUnits()) {
            units[mac] = e.Line().substr(e.Line().find(",\"name\""));
        }
        return units;
    }

    std::size_t simFrom_ = 0;  // the running simulator's first event

    std::string TempFile(const std::string& name) const {
        return (std::filesystem::temp_directory_path() / (lab_->StationNamespace() + "-" + name))
            .string();
    }
};

// The JSON null of an empty field against the simulator's all-zero text.
std::string Field(const Json& value, const char* none) {
    return value.is_null() ? none : value.get<std::string>();
}

TEST_F(CliLabTest, DiscoversEveryUnitWithEveryField) {
    struct Case {
        std::string preset, layout;
        const char* wait;
        std::map<std::string, std::string> names;  // MAC -> name as UTF-8, where it matters
    };
    const std::string layout = TempFile("latin1.layout");
    std::ofstream(layout) << "receiver \xc4\xd6\xdc[x]\xff"
                             "0 02:18:00:00:03:01 198.18.3.1\n"
                          << "receiver \x01\x7f\x9b\xa0Z 02:18:00:00:03:02 198.18.3.2\n";
    const std::vector<Case> cases{
        {"demo", "", "300", {}},
        {"many:40", "", "300", {}},
        {"many:1000", "", "2000", {}},
        {"",
         layout,
         "300",
         {{"02:18:00:00:03:01", "ÄÖÜ[x]ÿ0"}, {"02:18:00:00:03:02", "\x01\x7f\xc2\x9b\xc2\xa0Z"}}},
    };
    StartLab({.preset = "demo"});
    for (const Case& c : cases) {
        RestartSim({.preset = c.preset, .layoutFile = c.layout});
        const Outcome run = Ctl({"discover", "--json", "--wait", c.wait});
        ASSERT_EQ(run.status, 0) << run.err;
        const Json doc = run.Document();
        std::map<std::string, Json> units;
        for (const Json& u : doc["units"]) {
            units[u["mac"]] = u;
        }
        const auto simUnits = SimUnits();
        for (const auto& [mac, e] : simUnits) {
            ASSERT_EQ(units.count(e.Text("mac")), 1u) << e.Line();
            const Json& u = units[e.Text("mac")];
            const auto name = c.names.find(e.Text("mac"));
            EXPECT_EQ(u["name"], name != c.names.end() ? name->second : e.Text("name"));
            EXPECT_EQ(u["ip"], e.Text("ip"));
            for (const auto& [ours, sims] : {std::pair{"peer_ip", "peer"},
                                             {"backup1_ip", "backup1"},
                                             {"backup2_ip", "backup2"}}) {
                EXPECT_EQ(Field(u[ours], "0.0.0.0"), e.Text(sims)) << ours << " of " << e.Line();
            }
            for (const auto& [ours, sims] :
                 {std::pair{"t1_mac", "t1"}, {"t2_mac", "t2"}, {"t3_mac", "t3"}}) {
                EXPECT_EQ(Field(u[ours], "00:00:00:00:00:00"), e.Text(sims)) << e.Line();
            }
            EXPECT_EQ(u["kind_code"], e.Number("kind")) << e.Line();
            EXPECT_EQ(u["mode_code"], e.Number("mode")) << e.Line();
        }
        EXPECT_EQ(units.size(), simUnits.size()) << c.preset;
        EXPECT_NE(run.err.find(std::to_string(simUnits.size()) + " units answered"),
                  std::string::npos);
    }
    std::filesystem::remove(layout);
}

// A Receiver that no Transmitter feeds is among the free ones, also when its own link names a
// unicast Transmitter that took another main Receiver.
TEST_F(CliLabTest, DiscoverShowsTheTopology) {
    StartLab({.preset = "demo"});
    const auto topology = [&] {
        const Json doc = Ctl({"discover", "--json", "--wait", "300"}).Document();
        std::vector<std::string> lines;
        for (const Json& t : doc["topology"]["transmitters"]) {
            std::string line =
                t["name"].get<std::string>() + " " + t["mode"].get<std::string>() + ":";
            for (const Json& r : t["receivers"]) {
                line += " " + r["name"].get<std::string>() + "/" + r["slot"].get<std::string>();
            }
            lines.push_back(line);
        }
        for (const Json& f : doc["topology"]["free"]) {
            lines.push_back("free " + f["name"].get<std::string>());
        }
        return lines;
    };
    EXPECT_EQ(topology(),
              (std::vector<std::string>{"HALL multicast: FOYER/main BAR/main",
                                        "STAGE unicast: STAGEL/main STAGER/backup1", "free STAGER",
                                        "free SPARE1", "free SPARE2", "free SPARE3"}));
    ASSERT_EQ(Ctl({"attach", "02:18:00:00:01:02", "02:18:00:00:02:05", "--force"}).status, 0);
    EXPECT_EQ(topology(),
              (std::vector<std::string>{"HALL multicast: FOYER/main BAR/main",
                                        "STAGE unicast: SPARE1/main STAGER/backup1", "free STAGEL",
                                        "free STAGER", "free SPARE2", "free SPARE3"}));
    // The drawing dashes STAGEL's link, which STAGE no longer returns, and Graphviz takes it.
    const Outcome dot = Ctl({"export", "--format", "dot", "--wait", "300"});
    EXPECT_NE(dot.out.find(R"("02:18:00:00:02:03" -> "02:18:00:00:01:02" [label="link", )"
                           R"(style=dashed];)"),
              std::string::npos)
        << dot.out;
    const std::string file = TempFile("demo.dot");
    std::ofstream(file) << dot.out;
    if (vxlab::Lab::Run({"sh", "-c", "command -v dot"}) == 0) {
        EXPECT_EQ(vxlab::Lab::Run({"dot", "-Tpng", "-o", file + ".png", file}), 0);
    }
}

// Each change reaches its unit and exits 0; run again, it sends nothing and says so.
TEST_F(CliLabTest, EachChangeReachesTheUnitOnceAndNotAgain) {
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
        {{"set-ip", "02-18-00-00-02-06", "198.18.1.66"}, kSpare2, "ip", "198.18.1.66"},
        {{"detach", kHall, kFoyer}, kFoyer, "t1", "00:00:00:00:00:00"},
        // STAGER, backup 1, moves up to main.
        {{"detach", kStage, kStageL}, kStageL, "t1", "00:00:00:00:00:00"},
        {{"attach", kStage, kSpare3, "--backup", "1"}, kStage, "t2", kSpare3},
        {{"attach", "021800000102", kSpare1, "--backup", "2"}, kStage, "t3", kSpare1},
        {{"set-mode", "hall", "unicast", "--force", "--wait", "300"}, kHall, "mode", "1"},
        {{"attach", kHall, kFoyer}, kHall, "t1", kFoyer},
    };
    for (const Case& c : cases) {
        const Outcome run = Ctl(c.args);
        EXPECT_EQ(run.status, 0) << c.args[0] << "\n" << run.err;
        EXPECT_NE(run.out.find("Succeeded"), std::string::npos) << run.out;
        EXPECT_TRUE(UnitShows(c.mac, c.field, c.value)) << c.args[0];

        const std::size_t from = SettledEventCount();
        std::vector<std::string> again = c.args;
        again.push_back("--json");
        const Outcome rerun = Ctl(again);
        EXPECT_EQ(rerun.status, 0) << rerun.err;
        EXPECT_EQ(rerun.Document()["changed"], false) << rerun.out;
        EXPECT_EQ(UnitRequestsSince(from), 0u) << c.args[0];
    }
}

TEST_F(CliLabTest, EachExitStatus) {
    struct Case {
        std::vector<std::string> simArgs, before, args;
        int status;
        const char* err;
        std::size_t unitRequests;  // addressed requests the run may send
    };
    const std::vector<Case> cases{
        {{"--refuse", "all"}, {}, {"rename", kSpare1, "X"}, 1, "Failed to update device's", 1},
        {{}, {}, {"rename", kSpare1, "A-B"}, 2, "Device Name Format Error.", 0},
        {{}, {}, {"set-ip", kSpare1, "198.18.266"}, 2, "IP Format Error.", 0},
        {{}, {}, {"set-mode", kSpare1, "unicast"}, 2, "is not a Transmitter", 0},
        {{}, {}, {"attach", kStage, kSpare1}, 2, "add --force", 0},
        // The reply comes after the time-out: the unit did take it.
        {{"--delay", "1500"},
         {},
         {"rename", kSpare1, "X", "--wait", "3000", "--timeout", "300"},
         3,
         "no answer: the change may or may not have been applied; check with `vx418ctl show "
         "02:18:00:00:02:05 -i vxst0`",
         1},
        {{"--no-answer", "1.0", "--no-answer-to", "all"},
         {},
         {"rename", kSpare1, "X", "--timeout", "300"},
         3,
         "no answer",
         1},
        {{"--no-answer", "1.0"}, {}, {"discover", "--wait", "300"}, 3, "no unit answered", 0},
        {{}, {}, {"rename", "02:18:00:00:09:09", "X", "--wait", "300"}, 5, "no unit 02:18", 0},
        {{},
         {"rename", kSpare2, "SPARE1"},
         {"rename", "spare1", "X", "--wait", "300"},
         5,
         "2 units are named spare1: SPARE1: Receiver (198.18.1.25) [02:18:00:00:02:05], "
         "SPARE1: Receiver (198.18.1.26) [02:18:00:00:02:06]",
         0},
    };
    StartLab({.preset = "demo"});
    std::vector<std::string> running;
    for (const Case& c : cases) {
        if (c.simArgs != running || !c.before.empty()) {
            RestartSim({.preset = "demo", .extraArgs = c.simArgs});
            running = c.simArgs;
        }
        if (!c.before.empty()) {
            ASSERT_EQ(Ctl(c.before).status, 0);
        }
        const std::size_t from = SettledEventCount();
        const Outcome run = Ctl(c.args);
        EXPECT_EQ(run.status, c.status) << c.args[0] << "\n" << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_EQ(UnitRequestsSince(from), c.unitRequests) << c.args[0] << " " << c.args[1];
    }

    // 4: another run holds the adapter; this one names it when it gives up.
    std::thread holder([] { Ctl({"discover", "--wait", "1000"}); });
    std::this_thread::sleep_for(300ms);
    const Outcome run = Ctl({"rename", kSpare1, "X", "--lock-wait", "200"});
    holder.join();
    EXPECT_EQ(run.status, 4) << run.err;
    EXPECT_NE(run.err.find("is in use by pid "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(": vx418ctl discover --wait 1000 -i vxst0"), std::string::npos);
}

// Two runs rename one unit at once, and the unit ignores half of the renames: a run that exits
// 0 saw its own name applied, never the other's.
TEST_F(CliLabTest, RacingRenamesConfirmOnlyTheirOwnName) {
    StartLab({.preset = "demo",
              .extraArgs = {"--no-answer", "0.5", "--no-answer-to", "set-name", "--seed", "7"}});
    std::map<int, int> statuses;
    for (int pair = 0; pair < 10; ++pair) {
        Outcome runs[2];
        const std::string names[2] = {"R" + std::to_string(pair) + "A",
                                      "R" + std::to_string(pair) + "B"};
        std::thread second([&] {
            runs[1] = Ctl({"rename", kSpare1, names[1], "--timeout", "300", "--json"});
        });
        runs[0] = Ctl({"rename", kSpare1, names[0], "--timeout", "300", "--json"});
        second.join();
        for (int k = 0; k < 2; ++k) {
            ++statuses[runs[k].status];
            if (runs[k].status != 0) {
                continue;
            }
            EXPECT_EQ(runs[k].Document()["unit"]["name"], names[k]);
            const auto applied = lab_->WaitForEvent(
                [&](const SimEvent& e) { return e.Is("unit") && e.Text("name") == names[k]; }, 0ms);
            EXPECT_TRUE(applied) << names[k] << " exited 0 but the unit never took it";
        }
    }
    EXPECT_EQ(statuses.size(), 2u) << "both outcomes expected: 0 and 3";
    EXPECT_GT(statuses[0], 0);
    EXPECT_GT(statuses[3], 0);
}

TEST_F(CliLabTest, ForceIsNeededToUndoOtherAttachments) {
    StartLab({.preset = "demo"});
    struct Case {
        std::vector<std::string> args;
        std::set<std::string> affected;  // Receivers listed as side effects
        const char* mac;
        const char* field;
        const char* value;
    };
    const std::vector<Case> cases{
        {{"attach", kStage, kFoyer}, {kStageL, kFoyer}, kStage, "t1", kFoyer},
        {{"set-mode", kHall, "unicast", "--wait", "300"}, {kBar}, kBar, "t1", "00:00:00:00:00:00"},
    };
    // A backup slot names the Receiver and takes nothing from anyone: BAR stays with HALL.
    const Outcome backup = Ctl({"attach", kStage, kBar, "--backup", "2", "--json"});
    EXPECT_EQ(backup.status, 0) << backup.err;
    EXPECT_TRUE(backup.Document()["side_effects"].empty()) << backup.out;
    EXPECT_TRUE(UnitShows(kStage, "t3", kBar) && UnitShows(kBar, "t1", kHall));
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("--json");
        const std::size_t from = SettledEventCount();
        const Outcome refused = Ctl(args);
        EXPECT_EQ(refused.status, 2) << refused.err;
        EXPECT_EQ(UnitRequestsSince(from), 0u);
        std::set<std::string> listed;
        const Json doc = refused.Document();
        for (const Json& e : doc["side_effects"]) {
            listed.insert(e["receiver"].get<std::string>());
        }
        EXPECT_EQ(listed, c.affected) << refused.out;

        args.push_back("--force");
        const Outcome forced = Ctl(args);
        EXPECT_EQ(forced.status, 0) << forced.err;
        EXPECT_TRUE(UnitShows(c.mac, c.field, c.value)) << c.args[0];
    }
}

TEST_F(CliLabTest, AnExportedInstallationIsAppliedBack) {
    StartLab({.preset = "demo"});
    const std::string file = TempFile("venue.json");
    ASSERT_EQ(Ctl({"export", "-o", file, "--wait", "300"}).status, 0);
    SettledEventCount();
    const auto installed = SimState();

    for (const std::vector<std::string>& change : std::vector<std::vector<std::string>>{
             {"rename", kStage, "MAIN"},
             {"set-ip", kStage, "198.18.1.80"},
             {"set-ip", kSpare1, "198.18.1.12"},  // STAGE's: SPARE1 must move back first
             {"set-mode", kHall, "unicast", "--force"},
             {"attach", kHall, kFoyer},
             {"attach", kStage, kBar, "--backup", "2"},
             {"attach", kStage, kSpare3, "--force"},
         }) {
        ASSERT_EQ(Ctl(change).status, 0) << change[0];
    }
    std::size_t from = SettledEventCount();
    ASSERT_NE(SimState(), installed);
    const Outcome dry = Ctl({"apply", file, "--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(UnitRequestsSince(from), 0u);
    const Outcome applied = Ctl({"apply", file, "--json"});
    EXPECT_EQ(applied.status, 0) << applied.err;
    EXPECT_EQ(applied.Document()["matched"], true);
    from = SettledEventCount();
    EXPECT_EQ(SimState(), installed);

    const Outcome again = Ctl({"apply", file, "--json"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(again.Document()["plan"].empty()) << again.out;
    EXPECT_EQ(UnitRequestsSince(from), 0u);
    std::filesystem::remove(file);
}

// Units as they come from the box: their shared addresses are errors (exit 1), their shared names
// warnings; the adapter's /15 makes the station's address and the subnet's broadcast errors too.
TEST_F(CliLabTest, CheckFindsUnitsAsTheyComeFromTheBox) {
    StartLab({.layoutFile = VX_LAB_FACTORY_LAYOUT});
    const Outcome run = Ctl({"check", "--json", "--wait", "300"});
    EXPECT_EQ(run.status, 1) << run.err;
    const Json doc = run.Document();
    std::multiset<std::string> found;
    for (const Json& f : doc["findings"]) {
        found.insert(f["code"].get<std::string>() + " " + std::to_string(f["units"].size()));
    }
    EXPECT_EQ(found, (std::multiset<std::string>{"address-shared 16", "address-shared 2",
                                                 "address-station 1", "address-unusable 1",
                                                 "name-shared 16", "name-shared 2"}));
    EXPECT_EQ(doc["answered"], 20);
    EXPECT_EQ(doc["errors"], 4);
    const Outcome people = Ctl({"check", "--wait", "300"});
    EXPECT_EQ(people.status, 1);
    EXPECT_NE(people.out.find("error address-unusable: 198.19.255.255 is the broadcast address "
                              "of 198.18.0.0/15 but is used by ATTIC [02:18:00:00:06:02].\n"),
              std::string::npos)
        << people.out;
    EXPECT_EQ(std::count(people.out.begin(), people.out.end(), '\n'), 6) << people.out;
}

// Units as they come from the box: one assign gives the eighteen VX418 units unique names and
// addresses, each step confirmed, and no unit ever moves onto an address another unit holds;
// check then finds only the two units left alone, and an export diffs clean.
TEST_F(CliLabTest, AssignGivesFactoryUnitsUniqueNamesAndAddresses) {
    StartLab({.layoutFile = VX_LAB_FACTORY_LAYOUT});
    EXPECT_EQ(Ctl({"check", "--wait", "300"}).status, 1);
    const Outcome run =
        Ctl({"assign", "--where", "name=vx418rx", "--where", "name=VX418TX", "--names", "AV{n:02}",
             "--addresses", "198.18.0.250", "--wait", "300", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json doc = run.Document();
    EXPECT_EQ(doc["assigned"].size(), 18u);
    EXPECT_EQ(doc["requests_sent"], doc["plan"].size());
    for (const Json& step : doc["plan"]) {
        EXPECT_EQ(step["result"], "confirmed") << step;
    }
    const Json check = Ctl({"check", "--json", "--wait", "300"}).Document();
    for (const Json& f : check["findings"]) {
        EXPECT_EQ(f["units"].size(), 1u) << f;
        EXPECT_EQ(f["units"][0].get<std::string>().substr(0, 15), "02:18:00:00:06:") << f;
    }
    const std::string file = TempFile("assigned.json");
    ASSERT_EQ(Ctl({"export", "-o", file, "--wait", "300"}).status, 0);
    EXPECT_EQ(Ctl({"diff", file}).status, 0);
    std::filesystem::remove(file);

    // Replayed in order, each new address was nobody's at that moment.
    SettledEventCount();
    std::map<std::string, std::string> addresses;  // MAC -> address
    bool ready = false;
    for (const SimEvent& e : lab_->Events()) {
        ready = ready || e.Is("ready");
        const std::string mac = e.Text("mac"), ip = e.Text("ip");
        if (e.Is("unit") && ready && addresses[mac] != ip) {
            for (const auto& [other, held] : addresses) {
                EXPECT_FALSE(other != mac && held == ip)
                    << mac << " joined " << other << " on " << ip;
            }
        }
        if (e.Is("unit")) {
            addresses[mac] = ip;
        }
    }
}

// The Ansible collection (ansible/) here, in the station namespace: ansible-playbook -c local
// --diff runs tests/ansible/installation.yml. Check mode sends nothing, the first run changes,
// the second does not, the diff shows before and after, a silent unit fails with vx418ctl's
// message: the playbook asserts what each module said, the simulator what reached the units.
TEST_F(CliLabTest, AnsibleCollectionAppliesOnceAndReports) {
#ifndef VX_ANSIBLE_COLLECTIONS
    GTEST_SKIP() << "the sanitizer build leaves the Python modules to the normal one";
#else
    if (vxlab::Lab::Run({"sh", "-c", "command -v ansible-playbook >/dev/null"}) != 0) {
        GTEST_SKIP() << "ansible-playbook is not installed (Debian package ansible-core)";
    }
    StartLab({.preset = "demo"});
    const std::string home = TempFile("ansible");
    std::filesystem::create_directories(home);
    // This host, the collection of the source tree, and none of the user's settings.
    std::ofstream(home + "/hosts") << "localhost ansible_connection=local adapter=vxst0 "
                                      "vx418ctl=" VX418CTL_BINARY "\n";
    std::ofstream(home + "/ansible.cfg")
        << "[defaults]\ncollections_path = " VX_ANSIBLE_COLLECTIONS "\ninventory = " << home
        << "/hosts\nremote_tmp = " << home << "/tmp\ninterpreter_python = /usr/bin/python3\n";
    std::string out;
    EXPECT_EQ(vxlab::Lab::Run({"env", "ANSIBLE_HOME=" + home,
                               "ANSIBLE_CONFIG=" + home + "/ansible.cfg", "ANSIBLE_NOCOLOR=1",
                               "ansible-playbook", "--diff", VX_ANSIBLE_TESTS "/installation.yml"},
                              &out),
              0)
        << out;
    for (const char* shown : {"-  \"name\": \"SPARE1\"\n", "+  \"name\": \"lobby\"\n",
                              "1 units of the file did not answer"}) {
        EXPECT_NE(out.find(shown), std::string::npos) << shown << "\n" << out;
    }
    EXPECT_EQ(UnitRequestsSince(simFrom_), 3u) << "only the first run sends, one per change";
    std::filesystem::remove_all(home);
#endif
}

// Every command's --json output is exactly one document that the schema accepts, errors too.
// A random segment as units may report it: shared names and addresses, slots and links that
// need not agree (backups whose own link is empty or names another Transmitter, links a
// unicast Transmitter does not return), as vx418-sim layout statements.
struct RandomLayout {
    struct Unit {
        std::string name, mac, ip;
        bool transmitter = false, unicast = false;
        std::string link;                    // a Receiver's own link: a unit's index or ""
        std::array<std::string, 3> slots{};  // a unicast Transmitter's
    };
    std::vector<Unit> units;

    explicit RandomLayout(std::mt19937& random) {
        const auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
        const int transmitters = 2 + static_cast<int>(random() % 2);
        const int count = transmitters + 4 + static_cast<int>(random() % 4);
        for (int i = 0; i < count; ++i) {
            Unit u;
            u.transmitter = i < transmitters;
            u.unicast = u.transmitter && chance(50);
            u.name = std::string(1, static_cast<char>('A' + random() % 3)) +
                     (u.transmitter ? "TX" : "RX");
            u.mac = "02:18:00:00:03:" + std::to_string(10 + i);  // i < 10
            u.ip = chance(15) && i > 0 ? units[random() % units.size()].ip
                                       : "198.18.3." + std::to_string(10 + i);
            units.push_back(u);
        }
        for (Unit& u : units) {
            if (!u.transmitter && chance(60)) {
                u.link = std::to_string(random() % transmitters);
            }
            for (std::size_t s = 0; u.unicast && s < 3; ++s) {
                if (chance(s == 0 ? 60 : 35)) {
                    u.slots[s] = std::to_string(transmitters + random() % (count - transmitters));
                }
            }
        }
    }
    const Unit& At(const std::string& index) const { return units[std::stoul(index)]; }
    std::string Text() const {
        std::string text;
        for (const Unit& u : units) {
            text += (u.transmitter ? "transmitter " : "receiver ") + u.name + " " + u.mac + " " +
                    u.ip + (u.transmitter ? (u.unicast ? " unicast\n" : " multicast\n") : "\n");
        }
        static constexpr const char* kSlots[] = {"main", "backup1", "backup2"};
        for (const Unit& u : units) {
            if (!u.link.empty()) {
                text += "link " + u.mac + " " + At(u.link).mac + "\n";
            }
            for (std::size_t s = 0; s < 3; ++s) {
                if (!u.slots[s].empty()) {
                    text += "slot " + u.mac + " " + kSlots[s] + " " + At(u.slots[s]).mac + "\n";
                }
            }
        }
        return text;
    }

    // A few changes that the requests can undo under the readings: names, unshared addresses,
    // links to multicast Transmitters, consistent main Receivers, backups (under the other
    // reading only those whose own link names their Transmitter already).
    void Disturb(std::mt19937& random, bool otherReading) {
        std::vector<std::function<void()>> fields, changes;
        for (std::size_t i = 0; i < units.size(); ++i) {
            Unit& u = units[i];
            const std::string self = std::to_string(i);
            fields.push_back([&u] { u.name = "Z" + u.name; });
            if (std::count_if(units.begin(), units.end(),
                              [&](const Unit& o) { return o.ip == u.ip; }) == 1) {
                fields.push_back([&u] { u.ip = "198.18.4." + u.ip.substr(u.ip.rfind('.') + 1); });
            }
            const bool toMulticast = !u.link.empty() && !At(u.link).unicast;
            const bool held = std::any_of(units.begin(), units.end(), [&](const Unit& t) {
                return std::find(t.slots.begin(), t.slots.end(), self) != t.slots.end();
            });
            if (toMulticast) {
                changes.push_back([&u] { u.link.clear(); });
            } else if (!u.transmitter && u.link.empty() && !held) {
                changes.push_back([&u] { u.link = "0"; });  // unit 0 made multicast below
            }
            for (std::size_t s = 0; u.unicast && s < 3; ++s) {
                if (u.slots[s].empty()) {
                    continue;
                }
                Unit& r = units[std::stoul(u.slots[s])];
                const bool consistentMain =
                    s == 0 && r.link == self && u.slots[1].empty() && u.slots[2].empty();
                if (consistentMain) {
                    changes.push_back([&u, &r] {
                        u.slots[0].clear();
                        r.link.clear();
                    });
                } else if (s > 0 && (!otherReading || r.link == self)) {
                    changes.push_back([&u, s] { u.slots[s].clear(); });
                }
            }
        }
        std::shuffle(changes.begin(), changes.end(), random);
        changes.resize(std::min<std::size_t>(changes.size(), 2));
        changes.push_back(fields[random() % fields.size()]);
        for (const auto& change : changes) {
            change();
        }
    }
};

// Export, change the units, apply the export: the units are as exported, and a second apply
// sends nothing. Under the usual readings and the others.
TEST_F(CliLabTest, AnyExportedSegmentAppliesBackUnderEachReading) {
    StartLab({.preset = "demo"});
    std::mt19937 random(20261208);
    const std::string layoutFile = TempFile("random.layout"), file = TempFile("random.json");
    for (const char* reading : {"usual", "alternative"}) {
        for (int round = 0; round < 5; ++round) {
            RandomLayout layout(random);
            layout.units[0].unicast = false;  // a multicast Transmitter for the links to move to
            std::ofstream(layoutFile) << layout.Text();
            const vxlab::SimOptions options{.layoutFile = layoutFile,
                                            .extraArgs = {"--reading", reading}};
            RestartSim(options);
            SCOPED_TRACE(std::string(reading) + "\n" + layout.Text());
            ASSERT_EQ(Ctl({"export", "-o", file, "--wait", "300"}).status, 0);
            const Json exported = Json::parse(std::ifstream(file));

            layout.Disturb(random, std::string(reading) != "usual");
            std::ofstream(layoutFile) << layout.Text();
            RestartSim(options);
            const Outcome applied = Ctl({"apply", file, "--json"});
            EXPECT_EQ(applied.status, 0) << "changed to\n" << layout.Text() << applied.err;
            const Outcome again = Ctl({"export", "--wait", "300"});
            EXPECT_EQ(again.Document()["units"], exported["units"]) << again.out;
            EXPECT_EQ(Ctl({"apply", file, "--json"}).Document()["requests_sent"], 0);
        }
    }
}

TEST_F(CliLabTest, EveryJsonDocumentMatchesTheSchema) {
    StartLab({.preset = "demo"});
    const std::string file = TempFile("schema-venue.json");
    const std::string unknown = TempFile("schema-unknown.json");
    Json documents = Json::array();
    const auto collect = [&](std::vector<std::string> args, int status) {
        args.push_back("--json");
        const Outcome run = Ctl(args);
        EXPECT_EQ(run.status, status) << args[0] << "\n" << run.err;
        const Json doc = Json::parse(run.out, nullptr, false);
        ASSERT_FALSE(doc.is_discarded()) << args[0] << ": not one JSON document:\n" << run.out;
        EXPECT_EQ(doc.contains("error"), status != 0) << run.out;
        documents.push_back({args[0] + " (" + std::to_string(status) + ")", doc});
    };
    collect({"adapters"}, 0);
    collect({"discover", "--wait", "300"}, 0);
    collect({"show", "stage", "--wait", "300"}, 0);
    collect({"rename", kSpare1, "LOBBY"}, 0);
    collect({"rename", kSpare1, "LOBBY"}, 0);
    collect({"set-ip", kSpare1, "198.18.1.70", "--dry-run"}, 0);
    collect({"set-mode", kHall, "unicast", "--wait", "300"}, 2);
    collect({"attach", kHall, kSpare2}, 0);
    collect({"detach", kHall, kSpare2}, 0);
    collect({"export", "--wait", "300"}, 0);
    collect({"export", "-o", file, "--wait", "300"}, 0);
    collect({"apply", file, "--dry-run"}, 0);
    ASSERT_EQ(Ctl({"rename", kSpare1, "SPARE1"}).status, 0);
    collect({"diff", file}, 1);
    EXPECT_EQ(documents.back()[1]["differences"], Json::parse(R"([{"mac": "02:18:00:00:02:05",
        "name": "SPARE1", "field": "name", "file": "LOBBY", "unit": "SPARE1"}])"));
    collect({"apply", file}, 0);
    collect({"diff", file}, 0);
    Json extra = Json::parse(std::ifstream(file));
    extra["units"]["02:18:00:00:09:09"] = {
        {"name", "GONE"}, {"ip", "198.18.9.9"}, {"kind", "receiver"}};
    std::ofstream(unknown) << extra;
    collect({"apply", unknown, "--wait", "300"}, 5);
    collect({"diff", unknown, "--wait", "300"}, 5);
    extra = Json::parse(std::ifstream(file));
    extra["units"][kSpare1]["kind"] = "transmitter";
    std::ofstream(unknown) << extra;
    collect({"apply", unknown, "--wait", "300"}, 2);  // every reason in the document
    EXPECT_FALSE(documents.back()[1].at("error").value("details", Json::array()).empty())
        << documents.back();
    collect({"rename", "nobody", "X", "--wait", "300"}, 5);
    collect({"rename", kSpare1}, 2);
    std::string shown;  // the adapter from VX418_ADAPTER
    EXPECT_EQ(
        vxlab::Lab::Run({"env", "VX418_ADAPTER=vxst0", VX418CTL_BINARY, "show", kSpare1}, &shown),
        0)
        << shown;
    const std::string assigned = TempFile("schema-assigned.json");
    collect({"assign", kSpare1, kSpare2, "--names", "S{n}", "--addresses", "198.18.1.90",
             "--dry-run", "--wait", "300"},
            0);
    collect({"assign", "--receivers", "--names", "R{n}", "-o", assigned, "--wait", "300"}, 0);
    collect({"assign", "--receivers", "--names", "R-{n}", "--wait", "300"}, 2);
    std::filesystem::remove(assigned);
    collect({"check", "--wait", "300"}, 0);
    RestartSim({.layoutFile = VX_LAB_FACTORY_LAYOUT});
    collect({"check", "--wait", "300"}, 1);
    RestartSim({.preset = "demo", .extraArgs = {"--no-answer", "1.0", "--no-answer-to", "all"}});
    collect({"rename", kSpare1, "X", "--timeout", "300"}, 3);
    RestartSim({.preset = "demo", .extraArgs = {"--no-answer", "1.0"}});
    collect({"discover", "--wait", "300"}, 3);

    const std::string all = TempFile("documents.json");
    std::ofstream(all) << documents;
    std::string report;
    EXPECT_EQ(vxlab::Lab::Run({"python3", VX418CTL_VALIDATOR, VX418CTL_SCHEMA, all}, &report), 0)
        << report;
    for (const std::string& path : {file, unknown, all}) {
        std::filesystem::remove(path);
    }
}

}  // namespace
