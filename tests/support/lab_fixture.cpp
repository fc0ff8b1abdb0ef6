#include "lab_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

extern char** environ;

namespace vxlab {

namespace {

constexpr auto kSimReadyTimeout = 10s;
constexpr auto kSimStopTimeout = 5s;

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// `ip` lives in /usr/sbin or /sbin, which a test's PATH may lack.
std::string IpProgram() {
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (access(path, X_OK) == 0) {
            return path;
        }
    }
    return "ip";
}

std::vector<char*> ArgvOf(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    return argv;
}

bool WriteFile(const std::string& path, const std::string& value) {
    std::ofstream out(path);
    out << value;
    return static_cast<bool>(out.flush());
}

// The creating pid in a lab namespace name "vxlab-st-<pid>" or "vxlab-un-<pid>[-N]".
std::optional<pid_t> LabNamespacePid(const std::string& name) {
    for (const char* prefix : {"vxlab-st-", "vxlab-un-"}) {
        if (name.rfind(prefix, 0) != 0) {
            continue;
        }
        const std::string rest = name.substr(std::strlen(prefix));
        const std::size_t digits = rest.find_first_not_of("0123456789");
        if (digits == 0 || rest.empty()) {
            return std::nullopt;
        }
        const std::string tail = digits == std::string::npos ? "" : rest.substr(digits);
        if (!tail.empty() && (tail[0] != '-' || tail.size() < 2 ||
                              tail.find_first_not_of("0123456789", 1) != std::string::npos)) {
            return std::nullopt;
        }
        return static_cast<pid_t>(std::stol(rest.substr(0, digits)));
    }
    return std::nullopt;
}

// Removes lab namespaces whose creating process is gone (a run that was killed).
void RemoveStaleNamespaces() {
    DIR* dir = opendir("/run/netns");
    if (dir == nullptr) {
        return;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = readdir(dir)) {
        const auto pid = LabNamespacePid(entry->d_name);
        if (pid && kill(*pid, 0) != 0 && errno == ESRCH) {
            stale.emplace_back(entry->d_name);
        }
    }
    closedir(dir);
    for (const std::string& name : stale) {
        Lab::Run({IpProgram(), "netns", "del", name});
    }
}

std::string NextLabSuffix() {
    static std::atomic<int> labs{0};
    const int n = labs++;
    return std::to_string(getpid()) + (n == 0 ? "" : "-" + std::to_string(n));
}

// Parses a JSON string body starting after the opening quote; advances i past the closing one.
std::optional<std::string> ParseJsonString(const std::string& s, std::size_t& i) {
    std::string out;
    while (i < s.size()) {
        const char c = s[i++];
        if (c == '"') {
            return out;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i >= s.size()) {
            return std::nullopt;
        }
        const char e = s[i++];
        switch (e) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'u':
                if (i + 4 > s.size()) {
                    return std::nullopt;
                }
                out += static_cast<char>(std::stoi(s.substr(i, 4), nullptr, 16) & 0xff);
                i += 4;
                break;
            default:
                out += e;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string SimProgramPath() {
    return VX_SIM_PROGRAM;
}

// ---- SimEvent ----

std::optional<SimEvent> SimEvent::Parse(const std::string& line) {
    SimEvent event;
    event.line_ = line;
    std::size_t i = 0;
    auto skipBlanks = [&] {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) {
            ++i;
        }
    };
    skipBlanks();
    if (i >= line.size() || line[i++] != '{') {
        return std::nullopt;
    }
    for (;;) {
        skipBlanks();
        if (i < line.size() && line[i] == '}') {
            return event;
        }
        if (i >= line.size() || line[i++] != '"') {
            return std::nullopt;
        }
        const auto key = ParseJsonString(line, i);
        skipBlanks();
        if (!key || i >= line.size() || line[i++] != ':') {
            return std::nullopt;
        }
        skipBlanks();
        std::optional<std::string> value;
        if (i < line.size() && line[i] == '"') {
            ++i;
            value = ParseJsonString(line, i);
        } else {
            const std::size_t end = line.find_first_of(",}", i);
            if (end == std::string::npos) {
                return std::nullopt;
            }
            value = line.substr(i, end - i);
            i = end;
        }
        if (!value) {
            return std::nullopt;
        }
        event.fields_[*key] = *value;
        skipBlanks();
        if (i < line.size() && line[i] == ',') {
            ++i;
        }
    }
}

std::string SimEvent::Text(const std::string& key) const {
    const auto it = fields_.find(key);
    return it == fields_.end() ? std::string() : it->second;
}

long long SimEvent::Number(const std::string& key) const {
    try {
        return std::stoll(Text(key));
    } catch (const std::exception&) {
        return 0;
    }
}

// ---- NamespaceGuard ----

std::unique_ptr<NamespaceGuard> NamespaceGuard::Enter(const std::string& namespaceName,
                                                      std::string& error) {
    const int original = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (original < 0) {
        error = Errno("open own namespace");
        return nullptr;
    }
    const int target = open(("/run/netns/" + namespaceName).c_str(), O_RDONLY | O_CLOEXEC);
    if (target < 0) {
        error = Errno("open namespace " + namespaceName);
        close(original);
        return nullptr;
    }
    const int result = setns(target, CLONE_NEWNET);
    close(target);
    if (result != 0) {
        error = Errno("setns " + namespaceName);
        close(original);
        return nullptr;
    }
    return std::unique_ptr<NamespaceGuard>(new NamespaceGuard(original));
}

NamespaceGuard::~NamespaceGuard() {
    if (setns(original_, CLONE_NEWNET) != 0) {
        std::perror("lab: returning to the original network namespace");
    }
    close(original_);
}

// ---- BackgroundProcess ----

std::unique_ptr<BackgroundProcess> BackgroundProcess::Start(const std::vector<std::string>& argv,
                                                            const std::string& stdoutPath,
                                                            const std::string& stderrPath,
                                                            std::string& error) {
    std::vector<std::string> args = argv;
    std::vector<char*> cargv = ArgvOf(args);
    auto openOutput = [](const std::string& path) {
        return open(path.empty() ? "/dev/null" : path.c_str(),
                    O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    };
    const int out = openOutput(stdoutPath);
    const int err = openOutput(stderrPath);
    if (out < 0 || err < 0) {
        error = Errno("open output files");
        close(out);
        close(err);
        return nullptr;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    close(out);
    close(err);
    if (pid < 0) {
        error = Errno("fork");
        return nullptr;
    }
    return std::unique_ptr<BackgroundProcess>(new BackgroundProcess(pid));
}

BackgroundProcess::~BackgroundProcess() {
    if (!status_) {
        Signal(SIGKILL);
        Wait(5s);
    }
}

void BackgroundProcess::Signal(int signal) const {
    if (!status_) {
        kill(pid_, signal);
    }
}

std::optional<int> BackgroundProcess::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!status_) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        } else if (done < 0 && errno != EINTR) {
            status_ = -1;
        } else if (std::chrono::steady_clock::now() >= deadline) {
            break;
        } else {
            std::this_thread::sleep_for(5ms);
        }
    }
    return status_;
}

