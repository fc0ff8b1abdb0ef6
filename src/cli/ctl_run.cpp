#include "cli/ctl_run.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/ctl_operations.h"
#include "cli/ctl_output.h"
#include "cli/ctl_session.h"
#include "net/adapter.h"
#include "protocol/messages.h"
#include "views/labels.h"

namespace {

using std::chrono::milliseconds;

constexpr char kProgram[] = "vx418ctl";
constexpr int kDefaultWaitMs = 5000;  // the window's Refresh
constexpr int kDefaultTimeoutMs = 1000;
constexpr char kAdapterPrefix[] = "rpcap://";
constexpr std::size_t kAdapterPrefixLength = sizeof kAdapterPrefix - 1;

constexpr char kFooter[] =
    "UNIT, TX and RX name a unit by its MAC address (aa:bb:cc:dd:ee:ff) or by its current name\n"
    "when no other unit has it. ADAPTER is an interface name (eth0), its rpcap:// name or its\n"
    "description as 'vx418ctl adapters' lists them. Every command that changes a unit first\n"
    "discovers the units (ending early once every unit named by MAC has answered), sends the\n"
    "request the window sends for the same operation and waits for the addressed unit's reply.\n"
    "The changing commands also take --wait MS (discovery, default 5000) and --timeout MS (the\n"
    "unit's reply, default 1000); 'vx418ctl COMMAND --help' shows a command's options. --json\n"
    "and --quiet may also follow the command's own options.\n"
    "\n"
    "Exit status:\n"
    "  0  the unit confirmed the change; adapters and discover worked\n"
    "  1  the unit refused the change\n"
    "  2  bad input: usage, name or address rule, unknown unit, not a Transmitter or Receiver\n"
    "  3  no answer from the unit within --timeout\n"
    "  4  the adapter could not be listed, opened (for example without capture privileges)\n"
    "     or sent on";

struct Options {
    bool json = false;
    bool quiet = false;
    std::string adapter;
    int waitMs = kDefaultWaitMs;
    int timeoutMs = kDefaultTimeoutMs;
    std::string unit;
    std::string other;
    std::string text;
    std::string mode;
    int backup = 0;
};

struct Commands {
    CLI::App* adapters = nullptr;
    CLI::App* discover = nullptr;
    CLI::App* rename = nullptr;
    CLI::App* setIp = nullptr;
    CLI::App* setMode = nullptr;
    CLI::App* attach = nullptr;
    CLI::App* detach = nullptr;
};

void AddAdapterOption(CLI::App& command, Options& o) {
    command.add_option("-i,--interface", o.adapter, "the adapter to work on")
        ->option_text("ADAPTER")
        ->required();
    command.add_option("--wait", o.waitMs, "wait this long for discovery replies (default 5000)")
        ->option_text("MS")
        ->check(CLI::NonNegativeNumber);
}

CLI::App* AddChange(CLI::App& app, Options& o, const char* name, const char* description) {
    CLI::App* command = app.add_subcommand(name, description);
    AddAdapterOption(*command, o);
    command
        ->add_option("--timeout", o.timeoutMs, "wait this long for the unit's reply (default 1000)")
        ->option_text("MS")
        ->check(CLI::NonNegativeNumber);
    return command;
}

Commands Describe(CLI::App& app, Options& o) {
    app.description("Finds and configures VX418 units from the command line.");
    app.footer(kFooter);
    app.set_version_flag("--version", std::string(kProgram) + " " + VX_VERSION);
    app.require_subcommand(1);
    // A repeated option takes its last value, so a script may append to a default line.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.fallthrough();
    app.add_flag("--json", o.json, "print one JSON document on standard output");
    app.add_flag("-q,--quiet", o.quiet, "print nothing on success");
    Commands c;
    c.adapters = app.add_subcommand("adapters",
                                    "list the adapters the window offers, with their IPv4 and MAC");
    c.discover =
        app.add_subcommand("discover", "-i ADAPTER [--wait MS]: list the units and their topology");
    AddAdapterOption(*c.discover, o);
    c.rename = AddChange(app, o, "rename", "UNIT NAME -i ADAPTER: set the unit's name");
    c.rename->add_option("UNIT", o.unit)->required();
    c.rename->add_option("NAME", o.text, "up to 16 letters and digits")->required();
    c.setIp = AddChange(app, o, "set-ip", "UNIT ADDRESS -i ADAPTER: set the unit's IPv4 address");
    c.setIp->add_option("UNIT", o.unit)->required();
    c.setIp->add_option("ADDRESS", o.text)->required();
    c.setMode =
        AddChange(app, o, "set-mode", "TX multicast|unicast -i ADAPTER: set the topology mode");
    c.setMode->add_option("TX", o.unit)->required();
    c.setMode->add_option("MODE", o.mode)
        ->required()
        ->check(CLI::IsMember({"multicast", "unicast"}));
    c.attach = AddChange(app, o, "attach", "TX RX [--backup 1|2] -i ADAPTER: attach a Receiver");
    c.attach->add_option("TX", o.unit)->required();
    c.attach->add_option("RX", o.other)->required();
    c.attach->add_option("--backup", o.backup, "into this backup slot of a unicast Transmitter")
        ->option_text("1|2")
        ->check(CLI::IsMember({1, 2}));
    c.detach =
        AddChange(app, o, "detach", "TX RX -i ADAPTER: detach a Receiver from its Transmitter");
    c.detach->add_option("TX", o.unit)->required();
    c.detach->add_option("RX", o.other)->required();
    return c;
}

// One run's output: --json gathers one document, people get lines; errors go to err.
class Reporter {
  public:
    Reporter(const Options& o, std::ostream& out, std::ostream& err)
        : options_(o), out_(out), err_(err) {}

