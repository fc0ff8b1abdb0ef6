#include "cli/ctl_run.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <string>
#include <vector>

#include "cli/ctl_adapter.h"
#include "cli/ctl_apply.h"
#include "cli/ctl_assign.h"
#include "cli/ctl_change.h"
#include "cli/ctl_check.h"
#include "cli/ctl_commands.h"
#include "cli/ctl_diff.h"
#include "cli/ctl_report.h"
#include "cli/ctl_text.h"
#include "vx418_version.h"

namespace {

using std::chrono::milliseconds;

constexpr char kProgram[] = "vx418ctl";
constexpr char kAdapterVariable[] = "VX418_ADAPTER";
constexpr int kDefaultLockWaitMs = 30000;
constexpr const char* kCommandNames[] = {"adapters", "discover", "show",   "check",  "rename",
                                         "set-ip",   "set-mode", "attach", "detach", "export",
                                         "apply",    "diff",     "assign"};

constexpr char kFooter[] =
    "UNIT, TX and RX name a unit by its MAC address (aa:bb:cc:dd:ee:ff, aa-bb-cc-dd-ee-ff or\n"
    "aabbccddeeff) or by its name in any case when no other unit has it. ADAPTER is an interface\n"
    "name (eth0), its rpcap:// name or its description as 'vx418ctl adapters' lists them;\n"
    "VX418_ADAPTER gives it when -i does not. One vx418ctl works on an adapter at a time; another\n"
    "waits up to --lock-wait MS (default 30000) for it.\n"
    "\n"
    "A change first discovers the units (ending early once every unit named by MAC has\n"
    "answered). When the unit already has the value, nothing is sent. A change that would detach\n"
    "other Receivers or move a Receiver from another Transmitter needs --force. The tool sends\n"
    "the window's request, waits --timeout MS (default 1000) for the addressed unit's reply to\n"
    "this station, then reads the unit back (a discovery, up to --wait MS, default 5000) and\n"
    "succeeds only when it reports the requested value. --dry-run shows the request instead.\n"
    "'vx418ctl COMMAND --help' shows a command's options; --json, --quiet, --terse and -v may\n"
    "also follow them.\n"
    "\n"
    "Exit status:\n"
    "  0  done, or already so; a listing worked\n"
    "  1  a unit refused the change, or does not report it afterwards; check: errors found;\n"
    "     diff: the units differ\n"
    "  2  usage, an invalid value or file, or a change that needs --force\n"
    "  3  no answer: the change may or may not have been applied\n"
    "  4  the adapter could not be listed, locked, opened (for example without capture\n"
    "     privileges) or sent on\n"
    "  5  a unit did not answer the discovery, or its name is ambiguous\n"
    "  6  the result could not be written to standard output";

struct Options {
    OutputOptions output;
    RunOptions run;
    int waitMs = 5000;
    int timeoutMs = 1000;
    int lockWaitMs = kDefaultLockWaitMs;
    std::string unit;
    std::string other;
    std::string text;
    std::string mode;
    std::string format = "json";
    int backup = 0;
    AssignOptions assign;
};

struct Commands {
    CLI::App* adapters = nullptr;
    CLI::App* discover = nullptr;
    CLI::App* show = nullptr;
    CLI::App* check = nullptr;
    CLI::App* rename = nullptr;
    CLI::App* setIp = nullptr;
    CLI::App* setMode = nullptr;
    CLI::App* attach = nullptr;
    CLI::App* detach = nullptr;
    CLI::App* exportUnits = nullptr;
    CLI::App* apply = nullptr;
    CLI::App* diff = nullptr;
    CLI::App* assign = nullptr;
};

const CLI::Validator kMilliseconds(
    [](const std::string& text) {
        try {
            std::size_t used = 0;
            if (std::stol(text, &used) > 0 && used == text.size()) {
                return std::string();
            }
        } catch (const std::exception&) {
        }
        return "must be a positive number of milliseconds, not '" + text + "'";
    },
    "MS>0");

void AddMilliseconds(CLI::App& command, const char* name, int& value, const std::string& what) {
    command.add_option(name, value, what)->option_text("MS")->check(kMilliseconds);
}

// -i, --wait and --lock-wait: every command that works on an adapter.
CLI::App* AddAdapterCommand(CLI::App& app, Options& o, const char* name, const char* description) {
    CLI::App* command = app.add_subcommand(name, description);
    command->add_option("-i,--interface", o.run.adapter.typed, "the adapter to work on")
        ->option_text("ADAPTER")
        ->envname(kAdapterVariable)
        ->required();
    AddMilliseconds(*command, "--wait", o.waitMs,
                    "wait this long for discovery replies and read-backs (default 5000)");
    AddMilliseconds(*command, "--lock-wait", o.lockWaitMs,
                    "wait this long for another vx418ctl on the adapter (default 30000)");
    return command;
}

CLI::App* AddChange(CLI::App& app, Options& o, const char* name, const char* description) {
    CLI::App* command = AddAdapterCommand(app, o, name, description);
    AddMilliseconds(*command, "--timeout", o.timeoutMs,
                    "wait this long for the unit's reply (default 1000)");
    command->add_flag("--dry-run", o.run.dryRun, "show the request; send nothing");
    return command;
}

void AddForce(CLI::App& command, Options& o) {
    command.add_flag("--force", o.run.force,
                     "also when other Receivers would be detached or moved");
}

CLI::App* DescribeAssign(CLI::App& app, Options& o) {
    CLI::App* assign = AddChange(app, o, "assign",
                                 "[MAC...] -i ADAPTER: unique names and addresses for many units");
    AssignOptions& a = o.assign;
    assign->add_option("MAC", a.macs, "these units (with the choices below, those of them)")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    assign->add_option("--names", a.names, "RX{n:02}: {n} or {n:0W} is the running number")
        ->option_text("PATTERN");
    // A name holds 16 characters, so no running number needs more digits.
    constexpr std::int64_t kLargestFirst = 9'999'999'999'999'999;
    assign->add_option("--first", a.first, "the first running number (default 1)")
        ->option_text("N")
        ->check(CLI::Range(std::int64_t{0}, kLargestFirst));
    assign->add_option("--addresses", a.addresses, "upward from START, skipping addresses in use")
        ->option_text("START[-END]");
    assign->add_flag("--receivers", a.receivers, "the Receivers");
    assign->add_flag("--transmitters", a.transmitters, "the Transmitters");
    assign->add_option("--where", a.where, "the units with this name or address (repeatable)")
        ->option_text("name=NAME|ip=A.B.C.D")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    assign->add_option("--order", a.orderFile, "number the units in the order of this list of MACs")
        ->option_text("FILE");
    CLI::Option* output = assign
                              ->add_option("-o,--output", o.run.outputFile,
                                           "write an installation file to apply; send nothing")
                              ->option_text("FILE");
    assign->get_option("--dry-run")->excludes(output);
    assign->add_flag("--force", o.run.force,
                     "addresses past the station's subnet; names other units have too");
    return assign;
}

Commands Describe(CLI::App& app, Options& o) {
    app.description("Finds and configures VX418 units from the command line.");
    app.footer(kFooter);
    app.set_version_flag("--version", std::string(kProgram) + " " + VX_VERSION);
    app.require_subcommand(1);
    // A repeated option takes its last value, so a script may append to a default line.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.fallthrough();
    app.add_flag("--json", o.output.json, "print exactly one JSON document on standard output");
    app.add_flag("-q,--quiet", o.output.quiet, "print nothing on success");
    app.add_flag("-t,--terse", o.output.terse, "print tab-separated fields");
    app.add_flag("-v,--verbose", o.output.verbose, "trace lines on standard error");
    Commands c;
    c.adapters = app.add_subcommand("adapters",
                                    "list the adapters the window offers, with their IPv4 and MAC");
    c.discover = AddAdapterCommand(app, o, "discover", "-i ADAPTER: list the units and topology");
    c.show = AddAdapterCommand(app, o, "show", "UNIT -i ADAPTER: every field of one unit");
    c.show->add_option("UNIT", o.unit)->required();
    c.check = AddAdapterCommand(app, o, "check",
                                "-i ADAPTER: what is wrong: shared addresses and names, links");
    c.rename = AddChange(app, o, "rename", "UNIT NAME -i ADAPTER: set the unit's name");
    c.rename->add_option("UNIT", o.unit)->required();
    c.rename->add_option("NAME", o.text, "up to 16 letters and digits")->required();
    c.setIp = AddChange(app, o, "set-ip", "UNIT ADDRESS -i ADAPTER: set the unit's IPv4 address");
    c.setIp->add_option("UNIT", o.unit)->required();
    c.setIp->add_option("ADDRESS", o.text, "four decimal fields 0-255")->required();
    c.setMode =
        AddChange(app, o, "set-mode", "TX multicast|unicast -i ADAPTER: set the topology mode");
    c.setMode->add_option("TX", o.unit)->required();
    c.setMode->add_option("MODE", o.mode)
        ->required()
        ->check(CLI::IsMember({"multicast", "unicast"}));
    AddForce(*c.setMode, o);
    c.attach = AddChange(app, o, "attach", "TX RX [--backup 1|2] -i ADAPTER: attach a Receiver");
    c.attach->add_option("TX", o.unit)->required();
    c.attach->add_option("RX", o.other)->required();
    c.attach->add_option("--backup", o.backup, "into this backup slot of a unicast Transmitter")
        ->option_text("1|2")
        ->check(CLI::IsMember({1, 2}));
    AddForce(*c.attach, o);
    c.detach =
        AddChange(app, o, "detach", "TX RX -i ADAPTER: detach a Receiver from its Transmitter");
    c.detach->add_option("TX", o.unit)->required();
    c.detach->add_option("RX", o.other)->required();
    c.exportUnits = AddAdapterCommand(app, o, "export",
                                      "-i ADAPTER [-o FILE]: the installation as a JSON file");
    c.exportUnits->add_option("-o,--output", o.run.outputFile, "write it here, not to stdout")
        ->option_text("FILE");
    c.exportUnits
        ->add_option("--format", o.format,
                     "json (default): the installation file; dot: a Graphviz drawing of it")
        ->check(CLI::IsMember({"json", "dot"}));
    c.apply = AddChange(app, o, "apply", "FILE -i ADAPTER: make the units match an export");
    c.apply->add_option("FILE", o.run.inputFile, "an installation file of 'vx418ctl export'")
        ->required();
    c.diff = AddAdapterCommand(app, o, "diff",
                               "FILE -i ADAPTER: where the units differ from an installation file");
    c.diff->add_option("FILE", o.run.inputFile, "an installation file of 'vx418ctl export'")
        ->required();
    c.assign = DescribeAssign(app, o);
    return c;
}

bool IsCommandName(const std::string& word) {
    return std::find(std::begin(kCommandNames), std::end(kCommandNames), word) !=
           std::end(kCommandNames);
}

// The first word that is not an option: the command as typed (empty when there is none).
std::string TypedCommand(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] != '-') {
            return argv[i];
        }
    }
    return {};
}

