#include "cli/ctl_assign_choice.h"

#include <algorithm>
#include <map>
#include <set>

#include "cli/ctl_lookup.h"
#include "cli/ctl_run.h"
#include "cli/ctl_text.h"
#include "protocol/operation_rules.h"
#include "views/labels.h"

namespace {

constexpr char kNumber[] = "{n}";
constexpr char kPaddedNumber[] = "{n:0";
constexpr int kMaxNumberWidth = 16;  // a name's whole length
// Nothing from 224.0.0.0 up is a unit's address (multicast and reserved).
constexpr std::uint32_t kLastUnicast = 0xdfffffff;
constexpr std::uint8_t kLoopbackNet = 127;

// Names are matched as units store them: ASCII letters in upper case.
std::string Folded(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return name;
}

std::string Unit(const DeviceRecord& r) {
    return DisplayText(NameText(r.Name)) + " [" + MacText(r.Mac) + "]";
}

// Refuses the assignment: the status, the sentence and its reasons.
Assignment Refused(int status, std::string error, std::vector<std::string> details = {}) {
    Assignment refused;
    refused.status = status;
    refused.error = std::move(error);
    refused.details = std::move(details);
    return refused;
}

bool Matches(const UnitChoice& c, const DeviceRecord& r) {
    const bool kind =
        (!c.receivers && !c.transmitters) || (IsTransmitter(r) ? c.transmitters : c.receivers);
    const std::string name = Latin1ToUtf8(NameText(r.Name));
    const bool named =
        c.names.empty() || std::any_of(c.names.begin(), c.names.end(), [&](const std::string& n) {
            return EqualsIgnoringAsciiCase(name, n);
        });
    const bool at = c.ips.empty() || std::find(c.ips.begin(), c.ips.end(), r.Ip) != c.ips.end();
    const auto& macs = c.HasCriteria() ? c.macs : c.order;
    const bool listed = macs.empty() || std::find(macs.begin(), macs.end(), r.Mac) != macs.end();
    return kind && named && at && listed;
}

// The units chosen, the order file's first in its order, the rest by MAC; a refusal when a
// MAC given is missing or not chosen, or nothing is.
std::vector<DeviceRecord> Choose(const std::vector<DeviceRecord>& devices, const UnitChoice& c,
                                 Assignment& result) {
    std::map<MacBytes, const DeviceRecord*> byMac;
    for (const DeviceRecord& r : devices) {
        byMac.emplace(r.Mac, &r);
    }
    std::vector<std::string> missing, unchosen;
    for (const auto* list : {&c.macs, &c.order}) {
        for (const MacBytes& mac : *list) {
            const auto it = byMac.find(mac);
            if (it == byMac.end()) {
                missing.push_back("no unit " + MacText(mac) + " answered the discovery");
            } else if (!Matches(c, *it->second)) {
                unchosen.push_back(Unit(*it->second) +
                                   (list == &c.order ? " (" + c.orderFile + ")" : "") +
                                   " is not among the units --receivers, --transmitters and "
                                   "--where choose");
            }
        }
    }
    if (!missing.empty()) {
        result = Refused(kExitNotFound, "units to assign did not answer:", missing);
        return {};
    }
    if (!unchosen.empty()) {
        result = Refused(kExitBadInput, "units given are not chosen:", unchosen);
        return {};
    }
    std::vector<DeviceRecord> chosen;
    std::copy_if(devices.begin(), devices.end(), std::back_inserter(chosen),
                 [&](const DeviceRecord& r) { return Matches(c, r); });
    const auto rank = [&](const DeviceRecord& r) {
        const auto at = std::find(c.order.begin(), c.order.end(), r.Mac);
        return std::pair(at - c.order.begin(), r.Mac);
    };
    std::sort(chosen.begin(), chosen.end(),
              [&](const DeviceRecord& a, const DeviceRecord& b) { return rank(a) < rank(b); });
    if (chosen.empty()) {
        result = Refused(kExitNotFound, "no unit that answered is chosen");
    } else if (!c.order.empty() && chosen.size() > c.order.size()) {
        result.notes.push_back(std::to_string(chosen.size() - c.order.size()) + " units that " +
                               c.orderFile + " does not list come after its units, by MAC");
    }
    return chosen;
}

// The names, or a refusal: one the rule refuses, two alike, or one a unit not being assigned
// has (unless forced).
bool Name(const std::vector<DeviceRecord>& devices, const AssignRequest& request,
          Assignment& result) {
    std::set<std::string> given;
    std::vector<std::string> problems;
    for (std::size_t i = 0; i < result.units.size(); ++i) {
        AssignedUnit& u = result.units[i];
        const std::string typed = request.names->Name(request.first + static_cast<std::int64_t>(i));
        const NameCheck check = CheckDeviceName(typed);
        if (const auto refusal = NameRefusalText(check.verdict)) {
            problems.push_back(Unit(u.before) + ": " + typed + ": " + std::string(*refusal));
            continue;
        }
        u.name = NameText(check.field);
        if (!given.insert(u.name).second) {
            problems.push_back(Unit(u.before) + ": " + u.name + " is given to another unit too");
        }
    }
    std::set<MacBytes> assigned;
    for (const AssignedUnit& u : result.units) {
        assigned.insert(u.before.Mac);
    }
    for (const DeviceRecord& r : devices) {
        const std::string name = Latin1ToUtf8(NameText(r.Name));
        if (!request.force && assigned.count(r.Mac) == 0 && given.count(Folded(name)) != 0) {
            problems.push_back(Unit(r) + " is not being assigned and is named " + name +
                               " already (--force names another unit so too)");
        }
    }
    if (!problems.empty()) {
        result = Refused(kExitBadInput, "the names cannot be given:", problems);
    }
    return problems.empty();
}

// The free addresses of a range from its start upward: usable, not the station's, held by no
// unit that keeps its address.
class AddressPool {
  public:
    AddressPool(std::uint32_t start, std::uint32_t last, const StationSubnet& station,
                std::set<std::uint32_t> held)
        : next_(start),
          last_(std::min(last, kLastUnicast)),
          station_(station),
          held_(std::move(held)) {}