    int Fail(int status, const std::string& text) {
        err_ << kProgram << ": " << text << '\n';
        return status;
    }
    void Warn(const std::string& text) {
        if (!options_.quiet) {
            err_ << kProgram << ": warning: " << text << '\n';
        }
    }
    // A result: the document or the lines on out, unless --quiet and it is a success.
    void Result(int status, const nlohmann::ordered_json& document,
                const std::vector<std::string>& lines) {
        if (options_.quiet && status == kExitConfirmed) {
            return;
        }
        if (options_.json) {
            out_ << document.dump(2) << '\n';
            return;
        }
        std::ostream& to = status == kExitConfirmed ? out_ : err_;
        for (const std::string& line : lines) {
            to << (status == kExitConfirmed ? "" : std::string(kProgram) + ": ") << line << '\n';
        }
    }

  private:
    const Options& options_;
    std::ostream& out_;
    std::ostream& err_;
};

std::optional<AdapterInfo> FindAdapter(const std::vector<AdapterInfo>& adapters,
                                       const std::string& wanted) {
    for (const AdapterInfo& a : adapters) {
        // Only the adapters the window offers: those with a description.
        if (a.description && (a.name == wanted || a.name == std::string(kAdapterPrefix) + wanted ||
                              *a.description == wanted)) {
            return a;
        }
    }
    return std::nullopt;
}

int ListAdapters(Reporter& report) {
    std::string error;
    const auto adapters = LoadAdapterList(error);
    if (!adapters) {
        return report.Fail(kExitAdapter, "cannot list the adapters: " + error);
    }
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    std::vector<std::string> lines;
    for (const AdapterInfo& a : *adapters) {
        if (!a.description) {
            continue;
        }
        const std::string driver =
            a.name.size() > kAdapterPrefixLength ? a.name.substr(kAdapterPrefixLength) : "";
        const auto mac = ActiveCaptureBackend().QueryCurrentAddress(driver);
        list.push_back(AdapterJson(a, mac));
        lines.push_back(AdapterLine(a, mac));
    }
    report.Result(kExitConfirmed, {{"adapters", list}}, lines);
    return kExitConfirmed;
}

// Opens the named adapter; nullptr after reporting why (status in status).
std::unique_ptr<CtlSession> OpenSession(const Options& o, Reporter& report, int& status) {
    std::string error;
    const auto adapters = LoadAdapterList(error);
    if (!adapters) {
        status = report.Fail(kExitAdapter, "cannot list the adapters: " + error);
        return nullptr;
    }
    const auto adapter = FindAdapter(*adapters, o.adapter);
    if (!adapter) {
        status = report.Fail(kExitAdapter,
                             "no adapter " + o.adapter + " (vx418ctl adapters lists them)");
        return nullptr;
    }
    StationOpenFailure failure;
    std::string warnings;
    auto session = CtlSession::Open(*adapter, failure, warnings);
    if (!warnings.empty()) {
        report.Warn("opening " + adapter->name + ": " + warnings);
    }
    if (!session) {
        status = report.Fail(kExitAdapter, "cannot open " + adapter->name + ": " + failure.reason);
        if (failure.notPermitted) {
            report.Fail(kExitAdapter,
                        "capture is not permitted: it needs membership of the vx418 group and "
                        "vx418-capture beside vx418ctl with cap_net_raw (as the package installs "
                        "them), or root");
        }
        return nullptr;
    }
    return session;
}

int Discover(const Options& o, Reporter& report) {
    int status = kExitConfirmed;
    auto session = OpenSession(o, report, status);
    if (!session) {
        return status;
    }
    if (!session->Discover(milliseconds(o.waitMs), nullptr)) {
        return report.Fail(kExitAdapter, "the adapter refused the discovery broadcast");
    }
    const std::vector<DeviceRecord> devices = session->Table().Snapshot();
    nlohmann::ordered_json units = nlohmann::ordered_json::array();
    std::vector<std::string> lines;
    for (int i = 0; i < static_cast<int>(devices.size()); ++i) {
        units.push_back(UnitJson(devices, i));
        lines.push_back(UnitLine(devices, i));
    }
    report.Result(kExitConfirmed,
                  {{"adapter", o.adapter}, {"units", units}, {"topology", TopologyJson(devices)}},
                  lines);
    return kExitConfirmed;
}

// A unit as the command names it: a MAC (any case) or a current name.
struct Selector {
    std::optional<MacBytes> mac;
    std::string name;
};

std::optional<Selector> ParseSelector(const std::string& text) {
    if (const auto mac = ParseMac(text)) {
        return Selector{mac, {}};
    }
    if (text.empty() || text.find(':') != std::string::npos) {
        return std::nullopt;  // meant as a MAC, but not one
    }
    return Selector{std::nullopt, text};
}

// The unit's MAC text as the table writes it, or a refusal.
std::variant<std::string, std::string> Resolve(const std::vector<DeviceRecord>& devices,
                                               const Selector& selector) {
    using Result = std::variant<std::string, std::string>;
    if (selector.mac) {
        const std::string mac = MacText(*selector.mac);
        if (FindInSnapshot(devices, mac) < 0) {
            return Result(std::in_place_index<1>, "no unit " + mac + " answered the discovery");
        }
        return Result(std::in_place_index<0>, mac);
    }
    std::vector<std::string> matches;
    for (const DeviceRecord& r : devices) {
        if (NameText(r.Name) == selector.name) {
            matches.push_back(MacText(r.Mac));
        }
    }
    if (matches.size() == 1) {
        return Result(std::in_place_index<0>, matches.front());
    }
    return Result(std::in_place_index<1>,
                  matches.empty() ? "no unit named " + selector.name + " answered the discovery"
                                  : std::to_string(matches.size()) + " units are named " +
                                        selector.name + "; name it by its MAC address");
}

int Change(const std::string& command, const Options& o, const OperationInput& input,
           bool namesTwoUnits, Reporter& report) {
    if (const auto refusal = CheckOperationInput(input)) {
        return report.Fail(kExitBadInput, *refusal);
    }
    std::vector<std::string> texts{o.unit};
    if (namesTwoUnits) {
        texts.push_back(o.other);
    }
    std::vector<Selector> selectors;
    for (const std::string& text : texts) {
        const auto selector = ParseSelector(text);
        if (!selector) {
            return report.Fail(kExitBadInput, "'" + text + "' is not a MAC address");
        }
        selectors.push_back(*selector);
    }
    int status = kExitConfirmed;
    auto session = OpenSession(o, report, status);
    if (!session) {
        return status;
    }
    // A name is unique only among all the units, so it waits for the whole discovery.
    CtlSession::Done done;
    if (std::all_of(selectors.begin(), selectors.end(), [](const Selector& s) { return s.mac; })) {
        done = [&selectors](const DeviceTable& table) {
            return std::all_of(selectors.begin(), selectors.end(), [&](const Selector& s) {
                return table.ContainsMac(MacText(*s.mac));
            });
        };
    }
    if (!session->Discover(milliseconds(o.waitMs), done)) {
        return report.Fail(kExitAdapter, "the adapter refused the discovery broadcast");
    }
    DeviceTable& table = session->Table();
    const std::vector<DeviceRecord> devices = table.Snapshot();
    std::vector<std::string> macs;
    for (const Selector& selector : selectors) {
        auto resolved = Resolve(devices, selector);
        if (resolved.index() == 1) {
            return report.Fail(kExitBadInput, std::get<1>(resolved));
        }
        macs.push_back(std::get<0>(resolved));
    }
    auto prepared = PrepareRequest(table, input, macs[0], namesTwoUnits ? macs[1] : std::string());
    if (auto* refusal = std::get_if<std::string>(&prepared)) {
        return report.Fail(kExitBadInput, *refusal);
    }
    const PreparedRequest& request = std::get<PreparedRequest>(prepared);
    bool sent = false;
    const auto reply = session->SendAndAwaitReply(
        *ParseMac(request.addressedMac), request.confirms, [&] { return SendPrepared(request); },
        milliseconds(o.timeoutMs), sent);
    if (!sent) {
        return report.Fail(kExitAdapter, "the adapter refused the request frame");
    }
    const std::string label = DeviceLabel(devices, FindInSnapshot(devices, request.addressedMac));
    const ReplyCodes codes = ReplyCodesOf(request.confirms);
    status = !reply ? kExitNoAnswer : reply->code == codes.accepted ? kExitConfirmed : kExitRefused;
    static constexpr const char* kResults[] = {"confirmed", "refused", "", "no-answer"};
    nlohmann::ordered_json document{
        {"command", command},
        {"adapter", o.adapter},
        {"unit", UnitJson(devices, FindInSnapshot(devices, macs[0]))},
        {"request", RequestName(request)},
        {"addressed", request.addressedMac},
        {"result", kResults[status]},
        {"reply", nullptr},
    };
    if (namesTwoUnits) {
        document["other"] = UnitJson(devices, FindInSnapshot(devices, macs[1]));
    }
    std::string line;
    if (reply) {
        const std::string text(ReplyLogText(reply->messageClass, reply->code).value_or(""));
        document["reply"] = {{"class", reply->messageClass}, {"code", reply->code}, {"text", text}};
        line = label + ": " + text;
    } else {
        line = "no answer from " + label + " within " + std::to_string(o.timeoutMs) + " ms";
    }
    report.Result(status, document, {line});
    return status;
}

}  // namespace

