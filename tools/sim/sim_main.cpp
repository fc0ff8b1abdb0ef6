// vx418-sim: plays a set of VX418 units on one network interface. See docs/lab.md.

#include <CLI/CLI.hpp>
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
#include "vx418_version.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) {
    g_stop = true;
}

// The readings from their table, so the help cannot fall behind it.
std::string Footer() {
    std::string text =
        "OP: set-name set-ip set-mode add-receiver add-backup delete-receiver\n"
        "DECISION=READING (first reading usual):";
    for (std::size_t i = 0; i < vxsim::kDecisionCount; ++i) {
        const vxsim::DecisionInfo& d = vxsim::kDecisions[i];
        text +=
            std::string(i % 3 == 0 ? "\n  " : " ") + d.name + "=" + d.usual + "|" + d.alternative;
    }
    return text + "\nState changes are written to standard output as JSON lines. See docs/lab.md.";
}

struct Options {
    std::string interfaceName;
    std::string preset = "demo";
    std::string layoutFile;
    vxsim::FaultSwitches faults;
    vxsim::Readings readings;
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

void DescribeOptions(CLI::App& app, Options& o) {
    app.description("Plays a set of VX418 units on one network interface.");
    app.footer(Footer());
    app.set_version_flag("--version", std::string("vx418-sim ") + VX_VERSION);
    // A repeated option takes its last value (scripts/demo passes its own --preset first).
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--interface", o.interfaceName, "interface to play the units on")
        ->option_text("IF")
        ->required();
    app.add_option("--preset", o.preset, "demo (default) or many:N, N in 1..1000")
        ->option_text("demo|many:N");
    app.add_option("--layout", o.layoutFile,
                   "units and attachments from a layout file (wins "
                   "over --preset)")
        ->option_text("FILE");
    app.add_option("--no-answer", o.faults.noAnswerRate,
                   "leave each request unanswered with this probability")
        ->option_text("RATE")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option_function<std::string>(
           "--no-answer-to",
           [&o](const std::string& list) {
               o.faults.noAnswerOps.clear();
               if (!ParseRefuseList(list, o.faults.noAnswerOps)) {
                   throw CLI::ValidationError("--no-answer-to", "unknown operation in " + list);
               }
           },
           "apply --no-answer to these operations only (discovery is then always answered)")
        ->option_text("OP[,OP...]|all");
    // Repeats add up.
    app.add_option_function<std::vector<std::string>>(
           "--refuse",
           [&o](const std::vector<std::string>& lists) {
               for (const std::string& list : lists) {
                   if (!ParseRefuseList(list, o.faults.refuse)) {
                       throw CLI::ValidationError("--refuse", "unknown operation in " + list);
                   }
               }
           },
           "answer these operations with the failure code")
        ->option_text("OP[,OP...]|all")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--duplicates", o.faults.duplicates, "send every reply N more times")
        ->option_text("N")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--delay", o.faults.delayMs, "send every reply MS milliseconds late")
        ->option_text("MS")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--foreign-rate", o.foreignRate, "send other traffic at this rate")
        ->option_text("FPS")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--seed", o.faults.seed, "seed of the no-answer draw")->option_text("N");
    app.add_flag("--timestamps", o.timestamps, "append the send time to every reply");
    // Repeats add up, left to right.
    app.add_option_function<std::vector<std::string>>(
           "--reading",
           [&o](const std::vector<std::string>& readings) {
               for (const std::string& reading : readings) {
                   if (!o.readings.Parse(reading)) {
                       throw CLI::ValidationError("--reading", "unknown reading " + reading);
                   }
               }
           },
           "how the units behave where that is not known: usual, alternative or "
           "DECISION=READING (docs/lab.md)")
        ->option_text("usual|alternative|DECISION=READING")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
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
    CLI::App app("", "vx418-sim");
    DescribeOptions(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion& e) {
        std::printf("%s\n", e.what());
        return 0;
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "vx418-sim: %s\n%s", e.what(), app.help().c_str());
        return 2;
    }
    std::string error;
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
    units->SetReadings(options.readings);
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
                    .Str("readings", options.readings.Describe())
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