    std::optional<Ipv4Bytes> Next() {
        while (next_ <= last_) {
            const auto v = static_cast<std::uint32_t>(next_++);
            if (v >> 24 == kLoopbackNet) {
                next_ = std::uint64_t{kLoopbackNet + 1} << 24;
                continue;
            }
            const Ipv4Bytes ip = Ipv4FromValue(v);
            if (held_.count(v) == 0 && ip != station_.address &&
                !AddressUnusableBecause(ip, station_)) {
                return ip;
            }
        }
        return std::nullopt;
    }
    void Hold(const Ipv4Bytes& ip) { held_.insert(Ipv4Value(ip)); }

  private:
    std::uint64_t next_;  // past the last address without wrapping
    const std::uint32_t last_;
    const StationSubnet station_;
    std::set<std::uint32_t> held_;
};

// The last address a range may give, or a refusal: without --force it lies in the station's
// subnet, which must be known.
std::optional<std::uint32_t> LastOfRange(const AssignRequest& request, Assignment& result) {
    const AddressRange& range = *request.addresses;
    const auto subnet = StationSubnetSpan(request.station);
    if (request.force) {
        return range.end ? Ipv4Value(*range.end) : kLastUnicast;
    }
    if (!subnet) {
        result = Refused(kExitBadInput,
                         "the adapter's subnet is not known (no netmask): --force takes the "
                         "addresses as given");
        return std::nullopt;
    }
    for (const auto& bound : {std::optional(range.start), range.end}) {
        const std::uint32_t v = bound ? Ipv4Value(*bound) : subnet->first;
        if (v < subnet->first || v > subnet->last) {
            result = Refused(kExitBadInput, Ipv4Text(*bound) + " is outside the station's subnet " +
                                                subnet->text + " (--force allows it)");
            return std::nullopt;
        }
    }
    return range.end ? Ipv4Value(*range.end) : subnet->last;
}

// The addresses and a spare, or a refusal when the range runs out.
void Address(const std::vector<DeviceRecord>& devices, const AssignRequest& request,
             Assignment& result) {
    const auto last = LastOfRange(request, result);
    if (!last) {
        return;
    }
    std::set<MacBytes> assigned;
    for (const AssignedUnit& u : result.units) {
        assigned.insert(u.before.Mac);
    }
    std::set<std::uint32_t> kept;
    for (const DeviceRecord& r : devices) {
        if (assigned.count(r.Mac) == 0) {
            kept.insert(Ipv4Value(r.Ip));
        }
    }
    AddressPool pool(Ipv4Value(request.addresses->start), *last, request.station, kept);
    for (std::size_t i = 0; i < result.units.size(); ++i) {
        const auto ip = pool.Next();
        if (!ip) {
            const AddressRange& range = *request.addresses;
            result = Refused(kExitBadInput,
                             "the addresses run out: " + std::to_string(i) + " of " +
                                 std::to_string(result.units.size()) + " units get one from " +
                                 Ipv4Text(range.start) +
                                 (range.end ? " to " + Ipv4Text(*range.end) : std::string(" on")) +
                                 (range.end || request.force
                                      ? ""
                                      : " in the station's subnet (--force goes on past it)"));
            return;
        }
        result.units[i].ip = *ip;
    }
    // A spare is free of every unit, so that one can step aside while others swap.
    for (const AssignedUnit& u : result.units) {
        pool.Hold(u.before.Ip);
    }
    if (const auto spare = pool.Next()) {
        result.spares.push_back(*spare);
    }
}

}  // namespace

std::string NamePattern::Name(std::int64_t number) const {
    if (!numbered) {
        return prefix;
    }
    std::string digits = std::to_string(number);
    if (static_cast<int>(digits.size()) < width) {
        digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
    }
    return prefix + digits + suffix;
}

