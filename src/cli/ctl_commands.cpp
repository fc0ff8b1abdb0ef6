#include "cli/ctl_commands.h"

#include <cstdio>
#include <fstream>
#include <memory>

#include "cli/ctl_install.h"
#include "cli/ctl_install_file.h"
#include "cli/ctl_lookup.h"
#include "cli/ctl_output.h"
#include "cli/ctl_run.h"

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            error = "cannot write " + temporary;
            std::remove(temporary.c_str());
            return false;
        }
    }
    std::remove(path.c_str());  // Windows does not rename over a file
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot rename " + temporary + " to " + path;
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool DiscoverUnits(CtlSession& session, const RunOptions& options, const CtlSession::Done& done,
                   Reporter& report, int& status) {
    report.Trace("discovery: broadcasting");
    const auto progress = [&](int answered) {
        report.Progress("discovery: " + std::to_string(answered) +
                        (answered == 1 ? " unit" : " units") + " answered so far");
    };
    if (!session.Discover(options.wait, done, progress)) {
        status = report.Fail(kExitAdapter, "the adapter refused the discovery broadcast");
        return false;
    }
    report.Trace("discovery: " + std::to_string(session.Table().DeviceCount()) + " units, " +
                 std::to_string(session.DiscoveryReplies()) + " replies");
    return true;
}

int Discover(const RunOptions& options, Reporter& report) {
    int status = kExitDone;
    auto scope = AdapterRunScope::Open(options.adapter, report, status);
    if (!scope || !DiscoverUnits(scope->Session(), options, nullptr, report, status)) {
        return status;
    }
    const UnitsView view(scope->Session().Table().Snapshot());
    Json units = Json::array();
    for (int i = 0; i < static_cast<int>(view.Devices().size()); ++i) {
        units.push_back(UnitJson(view.Devices()[static_cast<std::size_t>(i)]));
        report.Line(report.Options().terse
                        ? TerseUnitLine(view.Devices()[static_cast<std::size_t>(i)])
                        : view.UnitLine(i));
    }
    Json& document = report.Document();
    document["adapter"] = options.adapter.typed;
    document["answered"] = units.size();
    document["units"] = units;
    document["topology"] = view.TopologyJson();
    const std::size_t answered = units.size();
    report.Note(std::to_string(answered) + (answered == 1 ? " unit" : " units") + " answered");
    if (answered == 0) {
        return report.Fail(kExitNoAnswer, "no unit answered the discovery");
    }
    return kExitDone;
}

int Show(const RunOptions& options, const std::string& unit, Reporter& report) {
    std::string error;
    const auto selector = ParseUnitSelector(unit, error);
    if (!selector) {
        return report.Fail(kExitBadInput, error);
    }
    int status = kExitDone;
    auto scope = AdapterRunScope::Open(options.adapter, report, status);
    const std::vector<UnitSelector> selectors{*selector};
    const auto done = [&](const DeviceTable& table) { return AllFoundByMac(table, selectors); };
    if (!scope || !DiscoverUnits(scope->Session(), options, done, report, status)) {
        return status;
    }
    const UnitsView view(scope->Session().Table().Snapshot());
    const UnitMatch match = FindUnit(view.Devices(), *selector);
    report.Document()["adapter"] = options.adapter.typed;
    if (match.index < 0) {
        return report.Fail(kExitNotFound, match.error);
    }
    const DeviceRecord& record = view.Devices()[static_cast<std::size_t>(match.index)];
    report.Document()["unit"] = UnitJson(record);
    if (report.Options().terse) {
        report.Line(TerseUnitLine(record));
    } else {
        for (const std::string& line : view.ShowLines(match.index)) {
            report.Line(line);
        }
    }
    return kExitDone;
}

int Export(const RunOptions& options, Reporter& report) {
    int status = kExitDone;
    auto scope = AdapterRunScope::Open(options.adapter, report, status);
    if (!scope || !DiscoverUnits(scope->Session(), options, nullptr, report, status)) {
        return status;
    }
    const std::vector<DeviceRecord> devices = scope->Session().Table().Snapshot();
    report.Note(std::to_string(devices.size()) + " units answered");
    if (devices.empty()) {
        return report.Fail(kExitNoAnswer, "no unit answered the discovery: nothing to export");
    }
    const Json installation = InstallationJson(devices, options.adapter.typed);
    if (options.outputFile.empty() && !options.dot) {
        // The installation is the output, --json or not.
        report.Document() = installation;
        report.ResultIsDocument();
        return kExitDone;
    }
    const std::string text =
        options.dot ? InstallationDot(devices) : InstallationFileText(installation);
    if (options.outputFile.empty()) {
        report.Document()["adapter"] = options.adapter.typed;
        report.Document()["dot"] = text;
        report.ResultIsText(text);
        return kExitDone;
    }
    std::string error;
    if (!WriteFileAtomically(options.outputFile, text, error)) {
        return report.Fail(kExitOutput, error);
    }
    report.Document()["adapter"] = options.adapter.typed;
    report.Document()["file"] = options.outputFile;
    report.Document()["units"] = devices.size();
    report.Line(std::to_string(devices.size()) + " units written to " + options.outputFile);
    return kExitDone;
}
