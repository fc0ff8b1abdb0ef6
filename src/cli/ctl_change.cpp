#include "cli/ctl_change.h"

#include <algorithm>
#include <cstdio>

#include "cli/ctl_lookup.h"
#include "cli/ctl_run.h"
#include "cli/ctl_text.h"
#include "protocol/messages.h"
#include "views/labels.h"

namespace {

constexpr const char* kSlotNames[] = {"main", "backup1", "backup2"};

std::string HexBytes(const ProtocolFrame& frame) {
    std::string text;
    for (const std::uint8_t b : frame) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02x", b);
        text += pair;
    }
    return text;
}

Json RequestedJson(const ChangeCommand& c, const std::vector<MacBytes>& macs) {
    switch (c.input.operation) {
        case CtlOperation::Rename:
            return {{"name", c.input.text}};
        case CtlOperation::SetIp:
            return {{"ip", c.input.text}};
        case CtlOperation::SetMode:
            return {{"mode", c.input.mode == Topology::Unicast ? "unicast" : "multicast"}};
        case CtlOperation::Attach:
            return {{"transmitter", MacText(macs[0])},
                    {"receiver", MacText(macs[1])},
                    {"slot", kSlotNames[static_cast<int>(c.input.slot)]}};
        case CtlOperation::Detach:
            return {{"transmitter", MacText(macs[0])}, {"receiver", MacText(macs[1])}};
    }
    return nullptr;
}

Json SideEffectJson(const SideEffect& e, const UnitsView& view) {
    const DeviceRecord* r = view.Find(e.receiver);
    return {{"receiver", MacText(e.receiver)},
            {"name", r != nullptr ? Json(Latin1ToUtf8(NameText(r->Name))) : Json(nullptr)},
            {"effect", e.moved ? "moved" : "detached"},
            {"from", MacText(e.from)},
            {"from_slot",
             e.fromSlot ? Json(kSlotNames[static_cast<int>(*e.fromSlot)]) : Json(nullptr)}};
}

std::string SideEffectLine(const SideEffect& e, const UnitsView& view) {
    std::string slot = e.fromSlot
                           ? std::string(" (") + kSlotNames[static_cast<int>(*e.fromSlot)] + ")"
                           : std::string();
    return view.Label(e.receiver) + (e.moved ? " moves away from " : " is detached from ") +
           view.Label(e.from) + slot;
}

std::string CheckCommand(const MacBytes& unit, const RunOptions& options) {
    return "vx418ctl show " + MacText(unit) + " -i " + options.adapter.typed;
}

// The units' latest records: the read-back's where it has them.
UnitsView After(const UnitsView& before, const UnitRecords& after) {
    std::vector<DeviceRecord> devices = before.Devices();
    for (DeviceRecord& r : devices) {
        if (const auto it = after.find(r.Mac); it != after.end()) {
            r = it->second;
        }
    }
    return UnitsView(std::move(devices));
}

}  // namespace

MacBytes MacOfText(const std::string& macText) {
    return ParseMacText(macText).value_or(MacBytes{});
}

