// Time from a unit's reply leaving vx418-sim to HandleCapturedFrame having handled it, on the
// lab link: in-process with the capture library's immediate mode on and off, and through the
// capture helper vx418-capture; then again while the simulator floods the link with 100,000
// foreign frames a second, counting the replies that never reached the handler.
//
// The simulator stamps each reply with CLOCK_MONOTONIC just before its send (a trailer behind
// the IPv4 datagram that no length covers); the station's capture callback reads the stamp,
// runs HandleCapturedFrame and takes the clock again. Both ends share the machine's clock.
//
// Needs root (network namespaces):  sudo build/lab/bench/lab/lab_reply_latency [replies]

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "lab_fixture.h"
#include "net/adapter_state.h"
#include "net/frame_builder.h"
#include "net/posix/helper_backend.h"
#include "net/posix/pcap_backend.h"
#include "protocol/messages.h"

namespace {

using namespace std::chrono_literals;

constexpr std::size_t kTrailerLength = 8;
constexpr std::size_t kStatusReplyLength = 60;  // padded TFDP status reply
constexpr auto kRequestSpacing = 2ms;
// The free Receiver SPARE1 of the demo preset: every rename of it is answered.
constexpr Ipv4Bytes kUnitIp{198, 18, 1, 25};
constexpr MacBytes kUnitMac{0x02, 0x18, 0x00, 0x00, 0x02, 0x05};

std::uint64_t Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::uint64_t>(t.tv_sec) * 1'000'000'000u +
           static_cast<std::uint64_t>(t.tv_nsec);
}

class NullSink final : public LineSink {
  public:
    void Log(std::string_view) override {}
    void Trace(std::string_view) override {}
};

struct Result {
    std::size_t samples = 0;
    double p50Us = 0, p99Us = 0, maxUs = 0;
    std::optional<CaptureStatistics> stats;  // in-process only
};

constexpr long long kForeignRate = 100000;

double Percentile(std::vector<std::uint64_t>& v, double p) {
    const auto k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return static_cast<double>(v[k]) / 1000.0;
}

