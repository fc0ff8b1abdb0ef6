// vx418ctl rename end to end on the lab: from the program's start to its exit, with the
// discovery ending as soon as the named unit has answered. The window needs its 5.6 s Refresh
// before any change; the goal here is under 300 ms.
//
// Needs root (network namespaces):  sudo build/<dir>/bench/cli/cli_rename_bench [runs]

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "lab_fixture.h"

extern char** environ;

namespace {

// SPARE1 of the demo preset: a free Receiver, every rename of it is answered.
constexpr char kUnit[] = "02:18:00:00:02:05";

double Percentile(std::vector<double> v, double p) {
    const auto k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

// Exit status of one run, or -1.
int RunOnce(const std::string& name) {
    std::vector<std::string> args{VX418CTL_BINARY, "rename", kUnit, name, "-i", "vxst0", "--quiet"};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    const std::string why = vxlab::LabUnavailableReason();
    if (!why.empty()) {
        std::fprintf(stderr, "cli_rename_bench: %s\n", why.c_str());
        return 1;
    }
    std::string error;
    auto lab = vxlab::Lab::Create(error);
    if (!lab || !lab->StartSim({.preset = "demo"}, error)) {
        std::fprintf(stderr, "cli_rename_bench: %s\n", error.c_str());
        return 1;
    }
    auto inStation = lab->EnterStation(error);
    if (!inStation) {
        std::fprintf(stderr, "cli_rename_bench: %s\n", error.c_str());
        return 1;
    }
    std::vector<double> ms;
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const int status = RunOnce(i % 2 == 0 ? "BENCHA" : "BENCHB");
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        if (status != 0) {
            ++failures;
        }
        ms.push_back(took.count());
    }
    inStation.reset();
    lab.reset();
    std::printf("vx418ctl rename, start to exit, %d runs: p50 %.1f ms  p99 %.1f ms  max %.1f ms",
                runs, Percentile(ms, 0.50), Percentile(ms, 0.99),
                *std::max_element(ms.begin(), ms.end()));
    std::printf("  (goal < 300 ms; failed runs: %d)\n", failures);
    return failures == 0 ? 0 : 1;
}
