// Adapter selection against the in-memory segment: the Log pane lines, the adapter list and
// the capture loops, without privileges.

#include <gtest/gtest.h>

#include "adapter_test_support.h"
#include "app/command_dispatch.h"
#include "net/adapter_state.h"
#include "net/frame_builder.h"
#include "net/memory_segment.h"
#include "shell/log_line.h"

namespace {

using namespace adaptertest;

const std::string kSetting = "Setting the network adapter. Please wait.";
const std::string kSucceeded = "Succeed in setting the network adapter.";
const std::string kFailed = "Failed to set the network adapter.";

AdapterAddress LinkLayer() {
    return {};
}
AdapterAddress Ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return {true, {a, b, c, d}};
}

class SegmentAdapterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        segment_ = std::make_shared<MemorySegment>();
        segment_->SetAdapters({
            {"rpcap://eth0", "Adapter A", {LinkLayer(), Ipv4(10, 0, 0, 1)}},
            {"rpcap://eth1", std::nullopt, {Ipv4(10, 0, 1, 1)}},
            {"rpcap://eth2", "Net 100% C", {LinkLayer(), Ipv4(192, 168, 1, 100)}},
            {"rpcap://eth3", "No IPv4", {LinkLayer()}},
            {"rpcap://eth4", "No MAC", {Ipv4(10, 0, 4, 1)}},
        });
        for (const char* name : {"eth0", "eth1", "eth2", "eth3"}) {
            segment_->SetAdapterMac(name, {0x02, 0, 0, 0, 0, static_cast<std::uint8_t>(name[3])});
        }
        SetCaptureBackend(segment_);
        SetCurrentAdapter({});
    }
    void TearDown() override {
        if (dialog_) {
            StopCapture(*dialog_);
            dialog_.reset();
        }
        SetCaptureBackend(nullptr);
    }

    CVX418Dlg& Dialog() {
        if (!dialog_) {
            dialog_ = CreateMainDialog();  // command 0 fills the adapter list
        }
        return *dialog_;
    }

    // Runs Set Adapter on entry position and waits for its last line.
    void SetAdapter(int position, const std::string& lastLine) {
        Dialog().m_AdapterCombo.SetCurSel(position);
        const int before = CountLine(Dialog(), lastLine);
        DispatchCommand(&Dialog(), Command::SetAdapter);
        ASSERT_TRUE(WaitFor([&] { return CountLine(Dialog(), lastLine) > before; }))
            << "no \"" << lastLine << "\"";
    }

    std::shared_ptr<MemorySegment> segment_;
    std::unique_ptr<CVX418Dlg> dialog_;
};

TEST_F(SegmentAdapterTest, OffersDescribedAdaptersAndOpensTheOneChosen) {
    CVX418Dlg& d = Dialog();
    ASSERT_EQ(d.m_AdapterCombo.GetCount(), 4);
    EXPECT_EQ(d.m_AdapterCombo.GetLBText(1), "Net 100% C");
    EXPECT_EQ(d.m_AdapterCombo.GetCurSel(), 0);
    ASSERT_TRUE(WaitFor([&] { return HasLine(d, "No description available."); }));
    EXPECT_FALSE(d.m_RefreshButton.IsWindowEnabled());

    // Entry 1 stands for the third adapter: the second has no description.
    ASSERT_NO_FATAL_FAILURE(SetAdapter(1, kSucceeded));
    EXPECT_EQ(LogLines(d), (std::vector<std::string>{"No description available.", kSetting,
                                                     "Adaptor: Net 100% C", "", kSucceeded}));
    const AdapterSnapshot adapter = CurrentAdapter();
    ASSERT_TRUE(adapter.AdapterHandle);
    EXPECT_EQ(adapter.AdapterIp, (std::array<std::uint8_t, 4>{0xc0, 0xa8, 0x01, 0x64}));
    EXPECT_EQ(adapter.AdapterMac, (std::array<std::uint8_t, 6>{0x02, 0, 0, 0, 0, '2'}));
    EXPECT_TRUE(d.m_RefreshButton.IsWindowEnabled());
    EXPECT_TRUE(d.m_Backup2Picker.IsWindowEnabled());
    ASSERT_TRUE(segment_->WaitForRunningLoops(1, 2s));
    // Requests go out from the adapter's MAC and first IPv4 address.
    ASSERT_EQ(SendRequest(nullptr, kDiscoveryRequest), 1);
    const auto frame = segment_->SentFrames().back();
    EXPECT_EQ(frame[11], '2');
    EXPECT_EQ(frame[26], 0xc0);
}

