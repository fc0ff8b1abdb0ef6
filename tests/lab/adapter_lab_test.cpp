// Set Adapter on the lab link through the real dialog: libpcap (in-process or through the
// capture helper) on the station side, vx418-sim on the unit side.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <filesystem>
#include <thread>

#include "adapter_test_support.h"
#include "app/command_dispatch.h"
#include "app/window_program.h"
#include "lab_capture_backend.h"
#include "lab_fixture.h"
#include "lab_test_base.h"
#include "net/adapter_state.h"
#include "net/frame_builder.h"
#include "protocol/device_table.h"
#include "protocol/messages.h"
#include "shell/log_line.h"

namespace {

using namespace adaptertest;
using vxlab::SimEvent;

const std::string kSetting = "Setting the network adapter. Please wait.";
const std::string kSucceeded = "Succeed in setting the network adapter.";
const std::string kFailed = "Failed to set the network adapter.";
const std::string kLabEntry = "vxst0 (198.18.0.1)";
const char* kStage = "02:18:00:00:01:02";
const char* kSpare1 = "02:18:00:00:02:05";
const char* kSpare2 = "02:18:00:00:02:06";

class LabAdapterTest : public vxlab::LabTestBase {
  protected:
    void SetUp() override {
        LabTestBase::SetUp();
        if (!lab_) {
            return;  // skipped, or the lab could not be created
        }
        StartLab({});
        if (!inStation_) {
            return;
        }
        backend_ = std::make_shared<CountingBackend>(LabCaptureBackend());
        SetCaptureBackend(backend_);
    }
    void TearDown() override {
        if (dialog_) {
            StopCapture(*dialog_);
            dialog_.reset();
        }
        SetCaptureBackend(nullptr);
        SetCurrentAdapter({});
        LabTestBase::TearDown();
    }

    CVX418Dlg& Dialog() {
        if (!dialog_) {
            dialog_ = CreateMainDialog();  // lists the adapters of the station namespace
        }
        return *dialog_;
    }

    void SetAdapter(const std::string& entry, const std::string& lastLine) {
        ASSERT_TRUE(SelectAdapter(Dialog(), entry)) << entry;
        const int before = CountLine(Dialog(), lastLine);
        DispatchCommand(&Dialog(), Command::SetAdapter);
        ASSERT_TRUE(WaitFor([&] { return CountLine(Dialog(), lastLine) > before; }))
            << "no \"" << lastLine << "\"";
    }

    void Discover(int units) {
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(SendRequest(nullptr, kDiscoveryRequest), 1);
        }
        ASSERT_TRUE(WaitFor([&] { return Devices().DeviceCount() == units; }))
            << Devices().DeviceCount();
    }

    std::shared_ptr<CountingBackend> backend_;
    std::unique_ptr<CVX418Dlg> dialog_;
};

TEST_F(LabAdapterTest, SetAdapterThenRequestsChangeTheUnitsAndTheirRepliesReachTheLogPane) {
    ASSERT_NO_FATAL_FAILURE(SetAdapter(kLabEntry, kSucceeded));
    EXPECT_EQ(LogLines(Dialog()),
              (std::vector<std::string>{kSetting, "Adaptor: " + kLabEntry, "", kSucceeded}));
    EXPECT_TRUE(Dialog().m_RefreshButton.IsWindowEnabled());
    EXPECT_TRUE(Dialog().m_AddBackup1Button.IsWindowEnabled());
    ASSERT_TRUE(WaitFor([&] { return backend_->RunningLoops() == 1; }));

    ASSERT_NO_FATAL_FAILURE(Discover(9));

    // A configuration request and a connection request, as the operation workers send them.
    ConfigBlock rename{};
    BuildConfigBlock(Devices(), kSpare1, rename);
    SetNewName(rename, "LOBBY");
    ASSERT_EQ(SendRequest(rename.data(), kSetNameRequest), 1);
    ConnectionBlock backup{};
    BuildConnectionBlock(Devices(), kStage, kSpare2, backup);
    SetSelector(backup, 1);
    ASSERT_TRUE(SendBackupRequest(backup));

    ASSERT_TRUE(WaitFor([&] {
        return HasLine(Dialog(), "Succeeded in updating device's name.") &&
               HasLine(Dialog(), "Succeeded in adding the Receiver.");
    }));
    ASSERT_TRUE(lab_->WaitForEvent(
        [](const SimEvent& e) { return e.Is("reply") && e.Text("op") == "add-backup"; }, 2s));
    EXPECT_EQ(lab_->UnitState(kSpare1)->Text("name"), "LOBBY");
    EXPECT_EQ(lab_->UnitState(kStage)->Text("t2"), kSpare2);
    EXPECT_EQ(lab_->UnitState(kSpare2)->Text("t1"), "00:00:00:00:00:00");  // its own link stays
}

