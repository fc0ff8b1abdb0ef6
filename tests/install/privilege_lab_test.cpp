// The package's privilege model on a real lab: a copy of the capture driver owned by root and a
// group of the test's own, mode 0750, with cap_net_raw,cap_net_admin=ep, run in the station
// namespace by users the test creates. A member captures and finds the demo units without
// root; without the capabilities the open is refused for lack of privileges; a user outside
// the group cannot start it. Root only (users, groups, file capabilities, namespaces); the
// users, the group and the copies are removed also when the test fails.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "lab_fixture.h"
#include "lab_test_base.h"

namespace {

namespace fs = std::filesystem;

const std::string kAccountPrefix = "vxpriv";

bool Found(const std::string& program) {
    return vxlab::Lab::Run({"sh", "-c", "command -v " + program + " >/dev/null"}) == 0;
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
        ASSERT_EQ(chmod(dir, 0755), 0);
        for (const bool withCaps : {true, false}) {
            const std::string copy = Copy(withCaps);
            fs::copy_file(VX_CAPTURE_DRIVER, copy);
            ASSERT_EQ(vxlab::Lab::Run({"chown", "root:" + group_, copy}), 0);
            ASSERT_EQ(chmod(copy.c_str(), 0750), 0);
            if (withCaps) {
                ASSERT_EQ(vxlab::Lab::Run({"setcap", "cap_net_raw,cap_net_admin=ep", copy}), 0);
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
    std::string Copy(bool withCaps) const {
        return dir_ + (withCaps ? "/driver-caps" : "/driver-plain");
    }

    // Runs a copy as user in the station namespace; its exit status, output in *output.
    int RunAs(const std::string& user, const std::string& program, std::string* output) {
        return vxlab::Lab::Run(
            vxlab::InNamespace(lab_->StationNamespace(),
                               {"runuser", "-u", user, "--", "env", "QT_QPA_PLATFORM=offscreen",
                                "HOME=/nonexistent", "ASAN_OPTIONS=detect_leaks=0", program}),
            output);
    }

    std::string group_;
    std::string dir_;
};

TEST_F(PrivilegeLab, OnlyGroupMembersRunItAndOnlyTheCapabilitiesLetThemCapture) {
    struct Case {
        const char* what;
        bool member;
        bool withCaps;
        int status;
        std::vector<std::string> lines;  // each must appear in the output
    };
    const std::vector<Case> cases{
        {"member, capabilities", true, true, 0, {"open: ok", "units: 9"}},
        {"member, no capabilities",
         true,
         false,
         3,
         {"open: not permitted: pcap_activate: ",
          "log: Failed to set the network adapter.\nlog: "
          "Capture is not permitted: run as a member of "
          "the vx418 group"}},
        {"outside the group", false, true, 126, {"Permission denied"}},
    };
    for (const Case& c : cases) {
        std::string output;
        const int status = RunAs(c.member ? Member() : Outsider(), Copy(c.withCaps), &output);
        EXPECT_EQ(status, c.status) << c.what << "\n" << output;
        for (const std::string& line : c.lines) {
            EXPECT_NE(output.find(line), std::string::npos) << c.what << ": no " << line << "\n"
                                                            << output;
        }
    }
}

}  // namespace