int RunCtl(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    Options o;
    CLI::App app("", kProgram);
    const Commands c = Describe(app, o);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return kExitConfirmed;
    } catch (const CLI::CallForVersion& e) {
        out << e.what() << '\n';
        return kExitConfirmed;
    } catch (const CLI::ParseError& e) {
        err << kProgram << ": " << e.what() << '\n' << app.help();
        return kExitBadInput;
    }
    Reporter report(o, out, err);
    if (c.adapters->parsed()) {
        return ListAdapters(report);
    }
    if (c.discover->parsed()) {
        return Discover(o, report);
    }
    OperationInput input;
    input.text = o.text;
    if (c.rename->parsed()) {
        input.operation = CtlOperation::Rename;
        return Change("rename", o, input, false, report);
    }
    if (c.setIp->parsed()) {
        input.operation = CtlOperation::SetIp;
        return Change("set-ip", o, input, false, report);
    }
    if (c.setMode->parsed()) {
        input.operation = CtlOperation::SetMode;
        input.mode = o.mode == "unicast" ? Topology::Unicast : Topology::Multicast;
        return Change("set-mode", o, input, false, report);
    }
    if (c.attach->parsed()) {
        input.operation = CtlOperation::Attach;
        input.slot = static_cast<PeerSlot>(o.backup);
        return Change("attach", o, input, true, report);
    }
    input.operation = CtlOperation::Detach;
    return Change("detach", o, input, true, report);
}
