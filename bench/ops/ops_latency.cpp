// Time from an operation's button press to its frame on the lab link, through the real dialog
// (offscreen) and the real capture library, with vx418-sim playing the units:
//
//   - one rename: press of Change Name to the request leaving the station (p50, p99, max);
//   - a Delete of 16 ticked Receivers: press to the first and to the sixteenth request.
//
// Each with the capture library in-process and through the capture helper vx418-capture. A
// second libpcap handle on the station's side of the link takes the outgoing requests with
// the kernel's time stamps (CLOCK_REALTIME, ns); the press is stamped with the same clock just
// before the click. The window thread runs a real event loop meanwhile, as in the program.
//
// Needs root (network namespaces):
//   sudo build/hops/bench/ops/ops_latency [renames=200] [deletes=20]

#include <pcap/pcap.h>

#include <unistd.h>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lab_fixture.h"
#include "net/adapter_state.h"
#include "net/posix/helper_backend.h"
#include "net/posix/pcap_backend.h"
#include "ops_lab_support.h"
#include "views/device_trees.h"

namespace {

using namespace opslab;

constexpr int kDeleted = 16;

std::int64_t RealtimeNs() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The station's outgoing TFDP requests on the lab link, with the kernel's time stamps.
class LinkTap {
  public:
    bool Open(std::string& error) {
        char buffer[PCAP_ERRBUF_SIZE] = {};
        pcap_ = pcap_create(vxlab::Lab::kStationInterface, buffer);
        if (pcap_ == nullptr) {
            error = buffer;
            return false;
        }
        pcap_set_immediate_mode(pcap_, 1);
        pcap_set_tstamp_precision(pcap_, PCAP_TSTAMP_PRECISION_NANO);
        bpf_program filter{};
        if (pcap_activate(pcap_) < 0 || pcap_setdirection(pcap_, PCAP_D_OUT) != 0 ||
            pcap_compile(pcap_, &filter, "udp dst port 2098", 1, PCAP_NETMASK_UNKNOWN) != 0 ||
            pcap_setfilter(pcap_, &filter) != 0) {
            error = pcap_geterr(pcap_);
            return false;
        }
        pcap_freecode(&filter);
        loop_ = std::thread([this] { pcap_loop(pcap_, -1, &LinkTap::OnFrame, AsUser(this)); });
        return true;
    }
    ~LinkTap() {
        if (loop_.joinable()) {
            pcap_breakloop(pcap_);
            loop_.join();
        }
        if (pcap_ != nullptr) {
            pcap_close(pcap_);
        }
    }

    // Collects the next count frames; loop quits once they are in.
    void Arm(int count, QEventLoop* loop) {
        const std::lock_guard lock(mutex_);
        stamps_.clear();
        wanted_ = count;
        loop_to_quit_ = loop;
    }
    std::vector<std::int64_t> Stamps() {
        const std::lock_guard lock(mutex_);
        return stamps_;
    }

  private:
    static u_char* AsUser(LinkTap* tap) { return reinterpret_cast<u_char*>(tap); }
    static void OnFrame(u_char* user, const pcap_pkthdr* header, const u_char*) {
        auto* tap = reinterpret_cast<LinkTap*>(user);
        const std::lock_guard lock(tap->mutex_);
        // With nanosecond precision tv_usec carries nanoseconds.
        tap->stamps_.push_back(static_cast<std::int64_t>(header->ts.tv_sec) * 1'000'000'000 +
                               header->ts.tv_usec);
        if (tap->loop_to_quit_ != nullptr &&
            static_cast<int>(tap->stamps_.size()) >= tap->wanted_) {
            QMetaObject::invokeMethod(tap->loop_to_quit_, &QEventLoop::quit, Qt::QueuedConnection);
            tap->loop_to_quit_ = nullptr;
        }
    }

