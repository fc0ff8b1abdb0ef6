#pragma once

// The adapter of one vx418ctl run: found among those the window offers, locked against other
// copies on it for the whole run, then opened with the run's session.

#include <chrono>
#include <memory>
#include <string>

#include "cli/ctl_report.h"
#include "cli/ctl_session.h"
#include "platform/adapter_lock.h"

struct AdapterChoice {
    std::string typed;  // -i: interface, rpcap:// name or description
    std::chrono::milliseconds lockWait{0};
    std::string commandLine;  // written into the lock file, for whoever waits for it
};

class AdapterRunScope {
  public:
    // nullptr after reporting why (status in status): no such adapter, busy, not opened.
    static std::unique_ptr<AdapterRunScope> Open(const AdapterChoice& choice, Reporter& report,
                                                 int& status);
    CtlSession& Session() { return *session_; }

  private:
    AdapterRunScope() = default;
    std::unique_ptr<AdapterLock> lock_;
    std::unique_ptr<CtlSession> session_;  // closes before the lock goes
};

// `adapters`: the adapters the window offers, with their IPv4 address and MAC.
int ListAdapters(Reporter& report);