std::optional<Result> Measure(CaptureBackend& backend, int replies) {
    std::string error;
    std::shared_ptr<CaptureHandle> handle = backend.Open(vxlab::Lab::kStationAdapter, {}, error);
    const auto mac = backend.QueryCurrentAddress(vxlab::Lab::kStationInterface);
    if (!handle || !mac) {
        std::fprintf(stderr, "open failed: %s\n", error.c_str());
        return std::nullopt;
    }
    SetCurrentAdapter({handle, *mac, {198, 18, 0, 1}});

    DeviceTable table;
    NullSink sink;
    std::mutex mutex;
    std::vector<std::uint64_t> latencies;
    std::thread loop([&] {
        handle->Loop([&](const std::uint8_t* frame, std::size_t length) {
            const bool stamped = length == kStatusReplyLength + kTrailerLength &&
                                 (frame[kTfdpClassOffset] << 8 | frame[kTfdpClassOffset + 1]) ==
                                     kConfigurationReplyClass;
            HandleCapturedFrame(frame, length, table, sink, *mac);
            if (!stamped) {
                return;
            }
            const std::uint64_t handled = Now();
            std::uint64_t sent = 0;
            for (std::size_t i = 0; i < kTrailerLength; ++i) {
                sent |= static_cast<std::uint64_t>(frame[kStatusReplyLength + i]) << (8 * i);
            }
            const std::lock_guard lock(mutex);
            latencies.push_back(handled - sent);
        });
    });

    ConfigBlock block{};
    std::copy(kUnitIp.begin(), kUnitIp.end(), block.begin());
    std::copy(kUnitMac.begin(), kUnitMac.end(), block.begin() + 4);
    SetNewName(block, "LATENCY");
    for (int i = 0; i < replies; ++i) {
        SendRequest(block.data(), kSetNameRequest);
        std::this_thread::sleep_for(kRequestSpacing);
    }
    // Without immediate mode a reply may wait for the 1000 ms read time-out.
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (std::chrono::steady_clock::now() < deadline) {
        {
            const std::lock_guard lock(mutex);
            if (latencies.size() >= static_cast<std::size_t>(replies)) {
                break;
            }
        }
        std::this_thread::sleep_for(10ms);
    }
    handle->BreakLoop();
    loop.join();
    Result r;
    if (auto* pcap = dynamic_cast<PcapCaptureHandle*>(handle.get())) {
        r.stats = pcap->Statistics();
    }
    SetCurrentAdapter({});
    const std::lock_guard lock(mutex);
    r.samples = latencies.size();
    if (!latencies.empty()) {
        r.p50Us = Percentile(latencies, 0.50);
        r.p99Us = Percentile(latencies, 0.99);
        r.maxUs = static_cast<double>(*std::max_element(latencies.begin(), latencies.end())) / 1e3;
    }
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const int replies = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const std::string why = vxlab::LabUnavailableReason();
    if (!why.empty()) {
        std::fprintf(stderr, "lab_reply_latency: %s\n", why.c_str());
        return 77;
    }
    std::string error;
    auto lab = vxlab::Lab::Create(error);
    if (!lab || !lab->StartSim({.extraArgs = {"--timestamps"}}, error)) {
        std::fprintf(stderr, "lab_reply_latency: %s\n", error.c_str());
        return 1;
    }
    auto inStation = lab->EnterStation(error);
    if (!inStation) {
        std::fprintf(stderr, "lab_reply_latency: %s\n", error.c_str());
        return 1;
    }
    std::printf("reply latency, vx418-sim send -> HandleCapturedFrame done, %d replies each\n",
                replies);
    struct Run {
        const char* name;
        std::shared_ptr<CaptureBackend> backend;
        bool foreign;  // the simulator floods the link meanwhile
    };
    const auto helper = std::make_shared<HelperCaptureBackend>(VX_CAPTURE_HELPER);
    const auto inProcess = std::make_shared<PcapCaptureBackend>();
    const std::vector<Run> runs{
        {"in-process, immediate mode", inProcess, false},
        {"in-process, no immediate mode",
         std::make_shared<PcapCaptureBackend>(PcapOptions{.immediateMode = false}), false},
        {"helper", helper, false},
        {"in-process, 100000 foreign frames/s", inProcess, true},
        {"helper, 100000 foreign frames/s", helper, true},
    };
    int status = 0;
    bool flooding = false;
    for (const Run& run : runs) {
        if (run.foreign != flooding) {
            lab->StopSim();
            std::vector<std::string> args{"--timestamps"};
            if (run.foreign) {
                args.insert(args.end(), {"--foreign-rate", std::to_string(kForeignRate)});
            }
            if (!lab->StartSim({.extraArgs = args}, error)) {
                std::fprintf(stderr, "lab_reply_latency: %s\n", error.c_str());
                return 1;
            }
            flooding = run.foreign;
        }
        const std::size_t from = lab->EventCount();
        const auto r = Measure(*run.backend, replies);
        const auto events = lab->Events();
        const auto answered =
            std::count_if(events.begin() + static_cast<std::ptrdiff_t>(from), events.end(),
                          [](const vxlab::SimEvent& e) { return e.Is("reply"); });
        if (!r) {
            status = 1;
            continue;
        }
        std::printf(
            "%-36s  samples %4zu  p50 %8.1f us  p99 %8.1f us  max %8.1f us  lost %ld of %ld",
            run.name, r->samples, r->p50Us, r->p99Us, r->maxUs,
            static_cast<long>(answered) - static_cast<long>(r->samples),
            static_cast<long>(answered));
        if (r->stats) {
            std::printf("  (pcap: received %u, dropped %u)", r->stats->received, r->stats->dropped);
        }
        std::printf("\n");
        if (r->samples < static_cast<std::size_t>(replies)) {
            status = 1;
        }
    }
    inStation.reset();
    return status;
}
