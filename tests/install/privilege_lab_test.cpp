// The package's privilege model on a real lab, as the package installs it: plain copies of the
// capture driver (the window) and of vx418ctl beside a copy of the capture helper, root and a
// group of the test's own, 0750, with or without cap_net_raw=ep, run in the station namespace by
// users the test creates. Root only; the users, the group and the copies are removed also when
// the test fails.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "lab_fixture.h"
#include "lab_test_base.h"
#include "wait_until.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kAccountPrefix = "vxpriv";
const std::string kNoCapabilities = "0000000000000000";
const std::string kNetRawOnly = "0000000000002000";

bool Found(const std::string& program) {
    return vxlab::Lab::Run({"sh", "-c", "command -v " + program + " >/dev/null"}) == 0;
}

// A field of /proc/<pid>/status ("CapEff", "PPid"); empty when the process is gone.
std::string StatusField(int pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return line.substr(line.find_first_not_of(" \t", field.size() + 1));
        }
    }
    return {};
}

// The running processes of that program file, and the children of parent among them when given.
std::vector<int> ProcessesOf(const std::string& program, int parent = 0) {
    std::vector<int> pids;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        std::error_code error;
        if (name.find_first_not_of("0123456789") == std::string::npos &&
            fs::read_symlink(entry.path() / "exe", error) == program &&
            StatusField(std::stoi(name), "State").rfind('Z', 0) != 0 &&
            (parent == 0 || StatusField(std::stoi(name), "PPid") == std::to_string(parent))) {
            pids.push_back(std::stoi(name));
        }
    }
    return pids;
}

// Accounts and groups left by a run that was killed (its pid is gone) go first.
void RemoveStaleAccounts() {
    std::string groups;
    vxlab::Lab::Run({"getent", "group"}, &groups);
    std::size_t at = 0;
    while ((at = groups.find(kAccountPrefix, at)) != std::string::npos) {
        const std::size_t end = groups.find(':', at);
        const std::string name = groups.substr(at, end - at);
        at = end;
        const std::string digits = name.substr(kAccountPrefix.size());
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
            kill(std::stoi(digits), 0) == 0) {
            continue;
        }
        vxlab::Lab::Run({"userdel", name + "m"});
        vxlab::Lab::Run({"userdel", name + "o"});
        vxlab::Lab::Run({"groupdel", name});
    }
}

class PrivilegeLab : public vxlab::LabTestBase {
  protected:
    void SetUp() override {
        LabTestBase::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        for (const char* tool : {"runuser", "setcap", "useradd", "groupadd"}) {
            if (!Found(tool)) {
                GTEST_SKIP() << tool << " is not installed";
            }
        }
        RemoveStaleAccounts();
        group_ = kAccountPrefix + std::to_string(getpid());
        ASSERT_EQ(vxlab::Lab::Run({"groupadd", "--system", group_}), 0);
        for (const std::string& user : {Member(), Outsider()}) {
            ASSERT_EQ(vxlab::Lab::Run({"useradd", "--system", "--no-create-home", "--home-dir",
                                       "/nonexistent", "--shell", "/usr/sbin/nologin", user}),
                      0);
        }
        ASSERT_EQ(vxlab::Lab::Run({"usermod", "-a", "-G", group_, Member()}), 0);

        char dir[] = "/tmp/vxpriv-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        fs::create_directories(dir_ + "/plugins/styles");
        fs::copy_file(VX_STYLE_PLUGIN,
                      dir_ + "/plugins/styles/" + fs::path(VX_STYLE_PLUGIN).filename().string());
        // As the package installs them: the programs for everyone, the helper for the group.
        for (const bool withCap : {true, false}) {
            const std::string bin = Bin(withCap);
            fs::create_directories(bin);
            fs::copy_file(VX_CAPTURE_DRIVER, bin + "/window");
            fs::copy_file(VX418CTL, bin + "/vx418ctl");
        }
        ASSERT_EQ(vxlab::Lab::Run({"chmod", "-R", "a+rX", dir_}), 0);
        for (const bool withCap : {true, false}) {
            const std::string helper = Bin(withCap) + "/vx418-capture";
            ASSERT_EQ(vxlab::Lab::Run({"install", "-o", "root", "-g", group_, "-m", "0750",
                                       VX_CAPTURE_HELPER, helper}),
                      0);
            if (withCap) {
                ASSERT_EQ(vxlab::Lab::Run({"setcap", "cap_net_raw=ep", helper}), 0);
            }
        }
        std::string error;
        ASSERT_TRUE(lab_->StartSim({.preset = "demo"}, error)) << error;
    }

    void TearDown() override {
        if (!dir_.empty()) {
            std::error_code ignored;
            fs::remove_all(dir_, ignored);
        }
        if (!group_.empty()) {
            for (const std::string& user : {Member(), Outsider()}) {
                std::error_code ignored;  // Qt's runtime directory for a user without a session
                fs::remove_all("/tmp/runtime-" + user, ignored);
            }
            vxlab::Lab::Run({"userdel", Member()});
            vxlab::Lab::Run({"userdel", Outsider()});
            vxlab::Lab::Run({"groupdel", group_});
        }
        LabTestBase::TearDown();
    }

    std::string Member() const { return group_ + "m"; }
    std::string Outsider() const { return group_ + "o"; }
    std::string Bin(bool withCap) const { return dir_ + (withCap ? "/bin-cap" : "/bin-plain"); }