TEST_F(LabAdapterTest, SetAdapterTwiceLeavesOneCaptureLoopAndHandlesEachReplyOnce) {
    ASSERT_NO_FATAL_FAILURE(SetAdapter(kLabEntry, kSucceeded));
    ASSERT_NO_FATAL_FAILURE(SetAdapter(kLabEntry, kSucceeded));
    ASSERT_TRUE(WaitFor([&] { return backend_->RunningLoops() == 1; }));
    ASSERT_TRUE(WaitFor([&] { return backend_->OpenHandles() == 1; }));
    EXPECT_EQ(CountLine(Dialog(), "Adaptor: " + kLabEntry), 2);
    EXPECT_TRUE(Dialog().m_RefreshButton.IsWindowEnabled());

    ASSERT_NO_FATAL_FAILURE(Discover(9));
    ConfigBlock rename{};
    BuildConfigBlock(Devices(), kSpare1, rename);
    SetNewName(rename, "ONCE");
    ASSERT_EQ(SendRequest(rename.data(), kSetNameRequest), 1);
    ASSERT_TRUE(WaitFor([&] { return HasLine(Dialog(), "Succeeded in updating device's name."); }));
    QThread::msleep(200);
    QCoreApplication::processEvents();
    EXPECT_EQ(CountLine(Dialog(), "Succeeded in updating device's name."), 1);
}

TEST_F(LabAdapterTest, SendsRaceSetAdapterWithoutEverUsingAClosedHandle) {
    ASSERT_NO_FATAL_FAILURE(SetAdapter(kLabEntry, kSucceeded));
    std::atomic<bool> stop{false};
    std::atomic<int> accepted{0};
    std::vector<std::thread> senders;
    for (int i = 0; i < 3; ++i) {
        senders.emplace_back([&] {
            while (!stop) {
                accepted += SendRequest(nullptr, kDiscoveryRequest);
            }
        });
    }
    for (int i = 0; i < 8; ++i) {
        DispatchCommand(&Dialog(), Command::SetAdapter);
        QThread::msleep(20);
        QCoreApplication::processEvents();
    }
    const bool settled = WaitFor([&] { return CountLine(Dialog(), kSucceeded) == 9; }, 10s);
    stop = true;
    for (auto& t : senders) {
        t.join();
    }
    ASSERT_TRUE(settled);
    EXPECT_GT(accepted.load(), 0);
    ASSERT_TRUE(WaitFor([&] { return backend_->RunningLoops() == 1; }));
    ASSERT_TRUE(WaitFor([&] { return backend_->OpenHandles() == 1; }));
}

TEST_F(LabAdapterTest, AnAdapterWithoutIpv4AndAFailedOpenGiveTheirLines) {
    std::string error;
    ASSERT_TRUE(lab_->AddStationInterface("vxst1", true, "", error)) << error;
    // Down: listed, its MAC known, but the library cannot open it.
    ASSERT_TRUE(lab_->AddStationInterface("vxst2", false, "198.18.2.1/24", error)) << error;

    ASSERT_NO_FATAL_FAILURE(SetAdapter("vxst1 (no IPv4 address)", kFailed));
    EXPECT_EQ(LogLines(Dialog()), (std::vector<std::string>{kSetting, kFailed}));

    ASSERT_NO_FATAL_FAILURE(SetAdapter("vxst2 (198.18.2.1)", kFailed));
    EXPECT_EQ(LogLines(Dialog()), (std::vector<std::string>{kSetting, kFailed, kSetting,
                                                            "Unable open adapter", kFailed}));
    EXPECT_NE(TraceBufferText().find("rpcap://vxst2"), std::string::npos) << TraceBufferText();
    EXPECT_FALSE(Dialog().m_RefreshButton.IsWindowEnabled());

    // The list survives the failed open.
    ASSERT_NO_FATAL_FAILURE(SetAdapter(kLabEntry, kSucceeded));
    EXPECT_TRUE(Dialog().m_RefreshButton.IsWindowEnabled());
}

TEST_F(LabAdapterTest, ClosingTheProgramDuringCaptureAndSendsEndsIt) {
    // A separate process: it ends the way the program does, at once, with detached threads in
    // the capture loop and in sends. It inherits this thread's (station) namespace.
    std::string error;
    auto child = vxlab::BackgroundProcess::Start({"/proc/self/exe", "--close-during-capture"}, "",
                                                 "", error);
    ASSERT_TRUE(child) << error;
    const auto status = child->Wait(20s);
    ASSERT_TRUE(status) << "the program did not end";
    EXPECT_EQ(*status, 0);
    EXPECT_TRUE(lab_->WaitForEvent(
        [](const SimEvent& e) { return e.Is("request") && e.Text("op") == "discovery"; }, 0ms))
        << "the program sent nothing before it closed";
}

}  // namespace

// The program's own start-up and end, with a scripted user: Set Adapter on the lab link, then
// Refresh and a stream of sends from several threads, then the close box.
int RunCloseDuringCapture(int argc, char** argv) {
    const std::string lockDir = vxtest::PrivateLockDirectory();  // beside the helper. run
    QApplication application(argc, argv);
    QTimer::singleShot(0, [lockDir] {
        std::filesystem::remove_all(lockDir);
        if (CVX418Dlg* dialog = MainDialog.load()) {
            SelectAdapter(*dialog, kLabEntry);
            DispatchCommand(dialog, Command::SetAdapter);
            QTimer::singleShot(300, [dialog] { DispatchCommand(dialog, Command::Refresh); });
            QTimer::singleShot(600, [dialog] { dialog->GetSafeHwnd()->reject(); });
        }
    });
    QTimer::singleShot(300, [] {
        for (int i = 0; i < 4; ++i) {
            std::thread([] {
                for (;;) {
                    SendRequest(nullptr, kDiscoveryRequest);
                }
            }).detach();
        }
    });
    RunMainWindow(LabCaptureBackend());  // the program's own end
}
