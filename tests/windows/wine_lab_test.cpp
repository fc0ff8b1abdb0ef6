// vx418ctl.exe and the window (vx418.exe's code with a scripted user, window_lab_driver.exe), the
// MinGW build, under Wine in the station namespace against vx418-sim: Wine's wpcap.dll hands the
// capture calls to the host's libpcap. Skipped without root or without the Windows build
// (VX418CTL_EXE and VX418_WINDOW_DRIVER_EXE, or the cache variables VX_WINDOWS_CTL and
// VX_WINDOW_DRIVER, name the programs).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "lab_fixture.h"
#include "lab_test_base.h"

namespace {

using Json = nlohmann::json;

constexpr char kWine[] = "/usr/lib/wine/wine64";
constexpr char kWineServer[] = "/usr/lib/wine/wineserver";
constexpr char kSpare1[] = "02:18:00:00:02:05";
constexpr char kSpare2[] = "02:18:00:00:02:06";
constexpr char kHall[] = "02:18:00:00:01:01";
// Wine opens the adapter without immediate delivery, so a reply may wait out the 1,000 ms read
// time-out of its capture handle.
constexpr char kReplyTimeoutMs[] = "3000";

std::string ProgramPath(const char* variable, const char* configured) {
    const char* path = std::getenv(variable);
    return path != nullptr && path[0] != '\0' ? path : configured;
}

std::string CtlExe() {
    return ProgramPath("VX418CTL_EXE", VX_WINDOWS_CTL);
}

std::string WindowDriverExe() {
    return ProgramPath("VX418_WINDOW_DRIVER_EXE", VX_WINDOW_DRIVER);
}

// The demo layout's trees, as the window shows them (depth as indentation).
const std::vector<std::string> kDemoTrees{
    "connections: HALL: Multicast (198.18.1.11) [02:18:00:00:01:01]",
    "connections:   FOYER: Receiver (198.18.1.21) [02:18:00:00:02:01]",
    "connections:   BAR: Receiver (198.18.1.22) [02:18:00:00:02:02]",
    "connections: STAGE: Unicast (198.18.1.12) [02:18:00:00:01:02]",
    "connections:   STAGEL: Receiver (198.18.1.23) [02:18:00:00:02:03]",
    "available: Available Receiver:",
    "available:   STAGER: Receiver (198.18.1.24) [02:18:00:00:02:04]",
    "available:   SPARE1: Receiver (198.18.1.25) [02:18:00:00:02:05]",
    "available:   SPARE2: Receiver (198.18.1.26) [02:18:00:00:02:06]",
    "available:   SPARE3: Receiver (198.18.1.27) [02:18:00:00:02:07]",
};

// The lines of a Windows program's output (CR LF) that start with one of the prefixes.
std::vector<std::string> LinesStartingWith(const std::string& text,
                                           const std::vector<std::string>& prefixes) {
    std::vector<std::string> found;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        line.erase(line.find_last_not_of('\r') + 1);
        for (const std::string& prefix : prefixes) {
            found.insert(found.end(), line.rfind(prefix, 0) == 0 ? 1 : 0, line);
        }
    }
    return found;
}

struct Outcome {
    int status = -1;
    std::string output;  // standard output
    std::string errors;
};

class WineLabTest : public vxlab::LabTestBase {
  protected:
    // One Wine prefix for the suite, made without network; windows on Wine's display-less
    // driver.
    static void SetUpTestSuite() {
        skipReason_ = vxlab::LabUnavailableReason();
        if (skipReason_.empty() && (CtlExe().empty() || !std::filesystem::exists(CtlExe()))) {
            skipReason_ = "no Windows build of vx418ctl (scripts/build-windows; VX418CTL_EXE)";
        }
        if (skipReason_.empty() && !std::filesystem::exists(kWine)) {
            skipReason_ = "wine64 is not installed";
        }
        if (!skipReason_.empty()) {
            return;
        }
        char dir[] = "/tmp/vx418-wine-lab.XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        prefix_ = dir;
        ASSERT_EQ(Wine({"unshare", "--net", "--", "sh", "-c",
                        std::string(kWine) + " wineboot --init; " + kWine +
                            " reg add 'HKCU\\Software\\Wine\\Drivers' /v Graphics /d null /f; " +
                            kWineServer + " -w"}),
                  0);
    }

    static void TearDownTestSuite() {
        if (!prefix_.empty()) {
            Wine({kWineServer, "-k"});
            std::filesystem::remove_all(prefix_);
            prefix_.clear();
        }
    }

    void SetUp() override {
        if (!skipReason_.empty()) {
            GTEST_SKIP() << skipReason_;
        }
        LabTestBase::SetUp();
    }

    void TearDown() override {
        if (!prefix_.empty()) {
            Wine({kWineServer, "-k"});
        }
        if (lab_ && lab_->SimRunning()) {
            const auto stopped = lab_->StopSim();
            ASSERT_TRUE(stopped);
            EXPECT_EQ(stopped->Number("malformed"), 0) << "a request the units could not parse";
        }
        LabTestBase::TearDown();
    }

