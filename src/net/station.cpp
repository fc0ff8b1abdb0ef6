#include "net/station.h"

#include <utility>

#include "net/adapter_state.h"

std::unique_ptr<Station> Station::Open(const AdapterInfo& adapter, FrameCallback onFrame,
                                       StationOpenFailure& failure, std::string& warnings) {
    failure = {};
    warnings.clear();
    AdapterRun run;
    run.CloseCurrent();
    if (!QueryAdapterMac(adapter.name)) {
        failure.reason = "the interface's MAC address cannot be read";
        return nullptr;
    }
    const auto ip = FirstIpv4Entry(adapter.addresses);
    if (!ip) {
        failure.reason = "the adapter has no IPv4 address";
        return nullptr;
    }
    SetAdapterIp(ip->ipv4, ip->prefixLength);
    OpenOutcome outcome;
    std::unique_ptr<CaptureHandle> handle = ActiveCaptureBackend().OpenWithOutcome(
        adapter.name, OpenParameters{}, failure.reason, outcome);
    warnings = outcome.warnings;
    if (!handle) {
        failure.notPermitted = outcome.notPermitted;
        return nullptr;
    }
    AdapterSnapshot snapshot = CurrentAdapter();
    snapshot.AdapterHandle = std::move(handle);
    SetCurrentAdapter(std::move(snapshot));
    std::unique_ptr<Station> station(new Station);
    station->onFrame_ = std::move(onFrame);
    station->session_ = run.StartSession();
    // The handle captures from its activation, so nothing sent after Open returns is missed even
    // before the loop below is scheduled.
    Station* const self = station.get();
    station->loop_ = std::thread([self] { self->session_->Run(self->onFrame_); });
    return station;
}

Station::~Station() {
    session_->Stop();
    loop_.join();
    AdapterRun run;
    run.CloseCurrent();
}
