// Time of one rebuild of both trees from a full table (32 units), as the workers run it: every
// tree call a blocking round trip to the window thread. Also the rebuild run on the window
// thread itself and the pure layout computation, to show where the time goes.
//
//   QT_QPA_PLATFORM=offscreen build/views/bench/views/views_rebuild_bench

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDialog>
#include <QMetaObject>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <thread>

#include "protocol/device_table.h"
#include "protocol/wire_format.h"
#include "shell/cvx418_dlg.h"
#include "views/device_trees.h"
#include "views/view_plans.h"

namespace {

CVX418Dlg* benchDialog = nullptr;

class QuietSink : public LineSink {
  public:
    void Log(std::string_view) override {}
    void Trace(std::string_view) override {}
};

void Put16(std::array<std::uint8_t, kDeviceRecordSize>& w, std::size_t at, std::uint16_t v) {
    w[at] = static_cast<std::uint8_t>(v >> 8);
    w[at + 1] = static_cast<std::uint8_t>(v & 0xFF);
}

// 32 units: every fourth a Transmitter (alternately multicast and unicast) with the next unit
// attached to it, the rest free Receivers.
void FillTable() {
    QuietSink sink;
    Devices().Clear();
    for (std::uint8_t n = 0; n < kDeviceTableCapacity; ++n) {
        std::array<std::uint8_t, kDeviceRecordSize> w{};
        const char name[] = "Unit-Bench";
        std::memcpy(w.data() + kRecordNameOffset, name, sizeof name - 1);
        const std::array<std::uint8_t, 4> ip{10, 0, 0, static_cast<std::uint8_t>(n + 1)};
        const std::array<std::uint8_t, 6> mac{2, 0, 0, 0, 0, static_cast<std::uint8_t>(n + 1)};
        std::copy(ip.begin(), ip.end(), w.begin() + kRecordIpOffset);
        std::copy(mac.begin(), mac.end(), w.begin() + kRecordMacOffset);
        const bool transmitter = n % 4 == 0;
        if (transmitter) {
            Put16(w, kRecordKindOffset, 1);
            Put16(w, kRecordModeOffset, (n / 4) % 2 == 0 ? 0 : 1);
            if ((n / 4) % 2 == 1) {  // unicast: names its main Receiver
                w[kRecordT1MacOffset] = 2;
                w[kRecordT1MacOffset + 5] = static_cast<std::uint8_t>(n + 2);
            }
        } else if (n % 4 == 1) {  // attached to the Transmitter just before it
            w[kRecordT1MacOffset] = 2;
            w[kRecordT1MacOffset + 5] = n;
        }
        Devices().StoreDiscoveredDevice(std::span<const std::uint8_t, kDeviceRecordSize>(w), sink);
    }
}

void BM_RebuildFromWorker(benchmark::State& state) {
    FillTable();
    for (auto _ : state) {
        RebuildDeviceTrees(benchDialog);
    }
    state.counters["units"] = static_cast<double>(Devices().DeviceCount());
    state.counters["receiverItems"] = ReceiverItemCount();
}
BENCHMARK(BM_RebuildFromWorker)->Unit(benchmark::kMicrosecond);

void BM_RebuildOnWindowThread(benchmark::State& state) {
    FillTable();
    for (auto _ : state) {
        QMetaObject::invokeMethod(
            benchDialog->GetSafeHwnd(), [] { RebuildDeviceTrees(benchDialog); },
            Qt::BlockingQueuedConnection);
    }
}
BENCHMARK(BM_RebuildOnWindowThread)->Unit(benchmark::kMicrosecond);

void BM_PlanDeviceTrees(benchmark::State& state) {
    FillTable();
    for (auto _ : state) {
        benchmark::DoNotOptimize(PlanDeviceTrees(Devices().Snapshot()));
    }
}
BENCHMARK(BM_PlanDeviceTrees)->Unit(benchmark::kMicrosecond);

}  // namespace

// The window thread runs Qt's loop; the benchmarks run on a worker, as the rebuild does.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    CVX418Dlg dialog([](Command) {});
    dialog.OnInitDialog();
    dialog.GetSafeHwnd()->show();
    benchDialog = &dialog;
    std::thread runner([&app] {
        benchmark::RunSpecifiedBenchmarks();
        QMetaObject::invokeMethod(
            &app, [] { QApplication::quit(); }, Qt::QueuedConnection);
    });
    const int result = QApplication::exec();
    runner.join();
    benchmark::Shutdown();
    return result;
}