bool HasWord(int argc, const char* const* argv, const std::string& word) {
    for (int i = 1; i < argc; ++i) {
        if (word == argv[i]) {
            return true;
        }
    }
    return false;
}

std::string CommandLine(int argc, const char* const* argv) {
    std::string line = kProgram;
    for (int i = 1; i < argc; ++i) {
        line += std::string(" ") + argv[i];
    }
    return DisplayText(line);
}

// One line saying what is wrong and where to read more; with --json, the error document too.
int UsageError(int argc, const char* const* argv, const std::string& message, std::ostream& out,
               std::ostream& err) {
    OutputOptions output;
    output.json = HasWord(argc, argv, "--json");
    Reporter report(output, out, err);
    const std::string command = TypedCommand(argc, argv);
    std::string text = message;
    std::string help = std::string(kProgram) + " --help";
    if (command.empty()) {
        text =
            "a command is needed (adapters, discover, show, check, rename, set-ip, set-mode, "
            "attach, detach, export, apply, diff, assign)";
    } else if (!IsCommandName(command)) {
        text = "unknown command '" + command + "'";
    } else {
        report.SetCommand(command);
        help = std::string(kProgram) + " " + command + " --help";
    }
    if (text.find("--interface is required") != std::string::npos) {
        text += std::string(" (or set ") + kAdapterVariable + ")";
    }
    report.Fail(kExitBadInput, text);
    err << "Try '" << help << "'.\n";
    return report.Finish(kExitBadInput);
}

