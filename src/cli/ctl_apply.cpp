#include "cli/ctl_apply.h"

#include <set>

#include "cli/ctl_change.h"
#include "cli/ctl_install.h"
#include "cli/ctl_install_file.h"
#include "cli/ctl_plan.h"
#include "cli/ctl_run.h"
#include "cli/ctl_text.h"
#include "views/labels.h"

namespace {

constexpr const char* kSlotNames[] = {"main", "backup1", "backup2"};

std::string Named(const MacBytes& mac, const UnitRecords& units) {
    const auto it = units.find(mac);
    return it == units.end() ? "[" + MacText(mac) + "]"
                             : DisplayText(NameText(it->second.Name)) + " [" + MacText(mac) + "]";
}

std::string StepLine(const PlanStep& step, const UnitRecords& units) {
    const std::string unit = Named(step.unit, units);
    switch (step.input.operation) {
        case CtlOperation::Rename:
            return "rename " + unit + " to " + step.input.text;
        case CtlOperation::SetIp:
            return "set-ip " + unit + " to " + step.input.text;
        case CtlOperation::SetMode:
            return "set-mode " + unit + " to " +
                   (step.input.mode == Topology::Unicast ? "unicast" : "multicast");
        case CtlOperation::Attach:
            return "attach " + Named(*step.other, units) + " to " + unit + " (" +
                   kSlotNames[static_cast<int>(step.input.slot)] + ")";
        case CtlOperation::Detach:
            return "detach " + Named(*step.other, units) + " from " + unit;
    }
    return {};
}

Json StepJson(const PlanStep& step) {
    static constexpr const char* kOps[] = {"rename", "set-ip", "set-mode", "attach", "detach"};
    Json j{{"op", kOps[static_cast<int>(step.input.operation)]}, {"unit", MacText(step.unit)}};
    switch (step.input.operation) {
        case CtlOperation::Rename:
        case CtlOperation::SetIp:
            j["value"] = step.input.text;
            break;
        case CtlOperation::SetMode:
            j["value"] = step.input.mode == Topology::Unicast ? "unicast" : "multicast";
            break;
        case CtlOperation::Attach:
            j["receiver"] = MacText(*step.other);
            j["slot"] = kSlotNames[static_cast<int>(step.input.slot)];
            break;
        case CtlOperation::Detach:
            j["receiver"] = MacText(*step.other);
            break;
    }
    j["result"] = "planned";
    return j;
}

// A request is built from the records of the units it names, as they are now: a table of those
// alone, not of every unit (which would make a plan of many steps on many units quadratic).
void FillWithStepUnits(DeviceTable& table, const PlanStep& step, const UnitRecords& units) {
    QuietSink quiet;
    for (const MacBytes& mac : {step.unit, step.other.value_or(step.unit)}) {
        if (const auto it = units.find(mac);
            it != units.end() && !table.ContainsMac(MacText(mac))) {
            const auto wire = EncodeDeviceRecord(it->second);
            table.StoreDiscoveredDevice(std::span<const std::uint8_t, kDeviceRecordSize>(wire),
                                        quiet);
        }
    }
}

// ReadBackAll: the units answered but do not match the file yet.
constexpr int kRetry = -1;

class Applier {
  public:
    Applier(const RunOptions& options, Reporter& report, CtlSession& session,
            const ApplyTarget& target)
        : options_(options), report_(report), session_(session), target_(target) {}

    int Run() {
        const std::vector<DeviceRecord> devices = session_.Table().Snapshot();
        for (const DeviceRecord& r : devices) {
            units_.emplace(r.Mac, r);
        }
        order_ = devices;
        Plan plan = ComputePlan(target_.installation, devices, target_.spares);
        Describe(plan);
        if (!plan.problems.empty()) {
            report_.Fail(kExitBadInput, target_.subject + " cannot be applied; nothing was sent:");
            for (const std::string& problem : plan.problems) {
                report_.Detail(problem);
            }
            return kExitBadInput;
        }
        if (!options_.dryRun) {
            if (const int status = CarryOutRounds(plan); status != kExitDone) {
                return status;
            }
        }
        const std::size_t absent = plan.missing.size() + plan.skipped.size();
        if (absent != 0) {
            return report_.Fail(kExitNotFound, std::to_string(plan.missing.size()) + " units of " +
                                                   target_.subject + " did not answer; " +
                                                   std::to_string(plan.skipped.size()) +
                                                   " changes left out");
        }
        report_.Line(options_.dryRun ? "dry run: nothing was sent"
                                     : "the units match " + target_.subject);
        return kExitDone;
    }

