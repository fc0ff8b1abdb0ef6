// Cost of one Log pane append (LogLine on the window thread, including the events it posts)
// when the log already holds 1,000 and 100,000 lines. The ratio shows whether the cost grows
// with the length of the log.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDialog>
#include <memory>
#include <string>

#include "shell/cvx418_dlg.h"
#include "shell/log_line.h"

namespace {

constexpr int kAppendsPerRun = 1000;  // the log grows by this much while it is measured

CVX418Dlg* Dialog() {
    static std::unique_ptr<CVX418Dlg> dialog = [] {
        auto d = std::make_unique<CVX418Dlg>(nullptr);
        d->GetSafeHwnd()->show();
        return d;
    }();
    return dialog.get();
}

void Fill(CVX418Dlg* dialog, int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) {
        text += "2010-11-24 08:27:33  Succeeded in updating device's name. line " +
                std::to_string(i) + "\r\n";
    }
    dialog->m_LogPane.SetWindowText(text);
    QCoreApplication::processEvents();
}

void BM_LogLineAppend(benchmark::State& state) {
    CVX418Dlg* dialog = Dialog();
    Fill(dialog, static_cast<int>(state.range(0)));
    int n = 0;
    for (auto _ : state) {
        LogLine(dialog, "Succeeded in adding receiver %d to the transmitter.", ++n);
        QCoreApplication::processEvents();  // the scroll it posts, and any layout it caused
    }
    state.counters["log_lines"] = static_cast<double>(state.range(0));
}

// The append alone, without the repaint that the event loop does once per batch of lines.
void BM_LogLineAppendOnly(benchmark::State& state) {
    CVX418Dlg* dialog = Dialog();
    Fill(dialog, static_cast<int>(state.range(0)));
    int n = 0;
    for (auto _ : state) {
        LogLine(dialog, "Succeeded in adding receiver %d to the transmitter.", ++n);
    }
    QCoreApplication::processEvents();  // after the timed loop: the posted scrolls
    state.counters["log_lines"] = static_cast<double>(state.range(0));
}

BENCHMARK(BM_LogLineAppend)
    ->Arg(1000)
    ->Arg(100000)
    ->Iterations(kAppendsPerRun)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_LogLineAppendOnly)
    ->Arg(1000)
    ->Arg(100000)
    ->Iterations(kAppendsPerRun)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