    pcap_t* pcap_ = nullptr;
    std::thread loop_;
    std::mutex mutex_;
    std::vector<std::int64_t> stamps_;
    int wanted_ = 0;
    QEventLoop* loop_to_quit_ = nullptr;
};

// Presses the button and runs the window's event loop until count frames left (or 3 s passed);
// the stamps relative to the press, in microseconds.
std::vector<double> PressAndTime(LinkTap& tap, CWnd& button, int count) {
    QEventLoop loop;
    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
    tap.Arm(count, &loop);
    const std::int64_t pressed = RealtimeNs();
    Press(button);
    loop.exec();
    std::vector<double> us;
    for (const std::int64_t stamp : tap.Stamps()) {
        us.push_back(static_cast<double>(stamp - pressed) / 1000.0);
    }
    return us;
}

double Percentile(std::vector<double> v, double p) {
    const auto k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

void Report(const char* what, const std::vector<double>& us) {
    if (us.empty()) {
        std::printf("%-40s no samples\n", what);
        return;
    }
    std::printf("%-40s n=%zu  p50 %8.0f us  p99 %8.0f us  max %8.0f us\n", what, us.size(),
                Percentile(us, 0.5), Percentile(us, 0.99), *std::max_element(us.begin(), us.end()));
}

int Fail(const std::string& why) {
    std::fprintf(stderr, "ops_latency: %s\n", why.c_str());
    return EXIT_FAILURE;
}

// One multicast Transmitter feeding 16 Receivers: a Delete addresses each Receiver in turn.
std::string WriteDeleteLayout() {
    const std::string path = "/tmp/vx-ops-bench-" + std::to_string(getpid()) + ".layout";
    std::ofstream out(path);
    out << "transmitter WALL 02:18:00:00:01:01 198.18.1.11 multicast\n";
    for (int i = 0; i < kDeleted; ++i) {
        const std::string n = std::to_string(10 + i);
        out << "receiver R" << n << " 02:18:00:00:02:" << n << " 198.18.2." << n << "\n";
        out << "attach WALL R" << n << "\n";
    }
    return path;
}

// Set Adapter again, now through backend; true once it succeeded.
bool SetAdapterThrough(CVX418Dlg& dialog, std::shared_ptr<CaptureBackend> backend) {
    SetCaptureBackend(std::move(backend));
    const int before = CountLine(dialog, kAdapterSet);
    Press(*dialog.GetDlgItem(IDC_SET_ADAPTER));
    return WaitUntil([&] { return CountLine(dialog, kAdapterSet) > before; }, 10s);
}

// The renames and Deletes of one backend, reported under its name.
int Measure(vxlab::Lab& lab, LinkTap& tap, CVX418Dlg& dialog, const std::string& name, int renames,
            int deletes) {
    std::string error;
    lab.StopSim();
    if (!lab.StartSim({}, error)) {
        return Fail(error);
    }
    if (!Discover(dialog, 9)) {
        return Fail("discovery on the lab link failed");
    }
    std::vector<double> rename;
    for (int i = 0; i < renames; ++i) {
        if (!SelectUnit(dialog.m_AvailableTree, kSpare1)) {
            return Fail("SPARE1 is not shown");
        }
        Type(dialog.m_NameEdit, i % 2 ? "BENCHB" : "BENCHA");
        const std::vector<double> us = PressAndTime(tap, dialog.m_ChangeNameButton, 1);
        if (us.empty()) {
            return Fail("no rename request on the link");
        }
        rename.push_back(us.front());
        WorkersDone();
    }

    const std::string layout = WriteDeleteLayout();
    std::vector<double> first, last;
    for (int i = 0; i < deletes; ++i) {
        // A fresh simulator has all 16 attached again.
        lab.StopSim();
        if (!lab.StartSim({.preset = {}, .layoutFile = layout, .extraArgs = {}}, error)) {
            return Fail(error);
        }
        if (!Discover(dialog, kDeleted + 1) || ReceiverItemCount() != kDeleted) {
            return Fail("the 16 Receivers are not shown");
        }
        for (const HTREEITEM item : ReceiverItems()) {
            dialog.m_ConnectionsTree.SetCheck(item, true);
        }
        const std::vector<double> us = PressAndTime(tap, dialog.m_DeleteReceiverButton, kDeleted);
        if (static_cast<int>(us.size()) != kDeleted) {
            return Fail("a Delete sent " + std::to_string(us.size()) + " requests");
        }
        first.push_back(us.front());
        last.push_back(us.back());
        WorkersDone();
    }
    std::remove(layout.c_str());

    Report((name + ": rename: press to request on the link").c_str(), rename);
    Report((name + ": delete 16: press to first request").c_str(), first);
    Report((name + ": delete 16: press to last request").c_str(), last);
    return EXIT_SUCCESS;
}

int Run(int renames, int deletes) {
    std::string error;
    if (const std::string why = vxlab::LabUnavailableReason(); !why.empty()) {
        return Fail(why);
    }
    auto lab = vxlab::Lab::Create(error);
    if (!lab || !lab->StartSim({}, error)) {
        return Fail(error);
    }
    auto inStation = lab->EnterStation(error);
    LinkTap tap;
    if (!inStation || !tap.Open(error)) {
        return Fail(error);
    }
    SetCaptureBackend(std::make_shared<PcapCaptureBackend>());
    std::unique_ptr<CVX418Dlg> dialog = OpenOnLab();
    if (!dialog) {
        return Fail("Set Adapter on the lab link failed");
    }
    const std::vector<std::pair<std::string, std::shared_ptr<CaptureBackend>>> backends{
        {"in-process", std::make_shared<PcapCaptureBackend>()},
        {"helper", std::make_shared<HelperCaptureBackend>(VX_CAPTURE_HELPER)},
    };
    int status = EXIT_SUCCESS;
    for (const auto& [name, backend] : backends) {
        if (!SetAdapterThrough(*dialog, backend)) {
            return Fail("Set Adapter through the " + name + " backend failed");
        }
        status |= Measure(*lab, tap, *dialog, name, renames, deletes);
    }
    adaptertest::StopCapture(*dialog);
    WaitUntil([] { return RunningWorkerCount() == 0; }, 5s);
    SetCurrentAdapter({});
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const int renames = argc > 1 ? std::atoi(argv[1]) : 200;
    const int deletes = argc > 2 ? std::atoi(argv[2]) : 20;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return Run(renames, deletes);
}
