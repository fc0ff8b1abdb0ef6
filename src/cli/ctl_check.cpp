#include "cli/ctl_check.h"

#include "cli/ctl_output.h"
#include "cli/ctl_run.h"
#include "cli/ctl_text.h"
#include "protocol/installation_checks.h"

namespace {

std::string Plural(std::size_t n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// For people: the sentence, and the units' MACs when it does not name them all.
std::string FindingLine(const Finding& f) {
    std::string line =
        std::string(SeverityText(f.severity)) + " " + f.code + ": " + DisplayText(f.message);
    std::string macs;
    bool named = true;
    for (const MacBytes& mac : f.units) {
        macs += (macs.empty() ? "" : ", ") + MacText(mac);
        named = named && f.message.find(MacText(mac)) != std::string::npos;
    }
    return named ? line : line + " Units: " + macs + ".";
}

std::string TerseFindingLine(const Finding& f) {
    std::string macs;
    for (const MacBytes& mac : f.units) {
        macs += (macs.empty() ? "" : ",") + MacText(mac);
    }
    return std::string(SeverityText(f.severity)) + '\t' + f.code + '\t' + macs + '\t' +
           DisplayText(f.message);
}

}  // namespace

int Check(const RunOptions& options, Reporter& report) {
    int status = kExitDone;
    auto scope = AdapterRunScope::Open(options.adapter, report, status);
    if (!scope || !DiscoverUnits(scope->Session(), options, nullptr, report, status)) {
        return status;
    }
    CtlSession& session = scope->Session();
    const std::vector<DeviceRecord> devices = session.Table().Snapshot();
    const std::vector<Finding> findings =
        CheckInstallation(devices, {session.StationIp(), session.StationPrefixLength()});
    std::size_t errors = 0;
    Json list = Json::array();
    for (const Finding& f : findings) {
        errors += f.severity == FindingSeverity::Error ? 1 : 0;
        Json units = Json::array();
        for (const MacBytes& mac : f.units) {
            units.push_back(MacText(mac));
        }
        list.push_back({{"code", f.code},
                        {"severity", SeverityText(f.severity)},
                        {"units", units},
                        {"message", Latin1ToUtf8(f.message)}});
        report.Line(report.Options().terse ? TerseFindingLine(f) : FindingLine(f));
    }
    Json& document = report.Document();
    document["adapter"] = options.adapter.typed;
    document["answered"] = devices.size();
    document["findings"] = list;
    document["errors"] = errors;
    document["warnings"] = findings.size() - errors;
    report.Note(Plural(devices.size(), "unit") + " answered: " + Plural(errors, "error") + ", " +
                Plural(findings.size() - errors, "warning"));
    if (devices.empty()) {
        return report.Fail(kExitNoAnswer, "no unit answered the discovery: nothing to check");
    }
    if (errors > 0) {
        return report.Fail(kExitRefused, "the installation has " + Plural(errors, "error"));
    }
    return kExitDone;
}