TEST_F(SegmentAdapterTest, RefusesAdaptersWithoutMacOrIpv4AndAnEmptySelection) {
    CVX418Dlg& d = Dialog();
    for (int position : {2, 3, -1, 7}) {
        ASSERT_NO_FATAL_FAILURE(SetAdapter(position, kFailed)) << position;
    }
    EXPECT_EQ(CountLine(d, kSetting), 4);
    EXPECT_EQ(CountLine(d, kFailed), 4);
    EXPECT_FALSE(HasLine(d, "Unable open adapter"));
    EXPECT_FALSE(CurrentAdapter().AdapterHandle);
    EXPECT_FALSE(d.m_RefreshButton.IsWindowEnabled());
    EXPECT_EQ(segment_->OpenHandles(), 0);
}

TEST_F(SegmentAdapterTest, AFailedOpenKeepsTheListSoALaterSetAdapterWorks) {
    CVX418Dlg& d = Dialog();
    segment_->SetOpenFails(true);
    ASSERT_NO_FATAL_FAILURE(SetAdapter(0, kFailed));
    EXPECT_EQ(LogLines(d), (std::vector<std::string>{"No description available.", kSetting,
                                                     "Unable open adapter", kFailed}));
    EXPECT_FALSE(d.m_RefreshButton.IsWindowEnabled());
    EXPECT_EQ(AdapterList().size(), 5u);
    // The library's reason is traced for whoever diagnoses a missing privilege.
    EXPECT_NE(TraceBufferText().find("rpcap://eth0"), std::string::npos) << TraceBufferText();

    segment_->SetOpenFails(false);
    ASSERT_NO_FATAL_FAILURE(SetAdapter(0, kSucceeded));
    EXPECT_TRUE(CurrentAdapter().AdapterHandle);
    EXPECT_TRUE(d.m_RefreshButton.IsWindowEnabled());
}

TEST_F(SegmentAdapterTest, AListingFailureOffersNothing) {
    segment_->SetListingFails(true);
    CVX418Dlg& d = Dialog();
    EXPECT_EQ(d.m_AdapterCombo.GetCount(), 0);
    ASSERT_TRUE(WaitFor([&] {
        return HasLine(d, "Unable to find any network card. Please check your network settings.");
    }));
    ASSERT_NO_FATAL_FAILURE(SetAdapter(0, kFailed));
}

TEST_F(SegmentAdapterTest, SetAdapterTwiceLeavesExactlyOneCaptureLoop) {
    CVX418Dlg& d = Dialog();
    ASSERT_NO_FATAL_FAILURE(SetAdapter(0, kSucceeded));
    ASSERT_TRUE(segment_->WaitForRunningLoops(1, 2s));
    ASSERT_NO_FATAL_FAILURE(SetAdapter(0, kSucceeded));
    ASSERT_TRUE(segment_->WaitForRunningLoops(1, 2s));
    EXPECT_EQ(CountLine(d, kSetting), 2);
    EXPECT_EQ(CountLine(d, "Adaptor: Adapter A"), 2);
    EXPECT_TRUE(d.m_RefreshButton.IsWindowEnabled());
    // The first handle is closed once its loop has returned.
    ASSERT_TRUE(WaitFor([&] { return segment_->OpenHandles() == 1; }));

    // Overlapping Set Adapter runs do not interleave: one loop and one handle remain.
    for (int i = 0; i < 6; ++i) {
        DispatchCommand(&d, Command::SetAdapter);
    }
    ASSERT_TRUE(WaitFor([&] { return CountLine(d, kSucceeded) == 8; }, 10s));
    ASSERT_TRUE(segment_->WaitForRunningLoops(1, 2s));
    ASSERT_TRUE(WaitFor([&] { return segment_->OpenHandles() == 1; }));

    // A reply is handled once, by the one loop.
    std::vector<std::uint8_t> reply(60, 0);
    reply[42] = 0x18;
    reply[43] = 0x88;
    reply[46] = 0x80;
    reply[47] = 0x05;
    reply[49] = 0x01;
    segment_->Inject(reply);
    ASSERT_TRUE(WaitFor([&] { return HasLine(d, "Succeeded in updating device's name."); }));
    QThread::msleep(100);
    QCoreApplication::processEvents();
    EXPECT_EQ(CountLine(d, "Succeeded in updating device's name."), 1);
}

}  // namespace
