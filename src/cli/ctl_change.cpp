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

namespace {

// One change command from the command line to its exit status.
class ChangeRun {
  public:
    ChangeRun(const RunOptions& options, const ChangeCommand& command, Reporter& report)
        : options_(options),
          c_(command),
          report_(report),
          document_(report.Document()),
          connection_(IsConnectionOperation(command.input.operation)) {}

    int Run() {
        document_["adapter"] = options_.adapter.typed;
        if (const auto refusal = CheckOperationInput(c_.input)) {
            return report_.Fail(kExitBadInput, *refusal);
        }
        for (const std::string& text :
             connection_ ? std::vector{c_.unit, c_.other} : std::vector{c_.unit}) {
            std::string error;
            const auto selector = ParseUnitSelector(text, error);
            if (!selector) {
                return report_.Fail(kExitBadInput, error);
            }
            selectors_.push_back(*selector);
        }
        int status = kExitDone;
        auto scope = AdapterRunScope::Open(options_.adapter, report_, status);
        if (!scope) {
            return status;
        }
        if (const int found = FindUnits(scope->Session()); found != kExitDone) {
            return found;
        }
        const auto prepared =
            PrepareRequest(scope->Session().Table(), c_.input, MacText(macs_[0]), OtherMacText());
        if (const auto* refusal = std::get_if<std::string>(&prepared)) {
            return report_.Fail(kExitBadInput, *refusal);
        }
        request_ = std::get<PreparedRequest>(prepared);
        if (IsAlreadySo(c_.input, *before_->Find(macs_[0]), Other(*before_))) {
            return Unchanged();
        }
        Describe(scope->Session());
        if (!effects_.empty() && !options_.force) {
            return NeedsForce();
        }
        return options_.dryRun ? DryRun() : Send(scope->Session());
    }

  private:
    std::string OtherMacText() const { return connection_ ? MacText(macs_[1]) : std::string(); }
    const DeviceRecord* Other(const UnitsView& view) const {
        return connection_ ? view.Find(macs_[1]) : nullptr;
    }

    // Discovers until the named units answered, then finds them; a status other than 0 when
    // the discovery failed or a unit is unknown or ambiguous.
    int FindUnits(CtlSession& session) {
        // A name is unique only among all the units, so it waits for the whole discovery; so
        // does a mode change of a multicast Transmitter, whose Receivers are known only from
        // their own answers (unless --force, or the mode already is the requested one).
        const auto done = [&](const DeviceTable& table) {
            if (!AllFoundByMac(table, selectors_)) {
                return false;
            }
            if (c_.input.operation != CtlOperation::SetMode || options_.force) {
                return true;
            }
            const DeviceRecord tx = table.RecordByMac(MacText(*selectors_[0].mac));
            return ModeLowByte(tx) != kModeMulticastLowByte ||
                   ModeLowByte(tx) == static_cast<std::uint8_t>(c_.input.mode);
        };
        int status = kExitDone;
        if (!DiscoverUnits(session, options_, done, report_, status)) {
            return status;
        }
        before_.emplace(session.Table().Snapshot());
        for (const UnitSelector& selector : selectors_) {
            const UnitMatch match = FindUnit(before_->Devices(), selector);
            if (match.index < 0) {
                return report_.Fail(kExitNotFound, match.error);
            }
            macs_.push_back(before_->Devices()[static_cast<std::size_t>(match.index)].Mac);
        }
        document_["requested"] = RequestedJson(c_, macs_);
        return kExitDone;
    }

    void Units(const UnitsView& view) {
        document_["unit"] = UnitJson(*view.Find(macs_[0]));
        if (connection_) {
            document_["other"] = UnitJson(*view.Find(macs_[1]));
        }
    }

    void Terse(const std::string& result, bool changed, const std::string& sent) {
        report_.Line(c_.name + '\t' + MacText(macs_[0]) + '\t' + result + '\t' +
                     (changed ? "true" : "false") + '\t' + sent);
    }