  private:
    // Units may take a request otherwise than the model says (where their behaviour is not
    // known): what they read back is planned for again, a few times.
    int CarryOutRounds(Plan plan) {
        constexpr int kRounds = 3;
        for (int round = 1;; ++round) {
            for (const PlanStep& step : plan.steps) {
                if (const int status = Carry(step, carried_++); status != kExitDone) {
                    return status;
                }
            }
            const int status = ReadBackAll(round == kRounds);
            if (status != kRetry) {
                return status;
            }
            plan = ComputePlan(target_.installation, order_, target_.spares);
            if (!plan.problems.empty() || !plan.skipped.empty() || plan.steps.empty()) {
                return NotMatched();
            }
            report_.Note("the units did not all change as planned; " +
                         std::to_string(plan.steps.size()) + " more changes");
            Describe(plan);
        }
    }

    // The plan in the document and for people; a later round's steps are added to it.
    void Describe(const Plan& plan) {
        Json& document = report_.Document();
        const std::size_t first = lines_.size();
        if (first == 0) {
            Json missing = Json::array();
            for (const MacBytes& mac : plan.missing) {
                const InstalledUnit* u = target_.installation.Find(mac);
                missing.push_back({{"mac", MacText(mac)}, {"name", u->name}});
                report_.Note("not on the segment: " + u->name + " [" + MacText(mac) + "]");
            }
            for (const std::string& skipped : plan.skipped) {
                report_.Note("left out: " + skipped);
            }
            document["plan"] = Json::array();
            document["missing"] = missing;
            document["skipped"] = plan.skipped;
            document["requests_sent"] = 0;
            document["matched"] = nullptr;
            report_.Note("plan: " + std::to_string(plan.steps.size()) + " changes");
        }
        for (const PlanStep& step : plan.steps) {
            document["plan"].push_back(StepJson(step));
            lines_.push_back(std::to_string(lines_.size() + 1) + ". " + StepLine(step, units_));
        }
        if (options_.dryRun || plan.steps.empty()) {
            for (std::size_t i = first; i < lines_.size(); ++i) {
                Emit(plan.steps[i - first], i, "planned");
            }
        }
    }

    void Emit(const PlanStep& step, std::size_t i, const std::string& result) {
        if (report_.Options().terse) {
            const std::string value = step.other ? MacText(*step.other) : step.input.text;
            report_.Line(std::string(report_.Document()["plan"][i]["op"]) + '\t' +
                         MacText(step.unit) + '\t' + (value.empty() ? "-" : value) + '\t' + result);
        } else {
            report_.Line(lines_[i] + (result == "planned" ? "" : ": " + result));
        }
    }

    int Carry(const PlanStep& step, std::size_t i) {
        Json& entry = report_.Document()["plan"][i];
        DeviceTable table(kUnboundedDeviceTable);
        FillWithStepUnits(table, step, units_);
        const auto prepared = PrepareRequest(table, step.input, MacText(step.unit),
                                             step.other ? MacText(*step.other) : std::string());
        if (const auto* refusal = std::get_if<std::string>(&prepared)) {
            entry["result"] = "refused";
            return report_.Fail(kExitBadInput, StepLine(step, units_) + ": " + *refusal);
        }
        report_.Note(lines_[i]);
        report_.Progress("step " + std::to_string(i + 1) + " of " + std::to_string(lines_.size()) +
                         ": " + StepLine(step, units_));
        const CarriedOut outcome =
            CarryOut(session_, std::get<PreparedRequest>(prepared), step.input, step.unit,
                     step.other, options_, UnitsView(order_), report_);
        report_.Document()["requests_sent"] = report_.Document()["requests_sent"].get<int>() + 1;
        entry["result"] = outcome.result;
        Update(outcome.after);
        Emit(step, i, entry["result"]);
        if (outcome.status != kExitDone) {
            report_.Fail(outcome.status, StepLine(step, units_) + ": " + outcome.message);
            if (!outcome.detail.empty()) {
                report_.Detail(outcome.detail);
            }
        }
        return outcome.status;
    }

    void Update(const UnitRecords& after) {
        for (const auto& [mac, r] : after) {
            units_[mac] = r;
        }
        for (DeviceRecord& r : order_) {
            r = units_.at(r.Mac);
        }
    }

