#pragma once

// The network-namespace lab: two namespaces joined by a veth pair, vx418-sim on the unit side,
// the station code on the other. See docs/lab.md for a walk-through.
//
//   std::string why = vxlab::LabUnavailableReason();
//   if (!why.empty()) GTEST_SKIP() << why;
//   std::string error;
//   auto lab = vxlab::Lab::Create(error);                 // namespaces, veth, addresses
//   lab->StartSim({.preset = "demo"}, error);             // waits for the simulator's "ready"
//   auto inStation = lab->EnterStation(error);            // this thread (and threads it starts
//                                                         // from now on) see the station side
//   ... open the adapter "rpcap://vxst0", send, capture ...
//   lab->WaitForEvent([](const vxlab::SimEvent& e) { return e.Is("reply"); }, 2s);
//   inStation.reset();                                    // leave before the lab goes
//   lab.reset();                                          // stops the simulator, removes all
//
// Everything the lab creates is removed by ~Lab, also when a test fails half-way; namespaces
// left by a run that was killed are removed by the next Create.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vxlab {

using namespace std::chrono_literals;

// Empty when the lab can run here; otherwise why not (not root, `ip netns` unusable).
std::string LabUnavailableReason();

// One line of the simulator's output: a flat JSON object of strings, numbers and booleans.
class SimEvent {
  public:
    static std::optional<SimEvent> Parse(const std::string& line);

    bool Is(const std::string& event) const { return Text("event") == event; }
    bool Has(const std::string& key) const { return fields_.count(key) != 0; }
    // The value as written (strings unescaped); empty when the key is missing.
    std::string Text(const std::string& key) const;
    long long Number(const std::string& key) const;  // 0 when missing or not a number
    const std::string& Line() const { return line_; }

  private:
    std::map<std::string, std::string> fields_;
    std::string line_;
};

struct SimOptions {
    std::string preset = "demo";         // "demo" or "many:N"
    std::string layoutFile;              // used instead of the preset when set
    std::vector<std::string> extraArgs;  // fault switches, e.g. {"--refuse", "set-name"}
};

// Moves the calling thread into a network namespace; the destructor moves it back. Threads
// started while inside are born in that namespace and stay there.
class NamespaceGuard {
  public:
    static std::unique_ptr<NamespaceGuard> Enter(const std::string& namespaceName,
                                                 std::string& error);
    ~NamespaceGuard();
    NamespaceGuard(const NamespaceGuard&) = delete;
    NamespaceGuard& operator=(const NamespaceGuard&) = delete;

  private:
    explicit NamespaceGuard(int original) : original_(original) {}
    int original_;
};

// A program running beside the test (for example tshark on the lab link). Its output goes to
// files; it dies with the test process, and the destructor kills it if it still runs.
class BackgroundProcess {
  public:
    // argv[0] must be a path. stdoutPath/stderrPath may be empty (then /dev/null).
    static std::unique_ptr<BackgroundProcess> Start(const std::vector<std::string>& argv,
                                                    const std::string& stdoutPath,
                                                    const std::string& stderrPath,
                                                    std::string& error);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    void Signal(int signal) const;
    // The exit status (128 + signal when killed), or nullopt if still running after timeout.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    int Pid() const { return pid_; }

  private:
    explicit BackgroundProcess(int pid) : pid_(pid) {}
    int pid_;
    std::optional<int> status_;
};

// `ip netns exec <namespace> argv...` as an argument vector for BackgroundProcess or Lab::Run.
std::vector<std::string> InNamespace(const std::string& namespaceName,
                                     const std::vector<std::string>& argv);

class Lab {
  public:
    static constexpr const char* kStationInterface = "vxst0";
    static constexpr const char* kUnitInterface = "vxun0";
    static constexpr const char* kStationAdapter = "rpcap://vxst0";
    static constexpr const char* kStationAddress = "198.18.0.1";
    static constexpr const char* kUnitSideAddress = "198.18.0.2";

    // Creates vxlab-st-<pid> and vxlab-un-<pid> (a "-N" suffix for a second lab in the same
    // process) joined by vxst0/vxun0, both up, with 198.18.0.1/15 and 198.18.0.2/15, IPv6 off
    // so the link carries only what the test sends. nullptr and error on failure (nothing left).
    static std::unique_ptr<Lab> Create(std::string& error);
    ~Lab();
    Lab(const Lab&) = delete;
    Lab& operator=(const Lab&) = delete;

    const std::string& StationNamespace() const { return station_; }
    const std::string& UnitNamespace() const { return unit_; }

    // Runs vx418-sim on the unit side; true once it reported "ready" (within 10 s).
    bool StartSim(const SimOptions& options, std::string& error);
    // SIGTERM, then waits for its exit; returns its "stopped" event (counters) if it wrote one.
    std::optional<SimEvent> StopSim();
    bool SimRunning() const;
    // How the last simulator ended: its exit status, 128 + signal when killed; nullopt before.
    std::optional<int> SimExitStatus() const { return simExitStatus_; }

    std::vector<SimEvent> Events() const;
    std::size_t EventCount() const;
    // The first event at index >= from that matches; nullopt on time-out.
    std::optional<SimEvent> WaitForEvent(const std::function<bool(const SimEvent&)>& match,
                                         std::chrono::milliseconds timeout,
                                         std::size_t from = 0) const;
    // The latest "unit" event of that MAC (the simulator's current view of the unit).
    std::optional<SimEvent> UnitState(const std::string& mac) const;

    std::unique_ptr<NamespaceGuard> EnterStation(std::string& error) const;

    // Runs a command to its end (argv[0] searched in PATH); returns its exit status, or -1 when
    // it could not run. Its output goes to *output when given, else to our standard error;
    // with errors, its standard error goes there apart.
    static int Run(const std::vector<std::string>& argv, std::string* output = nullptr,
                   std::string* errors = nullptr);
    // Runs `ip -n <namespace> args...`.
    int Ip(const std::string& namespaceName, const std::vector<std::string>& args) const;

    // Another veth pair inside the station namespace (both ends there): name and name+"p". up
    // decides the state of name; cidr ("a.b.c.d/n") is added when not empty.
    bool AddStationInterface(const std::string& name, bool up, const std::string& cidr,
                             std::string& error);

  private:
    Lab(std::string station, std::string unit)
        : station_(std::move(station)), unit_(std::move(unit)) {}
    void ReadSimOutput(int fd);
    void RemoveNamespaces();

    std::string station_;
    std::string unit_;
    int simPid_ = -1;
    std::optional<int> simExitStatus_;
    std::thread reader_;
    mutable std::mutex mutex_;
    mutable std::condition_variable newEvent_;
    std::vector<SimEvent> events_;
};

// Path of the vx418-sim program built with the tests.
std::string SimProgramPath();

}  // namespace vxlab
