#pragma once

// The units' behaviour: one captured frame in, the replies to send out, state changes reported
// as events. No I/O here, so it is tested frame by frame.

#include <cstdint>
#include <random>
#include <set>
#include <span>
#include <vector>

#include "sim_events.h"
#include "sim_units.h"
#include "sim_wire.h"

namespace vxsim {

struct FaultSwitches {
    double noAnswerRate = 0.0;  // chance that a request is not answered at all (0..1)
    // The operations the no-answer draw applies to; empty: every request, discovery too.
    std::set<Operation> noAnswerOps;
    std::set<Operation> refuse;  // operations answered with the failure code
    int duplicates = 0;          // extra copies of every reply
    int delayMs = 0;             // every reply leaves this much later
    std::uint32_t seed = 1;
};

struct OutFrame {
    Bytes bytes;
    int delayMs = 0;
};

struct EngineCounters {
    std::uint64_t requests = 0;
    std::uint64_t malformed = 0;
    std::uint64_t notForUs = 0;
    std::uint64_t unanswered = 0;
    std::uint64_t replies = 0;
};

class Engine {
  public:
    Engine(UnitSet units, FaultSwitches faults, EventSink& events);

    // Every frame captured on the unit side goes through here.
    std::vector<OutFrame> Handle(std::span<const std::uint8_t> frame);
    // A "unit" event for every unit (the starting state).
    void EmitAllUnits();

    const UnitSet& Units() const { return units_; }
    const EngineCounters& Counters() const { return counters_; }

  private:
    std::vector<OutFrame> HandleRequest(const Request& req);
    std::vector<OutFrame> AnswerDiscovery(const Request& req);
    // Replies from the unit the request was addressed to.
    void Reply(const Endpoint& unit, const Request& req, std::uint16_t cls, std::uint16_t code,
               std::span<const std::uint8_t> payload, std::vector<OutFrame>& out);
    Outcome Apply(const Request& req);

    UnitSet units_;
    FaultSwitches faults_;
    EventSink& events_;
    std::mt19937 random_;
    std::uint16_t ipIdentification_ = 1;
    EngineCounters counters_;
};

}  // namespace vxsim