    // kRetry when the units answered but do not match yet and this is not the last round.
    int ReadBackAll(bool last) {
        // The units of the file and the Receivers it names, among those that answered.
        std::set<MacBytes> concerned;
        for (const InstalledUnit& u : target_.installation.units) {
            concerned.insert(u.mac);
            concerned.insert(u.receivers.begin(), u.receivers.end());
            for (const auto& slot : u.slots) {
                if (slot) {
                    concerned.insert(*slot);
                }
            }
        }
        std::vector<MacBytes> macs;
        for (const MacBytes& mac : concerned) {
            if (units_.count(mac) != 0) {
                macs.push_back(mac);
            }
        }
        // Before the last round, every unit's answer is enough: each change was confirmed on
        // its own, so what they say now is what they keep.
        const auto holds = [&](const UnitRecords& records) {
            return !last || InstallationHolds(target_.installation, records, nullptr);
        };
        report_.Progress("reading back " + std::to_string(macs.size()) + " units");
        const CtlSession::ReadBack back = session_.ReadBackUnits(macs, holds, options_.wait);
        Update(back.records);
        const bool matched =
            back.answered && InstallationHolds(target_.installation, units_, nullptr);
        report_.Document()["matched"] = matched;
        if (matched) {
            return kExitDone;
        }
        if (back.answered && !last) {
            return kRetry;
        }
        if (!back.answered) {
            report_.Fail(kExitNoAnswer,
                         "not every unit answered the read-back; check with `vx418ctl export -i " +
                             options_.adapter.typed + "`");
            return kExitNoAnswer;
        }
        return NotMatched();
    }

    int NotMatched() {
        std::string difference;
        InstallationHolds(target_.installation, units_, &difference);
        return report_.Fail(kExitRefused, "after the changes the units do not match " +
                                              target_.subject + ": " + difference);
    }

    const RunOptions& options_;
    Reporter& report_;
    CtlSession& session_;
    const ApplyTarget& target_;
    UnitRecords units_;                // the latest record of every unit that answered
    std::vector<DeviceRecord> order_;  // the same, in arrival order
    std::vector<std::string> lines_;   // each step for people
    std::size_t carried_ = 0;          // steps sent so far, over all rounds
};

std::optional<Installation> ReadInstallation(const std::string& path, std::string& error) {
    const auto document = ReadInstallationDocument(path, error);
    if (!document) {
        return std::nullopt;
    }
    auto installation = ParseInstallation(*document, error);
    if (!installation) {
        error = path + ": " + error;
    }
    return installation;
}

// Every unit of the file, the Receivers it names and the units the answered ones name have
// answered: the plan can be made.
bool AllConcernedAnswered(const Installation& installation, const DeviceTable& table) {
    for (const InstalledUnit& u : installation.units) {
        if (!table.ContainsMac(MacText(u.mac))) {
            return false;
        }
        const DeviceRecord r = table.RecordByMac(MacText(u.mac));
        for (const MacBytes& peer : {r.T1Mac, r.T2Mac, r.T3Mac}) {
            if (!IsEmptyMac(peer) && !table.ContainsMac(MacText(peer))) {
                return false;
            }
        }
        for (const auto& slot : u.slots) {
            if (slot && !table.ContainsMac(MacText(*slot))) {
                return false;
            }
        }
        for (const MacBytes& rx : u.receivers) {
            if (!table.ContainsMac(MacText(rx))) {
                return false;
            }
        }
        if (u.transmitterOf && *u.transmitterOf && !table.ContainsMac(MacText(**u.transmitterOf))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<FileRun> DiscoverForFile(const RunOptions& options, Reporter& report, int& status) {
    std::string error;
    auto installation = ReadInstallation(options.inputFile, error);
    if (!installation) {
        status = report.Fail(kExitBadInput, error);
        return std::nullopt;
    }
    status = kExitDone;
    auto scope = AdapterRunScope::Open(options.adapter, report, status);
    const auto done = [&](const DeviceTable& table) {
        return AllConcernedAnswered(*installation, table);
    };
    if (!scope || !DiscoverUnits(scope->Session(), options, done, report, status)) {
        return std::nullopt;
    }
    return FileRun{std::move(*installation), std::move(scope)};
}

int Apply(const RunOptions& options, Reporter& report) {
    Json& document = report.Document();
    document["adapter"] = options.adapter.typed;
    document["file"] = options.inputFile;
    document["dry_run"] = options.dryRun;
    int status = kExitDone;
    const auto run = DiscoverForFile(options, report, status);
    if (!run) {
        return status;
    }
    return ApplyInstallation(options, report, run->scope->Session(),
                             {run->installation, "the file", {}});
}

int ApplyInstallation(const RunOptions& options, Reporter& report, CtlSession& session,
                      const ApplyTarget& target) {
    return Applier(options, report, session, target).Run();
}