std::vector<std::string> InNamespace(const std::string& namespaceName,
                                     const std::vector<std::string>& argv) {
    std::vector<std::string> out{IpProgram(), "netns", "exec", namespaceName};
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
}

// ---- Lab ----

std::string LabUnavailableReason() {
    if (geteuid() != 0) {
        return "the lab needs root (network namespaces)";
    }
    static const std::string reason = [] {
        const std::string probe = "vxlab-probe-" + std::to_string(getpid());
        std::string output;
        if (Lab::Run({IpProgram(), "netns", "add", probe}, &output) != 0) {
            return "`ip netns add` does not work here: " + output;
        }
        Lab::Run({IpProgram(), "netns", "del", probe}, &output);
        return std::string();
    }();
    return reason;
}

int Lab::Run(const std::vector<std::string>& argv, std::string* output, std::string* errors) {
    int pipeFds[2] = {-1, -1};
    if (output != nullptr && pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    // Standard error apart goes to a file: two pipes read one after the other could fill up.
    char errorPath[] = "/tmp/vxlab-stderr.XXXXXX";
    const int errorFd = errors != nullptr ? mkostemp(errorPath, O_CLOEXEC) : -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output != nullptr) {
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, errorFd >= 0 ? errorFd : pipeFds[1],
                                         STDERR_FILENO);
    } else {
        posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    }
    std::vector<std::string> args = argv;
    std::vector<char*> cargv = ArgvOf(args);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, cargv[0], &actions, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (output != nullptr) {
        close(pipeFds[1]);
        char buffer[4096];
        ssize_t n;
        output->clear();
        while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
            output->append(buffer, static_cast<std::size_t>(n));
        }
        close(pipeFds[0]);
    }
    int status = 0;
    while (spawned == 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (errorFd >= 0) {
        std::ifstream in(errorPath, std::ios::binary);
        *errors = std::string(std::istreambuf_iterator<char>(in), {});
        close(errorFd);
        unlink(errorPath);
    }
    if (spawned != 0) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Lab::Ip(const std::string& namespaceName, const std::vector<std::string>& args) const {
    std::vector<std::string> argv{IpProgram(), "-n", namespaceName};
    argv.insert(argv.end(), args.begin(), args.end());
    return Run(argv);
}

std::unique_ptr<Lab> Lab::Create(std::string& error) {
    RemoveStaleNamespaces();
    const std::string suffix = NextLabSuffix();
    std::unique_ptr<Lab> lab(new Lab("vxlab-st-" + suffix, "vxlab-un-" + suffix));
    const std::string ip = IpProgram();
    auto fail = [&](const std::string& what) {
        error = "lab set-up failed: " + what;
        lab.reset();  // ~Lab removes whatever was made
        return nullptr;
    };
    for (const std::string* ns : {&lab->station_, &lab->unit_}) {
        if (Run({ip, "netns", "add", *ns}) != 0) {
            return fail("ip netns add " + *ns);
        }
        // No IPv6: no router solicitations or neighbour discovery on the link.
        std::string guardError;
        auto inside = NamespaceGuard::Enter(*ns, guardError);
        if (!inside) {
            return fail(guardError);
        }
        WriteFile("/proc/sys/net/ipv6/conf/all/disable_ipv6", "1");
        WriteFile("/proc/sys/net/ipv6/conf/default/disable_ipv6", "1");
    }
    const bool ok =
        lab->Ip(lab->station_, {"link", "add", kStationInterface, "type", "veth", "peer", "name",
                                kUnitInterface, "netns", lab->unit_}) == 0 &&
        lab->Ip(lab->station_, {"link", "set", "lo", "up"}) == 0 &&
        lab->Ip(lab->unit_, {"link", "set", "lo", "up"}) == 0 &&
        lab->Ip(lab->station_, {"addr", "add", std::string(kStationAddress) + "/15", "dev",
                                kStationInterface}) == 0 &&
        lab->Ip(lab->unit_, {"addr", "add", std::string(kUnitSideAddress) + "/15", "dev",
                             kUnitInterface}) == 0 &&
        lab->Ip(lab->station_, {"link", "set", kStationInterface, "up"}) == 0 &&
        lab->Ip(lab->unit_, {"link", "set", kUnitInterface, "up"}) == 0;
    if (!ok) {
        return fail("veth pair and addresses");
    }
    return lab;
}

Lab::~Lab() {
    if (SimRunning()) {
        StopSim();
    }
    RemoveNamespaces();
}

void Lab::RemoveNamespaces() {
    // Deleting a namespace takes its end of the veth pair, and with it the other end.
    for (const std::string& ns : {station_, unit_}) {
        if (access(("/run/netns/" + ns).c_str(), F_OK) == 0) {
            std::string output;
            Run({IpProgram(), "netns", "del", ns}, &output);
        }
    }
}

bool Lab::AddStationInterface(const std::string& name, bool up, const std::string& cidr,
                              std::string& error) {
    bool ok = Ip(station_, {"link", "add", name, "type", "veth", "peer", "name", name + "p"}) == 0;
    if (ok && !cidr.empty()) {
        ok = Ip(station_, {"addr", "add", cidr, "dev", name}) == 0;
    }
    if (ok && up) {
        ok = Ip(station_, {"link", "set", name + "p", "up"}) == 0 &&
             Ip(station_, {"link", "set", name, "up"}) == 0;
    }
    if (!ok) {
        error = "could not add interface " + name;
    }
    return ok;
}

std::unique_ptr<NamespaceGuard> Lab::EnterStation(std::string& error) const {
    return NamespaceGuard::Enter(station_, error);
}

bool Lab::StartSim(const SimOptions& options, std::string& error) {
    if (SimRunning()) {
        error = "the simulator is already running";
        return false;
    }
    std::vector<std::string> args{IpProgram(),      "netns",       "exec",        unit_,
                                  SimProgramPath(), "--interface", kUnitInterface};
    if (options.layoutFile.empty()) {
        args.insert(args.end(), {"--preset", options.preset});
    } else {
        args.insert(args.end(), {"--layout", options.layoutFile});
    }
    args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());
    std::vector<char*> argv = ArgvOf(args);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = Errno("pipe");
        return false;
    }
    const std::size_t firstEvent = EventCount();
    const pid_t pid = fork();
    if (pid < 0) {
        error = Errno("fork");
        close(pipeFds[0]);
        close(pipeFds[1]);
        return false;
    }
    if (pid == 0) {
        // Only async-signal-safe calls here. The simulator dies with the test process, so a
        // crashed test cannot leave it running.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(pipeFds[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    simPid_ = pid;
    reader_ = std::thread([this, fd = pipeFds[0]] { ReadSimOutput(fd); });
    if (!WaitForEvent([](const SimEvent& e) { return e.Is("ready"); }, kSimReadyTimeout,
                      firstEvent)) {
        error = "the simulator did not report ready";
        StopSim();
        return false;
    }
    return true;
}