std::optional<NamePattern> ParseNamePattern(const std::string& text, std::string& error) {
    constexpr std::size_t kNumberLength = sizeof kNumber - 1;
    constexpr std::size_t kPaddedLength = sizeof kPaddedNumber - 1;
    NamePattern pattern;
    std::size_t end = std::string::npos;  // just past the placeholder
    const std::size_t at = text.find('{');
    const std::size_t close = text.find('}', at == std::string::npos ? text.size() : at);
    if (at != std::string::npos && text.compare(at, kNumberLength, kNumber) == 0) {
        end = at + kNumberLength;
    } else if (at != std::string::npos && close != std::string::npos &&
               text.compare(at, kPaddedLength, kPaddedNumber) == 0) {
        const std::string width = text.substr(at + kPaddedLength, close - at - kPaddedLength);
        const bool digits =
            !width.empty() && width.size() <= 2 &&
            std::all_of(width.begin(), width.end(), [](char c) { return c >= '0' && c <= '9'; });
        pattern.width = digits ? std::stoi(width) : 0;
        end = digits ? close + 1 : end;
    }
    pattern.numbered = end != std::string::npos;
    pattern.prefix = text.substr(0, pattern.numbered ? at : text.size());
    pattern.suffix = pattern.numbered ? text.substr(end) : std::string();
    const auto brace = [](const std::string& part) {
        return part.find_first_of("{}") != std::string::npos;
    };
    if (brace(pattern.prefix) || brace(pattern.suffix) || pattern.width > kMaxNumberWidth) {
        error = "the name pattern '" + text +
                "' may hold one {n}, or {n:0W} for the number in W digits, and no other braces";
        return std::nullopt;
    }
    return pattern;
}

std::optional<AddressRange> ParseAddressRange(const std::string& text, std::string& error) {
    const std::size_t dash = text.find('-');
    const std::string start = text.substr(0, dash);
    const std::string end = dash == std::string::npos ? std::string() : text.substr(dash + 1);
    AddressRange range;
    const auto first = ParseAcceptedIpText(start);
    const auto last = dash == std::string::npos ? first : ParseAcceptedIpText(end);
    if (!first || !last) {
        error = "--addresses takes START or START-END, each four decimal fields 0-255, not '" +
                text + "'";
        return std::nullopt;
    }
    if (Ipv4Value(*last) < Ipv4Value(*first)) {
        error = "--addresses " + text + ": the end is below the start";
        return std::nullopt;
    }
    range.start = *first;
    if (dash != std::string::npos) {
        range.end = last;
    }
    return range;
}

bool UnitChoice::HasCriteria() const {
    return receivers || transmitters || !names.empty() || !ips.empty() || !macs.empty();
}

bool AddWhere(const std::string& text, UnitChoice& choice, std::string& error) {
    const std::size_t equals = text.find('=');
    const std::string key = text.substr(0, equals);
    const std::string value = equals == std::string::npos ? std::string() : text.substr(equals + 1);
    if (key == "name" && !value.empty()) {
        choice.names.push_back(value);
        return true;
    }
    if (const auto ip = ParseAcceptedIpText(value); key == "ip" && ip) {
        choice.ips.push_back(*ip);
        return true;
    }
    error = "--where takes name=NAME or ip=A.B.C.D, not '" + text + "'";
    return false;
}

std::optional<std::vector<MacBytes>> ReadMacOrder(std::istream& in, std::string& error) {
    std::string text(kMaxOrderFileBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxOrderFileBytes || in.bad()) {
        error = in.bad() ? "cannot be read" : "larger than 1 MiB: not a list of MAC addresses";
        return std::nullopt;
    }
    std::vector<MacBytes> macs;
    std::set<MacBytes> seen;
    std::size_t number = 0;
    for (std::size_t at = 0; at < text.size(); ++number) {
        const std::size_t eol = std::min(text.find('\n', at), text.size());
        std::string line = text.substr(at, eol - at);
        at = eol + 1;
        line = line.substr(0, line.find('#'));
        const std::size_t from = line.find_first_not_of(" \t\r");
        if (from == std::string::npos) {
            continue;
        }
        line = line.substr(from, line.find_last_not_of(" \t\r") + 1 - from);
        const auto mac = ParseMacSpelling(line);
        const std::string where = "line " + std::to_string(number + 1) + ": ";
        if (!mac) {
            error = where + "'" + line + "' is not a MAC address";
            return std::nullopt;
        }
        if (!seen.insert(*mac).second) {
            error = where + MacText(*mac) + " is listed twice";
            return std::nullopt;
        }
        macs.push_back(*mac);
    }
    return macs;
}

Assignment ComputeAssignment(const std::vector<DeviceRecord>& devices,
                             const AssignRequest& request) {
    Assignment result;
    if (!request.choice.HasCriteria() && request.choice.order.empty()) {
        return Refused(kExitBadInput, kNoChoiceText);
    }
    const std::vector<DeviceRecord> chosen = Choose(devices, request.choice, result);
    if (result.status != 0) {
        return result;
    }
    for (const DeviceRecord& r : chosen) {
        result.units.push_back({r, Latin1ToUtf8(NameText(r.Name)), r.Ip});
    }
    if (request.names && !Name(devices, request, result)) {
        return result;
    }
    if (request.addresses) {
        Address(devices, request, result);
    }
    return result;
}
