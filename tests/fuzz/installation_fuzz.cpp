// Feeds apply's reading of an installation file, which may come from anywhere, arbitrary bytes:
// the text to JSON (size, nesting, duplicate keys), the installation's fields, and the plan
// against a small venue of units that answered. The JSON must be what nlohmann's own parser
// makes of the same text, and the plan may act only on units that answered.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cli/ctl_install.h"
#include "cli/ctl_install_file.h"
#include "cli/ctl_plan.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

MacBytes Mac(std::uint8_t last) {
    return {0x02, 0x18, 0x00, 0x00, 0x02, last};
}

DeviceRecord Unit(const char* name, std::uint8_t last, std::uint16_t kind, std::uint16_t mode,
                  std::vector<MacBytes> peers = {}) {
    DeviceRecord r;
    std::copy(name, name + std::char_traits<char>::length(name), r.Name.begin());
    r.Ip = {198, 18, 1, last};
    r.Mac = Mac(last);
    r.Kind = kind;
    r.Mode = mode;
    peers.resize(3);
    r.T1Mac = peers[0];
    r.T2Mac = peers[1];
    r.T3Mac = peers[2];
    return r;
}

// The units the fuzzed files are applied to: a multicast Transmitter feeding one Receiver, a
// unicast one with a main and a backup Receiver, and one Receiver nobody feeds. The corpus files
// in corpus/installation use these MACs, so mutations start from files that match the units.
const std::vector<DeviceRecord>& Venue() {
    static const std::vector<DeviceRecord> venue{
        Unit("HALL", 0x11, 1, 0),
        Unit("STAGE", 0x12, 1, 1, {Mac(0x23), Mac(0x24)}),
        Unit("FOYER", 0x21, 0, 0, {Mac(0x11)}),
        Unit("STAGEL", 0x23, 0, 0, {Mac(0x12)}),
        Unit("STAGER", 0x24, 0, 0, {Mac(0x12)}),
        Unit("SPARE", 0x25, 0, 0),
    };
    return venue;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto document = ParseInstallationText(text, error);
    const Json plain = Json::parse(text, nullptr, false);
    if (!document) {
        Require(!error.empty());
        // What nlohmann's parser takes is refused only for a duplicate key or the nesting.
        Require(plain.is_discarded() || error.rfind("not JSON", 0) != 0);
        return 0;
    }
    Require(!plain.is_discarded() && plain == *document);
    const auto installation = ParseInstallation(*document, error);
    if (!installation) {
        Require(!error.empty());
        return 0;
    }
    const Plan plan = ComputePlan(*installation, Venue());
    std::set<MacBytes> answered;
    for (const DeviceRecord& r : Venue()) {
        answered.insert(r.Mac);
    }
    for (const PlanStep& step : plan.steps) {
        Require(answered.count(step.unit) == 1);
        Require(!step.other || answered.count(*step.other) == 1);
    }
    for (const MacBytes& mac : plan.missing) {
        Require(answered.count(mac) == 0 && installation->Find(mac) != nullptr);
    }
    return 0;
}