void Lab::ReadSimOutput(int fd) {
    std::string pending;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        if (n <= 0) {
            continue;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t newline;
        while ((newline = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            if (auto event = SimEvent::Parse(line)) {
                const std::lock_guard lock(mutex_);
                events_.push_back(std::move(*event));
            } else {
                std::fprintf(stderr, "vx418-sim: %s\n", line.c_str());
            }
            newEvent_.notify_all();
        }
    }
    close(fd);
}

bool Lab::SimRunning() const {
    return simPid_ > 0;
}

std::optional<SimEvent> Lab::StopSim() {
    if (!SimRunning()) {
        return std::nullopt;
    }
    const std::size_t from = EventCount();
    kill(simPid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + kSimStopTimeout;
    while (waitpid(simPid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(simPid_, SIGKILL);
            waitpid(simPid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    simPid_ = -1;
    simExitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (reader_.joinable()) {
        reader_.join();
    }
    return WaitForEvent([](const SimEvent& e) { return e.Is("stopped"); }, 0ms, from);
}

std::vector<SimEvent> Lab::Events() const {
    const std::lock_guard lock(mutex_);
    return events_;
}

std::size_t Lab::EventCount() const {
    const std::lock_guard lock(mutex_);
    return events_.size();
}

std::optional<SimEvent> Lab::WaitForEvent(const std::function<bool(const SimEvent&)>& match,
                                          std::chrono::milliseconds timeout,
                                          std::size_t from) const {
    std::unique_lock lock(mutex_);
    std::optional<SimEvent> found;
    std::size_t next = from;
    auto scan = [&] {
        for (; next < events_.size(); ++next) {
            if (match(events_[next])) {
                found = events_[next];
                return true;
            }
        }
        return false;
    };
    newEvent_.wait_for(lock, timeout, scan);
    return found;
}

std::optional<SimEvent> Lab::UnitState(const std::string& mac) const {
    const std::lock_guard lock(mutex_);
    for (auto it = events_.rbegin(); it != events_.rend(); ++it) {
        if (it->Is("unit") && it->Text("mac") == mac) {
            return *it;
        }
    }
    return std::nullopt;
}

}  // namespace vxlab