    // The simulator, then Wine's server and services started in the station namespace (Wine
    // reads the adapter table there), holding none of the test's output.
    void StartLabAndWine() {
        StartLab({.preset = "demo"});
        ASSERT_EQ(Wine({"sh", "-c",
                        std::string("exec >/dev/null 2>&1 </dev/null; ") + kWineServer + " -p && " +
                            kWine + " wineboot"}),
                  0);
    }

    static int Wine(std::vector<std::string> argv, std::string* output = nullptr,
                    const std::string& overrides = "", std::string* errors = nullptr) {
        argv.insert(argv.begin(),
                    {"env", "WINEPREFIX=" + prefix_, "WINEDEBUG=-all",
                     "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d" + overrides});
        std::string ignored;
        return vxlab::Lab::Run(argv, output != nullptr ? output : &ignored, errors);
    }

    static Outcome Ctl(const std::vector<std::string>& args, const std::string& overrides = "") {
        std::vector<std::string> argv{kWine, CtlExe()};
        argv.insert(argv.end(), args.begin(), args.end());
        Outcome run;
        run.status = Wine(argv, &run.output, overrides, &run.errors);
        return run;
    }

    static inline std::string skipReason_;
    static inline std::string prefix_;
};

TEST_F(WineLabTest, ListsDiscoversAndRenamesTheSimulatedUnits) {
    StartLabAndWine();

    const Outcome adapters = Ctl({"--json", "adapters"});
    ASSERT_EQ(adapters.status, 0) << adapters.errors;
    const Json list = Json::parse(adapters.output)["adapters"];
    ASSERT_EQ(list.size(), 1u) << adapters.output;
    EXPECT_EQ(list[0]["description"], "vxst0");  // Wine describes an adapter by its Linux name
    EXPECT_EQ(list[0]["ipv4"], "198.18.0.1");
    EXPECT_EQ(list[0]["name"].get<std::string>().rfind("rpcap://\\Device\\NPF_{", 0), 0u);

    const Outcome discover = Ctl({"discover", "--json", "-i", "vxst0", "--wait", "3000"});
    ASSERT_EQ(discover.status, 0) << discover.errors;
    std::map<std::string, std::string> found;
    const Json units = Json::parse(discover.output)["units"];
    for (const Json& u : units) {
        found[u["mac"]] = u["name"];
    }
    std::map<std::string, std::string> simulated;
    for (const vxlab::SimEvent& e : lab_->Events()) {
        if (e.Is("unit")) {
            simulated[e.Text("mac")] = e.Text("name");
        }
    }
    EXPECT_EQ(found, simulated);

    const auto start = std::chrono::steady_clock::now();
    const Outcome rename =
        Ctl({"rename", kSpare1, "WINE1", "-i", "vxst0", "--timeout", kReplyTimeoutMs});
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(rename.status, 0) << rename.errors;
    const auto unit = lab_->UnitState(kSpare1);
    ASSERT_TRUE(unit);
    EXPECT_EQ(unit->Text("name"), "WINE1");
    std::cout << "rename under Wine, start to exit: "
              << std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() << " ms\n";
}

TEST_F(WineLabTest, WithoutTheCaptureLibraryAdaptersExitsFourNamingNpcap) {
    StartLabAndWine();
    const Outcome run = Ctl({"adapters"}, ";wpcap=d");
    EXPECT_EQ(run.status, 4) << run.errors;
    EXPECT_NE(run.errors.find("Npcap"), std::string::npos) << run.errors;
}

// The window as a user meets it: Set Adapter, Refresh, a rename and an Add through the real
// buttons, then the close box while a Refresh runs.
TEST_F(WineLabTest, TheWindowShowsRenamesAndConnectsTheUnitsAndClosesDuringARefresh) {
    if (WindowDriverExe().empty() || !std::filesystem::exists(WindowDriverExe())) {
        GTEST_SKIP() << "no Windows build of the window (VX418_WINDOW_DRIVER_EXE)";
    }
    StartLabAndWine();
    std::string output;
    const int status =
        Wine({kWine, WindowDriverExe(), kSpare1, "WINEWIN", kHall, kSpare2}, &output);
    EXPECT_EQ(status, 0) << output;  // ended by the close box, not by a failed step or a crash
    EXPECT_EQ(LinesStartingWith(output, {"connections: ", "available: "}), kDemoTrees) << output;
    EXPECT_EQ(
        LinesStartingWith(output, {"picked: "}),
        std::vector<std::string>{"picked: SPARE2: Receiver (198.18.1.26) [02:18:00:00:02:06]"});
    EXPECT_EQ(LinesStartingWith(output, {"closing during the Refresh"}).size(), 1u) << output;

    const auto renamed = lab_->UnitState(kSpare1);
    ASSERT_TRUE(renamed);
    EXPECT_EQ(renamed->Text("name"), "WINEWIN");
    const auto attached = lab_->UnitState(kSpare2);
    ASSERT_TRUE(attached);
    EXPECT_EQ(attached->Text("t1"), kHall);
    for (const std::string& line :
         LinesStartingWith(output, {"first", "Refresh done", "rename", "add confirmed"})) {
        std::cout << "under Wine: " << line << "\n";
    }
}

}  // namespace