CarriedOut CarryOut(CtlSession& session, const PreparedRequest& request,
                    const OperationInput& input, const MacBytes& unit,
                    const std::optional<MacBytes>& other, const RunOptions& options,
                    const UnitsView& before, Reporter& report) {
    CarriedOut outcome;
    const auto fail = [&](int status, const char* result, std::string message, std::string detail) {
        outcome.status = status;
        outcome.result = result;
        outcome.message = std::move(message);
        outcome.detail = std::move(detail);
        return outcome;
    };
    const MacBytes addressed = MacOfText(request.addressedMac);
    const std::string label = before.Label(addressed);
    const std::string unknown =
        "no answer: the change may or may not have been applied; check with `" +
        CheckCommand(unit, options) + "`";
    bool sent = false;
    report.Trace("sending " + std::string(RequestName(request)) + " " + SentValue(request) +
                 " to " + request.addressedMac);
    outcome.reply = session.SendAndAwaitReply(
        addressed, request.confirms, [&] { return SendPrepared(request); }, options.timeout, sent);
    if (!sent) {
        return fail(kExitAdapter, "not-sent", "the adapter refused the request frame", "");
    }
    if (!outcome.reply) {
        return fail(kExitNoAnswer, "no-answer", unknown,
                    label + " sent no reply within " + std::to_string(options.timeout.count()) +
                        " ms (--timeout)");
    }
    const std::string text(
        ReplyLogText(outcome.reply->messageClass, outcome.reply->code).value_or(""));
    report.Trace("reply: " + text);
    if (outcome.reply->code != ReplyCodesOf(request.confirms).accepted) {
        return fail(kExitRefused, "refused", label + ": " + text, "");
    }
    std::vector<MacBytes> macs{unit};
    if (other) {
        macs.push_back(*other);
    }
    const auto holds = [&](const UnitRecords& records) {
        const auto o = other ? records.find(*other) : records.end();
        return IsAlreadySo(input, records.at(unit), o == records.end() ? nullptr : &o->second);
    };
    const CtlSession::ReadBack back = session.ReadBackUnits(macs, holds, options.wait);
    outcome.after = back.records;
    report.Trace(std::string("read back: ") + (back.matched ? "as requested" : "not as requested"));
    if (back.matched) {
        outcome.result = "confirmed";
        return outcome;
    }
    if (!back.answered) {
        return fail(kExitNoAnswer, "no-answer", unknown,
                    label + " accepted the change (" + text +
                        ") but did not answer the read-back within " +
                        std::to_string(options.wait.count()) + " ms (--wait)");
    }
    const UnitsView now = After(before, back.records);
    return fail(kExitRefused, "not-applied", label + " accepted the change but does not report it",
                "it reports: " + now.UnitLine(now.IndexOf(unit)));
}