    // A program run as user in the station namespace, with the environment a user might set.
    std::vector<std::string> AsUser(const std::string& user, std::vector<std::string> argv) const {
        std::vector<std::string> command{"runuser",
                                         "-u",
                                         user,
                                         "--",
                                         "env",
                                         "QT_QPA_PLATFORM=offscreen",
                                         "HOME=/nonexistent",
                                         "ASAN_OPTIONS=detect_leaks=0",
                                         "QT_PLUGIN_PATH=" + dir_ + "/plugins",
                                         "QT_STYLE_OVERRIDE=probe"};
        command.insert(command.end(), argv.begin(), argv.end());
        return vxlab::InNamespace(lab_->StationNamespace(), command);
    }

    std::string group_;
    std::string dir_;
};

TEST_F(PrivilegeLab, WithoutTheHelpersCapabilityOrOutsideTheGroupCaptureIsNotPermitted) {
    struct Case {
        const char* what;
        bool member;
        bool withCap;
        std::vector<std::string> program;
        int status;
        std::string line;
    };
    const std::string window = "Failed to set the network adapter.\nlog: Capture is not permitted";
    const std::string ctl = "capture is not permitted";
    const std::vector<std::string> rename{"/vx418ctl", "rename", "02:18:00:00:02:05",
                                          "X",         "-i",     "vxst0"};
    const std::vector<Case> cases{
        {"member, helper without cap_net_raw", true, false, {"/window"}, 3, window},
        {"outside the group", false, true, {"/window"}, 3, window},
        {"vx418ctl, member, helper without cap_net_raw", true, false, rename, 4, ctl},
        {"vx418ctl, outside the group", false, true, rename, 4, ctl},
    };
    for (Case c : cases) {
        c.program[0] = Bin(c.withCap) + c.program[0];
        std::string output;
        const int status =
            vxlab::Lab::Run(AsUser(c.member ? Member() : Outsider(), c.program), &output);
        EXPECT_EQ(status, c.status) << c.what << "\n" << output;
        EXPECT_NE(output.find(c.line), std::string::npos) << c.what << ": no " << c.line << "\n"
                                                          << output;
    }
    EXPECT_EQ(lab_->UnitState("02:18:00:00:02:05")->Text("name"), "SPARE1");
}

TEST_F(PrivilegeLab, OnlyTheHelperHoldsACapabilityAndItEndsWithTheWindow) {
    const std::string window = Bin(true) + "/window";
    const std::string helper = Bin(true) + "/vx418-capture";
    const std::string output = dir_ + "/window.out";
    std::string error;
    auto run =
        vxlab::BackgroundProcess::Start(AsUser(Member(), {window, "--hold"}), output, "", error);
    ASSERT_TRUE(run) << error;
    const auto text = [&] {
        std::ifstream in(output);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    ASSERT_TRUE(
        vxtest::SleepUntil([&] { return text().find("holding") != std::string::npos; }, 30s))
        << text();
    EXPECT_NE(text().find("units: 9"), std::string::npos) << text();
    // The style the user chose ran inside the window, with no capability to misuse.
    EXPECT_NE(text().find("plugin: CapEff:\t" + kNoCapabilities), std::string::npos) << text();
    EXPECT_NE(text().find("plugin: SIOCSIFMTU: Operation not permitted"), std::string::npos)
        << text();

    // vx418ctl discovers and renames meanwhile, with a helper of its own.
    const std::string ctl = Bin(true) + "/vx418ctl";
    auto discover = vxlab::BackgroundProcess::Start(
        AsUser(Member(), {ctl, "discover", "-i", "vxst0", "--wait", "2000"}), "", "", error);
    ASSERT_TRUE(discover) << error;
    ASSERT_TRUE(vxtest::SleepUntil(
        [&] { return ProcessesOf(ctl).size() == 1 && ProcessesOf(helper).size() == 2; }, 10s));
    std::this_thread::sleep_for(500ms);  // past the helper that lists, into the discovery
    for (const std::string& program : {window, ctl}) {
        const std::vector<int> pids = ProcessesOf(program);
        ASSERT_EQ(pids.size(), 1u) << program;
        EXPECT_EQ(StatusField(pids[0], "CapEff"), kNoCapabilities) << program;
        const std::vector<int> helpers = ProcessesOf(helper, pids[0]);
        ASSERT_EQ(helpers.size(), 1u) << program;
        EXPECT_EQ(StatusField(helpers[0], "CapEff"), kNetRawOnly) << program;
    }
    EXPECT_EQ(discover->Wait(20s), 0);
    EXPECT_EQ(vxlab::Lab::Run(AsUser(Member(), {ctl, "rename", "02:18:00:00:02:05", "PRIV", "-i",
                                                "vxst0", "--wait", "1000"})),
              0);
    // The simulator's log may reach the fixture a moment after the tool has exited.
    EXPECT_TRUE(vxtest::SleepUntil(
        [&] { return lab_->UnitState("02:18:00:00:02:05")->Text("name") == "PRIV"; }, 2s));

    // Killed, the window takes its helper with it at once.
    const std::vector<int> helpers = ProcessesOf(helper);
    ASSERT_EQ(helpers.size(), 1u);
    ASSERT_EQ(kill(ProcessesOf(window).at(0), SIGKILL), 0);
    EXPECT_TRUE(vxtest::SleepUntil([&] { return ProcessesOf(helper).empty(); }, 1s))
        << "the helper outlived the window by more than a second";
    run->Wait(10s);
    std::string link;
    vxlab::Lab::Run({"ip", "-n", lab_->StationNamespace(), "link", "show", "vxst0"}, &link);
    EXPECT_NE(link.find("mtu 1500"), std::string::npos) << link;
}

}  // namespace
