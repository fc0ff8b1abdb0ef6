// vx418ctl.exe, the MinGW build, under Wine in the station namespace against vx418-sim: Wine's
// wpcap.dll hands the capture calls to the host's libpcap. Skipped without root or without the
// Windows build (VX418CTL_EXE or the cache variable VX_WINDOWS_CTL names it).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>

#include "lab_fixture.h"
#include "lab_test_base.h"

namespace {

using Json = nlohmann::json;

constexpr char kWine[] = "/usr/lib/wine/wine64";
constexpr char kWineServer[] = "/usr/lib/wine/wineserver";
constexpr char kSpare1[] = "02:18:00:00:02:05";
// Wine opens the adapter without immediate delivery, so a reply may wait out the 1,000 ms read
// time-out of its capture handle.
constexpr char kReplyTimeoutMs[] = "3000";

std::string CtlExe() {
    const char* path = std::getenv("VX418CTL_EXE");
    return path != nullptr && path[0] != '\0' ? path : VX_WINDOWS_CTL;
}

struct Outcome {
    int status = -1;
    std::string output;  // standard output
    std::string errors;
};

class WineLabTest : public vxlab::LabTestBase {
  protected:
    // One Wine prefix for the suite, made without network.
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
                        std::string(kWine) + " wineboot --init; " + kWineServer + " -w"}),
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
        argv.insert(argv.begin(), {"env", "WINEPREFIX=" + prefix_, "WINEDEBUG=-all",
                                   "WINEDLLOVERRIDES=mscoree,mshtml=" + overrides});
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

}  // namespace
