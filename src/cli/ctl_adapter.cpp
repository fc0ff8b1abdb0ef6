#include "cli/ctl_adapter.h"

#include <optional>
#include <vector>

#include "cli/ctl_output.h"
#include "cli/ctl_run.h"
#include "net/adapter.h"

namespace {

constexpr char kAdapterPrefix[] = "rpcap://";
constexpr std::size_t kAdapterPrefixLength = sizeof kAdapterPrefix - 1;

std::string InterfaceOf(const AdapterInfo& adapter) {
    return adapter.name.size() > kAdapterPrefixLength ? adapter.name.substr(kAdapterPrefixLength)
                                                      : adapter.name;
}

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

// Waits for the adapter's lock; false after reporting a holder that kept it.
bool Lock(const AdapterChoice& choice, const AdapterInfo& adapter, Reporter& report,
          std::unique_ptr<AdapterLock>& lock) {
    lock = std::make_unique<AdapterLock>(
        InterfaceOf(adapter), ProcessIdentity() + ": " + choice.commandLine, choice.lockWait);
    switch (lock->state()) {
        case AdapterLock::State::Held:
            report.Trace("holding " + lock->path());
            return true;
        case AdapterLock::State::Unavailable:
            report.Note("warning: working without the adapter lock: " + lock->error());
            return true;
        case AdapterLock::State::Busy:
            break;
    }
    const std::string holder =
        lock->holder().empty() ? "a program that left no note in " + lock->path() : lock->holder();
    report.Fail(kExitAdapter, "the adapter " + choice.typed + " is in use by " + holder +
                                  "; gave up after " + std::to_string(choice.lockWait.count()) +
                                  " ms (--lock-wait)");
    return false;
}

}  // namespace

std::unique_ptr<AdapterRunScope> AdapterRunScope::Open(const AdapterChoice& choice,
                                                       Reporter& report, int& status) {
    std::string error;
    const auto adapters = LoadAdapterList(error);
    if (!adapters) {
        status = report.Fail(kExitAdapter, "cannot list the adapters: " + error);
        return nullptr;
    }
    const auto adapter = FindAdapter(*adapters, choice.typed);
    if (!adapter) {
        status = report.Fail(kExitAdapter,
                             "no adapter " + choice.typed + " (vx418ctl adapters lists them)");
        return nullptr;
    }
    std::unique_ptr<AdapterRunScope> scope(new AdapterRunScope);
    if (!Lock(choice, *adapter, report, scope->lock_)) {
        status = kExitAdapter;
        return nullptr;
    }
    StationOpenFailure failure;
    std::string warnings;
    scope->session_ = CtlSession::Open(*adapter, report.TraceSink(), failure, warnings);
    if (!warnings.empty()) {
        report.Note("warning: opening " + adapter->name + ": " + warnings);
    }
    if (!scope->session_) {
        status = report.Fail(kExitAdapter, "cannot open " + adapter->name + ": " + failure.reason);
        if (failure.notPermitted) {
            report.Detail(
                "capture is not permitted: it needs membership of the vx418 group and "
                "vx418-capture beside vx418ctl with cap_net_raw (as the package installs them), "
                "or root");
        }
        return nullptr;
    }
    return scope;
}

int ListAdapters(Reporter& report) {
    std::string error;
    const auto adapters = LoadAdapterList(error);
    if (!adapters) {
        return report.Fail(kExitAdapter, "cannot list the adapters: " + error);
    }
    Json list = Json::array();
    for (const AdapterInfo& a : *adapters) {
        if (!a.description) {
            continue;
        }
        const auto mac = ActiveCaptureBackend().QueryCurrentAddress(InterfaceOf(a));
        list.push_back(AdapterJson(a, mac));
        report.Line(AdapterLine(a, mac, report.Options().terse));
    }
    report.Document()["adapters"] = list;
    return kExitDone;
}