int Change(const RunOptions& options, const ChangeCommand& c, Reporter& report) {
    Json& document = report.Document();
    document["adapter"] = options.adapter.typed;
    if (const auto refusal = CheckOperationInput(c.input)) {
        return report.Fail(kExitBadInput, *refusal);
    }
    const bool connection = IsConnectionOperation(c.input.operation);
    std::vector<UnitSelector> selectors;
    for (const std::string& text :
         connection ? std::vector{c.unit, c.other} : std::vector{c.unit}) {
        std::string error;
        const auto selector = ParseUnitSelector(text, error);
        if (!selector) {
            return report.Fail(kExitBadInput, error);
        }
        selectors.push_back(*selector);
    }
    int status = kExitDone;
    auto scope = AdapterRunScope::Open(options.adapter, report, status);
    if (!scope) {
        return status;
    }
    CtlSession& session = scope->Session();
    // A name is unique only among all the units, so it waits for the whole discovery; so does
    // a mode change of a multicast Transmitter, whose Receivers are known only from their own
    // answers (unless --force, or the mode already is the requested one).
    const auto done = [&](const DeviceTable& table) {
        if (!AllFoundByMac(table, selectors)) {
            return false;
        }
        if (c.input.operation != CtlOperation::SetMode || options.force) {
            return true;
        }
        const DeviceRecord tx = table.RecordByMac(MacText(*selectors[0].mac));
        return ModeLowByte(tx) != kModeMulticastLowByte ||
               ModeLowByte(tx) == static_cast<std::uint8_t>(c.input.mode);
    };
    if (!DiscoverUnits(session, options, done, report, status)) {
        return status;
    }
    const UnitsView before(session.Table().Snapshot());
    std::vector<MacBytes> macs;
    for (const UnitSelector& selector : selectors) {
        const UnitMatch match = FindUnit(before.Devices(), selector);
        if (match.index < 0) {
            return report.Fail(kExitNotFound, match.error);
        }
        macs.push_back(before.Devices()[static_cast<std::size_t>(match.index)].Mac);
    }
    document["requested"] = RequestedJson(c, macs);
    const auto prepared = PrepareRequest(session.Table(), c.input, MacText(macs[0]),
                                         connection ? MacText(macs[1]) : std::string());
    if (const auto* refusal = std::get_if<std::string>(&prepared)) {
        return report.Fail(kExitBadInput, *refusal);
    }
    const PreparedRequest& request = std::get<PreparedRequest>(prepared);
    const DeviceRecord& unit = *before.Find(macs[0]);
    const DeviceRecord* other = connection ? before.Find(macs[1]) : nullptr;
    const std::optional<MacBytes> otherMac =
        connection ? std::optional<MacBytes>(macs[1]) : std::nullopt;

    const auto finishUnits = [&](const UnitsView& view) {
        document["unit"] = UnitJson(*view.Find(macs[0]));
        if (connection) {
            document["other"] = UnitJson(*view.Find(macs[1]));
        }
    };
    const auto terse = [&](const std::string& result, bool changed, const std::string& sent) {
        report.Line(c.name + '\t' + MacText(macs[0]) + '\t' + result + '\t' +
                    (changed ? "true" : "false") + '\t' + sent);
    };
    if (IsAlreadySo(c.input, unit, other)) {
        document["changed"] = false;
        document["dry_run"] = options.dryRun;
        document["result"] = "unchanged";
        document["request"] = nullptr;
        finishUnits(before);
        if (report.Options().terse) {
            terse("unchanged", false, "-");
        } else {
            report.Line("nothing to change: " + before.UnitLine(before.IndexOf(macs[0])));
        }
        return kExitDone;
    }
    const std::vector<SideEffect> effects = SideEffectsOf(c.input, before.Devices(), unit, other);
    Json effectsJson = Json::array();
    for (const SideEffect& e : effects) {
        effectsJson.push_back(SideEffectJson(e, before));
    }
    document["changed"] = true;
    document["dry_run"] = options.dryRun;
    document["side_effects"] = effectsJson;
    const std::string sent = SentValue(request);
    document["request"] = {
        {"op", RequestName(request)},
        {"addressed", request.addressedMac},
        {"sent", sent},
        {"frame", HexBytes(FrameOf(request, session.StationMac(), session.StationIp()))}};
    document["reply"] = nullptr;
    finishUnits(before);
    if (!effects.empty() && !options.force) {
        document["changed"] = false;
        document["result"] = "needs-force";
        report.Fail(kExitBadInput, c.name +
                                       " would also change other attachments; add --force "
                                       "to do it anyway:");
        for (const SideEffect& e : effects) {
            report.Detail(SideEffectLine(e, before));
        }
        return kExitBadInput;
    }
    const std::string intent = std::string(RequestName(request)) + " " + sent + " to " +
                               before.Label(MacOfText(request.addressedMac));
    if (options.dryRun) {
        document["result"] = "dry-run";
        if (report.Options().terse) {
            terse("dry-run", true, sent);
            return kExitDone;
        }
        report.Line("would send " + intent);
        for (const SideEffect& e : effects) {
            report.Line("  and then " + SideEffectLine(e, before));
        }
        report.Line("  frame: " + document["request"]["frame"].get<std::string>());
        return kExitDone;
    }
    const CarriedOut outcome =
        CarryOut(session, request, c.input, macs[0], otherMac, options, before, report);
    if (outcome.reply) {
        document["reply"] = {
            {"class", outcome.reply->messageClass},
            {"code", outcome.reply->code},
            {"text", ReplyLogText(outcome.reply->messageClass, outcome.reply->code).value_or("")}};
    }
    document["result"] = outcome.result;
    const UnitsView now = After(before, outcome.after);
    finishUnits(now);
    if (outcome.status != kExitDone) {
        document["changed"] = outcome.status == kExitNoAnswer ? Json(nullptr) : Json(false);
        report.Fail(outcome.status, outcome.message);
        if (!outcome.detail.empty()) {
            report.Detail(outcome.detail);
        }
        return outcome.status;
    }
    if (report.Options().terse) {
        terse("confirmed", true, sent);
        return kExitDone;
    }
    report.Line("sent " + intent);
    report.Line(document["reply"]["text"].get<std::string>());
    for (const SideEffect& e : effects) {
        report.Line("also: " + SideEffectLine(e, before));
    }
    for (const MacBytes& mac : macs) {
        report.Line("now: " + now.UnitLine(now.IndexOf(mac)));
    }
    return kExitDone;
}