int Dispatch(const std::string& command, const Commands& c, Options& o, Reporter& report) {
    o.run.wait = milliseconds(o.waitMs);
    o.run.timeout = milliseconds(o.timeoutMs);
    o.run.adapter.lockWait = milliseconds(o.lockWaitMs);
    if (c.adapters->parsed()) {
        return ListAdapters(report);
    }
    if (c.discover->parsed()) {
        return Discover(o.run, report);
    }
    if (c.show->parsed()) {
        return Show(o.run, o.unit, report);
    }
    if (c.check->parsed()) {
        return Check(o.run, report);
    }
    o.run.dot = o.format == "dot";
    if (c.exportUnits->parsed()) {
        return Export(o.run, report);
    }
    if (c.apply->parsed()) {
        return Apply(o.run, report);
    }
    if (c.diff->parsed()) {
        return Diff(o.run, report);
    }
    if (c.assign->parsed()) {
        return Assign(o.run, o.assign, report);
    }
    ChangeCommand change{command, {}, o.unit, o.other};
    change.input.text = o.text;
    if (c.rename->parsed()) {
        change.input.operation = CtlOperation::Rename;
    } else if (c.setIp->parsed()) {
        change.input.operation = CtlOperation::SetIp;
    } else if (c.setMode->parsed()) {
        change.input.operation = CtlOperation::SetMode;
        change.input.mode = o.mode == "unicast" ? Topology::Unicast : Topology::Multicast;
    } else if (c.attach->parsed()) {
        change.input.operation = CtlOperation::Attach;
        change.input.slot = static_cast<PeerSlot>(o.backup);
    } else {
        change.input.operation = CtlOperation::Detach;
    }
    return Change(o.run, change, report);
}

}  // namespace

int RunCtl(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
           bool errIsTerminal) {
    Options o;
    CLI::App app("", kProgram);
    const Commands c = Describe(app, o);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return kExitDone;
    } catch (const CLI::CallForVersion& e) {
        out << e.what() << '\n';
        return kExitDone;
    } catch (const CLI::ParseError& e) {
        return UsageError(argc, argv, e.what(), out, err);
    }
    o.run.adapter.commandLine = CommandLine(argc, argv);
    o.output.terminal = errIsTerminal;
    Reporter report(o.output, out, err);
    const std::string command = app.get_subcommands().front()->get_name();
    report.SetCommand(command);
    return report.Finish(Dispatch(command, c, o, report));
}
