#include "sim_engine.h"

#include <algorithm>

namespace vxsim {

using namespace wire;

namespace {

// Reply codes: odd for success, even for failure of operation n within its class.
std::uint16_t ResultCode(int operationInClass, bool accepted) {
    return static_cast<std::uint16_t>(2 * operationInClass - (accepted ? 1 : 0));
}

struct ReplyShape {
    std::uint16_t cls;
    int operationInClass;
};

ReplyShape ReplyShapeFor(Operation op) {
    switch (op) {
        case Operation::SetName:
            return {kClassConfiguration | kReplyBit, 1};
        case Operation::SetIp:
            return {kClassConfiguration | kReplyBit, 2};
        case Operation::SetMode:
            return {kClassConfiguration | kReplyBit, 3};
        case Operation::AddReceiver:
        case Operation::AddBackup:
            return {kClassConnection | kReplyBit, 1};
        case Operation::DeleteReceiver:
            return {kClassConnection | kReplyBit, 2};
        case Operation::Discovery:
            break;
    }
    return {kClassDiscovery | kReplyBit, 1};
}

template <std::size_t N>
std::array<std::uint8_t, N> BlockField(const Bytes& block, std::size_t offset) {
    std::array<std::uint8_t, N> out{};
    std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(offset), N, out.begin());
    return out;
}

}  // namespace

Engine::Engine(UnitSet units, FaultSwitches faults, EventSink& events)
    : units_(std::move(units)),
      faults_(std::move(faults)),
      events_(events),
      random_(faults_.seed) {}

void Engine::EmitAllUnits() {
    for (const SimUnit& u : units_.Units()) {
        events_.Emit(UnitEvent(u));
    }
}

std::vector<OutFrame> Engine::Handle(std::span<const std::uint8_t> frame) {
    const ParseResult parsed = ParseRequest(frame);
    if (parsed.notTfdp) {
        return {};
    }
    if (!parsed.request) {
        ++counters_.malformed;
        events_.Emit(JsonLine()
                         .Str("event", "malformed")
                         .Str("reason", parsed.error)
                         .Num("length", static_cast<long long>(frame.size())));
        return {};
    }
    const Request& req = *parsed.request;
    if (req.op != Operation::Discovery && units_.Find(req.destinationMac) == nullptr) {
        ++counters_.notForUs;
        return {};
    }
    ++counters_.requests;
    JsonLine event;
    event.Str("event", "request")
        .Str("op", OperationName(req.op))
        .Str("station", MacString(req.stationMac))
        .Str("station_ip", Ip4String(req.stationIp));
    if (req.op != Operation::Discovery) {
        event.Str("unit", MacString(req.destinationMac)).Num("selector", req.selector);
    }
    events_.Emit(event);

    const bool mayGoUnanswered =
        faults_.noAnswerOps.empty() || faults_.noAnswerOps.count(req.op) != 0;
    if (faults_.noAnswerRate > 0 && mayGoUnanswered &&
        std::uniform_real_distribution<double>(0.0, 1.0)(random_) < faults_.noAnswerRate) {
        ++counters_.unanswered;
        events_.Emit(JsonLine().Str("event", "no-answer").Str("op", OperationName(req.op)));
        return {};
    }
    return HandleRequest(req);
}

std::vector<OutFrame> Engine::HandleRequest(const Request& req) {
    if (req.op == Operation::Discovery) {
        return AnswerDiscovery(req);
    }
    // The reply leaves from the unit's address as it was when the request arrived.
    const SimUnit* unit = units_.Find(req.destinationMac);
    const Endpoint from{unit->mac, unit->ip};
    Outcome outcome;
    if (faults_.refuse.count(req.op) != 0) {
        outcome.reason = "refused by fault switch";
    } else {
        outcome = Apply(req);
    }
    const ReplyShape shape = ReplyShapeFor(req.op);
    const std::uint16_t code = ResultCode(shape.operationInClass, outcome.accepted);
    std::vector<OutFrame> out;
    Reply(from, req, shape.cls, code, {}, out);

    JsonLine event;
    event.Str("event", "reply")
        .Str("op", OperationName(req.op))
        .Str("unit", MacString(from.mac))
        .Num("class", shape.cls)
        .Num("code", code)
        .Bool("accepted", outcome.accepted);
    if (!outcome.accepted) {
        event.Str("reason", outcome.reason);
    }
    // The changed units first: whoever sees the reply event can read the new state.
    for (const Mac& mac : outcome.changed) {
        events_.Emit(UnitEvent(*units_.Find(mac)));
    }
    events_.Emit(event);
    return out;
}

Outcome Engine::Apply(const Request& req) {
    const Bytes& b = req.block;
    switch (req.op) {
        case Operation::SetName: {
            const auto name = BlockField<kNameLength>(b, kCfgName);
            return units_.SetName(req.destinationMac, name);
        }
        case Operation::SetIp:
            return units_.SetIp(req.destinationMac, BlockField<4>(b, kCfgNewIp));
        case Operation::SetMode:
            return units_.SetMode(req.destinationMac, ReadBe16(b, kCfgMode));
        case Operation::AddReceiver:
        case Operation::AddBackup:
            return units_.AddReceiver(req.destinationMac, BlockField<6>(b, kConnOtherMac),
                                      req.selector);
        case Operation::DeleteReceiver:
            if (req.selector != 0) {
                Outcome refused;
                refused.reason = "delete with a selector";
                return refused;
            }
            return units_.DeleteReceiver(req.destinationMac, BlockField<6>(b, kConnOtherMac));
        case Operation::Discovery:
            break;
    }
    return {};
}

std::vector<OutFrame> Engine::AnswerDiscovery(const Request& req) {
    std::vector<OutFrame> out;
    for (const SimUnit& unit : units_.Units()) {
        const auto record = EncodeRecord(unit);
        Reply({unit.mac, unit.ip}, req, kClassDiscovery | kReplyBit, 0x0001, record, out);
    }
    events_.Emit(JsonLine()
                     .Str("event", "reply")
                     .Str("op", "discovery")
                     .Num("count", static_cast<long long>(units_.Units().size())));
    return out;
}

void Engine::Reply(const Endpoint& unit, const Request& req, std::uint16_t cls, std::uint16_t code,
                   std::span<const std::uint8_t> payload, std::vector<OutFrame>& out) {
    const Endpoint station{req.stationMac, req.stationIp};
    // Duplicates are the same frame again, as a network that repeats it would deliver.
    const Bytes frame = BuildReply(unit, station, cls, code, payload, ipIdentification_++);
    for (int copy = 0; copy <= faults_.duplicates; ++copy) {
        out.push_back({frame, faults_.delayMs});
        ++counters_.replies;
    }
}

}  // namespace vxsim
