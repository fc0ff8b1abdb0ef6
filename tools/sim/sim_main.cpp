// vx418-sim: plays a set of VX418 units on one network interface. See docs/lab.md.

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "sim_engine.h"
#include "sim_foreign.h"
#include "sim_layout.h"
#include "sim_link.h"
#include "sim_scheduler.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) {
    g_stop = true;
}

constexpr const char* kUsage =
    "usage: vx418-sim --interface IF [--preset demo|many:N | --layout FILE]\n"
    "                 [--no-answer RATE] [--refuse OP[,OP...]|all] [--duplicates N]\n"
    "                 [--delay MS] [--foreign-rate FPS] [--seed N] [--timestamps]\n"
    "  OP: set-name set-ip set-mode add-receiver add-backup delete-receiver\n"
    "  State changes are written to standard output as JSON lines.\n";

struct Options {
    std::string interfaceName;
    std::string preset = "demo";
    std::string layoutFile;
    vxsim::FaultSwitches faults;
    double foreignRate = 0;
    bool timestamps = false;
};

bool ParseRefuseList(const std::string& list, std::set<vxsim::Operation>& out) {
    using vxsim::Operation;
    if (list == "all") {
        out = {Operation::SetName,     Operation::SetIp,     Operation::SetMode,
               Operation::AddReceiver, Operation::AddBackup, Operation::DeleteReceiver};
        return true;
    }
    std::istringstream words(list);
    for (std::string word; std::getline(words, word, ',');) {
        const auto op = vxsim::OperationFromName(word);
        if (!op || *op == Operation::Discovery) {
            return false;
        }
        out.insert(*op);
    }
    return true;
}

bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            auto value = [&]() -> std::string {
                if (i + 1 >= argc) {
                    throw std::invalid_argument(arg + " needs a value");
                }
                return argv[++i];
            };
            if (arg == "--interface") {
                o.interfaceName = value();
            } else if (arg == "--preset") {
                o.preset = value();
            } else if (arg == "--layout") {
                o.layoutFile = value();
            } else if (arg == "--no-answer") {
                o.faults.noAnswerRate = std::stod(value());
            } else if (arg == "--refuse") {
                if (!ParseRefuseList(value(), o.faults.refuse)) {
                    throw std::invalid_argument("unknown operation in --refuse");
                }
            } else if (arg == "--duplicates") {
                o.faults.duplicates = std::stoi(value());
            } else if (arg == "--delay") {
                o.faults.delayMs = std::stoi(value());
            } else if (arg == "--foreign-rate") {
                o.foreignRate = std::stod(value());
            } else if (arg == "--seed") {
                o.faults.seed = static_cast<std::uint32_t>(std::stoul(value()));
            } else if (arg == "--timestamps") {
                o.timestamps = true;
            } else {
                throw std::invalid_argument("unknown option " + arg);
            }
        }
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    if (o.interfaceName.empty()) {
        error = "--interface is required";
        return false;
    }
    if (o.faults.noAnswerRate < 0 || o.faults.noAnswerRate > 1 || o.faults.duplicates < 0 ||
        o.faults.delayMs < 0 || o.foreignRate < 0) {
        error = "rates, counts and delays must not be negative (rate at most 1)";
        return false;
    }
    return true;
}

std::optional<vxsim::UnitSet> LoadUnits(const Options& o, std::string& error) {
    if (o.layoutFile.empty()) {
        return vxsim::PresetByName(o.preset, error);
    }
    std::ifstream in(o.layoutFile);
    if (!in) {
        error = "cannot read " + o.layoutFile;
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return vxsim::ParseLayout(text.str(), error);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "vx418-sim: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    auto units = LoadUnits(options, error);
    if (!units) {
        std::fprintf(stderr, "vx418-sim: %s\n", error.c_str());
        return 2;
    }
    auto link = vxsim::PacketLink::Open(options.interfaceName, error);
    if (!link) {
        std::fprintf(stderr, "vx418-sim: %s\n", error.c_str());
        return 1;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    vxsim::StreamEventSink events(stdout);
    vxsim::Engine engine(std::move(*units), options.faults, events);
    vxsim::ReplyScheduler scheduler(*link, options.timestamps);

    vxsim::ForeignStats foreignStats;
    std::unique_ptr<vxsim::PacketLink> foreignLink;
    std::thread foreign;
    if (options.foreignRate > 0) {
        foreignLink = vxsim::PacketLink::Open(options.interfaceName, error);
        if (!foreignLink) {
            std::fprintf(stderr, "vx418-sim: %s\n", error.c_str());
            return 1;
        }
        auto progress = [&events](std::uint64_t sent, double seconds) {
            events.Emit(
                vxsim::JsonLine()
                    .Str("event", "foreign")
                    .Num("sent", static_cast<long long>(sent))
                    .Num("rate", static_cast<long long>(static_cast<double>(sent) / seconds)));
        };
        foreign = std::thread(vxsim::RunForeignTraffic, std::ref(*foreignLink), options.foreignRate,
                              std::cref(g_stop), std::ref(foreignStats), progress);
    }

    engine.EmitAllUnits();
    events.Emit(vxsim::JsonLine()
                    .Str("event", "ready")
                    .Str("interface", options.interfaceName)
                    .Num("units", static_cast<long long>(engine.Units().Units().size())));

    std::vector<std::uint8_t> buffer(65536);
    int status = 0;
    while (!g_stop) {
        const long n = link->Receive(buffer, 100);
        if (n < 0) {
            std::fprintf(stderr, "vx418-sim: receive failed: %s\n", link->LastError().c_str());
            status = 1;
            break;
        }
        if (n == 0) {
            continue;
        }
        const std::size_t length = std::min(static_cast<std::size_t>(n), buffer.size());
        for (vxsim::OutFrame& out : engine.Handle({buffer.data(), length})) {
            scheduler.Submit(std::move(out));
        }
    }
    g_stop = true;
    if (foreign.joinable()) {
        foreign.join();
    }
    scheduler.Stop();
    const vxsim::EngineCounters& c = engine.Counters();
    events.Emit(vxsim::JsonLine()
                    .Str("event", "stopped")
                    .Num("requests", static_cast<long long>(c.requests))
                    .Num("malformed", static_cast<long long>(c.malformed))
                    .Num("unanswered", static_cast<long long>(c.unanswered))
                    .Num("replies", static_cast<long long>(c.replies))
                    .Num("replies_sent", static_cast<long long>(scheduler.Sent()))
                    .Num("send_failures", static_cast<long long>(scheduler.Failures()))
                    .Num("foreign_sent", static_cast<long long>(foreignStats.sent.load()))
                    .Num("foreign_refused", static_cast<long long>(foreignStats.refused.load())));
    return status;
}