    int Unchanged() {
        document_["changed"] = false;
        document_["dry_run"] = options_.dryRun;
        document_["result"] = "unchanged";
        document_["request"] = nullptr;
        Units(*before_);
        if (report_.Options().terse) {
            Terse("unchanged", false, "-");
        } else {
            report_.Line("nothing to change: " + before_->UnitLine(before_->IndexOf(macs_[0])));
        }
        return kExitDone;
    }

    // The request and its side effects, in the document and for people.
    void Describe(const CtlSession& session) {
        effects_ =
            SideEffectsOf(c_.input, before_->Devices(), *before_->Find(macs_[0]), Other(*before_));
        Json effects = Json::array();
        for (const SideEffect& e : effects_) {
            effects.push_back(SideEffectJson(e, *before_));
        }
        sent_ = SentValue(request_);
        intent_ = std::string(RequestName(request_)) + " " + sent_ + " to " +
                  before_->Label(MacOfText(request_.addressedMac));
        document_["changed"] = true;
        document_["dry_run"] = options_.dryRun;
        document_["side_effects"] = effects;
        document_["request"] = {
            {"op", RequestName(request_)},
            {"addressed", request_.addressedMac},
            {"sent", sent_},
            {"frame", HexBytes(FrameOf(request_, session.StationMac(), session.StationIp()))}};
        document_["reply"] = nullptr;
        Units(*before_);
    }

    int NeedsForce() {
        document_["changed"] = false;
        document_["result"] = "needs-force";
        report_.Fail(kExitBadInput,
                     c_.name +
                         " would also change other attachments; add --force to do it "
                         "anyway:");
        for (const SideEffect& e : effects_) {
            report_.Detail(SideEffectLine(e, *before_));
        }
        return kExitBadInput;
    }

    int DryRun() {
        document_["result"] = "dry-run";
        if (report_.Options().terse) {
            Terse("dry-run", true, sent_);
            return kExitDone;
        }
        report_.Line("would send " + intent_);
        for (const SideEffect& e : effects_) {
            report_.Line("  and then " + SideEffectLine(e, *before_));
        }
        report_.Line("  frame: " + document_["request"]["frame"].get<std::string>());
        return kExitDone;
    }

    int Send(CtlSession& session) {
        const std::optional<MacBytes> other =
            connection_ ? std::optional<MacBytes>(macs_[1]) : std::nullopt;
        const CarriedOut outcome =
            CarryOut(session, request_, c_.input, macs_[0], other, options_, *before_, report_);
        if (outcome.reply) {
            document_["reply"] = {
                {"class", outcome.reply->messageClass},
                {"code", outcome.reply->code},
                {"text",
                 ReplyLogText(outcome.reply->messageClass, outcome.reply->code).value_or("")}};
        }
        document_["result"] = outcome.result;
        const UnitsView now = After(*before_, outcome.after);
        Units(now);
        if (outcome.status != kExitDone) {
            document_["changed"] = outcome.status == kExitNoAnswer ? Json(nullptr) : Json(false);
            report_.Fail(outcome.status, outcome.message);
            if (!outcome.detail.empty()) {
                report_.Detail(outcome.detail);
            }
            return outcome.status;
        }
        if (report_.Options().terse) {
            Terse("confirmed", true, sent_);
            return kExitDone;
        }
        report_.Line("sent " + intent_);
        report_.Line(document_["reply"]["text"].get<std::string>());
        for (const SideEffect& e : effects_) {
            report_.Line("also: " + SideEffectLine(e, *before_));
        }
        for (const MacBytes& mac : macs_) {
            report_.Line("now: " + now.UnitLine(now.IndexOf(mac)));
        }
        return kExitDone;
    }

    const RunOptions& options_;
    const ChangeCommand& c_;
    Reporter& report_;
    Json& document_;
    const bool connection_;
    std::vector<UnitSelector> selectors_;
    std::vector<MacBytes> macs_;       // the unit (Transmitter), then the Receiver
    std::optional<UnitsView> before_;  // the units as discovered
    PreparedRequest request_;
    std::vector<SideEffect> effects_;
    std::string sent_;    // the value the request carries
    std::string intent_;  // "set-name LOBBY to SPARE1 ..."
};

}  // namespace

int Change(const RunOptions& options, const ChangeCommand& command, Reporter& report) {
    return ChangeRun(options, command, report).Run();
}
