#include "cli/ctl_diff.h"

#include "cli/ctl_apply.h"
#include "cli/ctl_plan.h"
#include "cli/ctl_run.h"
#include "cli/ctl_text.h"
#include "views/labels.h"

namespace {

std::string Shown(const Json& value) {
    return value.is_null() ? "-" : DisplayText(value.get<std::string>());
}

}  // namespace

int Diff(const RunOptions& options, Reporter& report) {
    Json& document = report.Document();
    document["adapter"] = options.adapter.typed;
    document["file"] = options.inputFile;
    int status = kExitDone;
    const auto run = DiscoverForFile(options, report, status);
    if (!run) {
        return status;
    }
    const Installation& installation = run->installation;
    UnitRecords units;
    for (const DeviceRecord& r : run->scope->Session().Table().Snapshot()) {
        units.emplace(r.Mac, r);
    }
    Json differences = Json::array();
    for (const FieldDifference& d : InstallationDifferences(installation, units)) {
        const std::string name = NameText(units.at(d.unit).Name);
        differences.push_back({{"mac", MacText(d.unit)},
                               {"name", Latin1ToUtf8(name)},
                               {"field", d.field},
                               {"file", d.file},
                               {"unit", d.units}});
        report.Line(report.Options().terse
                        ? MacText(d.unit) + '\t' + d.field + '\t' + Shown(d.file) + '\t' +
                              Shown(d.units)
                        : DisplayText(name) + " [" + MacText(d.unit) + "] " + d.field + ": file " +
                              Shown(d.file) + ", unit " + Shown(d.units));
    }
    Json missing = Json::array();
    for (const InstalledUnit& u : installation.units) {
        if (units.count(u.mac) == 0) {
            missing.push_back({{"mac", MacText(u.mac)}, {"name", u.name}});
            report.Line(report.Options().terse
                            ? MacText(u.mac) + "\tmissing\t-\t-"
                            : u.name + " [" + MacText(u.mac) + "] did not answer");
        }
    }
    document["equal"] = differences.empty() && missing.empty();
    document["differences"] = differences;
    document["missing"] = missing;
    if (!missing.empty()) {
        return report.Fail(kExitNotFound,
                           std::to_string(missing.size()) + " units of the file did not answer");
    }
    if (!differences.empty()) {
        return report.Fail(kExitRefused,
                           std::to_string(differences.size()) + " fields differ from the file");
    }
    report.Note("the units match the file");
    return kExitDone;
}
