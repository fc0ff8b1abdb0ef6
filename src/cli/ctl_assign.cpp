#include "cli/ctl_assign.h"

#include <fstream>
#include <map>
#include <optional>

#include "cli/ctl_apply.h"
#include "cli/ctl_assign_choice.h"
#include "cli/ctl_install.h"
#include "cli/ctl_install_file.h"
#include "cli/ctl_lookup.h"
#include "cli/ctl_plan.h"
#include "cli/ctl_run.h"
#include "cli/ctl_text.h"
#include "views/labels.h"

std::optional<AssignRequest> ReadAssignRequest(const AssignOptions& typed, bool force,
                                               std::string& error) {
    AssignRequest request;
    request.first = typed.first;
    request.force = force;
    if (typed.names.empty() && typed.addresses.empty()) {
        error = "assign needs --names, --addresses or both";
        return std::nullopt;
    }
    if (!typed.names.empty() && !(request.names = ParseNamePattern(typed.names, error))) {
        return std::nullopt;
    }
    if (!typed.addresses.empty() &&
        !(request.addresses = ParseAddressRange(typed.addresses, error))) {
        return std::nullopt;
    }
    UnitChoice& choice = request.choice;
    choice.receivers = typed.receivers;
    choice.transmitters = typed.transmitters;
    for (const std::string& where : typed.where) {
        if (!AddWhere(where, choice, error)) {
            return std::nullopt;
        }
    }
    for (const std::string& text : typed.macs) {
        const auto mac = ParseMacSpelling(text);
        if (!mac) {
            error = "'" + text + "' is not a MAC address (assign takes units by MAC only)";
            return std::nullopt;
        }
        choice.macs.push_back(*mac);
    }
    if (!typed.orderFile.empty()) {
        std::ifstream in(typed.orderFile, std::ios::binary);
        const bool opened = in.is_open();
        const auto order = opened ? ReadMacOrder(in, error) : std::nullopt;
        if (!order) {
            error = typed.orderFile + ": " + (opened ? error : "cannot be read");
            return std::nullopt;
        }
        choice.order = *order;
        choice.orderFile = typed.orderFile;
    }
    if (!choice.HasCriteria() && choice.order.empty()) {
        error = kNoChoiceText;
        return std::nullopt;
    }
    return request;
}

namespace {

// The file keeps what the units report; only the assigned names and addresses are new.
Installation AssignedInstallation(const Assignment& assignment) {
    Installation installation;
    for (const AssignedUnit& u : assignment.units) {
        InstalledUnit unit;
        unit.mac = u.before.Mac;
        unit.name = u.name;
        unit.ip = u.ip;
        unit.transmitter = IsTransmitter(u.before);
        installation.units.push_back(unit);
    }
    return installation;
}

// One entry and one line per unit: its MAC, the name and address it has and those it gets.
void Describe(const Assignment& assignment, Reporter& report) {
    Json assigned = Json::array();
    for (const AssignedUnit& u : assignment.units) {
        const std::string name = NameText(u.before.Name);
        assigned.push_back({{"mac", MacText(u.before.Mac)},
                            {"name", Latin1ToUtf8(name)},
                            {"ip", Ipv4Text(u.before.Ip)},
                            {"new_name", u.name},
                            {"new_ip", Ipv4Text(u.ip)}});
        report.Line(report.Options().terse
                        ? "unit\t" + MacText(u.before.Mac) + '\t' + DisplayText(name) + '\t' +
                              Ipv4Text(u.before.Ip) + '\t' + u.name + '\t' + Ipv4Text(u.ip)
                        : MacText(u.before.Mac) + "  " + DisplayText(name) + " " +
                              Ipv4Text(u.before.Ip) + " -> " + u.name + " " + Ipv4Text(u.ip));
    }
    report.Document()["assigned"] = assigned;
}

// -o FILE: every unit as export writes it, the assigned ones with their new names and
// addresses; refused when apply could not carry it out (addresses in a circle: a file has no
// room for the step aside).
int WriteAssignment(const RunOptions& options, const std::vector<DeviceRecord>& devices,
                    const Assignment& assignment, bool named, Reporter& report) {
    std::map<MacBytes, const AssignedUnit*> byMac;
    for (const AssignedUnit& u : assignment.units) {
        byMac.emplace(u.before.Mac, &u);
    }
    std::vector<DeviceRecord> after = devices;
    for (DeviceRecord& r : after) {
        if (const auto it = byMac.find(r.Mac); it != byMac.end()) {
            r.Name = named ? CheckDeviceName(it->second->name).field : r.Name;
            r.Ip = it->second->ip;
        }
    }
    const Json document = InstallationJson(after, options.adapter.typed);
    std::string error;
    const auto installation = ParseInstallation(document, error);
    if (!installation) {
        return report.Fail(kExitBadInput, error);
    }
    const Plan plan = ComputePlan(*installation, devices);
    if (!plan.problems.empty()) {
        report.Fail(kExitBadInput, "apply could not carry the file out; nothing was written:");
        for (const std::string& problem : plan.problems) {
            report.Detail(problem);
        }
        return kExitBadInput;
    }
    if (!WriteFileAtomically(options.outputFile, InstallationFileText(document), error)) {
        return report.Fail(kExitOutput, error);
    }
    report.Document()["file"] = options.outputFile;
    report.Line(std::to_string(devices.size()) + " units written to " + options.outputFile);
    return kExitDone;
}

}  // namespace

int Assign(const RunOptions& options, const AssignOptions& typed, Reporter& report) {
    report.Document()["adapter"] = options.adapter.typed;
    std::string error;
    auto request = ReadAssignRequest(typed, options.force, error);
    if (!request) {
        return report.Fail(kExitBadInput, error);
    }
    int status = kExitDone;
    auto scope = AdapterRunScope::Open(options.adapter, report, status);
    // Unique among every unit on the segment: the whole discovery.
    if (!scope || !DiscoverUnits(scope->Session(), options, nullptr, report, status)) {
        return status;
    }
    CtlSession& session = scope->Session();
    const std::vector<DeviceRecord> devices = session.Table().Snapshot();
    report.Note(std::to_string(devices.size()) + " units answered");
    if (devices.empty()) {
        return report.Fail(kExitNoAnswer, "no unit answered the discovery: nothing to assign");
    }
    request->station = {session.StationIp(), session.StationPrefixLength()};
    const Assignment assignment = ComputeAssignment(devices, *request);
    if (assignment.status != kExitDone) {
        report.Fail(assignment.status, assignment.error);
        for (const std::string& detail : assignment.details) {
            report.Detail(detail);
        }
        return assignment.status;
    }
    for (const std::string& note : assignment.notes) {
        report.Note(note);
    }
    Describe(assignment, report);
    if (!options.outputFile.empty()) {
        return WriteAssignment(options, devices, assignment, request->names.has_value(), report);
    }
    report.Document()["dry_run"] = options.dryRun;
    const Installation installation = AssignedInstallation(assignment);
    return ApplyInstallation(options, report, session,
                             {installation, "the assignment", assignment.spares});
}
